// SPDX-License-Identifier: Apache-2.0
#pragma once

// Small helpers shared by the main window's source files (collection, parameter table, calculation and
// results, files).

#include <QColor>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTextCodec>

#include <cstddef>
#include <string>
#include <vector>

class QTableWidget;
class QTableWidgetItem;

namespace TamoHandEye {
struct ShotPlane;
}

namespace WindowParts {

/// Keeps a shot's board plane on its row's first marker cell, with the three marker texts it was found with.
void SetRowPlane(QTableWidgetItem& item, const TamoHandEye::ShotPlane& plane, const QStringList& texts);
/// The plane kept on that cell when `texts` (the row's marker cells now) are still those it was found with.
bool RowPlaneOf(const QTableWidgetItem* item, const QStringList& texts, TamoHandEye::ShotPlane& plane);

constexpr int kMarkerPasteColumn = 3;
constexpr int kFirstRobotColumn = 4;
/// The most rows the parameter table takes from a file (each row carries its own buttons; a calibration
/// uses tens of poses).
constexpr int kMostTableRows = 2000;

/// Element `i` of a standard container indexed by a Qt row or column number.
template <class Container>
auto& At(Container& container, int i) {
  return container[static_cast<std::size_t>(i)];
}

inline QString Number(double value, int precision) { return QString::number(value, 'g', precision); }
/// Fixed-point with `decimals` decimals.
inline QString Fixed(double value, int decimals) { return QString::number(value, 'f', decimals); }

/// A path as the window's own files are opened with it: the locale codec's 8-bit text.
inline std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

/// A path as the library opens it: the operating system's local 8-bit text.
inline std::string LibraryPath(const QString& path) {
  if (QTextCodec* system = QTextCodec::codecForName("system")) return system->fromUnicode(path).toStdString();
  return path.toUtf8().toStdString();
}

inline QStringList ToQt(const std::vector<std::string>& texts) {
  QStringList list;
  for (const std::string& t : texts) list << QString::fromStdString(t);
  return list;
}

/// Gives a result table its headers and row count, columns stretched.
void SetResultTable(QTableWidget* table, const QStringList& headers, int rows);

}  // namespace WindowParts
