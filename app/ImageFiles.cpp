// SPDX-License-Identifier: Apache-2.0
#include "ImageFiles.h"

#include "ShotNames.h"

#include <QDir>

QStringList ImageFiles::List(const QString& folder, const QString& extension) {
  return QDir(folder).entryList({"*." + extension}, QDir::Files | QDir::Readable, QDir::Name);
}

QStringList ImageFiles::Collect(const QStringList& entries, const QString& extension, const ReplaceQuestion& replace) {
  std::vector<std::string> names;
  for (const QString& entry : entries) names.push_back(entry.toStdString());
  const auto ask = [&replace](const std::string& name, const std::string& held) {
    return replace(QString::fromStdString(name), QString::fromStdString(held));
  };
  QStringList collected;
  for (const TarnWorkflow::ShotName& shot : TarnWorkflow::CollectShotNames(names, extension.toStdString(), ask)) {
    collected << QString::fromStdString(shot.name);
  }
  return collected;
}

bool ImageFiles::Sort(QStringList& names) {
  std::vector<std::string> sorted;
  for (const QString& name : names) sorted.push_back(name.toStdString());
  const bool allMatched = TarnWorkflow::SortShotNames(sorted);
  names.clear();
  for (const std::string& name : sorted) names << QString::fromStdString(name);
  return allMatched;
}
