#include "record/CsvRow.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace record {
namespace {

std::string Quoted(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string out = "\"";
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

// A JSON string: quotes, backslashes and control characters escaped; bytes
// that are not UTF-8 (a garbled line) become U+FFFD.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
      bool whole = length > 0 && c < 0xF5 && i + length <= text.size();
      for (std::size_t k = 1; whole && k < length; ++k)
        whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
      if (!whole) {
        out += "\\uFFFD";
        ++i;
        continue;
      }
      out.append(text, i, length);
      i += length;
      continue;
    }
    ++i;
  }
  return out + "\"";
}

const char* StatusText(ReadingKind kind) {
  switch (kind) {
    case ReadingKind::Value: return "ok";
    case ReadingKind::Overload: return "overload";
    case ReadingKind::NoLink: return "no_link";
    default: return "unreadable";
  }
}

}  // namespace

std::string CsvHeader() {
  return "time,elapsed_s,value,unit,function,range,resolution,raw,status,segment\n";
}

std::string IsoLocalTime(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto since = time.time_since_epoch();
  auto secs = duration_cast<seconds>(since);
  auto ms = duration_cast<milliseconds>(since - secs).count();
  if (ms < 0) {
    ms += 1000;
    secs -= seconds(1);
  }
  const std::time_t t = static_cast<std::time_t>(secs.count());
  std::tm local{};
  localtime_r(&t, &local);
  const long offset = local.tm_gmtoff;
  const long offsetAbs = std::labs(offset);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<int>(ms), offset < 0 ? '-' : '+', offsetAbs / 3600,
                offsetAbs % 3600 / 60);
  return text;
}

std::string ShortestDecimal(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string FormatRow(const Row& row) {
  char elapsed[32];
  std::snprintf(elapsed, sizeof elapsed, "%.3f", row.elapsed);
  std::string line = IsoLocalTime(row.time);
  line += ',';
  line += elapsed;
  line += ',';
  if (row.reading.kind == ReadingKind::Value) line += ShortestDecimal(row.reading.value);
  line += ',';
  line += Quoted(row.reading.unit);
  line += ',';
  line += row.setting.function;
  line += ',';
  line += row.setting.range;
  line += ',';
  line += row.setting.resolution;
  line += ',';
  line += Quoted(row.raw);
  line += ',';
  line += StatusText(row.reading.kind);
  line += ',';
  line += std::to_string(row.segment);
  line += '\n';
  return line;
}

std::string FormatJsonRow(const Row& row) {
  char elapsed[32];
  std::snprintf(elapsed, sizeof elapsed, "%.3f", row.elapsed);
  const bool valued = row.reading.kind == ReadingKind::Value;
  std::string line = "{\"time\":" + JsonString(IsoLocalTime(row.time));
  line += ",\"elapsed_s\":" + std::string(elapsed);
  line += ",\"value\":" + (valued ? ShortestDecimal(row.reading.value) : std::string("null"));
  line += ",\"unit\":" + JsonString(row.reading.unit);
  line += ",\"function\":" + JsonString(std::string(1, row.setting.function));
  line += ",\"range\":" + JsonString(std::string(1, row.setting.range));
  line += ",\"resolution\":" + JsonString(std::string(1, row.setting.resolution));
  line += ",\"raw\":" + JsonString(row.raw);
  line += ",\"status\":" + JsonString(StatusText(row.reading.kind));
  line += ",\"segment\":" + std::to_string(row.segment) + "}\n";
  return line;
}

}  // namespace record
