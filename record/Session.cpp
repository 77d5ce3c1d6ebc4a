#include "record/Session.h"

#include <algorithm>
#include <cmath>

namespace record {

Trend& Session::TrendOf(char function, const std::string& unit) {
  auto it = std::find_if(trends_.begin(), trends_.end(),
                         [&](const Trend& t) { return t.function == function && t.unit == unit; });
  if (it == trends_.end()) {
    trends_.push_back(Trend{function, unit, {}});
    it = trends_.end() - 1;
  }
  currentTrend_ = static_cast<std::size_t>(it - trends_.begin());
  hasCurrent_ = true;
  return *it;
}

const Trend* Session::CurrentTrend() const {
  return hasCurrent_ ? &trends_[currentTrend_] : nullptr;
}

Reading Session::Add(const std::string& text, const Setting& setting, WallClock::time_point wall,
                     SteadyClock::time_point steady) {
  Poll();
  inOutage_ = false;
  const Reading reading = ParseReading(text, setting);
  const double seconds = std::chrono::duration<double>(wall.time_since_epoch()).count();
  ++readings_;
  statistics_.Add(reading, setting.function, seconds);
  Trend& trend = TrendOf(setting.function, reading.unit);
  // A clock set back would break the trend's order, which drawing relies
  // on; such a point goes in at the last time instead.
  if (reading.kind == ReadingKind::Value) {
    const double t = trend.points.empty() ? seconds : std::max(seconds, trend.points.back().t);
    trend.points.push_back({t, reading.value});
  }
  Write(reading, setting, text, wall, steady);
  return reading;
}

void Session::AddOutage(const Setting& setting, WallClock::time_point wall, SteadyClock::time_point steady) {
  Poll();
  if (inOutage_) return;
  inOutage_ = true;
  if (hasCurrent_) {
    std::vector<Point>& points = trends_[currentTrend_].points;
    const double seconds = std::chrono::duration<double>(wall.time_since_epoch()).count();
    if (!points.empty() && !std::isnan(points.back().v))
      points.push_back({std::max(seconds, points.back().t), std::nan("")});
  }
  Reading outage;
  outage.kind = ReadingKind::NoLink;
  Write(outage, setting, "", wall, steady);
}

void Session::Write(const Reading& reading, const Setting& setting, const std::string& raw,
                    WallClock::time_point wall, SteadyClock::time_point steady) {
  if (!lastSetting_ || !(*lastSetting_ == setting)) ++segment_;
  lastSetting_ = setting;
  if (!writer_) return;
  if (startPending_) {
    recordingStart_ = steady;
    startPending_ = false;
  }
  Row row;
  row.time = wall;
  row.elapsed = std::chrono::duration<double>(steady - recordingStart_).count();
  row.reading = reading;
  row.setting = setting;
  row.raw = raw;
  row.segment = segment_;
  if (writer_->Append(format_ == RowFormat::jsonl ? FormatJsonRow(row) : FormatRow(row))) ++rowsQueued_;
}

bool Session::StartRecording(const std::string& path, std::string& error, RecordingStyle style) {
  StopRecording();
  failure_.reset();
  auto writer = CsvWriter::Open(path, error, style.language);
  if (!writer) return false;
  format_ = style.format;
  if (format_ == RowFormat::csv) writer->Append(CsvHeader());
  writer_ = std::move(writer);
  recordingPath_ = path;
  rowsQueued_ = 0;
  // Elapsed time counts from the first reading recorded, and segments
  // restart with the recording.
  startPending_ = true;
  segment_ = 0;
  lastSetting_.reset();
  return true;
}

Session::~Session() {
  StopRecording();
  FinishWriting();
}

void Session::StopRecording() {
  if (!writer_) return;
  writer_->Finish();
  closing_.push_back(std::move(writer_));
}

void Session::FinishWriting() {
  for (auto& writer : closing_) writer->Close();
  Poll();
}

bool Session::Writing() const {
  return std::any_of(closing_.begin(), closing_.end(), [](const auto& w) { return !w->Done(); });
}

void Session::Poll() {
  if (writer_ && writer_->Failure()) StopRecording();
  for (auto it = closing_.begin(); it != closing_.end();) {
    if (!(*it)->Done()) {
      ++it;
      continue;
    }
    (*it)->Close();  // the thread has ended: joining does not wait
    if (auto failure = (*it)->Failure()) failure_ = std::move(failure);
    it = closing_.erase(it);
  }
}

std::optional<std::string> Session::TakeFailure() {
  Poll();
  std::optional<std::string> failure = std::move(failure_);
  failure_.reset();
  return failure;
}

}  // namespace record
