#include "scpi/Errors.h"

namespace scpi {

std::string_view ErrorText(int code) {
  switch (code) {
    case kNoError: return "No error";
    case kCommandError: return "Command error";
    case kInvalidCharacter: return "Invalid character";
    case kSyntaxError: return "Syntax error";
    case kParameterNotAllowed: return "Parameter not allowed";
    case kMissingParameter: return "Missing parameter";
    case kUndefinedHeader: return "Undefined header";
    case kSettingsConflict: return "Settings conflict";
    case kDataOutOfRange: return "Data out of range";
    case kIllegalParameterValue: return "Illegal parameter value";
    case kDataCorruptOrStale: return "Data corrupt or stale";
    case kHardwareError: return "Hardware error";
    case kQueueOverflow: return "Queue overflow";
    case kInputBufferOverrun: return "Input buffer overrun";
    default: return "Unknown error";
  }
}

std::string ErrorAnswer(const Error& error) {
  std::string text = std::to_string(error.code) + ",\"" + std::string(ErrorText(error.code));
  if (!error.detail.empty()) {
    text += ';';
    for (char c : error.detail) {
      if (c == '"') text += '"';
      text += c;
    }
  }
  return text + '"';
}

void ErrorQueue::Push(Error error) {
  if (errors_.size() < kErrorQueueCapacity) {
    errors_.push_back(std::move(error));
    return;
  }
  errors_.back() = Error{kQueueOverflow, {}};
}

Error ErrorQueue::Pop() {
  if (errors_.empty()) return {};
  Error oldest = std::move(errors_.front());
  errors_.pop_front();
  return oldest;
}

}  // namespace scpi
