// SPDX-License-Identifier: Apache-2.0
#include "MainWindow.h"

#include "Dialogs.h"
#include "ImageFiles.h"
#include "MarkerBatchJob.h"
#include "WindowParts.h"
#include "ui_MainWindow.h"

#include <tarn/ErrorCode.h>

#include <QFile>
#include <QPainter>

#include <cmath>
#include <limits>

// Collection: the image folders and their lists, the image shown, and the marker batch.

using namespace WindowParts;

ImageFiles::ReplaceQuestion MainWindow::AskReplace() {
  return [this](const QString& name, const QString& held) {
    return dialogs->OkCancel("提示", QString("检测到有相同尾号的图片[%1],是否将当前图片[%2]替换").arg(name, held));
  };
}

void MainWindow::slotSelectImagePath2DBtn() { slotRefreshImage2DList(dialogs->Folder(this, "选择2D图片目录")); }

void MainWindow::slotRefreshImage2DList(QString dir) {
  if (dir.isEmpty()) return;
  const QString extension = ui->ImageFormatSelect->currentText();
  const QStringList entries = ImageFiles::List(dir, extension);
  folder2D = dir;
  ui->ImagePath2DEdit->setText(dir);
  ui->Image2DDisplay->clear();
  ui->display->setImage(QImage());
  // A folder without usable files leaves no names of the previous folder behind.
  files2D.clear();
  if (entries.isEmpty()) return;
  files2D = ImageFiles::Collect(entries, extension, AskReplace());
  ui->Image2DDisplay->addItems(files2D);
}

void MainWindow::slotImageFormatChanged(int index) {
  static const char* const kHints[] = {"命名规范:xxx_0.png xxx_1.png", "命名规范:xxx_0.jpg xxx_1.jpg",
                                       "命名规范:xxx_0.bmp xxx_1.bmp"};
  if (index >= 0 && index < 3) ui->ImagePath2DEdit->setPlaceholderText(kHints[index]);
  slotRefreshImage2DList(folder2D);
}

void MainWindow::slotSelectImagePath3DBtn() {
  const QString dir = dialogs->Folder(this, "选择3D图片目录");
  if (dir.isEmpty()) return;
  const QStringList entries = ImageFiles::List(dir, "ply");
  if (entries.isEmpty()) {
    dialogs->Warning(this, "警告", "文件读取失败，没有找到图片，请检查图片命名是否正确.", Dialogs::Button::Ok);
    return;
  }
  files3D = ImageFiles::Collect(entries, "ply", AskReplace());
  ui->Image3DDisplay->clear();
  ui->Image3DDisplay->addItems(files3D);
  folder3D = dir;
  ui->ImagePath3DEdit->setText(dir);
}

void MainWindow::ShowImageItem(QListWidgetItem* item) {
  if (!item || folder2D.isEmpty()) return;
  const QVariant cached = item->data(Qt::UserRole);
  if (cached.userType() == QMetaType::QImage) {
    ui->display->setImage(cached.value<QImage>());
    return;
  }
  const QImage image(folder2D + "/" + item->text());
  item->setData(Qt::UserRole, image);
  ui->display->setImage(image);
}

void MainWindow::StartMarkerComputation() {
  if (files2D.isEmpty() || files3D.isEmpty()) {
    dialogs->Information(this, "提示", "请先选择需要计算标记位置的图片数据");
    return;
  }
  QTableWidget* table = ui->ParamList;
  if (table->rowCount() > 0 && table->item(0, 0) != nullptr &&
      !dialogs->Confirm(this, "此操作将会覆盖参数列表的部分数据")) {
    return;
  }
  ComputeMarkers(QStringList(files2D), QStringList(files3D));
}

namespace {

// The message of a detection's code; when one of the shot's files could not be used, which one and why.
QString DetectionFailure(const TarnWorkflow::ShotDetection& detection, const QString& image, const QString& cloud) {
  const QString message = QString::fromUtf8(TamoHandEye::parseCode(detection.code));
  const QString reason = QString::fromUtf8(detection.problem.reason.c_str());
  switch (detection.problem.file) {
    case TamoHandEye::ShotFileProblem::Image: return QString("无法读取2D图片%1: %2").arg(image, reason);
    case TamoHandEye::ShotFileProblem::PointCloud: return QString("%1 (%2: %3)").arg(message, cloud, reason);
    case TamoHandEye::ShotFileProblem::None: break;
  }
  return message;
}

TamoHandEye::MarkerBoardResult NoMarker() {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  TamoHandEye::MarkerBoardResult record;
  record.x = record.y = record.z = record.u = record.v = nan;
  return record;
}

}  // namespace

