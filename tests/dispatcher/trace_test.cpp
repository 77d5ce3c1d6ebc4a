// The character trace: what is recorded, and its file byte for byte.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "DumpFiles.h"
#include "FakeDevice.h"
#include "dispatcher/SioDumpFile.h"

namespace dispatcher_test {
namespace {

using TraceFile = DumpFileTest;

// A reading exchange: "U1" LF sent, "+1.0E+00" CR LF received and taken,
// partly by characters and partly as a block.
void ReadingExchange(FakeDevice& device) {
  ASSERT_EQ(device.WriteBlock("U1\n", 3), 0);
  device.Receive("+1.0E+00\r\n");
  device.FillDispatchBuffer();
  BYTE c = 0;
  for (int i = 0; i < 4; ++i) ASSERT_EQ(device.ReadChar(c), 0);
  BYTE rest[6];
  ASSERT_EQ(device.ReadBlock(rest, 6), 6);
}

TEST_F(TraceFile, ReadingExchangeInDecimalAndHex) {
  struct Case {
    bool inHex;
    bool allHex;
    const char* expected;
  };
  const Case cases[] = {
      {false, false, "Transmit: \r\nU1[10]\r\n\r\nReceive: \r\n+1.0E+00[13][10]"},
      {true, false, "Transmit: \r\nU1[0A]\r\n\r\nReceive: \r\n+1.0E+00[0D][0A]"},
      {false, true,
       "Transmit: \r\n[55][31][0A]\r\n\r\nReceive: \r\n[2B][31][2E][30][45][2B][30][30][0D][0A]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    FakeDevice device;
    ASSERT_EQ(device.StartTrace(100), 0);
    ReadingExchange(device);
    ASSERT_EQ(device.DumpTrace(Path("SIO.TRC").c_str(), false, c.inHex, c.allHex), 0);
    EXPECT_EQ(Contents("SIO.TRC"), c.expected);
    EXPECT_FALSE(device.TraceActive());
    EXPECT_EQ(device.TraceBuffer, nullptr);
  }
}

TEST_F(TraceFile, CharacterItems) {
  struct Case {
    std::vector<BYTE> chars;
    bool inHex;
    const char* items;
  };
  const Case cases[] = {
      {{' ', '!', '~', 0x7F}, false, " !~[127]"},
      {{' ', '!', '~', 0x7F}, true, "[20]!~[7F]"},
      {{0, 9, 10, 31, 128, 255}, false, "[0][9][10][31][128][255]"},
      {{0, 9, 10, 31, 128, 255}, true, "[00][09][0A][1F][80][FF]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.items);
    FakeDevice device;
    device.StartTrace(10);
    for (BYTE b : c.chars) device.AddTraceEntry('R', b);
    ASSERT_EQ(device.DumpTrace(Path("t").c_str(), false, c.inHex, false), 0);
    EXPECT_EQ(Contents("t"), std::string("Receive: \r\n") + c.items);
  }
}

TEST_F(TraceFile, LinesNeverPassColumn78) {
  struct Case {
    std::string chars;
    std::string expectedBody;
  };
  std::string cr19;
  for (int i = 0; i < 19; ++i) cr19 += "[13]";
  const Case cases[] = {
      // 78 one-wide items fill a line exactly; the 79th starts the next.
      {std::string(78, 'a') + "b", std::string(78, 'a') + "\r\nb"},
      // A four-wide item that would end at column 81 moves down whole.
      {std::string(77, 'a') + "\r", std::string(77, 'a') + "\r\n[13]"},
      {std::string(20, '\r'), cr19 + "\r\n[13]"},
      // Five-wide items: 15 fit (75), the 16th would reach 80.
      {std::string(16, '\xC8'), [] {
         std::string s;
         for (int i = 0; i < 15; ++i) s += "[200]";
         return s + "\r\n[200]";
       }()},
  };
  for (const Case& c : cases) {
    FakeDevice device;
    device.StartTrace(1000);
    for (char ch : c.chars) device.AddTraceEntry('T', static_cast<BYTE>(ch));
    ASSERT_EQ(device.DumpTrace(Path("t").c_str(), false, false, false), 0);
    EXPECT_EQ(Contents("t"), "Transmit: \r\n" + c.expectedBody);
  }
}

TEST_F(TraceFile, WrappedRingKeepsTheNewestOldestFirst) {
  FakeDevice device;
  device.StartTrace(3);
  for (char ch : std::string("abcde")) device.AddTraceEntry('R', static_cast<BYTE>(ch));
  ASSERT_EQ(device.DumpTrace(Path("t").c_str(), false, false, false), 0);
  EXPECT_EQ(Contents("t"), "Receive: \r\ncde");
}

TEST_F(TraceFile, GroupsAndSpecialKinds) {
  FakeDevice device;
  device.StartTrace(10);
  device.AddTraceEntry('X', 'q');
  device.AddTraceEntry('R', 'r');
  device.AddTraceEntry('R', 's');
  device.AddTraceEntry('T', 't');
  ASSERT_EQ(device.DumpTrace(Path("t").c_str(), false, false, false), 0);
  EXPECT_EQ(Contents("t"), "Special-X: \r\nq\r\n\r\nReceive: \r\nrs\r\n\r\nTransmit: \r\nt");
}

TEST_F(TraceFile, LifecycleAndFailures) {
  FakeDevice device;
  // No trace, or an empty one: no file, 0.
  EXPECT_EQ(device.DumpTrace(Path("none").c_str(), false, false, false), 0);
  device.StartTrace(5);
  EXPECT_EQ(device.DumpTrace(Path("none").c_str(), false, false, false), 0);
  EXPECT_FALSE(Exists("none"));
  EXPECT_EQ(device.TraceBuffer, nullptr);

  EXPECT_EQ(device.StartTrace(dispatcher::MaxTraceEntries + 1), errors::ecBadArgument);
  EXPECT_FALSE(device.TraceActive());

  // A running trace restarted is only emptied: the capacity stays.
  device.StartTrace(2);
  device.AddTraceEntry('R', 'a');
  EXPECT_EQ(device.StartTrace(50), 0);
  EXPECT_EQ(device.TraceCapacity, 2u);

  // Paused: reads and writes are not recorded.
  device.PauseTrace();
  ASSERT_EQ(device.WriteBlock("p", 1), 0);
  device.ResumeTrace();
  ASSERT_EQ(device.WriteBlock("q", 1), 0);
  ASSERT_EQ(device.DumpTrace(Path("t").c_str(), false, false, false), 0);
  EXPECT_EQ(Contents("t"), "Transmit: \r\nq");

  // Appending adds to the old file after a blank line, so that the new
  // session does not run on in the last line of the old one; a file that
  // cannot be opened frees the trace and reports the system error.
  device.StartTrace(5);
  device.AddTraceEntry('T', 'r');
  ASSERT_EQ(device.DumpTrace(Path("t").c_str(), true, false, false), 0);
  EXPECT_EQ(Contents("t"), "Transmit: \r\nq\r\n\r\nTransmit: \r\nr");
  device.StartTrace(5);
  device.AddTraceEntry('T', 'r');
  EXPECT_EQ(device.DumpTrace(Path("missing/dir/t").c_str(), false, false, false),
            -static_cast<ResultCode>(platform::ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(device.TraceBuffer, nullptr);
  device.ResumeTrace();  // nothing to resume
  EXPECT_FALSE(device.TraceActive());

  // A capacity of 0 records nothing and writes nothing.
  device.StartTrace(0);
  EXPECT_TRUE(device.TraceActive());
  device.AddTraceEntry('T', 'r');
  EXPECT_EQ(device.DumpTrace(Path("zero").c_str(), false, false, false), 0);
  EXPECT_FALSE(Exists("zero"));
}

TEST_F(TraceFile, FilesThatCannotBeWrittenSayWhatHappened) {
  const struct {
    int error;
    ResultCode code;
  } mapped[] = {
      {ENOSPC, -101}, {EFBIG, -101}, {EROFS, -150}, {EISDIR, -5}, {EACCES, -5}, {ENOENT, -2}, {ENOTDIR, -3},
  };
  for (const auto& m : mapped) EXPECT_EQ(dispatcher::DumpErrorCode(m.error), m.code) << m.error;

  struct File {
    std::string path;
    ResultCode code;
  };
  std::vector<File> files = {{Path(""), -5}};  // the test's directory
  // A device that is always full, where the system has one.
  if (std::filesystem::exists("/dev/full")) files.push_back({"/dev/full", -101});
  for (const auto& f : files) {
    FakeDevice device;
    device.StartTrace(5);
    device.AddTraceEntry('T', 'x');
    EXPECT_EQ(device.DumpTrace(f.path.c_str(), false, false, false), f.code) << f.path;
    device.StartLog(4096);
    device.AddLogEntry(dispatcher::letUser, 0, 1, nullptr, 0);
    EXPECT_EQ(device.DumpLog(f.path.c_str(), false, false, false), f.code) << f.path;
  }
}

TEST_F(TraceFile, ClearKeepsTheStateAndStopDiscards) {
  FakeDevice device;
  device.StartTrace(5);
  device.AddTraceEntry('T', 'a');
  EXPECT_EQ(device.ClearTrace(), 0);
  EXPECT_TRUE(device.TraceActive());
  device.AddTraceEntry('T', 'b');
  device.StopTrace();
  EXPECT_FALSE(device.TraceActive());
  EXPECT_EQ(device.TraceBuffer, nullptr);
  EXPECT_EQ(device.DumpTrace(Path("t").c_str(), false, false, false), 0);
  EXPECT_FALSE(Exists("t"));
}

}  // namespace
}  // namespace dispatcher_test
