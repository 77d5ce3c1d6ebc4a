// What the recorder keeps of the readings the panel shows: the trend of
// every function and unit (for the chart), the statistics since the last
// clear, and, while recording, the CSV file.
//
// Add takes each reading once, as the display showed it. It parses the
// text, counts it, appends it to the trend of its function and unit and,
// while recording, queues its row for the writer thread; it never waits
// for the disk. A change of function, range or resolution starts a new
// segment (the CSV's segment column); a reading of another unit starts or
// continues the trend of that unit, never the one of the previous unit.
//
// A recording that fails (see CsvWriter) stops itself: Recording() turns
// false at the next Add or Poll, and TakeFailure hands the message over
// once. What was written stays in the file.
//
// Thread safety: the owner's thread only (the window's thread, or the
// headless loop); the writer runs on its own thread behind CsvWriter.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "record/CsvRow.h"
#include "record/CsvWriter.h"
#include "record/Decimate.h"
#include "record/Reading.h"
#include "record/Statistics.h"

namespace record {

// The readings of one function and unit, times in seconds since the Unix
// epoch; overloads and unreadable readings are not points. A point whose
// value is NaN marks an outage: the line breaks there (Decimate.h).
struct Trend {
  char function = 'U';
  std::string unit;
  std::vector<Point> points;
};

class Session {
 public:
  Session() = default;
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  using WallClock = std::chrono::system_clock;
  using SteadyClock = std::chrono::steady_clock;

  // One reading as the display showed it (UTF-8), taken at the setting.
  // Returns the parsed reading.
  Reading Add(const std::string& text, const Setting& setting, WallClock::time_point wall,
              SteadyClock::time_point steady);
  Reading Add(const std::string& text, const Setting& setting) {
    return Add(text, setting, WallClock::now(), SteadyClock::now());
  }

  // The instrument could not be reached while the panel held `setting` (the
  // link fell silent or the device vanished). Not a reading: it is neither
  // counted nor in the statistics; the trend of the last reading breaks
  // here and, while recording, a row with status no_link (no value, no
  // raw text) goes to the file. Outages without a reading between them
  // are one.
  void AddOutage(const Setting& setting, WallClock::time_point wall, SteadyClock::time_point steady);
  void AddOutage(const Setting& setting) { AddOutage(setting, WallClock::now(), SteadyClock::now()); }

  struct RecordingStyle {
    RowFormat format = RowFormat::csv;
    Language language = Language::russian;  // of the failure messages
  };
  // Starts writing to `path` ("-": standard output), a CSV file with its
  // header line or JSON Lines; false and `error` set when the file cannot
  // be opened. A recording already running is stopped first.
  bool StartRecording(const std::string& path, std::string& error, RecordingStyle style);
  bool StartRecording(const std::string& path, std::string& error) {
    return StartRecording(path, error, RecordingStyle{});
  }
  // Stops taking rows; the writer thread writes what is queued and closes
  // the file without the caller waiting for the disk (Poll collects it).
  void StopRecording();
  // Waits until every stopped recording's file is closed (the end of the
  // program; the destructor does it too).
  void FinishWriting();
  bool Recording() const { return writer_ != nullptr; }
  const std::string& RecordingPath() const { return recordingPath_; }
  std::uint64_t RowsQueued() const { return rowsQueued_; }
  // Notices a failed writer (stops the recording) and collects stopped
  // writers that are done; the window calls it from a timer so that a
  // failure shows even when no readings come.
  void Poll();
  // Rows of stopped recordings still waiting for the disk.
  bool Writing() const;
  // The failure message of the last stopped recording, once.
  std::optional<std::string> TakeFailure();

  void ClearStatistics() { statistics_.Clear(); }
  const Statistics& Stats() const { return statistics_; }
  // Trends stay where they are as others are added (a view may keep a
  // pointer to one for the session's life).
  const std::deque<Trend>& Trends() const { return trends_; }
  // The trend of the last reading's function and unit, or null.
  const Trend* CurrentTrend() const;
  // The total number of readings taken.
  std::uint64_t Readings() const { return readings_; }
  const std::optional<Setting>& LastSetting() const { return lastSetting_; }
  // Adds a point directly to a trend (for loading and benchmarks).
  Trend& TrendOf(char function, const std::string& unit);

 private:
  // Counts the setting's segment and, while recording, queues the row.
  void Write(const Reading& reading, const Setting& setting, const std::string& raw,
             WallClock::time_point wall, SteadyClock::time_point steady);

  Statistics statistics_;
  std::deque<Trend> trends_;
  std::size_t currentTrend_ = 0;
  bool hasCurrent_ = false;
  std::uint64_t readings_ = 0;
  std::optional<Setting> lastSetting_;
  std::uint64_t segment_ = 0;
  bool inOutage_ = false;  // an outage was added and no reading since
  std::unique_ptr<CsvWriter> writer_;
  std::vector<std::unique_ptr<CsvWriter>> closing_;  // stopped, still writing
  std::string recordingPath_;
  RowFormat format_ = RowFormat::csv;
  SteadyClock::time_point recordingStart_;
  bool startPending_ = false;  // elapsed time counts from the first row
  std::uint64_t rowsQueued_ = 0;
  std::optional<std::string> failure_;
};

}  // namespace record
