// The trend chart with many points: it hands the series no more than the
// pixels can show, follows new readings unless paused, and zoom, pan and
// autoscale move its time window as the mouse asks.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMouseEvent>
#include <QWheelEvent>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "record/view/TrendChart.h"

namespace {

record::Trend ManyPoints(std::size_t n) {
  record::Trend trend{'U', "V", {}};
  for (std::size_t i = 0; i < n; ++i) trend.points.push_back({1000.0 + i * 0.25, (i % 97) * 0.01});
  return trend;
}

TEST(TrendChartTest, DrawsWhatThePixelsShowAndFollowsUnlessPaused) {
  record::Trend trend = ManyPoints(200000);
  record::TrendChart chart;
  chart.resize(600, 300);
  chart.SetTrend(&trend);
  EXPECT_GT(chart.DrawnPoints(), 0u);
  EXPECT_LE(chart.DrawnPoints(), 2 * 600u + 2);
  EXPECT_DOUBLE_EQ(chart.From(), trend.points.front().t);
  EXPECT_DOUBLE_EQ(chart.To(), trend.points.back().t);

  trend.points.push_back({trend.points.back().t + 10, 0.5});
  chart.SetPaused(true);
  chart.DataChanged();
  EXPECT_DOUBLE_EQ(chart.To(), trend.points.back().t - 10) << "a paused chart stands still";
  chart.SetPaused(false);
  EXPECT_DOUBLE_EQ(chart.To(), trend.points.back().t);
  EXPECT_EQ(chart.DrawnLines(), 1u);

  // An outage: the line stops there and goes on after it.
  const double end = trend.points.back().t;
  trend.points.push_back({end + 1, std::nan("")});
  trend.points.push_back({end + 5, 0.25});
  trend.points.push_back({end + 6, 0.75});
  chart.DataChanged();
  EXPECT_EQ(chart.DrawnLines(), 2u);
  EXPECT_LE(chart.DrawnPoints(), 2 * 600u + 2);
  trend.points.resize(trend.points.size() - 3);
  chart.DataChanged();
  EXPECT_EQ(chart.DrawnLines(), 1u);
}

TEST(TrendChartTest, ZoomPanAndDoubleClickMoveTheTimeWindow) {
  record::Trend trend = ManyPoints(10000);
  record::TrendChart chart;
  chart.resize(600, 300);
  chart.SetTrend(&trend);
  std::vector<bool> autoscale;
  chart.OnAutoscaleChanged = [&](bool on) { autoscale.push_back(on); };
  const double width = chart.To() - chart.From();

  chart.ZoomTime(0.5, 0.0);  // in, around the left edge
  EXPECT_FALSE(chart.Autoscale());
  EXPECT_DOUBLE_EQ(chart.From(), trend.points.front().t);
  EXPECT_NEAR(chart.To() - chart.From(), width / 2, 1e-9);
  chart.PanTime(0.5);
  EXPECT_NEAR(chart.From(), trend.points.front().t + width / 4, 1e-9);

  // A new reading does not pull a zoomed chart back.
  const double from = chart.From();
  trend.points.push_back({trend.points.back().t + 1, 1});
  chart.DataChanged();
  EXPECT_DOUBLE_EQ(chart.From(), from);

  QWheelEvent wheel(QPointF(300, 150), QPointF(300, 150), QPoint(), QPoint(0, 120), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(chart.viewport(), &wheel);
  EXPECT_LT(chart.To() - chart.From(), width / 2);

  QMouseEvent click(QEvent::MouseButtonDblClick, QPointF(300, 150), QPointF(300, 150),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(chart.viewport(), &click);
  EXPECT_TRUE(chart.Autoscale());
  EXPECT_DOUBLE_EQ(chart.To(), trend.points.back().t);
  EXPECT_EQ(autoscale, (std::vector<bool>{false, true}));
}

TEST(TrendChartTest, SavesAPicture) {
  record::Trend trend = ManyPoints(1000);
  record::TrendChart chart;
  chart.resize(400, 250);
  chart.SetTrend(&trend);
  const auto path = std::filesystem::temp_directory_path() / "tesmar-chart-test.png";
  ASSERT_TRUE(chart.SavePng(QString::fromStdString(path.string())));
  // The size from the PNG header: loading the picture back would start Qt's
  // image thread pool, which the thread sanitizer cannot see into.
  std::ifstream png(path, std::ios::binary);
  unsigned char header[24] = {};
  png.read(reinterpret_cast<char*>(header), sizeof header);
  const auto big = [&](int at) {
    return header[at] << 24 | header[at + 1] << 16 | header[at + 2] << 8 | header[at + 3];
  };
  EXPECT_EQ(std::string(reinterpret_cast<char*>(header) + 1, 3), "PNG");
  EXPECT_EQ(big(16), 400);
  EXPECT_EQ(big(20), 250);
  std::filesystem::remove(path);
  EXPECT_FALSE(chart.SavePng(QStringLiteral("/nonexistent-folder/chart.png")));
}

}  // namespace
