// Carrying out the clients' lines on a panel that behaves as the real one
// does where it matters here: a setting made is a command that waits to go
// out until the test lets it, and readings come when the test says.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "scpi/Executor.h"

namespace {

using namespace std::chrono_literals;
using scpi::MeterSetting;
using Clock = scpi::Executor::Clock;

class FakeMeter : public scpi::Meter {
 public:
  MeterSetting Present() const override { return setting; }
  // One command a step, as the panel: function and range, then
  // auto-ranging, range, resolution.
  bool ApplyStep(const MeterSetting& s) override {
    if (busy) ++stepsWhileBusy;
    if (s.function != setting.function) {
      setting.function = s.function;
      setting.range = s.range;
    } else if (s.autoRange != setting.autoRange) {
      setting.autoRange = s.autoRange;
    } else if (s.range != setting.range) {
      setting.range = s.range;
    } else if (s.resolution != setting.resolution) {
      setting.resolution = s.resolution;
    } else {
      return false;
    }
    busy = true;
    ++applied;
    return true;
  }
  void Reset() override {
    setting = MeterSetting{};
    busy = true;
    ++resets;
  }
  bool Busy() const override { return busy; }
  bool ShownReadingPending() const override { return pending; }

  MeterSetting setting;
  bool busy = false;
  bool pending = false;
  int applied = 0;
  int stepsWhileBusy = 0;
  int resets = 0;
};

class ScpiExecutor : public testing::Test {
 protected:
  ScpiExecutor() : executor(meter, "Tesmar,K4-18/3,0,1", 5s) {
    executor.OnAnswer = [this](scpi::ClientId client, const std::string& answer) {
      answers.emplace_back(client, answer);
    };
  }

  void Line(scpi::ClientId client, const char* text) { executor.Line(client, text, now); }
  void Show(double value, record::ReadingKind kind = record::ReadingKind::Value) {
    now += 1s;
    executor.Reading(record::Reading{kind, value, "Ω"}, meter.setting, now);
  }
  // The command goes out: the panel is no longer busy.
  void CommandOut() {
    meter.busy = false;
    now += 10ms;
    executor.Tick(now);
  }
  std::string Errors(scpi::ClientId client) {
    answers.clear();
    Line(client, "SYST:ERR?;SYST:ERR?;SYST:ERR?");
    return answers.at(0).second;
  }

  FakeMeter meter;
  scpi::Executor executor;
  Clock::time_point now = Clock::now();
  std::vector<std::pair<scpi::ClientId, std::string>> answers;
};

TEST_F(ScpiExecutor, EveryLineAnsweredOnceWithItsQueriesJoined) {
  Line(1, "*IDN?;*CLS;CONF?");
  Line(1, "*CLS");
  Line(2, "FOO?");
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_EQ(answers[0],
            std::make_pair(scpi::ClientId{1},
                           std::string("Tesmar,K4-18/3,0,1;\"VOLT +2.00000000E+00,+1.00000000E-05\"\n")));
  EXPECT_EQ(answers[1].second, "");
  EXPECT_EQ(answers[2].second, "");
  // Each client reads its own errors only.
  EXPECT_EQ(Errors(1), "0,\"No error\";0,\"No error\";0,\"No error\"\n");
  EXPECT_EQ(Errors(2), "-113,\"Undefined header;FOO\";0,\"No error\";0,\"No error\"\n");
}

// The reading shown when the command went out and the one after it may
// have been taken before the setting: neither answers.
TEST_F(ScpiExecutor, MeasureAnswersTheFirstReadingWhollyAfterTheSetting) {
  Line(1, "MEAS:RES? 2E4");
  EXPECT_EQ(meter.setting, (MeterSetting{'R', '2', false, '2'}));
  Show(1.0);  // read while the command still waited
  meter.pending = true;
  CommandOut();
  Show(2.0);
  Show(3.0);
  EXPECT_TRUE(answers.empty());
  Show(4.0);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].second, "+4.00000000E+00\n");
  // READ? likewise from the query on; FETCh? takes the latest at once.
  meter.pending = false;
  Line(1, "READ?");
  Show(5.0);
  Show(6.0);
  Line(1, "FETC?");
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_EQ(answers[1].second, "+6.00000000E+00\n");
  EXPECT_EQ(answers[2].second, "+6.00000000E+00\n");
}

