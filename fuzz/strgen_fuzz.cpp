// The message-string packer's round trip: whatever source text it accepts,
// the packed image reads back, id by id, as the texts it was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "errors/SioStrRes.h"
#include "tools/strgen/StrPack.h"

namespace {

std::string ToUtf8(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  strgen::Entries entries;
  try {
    strgen::ReadSourceText(text, "fuzz.txt", false, entries);
  } catch (const strgen::SourceError&) {
    return 0;
  }
  const std::string image = strgen::Pack(entries);
  errors::TSioStringResource reader(std::as_bytes(std::span(image)), "FUZZ");
  if (reader.Count() != entries.size()) std::abort();
  for (const auto& [id, entry] : entries) {
    if (reader.TextOf(id) != ToUtf8(entry.text)) std::abort();
  }
  return 0;
}
