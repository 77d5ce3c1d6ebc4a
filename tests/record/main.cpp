// The recorder's tests; the window's tests need a Qt application.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

// Qt converts and encodes pictures (the chart's PNG) on its own thread
// pool, synchronised inside Qt's libraries, which this build does not
// instrument: the thread sanitizer sees Qt's allocations change hands
// without the locks that order them. Only reports whose stacks lie in
// those libraries are left out; our own code is not among them.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libQt6Core.so.6\nrace:libQt6Gui.so.6\nrace:libpng16.so.16\n";
}

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
