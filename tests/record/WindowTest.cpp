// The recorder's window over a session: the chart follows the latest
// function and unit, keeps a trend picked by hand until the function
// changes, a recording that cannot be opened is reported, and the window
// stays on the screen wherever the panel asks it to go.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include "record/Session.h"
#include "record/view/RecorderWindow.h"

namespace {

TEST(RecorderWindowTest, ChartFollowsTheLatestTrendUnlessOneIsPicked) {
  record::Session session;
  record::RecorderWindow window(session);
  auto add = [&](const char* text, record::Setting setting) {
    session.Add(text, setting);
    window.Update();
  };
  add("+1.23456 ", {'U', '1', '2'});
  EXPECT_EQ(window.ChartTrend(), "U V");
  add("+0.94043 ", {'R', '1', '2'});
  EXPECT_EQ(window.ChartTrend(), "R Ω");
  window.ChooseTrend(0);
  add("+0.94044 ", {'R', '1', '2'});
  EXPECT_EQ(window.ChartTrend(), "U V") << "the pick holds while the function stays";
  add("+50.0012", {'F', '0', '2'});
  EXPECT_EQ(window.ChartTrend(), "F Hz") << "a new function comes into view";
  window.ChooseTrend(7);  // no such trend: nothing changes
  EXPECT_EQ(window.ChartTrend(), "F Hz");
}

TEST(RecorderWindowTest, ARecordingThatCannotStartIsReported) {
  record::Session session;
  record::RecorderWindow window(session);
  EXPECT_FALSE(window.StartRecording("/nonexistent-folder/r.csv"));
  EXPECT_NE(window.LastMessage().find("/nonexistent-folder/r.csv"), std::string::npos);
  EXPECT_EQ(window.StateText(), window.LastMessage());
}

TEST(RecorderWindowTest, StaysWhollyOnTheScreen) {
  record::Session session;
  record::RecorderWindow window(session);
  const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
  window.MoveTo(room.left(), room.top());
  EXPECT_EQ(window.Left(), room.left());
  EXPECT_EQ(window.Top(), room.top());
  // Under a panel at the foot of the screen, or past its corner.
  for (const QPoint asked :
       {QPoint(room.left(), room.bottom() - 20), QPoint(room.right() + 500, room.bottom() + 500)}) {
    window.MoveTo(asked.x(), asked.y());
    EXPECT_GE(window.Left(), room.left());
    EXPECT_GE(window.Top(), room.top());
    EXPECT_LT(window.Top(), asked.y()) << "moved up to fit";
  }
}

}  // namespace
