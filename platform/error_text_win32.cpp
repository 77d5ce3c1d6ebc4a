#include "platform/error_text.h"
#include "platform/win32.h"

namespace platform {

DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD language, char* buffer,
                     DWORD size, void* arguments) {
  return ::FormatMessageA(flags, source, messageId, language, buffer, size, static_cast<va_list*>(arguments));
}

}  // namespace platform
