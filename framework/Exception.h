// The runtime's base exception class: a message text and a help context.
// Every exception the program raises on purpose derives from it, and the
// application's default handler shows its Message().
#pragma once

#include <stdexcept>
#include <string>

namespace framework {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message, int helpContext = 0)
      : message_(std::move(message)), helpContext_(helpContext) {}

  const std::string& Message() const noexcept { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  int HelpContext() const noexcept { return helpContext_; }
  // A silent exception ends the handler it leaves like any other, but the
  // application's default handler does not show it: the user has already
  // been told of the same failure.
  bool Silent() const noexcept { return silent_; }
  void SetSilent(bool value) noexcept { silent_ = value; }

  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
  int helpContext_;
  bool silent_ = false;
};

// A text that is not a valid number (StrToInt and the like).
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace framework
