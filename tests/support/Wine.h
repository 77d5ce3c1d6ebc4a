// Whether the test runs under Wine (scripts/cross.sh --test sets
// TESMAR_UNDER_WINE). Wine is a second implementation of the system's
// functions: a test that notices where it differs from Windows leaves
// itself out under Wine, saying why, and keeps asserting Windows' way.
#pragma once

#include <cstdlib>

namespace tests {

inline bool UnderWine() { return std::getenv("TESMAR_UNDER_WINE") != nullptr; }

}  // namespace tests
