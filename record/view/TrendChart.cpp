#include "record/view/TrendChart.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QMouseEvent>
#include <QPixmap>
#include <QWheelEvent>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QLineSeries>
#include <algorithm>
#include <cmath>

#include "record/Axis.h"

namespace record {
namespace {

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Puts `ticks` (on the axis's scale times `scale`) on the axis as its only
// labels. The axis counts from below the first tick, which must lie above
// its start.
void SetTicks(QCategoryAxis* axis, const std::vector<Tick>& ticks, double scale, double low) {
  for (const QString& label : axis->categoriesLabels()) axis->remove(label);
  double start = low;
  if (!ticks.empty()) start = std::min(start, ticks.front().at * scale);
  axis->setStartValue(start - std::max(1e-9, std::fabs(start) * 1e-12));
  for (const Tick& tick : ticks) axis->append(Text(tick.label), tick.at * scale);
}

QCategoryAxis* NewAxis(QChart* chart) {
  auto* axis = new QCategoryAxis(chart);
  axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  return axis;
}

// A window that has collapsed to one value gets some room around it, so
// that a flat trend shows as a line in the middle, not on an edge.
void Widen(double& low, double& high, double least) {
  if (high - low >= least) return;
  const double middle = (low + high) / 2;
  low = middle - least / 2;
  high = middle + least / 2;
}

}  // namespace

// The chart is handed to the view as it is made: a view made without one
// makes its own, and a later setChart would leave that one to nobody.
TrendChart::TrendChart(QWidget* parent) : QChartView(new QChart(), parent) {
  QChart* chart = this->chart();
  chart->legend()->hide();
  chart->setMargins(QMargins(4, 4, 4, 4));
  timeAxis_ = NewAxis(chart);
  valueAxis_ = NewAxis(chart);
  chart->addAxis(timeAxis_, Qt::AlignBottom);
  chart->addAxis(valueAxis_, Qt::AlignLeft);
  RunSeries(0);
  setRenderHint(QPainter::Antialiasing, false);
  setRubberBand(QChartView::NoRubberBand);
}

void TrendChart::SetTrend(const Trend* trend) {
  trend_ = trend;
  autoscale_ = true;
  Redraw();
}

void TrendChart::DataChanged() {
  if (!paused_) Redraw();
}

void TrendChart::SetPaused(bool paused) {
  paused_ = paused;
  if (!paused_) Redraw();
}

void TrendChart::SetAutoscale(bool autoscale) {
  if (autoscale_ == autoscale) return;
  autoscale_ = autoscale;
  if (OnAutoscaleChanged) OnAutoscaleChanged(autoscale_);
  Redraw();
}

void TrendChart::LeaveAutoscale() {
  if (!autoscale_) return;
  autoscale_ = false;
  if (OnAutoscaleChanged) OnAutoscaleChanged(false);
}

void TrendChart::FitTime() {
  const std::vector<Point>& points = trend_->points;
  from_ = points.front().t;
  to_ = points.back().t;
  Widen(from_, to_, 1.0);
}

void TrendChart::FitValues() {
  bool any = false;
  double low = 0.0;
  double high = 0.0;
  for (const Point& p : decimated_) {
    if (p.t < from_ || p.t > to_ || std::isnan(p.v)) continue;
    low = any ? std::min(low, p.v) : p.v;
    high = any ? std::max(high, p.v) : p.v;
    any = true;
  }
  if (!any) return;
  const double margin = (high - low) * 0.05;
  low_ = low - margin;
  high_ = high + margin;
  Widen(low_, high_, std::max(std::fabs(high_) * 1e-6, 1e-12));
}

void TrendChart::Redraw() {
  if (trend_ == nullptr || trend_->points.empty()) {
    decimated_.clear();
    DrawRuns();
    return;
  }
  if (autoscale_) FitTime();
  const auto columns = static_cast<std::size_t>(std::max(100.0, chart()->plotArea().width()));
  Decimate(trend_->points, from_, to_, columns, decimated_);
  if (autoscale_) FitValues();
  DrawRuns();
  ApplyAxes();
}

QLineSeries* TrendChart::RunSeries(std::size_t index) {
  while (series_.size() <= index) {
    auto* series = new QLineSeries(chart());
    chart()->addSeries(series);
    series->attachAxis(timeAxis_);
    series->attachAxis(valueAxis_);
    // Every run is the same trend: one colour.
    if (!series_.empty()) series->setPen(series_.front()->pen());
    series_.push_back(series);
  }
  return series_[index];
}

void TrendChart::DrawRuns() {
  drawnPoints_ = 0;
  drawnLines_ = 0;
  QList<QPointF> run;
  const auto flush = [&] {
    if (run.isEmpty()) return;
    RunSeries(drawnLines_++)->replace(run);
    run.clear();
  };
  for (const Point& p : decimated_) {
    if (std::isnan(p.v)) {
      flush();
      continue;
    }
    run.append(QPointF(p.t * 1000.0, p.v));
    ++drawnPoints_;
  }
  flush();
  // Series of runs that are gone stay for later redraws, empty.
  for (std::size_t i = drawnLines_; i < series_.size(); ++i)
    if (series_[i]->count() != 0) series_[i]->clear();
}

void TrendChart::ApplyAxes() {
  timeAxis_->setRange(from_ * 1000.0, to_ * 1000.0);
  valueAxis_->setRange(low_, high_);
  LabelAxes();
}

// About one label per 100 pixels of time ("08.12 14:05" fits) and per 30
// pixels of values.
void TrendChart::LabelAxes() {
  const QRectF area = chart()->plotArea();
  const int timeTicks = std::max(2, static_cast<int>(area.width() / 100));
  const int valueTicks = std::max(2, static_cast<int>(area.height() / 30));
  const int offset = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(from_ * 1000.0)).offsetFromUtc();
  const TimeAxis time = TimeTicks(from_, to_, offset, timeTicks);
  SetTicks(timeAxis_, time.ticks, 1000.0, from_ * 1000.0);
  QString timeTitle = QCoreApplication::translate("recorder", "Время");
  if (!time.date.empty()) timeTitle += QStringLiteral(", ") + Text(time.date);
  timeAxis_->setTitleText(timeTitle);
  const std::string unit = trend_ != nullptr ? trend_->unit : std::string();
  const ValueAxis values = ValueTicks(low_, high_, unit, valueTicks);
  SetTicks(valueAxis_, values.ticks, 1.0, low_);
  if (trend_ != nullptr) {
    valueAxis_->setTitleText(Text(FunctionName(trend_->function)) + QStringLiteral(", ") + Text(values.unit));
    chart()->setTitle(Text(FunctionName(trend_->function)) + QStringLiteral(", ") +
                      QString::fromStdString(trend_->unit));
  }
}

QStringList TrendChart::TimeLabels() const { return timeAxis_->categoriesLabels(); }
QStringList TrendChart::ValueLabels() const { return valueAxis_->categoriesLabels(); }
QString TrendChart::TimeTitle() const { return timeAxis_->titleText(); }
QString TrendChart::ValueTitle() const { return valueAxis_->titleText(); }

bool TrendChart::SavePng(const QString& path) { return grab().save(path, "PNG"); }

void TrendChart::ZoomTime(double factor, double at) {
  LeaveAutoscale();
  const double pivot = from_ + (to_ - from_) * std::clamp(at, 0.0, 1.0);
  from_ = pivot - (pivot - from_) * factor;
  to_ = pivot + (to_ - pivot) * factor;
  Widen(from_, to_, 0.01);
  Redraw();
}

void TrendChart::PanTime(double fraction) {
  LeaveAutoscale();
  const double shift = (to_ - from_) * fraction;
  from_ += shift;
  to_ += shift;
  Redraw();
}

void TrendChart::wheelEvent(QWheelEvent* event) {
  const QRectF area = chart()->plotArea();
  const double factor = event->angleDelta().y() > 0 ? 0.8 : 1.25;
  if (event->modifiers() & Qt::ControlModifier) {
    LeaveAutoscale();
    const double at = (area.bottom() - event->position().y()) / std::max(1.0, area.height());
    const double pivot = low_ + (high_ - low_) * std::clamp(at, 0.0, 1.0);
    low_ = pivot - (pivot - low_) * factor;
    high_ = pivot + (high_ - pivot) * factor;
    Redraw();
  } else {
    ZoomTime(factor, (event->position().x() - area.left()) / std::max(1.0, area.width()));
  }
  event->accept();
}

void TrendChart::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QChartView::mousePressEvent(event);
  dragging_ = true;
  dragStart_ = event->position();
  dragFrom_ = from_;
  dragTo_ = to_;
  dragLow_ = low_;
  dragHigh_ = high_;
  event->accept();
}

void TrendChart::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return QChartView::mouseMoveEvent(event);
  LeaveAutoscale();
  const QRectF area = chart()->plotArea();
  const QPointF moved = event->position() - dragStart_;
  const double dt = -moved.x() / std::max(1.0, area.width()) * (dragTo_ - dragFrom_);
  const double dv = moved.y() / std::max(1.0, area.height()) * (dragHigh_ - dragLow_);
  from_ = dragFrom_ + dt;
  to_ = dragTo_ + dt;
  low_ = dragLow_ + dv;
  high_ = dragHigh_ + dv;
  Redraw();
  event->accept();
}

void TrendChart::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) dragging_ = false;
  QChartView::mouseReleaseEvent(event);
}

void TrendChart::mouseDoubleClickEvent(QMouseEvent* event) {
  SetAutoscale(true);
  event->accept();
}

void TrendChart::resizeEvent(QResizeEvent* event) {
  QChartView::resizeEvent(event);
  Redraw();
}

}  // namespace record
