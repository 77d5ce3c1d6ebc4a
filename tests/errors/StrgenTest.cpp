// The message-string packer: what it refuses, the byte-order mark, the
// temporary file on failure, and texts that read back as they were written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <span>

#include "errors/SioStrRes.h"
#include "tools/strgen/StrPack.h"

namespace {

namespace fs = std::filesystem;

class StrgenTest : public testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("tesmar-strgen-" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  fs::path Write(const std::string& name, const std::string& text) {
    std::ofstream(dir / name, std::ios::binary) << text;
    return dir / name;
  }
  std::string Refusal(const fs::path& source) {
    strgen::Entries entries;
    try {
      strgen::ReadSourceFile(source.string(), false, entries);
    } catch (const strgen::SourceError& e) {
      return e.what();
    }
    return "";
  }
  fs::path dir;
};

TEST_F(StrgenTest, RefusesSourcesThatHoldNothing) {
  struct Case {
    fs::path source;
    std::string reason;
  };
  const Case cases[] = {
      {dir, "is a directory, not a source"},
      {Write("empty.txt", ""), "holds no entries"},
      {Write("comments.txt", "# only a comment\n\n"), "holds no entries"},
      {Write("bom_only.txt", "\xEF\xBB\xBF"), "holds no entries"},
      {dir / "absent.txt", "cannot open"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source.string());
    EXPECT_EQ(Refusal(c.source), c.source.string() + ": " + c.reason);
  }
}

TEST_F(StrgenTest, SkipsAByteOrderMarkOnlyAtTheStart) {
  strgen::Entries entries;
  strgen::ReadSourceText("\xEF\xBB\xBF" "7 \"seven\"\n", "bom.txt", true, entries);
  ASSERT_EQ(entries.count(7), 1u);
  EXPECT_EQ(entries.at(7).text, u"seven");
  EXPECT_THROW(strgen::ReadSourceText("1 \"a\"\n\xEF\xBB\xBF" "2 \"b\"\n", "mid.txt", false, entries),
               strgen::SourceError);
}

TEST_F(StrgenTest, AFailedWriteLeavesNeitherOutputNorPartialFile) {
  const std::string image = strgen::Pack({});
  // The output's name is taken by a folder: the rename fails.
  fs::create_directories(dir / "taken.str0");
  EXPECT_THROW(strgen::WriteOutput((dir / "taken.str0").string(), image), strgen::SourceError);
  EXPECT_FALSE(fs::exists(dir / "taken.str0.part"));
  EXPECT_TRUE(fs::is_directory(dir / "taken.str0"));
  // No folder to write into.
  EXPECT_THROW(strgen::WriteOutput((dir / "none" / "out.str0").string(), image), strgen::SourceError);
  EXPECT_FALSE(fs::exists(dir / "none"));
  strgen::WriteOutput((dir / "out.str0").string(), image);
  EXPECT_TRUE(fs::exists(dir / "out.str0"));
  EXPECT_FALSE(fs::exists(dir / "out.str0.part"));
  // A rebuild replaces the resource it made before.
  const std::string larger = strgen::Pack({{1, {u"one", "one.txt:1"}}});
  strgen::WriteOutput((dir / "out.str0").string(), larger);
  EXPECT_EQ(fs::file_size(dir / "out.str0"), larger.size());
  EXPECT_FALSE(fs::exists(dir / "out.str0.part"));
}

TEST_F(StrgenTest, PackedTextsReadBackAsWritten) {
  strgen::Entries entries;
  strgen::ReadSourceText("-5 \"  spaces kept  \"\n"
                         "3 \"Вольтметр \\\"K4\\\"\\t\\r\\n\"\n"
                         "2147483647 \"\"\n"
                         "-2147483648 \"\xF0\x9F\x98\x80 beyond the BMP\"\r\n",
                         "mixed.txt", false, entries);
  const std::string image = strgen::Pack(entries);
  errors::TSioStringResource reader(std::as_bytes(std::span(image)), "mixed");
  EXPECT_EQ(reader.Count(), 4u);
  EXPECT_EQ(reader.TextOf(-5), "  spaces kept  ");
  EXPECT_EQ(reader.TextOf(3), "Вольтметр \"K4\"\t\r\n");
  EXPECT_EQ(reader.TextOf(2147483647), "");
  EXPECT_EQ(reader.TextOf(-2147483648), "\xF0\x9F\x98\x80 beyond the BMP");
}

}  // namespace
