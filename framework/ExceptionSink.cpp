#include "framework/ExceptionSink.h"

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <utility>

namespace framework {

namespace {

TExceptionSink& TheSink() {
  static TExceptionSink sink;
  return sink;
}

void PrintCurrent() {
  try {
    throw;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Unknown exception\n");
  }
}

}  // namespace

void SetExceptionSink(TExceptionSink sink) { TheSink() = std::move(sink); }

void HandleException(TObject* Sender) noexcept {
  if (!std::current_exception()) return;
  try {
    if (TheSink())
      TheSink()(Sender);
    else
      PrintCurrent();
  } catch (...) {
    // The sink itself failed; there is nobody left to tell but stderr.
    std::fprintf(stderr, "exception in the exception handler\n");
  }
}

}  // namespace framework
