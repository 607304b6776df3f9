// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QImage>
#include <QPoint>
#include <QWidget>

#include <memory>

namespace Ui {
class ColorImageViewClass;
}

class QMouseEvent;
class QPaintEvent;
class QWheelEvent;

/// Shows one image fitted into the widget (never enlarged), zooms about the mouse (wheel or slots), pans by
/// dragging, and shows the pixel position and value under the mouse in a tooltip.
class ColorImageView : public QWidget {
  Q_OBJECT

 public:
  explicit ColorImageView(QWidget* parent = nullptr);
  ~ColorImageView() override;

  /// Shows a deep copy of `img`; zoom and pan stay. A null image shows the placeholder.
  void setImage(const QImage& img);

 public slots:
  void zoomInImage();
  void zoomOutImage();
  void presetImage();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  friend class ColorImageViewTest;

  /// Keeps at least the image's right and bottom edges inside the widget after a zoom.
  void ApplyBounds();

  std::unique_ptr<Ui::ColorImageViewClass> ui;
  QImage image;
  int drawWidth = 0;  ///< the image fitted at zoom 1, widget pixels (set by every paint)
  int drawHeight = 0;
  int originX = 0;  ///< widget position of the image's top-left corner (set by every paint)
  int originY = 0;
  double zoom = 1.0;  ///< scale on top of the fit
  int offsetX = 0;    ///< pan, widget pixels
  int offsetY = 0;
  QPoint pressPos;
  bool dragging = false;
  QPoint mousePos;
};
