// The trend chart: one trend's values against time, live.
//
// Drawing never hands the chart more points than the plot is wide in
// pixels times two: each refresh decimates the visible time window to the
// minimum and maximum per pixel column (record/Decimate.h), so a week of
// readings draws as fast as a minute. An outage in the trend breaks the
// line: each run between two outages is a line of its own.
//
// Mouse: the wheel zooms time around the pointer (with Ctrl: the values),
// dragging with the left button pans, a double click goes back to
// autoscale. Autoscale follows the whole trend and fits the values; any
// zoom or pan turns it off. Pause freezes what is shown while readings
// go on being kept; zoom and pan still work on it.
//
// The axes carry round ticks (record/Axis.h) and name what they show: the
// value axis the function and its unit with the prefix of its labels
// ("U=, mV"), the time axis the local date when all its ticks share one.
//
// Thread safety: the GUI thread only. The trend must outlive the chart or
// be replaced with SetTrend first.
#pragma once

#include <QtCharts/QChartView>
#include <vector>

#include "record/Decimate.h"
#include "record/Session.h"

class QCategoryAxis;
class QLineSeries;

namespace record {

class TrendChart : public QChartView {
 public:
  explicit TrendChart(QWidget* parent = nullptr);

  // Shows `trend` (null: nothing); starts in autoscale.
  void SetTrend(const Trend* trend);
  const Trend* CurrentTrend() const { return trend_; }
  // New readings arrived: redraws unless paused.
  void DataChanged();
  // Redraws the visible window from the trend.
  void Redraw();

  bool Paused() const { return paused_; }
  void SetPaused(bool paused);
  bool Autoscale() const { return autoscale_; }
  void SetAutoscale(bool autoscale);
  // The chart as a PNG file; false when it cannot be written.
  bool SavePng(const QString& path);
  // Points handed to the series at the last redraw, and the lines they
  // make (one more than the outages between them).
  std::size_t DrawnPoints() const { return drawnPoints_; }
  std::size_t DrawnLines() const { return drawnLines_; }
  // The labels of the axes' ticks and the axes' titles, as shown.
  QStringList TimeLabels() const;
  QStringList ValueLabels() const;
  QString TimeTitle() const;
  QString ValueTitle() const;
  // The visible time window, seconds since the epoch.
  double From() const { return from_; }
  double To() const { return to_; }
  // Zooms time by `factor` (< 1 in) around the time at the plot's x
  // fraction `at` (0 left edge, 1 right edge).
  void ZoomTime(double factor, double at);
  // Moves the time window by `fraction` of its width (positive: later).
  void PanTime(double fraction);

  std::function<void(bool autoscale)> OnAutoscaleChanged;

 protected:
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void FitTime();
  void FitValues();
  void ApplyAxes();
  void LeaveAutoscale();
  // Hands the decimated points to the series, one series per run between
  // outages.
  void DrawRuns();
  QLineSeries* RunSeries(std::size_t index);
  void LabelAxes();

  const Trend* trend_ = nullptr;
  std::vector<QLineSeries*> series_;  // owned by the chart; the first always exists
  // Both axes place their ticks and labels themselves (record/Axis.h); the
  // time axis is in milliseconds since the epoch, as the series.
  QCategoryAxis* timeAxis_ = nullptr;
  QCategoryAxis* valueAxis_ = nullptr;
  std::vector<Point> decimated_;
  std::size_t drawnPoints_ = 0;
  std::size_t drawnLines_ = 0;
  double from_ = 0.0;
  double to_ = 1.0;
  double low_ = 0.0;
  double high_ = 1.0;
  bool paused_ = false;
  bool autoscale_ = true;
  bool dragging_ = false;
  QPointF dragStart_;
  double dragFrom_ = 0.0;
  double dragTo_ = 0.0;
  double dragLow_ = 0.0;
  double dragHigh_ = 0.0;
};

}  // namespace record
