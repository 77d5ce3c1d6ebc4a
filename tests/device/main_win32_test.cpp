// The device tests' start-up on Windows: they run on the program's main
// thread, as on Linux (main.cpp), and the system's COM names need no
// private folder.
#include <gtest/gtest.h>

#include "platform/thread.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  platform::SetMainThreadId(platform::GetCurrentThreadId());
  return RUN_ALL_TESTS();
}
