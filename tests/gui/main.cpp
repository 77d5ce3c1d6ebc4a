#include <cstdio>
#include <cstdlib>

#include "tests/support/ProgramEnvironment.h"

// On a real display Qt loads libraries that keep what they allocated until
// the process ends (the session bus for accessibility, the font cache); the
// leak checker of an address-sanitized build is told so here.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1\nleak:libfontconfig\n"; }

int main(int argc, char** argv) {
  // These tests are about what an offscreen run cannot show: they need the
  // display xvfb.sh gives them, never the offscreen platform.
  if (std::getenv("DISPLAY") == nullptr) {
    std::fprintf(stderr, "gui_tests: no DISPLAY; run them through tests/gui/xvfb.sh\n");
    return 1;
  }
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  return test::RunInProgramEnvironment(argc, argv, "gui");
}
