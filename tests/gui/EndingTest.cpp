// How the program itself ends on a real display: without a display it
// says so in one line; a signal ends it in order whatever it is doing (a
// box open, a trace that cannot be written, a reader of its rows that
// left), and, when it cannot end in order, still ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "GuiTestUtil.h"
#include "tools/k4sim/Simulator.h"

namespace {

namespace fs = std::filesystem;
using namespace tesmar::gui;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::unique_ptr<k4sim::Simulator> SimulatorAsCom1() {
  std::error_code ignored;
  fs::remove(DosDevices() / "com1", ignored);
  k4sim::Options options;
  options.comNumber = 1;
  options.dosdevices = DosDevices().string();
  return std::make_unique<k4sim::Simulator>(options);
}

bool InstrumentSetUp(const k4sim::Simulator& sim) {
  for (int i = 0; i < 200; ++i) {
    if (sim.Received().find("G0B1Y0B1M1\n") != std::string::npos) return true;
    std::this_thread::sleep_for(100ms);
  }
  return false;
}

TEST(Ending, WithoutADisplayTheWindowSaysSoInOneLine) {
  PrivateDisplay gone;
  const std::string dead = gone.Name();
  gone.Kill();
  struct Case {
    const char* name;
    std::string display;
  };
  const Case cases[] = {{"no DISPLAY", ""}, {"a DISPLAY without a server", dead}};
  const fs::path errors = DosDevices().parent_path() / "nodisplay.err";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramRun program(c.display, {}, errors.string(), {"QT_QPA_PLATFORM=", "WAYLAND_DISPLAY="});
    const auto status = program.Wait(20s);
    ASSERT_TRUE(status.has_value()) << "still running without a display";
    ASSERT_TRUE(WIFEXITED(*status)) << "signal " << WTERMSIG(*status);
    EXPECT_EQ(WEXITSTATUS(*status), 2);
    const std::string text = ReadFile(errors);
    EXPECT_EQ(text.rfind("tesmar: no display", 0), 0u) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_NE(text.find("--headless"), std::string::npos) << text;
  }
}

TEST(Ending, ASignalEndsThePanelInEveryState) {
  const fs::path scratch = DosDevices().parent_path() / "ending";
  fs::create_directories(scratch);
  const fs::path fifo = scratch / "reader.fifo";
  const fs::path stuck = scratch / "stuck.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(stuck.c_str(), 0600), 0);
  struct Case {
    const char* name;
    bool instrument;  // the simulator as COM1, or COM1 missing
    std::vector<std::string> args;
    int signal;
    std::function<void()> meanwhile;  // between the window's showing and the signal
    int exitCode;
    const char* errorSays;  // on standard error ("" for nothing asked)
    fs::path written;       // a trace that must be there afterwards
  };
  int reader = -1;
  const Case cases[] = {
      {"start-up box open", false, {}, SIGTERM, nullptr, 0, "", {}},
      {"trace to a full disk",
       true,
       {"--trace=/dev/full"},
       SIGTERM,
       nullptr,
       0,
       "\"/dev/full\": Disk full",
       {}},
      {"terminal closed",
       true,
       {"--trace=" + (scratch / "hup.trc").string()},
       SIGHUP,
       nullptr,
       0,
       "",
       scratch / "hup.trc"},
      // The reader takes two rows and leaves: the recording stops with its
      // message, the panel goes on until the signal.
      {"reader of the rows left",
       true,
       {"--record", fifo.string()},
       SIGTERM,
       [&] {
         std::string rows;
         char c;
         while (std::count(rows.begin(), rows.end(), '\n') < 2) {
           if (::read(reader, &c, 1) == 1)
             rows += c;
           else
             std::this_thread::sleep_for(10ms);
         }
         ::close(reader);
         std::this_thread::sleep_for(2s);
       },
       0,
       "",
       {}},
      // A trace file that takes nothing holds the close: the program still
      // ends, saying so.
      {"trace into a FIFO nobody reads",
       true,
       {"--trace=" + stuck.string()},
       SIGINT,
       nullptr,
       1,
       "ending at once",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<k4sim::Simulator> sim;
    if (c.instrument)
      sim = SimulatorAsCom1();
    else
      LinkCom1(DosDevices() / "gone");
    if (c.meanwhile) reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    PrivateDisplay display;
    const fs::path errors = scratch / "errors.txt";
    ProgramRun program(display.Name(), c.args, errors.string());
    ASSERT_TRUE(WindowShown(display.Name(), c.instrument ? "K4-18/3" : "^Tesmar$"));
    if (sim) {
      ASSERT_TRUE(InstrumentSetUp(*sim));
    }
    if (c.meanwhile) c.meanwhile();
    program.Signal(c.signal);
    const auto status = program.Wait(20s);
    ASSERT_TRUE(status.has_value()) << "still running after the signal";
    ASSERT_TRUE(WIFEXITED(*status)) << "signal " << WTERMSIG(*status);
    EXPECT_EQ(WEXITSTATUS(*status), c.exitCode) << ReadFile(errors);
    EXPECT_NE(ReadFile(errors).find(c.errorSays), std::string::npos) << ReadFile(errors);
    if (!c.written.empty()) {
      EXPECT_EQ(ReadFile(c.written).rfind("Transmit: \r\n!", 0), 0u);
    }
  }
}

}  // namespace
