#include "platform/serial_parmrk.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace platform {
namespace {

std::vector<BYTE> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(ParmrkDecoder, UnescapesMarksAndBreaks) {
  struct Case {
    const char* what;
    std::string raw;
    std::string bytes;
    std::vector<std::size_t> marked;
    unsigned breaks;
  } cases[] = {
      {"plain", "abc", "abc", {}, 0},
      {"doubled FF", std::string("a\xFF\xFF" "b", 4), "a\xFF" "b", {}, 0},
      {"error char", std::string("x\xFF\x00y z", 6), "xy z", {1}, 0},
      {"break", std::string("x\xFF\x00\x00y", 5), "xy", {}, 1},
      {"two marks", std::string("\xFF\x00" "a\xFF\x00" "b", 6), "ab", {0, 1}, 0},
      {"marked FF", std::string("\xFF\x00\xFF", 3), "\xFF", {0}, 0},
      {"stray FF kept", std::string("\xFF" "q", 2), "\xFFq", {}, 0},
  };
  for (const Case& c : cases) {
    ParmrkDecoder decoder;
    DecodedInput out;
    decoder.Feed(Bytes(c.raw), out);
    EXPECT_EQ(std::string(out.bytes.begin(), out.bytes.end()), c.bytes) << c.what;
    EXPECT_EQ(out.marked, c.marked) << c.what;
    EXPECT_EQ(out.breaks, c.breaks) << c.what;
  }
}

// The driver's sequences may be cut between two reads at any point.
TEST(ParmrkDecoder, SequencesSplitAcrossReads) {
  const std::string raw("a\xFF\xFF" "b\xFF\x00" "c\xFF\x00\x00" "d", 11);
  for (std::size_t cut = 0; cut <= raw.size(); ++cut) {
    ParmrkDecoder decoder;
    DecodedInput out;
    decoder.Feed(Bytes(raw.substr(0, cut)), out);
    decoder.Feed(Bytes(raw.substr(cut)), out);
    EXPECT_EQ(std::string(out.bytes.begin(), out.bytes.end()), "a\xFF" "bcd") << cut;
    EXPECT_EQ(out.marked, std::vector<std::size_t>{3}) << cut;
    EXPECT_EQ(out.breaks, 1u) << cut;
  }
  ParmrkDecoder decoder;
  DecodedInput out;
  decoder.Feed(Bytes("\xFF"), out);
  decoder.Reset();  // a purge forgets the half sequence
  decoder.Feed(Bytes("\xFF\xFF"), out);
  EXPECT_EQ(std::string(out.bytes.begin(), out.bytes.end()), "\xFF");
}

}  // namespace
}  // namespace platform
