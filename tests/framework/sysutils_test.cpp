// Runtime string helpers.
#include <gtest/gtest.h>

#include "framework/SysUtils.h"

namespace framework {
namespace {

TEST(SysUtilsTest, StrToIntAcceptsDecimalAndDollarHexOnly) {
  struct Case {
    const char* text;
    int value;
  };
  const Case good[] = {{"0", 0},         {"$55", 0x55},     {"$4e", 0x4E},       {"  42", 42},
                       {"-17", -17},     {"+8", 8},         {"0x1F", 31},        {"$FFFFFFFF", -1},
                       {"2147483647", 2147483647},          {"-2147483648", -2147483647 - 1}};
  for (const Case& c : good) EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
  for (const char* bad : {"", "xyz", "$", "12a", "1 2", "42 ", "2147483648", "$100000000", "--1", "$G"}) {
    try {
      StrToInt(bad);
      ADD_FAILURE() << bad;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), "'" + std::string(bad) + "' is not a valid integer value");
    }
  }
  EXPECT_EQ(StrToIntDef("nope", -5), -5);
}

TEST(SysUtilsTest, IntToTextAndTrimming) {
  EXPECT_EQ(IntToStr(-12), "-12");
  EXPECT_EQ(IntToHex(0x7E01, 2), "7E01");
  EXPECT_EQ(IntToHex(10, 4), "000A");
  EXPECT_EQ(Trim("\t a b \r\n"), "a b");
  EXPECT_EQ(UpperCase("com1"), "COM1");
  EXPECT_EQ(Format("COM%d", 12), "COM12");
}

TEST(SysUtilsTest, Cp1251DecodesEveryByteAndEncodesBack) {
  EXPECT_EQ(Cp1251ToUtf8("\xCD\xE5\xF2 \xF1\xE2\xFF\xE7\xE8"), "Нет связи");
  EXPECT_EQ(Cp1251ToUtf8("\xA8\xB8\xB9"), "Ёё№");
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  std::string utf8 = Cp1251ToUtf8(all);
  std::string back = Utf8ToCp1251(utf8);
  ASSERT_EQ(back.size(), 256u);
  for (int b = 0; b < 256; ++b)
    if (b != 0x98) {
      EXPECT_EQ(static_cast<unsigned char>(back[b]), b) << b;
    }
  EXPECT_EQ(Utf8ToCp1251("Ω\xFF"), "??");
}

}  // namespace
}  // namespace framework
