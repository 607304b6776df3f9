// SPDX-License-Identifier: Apache-2.0
#include "MainWindow.h"

#include "Dialogs.h"
#include "WindowParts.h"
#include "ui_MainWindow.h"

#include "RobotTypes.h"
#include "Verification.h"

#include <tarn/CalibrationCheck.h>
#include <tarn/ErrorCode.h>

#include <QApplication>

#include <cmath>

// "验证": the table's shots checked against a calibration without changing it.

using namespace WindowParts;

namespace {

// Each shot's distance by table row, the RMS and maximum against the limit, the displacement and the verdict.
QString CheckText(const TamoHandEye::CalibrationCheck& check) {
  QStringList lines;
  for (std::size_t i = 0; i < check.shots.size(); ++i) {
    lines << QString("第%1行: %2 mm").arg(i + 1).arg(Fixed(check.shots[i].residualMm, 3));
  }
  if (check.powerKnown) {
    lines << QString("RMS %1 mm, 最大 %2 mm (与标定结果的预测比较, 已计入其自身不确定度)")
                 .arg(Fixed(check.rmsMm, 3), Fixed(check.maxMm, 3));
  } else {
    lines << QString("RMS %1 mm, 最大 %2 mm, 限值 %3 mm%4")
                 .arg(Fixed(check.rmsMm, 3), Fixed(check.maxMm, 3), Fixed(check.limitMm, 3),
                      check.limitFromCalibration ? "(由标定结果的残差和不确定度得出)" : "(默认)");
  }
  if (check.shotsWithNormal > 0) {
    lines << QString("其中 %1 组带标定板法向, 与标定结果的法向相差 %2° (RMS), 已一并判断")
                 .arg(check.shotsWithNormal)
                 .arg(Fixed(check.normalRmsDeg, 4));
  }
  if (check.displacementKnown) {
    lines << QString("相机位移: %1 mm, 转动 %2°")
                 .arg(Fixed(check.displacementNormMm, 2), Fixed(check.displacementRotationDeg, 3));
  }
  if (check.powerKnown) {
    // Too few shots, or shots on one line of sight, see no turn at all.
    const QString sees = std::isfinite(check.detectableTurnDeg)
                             ? QString("大于 %1 mm / %2° 的移动")
                                   .arg(Fixed(check.detectableShiftMm, 2), Fixed(check.detectableTurnDeg, 3))
                             : QString("大于 %1 mm 的平移, 无法发现转动").arg(Fixed(check.detectableShiftMm, 2));
    const bool enough = check.detectableShiftMm <= check.toleranceMm && check.detectableTurnDeg <= check.toleranceDeg;
    QString power = QString("这 %1 组数据%2发现%3 (要求 %4 mm, %5°)")
                        .arg(check.shots.size())
                        .arg(enough ? "能" : "只能")
                        .arg(sees, Fixed(check.toleranceMm, 3), Fixed(check.toleranceDeg, 3));
    if (check.moreShots > 0) {
      power += QString("; 再采集约 %1 组同样的数据可发现 %2 mm 的平移")
                   .arg(check.moreShots)
                   .arg(Fixed(check.toleranceMm, 3));
    } else if (check.moreShots < 0) {
      power += QString("; 标定结果本身不确定度过大, 再多数据也无法发现 %1 mm 的平移, 请用更多位姿重新标定")
                   .arg(Fixed(check.toleranceMm, 3));
    }
    lines << power;
  } else {
    lines << "结果文件不含协方差, 按 RMS 限值判断 (无法得知这些数据能发现多大的移动)";
  }
  switch (check.verdict) {
    case TamoHandEye::CheckVerdict::Drift:
      lines << "结论: 漂移 — 标定结果已不能预测标记位置, 请检查相机安装和工具后重新标定";
      break;
    case TamoHandEye::CheckVerdict::Inconclusive:
      lines << "结论: 无法判断 — 未发现移动, 但这些数据发现不了要求大小的移动; 请增加数据或放宽要求";
      break;
    case TamoHandEye::CheckVerdict::Ok: lines << "结论: 通过 — 标定结果仍然有效"; break;
  }
  return lines.join("\n");
}

}  // namespace

