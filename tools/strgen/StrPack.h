// The message-string packer's work, apart from its command line: reading
// source texts into entries and packing them into one STR0 image.
//
// A source is UTF-8 text (a leading byte-order mark is skipped), one entry
// a line:
//
//   <id> "<text>"
//
// where <id> is a signed 32-bit decimal number and <text> may hold the
// escapes \" \\ \t \r \n. The quotes keep leading and trailing spaces
// visible. Blank lines and lines whose first non-blank character is '#' are
// comments. Ids must be unique across all sources. With asciiOnly every text
// must be plain 7-bit ASCII.
//
// Output (little-endian): "STR0", the entry count N, N index entries of
// (id, byte offset of the text, length in UTF-16 code units), then the texts
// in UTF-16LE without terminators, in ascending order of id.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>

namespace strgen {

struct Entry {
  std::u16string text;
  std::string where;  // "file:line", for the duplicate message
};
using Entries = std::map<std::int32_t, Entry>;

// A source that cannot be packed faithfully, or an output that cannot be
// written; the text names the file (and line).
class SourceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Adds the entries of one source's text; Name only words the messages.
// Returns the number of entries it held.
std::size_t ReadSourceText(std::string_view text, const std::string& name, bool asciiOnly,
                           Entries& entries);

// Reads the file Path as a source. A directory, an unreadable file and a
// source without a single entry are refused.
void ReadSourceFile(const std::string& path, bool asciiOnly, Entries& entries);

// The STR0 image of the entries.
std::string Pack(const Entries& entries);

// Writes Image to Output through "Output.part", renamed over Output once
// whole; on any failure the partial file is removed and Output is left as
// it was.
void WriteOutput(const std::string& output, std::string_view image);

}  // namespace strgen
