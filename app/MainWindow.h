#pragma once

#include <tarn/FinalResult.h>
#include <tarn/MarkerBoardResult.h>

#include <QMainWindow>
#include <QMap>
#include <QStringList>

#include <memory>
#include <vector>

namespace Ui {
class MainWindow;
}

class Dialogs;

/// The operator's window: tab "采集" collects image sets and robot poses, "计算" shows the residuals,
/// "结果" the solved poses.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  /// `dialogs`: where every dialog goes (the real boxes and pickers when empty).
  explicit MainWindow(QWidget* parent = nullptr, std::shared_ptr<Dialogs> dialogs = nullptr);
  ~MainWindow() override;

  /// The eight robot type texts, in the order of the robot type list.
  static const QStringList& RobotTypeTexts();

 signals:
  void info(QString mes);
  void warn(QString mes);
  void error(QString mes);

 public slots:
  void slotRobotChanged(int index);
  void slotBruteForceCheckbox(bool on);

 private:
  friend class MainWindowTest;

  /// The column headers of the parameter table for the current robot type.
  QStringList RobotHeaders() const;
  /// Shows and sets the unit check boxes as the robot type requires.
  void ApplyUnitBoxes(int index);
  /// Opens `folder` in the desktop's file browser.
  void OpenFolder(const QString& folder, bool sdk);

  QString folder2D;
  QString folder3D;
  QStringList files2D;
  QStringList files3D;
  std::vector<TamoHandEye::MarkerBoardResult> markerResults;
  TamoHandEye::FinalResult lastResult{};
  std::unique_ptr<Ui::MainWindow> ui;
  QMap<QString, int> robotTypeMap;
  int previousRobotIndex = 0;
  std::shared_ptr<Dialogs> dialogs;
};
