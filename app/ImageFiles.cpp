#include "ImageFiles.h"

#include <QDir>
#include <QMap>
#include <QRegExp>

#include <algorithm>
#include <utility>
#include <vector>

QStringList ImageFiles::List(const QString& folder, const QString& extension) {
  return QDir(folder).entryList({"*." + extension}, QDir::Files | QDir::Readable, QDir::Name);
}

QStringList ImageFiles::Collect(const QStringList& entries, const QString& extension,
                                const ReplaceQuestion& replace) {
  QStringList names;
  QMap<QString, QString> byKey;
  for (const QString& entry : entries) {
    QString base = entry;
    base.remove("." + extension, Qt::CaseSensitive);
    const QStringList parts = base.split("_");
    bool isNumber = false;
    if (parts.isEmpty()) continue;
    const QString key = parts.last();
    key.toDouble(&isNumber);
    if (!isNumber) continue;
    const QString name = base + "." + extension;
    const auto held = byKey.find(key);
    if (held == byKey.end()) {
      byKey.insert(key, name);
      names << name;
    } else if (replace(name, held.value())) {
      names.removeOne(held.value());
      names << name;
      held.value() = name;
    }
  }
  Sort(names);
  return names;
}

bool ImageFiles::Sort(QStringList& names) {
  // The digits right before the extension, all of them: "shot_12.png" sorts as 12.
  QRegExp number(".*\\D*(\\d+)\\.(jpg|JPG|png|PNG|bmp|BMP|ply|PLY)");
  bool allMatched = true;
  std::vector<std::pair<int, QString>> keyed;
  for (const QString& name : names) {
    int key = 0;
    if (number.indexIn(name) != -1) {
      key = number.cap(1).toInt();
    } else {
      allMatched = false;
    }
    keyed.emplace_back(key, name);
  }
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  names.clear();
  for (const auto& entry : keyed) names << entry.second;
  return allMatched;
}
