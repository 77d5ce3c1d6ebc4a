// One reading as a row of the recorder's CSV file.
//
// Columns: time (ISO 8601 local time with milliseconds and the UTC
// offset), elapsed_s (seconds since the recording's first reading, to the
// millisecond), value (SI units, shortest text that reads back as the same
// double; empty for an overload or an unreadable reading), unit, function
// (the instrument's letter: U V I J R Z F T), range (the range digit),
// resolution (0, 1, 2 for 3 1/2, 4 1/2, 5 1/2 digits), raw (the display
// text as shown), status ("ok", "overload", "unreadable", or "no_link"
// for an outage: no value, no raw text) and segment
// (starts at 1 and grows by one whenever function, range or resolution
// changes, so that readings of different settings never blend into one
// run of a column unnoticed). Fields are quoted where they hold a comma,
// a quote or a line break (RFC 4180); lines end with LF.
//
// The same row as JSON Lines is one object a line with the same names:
// numbers for elapsed_s, value (null without a value) and segment, strings
// for the rest.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "record/Reading.h"

namespace record {

enum class RowFormat { csv, jsonl };

struct Row {
  std::chrono::system_clock::time_point time;
  double elapsed = 0.0;  // seconds
  Reading reading;
  Setting setting;
  std::string raw;  // UTF-8
  std::uint64_t segment = 1;
};

// The header line, with its LF.
std::string CsvHeader();
// The row's line, with its LF.
std::string FormatRow(const Row& row);
// The row as one JSON object, with its LF.
std::string FormatJsonRow(const Row& row);
// "2026-12-08T03:05:12.345+01:00" for `time` in the local time zone.
std::string IsoLocalTime(std::chrono::system_clock::time_point time);
// The shortest decimal text that reads back as `value`.
std::string ShortestDecimal(double value);

}  // namespace record
