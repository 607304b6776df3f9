// SPDX-License-Identifier: Apache-2.0
#include "ResidualPlot.h"

#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_rescaler.h>
#include <qwt_symbol.h>

#include <algorithm>
#include <cmath>

namespace {
constexpr double kRange = 10.0;  // millimetres either side of zero, the least range shown
}

ResidualPlot::ResidualPlot(const QString& label, QWidget* parent) : QwtPlot(parent) {
  QwtText title(label);
  QFont font = title.font();
  font.setPointSize(10);
  title.setFont(font);
  setTitle(title);
  setCanvasBackground(Qt::white);
  for (int axis : {QwtPlot::xBottom, QwtPlot::yLeft}) setAxisScale(axis, -kRange, kRange);
  auto* grid = new QwtPlotGrid;
  grid->setPen(QColor(220, 220, 220), 0.0, Qt::DotLine);
  grid->attach(this);
  // One millimetre is as long across as up: the axis with room to spare shows more than -10..10.
  rescaler = new QwtPlotRescaler(canvas(), QwtPlot::xBottom, QwtPlotRescaler::Fitting);
  rescaler->setAspectRatio(QwtPlot::yLeft, 1.0);
  rescaler->setAspectRatio(QwtPlot::yRight, 0.0);
  rescaler->setAspectRatio(QwtPlot::xTop, 0.0);
  for (int axis : {QwtPlot::xBottom, QwtPlot::yLeft}) rescaler->setIntervalHint(axis, QwtInterval(-kRange, kRange));
  rescaler->setExpandingDirection(QwtPlotRescaler::ExpandBoth);
  setMinimumSize(160, 160);
}

void ResidualPlot::Show(const QVector<QPointF>& points) {
  detachItems(QwtPlotItem::Rtti_PlotCurve, true);
  auto* graph = new QwtPlotCurve;
  graph->setStyle(QwtPlotCurve::NoCurve);
  graph->setSymbol(new QwtSymbol(QwtSymbol::Cross, QBrush(), QPen(QColor(0, 90, 200), 1.5), QSize(8, 8)));
  graph->setSamples(points);
  graph->attach(this);
  // Both axes reach past the farthest residual (a bad calibration's are far beyond 10 mm), with room for
  // its symbol; -10..10 at the least, and the same range on both so that a millimetre keeps its length.
  double farthest = 0.0;
  for (const QPointF& p : points) {
    if (std::isfinite(p.x())) farthest = std::max(farthest, std::abs(p.x()));
    if (std::isfinite(p.y())) farthest = std::max(farthest, std::abs(p.y()));
  }
  const double range = std::max(kRange, std::ceil(farthest * 1.1));
  for (int axis : {QwtPlot::xBottom, QwtPlot::yLeft}) {
    setAxisScale(axis, -range, range);
    rescaler->setIntervalHint(axis, QwtInterval(-range, range));
  }
  rescaler->rescale();
  replot();
}

QVector<QPointF> ResidualPlot::Points() const {
  QVector<QPointF> points;
  for (const QwtPlotItem* item : itemList(QwtPlotItem::Rtti_PlotCurve)) {
    const auto* graph = static_cast<const QwtPlotCurve*>(item);
    for (size_t i = 0; i < graph->dataSize(); ++i) points << graph->sample(static_cast<int>(i));
  }
  return points;
}
