#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

class QTableWidget;

/// The parameter and result file: a settings block ("Key:value" lines ending with "END:"), then tables,
/// each as a header line, one line per row and an empty line; every cell followed by ",". Text in the
/// locale codec, lines ending in a line feed.
class ParamFile {
 public:
  struct Settings {
    int handEyeType = 0;  ///< 0 eye-in-hand, 1 eye-to-hand
    QString robotType;    ///< the robot type's catalogue text
    bool isMeter = false;
    bool isRadian = false;
    bool exhaust = false;
    double ransacDist = 0.0;
    QString markerType;   ///< how the markers are found: "同心圆" or "同心圆(平面拟合)"
  };

  /// What a read found: the settings entries (each "Key:value" line split at ":", up to "END"), and the
  /// lines after the first table's header, blank lines left out.
  struct Content {
    QList<QStringList> header;
    QString tableHeader;  ///< the first table's header line; empty when the file has no table
    QStringList rows;
    /// The value of the first entry named `key`; false when there is none.
    bool Find(const QString& key, QString& value) const;
  };

  /// Writes the settings and `tables` to a temporary file renamed over `path` when complete, so a failed
  /// write leaves an earlier file whole. False when the file could not be written.
  static bool Write(const QString& path, const Settings& settings, const std::vector<const QTableWidget*>& tables);
  /// False when the file cannot be read, has fewer than 5 non-blank lines, a settings line without ":",
  /// or no "END" entry.
  static bool Read(const QString& path, Content& content);
};
