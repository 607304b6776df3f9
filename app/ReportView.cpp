// SPDX-License-Identifier: Apache-2.0
#include "MainWindow.h"

#include "WindowParts.h"
#include "ui_MainWindow.h"

#include <QCheckBox>

#include <cmath>

// The calibration report on the result tab: the convention found, the ± figures, the "诊断" box, and the
// residual rows of suspect poses.

using namespace WindowParts;

namespace {

const QColor kSuspect(160, 0, 0);

QString Axes(const std::array<double, 3>& axes, int digits) {
  return QString("X %1，Y %2，Z %3").arg(Fixed(axes[0], digits), Fixed(axes[1], digits), Fixed(axes[2], digits));
}

// The next poses, each as the numbers to type into the controller and the σ it leads to.
QString SuggestionText(const TamoHandEye::PoseSuggestions& s, const QString& columns) {
  QString text = QString("\n\n建议的下一个位姿（%1；最优在前，每个 σ 已计入其上方的位姿）：").arg(columns);
  for (std::size_t i = 0; i < s.suggestions.size(); ++i) {
    const TamoHandEye::PoseSuggestion& p = s.suggestions[i];
    QStringList values;
    for (const double v : p.row) values << Fixed(v, p.row.size() == 7 ? 6 : 3);
    text += QString("\n%1. %2  → 相机平移 ±%3 mm").arg(i + 1).arg(values.join(", "), Fixed(p.sigmaMmAfter, 3));
  }
  return text + QString("\n当前相机平移 ±%1 mm。拍摄一个建议的位姿，加入表格后重新计算，建议会随之更新。")
                    .arg(Fixed(s.sigmaMm, 3));
}

// Whether the result meets the tolerance asked for.
QString ToleranceText(const TamoHandEye::CalibrationReport& report) {
  const TamoHandEye::Uncertainty& u = report.uncertainty;
  const QString asked =
      QString("要求精度 %1 mm、%2°（1σ）").arg(Fixed(report.toleranceMm, 3), Fixed(report.toleranceDeg, 3));
  if (!u.known) return asked + "：无法判断（不确定度未知）。\n";
  return asked + (report.meetsTolerance ? "：满足" : "：不满足") +
         QString("（平移 ±%1 mm，旋转 ±%2°）。\n").arg(Fixed(u.translationNormMm, 3), Fixed(u.rotationDeg, 4));
}

// Which model solved: the marker points alone, or with each shot's board normal.
QString ModelText(const TamoHandEye::CalibrationReport& report) {
  if (report.model == "point") return "求解模型：仅标记点。\n";
  if (report.model == "point+rotation") {
    return QString("求解模型：标记点 + 标记位姿旋转（%1/%2 个位姿含旋转，旋转残差均方根 %3°）。\n")
        .arg(report.shotsWithNormal)
        .arg(report.poseSet.poses)
        .arg(Fixed(report.board.residualRmsDeg, 4));
  }
  return QString("求解模型：标记点 + 标定板法向（%1/%2 个位姿含法向，法向残差均方根 %3°，标定板法向 ±%4°）。\n")
      .arg(report.shotsWithNormal)
      .arg(report.poseSet.poses)
      .arg(Fixed(report.board.residualRmsDeg, 4), Fixed(report.board.normalSigmaDeg, 4));
}

// The poses the search dropped, each with why.
QString DroppedText(const TamoHandEye::CalibrationReport& report) {
  if (report.searchDistanceMm <= 0.0) return {};
  QString text = QString("位姿筛选距离 %1 mm%2，剔除 %3 个位姿。\n")
                     .arg(Fixed(report.searchDistanceMm, 3))
                     .arg(report.searchDistanceFromData ? "（按数据自身噪声确定）" : "")
                     .arg(report.dropped.size());
  if (report.searchFellBack) text += "与最佳样本一致的位姿无法求解，筛选从该样本本身开始。\n";
  for (const TamoHandEye::DroppedPose& d : report.dropped) {
    text += QString("  第 %1 个位姿：%2\n").arg(d.pose + 1).arg(QString::fromStdString(d.reasonZh));
  }
  return text;
}

QString DiagnosisText(const TamoHandEye::CalibrationReport& report, bool centroids) {
  const TamoHandEye::PoseSetCheck& set = report.poseSet;
  QString text = QString("使用位姿 %1 个，最大相对旋转 %2°，旋转轴分布 %3（0 为共面，0.333 为均匀）。\n")
                     .arg(set.poses)
                     .arg(Fixed(set.largestRotationDeg, 1), Fixed(set.axisSpread, 3));
  text += ModelText(report) + ToleranceText(report) + DroppedText(report);
  if (centroids) {
    text +=
        "注意：标记中心取自各圆环质心（“同心圆”），在透视下有偏差（通常 0.5–2 mm），上述 σ 不包含该偏差；"
        "选择“同心圆(平面拟合)”并重新计算标记位置可消除。\n";
  }
  if (report.warnings.empty()) return text + "无警告。";
  for (const TamoHandEye::ReportWarning& w : report.warnings) {
    text += "\n• " + QString::fromStdString(w.messageZh);
    if (!w.fixZh.empty()) text += "\n  解决方法：" + QString::fromStdString(w.fixZh);
  }
  return text;
}

}  // namespace