// The panel sends only the last command asked for before its command
// step: each part of a setting waits for the one before to go out.
TEST_F(ScpiExecutor, ASettingGoesOutOneCommandAtATime) {
  Line(1, "CONF:RES 2E4,MAX;:CONF:VOLT AUTO;*OPC?");
  EXPECT_EQ(meter.applied, 1);
  executor.Tick(now);
  EXPECT_EQ(meter.applied, 1);
  for (int out = 2; out <= 4; ++out) {
    CommandOut();
    EXPECT_EQ(meter.applied, out);
  }
  CommandOut();
  EXPECT_EQ(meter.setting, (MeterSetting{'U', '2', true, '0'}));
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].second, "1\n");
  EXPECT_EQ(meter.stepsWhileBusy, 0);
}

TEST_F(ScpiExecutor, LinesOfAllClientsRunInArrivalOrder) {
  Line(1, "MEAS:VOLT? 20");
  Line(2, "CONF:RES;*IDN?");
  Line(1, "CONF?");
  EXPECT_EQ(meter.applied, 1);  // the second client waits for the first's reading
  CommandOut();
  Show(1.0);
  Show(2.0);
  EXPECT_EQ(answers.size(), 1u);
  CommandOut();
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_EQ(answers[0], std::make_pair(scpi::ClientId{1}, std::string("+2.00000000E+00\n")));
  EXPECT_EQ(answers[1].first, 2u);
  EXPECT_EQ(answers[2],
            std::make_pair(scpi::ClientId{1}, std::string("\"RES +2.00000000E+04,+1.00000000E-01\"\n")));
}

TEST_F(ScpiExecutor, NoQueryOutwaitsTheInstrument) {
  Line(1, "READ?;*OPC?");
  meter.busy = true;
  now += 4s;
  executor.Tick(now);
  EXPECT_TRUE(answers.empty());
  now += 1s;
  executor.Tick(now);
  EXPECT_TRUE(answers.empty());  // READ? is through; *OPC? has its own time
  now += 5s;
  executor.Tick(now);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].second, "+9.91000000E+37;1\n");
  EXPECT_EQ(Errors(1),
            "-240,\"Hardware error;no answer from the instrument\";"
            "-240,\"Hardware error;no answer from the instrument\";0,\"No error\"\n");
  EXPECT_FALSE(executor.Waiting());
}

TEST_F(ScpiExecutor, OverloadsAndUnreadableReadings) {
  Line(1, "READ?;READ?");
  Show(0);
  Show(0, record::ReadingKind::Overload);
  Show(0);
  Show(0, record::ReadingKind::Unreadable);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].second, "+9.90000000E+37;+9.91000000E+37\n");
  EXPECT_EQ(Errors(1),
            "-230,\"Data corrupt or stale;the reading is not a number\";0,\"No error\";0,\"No error\"\n");
}

TEST_F(ScpiExecutor, APanelKeyUnderAMeasurementIsAConflict) {
  Line(1, "MEAS:VOLT? 2;:MEAS:VOLT? 2");
  CommandOut();
  Show(1.0);
  meter.setting.function = 'R';  // the user picks resistance meanwhile
  executor.Tick(now);
  // The second measurement sets volts again and is answered.
  CommandOut();
  Show(2.0);
  Show(3.0);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].second, "+9.91000000E+37;+3.00000000E+00\n");
  EXPECT_EQ(Errors(1).substr(0, 5), "-221,");
}

TEST_F(ScpiExecutor, ResetAndOpcWaitForThePanel) {
  meter.setting = MeterSetting{'R', '3', true, '0'};
  Line(1, "*RST;CONF?");
  EXPECT_EQ(meter.resets, 1);
  EXPECT_TRUE(answers.empty());
  CommandOut();
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].second, "\"VOLT +2.00000000E+00,+1.00000000E-05\"\n");
}

TEST_F(ScpiExecutor, AClientThatGoesStillHasItsLinesCarriedOut) {
  Line(1, "MEAS:RES?");
  Line(1, "CONF:FREQ;NO:SUCH");
  executor.Gone(1);
  CommandOut();
  Show(1.0);
  Show(2.0);
  CommandOut();
  EXPECT_EQ(meter.setting.function, 'F');
  EXPECT_EQ(executor.Clients(), 0u);
  executor.Overrun(2, now);
  EXPECT_EQ(executor.QueuedErrors(2), 1u);
  EXPECT_EQ(answers.size(), 2u);  // an overrun answers nothing
}

}  // namespace
