// The errors a client of the SCPI server can read back with
// SYSTem:ERRor?: the standard numbers and texts, and the queue each client
// has of its own.
//
// A queue holds kErrorQueueCapacity errors, oldest first. When it is full
// the newest place is taken by -350 "Queue overflow" and later errors are
// lost, as SCPI has it; reading one makes room again.
//
// Thread safety: plain values; one thread at a time.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace scpi {

enum ErrorCode : int {
  kNoError = 0,
  kCommandError = -100,
  kInvalidCharacter = -101,
  kSyntaxError = -102,
  kParameterNotAllowed = -108,
  kMissingParameter = -109,
  kUndefinedHeader = -113,
  kSettingsConflict = -221,
  kDataOutOfRange = -222,
  kIllegalParameterValue = -224,
  kDataCorruptOrStale = -230,
  kHardwareError = -240,
  kQueueOverflow = -350,
  kInputBufferOverrun = -363,
};

// An error with what the client should know besides its standard text
// (printable ASCII; may be empty).
struct Error {
  int code = kNoError;
  std::string detail;
  bool operator==(const Error&) const = default;
};

// The standard text of a code ("Undefined header"); "Unknown error" for a
// code not listed above.
std::string_view ErrorText(int code);
// The answer to SYSTem:ERRor?: `-113,"Undefined header;FOO"`, or
// `0,"No error"`. Quotes in the detail are doubled.
std::string ErrorAnswer(const Error& error);

inline constexpr std::size_t kErrorQueueCapacity = 20;

class ErrorQueue {
 public:
  void Push(Error error);
  // The oldest error, removed; {0} when there is none.
  Error Pop();
  void Clear() { errors_.clear(); }
  std::size_t Size() const { return errors_.size(); }

 private:
  std::deque<Error> errors_;
};

}  // namespace scpi