bool MainWindow::CalibrationToVerify(const TarnWorkflow::RobotType& type, const TamoHandEye::AlgoParam& settings,
                                     TarnWorkflow::SavedResult& saved) {
  if (lastRobotIndex >= 0) {
    if (lastRobotIndex != type.index || lastSettings.HandEyeType != settings.HandEyeType) {
      dialogs->Warning(this, "验证失败", "机器人类型或手眼类型与上次计算时不同, 请改回后再验证!", Dialogs::Button::Ok);
      return false;
    }
    TamoHandEye::SavedCalibration& c = saved.calibration;
    c.cameraMatrix = lastResult.cameraMatrix;
    c.markerPosition = lastResult.markerPosition;
    c.rmsErrorMm = lastResult.rmsError;
    if (ResultIsReported()) {  // what the report says belongs to this result
      if (lastReportGeneric) c.convention = lastReport.convention;
      c.leaveOneOutMm = lastReport.leaveOneOutMm;
      c.uncertainty = lastReport.uncertainty;
      c.covariance = lastReport.covariance;
      c.model = lastReport.model;
      c.board = lastReport.board;
    }
    saved.meter = lastSettings.IsMeter;
  } else {
    const QString path = dialogs->OpenFile(this, "选择标定结果文件", "Result Files (*.csv *.json)");
    if (path.isEmpty()) return false;
    std::string why;
    if (!TarnWorkflow::ReadSavedResult(LocalPath(path), saved, why)) {
      dialogs->Warning(this, "验证失败", "文件不是标定结果文件: " + QString::fromStdString(why), Dialogs::Button::Ok);
      return false;
    }
    if ((!saved.robot.empty() && saved.robot != type.name) ||
        (saved.eyeToHand && *saved.eyeToHand != (settings.HandEyeType == 1))) {
      dialogs->Warning(this, "验证失败", "结果文件的机器人类型或手眼类型与当前选择不同!", Dialogs::Button::Ok);
      return false;
    }
  }
  TarnWorkflow::ToUnitOfRows(saved, type.meterChoice, settings.IsMeter);
  return true;
}

void MainWindow::Verify() {
  std::vector<TamoHandEye::MarkerBoardResult> markers;
  std::vector<std::vector<double>> robotRows;
  if (!ReadParamTable("验证失败", true, markers, robotRows)) return;
  const TarnWorkflow::RobotType* type = TarnWorkflow::RobotTypeAt(ui->RobotSelect->currentIndex());
  if (type == nullptr) {
    emit error("不存在的机器人类型!");
    return;
  }
  if (const auto unusable = TarnWorkflow::FindUnusableRow(*type, robotRows)) {
    dialogs->Warning(this, "验证失败", QString::fromStdString(unusable->MessageZh()) + "!", Dialogs::Button::Ok);
    return;
  }
  const TamoHandEye::AlgoParam settings = Settings(false);
  TarnWorkflow::SavedResult saved;
  if (!CalibrationToVerify(*type, settings, saved)) return;

  QApplication::setOverrideCursor(Qt::WaitCursor);
  TamoHandEye::CalibrationCheck check;
  TamoHandEye::CheckOptions options;
  options.toleranceMm = ui->DSpinBoxToleranceMm->value();
  options.toleranceDeg = ui->DSpinBoxToleranceDeg->value();
  const TamoHandEye::ErrorCode code = TamoHandEye::CheckCalibration(
      markers, RowPlanes({}, markers.size()), robotRows, settings, type->kind, saved.calibration, options, check);
  QApplication::restoreOverrideCursor();
  if (code != TamoHandEye::Success) {
    QString text = QString("验证出错, 错误信息:%1").arg(QString::fromUtf8(TamoHandEye::parseCode(code)));
    if (!check.failure.empty()) text += "\n" + QString::fromStdString(check.failure);
    dialogs->Warning(this, "验证失败", text, Dialogs::Button::Ok);
    return;
  }
  if (check.drift) {
    dialogs->Warning(this, "验证结果", CheckText(check), Dialogs::Button::Ok);
  } else {
    dialogs->Information(this, "验证结果", CheckText(check), Dialogs::Button::Ok);
  }
}
