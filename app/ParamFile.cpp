#include "ParamFile.h"

#include <QFile>
#include <QSaveFile>
#include <QTableWidget>
#include <QTextStream>

bool ParamFile::Content::Find(const QString& key, QString& value) const {
  for (const QStringList& entry : header) {
    if (entry.first() == key) {
      value = entry[1];
      return true;
    }
  }
  return false;
}

bool ParamFile::Write(const QString& path, const Settings& settings,
                      const std::vector<const QTableWidget*>& tables) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  QTextStream out(&file);  // the locale codec
  out << "HandEyeType:" << settings.handEyeType << "\n";
  out << "RobotType:" << settings.robotType << "\n";
  out << "IsMeter:" << (settings.isMeter ? 1 : 0) << "\n";
  out << "IsRadian:" << (settings.isRadian ? 1 : 0) << "\n";
  out << "Exhaust:" << (settings.exhaust ? 1 : 0) << "\n";
  out << "RansacDist:" << settings.ransacDist << "\n";
  out << "MarkerType:" << settings.markerType << "\n";
  out << "END:" << "\n";
  for (const QTableWidget* table : tables) {
    for (int c = 0; c < table->columnCount(); ++c) {
      const QTableWidgetItem* header = table->horizontalHeaderItem(c);
      out << (header ? header->text() : QString()) << ",";
    }
    out << "\n";
    for (int r = 0; r < table->rowCount(); ++r) {
      for (int c = 0; c < table->columnCount(); ++c) {
        const QTableWidgetItem* item = table->item(r, c);
        out << (item ? item->text() : QString()) << ",";
      }
      out << "\n";
    }
    out << "\n";
  }
  out.flush();
  if (out.status() != QTextStream::Ok) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

bool ParamFile::Read(const QString& path, Content& content) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  QTextStream in(&file);  // the locale codec
  QStringList lines;
  while (!in.atEnd()) {
    const QString line = in.readLine();
    if (!line.isEmpty()) lines << line;
  }
  if (in.status() != QTextStream::Ok || lines.size() < 5) return false;

  content = Content{};
  int next = 0;
  bool ended = false;
  while (next < lines.size() && !ended) {
    const QStringList parts = lines[next++].split(":");
    if (parts.size() < 2) return false;
    content.header << parts;
    ended = parts.first() == "END";
  }
  if (!ended) return false;
  content.tableHeader = lines.value(next);
  content.rows = lines.mid(next + 1);  // the first table's header line is not a row
  return true;
}
