// The link between the panel and the instrument: pacing of the set-up,
// an instrument that falls silent in each state of the cycle or only
// speaks slowly, keys pressed meanwhile, the general reset, lines that
// hold no reading, a device that vanishes under the open port and another
// that takes its name, and the trace and log across all of it. The panel
// and the instrument must end up agreeing on every setting.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "PanelTestUtil.h"
#include "app/Unit1.h"
#include "framework/Menus.h"
#include "record/Reading.h"

namespace {

using namespace tesmar::test;
using app::TForm1;

const std::string kSetup = "G0B1Y0B1M1\n";
const std::string kTail = "   запуск внутренний";

// What the panel wrote after `mark`, without the probes that came first.
std::string AfterProbes(const std::string& written, std::size_t mark) {
  const std::string tail = written.substr(std::min(mark, written.size()));
  return tail.substr(std::min(tail.find_first_not_of('!'), tail.size()));
}

// A key or menu item clicked as the user clicks it; an exception goes to
// the default handler.
void Click(TForm1& form, const char* control) {
  framework::TComponent* found = form.FindComponent(control);
  ASSERT_NE(found, nullptr) << control;
  if (auto* button = dynamic_cast<framework::TButton*>(found)) {
    framework::CallGuarded(button, [button] { button->Click(); });
  } else {
    auto* item = dynamic_cast<framework::TMenuItem*>(found);
    framework::CallGuarded(item, [item] { item->Click(); });
  }
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Everything a trace file says was sent, in order: the bodies of its
// "Transmit" groups joined, without the lines' wrapping.
std::string Transmitted(const std::string& trace) {
  const std::string header = "Transmit: \r\n";
  std::string sent;
  for (std::size_t at = 0; at < trace.size();) {
    std::size_t end = trace.find("\r\n\r\n", at);
    if (end == std::string::npos) end = trace.size();
    if (trace.compare(at, header.size(), header) == 0) {
      for (std::size_t i = at + header.size(); i < end; ++i)
        if (trace[i] != '\r' && trace[i] != '\n') sent += trace[i];
    }
    at = end + 4;
  }
  return sent;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// The instrument's own settings changed as an earlier session left them.
void LeaveInstrumentOn(k4sim::Simulator& sim, const std::string& line) {
  const int fd = ::open(sim.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  ::close(fd);
}

std::vector<framework::TMenuItem*> FunctionItems(const TForm1& form) {
  return {form.N_I, form.N_J, form.N_V, form.N_U, form.N_R, form.N_Z, form.N_F, form.N_T};
}

// The function item that carries the mark, or "" when none or several do.
std::string MarkedFunction(const TForm1& form) {
  std::string marked;
  for (framework::TMenuItem* item : FunctionItems(form)) {
    if (!item->Checked()) continue;
    if (!marked.empty()) return "";
    marked = item->Name();
  }
  return marked;
}

// --- With the simulator ----------------------------------------------------

class PanelLink : public testing::Test {
 protected:
  void Start(k4sim::Options options = {}) {
    sim = StartSimulator(std::move(options));
    form = framework::NewObject<TForm1>();
    watch = std::make_unique<DisplayWatch>(*form);
  }
  // Measuring: the set-up is out and a reading has been shown.
  bool Measuring(std::chrono::milliseconds limit = 20000ms) {
    const std::size_t seen = watch->Count();
    return PumpUntil([&] { return form->FlagLinkUp && watch->Count() > seen && form->La_Data->Visible(); },
                     limit);
  }
  bool LinkLost(std::chrono::milliseconds limit = 20000ms) {
    return PumpUntil([&] { return !form->FlagLinkUp && form->La_Stat->Caption() == app::kStatusNoLink; },
                     limit);
  }
  // Clicks one control after the other, each once the command of the one
  // before has gone out (a command waiting for its tick is replaced by the
  // next one asked for).
  void ClickAndWait(std::initializer_list<const char*> controls) {
    for (const char* control : controls) {
      const std::size_t mark = sim->Received().size();
      Click(*form, control);
      ASSERT_TRUE(PumpUntil([&] {
        const std::string sent = sim->Received().substr(mark);
        return !sent.empty() && sent.back() == '\n';
      })) << control;
    }
  }
  void TearDown() override {
    watch.reset();
    form.reset();
    sim.reset();
  }

  std::unique_ptr<k4sim::Simulator> sim;
  std::unique_ptr<TForm1> form;
  std::unique_ptr<DisplayWatch> watch;
};

TEST_F(PanelLink, ASilenceKeepsWhatTheUserChose) {
  Start();
  ASSERT_TRUE(Measuring());
  ClickAndWait({"Bu_R", "Bu_Right", "N_H0"});
  const auto chosen = sim->State();
  ASSERT_EQ(std::string({chosen.function, chosen.range, chosen.resolution}), "R20");
  ASSERT_TRUE(Measuring());

  const std::size_t mark = sim->Received().size();
  sim->SetSilent(true);
  ASSERT_TRUE(LinkLost());
  EXPECT_FALSE(form->La_Data->Visible()) << "no reading of a link that is gone";
  sim->SetSilent(false);
  ASSERT_TRUE(Measuring());

  EXPECT_EQ(AfterProbes(sim->Received(), mark), kSetup + "R2H0A0W0S1N0Q0L1\n")
      << "the probe, the set-up and the restore, nothing else";
  const auto state = sim->State();
  EXPECT_EQ(state.function, 'R');
  EXPECT_EQ(state.range, '2');
  EXPECT_EQ(state.resolution, '0');
  EXPECT_EQ(form->Rod, 'R');
  EXPECT_EQ(form->Diap, '2');
  EXPECT_EQ(form->Razresh, '0');
  EXPECT_EQ(form->La_Stat->Caption(), "функция R   диапазон 20ком" + kTail);
  EXPECT_EQ(form->La_Razmer->Caption(), "ком");
  EXPECT_EQ(form->La_Forma->Caption(), " ");
  EXPECT_EQ(MarkedFunction(*form), "N_R");
  EXPECT_TRUE(form->N_H0->Checked());
  EXPECT_EQ(form->La_Data->Caption().size(), 7u) << form->La_Data->Caption();
}

TEST_F(PanelLink, AKeyWhileNothingAnswersIsKeptAndSentOnReturn) {
  ExceptionRecorder recorder;
  Start();
  ASSERT_TRUE(Measuring());
  sim->SetSilent(true);
  ASSERT_TRUE(LinkLost());

  Click(*form, "Bu_R");
  EXPECT_FALSE(form->Ti_CMD->Enabled()) << "no command step to wait in while the link is down";
  EXPECT_EQ(form->La_Stat->Caption(), app::kStatusNoLink);
  EXPECT_EQ(form->Rod, 'R');
  EXPECT_EQ(MarkedFunction(*form), "N_R");
  PumpFor(700ms);  // a probe or two, unanswered
  EXPECT_EQ(form->Rod, 'R') << "the choice survives the probing";

  const std::size_t mark = sim->Received().size();
  sim->SetSilent(false);
  ASSERT_TRUE(Measuring());
  EXPECT_EQ(AfterProbes(sim->Received(), mark), kSetup + "R1H2A0W0S1N0Q0L1\n");
  EXPECT_EQ(sim->State().function, 'R');
  EXPECT_EQ(form->La_Stat->Caption(), "функция R   диапазон 2ком" + kTail);
  EXPECT_EQ(MarkedFunction(*form), "N_R");
  EXPECT_TRUE(recorder.texts.empty());
}

TEST_F(PanelLink, ASlowInstrumentIsShownOnEveryLine) {
  k4sim::Options options;
  options.lineInterval = 4500ms;  // longer than a step's limit
  Start(options);
  ASSERT_TRUE(Measuring());
  const std::size_t mark = sim->Received().size();
  const std::uint64_t linesBefore = sim->Counters().lines;
  const std::size_t shownBefore = watch->Count();
  bool lost = false;
  ASSERT_TRUE(PumpUntil([&] {
    lost = lost || form->La_Stat->Caption() == app::kStatusNoLink;
    return watch->Count() >= shownBefore + 3;
  }, 20000ms));
  EXPECT_FALSE(lost);
  // A line may be on its way when counting stops, none may be passed over.
  EXPECT_LE(sim->Counters().lines - linesBefore, 4u);
  const std::string after = sim->Received().substr(mark);
  EXPECT_EQ(after, std::string(after.size(), '!')) << "probes only: no set-up again";
  for (std::size_t i = shownBefore; i < watch->Count(); ++i) EXPECT_TRUE(watch->shownBefore[i]);
  EXPECT_TRUE(form->La_Data->Visible());
}

TEST_F(PanelLink, ResetFromAcVoltageShowsTheDefaults) {
  Start();
  ASSERT_TRUE(Measuring());
  ClickAndWait({"N_V", "N_A", "N_H1"});
  ASSERT_EQ(sim->State().function, 'V');
  ASSERT_TRUE(Measuring());
  EXPECT_EQ(form->La_Forma->Caption(), "~");

  const std::size_t mark = sim->Received().size();
  Click(*form, "N19");
  ASSERT_TRUE(PumpUntil([&] { return form->La_Stat->Caption() == app::kStatusSetupDone; }, 20000ms));
  ASSERT_TRUE(Measuring());
  EXPECT_EQ(sim->Received().substr(mark, 3), "X0\n");
  EXPECT_EQ(AfterProbes(sim->Received(), mark + 3), kSetup);
  EXPECT_EQ(sim->State().function, 'U');
  EXPECT_EQ(form->La_Forma->Caption(), "=");
  EXPECT_EQ(form->La_Razmer->Caption(), "V");
  EXPECT_EQ(MarkedFunction(*form), "N_U");
  EXPECT_TRUE(form->N_H2->Checked());
  EXPECT_FALSE(form->N_A->Checked());
  EXPECT_EQ(form->La_Data->Caption().size(), 9u);
}

// The adapter pulled while measuring and plugged in again: one quiet event,
// then the panel finds the port again by itself and restores its settings.
TEST_F(PanelLink, AVanishedDeviceIsReopenedAndRestored) {
  ExceptionRecorder recorder;
  Start();
  ASSERT_TRUE(Measuring());
  Click(*form, "Bu_R");
  ASSERT_TRUE(PumpUntil([&] { return sim->State().function == 'R'; }));
  ASSERT_TRUE(Measuring());

  sim.reset();
  // What is left of an adapter's stable link while it is unplugged.
  const auto link = DosDevices() / "com1";
  std::filesystem::create_symlink("/nonexistent/tesmar-pulled-adapter", link);
  ASSERT_TRUE(PumpUntil([&] { return !form->SioComPort1->Open(); }, 20000ms));
  EXPECT_EQ(form->La_Stat->Caption(), app::kStatusNoLink);
  EXPECT_FALSE(form->La_Data->Visible());
  EXPECT_TRUE(form->Ti_Reopen->Enabled());
  PumpFor(1500ms);  // reopening fails meanwhile, silently
  EXPECT_FALSE(form->SioComPort1->Open());
  EXPECT_TRUE(recorder.texts.empty()) << recorder.texts.front();

  sim = StartSimulator();
  ASSERT_TRUE(Measuring());
  EXPECT_EQ(AfterProbes(sim->Received(), 0), kSetup + "R1H2A0W0S1N0Q0L1\n");
  EXPECT_EQ(sim->State().function, 'R');
  EXPECT_EQ(form->La_Stat->Caption(), "функция R   диапазон 2ком" + kTail);
  EXPECT_FALSE(form->Ti_Reopen->Enabled());
  EXPECT_TRUE(recorder.texts.empty());
}

// A meter an earlier session left on resistance: the start sends the
// panel's settings after the set-up, so the very first reading is of the
// function the panel shows.
TEST_F(PanelLink, AMeterLeftOnResistanceShowsThePanelsFunctionFromTheFirstReading) {
  sim = StartSimulator();
  LeaveInstrumentOn(*sim, "R1\n");
  ASSERT_TRUE(PumpUntil([&] { return sim->State().function == 'R'; }));
  const std::size_t mark = sim->Received().size();
  form = framework::NewObject<TForm1>();
  watch = std::make_unique<DisplayWatch>(*form);
  ASSERT_TRUE(Measuring());
  EXPECT_EQ(AfterProbes(sim->Received(), mark), kSetup + "U1H2A0W0S1N0Q0L1\n");
  EXPECT_EQ(sim->State().function, 'U');
  const std::string first = watch->texts.front();
  const std::vector<std::string> lines = sim->SentLines();
  const auto line =
      std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(first, 0) == 0; });
  ASSERT_NE(line, lines.end()) << first;
  EXPECT_EQ(line->find("Ohm"), std::string::npos) << "a resistance line shown as volts: " << *line;
  EXPECT_EQ(form->La_Stat->Caption(), "функция U=   диапазон 2V" + kTail);
  EXPECT_EQ(MarkedFunction(*form), "N_U");
}

// Lines without LF, or cut short: no text the recorder would call
// unreadable is shown, and once no readable line has come for a step's
// limit the strip says so instead of looking healthy, while the probe,
// which the instrument answers, keeps the link.
TEST_F(PanelLink, LinesWithoutAReadingAreNotShownAndTheStripSaysSo) {
  struct Case {
    const char* name;
    double dropLf;
    double cut;
  };
  for (const Case& c : {Case{"no line feeds", 1.0, 0.0}, Case{"cut lines", 0.0, 1.0}}) {
    SCOPED_TRACE(c.name);
    k4sim::Options options;
    options.dropLfRate = c.dropLf;
    options.cutLineRate = c.cut;
    Start(options);
    bool lost = false;
    std::string shownUnreadable;
    ASSERT_TRUE(PumpUntil(
        [&] {
          lost = lost || form->La_Stat->Caption() == app::kStatusNoLink;
          const record::Setting setting{static_cast<char>(form->Rod), static_cast<char>(form->Diap),
                                        static_cast<char>(form->Razresh)};
          // Blank is the display before its first reading.
          const std::string shown = form->La_Data->Caption();
          if (form->La_Data->Visible() && shown.find_first_not_of(' ') != std::string::npos &&
              record::ParseReading(shown, setting).kind == record::ReadingKind::Unreadable)
            shownUnreadable = shown;
          return form->La_Stat->Caption() == app::kStatusNoLines;
        },
        15000ms));
    EXPECT_FALSE(lost);
    EXPECT_EQ(shownUnreadable, "");
    EXPECT_FALSE(form->La_Data->Visible());
    PumpFor(1500ms);
    EXPECT_EQ(form->La_Stat->Caption(), app::kStatusNoLines);
    TearDown();
  }
}

// --trace and --log cover the whole run: the sessions before a speed
// change, before the device vanished and after it came back are all in
// the files, oldest first, none written over another.
TEST_F(PanelLink, TheTraceAndTheLogHoldEverySessionOfTheRun) {
  const auto folder = DosDevices().parent_path();
  app::TPortDiagnostics diagnostics;
  diagnostics.traceFile = (folder / "run.trc").string();
  diagnostics.logFile = (folder / "run.log").string();
  sim = StartSimulator();
  form = framework::NewObject<TForm1>(diagnostics);
  watch = std::make_unique<DisplayWatch>(*form);
  ASSERT_TRUE(Measuring());
  Click(*form, "N48001");
  ASSERT_TRUE(Measuring());
  Click(*form, "Bu_R");
  ASSERT_TRUE(PumpUntil([&] { return sim->State().function == 'R'; }));

  sim.reset();
  std::filesystem::create_symlink("/nonexistent/tesmar-pulled-adapter", DosDevices() / "com1");
  ASSERT_TRUE(PumpUntil([&] { return !form->SioComPort1->Open(); }, 20000ms));
  sim = StartSimulator();
  ASSERT_TRUE(Measuring());
  watch.reset();
  form.reset();

  const std::string sent = Transmitted(ReadFile(folder / "run.trc"));
  EXPECT_EQ(Occurrences(sent, "G0B1Y0B1M1[0A]"), 3u) << sent;
  // The sessions in their order: the start, the one after the speed
  // change (where R was chosen), the one after the device came back.
  const std::size_t chosen = sent.find("R1[0A]");
  ASSERT_NE(chosen, std::string::npos) << sent;
  EXPECT_EQ(Occurrences(sent.substr(0, chosen), "G0B1Y0B1M1[0A]"), 2u);
  EXPECT_NE(sent.find("G0B1Y0B1M1[0A]R1H2A0W0S1N0Q0L1[0A]", chosen), std::string::npos);
  // A reopen whose probe found no answer within its second adds a short
  // session of its own.
  EXPECT_GE(Occurrences(ReadFile(folder / "run.log"), "SIO v3.02"), 3u);
}

// --- With a scripted instrument ----------------------------------------------

// Every set-up character leaves only once the previous one was answered:
// each answer finds exactly the character it answers written, no more.
TEST(PanelPacing, SetUpCharactersWaitForTheirAnswers) {
  FakeCom1 device;
  ScriptedPeer peer(device.Device(), 20ms, Clock::duration::zero());
  auto form = framework::NewObject<TForm1>();
  ASSERT_TRUE(PumpUntil([&] { return form->FlagLinkUp != 0; }, 20000ms));
  const std::string written = device->Written();
  const std::size_t setupAt = written.find('G');
  ASSERT_NE(setupAt, std::string::npos);
  ASSERT_EQ(written.substr(setupAt, kSetup.size()), kSetup);
  int paced = 0;
  for (const auto& [index, writtenThen] : peer.Answers()) {
    if (index < setupAt || index >= setupAt + kSetup.size()) continue;
    EXPECT_EQ(writtenThen, index + 1) << "character " << index - setupAt << " of the set-up";
    ++paced;
  }
  EXPECT_EQ(paced, static_cast<int>(kSetup.size()));
}

// The instrument falls silent in each state of the cycle and comes back;
// the panel probes, then sets it up and restores what it holds.
TEST(PanelSilence, InEachStateOfTheCycle) {
  struct Case {
    const char* state;
    std::function<void(TForm1&, ScriptedPeer&, FakeCom1&, DisplayWatch&)> silence;
    std::string restore;  // what follows the set-up on return
  };
  const auto measuring = [](TForm1& form, DisplayWatch& watch) {
    return PumpUntil([&] { return form.FlagLinkUp && watch.Count() > 0; }, 6000ms);
  };
  const std::vector<Case> cases = {
      {"probing", [](TForm1&, ScriptedPeer& peer, FakeCom1&, DisplayWatch&) { peer.SetSilent(true); },
       "U1H2A0W0S1N0Q0L1\n"},
      {"set-up",
       [](TForm1&, ScriptedPeer& peer, FakeCom1&, DisplayWatch&) {
         peer.SilenceWhen([](const std::string& w) {
           const std::size_t g = w.find('G');
           return g != std::string::npos && w.size() > g + 3;
         });
       },
       "U1H2A0W0S1N0Q0L1\n"},
      {"command",
       [&](TForm1& form, ScriptedPeer& peer, FakeCom1& device, DisplayWatch& watch) {
         ASSERT_TRUE(measuring(form, watch));
         const std::size_t sent = device->Written().size();
         peer.SilenceWhen([sent](const std::string& w) { return w.size() > sent; });
         Click(form, "Bu_R");
       },
       "R1H2A0W0S1N0Q0L1\n"},
      {"reading",
       [&](TForm1& form, ScriptedPeer& peer, FakeCom1&, DisplayWatch& watch) {
         ASSERT_TRUE(measuring(form, watch));
         peer.SetSilent(true);
       },
       "U1H2A0W0S1N0Q0L1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    FakeCom1 device;
    ScriptedPeer peer(device.Device(), 0ms, 250ms);
    if (std::string(c.state) == "probing") peer.SetSilent(true);
    auto form = framework::NewObject<TForm1>();
    DisplayWatch watch(*form);
    c.silence(*form, peer, device, watch);
    ASSERT_TRUE(PumpUntil([&] {
      return !form->FlagLinkUp && form->Ti_Diag->Enabled() &&
             form->La_Stat->Caption() == app::kStatusNoLink &&
             device->Written().find_last_not_of('!') + 1 < device->Written().size();
    }, 8000ms));
    const std::size_t mark = device->Written().size();
    peer.SetSilent(false);
    const std::size_t shown = watch.Count();
    ASSERT_TRUE(PumpUntil([&] { return form->FlagLinkUp && watch.Count() > shown; }, 20000ms));
    EXPECT_EQ(AfterProbes(device->Written(), mark), kSetup + c.restore);
  }
}

// --- Without a link: the panel alone -------------------------------------------

class PanelReset : public testing::Test {
 protected:
  void SetUp() override {
    form = framework::NewObject<TForm1>();
    form->Ti_Reset->SetEnabled(false);
    form->Ti_Diag->SetEnabled(false);
  }
  FakeCom1 device;
  std::unique_ptr<TForm1> form;
};

// The reset brings back the defaults whatever function and switches were
// chosen: the settings, the marks, the sign, the unit.
TEST_F(PanelReset, FromEveryFunctionTheMarksSignAndUnitFollow) {
  for (const char* function : {"N_I", "N_J", "N_V", "N_U", "N_R", "N_Z", "N_F", "N_T"}) {
    SCOPED_TRACE(function);
    form->FlagLinkUp = 1;
    for (const char* control : {function, "N_A", "N_W", "N_N", "N_Q", "N_S", "N_L", "N_K", "N_H0"})
      Click(*form, control);
    Click(*form, "N19");
    EXPECT_EQ(form->CommandText(form->CMD_Num), "X0\n");
    form->Ti_CMD->SetEnabled(false);
    form->Ti_ResetTimer(nullptr);  // the tick after the reset command
    form->Ti_Diag->SetEnabled(false);
    EXPECT_EQ(form->Rod, 'U');
    EXPECT_EQ(form->Diap, '1');
    EXPECT_EQ(form->Razresh, '2');
    EXPECT_EQ(form->FlagPerem, 0);
    EXPECT_EQ(form->FlagFT, 0);
    EXPECT_EQ(MarkedFunction(*form), "N_U");
    EXPECT_TRUE(form->N_H2->Checked());
    EXPECT_TRUE(form->N_G0->Checked());
    for (framework::TMenuItem* off : {form->N_A, form->N_W, form->N_N, form->N_Q, form->N_K})
      EXPECT_FALSE(off->Checked()) << off->Name();
    EXPECT_TRUE(form->N_L->Checked());
    EXPECT_TRUE(form->N_S->Checked());
    EXPECT_EQ(form->La_Forma->Caption(), "=");
    EXPECT_EQ(form->La_Razmer->Caption(), "V");
    EXPECT_EQ(form->La_Stat->Caption(), app::kStatusSetup);
  }
}

// With the link down nothing can be sent: keys and the reset change the
// panel at once, and the restore that follows the set-up carries them.
TEST_F(PanelReset, WhileTheLinkIsDownChoicesWaitForTheRestore) {
  ASSERT_EQ(form->FlagLinkUp, 0);
  for (const char* control : {"Bu_R", "Bu_Right", "N_W", "N_K", "N_L"}) Click(*form, control);
  EXPECT_FALSE(form->Ti_CMD->Enabled());
  EXPECT_EQ(form->La_Stat->Caption(), app::kStatusNoLink);
  EXPECT_EQ(form->RestoreText(), "R2H2A0W1S1N0Q0L0K0\n");

  Click(*form, "N19");
  EXPECT_FALSE(form->Ti_CMD->Enabled());
  EXPECT_EQ(form->La_Stat->Caption(), app::kStatusNoLink);
  EXPECT_EQ(MarkedFunction(*form), "N_U");
  EXPECT_FALSE(form->N_W->Checked());
  EXPECT_TRUE(form->N_L->Checked());
  EXPECT_EQ(form->RestoreText(), "U1H2A0W0S1N0Q0L1\n");
  EXPECT_EQ(device->Written().find_first_not_of('!'), std::string::npos) << "probes only";
}

// A vanished port that the user then changes on purpose is the user's: it
// is not reopened by itself.
TEST(PanelPort, APortTheUserChoseIsNotReopened) {
  ExceptionRecorder recorder;
  FakeCom1 device;
  auto form = framework::NewObject<TForm1>();
  PumpFor(50ms);
  device->Vanish();
  ASSERT_TRUE(PumpUntil([&] { return !form->SioComPort1->Open(); }, 20000ms));
  EXPECT_TRUE(form->Ti_Reopen->Enabled());
  EXPECT_TRUE(recorder.texts.empty());

  const auto link = DosDevices() / "com2";
  std::filesystem::remove(link);
  std::filesystem::create_symlink("/nonexistent/tesmar-test-port", link);
  Click(*form, "Com21");
  EXPECT_EQ(recorder.texts.size(), 1u) << "the user's own open fails visibly";
  EXPECT_FALSE(form->Ti_Reopen->Enabled());
  auto back = platform::FakeSerialDevice::Register(1);
  PumpFor(1500ms);
  EXPECT_FALSE(back->IsOpen());
  EXPECT_FALSE(form->SioComPort1->Open());
  form.reset();
  std::filesystem::remove(link);
}

// After the device vanished, another one that takes its COM number (the
// system names it otherwise) is left alone: nothing is sent to it, and the
// panel goes on waiting for its own.
TEST(PanelPort, AnotherDeviceUnderTheSameNameIsNotTaken) {
  ExceptionRecorder recorder;
  FakeCom1 device;
  std::string present = "usb:0403:6001:A1";
  auto form = framework::NewObject<TForm1>();
  form->DeviceIdentity = [&](comport::Word number) { return number == 1 ? present : ""; };
  Click(*form, "Com11");  // opened by the user: the device is the panel's
  device->Vanish();
  ASSERT_TRUE(PumpUntil([&] { return !form->SioComPort1->Open(); }, 20000ms));

  auto other = platform::FakeSerialDevice::Register(1);
  present = "usb:1a86:7523:B2";
  PumpFor(2500ms);
  EXPECT_EQ(other->Written(), "");
  EXPECT_FALSE(other->IsOpen());
  EXPECT_FALSE(form->SioComPort1->Open());
  EXPECT_TRUE(form->Ti_Reopen->Enabled()) << "still waiting for its own device";

  present = "usb:0403:6001:A1";  // the panel's adapter under that number again
  ASSERT_TRUE(PumpUntil([&] { return other->Written().find('!') != std::string::npos; }, 20000ms));
  EXPECT_TRUE(form->SioComPort1->Open());
  EXPECT_TRUE(recorder.texts.empty()) << recorder.texts.front();
}

}  // namespace
