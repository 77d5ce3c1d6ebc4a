#include "platform/error_text.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/last_error.h"

namespace platform {
namespace {

// Every number the serial layer and the layers above produce has a text,
// and each one ends in CR LF (the error text cleaning counts on that).
TEST(FormatMessage, KnownNumbersHaveTextsEndingInCrLf) {
  for (DWORD code : {2u, 3u, 5u, 6u, 8u, 31u, 87u, 122u, 995u, 996u, 997u, 1400u, 1407u, 1410u,
                     1413u, 1460u, 1814u}) {
    char buffer[256];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, buffer,
                                  sizeof buffer, nullptr);
    ASSERT_GT(length, 2u) << code;
    std::string text(buffer, length);
    EXPECT_EQ(text.size(), std::char_traits<char>::length(buffer)) << code;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << code;
  }
  char buffer[256];
  ASSERT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 2,
                           0, buffer, sizeof buffer, nullptr),
            44u);
  EXPECT_STREQ(buffer, "The system cannot find the file specified.\r\n");
}

TEST(FormatMessage, FailuresSetTheLastError) {
  struct Case {
    DWORD flags, id, language, size, error;
  } cases[] = {
      {FORMAT_MESSAGE_FROM_SYSTEM, 4242, 0, 256, ERROR_MR_MID_NOT_FOUND},
      {FORMAT_MESSAGE_FROM_SYSTEM, 5, 0, 18, ERROR_INSUFFICIENT_BUFFER},  // 17 chars + CRLF
      {FORMAT_MESSAGE_FROM_SYSTEM, 5, 0x0419, 256, ERROR_RESOURCE_LANG_NOT_FOUND},
      {FORMAT_MESSAGE_FROM_STRING, 5, 0, 256, ERROR_INVALID_PARAMETER},
      {FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, 5, 0, 256,
       ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    char buffer[256] = "untouched";
    SetLastError(0);
    EXPECT_EQ(FormatMessageA(c.flags, nullptr, c.id, c.language, buffer, c.size, nullptr), 0u);
    EXPECT_EQ(GetLastError(), c.error) << c.id;
  }
  char buffer[64];
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0x0409, buffer, 20, nullptr),
            19u);
}

}  // namespace
}  // namespace platform
