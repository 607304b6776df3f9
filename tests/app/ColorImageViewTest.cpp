// SPDX-License-Identifier: Apache-2.0
// The image viewer: fitting, zoom bounds and pan, checked on what the widget paints and on its state.

#include "ColorImageView.h"

#include <QImage>
#include <QMouseEvent>
#include <QtTest>

class ColorImageViewTest : public QObject {
  Q_OBJECT

 private:
  // The columns of row `y` of the widget's rendering whose colour is `colour`: first and last.
  static QPair<int, int> Span(ColorImageView& view, int y, QColor colour) {
    const QImage shot = view.grab().toImage();
    int first = -1, last = -1;
    for (int x = 0; x < shot.width(); ++x) {
      if (shot.pixelColor(x, y) == colour) {
        if (first < 0) first = x;
        last = x;
      }
    }
    return {first, last};
  }

  static QImage Filled(int w, int h, QColor colour, QImage::Format format = QImage::Format_RGB32) {
    QImage image(w, h, format);
    image.fill(colour);
    return image;
  }

 private slots:
  void largeImagesAreFittedAndCentred() {
    ColorImageView view;
    view.resize(600, 400);
    view.setImage(Filled(4000, 3000, Qt::red));
    const auto span = Span(view, 200, Qt::red);
    QCOMPARE(view.drawWidth, 533);
    QCOMPARE(view.drawHeight, 400);
    QCOMPARE(view.originX, 33);
    QCOMPARE(span.first, 33);
    QCOMPARE(span.second, 33 + 533 - 1);
  }

  void smallImagesAreNotEnlarged() {
    ColorImageView view;
    view.resize(600, 400);
    view.setImage(Filled(100, 50, Qt::blue));
    const auto span = Span(view, 200, Qt::blue);
    QCOMPARE(span.first, 250);
    QCOMPARE(span.second, 349);
    QCOMPARE(view.drawHeight, 50);
  }

  void zoomingOutStopsAtTheFit() {
    ColorImageView view;
    view.resize(600, 400);
    view.setImage(Filled(4000, 3000, Qt::red));
    view.grab();
    view.offsetX = 40;
    view.offsetY = 10;
    view.zoomOutImage();
    QCOMPARE(view.zoom, 1.0);
    QVERIFY(view.offsetX <= 0);
    QVERIFY(view.offsetY <= 0);
    view.zoomInImage();
    QCOMPARE(view.zoom, 1.2);
    view.presetImage();
    QCOMPARE(view.zoom, 1.0);
    QCOMPARE(view.offsetX, 0);
  }

  void zoomingInPullsAnImageDraggedAwayBack() {
    ColorImageView view;
    view.resize(600, 400);
    view.setImage(Filled(4000, 3000, Qt::red));
    view.grab();
    // Drag far to the left.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(500, 200), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &press);
    QMouseEvent move(QEvent::MouseMove, QPointF(-2000, 200), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(-2000, 200), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &release);
    QCOMPARE(view.offsetX, -2500);
    view.grab();
    view.zoomInImage();
    // The right edge sits at the widget's left border.
    QCOMPARE(view.offsetX, static_cast<int>(-533 * 1.2 - (600 - 533) * 0.5));
    QCOMPARE(static_cast<int>(view.drawWidth * view.zoom + view.offsetX + (600 - view.drawWidth) / 2), 0);
  }

  void placeholderWithoutAnImage() {
    ColorImageView view;
    view.resize(600, 400);
    const QImage shot = view.grab().toImage();
    // The placeholder icon and its caption are drawn in the middle; elsewhere the background stays.
    const QColor background = shot.pixelColor(5, 5);
    int drawn = 0, strays = 0;
    for (int y = 0; y < 400; ++y) {
      for (int x = 0; x < 600; ++x) {
        const bool inside = x >= 268 && x < 332 && y >= 168 && y < 272;
        if (shot.pixelColor(x, y) != background) (inside ? drawn : strays) += 1;
      }
    }
    QVERIFY2(drawn > 200, qPrintable(QString("only %1 placeholder pixels").arg(drawn)));
    QCOMPARE(strays, 0);
    QMouseEvent move(QEvent::MouseMove, QPointF(300, 200), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &move);  // no image: no tooltip, no arithmetic on a zero-sized fit
    QCOMPARE(view.mousePos, QPoint(300, 200));
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  Q_INIT_RESOURCE(resources);  // the widgets' resources live in a static library
  ColorImageViewTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "ColorImageViewTest.moc"
