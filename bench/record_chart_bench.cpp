// The recorder with a week of readings at four a second (2.5 million
// points): taking them in (parse, statistics, trend), decimating them to
// the pixels, and redrawing the trend chart with all of them in view.
// The redraw renders the chart into an image, as the screen would.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPixmap>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "record/Decimate.h"
#include "record/Session.h"
#include "record/view/TrendChart.h"

namespace {

constexpr std::size_t kWeek = 7 * 24 * 3600 * 4;  // 2 419 200 readings

// A drifting 5 1/2 digit reading as the display shows it.
std::vector<std::string> Texts(std::size_t n) {
  std::mt19937_64 rng(1);
  std::normal_distribution<double> noise(0, 2e-5);
  std::vector<std::string> texts;
  texts.reserve(n);
  char text[16];
  for (std::size_t i = 0; i < n; ++i) {
    const double v = 1.23456 + 0.01 * std::sin(i * 1e-5) + noise(rng);
    std::snprintf(text, sizeof text, "%+.5f ", v);
    texts.emplace_back(text);
  }
  return texts;
}

void FillWeek(record::Session& session) {
  record::Trend& trend = session.TrendOf('U', "V");
  trend.points.reserve(kWeek);
  std::mt19937_64 rng(2);
  std::normal_distribution<double> noise(0, 2e-5);
  const double start = 1.7e9;
  for (std::size_t i = 0; i < kWeek; ++i)
    trend.points.push_back({start + i * 0.25, 1.23456 + 0.01 * std::sin(i * 1e-5) + noise(rng)});
}

void BM_AddWeekOfReadings(benchmark::State& state) {
  const std::vector<std::string> texts = Texts(kWeek);
  for (auto _ : state) {
    record::Session session;
    const auto wall = std::chrono::system_clock::now();
    const auto steady = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < texts.size(); ++i) {
      const auto at = std::chrono::milliseconds(250 * i);
      session.Add(texts[i], {'U', '1', '2'}, wall + at, steady + at);
    }
    benchmark::DoNotOptimize(session.Stats().Summaries().data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * texts.size()));
}
BENCHMARK(BM_AddWeekOfReadings)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_DecimateWeek(benchmark::State& state) {
  record::Session session;
  FillWeek(session);
  const auto& points = session.Trends()[0].points;
  std::vector<record::Point> out;
  for (auto _ : state) {
    record::Decimate(points, points.front().t, points.back().t, 1000, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["points_drawn"] = static_cast<double>(out.size());
}
BENCHMARK(BM_DecimateWeek)->Unit(benchmark::kMillisecond);

// One redraw on a 1000-pixel-wide chart: decimate, hand the points to the
// series, lay out the axes and paint. The argument is the hours in view:
// 0 the whole week (autoscale), 1 a live redraw zoomed in on one hour.
void BM_Redraw(benchmark::State& state) {
  record::Session session;
  FillWeek(session);
  record::TrendChart chart;
  chart.resize(1100, 500);
  chart.SetTrend(session.CurrentTrend());
  if (state.range(0) > 0) chart.ZoomTime(static_cast<double>(state.range(0)) / (7 * 24), 0.5);
  QPixmap canvas(chart.size());
  for (auto _ : state) {
    chart.Redraw();
    static_cast<QWidget&>(chart).render(&canvas);
    benchmark::DoNotOptimize(canvas.cacheKey());
  }
  state.counters["points_drawn"] = static_cast<double>(chart.DrawnPoints());
}
BENCHMARK(BM_Redraw)->ArgName("hours")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)
    ->Repetitions(5)->ReportAggregatesOnly(true);

// For comparison: the same week handed to Qt Charts whole, as a chart
// without decimation would draw it (one redraw).
void BM_RedrawWeekUndecimated(benchmark::State& state) {
  record::Session session;
  FillWeek(session);
  QList<QPointF> all;
  all.reserve(static_cast<qsizetype>(kWeek));
  for (const record::Point& p : session.Trends()[0].points) all.append(QPointF(p.t * 1000.0, p.v));
  QChartView view;
  auto* chart = new QChart();
  auto* series = new QLineSeries(chart);
  chart->addSeries(series);
  chart->createDefaultAxes();
  view.setChart(chart);
  view.resize(1100, 500);
  QPixmap canvas(view.size());
  for (auto _ : state) {
    series->replace(all);
    chart->axes(Qt::Horizontal).front()->setRange(all.front().x(), all.back().x());
    chart->axes(Qt::Vertical).front()->setRange(1.2, 1.27);
    static_cast<QWidget&>(view).render(&canvas);
    benchmark::DoNotOptimize(canvas.cacheKey());
  }
}
BENCHMARK(BM_RedrawWeekUndecimated)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
