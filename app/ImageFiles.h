// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

/// The image sets of tab "采集": which files of a folder are shots, and their order. A shot's name ends in
/// "_<number>.<extension>"; the text after the last underscore is its pose key (so "1" and "01" differ),
/// and the lists of 2D images and point clouds are ordered by its value, entry i of each belonging to
/// pose i.
class ImageFiles {
 public:
  /// Asked when two files carry the same key: keep `newName` instead of `heldName`?
  using ReplaceQuestion = std::function<bool(const QString& newName, const QString& heldName)>;

  /// Readable files of `folder` named "*.<extension>" (the extension in any case), sorted by name.
  static QStringList List(const QString& folder, const QString& extension);
  /// The names of `entries` that follow the naming rule with `extension` (written in that case), one per
  /// key, in key order.
  static QStringList Collect(const QStringList& entries, const QString& extension, const ReplaceQuestion& replace);
  /// Sorts by the number before the extension, keeping the order of equal numbers. False when a name has
  /// no such number (it then sorts as 0).
  static bool Sort(QStringList& names);
};
