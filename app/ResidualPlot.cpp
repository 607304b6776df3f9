#include "ResidualPlot.h"

#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_rescaler.h>
#include <qwt_symbol.h>

namespace {
constexpr double kRange = 10.0;  // millimetres either side of zero
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

void ResidualPlot::Clear() {
  detachItems(QwtPlotItem::Rtti_PlotCurve, true);
  replot();
}

void ResidualPlot::Show(const QVector<QPointF>& points) {
  detachItems(QwtPlotItem::Rtti_PlotCurve, true);
  auto* graph = new QwtPlotCurve;
  graph->setStyle(QwtPlotCurve::NoCurve);
  graph->setSymbol(new QwtSymbol(QwtSymbol::Cross, QBrush(), QPen(QColor(0, 90, 200), 1.5), QSize(8, 8)));
  graph->setSamples(points);
  graph->attach(this);
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
