// The framework tests run with the application initialised (on the
// offscreen platform under CTest), as the program does.
#include <gtest/gtest.h>

#include "framework/Application.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  framework::Application->Initialize();
  int result = RUN_ALL_TESTS();
  framework::Application->Shutdown();
  return result;
}
