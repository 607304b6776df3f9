// SPDX-License-Identifier: Apache-2.0
#include "ColorImageView.h"

#include "ui_ColorImageView.h"

#include <fmt/format.h>

#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>

namespace {
constexpr double kZoomIn = 1.2;
constexpr double kZoomOut = 1.4;
}  // namespace

ColorImageView::ColorImageView(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::ColorImageViewClass>()) {
  ui->setupUi(this);
  setAttribute(Qt::WA_MouseTracking);
  // A dark surround: the image's edges stand out, and the white placeholder caption is readable.
  QPalette dark = palette();
  dark.setColor(QPalette::Window, QColor(48, 48, 52));
  setPalette(dark);
  setAutoFillBackground(true);
}

ColorImageView::~ColorImageView() = default;

void ColorImageView::setImage(const QImage& img) {
  image = img.copy(QRect());
  update();
}

void ColorImageView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  if (image.isNull()) {
    const int x = (width() - 64) / 2;
    const int y = (height() - 64) / 2;
    painter.drawImage(QRect(x, y, 64, 64), QImage(":/empty.png"));
    painter.setPen(QColor(255, 255, 255));
    painter.drawText(QRect(x, y + 64, 64, 40), Qt::AlignCenter, tr("无图像"));
    painter.end();
    QWidget::paintEvent(event);
    return;
  }
  // Fit: never larger than the image, never larger than the widget, aspect kept.
  drawWidth = std::min(width(), image.width());
  drawHeight = static_cast<int>(static_cast<double>(drawWidth) / image.width() * image.height());
  drawHeight = std::min(drawHeight, height());
  drawWidth = static_cast<int>(static_cast<double>(drawHeight) / image.height() * image.width());
  originX = (width() - drawWidth) / 2 + offsetX;
  originY = (height() - drawHeight) / 2 + offsetY;
  painter.translate(originX, originY);
  painter.scale(zoom, zoom);
  painter.drawImage(QRect(0, 0, drawWidth, drawHeight), image);
}

void ColorImageView::zoomInImage() {
  zoom *= kZoomIn;
  offsetX -= static_cast<int>((mousePos.x() - originX) * (kZoomIn - 1.0));
  offsetY -= static_cast<int>((mousePos.y() - originY) * (kZoomIn - 1.0));
  ApplyBounds();
  update();
}

void ColorImageView::zoomOutImage() {
  zoom /= kZoomOut;
  offsetX -= static_cast<int>((mousePos.x() - originX) * (1.0 / kZoomOut - 1.0));
  offsetY -= static_cast<int>((mousePos.y() - originY) * (1.0 / kZoomOut - 1.0));
  if (zoom <= 1.0) zoom = 1.0;
  offsetX = std::min(offsetX, 0);
  offsetY = std::min(offsetY, 0);
  ApplyBounds();
  update();
}

void ColorImageView::presetImage() {
  zoom = 1.0;
  offsetX = 0;
  offsetY = 0;
  update();
}

void ColorImageView::ApplyBounds() {
  if (static_cast<int>(drawWidth * zoom + offsetX + (width() - drawWidth) / 2) < 0) {
    offsetX = static_cast<int>(-drawWidth * zoom - (width() - drawWidth) * 0.5);
  }
  if (static_cast<int>(drawHeight * zoom + offsetY + (height() - drawHeight) / 2) < 0) {
    offsetY = static_cast<int>(-drawHeight * zoom - (height() - drawHeight) * 0.5);
  }
}

void ColorImageView::wheelEvent(QWheelEvent* event) {
  if (event->angleDelta().y() > 0) {
    zoomInImage();
  } else {
    zoomOutImage();
  }
}

void ColorImageView::mousePressEvent(QMouseEvent* event) {
  pressPos = event->pos();
  dragging = true;
}

void ColorImageView::mouseReleaseEvent(QMouseEvent* /*event*/) {
  dragging = false;
  setCursor(Qt::ArrowCursor);
}

void ColorImageView::mouseMoveEvent(QMouseEvent* event) {
  mousePos = event->pos();
  if (drawWidth > 0 && drawHeight > 0 && !image.isNull()) {
    const auto column = static_cast<int>((mousePos.x() - originX) / (drawWidth * zoom) * image.width());
    const auto row = static_cast<int>((mousePos.y() - originY) / (drawHeight * zoom) * image.height());
    if (column >= 0 && column < image.width() && row >= 0 && row < image.height()) {
      const QColor colour = image.pixelColor(column, row);
      const std::string text = image.format() == QImage::Format_Grayscale8
                                   ? fmt::format("X: {}  Y: {}\nGray Scale: {}", column, row, colour.red())
                                   : fmt::format("X: {}  Y: {}\nR: {}  G: {}  B: {}", column, row, colour.red(),
                                                 colour.green(), colour.blue());
      QToolTip::showText(event->globalPos(), QString::fromStdString(text), this, QRect(1, 1, 1, 1));
    }
  }
  if (dragging) {
    setCursor(Qt::SizeAllCursor);
    offsetX += event->pos().x() - pressPos.x();
    offsetY += event->pos().y() - pressPos.y();
    pressPos = event->pos();
    update();
  } else {
    QWidget::mouseMoveEvent(event);
  }
}
