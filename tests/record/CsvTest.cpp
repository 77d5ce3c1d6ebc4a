// The CSV rows and the writer thread: whole lines on disk as they are
// written, and a file that cannot be written stops the recording with a
// message, keeping what was written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "record/CsvRow.h"
#include "record/CsvWriter.h"
#include "record/Session.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

template <class Done>
bool WaitFor(Done done) {
  for (auto limit = std::chrono::steady_clock::now() + 10s; !done();) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

class TempFolder {
 public:
  TempFolder() : path_(fs::temp_directory_path() / ("tesmar-record-" + std::to_string(::getpid()) + "-" +
                                                   std::to_string(counter_++))) {
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& Path() const { return path_; }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

TEST(CsvRowTest, RowsCarryEveryColumnAndQuoteWhatNeedsIt) {
  record::Row row;
  row.time = std::chrono::system_clock::time_point(std::chrono::milliseconds(1796700312345));
  row.elapsed = 12.3456;
  row.reading = {record::ReadingKind::Value, 0.123456, "V"};
  row.setting = {'U', '0', '2'};
  row.raw = "+123.456 ";
  row.segment = 3;
  const std::string line = record::FormatRow(row);
  const std::string time = record::IsoLocalTime(row.time);
  EXPECT_EQ(line, time + ",12.346,0.123456,V,U,0,2,+123.456 ,ok,3\n");
  EXPECT_EQ(time.size(), std::string("2026-12-08T03:05:12.345+00:00").size());
  EXPECT_EQ(time.substr(19, 4), ".345");

  row.reading = {record::ReadingKind::Overload, 0, "Ω"};
  row.raw = "+\"OL\",\n";
  EXPECT_NE(record::FormatRow(row).find(",,Ω,U,0,2,\"+\"\"OL\"\",\n\",overload,3\n"), std::string::npos);
  EXPECT_EQ(record::CsvHeader(),
            "time,elapsed_s,value,unit,function,range,resolution,raw,status,segment\n");
  EXPECT_EQ(record::ShortestDecimal(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(record::ShortestDecimal(9404260.0), "9404260");

  // The same row as JSON: no value for the overload, the raw text escaped,
  // and bytes of a garbled line that are not UTF-8 replaced.
  EXPECT_EQ(record::FormatJsonRow(row),
            "{\"time\":\"" + time +
                "\",\"elapsed_s\":12.346,\"value\":null,\"unit\":\"Ω\","
                "\"function\":\"U\",\"range\":\"0\",\"resolution\":\"2\",\"raw\":\"+\\\"OL\\\",\\u000a\","
                "\"status\":\"overload\",\"segment\":3}\n");
  row.reading = {record::ReadingKind::Unreadable, 0, ""};
  row.raw = std::string("+1\xff\xc3(\\");
  EXPECT_NE(record::FormatJsonRow(row).find("\"raw\":\"+1\\uFFFD\\uFFFD(\\\\\""), std::string::npos)
      << record::FormatJsonRow(row);
}

TEST(CsvWriterTest, EachLineIsOnDiskWholeOnceWritten) {
  TempFolder folder;
  const fs::path file = folder.Path() / "r.csv";
  std::string error;
  auto writer = record::CsvWriter::Open(file.string(), error);
  ASSERT_TRUE(writer) << error;
  for (int i = 1; i <= 50; ++i) {
    ASSERT_TRUE(writer->Append("line " + std::to_string(i) + "\n"));
    ASSERT_TRUE(WaitFor([&] { return writer->Written() == static_cast<std::uint64_t>(i); }));
    const std::string text = ReadFile(file);
    ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), i);
    ASSERT_EQ(text.back(), '\n');
  }
  writer->Close();
  EXPECT_FALSE(writer->Failure());
  EXPECT_FALSE(writer->Append("late\n"));
}

TEST(CsvWriterTest, FilesThatCannotBeWrittenStopWithAMessage) {
  std::string error;
  // A full disk.
  auto full = record::CsvWriter::Open("/dev/full", error);
  ASSERT_TRUE(full) << error;
  full->Append("a,b\n");
  ASSERT_TRUE(WaitFor([&] { return full->Done(); }));
  ASSERT_TRUE(full->Failure());
  EXPECT_NE(full->Failure()->find("/dev/full"), std::string::npos);
  EXPECT_NE(full->Failure()->find(std::strerror(ENOSPC)), std::string::npos);
  EXPECT_FALSE(full->Append("c,d\n"));
  EXPECT_EQ(full->Written(), 0u);

  // A folder that is not there, and one without rights.
  TempFolder folder;
  EXPECT_FALSE(record::CsvWriter::Open((folder.Path() / "missing" / "r.csv").string(), error));
  EXPECT_NE(error.find("missing/r.csv"), std::string::npos);
  EXPECT_NE(error.find(std::strerror(ENOENT)), std::string::npos);
  if (::geteuid() != 0) {
    fs::permissions(folder.Path(), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(record::CsvWriter::Open((folder.Path() / "r.csv").string(), error));
    EXPECT_NE(error.find(std::strerror(EACCES)), std::string::npos);
    fs::permissions(folder.Path(), fs::perms::owner_all);
  }
}

TEST(CsvWriterTest, AFolderRemovedWhileRecordingStopsItKeepingNothingHidden) {
  TempFolder folder;
  const fs::path sub = folder.Path() / "run";
  fs::create_directories(sub);
  std::string error;
  auto writer = record::CsvWriter::Open((sub / "r.csv").string(), error);
  ASSERT_TRUE(writer) << error;
  writer->Append("one\n");
  ASSERT_TRUE(WaitFor([&] { return writer->Written() == 1; }));
  fs::remove_all(sub);
  writer->Append("two\n");
  ASSERT_TRUE(WaitFor([&] { return writer->Done(); }));
  ASSERT_TRUE(writer->Failure());
  EXPECT_NE(writer->Failure()->find("удалён"), std::string::npos);
  EXPECT_EQ(writer->Written(), 1u);
}

TEST(CsvWriterTest, AStalledFileNeverHoldsTheCaller) {
  TempFolder folder;
  const fs::path fifo = folder.Path() / "stalled";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string error;
  // No reader yet: refused at once instead of waiting for one.
  EXPECT_FALSE(record::CsvWriter::Open(fifo.string(), error));
  EXPECT_NE(error.find(std::strerror(ENXIO)), std::string::npos) << error;
  // A reader that takes nothing: the writer thread blocks once the pipe is
  // full, and Append goes on queueing.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  auto writer = record::CsvWriter::Open(fifo.string(), error);
  ASSERT_TRUE(writer) << error;
  const std::string line(99, 'x');
  for (int i = 0; i < 4000; ++i) ASSERT_TRUE(writer->Append(line + "\n"));
  EXPECT_GT(writer->Pending(), 0u);
  EXPECT_LT(writer->Written(), 4000u);
  writer->Finish();  // does not wait either
  std::size_t drained = 0;
  char buffer[4096];
  ASSERT_TRUE(WaitFor([&] {
    const ssize_t n = ::read(reader, buffer, sizeof buffer);
    if (n > 0) drained += static_cast<std::size_t>(n);
    return writer->Done() && n <= 0;
  }));
  writer->Close();
  ::close(reader);
  EXPECT_EQ(writer->Written(), 4000u);
  EXPECT_EQ(drained, 4000u * 100);
}

TEST(CsvWriterTest, AReaderThatStoppedReadingIsGivenUpAtTheEnd) {
  TempFolder folder;
  const fs::path fifo = folder.Path() / "stopped";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  std::string error;
  auto writer = record::CsvWriter::Open(fifo.string(), error, record::Language::english);
  ASSERT_TRUE(writer) << error;
  const std::string line(99, 'x');
  for (int i = 0; i < 4000; ++i) ASSERT_TRUE(writer->Append(line + "\n"));
  // The pipe fills and nobody reads: the close ends anyway, saying what
  // was lost.
  writer->Close();
  ASSERT_TRUE(writer->Failure());
  EXPECT_NE(writer->Failure()->find("takes no data: "), std::string::npos) << *writer->Failure();
  const std::uint64_t lost = std::stoull(writer->Failure()->substr(writer->Failure()->find(": ") + 2));
  EXPECT_EQ(writer->Written() + lost, 4000u);
  ::close(reader);
}

TEST(SessionTest, RecordsRowsSegmentsAndStopsOnAFailedDisk) {
  TempFolder folder;
  const fs::path file = folder.Path() / "s.csv";
  record::Session session;
  session.Add("+1.00000 ", {'U', '1', '2'});  // before the recording: not in the file
  std::string error;
  ASSERT_TRUE(session.StartRecording(file.string(), error)) << error;
  const auto wall = std::chrono::system_clock::now();
  const auto steady = std::chrono::steady_clock::now();
  session.Add("+1.23456 ", {'U', '1', '2'}, wall, steady);
  session.Add("+1.23457 ", {'U', '1', '2'}, wall + 1s, steady + 1s);
  session.Add("+0.94043 ", {'R', '1', '2'}, wall + 2s, steady + 2s);
  session.Add("  +OL    ", {'R', '1', '2'}, wall + 3s, steady + 3s);
  session.Add("+0.9404 ", {'R', '1', '1'}, wall + 4s, steady + 4s);
  session.StopRecording();
  session.FinishWriting();
  EXPECT_FALSE(session.TakeFailure());
  std::istringstream lines(ReadFile(file));
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0], record::CsvHeader().substr(0, record::CsvHeader().size() - 1));
  EXPECT_NE(rows[1].find(",0.000,1.23456,V,U,1,2,+1.23456 ,ok,1"), std::string::npos);
  EXPECT_NE(rows[2].find(",1.000,1.23457,V,U,1,2,+1.23457 ,ok,1"), std::string::npos);
  EXPECT_NE(rows[3].find(",2.000,940.43,Ω,R,1,2,+0.94043 ,ok,2"), std::string::npos);
  EXPECT_NE(rows[4].find(",3.000,,Ω,R,1,2,  +OL    ,overload,2"), std::string::npos);
  EXPECT_NE(rows[5].find(",4.000,940.4,Ω,R,1,1,+0.9404 ,ok,3"), std::string::npos);

  // Volts and ohms are separate trends; the statistics count all readings.
  ASSERT_EQ(session.Trends().size(), 2u);
  EXPECT_EQ(session.Trends()[0].points.size(), 3u);
  EXPECT_EQ(session.Trends()[1].points.size(), 2u);
  EXPECT_EQ(session.CurrentTrend()->unit, "Ω");
  EXPECT_EQ(session.Stats().Find('R', "Ω")->overloads, 1u);

  ASSERT_TRUE(session.StartRecording("/dev/full", error)) << error;
  EXPECT_TRUE(session.Recording());
  ASSERT_TRUE(WaitFor([&] {
    session.Poll();
    return !session.Recording();
  }));
  const auto failure = session.TakeFailure();
  ASSERT_TRUE(failure);
  EXPECT_NE(failure->find("/dev/full"), std::string::npos);
  EXPECT_FALSE(session.TakeFailure());
  session.Add("+1.00000 ", {'U', '1', '2'});  // readings go on being taken
  EXPECT_EQ(session.Readings(), 7u);
}

// A lost link or device is no reading: one no_link row without a value
// however often it is reported, neither counted nor unreadable, and the
// trend's line breaks there.
TEST(SessionTest, AnOutageIsMarkedNotCountedAndBreaksTheTrend) {
  TempFolder folder;
  const fs::path file = folder.Path() / "o.csv";
  record::Session session;
  std::string error;
  ASSERT_TRUE(session.StartRecording(file.string(), error)) << error;
  const auto wall = std::chrono::system_clock::now();
  const auto steady = std::chrono::steady_clock::now();
  const record::Setting volts{'U', '1', '2'};
  session.Add("+1.23456 ", volts, wall, steady);
  session.AddOutage(volts, wall + 1s, steady + 1s);
  session.AddOutage(volts, wall + 2s, steady + 2s);
  session.Add("+1.23457 ", volts, wall + 3s, steady + 3s);
  session.StopRecording();
  session.FinishWriting();
  std::istringstream lines(ReadFile(file));
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_NE(rows[2].find(",1.000,,,U,1,2,,no_link,1"), std::string::npos) << rows[2];
  EXPECT_NE(rows[3].find(",3.000,1.23457,V,U,1,2,+1.23457 ,ok,1"), std::string::npos) << rows[3];
  EXPECT_EQ(session.Readings(), 2u);
  const record::Summary* summary = session.Stats().Find('U', "V");
  ASSERT_NE(summary, nullptr);
  EXPECT_EQ(summary->count, 2u);
  EXPECT_EQ(summary->unreadable, 0u);
  const std::vector<record::Point>& points = session.CurrentTrend()->points;
  ASSERT_EQ(points.size(), 3u);
  EXPECT_TRUE(std::isnan(points[1].v));
  EXPECT_LT(points[0].t, points[1].t);
  EXPECT_LT(points[1].t, points[2].t);
}

}  // namespace
