// The dispatch log: what is recorded, the ring's discarding, and its file
// byte for byte.
#include <gtest/gtest.h>

#include "DumpFiles.h"
#include "FakeDevice.h"
#include "errors/SioExcept.h"
#include "platform/clock.h"

namespace dispatcher_test {
namespace {

using LogFile = DumpFileTest;

std::string Header() {
  return "SIO v3.02\r\n"
         "Compiler : " +
         dispatcher::CompilerDescription() +
         "\r\n"
         "Operating System : " +
         platform::SystemDescription().substr(0, 80) +
         "\r\n"
         "Time      Type      SubType       Data      OtherData\r\n"
         "--------  --------  ------------  --------  ---------\r\n";
}

void Dump(FakeDevice& device, const std::string& path, bool inHex = false, bool allHex = false) {
  EXPECT_EQ(device.DumpLog(path.c_str(), false, inHex, allHex), 0);
}

TEST_F(LogFile, ReadingExchangeInDecimalAndHex) {
  for (bool inHex : {false, true}) {
    FakeDevice device;
    ASSERT_EQ(device.StartLog(4096), 0);
    fakeNow = device.TimeBase + 1234;
    ASSERT_EQ(device.WriteBlock("U1\n", 3), 0);
    fakeNow = device.TimeBase + 1301;
    device.Receive("+1.0E+00\r\n");
    device.FillDispatchBuffer();
    Dump(device, Path("SIO.LOG"), inHex);
    const std::string ends = inHex ? "U1[0A]\r\n" : "U1[10]\r\n";
    const std::string reads = inHex ? "+1.0E+00[0D][0A]\r\n" : "+1.0E+00[13][10]\r\n";
    EXPECT_EQ(Contents("SIO.LOG"), Header() +
                                       "0001.234  Dispatch  WriteCom      00000003  " + ends +
                                       "0001.301  Dispatch  ReadCom       0000000a  " + reads);
    EXPECT_FALSE(device.LogActive());
    EXPECT_EQ(device.LogRing, nullptr);
  }
}

TEST_F(LogFile, EntriesOfTheTriggerAndReceiverKinds) {
  FakeDevice device;
  device.StartLog(4096);
  fakeNow = device.TimeBase;
  const struct {
    BYTE type, subtype;
    std::int32_t value;
    const char* line;
  } cases[] = {
      {2, 5, 1, "0000.000  Trigger   Avail         00000001  \r\n"},
      {2, 6, 2, "0000.000  Trigger   Timer         00000002  \r\n"},
      {2, 7, 3, "0000.000  Trigger   Data          00000003  \r\n"},
      {2, 8, 12, "0000.000  Trigger   Status        0000000c  \r\n"},
      {7, 17, 0x1234, "0000.000  TrgHdAlc  Window        00001234  \r\n"},
      {8, 17, -1, "0000.000  TrgHdDsp  Window        ffffffff  \r\n"},
      {9, 16, 1, "0000.000  TrDatChg  Avail         00000001  \r\n"},
      {1, 1, 0, "0000.000  Dispatch  ReadCom       00000000  \r\n"},
      {0, 0, 0, "0000.000  No event                00000000  \r\n"},
  };
  std::string expected = Header();
  for (const auto& c : cases) {
    ASSERT_TRUE(device.AddLogEntry(c.type, c.subtype, c.value, nullptr, 0));
    expected += c.line;
  }
  Dump(device, Path("l"));
  EXPECT_EQ(Contents("l"), expected);
}

TEST_F(LogFile, LongDataContinuesOnIndentedLines) {
  FakeDevice device(64, 64);
  device.StartLog(4096);
  fakeNow = device.TimeBase + 5;
  const std::string text = "The quick brown fox jumps over the lazy ";  // 40 characters
  ASSERT_EQ(device.WriteBlock(text.data(), 40), 0);
  Dump(device, Path("l"));
  // Data starts at column 45; an item that would reach column 79 begins an
  // indented line.
  EXPECT_EQ(Contents("l"), Header() + "0000.005  Dispatch  WriteCom      00000028  " + text.substr(0, 33) +
                               "\r\n" + std::string(44, ' ') + text.substr(33) + "\r\n");
}

TEST_F(LogFile, TimesAndSpecialRenderings) {
  FakeDevice device;
  device.StartLog(4096);
  const BYTE bytes[] = {'x', 3, 9, ' '};
  fakeNow = device.TimeBase + 9999999;
  device.AddLogEntry(1, 4, 0x11, bytes, 1);  // modem status: the set bits' names
  fakeNow = device.TimeBase + 10000000;
  device.AddLogEntry(5, 15, 7, bytes + 1, 1);  // status kind of the first data byte
  device.AddLogEntry(6, 15, 7, bytes + 2, 1);  // an unknown kind writes nothing
  device.AddLogEntry(19, 1, 0, bytes, 4);      // user data stays readable under all-hex
  device.AddLogEntry(1, 1, 4, bytes, 4);
  device.AddLogEntry(10, 0, 1, nullptr, 0);    // terminal option name
  device.AddLogEntry(10, 0, 43, nullptr, 0);   // beyond the option names
  Dump(device, Path("l"), false, true);
  const std::string option = errors::ErrorText(15701);
  const std::string trimmed = option.substr(option.find_first_not_of(' '), option.find_last_not_of(' ') + 1);
  EXPECT_EQ(Contents("l"),
            Header() + "9999.999  Dispatch  Modem status  00000011  [78](DCTS CTS)\r\n" +
                "10000.000  TrigAllc  Status        00000007  (Output buffer free)\r\n" +
                "10000.000  TrigDisp  Status        00000007  \r\n" +
                "10000.000  User      ReadCom       00000000  x\x03\x09 \r\n" +
                "10000.000  Dispatch  ReadCom       00000004  [78][03][09][20]\r\n" +
                "10000.000  Telnet                  00000001  [" + trimmed + "]\r\n" +
                "10000.000  Telnet                  0000002b  []\r\n");
}

TEST_F(LogFile, RingDiscardsWholeOldEntries) {
  FakeDevice device;
  ASSERT_EQ(device.StartLog(100), 0);  // room for three entries of 26 bytes
  fakeNow = device.TimeBase;
  for (char c : std::string("abcde")) {
    const std::string data(10, c);
    ASSERT_TRUE(device.AddLogEntry(1, 2, 10, data.data(), 10));
  }
  // An entry as large as the ring is refused whole; one byte less fits
  // alone.
  EXPECT_FALSE(device.AddLogEntry(1, 2, 84, std::string(84, 'x').data(), 84));
  Dump(device, Path("l"));
  std::string expected = Header();
  for (char c : std::string("cde")) {
    expected += "0000.000  Dispatch  WriteCom      0000000a  " + std::string(10, c) + "\r\n";
  }
  EXPECT_EQ(Contents("l"), expected);

  device.StartLog(100);
  EXPECT_TRUE(device.AddLogEntry(1, 2, 83, std::string(83, 'y').data(), 83));
  EXPECT_TRUE(device.AddLogEntry(1, 2, 0, nullptr, 0));
  Dump(device, Path("l2"));
  EXPECT_EQ(Contents("l2"), Header() + "0000.000  Dispatch  WriteCom      00000000  \r\n");
}

TEST_F(LogFile, LifecycleAndFailures) {
  FakeDevice device;
  EXPECT_EQ(device.DumpLog(Path("none").c_str(), false, false, false), 0);
  EXPECT_EQ(device.StartLog(dispatcher::MaxLogRingSize + 1), errors::ecBadArgument);
  EXPECT_FALSE(device.LogActive());

  // Nothing recorded: no file, and the log is freed.
  device.StartLog(1000);
  EXPECT_EQ(device.DumpLog(Path("none").c_str(), false, false, false), 0);
  EXPECT_FALSE(Exists("none"));
  EXPECT_EQ(device.LogRing, nullptr);

  // Paused: nothing recorded. Cleared: empty, still on.
  device.StartLog(1000);
  device.PauseLog();
  EXPECT_FALSE(device.AddLogEntry(2, 5, 1, nullptr, 0));
  device.ResumeLog();
  EXPECT_TRUE(device.AddLogEntry(2, 5, 1, nullptr, 0));
  device.ClearLog();
  EXPECT_TRUE(device.LogActive());
  EXPECT_EQ(device.DumpLog(Path("none").c_str(), false, false, false), 0);
  EXPECT_FALSE(Exists("none"));

  // A file that cannot be opened keeps the log, switched off.
  device.StartLog(1000);
  fakeNow = device.TimeBase;
  device.AddLogEntry(9, 16, 2, nullptr, 0);
  EXPECT_EQ(device.DumpLog(Path("missing/dir/l").c_str(), false, false, false),
            -static_cast<ResultCode>(platform::ERROR_FILE_NOT_FOUND));
  EXPECT_NE(device.LogRing, nullptr);
  EXPECT_FALSE(device.LogActive());
  EXPECT_EQ(device.DumpLog(Path("l").c_str(), false, false, false), 0);
  const std::string first = Header() + "0000.000  TrDatChg  Avail         00000002  \r\n";
  EXPECT_EQ(Contents("l"), first);

  // Appending writes a second header after the first table.
  device.StartLog(1000);
  device.AddLogEntry(9, 16, 3, nullptr, 0);
  EXPECT_EQ(device.DumpLog(Path("l").c_str(), true, false, false), 0);
  EXPECT_EQ(Contents("l"), first + Header() + "0000.000  TrDatChg  Avail         00000003  \r\n");

  device.StartLog(1000);
  device.AddLogEntry(9, 16, 3, nullptr, 0);
  device.StopLog();
  EXPECT_EQ(device.LogRing, nullptr);
  EXPECT_FALSE(device.AddLogEntry(9, 16, 3, nullptr, 0));
}

TEST_F(LogFile, ReopenStartsBothRecordersOffAndCountsFromThen) {
  FakeDevice device;
  device.StartTrace(10);
  device.StartLog(1000);
  fakeNow = 50000;
  device.ResetRecorders();
  EXPECT_FALSE(device.TraceActive());
  EXPECT_FALSE(device.LogActive());
  EXPECT_EQ(device.LogRing, nullptr);
  device.StartLog(1000);
  fakeNow = 50007;
  device.AddLogEntry(2, 5, 1, nullptr, 0);
  Dump(device, Path("l"));
  EXPECT_EQ(Contents("l"), Header() + "0000.007  Trigger   Avail         00000001  \r\n");
}

TEST_F(LogFile, FillStepLogsEveryDeviceRead) {
  FakeDevice device;
  device.StartLog(4096);
  fakeNow = device.TimeBase;
  device.InHead = device.InTail = dispatcher::InRingSize - 2;
  device.Receive("abcd");
  device.FillDispatchBuffer();  // two pieces around the wrap
  device.Receive("e");
  device.failReads = 1;
  device.FillDispatchBuffer();  // a failed read: an empty entry
  Dump(device, Path("l"));
  EXPECT_EQ(Contents("l"), Header() + "0000.000  Dispatch  ReadCom       00000002  ab\r\n" +
                               "0000.000  Dispatch  ReadCom       00000002  cd\r\n" +
                               "0000.000  Dispatch  ReadCom       00000000  \r\n");
}

TEST_F(LogFile, RefusedWriteLogsAnEmptyEntry) {
  FakeDevice device;
  device.StartLog(4096);
  fakeNow = device.TimeBase;
  device.failWrites = true;
  EXPECT_EQ(device.WriteBlock("abc", 3), errors::ecPutBlockFail);
  device.failWrites = false;
  EXPECT_EQ(device.WriteBlock("abc", 0), 0);  // nothing at all for an empty block
  Dump(device, Path("l"));
  EXPECT_EQ(Contents("l"), Header() + "0000.000  Dispatch  WriteCom      00000000  \r\n");
}

}  // namespace
}  // namespace dispatcher_test
