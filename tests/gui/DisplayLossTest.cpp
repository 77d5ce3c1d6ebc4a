// The program itself on a display of its own that goes away: it must end
// with an error code, not a crash, whatever it was doing.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <thread>

#include "GuiTestUtil.h"
#include "tools/k4sim/Simulator.h"

namespace {

namespace fs = std::filesystem;
using namespace tesmar::gui;

TEST(DisplayLoss, TheProgramEndsWithAnErrorCodeNotACrash) {
  struct Case {
    const char* name;
    bool instrument;      // the simulator as COM1, or COM1 missing
    const char* window;   // what is on the screen when the display goes
  };
  const Case cases[] = {
      {"measuring", true, "K4-18/3"},
      {"start-up message box open", false, "^Tesmar$"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Without a link COM1 would be the machine's first serial port; the
    // simulator makes its own.
    std::error_code ignored;
    fs::remove(DosDevices() / "com1", ignored);
    if (!c.instrument) LinkCom1(DosDevices() / "gone");
    std::unique_ptr<k4sim::Simulator> sim;
    if (c.instrument) {
      k4sim::Options options;
      options.comNumber = 1;
      options.dosdevices = DosDevices().string();
      sim = std::make_unique<k4sim::Simulator>(options);
    }
    PrivateDisplay display;
    ProgramRun program(display.Name());
    ASSERT_TRUE(WindowShown(display.Name(), c.window));
    display.Kill();
    const auto status = program.Wait(20s);
    ASSERT_TRUE(status.has_value()) << "still running without its display";
    EXPECT_FALSE(WIFSIGNALED(*status)) << "signal " << WTERMSIG(*status);
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_NE(WEXITSTATUS(*status), 0);
  }
}

}  // namespace
