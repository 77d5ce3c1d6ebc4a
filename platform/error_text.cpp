#include "platform/error_text.h"

#include <algorithm>
#include <cstring>

#include "platform/last_error.h"

namespace platform {

namespace {

struct SystemText {
  DWORD code;
  const char* text;
};

// The standard English texts, sorted by number. Every text ends in CR LF
// like the original system's message table.
constexpr SystemText kTexts[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {21, "The device is not ready.\r\n"},
    {22, "The device does not recognize the command.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {50, "The request is not supported.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {120, "This function is not supported on this system.\r\n"},
    {121, "The semaphore timeout period has expired.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {170, "The requested resource is in use.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {258, "The wait operation timed out.\r\n"},
    {995, "The I/O operation has been aborted because of either a thread exit or an "
          "application request.\r\n"},
    {996, "Overlapped I/O event is not in a signaled state.\r\n"},
    {997, "Overlapped I/O operation is in progress.\r\n"},
    {1117, "The request could not be performed because of an I/O device error.\r\n"},
    {1167, "The device is not connected.\r\n"},
    {1400, "Invalid window handle.\r\n"},
    {1407, "Cannot find window class.\r\n"},
    {1410, "Class already exists.\r\n"},
    {1411, "Class does not exist.\r\n"},
    {1412, "Class still has open windows.\r\n"},
    {1413, "Invalid index.\r\n"},
    {1450, "Insufficient system resources exist to complete the requested service.\r\n"},
    {1460, "This operation returned because the timeout period expired.\r\n"},
    {1812, "The specified image file did not contain a resource section.\r\n"},
    {1813, "The specified resource type cannot be found in the image file.\r\n"},
    {1814, "The specified resource name cannot be found in the image file.\r\n"},
};

constexpr bool Sorted() {
  for (std::size_t i = 1; i < std::size(kTexts); ++i) {
    if (kTexts[i - 1].code >= kTexts[i].code) return false;
  }
  return true;
}
static_assert(Sorted(), "the text table is searched by halving");

bool EnglishOrNeutral(DWORD language) {
  // Primary language is the low 10 bits of a language id; English is 9.
  return language == 0 || (language & 0x3FF) == 0x09;
}

}  // namespace

std::string_view SystemErrorText(DWORD code) {
  auto it = std::lower_bound(std::begin(kTexts), std::end(kTexts), code,
                             [](const SystemText& entry, DWORD c) { return entry.code < c; });
  if (it == std::end(kTexts) || it->code != code) return {};
  return it->text;
}

DWORD FormatMessageA(DWORD flags, const void*, DWORD messageId, DWORD language, char* buffer,
                     DWORD size, void*) {
  const DWORD unsupported =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE;
  if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (flags & unsupported) != 0 ||
      buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!EnglishOrNeutral(language)) {
    SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
    return 0;
  }
  std::string_view text = SystemErrorText(messageId);
  if (text.empty()) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  if (text.size() + 1 > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return static_cast<DWORD>(text.size());
}

}  // namespace platform
