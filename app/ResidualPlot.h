// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QPointF>
#include <QVector>

#include <qwt_plot.h>

class QwtPlotRescaler;

/// A scatter plot of two residual components in millimetres: a "+" per pose, both axes from -10 to 10 or
/// wider when a residual lies farther out, at the same scale (a wide plot shows more of its horizontal
/// axis rather than stretching it).
class ResidualPlot : public QwtPlot {
  Q_OBJECT

 public:
  explicit ResidualPlot(const QString& label, QWidget* parent = nullptr);

  /// Shows `points` as a new scatter graph (replacing any earlier one).
  void Show(const QVector<QPointF>& points);
  /// The points of the graph shown, empty when there is none.
  QVector<QPointF> Points() const;

 private:
  QwtPlotRescaler* rescaler;
};