void MainWindow::ShowReport(const FinalResult& result) {
  QTableWidget* table = ui->TableWidgetResidual;
  for (int i = 0; i < table->rowCount(); ++i) {
    for (int c = 1; c <= 4; ++c) {
      if (QTableWidgetItem* item = table->item(i, c)) {
        QFont font = item->font();
        font.setBold(false);
        item->setFont(font);
        item->setData(Qt::ForegroundRole, QVariant());
        item->setToolTip(QString());
      }
    }
  }
  // The report belongs to the result only when it came with it.
  const TamoHandEye::CalibrationReport& report = lastReport;
  const bool mine = !report.result.residuals.empty() && report.result.cameraMatrix == result.cameraMatrix &&
                    report.result.residuals.size() == lastReportRows.size();
  ui->LabelConvention->setVisible(mine && lastReportGeneric);
  if (!mine) {
    ui->LabelCameraUncertainty->clear();
    ui->LabelMarkerUncertainty->clear();
    ui->TextDiagnosis->clear();
    return;
  }
  QString convention = "旋转约定：" + QString::fromStdString(report.convention);
  if (!report.runnerUp.empty()) {
    convention += QString("（次优 %1，均方根误差 %2 mm）")
                      .arg(QString::fromStdString(report.runnerUp), Fixed(report.runnerUpRmsMm, 3));
  }
  ui->LabelConvention->setText(convention);
  const TamoHandEye::Uncertainty& u = report.uncertainty;
  if (u.known) {
    ui->LabelCameraUncertainty->setText(
        QString("不确定度（1σ）：平移 ±%1 mm（%2），旋转 ±%3°")
            .arg(Fixed(u.translationNormMm, 3), Axes(u.translationMm, 3), Fixed(u.rotationDeg, 4)));
    ui->LabelMarkerUncertainty->setText(
        QString("不确定度（1σ）：±%1 mm（%2）").arg(Fixed(u.markerNormMm, 3), Axes(u.markerMm, 3)));
  } else {
    ui->LabelCameraUncertainty->setText("不确定度：位姿太少，无法估计");
    ui->LabelMarkerUncertainty->clear();
  }
  QString diagnosis = DiagnosisText(report, lastReportCentroids);
  if (!lastSuggestions.suggestions.empty()) diagnosis += SuggestionText(lastSuggestions, lastSuggestionColumns);
  ui->TextDiagnosis->setPlainText(diagnosis);
  for (const TamoHandEye::ReportWarning& w : report.warnings) {
    if (w.code != "suspect-pose" || w.pose < 0 || w.pose >= static_cast<int>(lastReportRows.size())) continue;
    const int row = At(lastReportRows, w.pose);
    for (int c = 1; c <= 4; ++c) {
      if (QTableWidgetItem* item = table->item(row, c)) {
        QFont font = item->font();
        font.setBold(true);
        item->setFont(font);
        item->setForeground(kSuspect);
        item->setToolTip(QString::fromStdString(w.messageZh));
      }
    }
  }
}
