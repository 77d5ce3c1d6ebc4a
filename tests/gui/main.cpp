#include <cstdio>
#include <cstdlib>

#include "tests/support/ProgramEnvironment.h"

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