void MainWindow::ComputeMarkers(const QStringList& images, const QStringList& clouds) {
  markerResults.clear();
  markerPlanes.clear();
  if (images.size() != clouds.size()) {
    dialogs->Warning(this, "提示", "2D图片数据和3D图片数据数量不匹配,请检查图片后重新导入", Dialogs::Button::Ok);
    return;
  }
  const int pairs = images.size();
  // A pair whose file is missing is reported without detection; the others go to the workers at once.
  std::vector<QString> missing(static_cast<std::size_t>(pairs));
  std::vector<TarnWorkflow::ShotPair> shots;
  std::vector<std::size_t> shotOfPair(static_cast<std::size_t>(pairs), 0);
  for (int n = 0; n < pairs; ++n) {
    const QString image = folder2D + "//" + images[n];
    const QString cloud = folder3D + "//" + clouds[n];
    if (!QFile::exists(image) || !QFile::exists(cloud)) {
      At(missing, n) = QFile::exists(image) ? cloud : image;
      continue;
    }
    At(shotOfPair, n) = shots.size();
    shots.push_back({std::to_string(n), LibraryPath(image), LibraryPath(cloud)});
  }
  const bool fitted = ui->MakerSelect->currentIndex() == 1;  // "同心圆(平面拟合)"
  MarkerBatchJob job(shots, fitted ? TarnWorkflow::Centre::Fit : TarnWorkflow::Centre::Centroid);

  std::unique_ptr<Dialogs::Progress> progress = dialogs->OpenProgress(this, "正在计算第1组标记位置", "取消");
  QStringList errors;
  for (int n = 1; n <= pairs; ++n) {
    MarkerBoardResult record = NoMarker();
    std::optional<TamoHandEye::ShotPlane> plane;
    if (!At(missing, n - 1).isEmpty()) {
      errors << QString("第%1组数据检测失败, 错误信息:无法找到目标文件%2").arg(n).arg(At(missing, n - 1));
    } else {
      const auto detection = job.WaitFor(At(shotOfPair, n - 1), [&progress] { return progress->Cancelled(); });
      if (!detection) break;  // "取消" while this pair was being detected
      if (detection->code != 0) {
        errors << QString("第%1组数据检测失败, 错误信息:%2")
                      .arg(n)
                      .arg(DetectionFailure(*detection, folder2D + "//" + images[n - 1],
                                            folder3D + "//" + clouds[n - 1]));
      } else {
        record = detection->marker;
        if (detection->hasNormal) plane = TarnWorkflow::PlaneOf(detection->plane);
      }
    }
    progress->SetLabel(QString("正在计算第%1组标记位置").arg(std::min(n + 1, pairs)));
    progress->SetValue(static_cast<int>(n * 100.0 / pairs));
    markerResults.push_back(record);
    markerPlanes.push_back(plane);
    if (progress->Cancelled()) break;
  }
  // The camera's pinhole from the first shot whose cloud gives one: the suggested poses keep the marker in
  // its image.
  markerPinhole = {};
  for (std::size_t k = 0; k < shots.size() && k < 3 && markerPinhole.width == 0; ++k) {
    TamoHandEye::EstimateCameraPinhole(shots[k].image, shots[k].cloud, markerPinhole);
  }
  if (!errors.isEmpty()) {
    QString lines;
    for (const QString& line : errors) lines += line + "\n";
    dialogs->Critical(this, "错误", QString("求解标记位置时发生了错误:\n%1").arg(lines));
  }
  emit signalMarkerResultsChanged(markerResults);
  progress.reset();
}

void MainWindow::slotMarkerResultsChanged(std::vector<MarkerBoardResult> results) {
  QTableWidget* table = ui->ParamList;
  while (table->rowCount() < static_cast<int>(results.size())) {
    table->insertRow(table->rowCount());
    MakeRowButtons(table->rowCount() - 1);
  }
  for (int j = 0; j < static_cast<int>(results.size()); ++j) {
    const MarkerBoardResult& result = At(results, j);
    QListWidgetItem* item = ui->Image2DDisplay->item(j);
    if (std::isnan(result.x) && std::isnan(result.y) && std::isnan(result.z)) {
      for (int c = 0; c < 3; ++c) table->setItem(j, c, new QTableWidgetItem());
      if (item) item->setData(Qt::UserRole, QVariant());
      continue;
    }
    const double values[3] = {result.x, result.y, result.z};
    QStringList texts;
    for (int c = 0; c < 3; ++c) {
      texts << Number(values[c], 10);
      table->setItem(j, c, new QTableWidgetItem(texts.back()));
    }
    if (j < static_cast<int>(markerPlanes.size()) && At(markerPlanes, j))
      SetRowPlane(*table->item(j, 0), *At(markerPlanes, j), texts);
    if (!item) continue;
    QImage image(folder2D + "/" + item->text());
    if (image.isNull()) continue;
    // Grey (and palette) images cannot carry a green cross: widen them to colour first.
    if (image.isGrayscale() || image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono ||
        image.format() == QImage::Format_MonoLSB) {
      image = image.convertToFormat(QImage::Format_RGB888);
    }
    QPainter painter(&image);
    painter.setPen(QPen(QColor(0, 255, 75), 3));
    painter.drawLine(QPointF(result.u - 10, result.v), QPointF(result.u + 10, result.v));
    painter.drawLine(QPointF(result.u, result.v - 10), QPointF(result.u, result.v + 10));
    painter.end();
    item->setData(Qt::UserRole, image);
  }
}
