#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Str0Image.h"
#include "errors/SioStrRes.h"
#include "platform/resources.h"

namespace errors {
namespace {

using errors_test::Get32;
using errors_test::MakeImage;

std::span<const std::byte> Embedded(const char* name) {
  const auto found = platform::FindEmbeddedResource(name, "RCDATA");
  EXPECT_TRUE(found.has_value()) << name;
  return found.value_or(std::span<const std::byte>{});
}

// The layout of a packed resource: header, sorted unique index, texts back
// to back in index order right up to the end (no padding).
struct Layout {
  std::size_t size;
  std::uint32_t count;
  std::uint32_t textStart;
};

Layout CheckLayout(const char* name) {
  const auto image = Embedded(name);
  EXPECT_TRUE(str0::HasMagic(image));
  EXPECT_TRUE(str0::IndexFits(image));
  const std::uint32_t count = str0::Count(image);
  std::uint32_t expectedOffset = 8 + 12 * count;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = 8 + 12 * i;
    if (i > 0) {
      EXPECT_LT(static_cast<std::int32_t>(Get32(image, at - 12)),
                static_cast<std::int32_t>(Get32(image, at)))
          << name << ": index not ascending or not unique at entry " << i;
    }
    EXPECT_EQ(Get32(image, at + 4), expectedOffset) << name << " entry " << i;
    expectedOffset += 2 * Get32(image, at + 8);
  }
  EXPECT_EQ(expectedOffset, image.size()) << name << ": texts do not end the resource";
  const Layout layout{image.size(), count, count ? Get32(image, 12) : 0};
  std::printf("%s: %zu bytes, N = %u, texts from offset %u\n", name, layout.size, layout.count,
              layout.textStart);
  return layout;
}

TEST(StringResourceLayout, BothResourcesHaveTheirSizesCountsAndTextOffsets) {
  const Layout manager = CheckLayout(kStringManagerResource);
  EXPECT_EQ(manager.size, 320u);
  EXPECT_EQ(manager.count, 5u);
  EXPECT_EQ(manager.textStart, 68u);

  const Layout messages = CheckLayout(kErrorStringsResource);
  EXPECT_EQ(messages.count, 829u);
  EXPECT_EQ(messages.textStart, 9956u);
}

TEST(StringResourceLayout, ErrorMessagesArePlainAsciiWithTheThreeEmptyEntries) {
  const auto image = Embedded(kErrorStringsResource);
  for (std::size_t at = 9956; at + 1 < image.size(); at += 2) {
    const unsigned unit = std::to_integer<unsigned>(image[at]) |
                          (std::to_integer<unsigned>(image[at + 1]) << 8);
    ASSERT_TRUE(unit >= 0x20 && unit < 0x7F) << "unit " << unit << " at " << at;
  }
  for (const std::int32_t id : {4600, 4630, 4660}) {
    const auto entry = str0::Find(image, id);
    ASSERT_TRUE(entry.has_value()) << id;
    EXPECT_EQ(entry->length, 0u) << id;
  }
}

class ReadersTest : public testing::Test {
 protected:
  TSioStringReaders readers_;
};

// Texts that other parts of the program print or compare verbatim.
TEST_F(ReadersTest, QuotedTextsStandUnderTheirIds) {
  const struct {
    std::int32_t id;
    const char* text;
  } cases[] = {
      {0, "OK"}, {2, "File not found"}, {3, "Path not found"}, {4, "Too many open files"},
      {5, "File access denied"}, {6, "Invalid file handle"}, {8, "Insufficient memory"},
      {15, "Invalid drive"}, {18, "No more files"},
      {100, "Attempt to read beyond end of file"}, {162, "General failure"},
      {5001, "No more trigger slots"},
      {15001, "No event"}, {15002, "Dispatch"}, {15003, "Trigger"}, {15004, "Error"},
      {15005, "Thread"}, {15006, "TrigAllc"}, {15007, "TrigDisp"}, {15008, "TrgHdAlc"},
      {15009, "TrgHdDsp"}, {15010, "TrDatChg"}, {15011, "Telnet"}, {15012, "Fax"},
      {15013, "XModem"}, {15014, "YModem"}, {15015, "ZModem"}, {15016, "Kermit"},
      {15017, "Ascii"}, {15018, "BPlus"}, {15019, "Packet"}, {15020, "User"},
      {15101, "ReadCom"}, {15102, "WriteCom"}, {15103, "Line status"}, {15104, "Modem status"},
      {15105, "Avail"}, {15106, "Timer"}, {15107, "Data"}, {15108, "Status"}, {15109, "Start"},
      {15110, "Exit"}, {15111, "Sleep"}, {15112, "Wake"}, {15113, "Data"}, {15114, "Timer"},
      {15115, "Status"}, {15116, "Avail"}, {15117, "Window"}, {15118, "Procedure"},
      {15119, "Method"},
      {15501, "Time      Type      SubType       Data      OtherData"},
      {15502, "--------  --------  ------------  --------  ---------"},
      {15601, "DCTS "}, {15602, "DDSR "}, {15603, "TERI "}, {15604, "DDCD "},
      {15605, "CTS "}, {15606, "DSR "}, {15607, "RI "}, {15608, "DCD "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(readers_.ErrorStrings().TextOf(c.id), c.text) << "id " << c.id;
  }
  const char* managerTexts[] = {"String not found: %d", "Cannot lock resource",
                                "String resource not found: %s",
                                "Unable to open string resource: %s", "Invalid string resource"};
  for (std::int32_t id = 1; id <= 5; ++id) {
    EXPECT_EQ(readers_.StringManager().TextOf(id), managerTexts[id - 1]);
  }
}

TEST_F(ReadersTest, LookupsAtTheEdgesOfTheIndex) {
  TSioStringResource& messages = readers_.ErrorStrings();
  EXPECT_EQ(messages.TextOf(0), "OK");  // first entry
  EXPECT_EQ(messages.TextOf(2011), "The ComNumber property of the TSioComPort has not been set");
  EXPECT_FALSE(messages.TextOf(15742).empty());  // last entry
  for (const std::int32_t missing : {1, 4600, 4630, 4660, 15743, -1, -2011, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(messages.TextOf(missing), "") << missing;
  }
  // The 829 stored ids are all found: every 16-bit id either is or is not.
  int found = 0;
  for (std::int32_t id = -1; id <= 16000; ++id) found += messages.TryTextOf(id).has_value();
  EXPECT_EQ(found, 829);
}

TEST_F(ReadersTest, ReportMissingRaisesForMissingIdsButNotForEmptyTexts) {
  TSioStringResource& messages = readers_.ErrorStrings();
  EXPECT_FALSE(messages.ReportMissing());
  messages.SetReportMissing(true);
  EXPECT_EQ(messages.TextOf(4600), "");
  try {
    messages.TextOf(1);
    FAIL() << "no exception";
  } catch (const EStringResourceError& e) {
    EXPECT_EQ(e.Message(), "String not found: 1");
  }
  // The manager's own reader reporting its own miss must not deadlock.
  readers_.StringManager().SetReportMissing(true);
  EXPECT_THROW(readers_.StringManager().TextOf(6), EStringResourceError);
}

TEST_F(ReadersTest, OpenFailuresCarryTheManagersTexts) {
  const struct {
    std::string name;
    const char* message;
  } cases[] = {
      {"NO_SUCH_STRINGS", "String resource not found: NO_SUCH_STRINGS"},
      // The name is inserted as it is, never read as a format.
      {"%s%d%n", "String resource not found: %s%d%n"},
  };
  for (const auto& c : cases) {
    try {
      TSioStringResource reader(0, c.name);
      FAIL() << c.name;
    } catch (const EStringResourceError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
  // The string manager's reader reopened on a bad name answers from its
  // built-in copy, and is closed afterwards.
  TSioStringResource& manager = readers_.StringManager();
  try {
    manager.Open(0, "NO_SUCH_STRINGS");
    FAIL();
  } catch (const EStringResourceError& e) {
    EXPECT_EQ(e.Message(), "String resource not found: NO_SUCH_STRINGS");
  }
  EXPECT_FALSE(manager.IsOpen());
  manager.Open(0, kStringManagerResource);
  EXPECT_EQ(manager.TextOf(5), "Invalid string resource");
}

TEST_F(ReadersTest, AClosedReaderCannotLock) {
  TSioStringResource reader(0, "");
  EXPECT_FALSE(reader.IsOpen());
  EXPECT_EQ(reader.Count(), 0u);
  try {
    reader.TextOf(0);
    FAIL();
  } catch (const EStringResourceError& e) {
    EXPECT_EQ(e.Message(), "Cannot lock resource");
  }
  EXPECT_FALSE(reader.TryTextOf(0).has_value());
  reader.Open(0, kErrorStringsResource);
  EXPECT_EQ(reader.TextOf(0), "OK");
  reader.Close();
  EXPECT_THROW(reader.TextOf(0), EStringResourceError);
}

TEST(StringResourceImage, MalformedImagesFailAtCreation) {
  const auto wrongMagic = MakeImage({{1, "one"}}, "STR1");
  auto shortIndex = MakeImage({{1, "one"}});
  errors_test::Put32(shortIndex, 4, 1000);  // claims more entries than fit
  const std::vector<std::byte> tooShort = {std::byte{'S'}, std::byte{'T'}, std::byte{'R'}};
  const std::vector<std::byte>* images[] = {&wrongMagic, &shortIndex, &tooShort};
  for (const auto* image : images) {
    try {
      TSioStringResource reader(std::span<const std::byte>(*image), "TEST");
      FAIL() << "size " << image->size();
    } catch (const EStringResourceError& e) {
      EXPECT_EQ(e.Message(), "Invalid string resource");
    }
  }
}

// An index entry whose text lies outside the resource counts as missing.
TEST(StringResourceImage, EntriesPointingOutsideTheImageAreMissing) {
  auto image = MakeImage({{1, "one"}, {2, "two"}, {3, "three"}, {4, "four"}});
  errors_test::Put32(image, 8 + 12 * 1 + 4, static_cast<std::uint32_t>(image.size()) - 2);
  errors_test::Put32(image, 8 + 12 * 2 + 4, 0xFFFFFFFEu);            // offset past the end
  errors_test::Put32(image, 8 + 12 * 3 + 8, 0x80000000u);            // length past the end
  TSioStringResource reader(std::span<const std::byte>(image), "TEST");
  EXPECT_EQ(reader.TextOf(1), "one");
  for (const std::int32_t id : {2, 3, 4}) EXPECT_EQ(reader.TextOf(id), "") << id;
  reader.SetReportMissing(true);
  EXPECT_THROW(reader.TextOf(3), EStringResourceError);
}

TEST(StringResourceImage, NegativeIdsAreSearchedAsSignedValues) {
  const auto image = MakeImage({{INT32_MIN, "min"}, {-5, "minus five"}, {0, "zero"}, {7, "seven"}});
  TSioStringResource reader(std::span<const std::byte>(image), "TEST");
  EXPECT_EQ(reader.TextOf(INT32_MIN), "min");
  EXPECT_EQ(reader.TextOf(-5), "minus five");
  EXPECT_EQ(reader.TextOf(7), "seven");
  EXPECT_EQ(reader.TextOf(-4), "");
  const auto empty = MakeImage({});
  TSioStringResource none(std::span<const std::byte>(empty), "EMPTY");
  EXPECT_EQ(none.TextOf(0), "");
}

TEST(StringResourceImage, Utf16IsConvertedToUtf8) {
  const auto bytes = [](std::u16string_view units) {
    std::vector<std::byte> out;
    for (const char16_t u : units) {
      out.push_back(static_cast<std::byte>(u & 0xFF));
      out.push_back(static_cast<std::byte>(u >> 8));
    }
    return out;
  };
  const struct {
    std::u16string units;
    std::string utf8;
  } cases[] = {
      {u"OK", "OK"},
      {u"\u041d\u0435\u0442 \u0441\u0432\u044f\u0437\u0438", "Нет связи"},
      {u"\u00b0C \u20ac", "°C €"},
      {std::u16string{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},    // a surrogate pair
      {std::u16string{0xD800, u'x'}, "\xEF\xBF\xBDx"},         // lone high surrogate
      {std::u16string{u'x', 0xDC00}, "x\xEF\xBF\xBD"},         // lone low surrogate
  };
  for (const auto& c : cases) {
    EXPECT_EQ(str0::Utf16LeToUtf8(bytes(c.units)), c.utf8);
  }
  auto odd = bytes(u"ab");
  odd.pop_back();
  EXPECT_EQ(str0::Utf16LeToUtf8(odd), "a");
}

TEST(StringReaders, CreatedInOrderOnceAndUninstalledAtTheEnd) {
  EXPECT_EQ(SioStrResManager(), nullptr);
  EXPECT_EQ(SioErrorStrings(), nullptr);
  {
    TSioStringReaders readers;
    EXPECT_EQ(SioStrResManager(), &readers.StringManager());
    EXPECT_EQ(SioErrorStrings(), &readers.ErrorStrings());
    EXPECT_THROW(TSioStringReaders second, std::logic_error);
    EXPECT_EQ(SioErrorStrings(), &readers.ErrorStrings());
  }
  EXPECT_EQ(SioStrResManager(), nullptr);
  EXPECT_EQ(SioErrorStrings(), nullptr);
  // Without readers the failures still have their texts.
  EXPECT_EQ(StringManagerText(kStrStringNotFound, "42"), "String not found: 42");
  EXPECT_EQ(StringManagerText(kStrInvalidResource), "Invalid string resource");
  TSioStringReaders again;
  EXPECT_NE(SioErrorStrings(), nullptr);
}

// The dispatch log may be written while the window's thread looks up error
// texts; lookups on one reader from several threads must not interfere.
TEST_F(ReadersTest, ConcurrentLookupsOnOneReader) {
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < 2000; ++k) {
        wrong[t] += readers_.ErrorStrings().TextOf(k % 2 ? 15001 : 2011).empty();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (const int count : wrong) EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace errors
