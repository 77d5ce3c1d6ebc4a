#include <gtest/gtest.h>

#include "errors/SioStrRes.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // The dispatch log's names and column header come from the message
  // strings.
  errors::TSioStringReaders readers;
  return RUN_ALL_TESTS();
}
