// The measurement cycle, link start-up and reset against the simulator on
// a pseudo-terminal, driven by the window's own timers.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "PanelTestUtil.h"
#include "app/Unit1.h"

namespace {

using namespace tesmar::test;
using app::TForm1;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

class PanelCycle : public testing::Test {
 protected:
  void Start(k4sim::Options options = {}) {
    sim = StartSimulator(std::move(options));
    started = Clock::now();
    form = framework::NewObject<TForm1>();
    watch = std::make_unique<DisplayWatch>(*form);
  }
  bool ReachMeasuring(std::chrono::milliseconds limit = 20000ms) {
    return PumpUntil([&] { return watch->Count() > 0; }, limit);
  }
  void TearDown() override {
    watch.reset();
    form.reset();
    sim.reset();
  }

  std::unique_ptr<k4sim::Simulator> sim;
  Clock::time_point started;
  std::unique_ptr<TForm1> form;
  std::unique_ptr<DisplayWatch> watch;
};

TEST_F(PanelCycle, ProbesUntilAnsweredThenSetsUpAndMeasures) {
  k4sim::Options options;
  options.probeAfter = 1200ms;  // an instrument switched on late
  Start(options);
  EXPECT_EQ(form->La_Stat->Caption(), app::kStatusSetup);
  ASSERT_TRUE(PumpUntil([&] { return form->La_Stat->Caption() == app::kStatusNoLink; }, 20000ms));
  // Set up and given the panel's settings, the strip says which.
  ASSERT_TRUE(PumpUntil([&] { return form->FlagLinkUp != 0; }, 20000ms));
  EXPECT_EQ(form->La_Stat->Caption(), "функция U=   диапазон 2V   запуск внутренний");
  EXPECT_TRUE(form->La_Razmer->Visible());
  EXPECT_TRUE(form->La_Forma->Visible());
  ASSERT_TRUE(ReachMeasuring());
  ASSERT_TRUE(PumpUntil([&] { return watch->Count() >= 3; }, 20000ms));

  const std::string received = sim->Received();
  const std::string setup = "G0B1Y0B1M1\nU1H2A0W0S1N0Q0L1\n";
  ASSERT_GE(received.size(), setup.size() + 4);
  EXPECT_EQ(received.substr(0, 2), "!!") << "two probes at start-up";
  const std::size_t setupAt = received.find('G');
  ASSERT_NE(setupAt, std::string::npos);
  EXPECT_EQ(received.substr(0, setupAt), std::string(setupAt, '!'));
  EXPECT_EQ(received.substr(setupAt), setup) << "nothing else while readings are taken";

  // Readings of 9 characters (5 1/2 digits), one a turn of the timer chain
  // (about 1.03 s): never sooner. How much later depends on the machine's
  // load, so it is recorded, not bounded.
  for (const std::string& text : watch->texts) EXPECT_EQ(text.size(), 9u) << text;
  const double period = Seconds(watch->times.back() - watch->times.front()) /
                        static_cast<double>(watch->times.size() - 1);
  EXPECT_GT(period, 1.0);
  RecordProperty("reading_period_ms", static_cast<int>(period * 1000));
  EXPECT_TRUE(form->La_Data->Visible());
}

TEST_F(PanelCycle, CommandsArePacedAndTheLastRequestWins) {
  Start();
  ASSERT_TRUE(ReachMeasuring());
  RecordProperty("first_reading_ms", static_cast<int>(Seconds(watch->times.front() - started) * 1000));
  std::size_t mark = sim->Received().size();
  // Two requests before the command timer's tick: only the second is sent.
  form->AVP = '1';
  form->CMD_Num = 4;
  form->Ti_CMD->SetEnabled(true);
  form->Zvuk = '0';
  form->CMD_Num = 6;
  form->Ti_CMD->SetEnabled(true);
  ASSERT_TRUE(PumpUntil([&] { return sim->Received().size() >= mark + 3; }));
  PumpFor(100ms);
  EXPECT_EQ(sim->Received().substr(mark), "S0\n");
  EXPECT_EQ(sim->State().sound, '0');

  // Every selector's characters, each sent alone and answered.
  struct Case {
    std::int32_t selector;
    std::string sent;
  };
  form->Razresh = '1';
  const std::vector<Case> cases = {{3, "G0B1\n"}, {4, "A1\n"},  {5, "W0\n"}, {7, "H1\n"},
                                   {8, "N0\n"},   {11, "K0\n"}, {12, "Q0\n"}, {13, "L1\n"},
                                   {9, ""},       {1, "U1\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.selector);
    mark = sim->Received().size();
    form->CMD_Num = c.selector;
    form->Command();
    PumpUntil([&] { return sim->Received().size() >= mark + c.sent.size(); }, 500ms);
    EXPECT_EQ(sim->Received().substr(mark), c.sent);
  }
  EXPECT_EQ(sim->State().resolution, '1');
  // From now on readings have 8 characters (4 1/2 digits).
  const std::size_t seen = watch->Count();
  ASSERT_TRUE(PumpUntil([&] { return watch->Count() >= seen + 2; }, 20000ms));
  EXPECT_EQ(watch->texts.back().size(), 8u) << watch->texts.back();
}

TEST_F(PanelCycle, FrequencyLayoutAndTheSkippedFirstReading) {
  Start();
  ASSERT_TRUE(ReachMeasuring());
  // What the function key does: choose, hide the display, skip one reading.
  form->Rod = 'F';
  form->Diap = '0';
  form->FlagFT = 1;
  form->FlagSkipLCD = 1;
  form->La_Data->SetVisible(false);
  form->CMD_Num = 1;
  form->Ti_CMD->SetEnabled(true);
  const std::size_t seen = watch->Count();
  ASSERT_TRUE(PumpUntil([&] { return watch->Count() >= seen + 1 && !watch->shownBefore.back(); }, 20000ms));
  EXPECT_FALSE(form->La_Data->Visible()) << "the first reading after the change stays hidden";
  ASSERT_TRUE(PumpUntil([&] { return form->La_Data->Visible(); }, 20000ms));
  const std::string text = form->La_Data->Caption();
  ASSERT_EQ(text.size(), 8u) << text;
  EXPECT_EQ(text[0], ' ');
  EXPECT_NE(text.find('.'), std::string::npos) << text;
  EXPECT_EQ(sim->State().function, 'F');
}

TEST_F(PanelCycle, GeneralResetSendsX0AndProbesAgain) {
  Start();
  ASSERT_TRUE(ReachMeasuring());
  form->Razresh = '0';  // the reset brings back the defaults
  const std::size_t mark = sim->Received().size();
  form->N19Click(nullptr);
  EXPECT_EQ(form->La_Stat->Caption(), app::kStatusReset);
  EXPECT_FALSE(form->La_Data->Visible());
  ASSERT_TRUE(PumpUntil([&] { return form->La_Stat->Caption() == app::kStatusSetup; }, 20000ms));
  EXPECT_EQ(form->Razresh, '2');
  ASSERT_TRUE(PumpUntil([&] { return form->La_Stat->Caption() == app::kStatusSetupDone; }, 20000ms));
  ASSERT_TRUE(PumpUntil([&] { return form->La_Data->Visible(); }, 20000ms));
  // A reading tick already pending when the reset came may take the probe's
  // answer, so the probe can go out more than once.
  const std::string after = sim->Received().substr(mark);
  ASSERT_GE(after.size(), 15u) << after;
  EXPECT_EQ(after.substr(0, 3), "X0\n");
  const std::size_t setupAt = after.find('G');
  ASSERT_NE(setupAt, std::string::npos) << after;
  EXPECT_GE(setupAt, 4u);
  EXPECT_EQ(after.substr(3, setupAt - 3), std::string(setupAt - 3, '!'));
  EXPECT_EQ(after.substr(setupAt), "G0B1Y0B1M1\n");
}

TEST_F(PanelCycle, ASilentInstrumentEndsTheWaitAndThePanelRecovers) {
  Start();
  ASSERT_TRUE(ReachMeasuring());
  sim->SetSilent(true);
  Clock::duration stall{};
  const std::clock_t cpuBefore = std::clock();
  const auto wallBefore = Clock::now();
  ASSERT_TRUE(PumpUntil([&] { return form->La_Stat->Caption() == app::kStatusNoLink; }, 6000ms,
                        &stall));
  const double cpu = static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
  const double wall = Seconds(Clock::now() - wallBefore);
  EXPECT_FALSE(form->La_Data->Visible());
  EXPECT_EQ(form->FlagSvyaz, 0);
  // The step's own limit, then the one probe's.
  EXPECT_LE(stall, app::kReplyLimit + app::kProbeLimit + 500ms) << "the window stood still too long";
  EXPECT_GE(stall, app::kReplyLimit - 100ms) << "the wait gave up early";
  EXPECT_LT(cpu, wall * 0.5) << "the wait must not spin";
  EXPECT_FALSE(form->Ti_Result->Enabled());
  EXPECT_FALSE(form->Ti_LCD->Enabled());

  PumpFor(1100ms);  // probing, unanswered
  EXPECT_EQ(form->La_Stat->Caption(), app::kStatusNoLink);
  sim->SetSilent(false);
  const std::size_t seen = watch->Count();
  ASSERT_TRUE(PumpUntil([&] { return watch->Count() > seen && form->La_Data->Visible(); }, 20000ms));
  // Back with the settings the panel held, and the status line says which.
  EXPECT_EQ(form->La_Stat->Caption(), "функция U=   диапазон 2V   запуск внутренний");
}

}  // namespace
