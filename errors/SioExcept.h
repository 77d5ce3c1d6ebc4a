// Exceptions of the communications classes and the error check that turns
// result codes into them.
//
// Below the port component nothing raises for a device failure: operations
// return result codes (SioCodes.h). The port component passes the codes it
// checks to CheckResult, which leaves non-negative codes alone and raises
// the class that belongs to a negative one, with the text of the code's
// magnitude from the error-message resource (SioStrRes.h).
//
// Classes (each a distinct type, catchable by its parent), declared from
// the error table SioErrorTable.def together with the codes they belong to:
//   ESIOException
//     EGeneral    -1002 .. -1009 (and the INI codes -7003, -7006, -7012,
//                 which raise EInternal)
//     EOpenComm   -2001 .. -2012
//     ESerialIO   -3001 .. -3010
//     EModem      -4001 .. -4008
//     ETrigger    -5002, -5003
//     EProtocol   -6006, -6008, -6009 (no children)
//     EINI        -7001 .. -7014
//     EFax        -8001 .. -8070
//     ETapi       -13801 .. -13942
//     ERas        -13980
// Outside the tree: EInOutError (-2 .. -162 but -8, with its error code),
// EOutOfMemory (-8, "Out of memory") and EStringResourceError (SioStrRes.h).
#pragma once

#include <concepts>
#include <cstdint>
#include <string>

#include "errors/SioCodes.h"
#include "framework/Exception.h"

namespace errors {

// The text of message `id` (its magnitude is used): the error-message
// resource's entry, at most 255 characters; when that is missing or empty,
// the operating system's text for error number |id|, at most 255
// characters, with every control character made a space and runs of spaces
// made single (so a text ending in CR LF ends in one space); the empty text
// when neither source has one. Never raises.
//
// Thread safety: may be called from any thread.
std::string ErrorText(std::int16_t id);

// The same for a 32-bit magnitude: ids beyond the 16-bit range have no
// resource entry, and ask the operating system only.
std::string ErrorTextOf(std::int32_t id);

// The cleaning ErrorText applies to a system text: every character below
// space becomes a space, then each run of spaces becomes one.
std::string CleanSystemText(std::string text);

// Thread safety of every exception class below: an immutable value once
// thrown; may be copied and read from any thread.
class ESIOException : public framework::Exception {
 public:
  // Create(Code): ResultCode = code, the message is ErrorText of |code|.
  explicit ESIOException(std::int32_t code);
  // ResultCode = code, the message as given (CreateText when code is 0).
  ESIOException(std::int32_t code, std::string message);

  static ESIOException Create(std::int32_t code) { return ESIOException(code); }
  static ESIOException CreateText(std::string message) {
    return ESIOException(0, std::move(message));
  }

  // The result code that caused the exception; 0 when made from a text.
  std::int32_t ResultCode() const noexcept { return resultCode_; }

 private:
  std::int32_t resultCode_;
};

// Declares one class of the tree: it adds nothing to its parent but its own
// type and the Create/CreateText that make it.
#define TESMAR_SIO_EXCEPTION(Name, Parent)                                       \
  class Name : public Parent {                                                   \
   public:                                                                       \
    using Parent::Parent;                                                        \
    static Name Create(std::int32_t code) { return Name(code); }                 \
    static Name CreateText(std::string message) { return Name(0, std::move(message)); } \
  }

// The classes of the error table, in its order.
#define SIO_CLASS(Name, Parent) TESMAR_SIO_EXCEPTION(Name, Parent);
#include "errors/SioErrorTable.def"

#undef TESMAR_SIO_EXCEPTION

// An operating-system or file error passed through as minus its number
// (-2 .. -162 except -8): the message is ErrorText of the number.
class EInOutError : public framework::Exception {
 public:
  EInOutError(std::string message, int errorCode)
      : framework::Exception(std::move(message)), errorCode_(errorCode) {}
  int ErrorCode() const noexcept { return errorCode_; }

 private:
  int errorCode_;
};

// Out of memory (-8). Its message, "Out of memory", fits a short string's
// inline storage, so raising it allocates no text.
class EOutOfMemory : public framework::Exception {
 public:
  EOutOfMemory() : framework::Exception("Out of memory") {}
};

// The port component's side of the error check: whether it is being loaded
// from its stored form description. While it is, every code passes through
// unchanged (the stored settings are applied again when loading ends).
template <typename Port>
concept LoadingStateSource = requires(const Port& port) {
  { port.IsLoading() } -> std::convertible_to<bool>;
};

// The error check:
//   code >= 0                 -> code
//   portIsLoading             -> code, whatever it is
//   a code with a class       -> that class made with Create(code)
//   -8                        -> EOutOfMemory
//   -2 .. -162                -> EInOutError(ErrorText(|code|), |code|)
//   any other negative code   -> ESIOException::CreateText("Sio exception"),
//                                ResultCode 0
// Thread safety: may be called from any thread (the port component calls it
// from its caller's thread).
std::int32_t CheckResult(bool portIsLoading, std::int32_t code);

// The same for a port component: any type with `bool IsLoading() const`
// (true while the component is loaded from its stored form description).
// A null port is not being loaded.
template <LoadingStateSource Port>
std::int32_t CheckResult(const Port* port, std::int32_t code) {
  return CheckResult(port != nullptr && static_cast<bool>(port->IsLoading()), code);
}

}  // namespace errors
