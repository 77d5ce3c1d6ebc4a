#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "errors/SioExcept.h"
#include "errors/SioStrRes.h"

namespace errors {
namespace {

struct TableCode {
  std::int32_t code;
  const char* className;
};

const std::vector<TableCode> kTableCodes = {
#define SIO_CODE(Class, code) {code, #Class},
#define SIO_TEXT_CODE(code, constant) {code, "no class"},
#include "errors/SioErrorTable.def"
};

// A code of the table without a text would reach the user as an exception
// with the operating system's unrelated text, or none.
TEST(ErrorTable, EveryCodeHasItsTextInTheErrorMessageResource) {
  TSioStringResource strings(0, kErrorStringsResource);
  ASSERT_FALSE(kTableCodes.empty());
  for (const TableCode& entry : kTableCodes) {
    std::optional<std::string> text = strings.TryTextOf(std::abs(entry.code));
    EXPECT_TRUE(text.has_value() && !text->empty())
        << entry.code << " (" << entry.className << ") has no text";
  }
}

}  // namespace
}  // namespace errors
