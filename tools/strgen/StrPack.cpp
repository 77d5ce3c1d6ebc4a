#include "tools/strgen/StrPack.h"

#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>

namespace strgen {

namespace {

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw SourceError(where + ": " + what);
}

// Decodes one UTF-8 sequence at text[i]; returns the code point and advances
// i, or nothing for a malformed, overlong or surrogate sequence.
std::optional<char32_t> DecodeUtf8(const std::string& text, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  int extra = 0;
  char32_t cp = 0;
  if (lead < 0x80) {
    ++i;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07;
  } else {
    return std::nullopt;
  }
  if (i + extra >= text.size()) return std::nullopt;
  for (int k = 1; k <= extra; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return std::nullopt;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
  i += extra + 1;
  return cp;
}

std::u16string ToUtf16(const std::string& utf8, bool asciiOnly, const std::string& where) {
  std::u16string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto cp = DecodeUtf8(utf8, i);
    if (!cp) Fail(where, "text is not valid UTF-8");
    if (asciiOnly && *cp > 0x7F) Fail(where, "text is not plain ASCII");
    if (*cp < 0x10000) {
      out.push_back(static_cast<char16_t>(*cp));
    } else {
      const char32_t v = *cp - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    }
  }
  return out;
}

std::int32_t ParseId(const std::string& line, std::size_t& pos, const std::string& where) {
  const std::size_t start = pos;
  if (pos < line.size() && (line[pos] == '-' || line[pos] == '+')) ++pos;
  while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9') ++pos;
  const std::string digits = line.substr(start, pos - start);
  if (digits.empty() || digits == "-" || digits == "+") Fail(where, "expected an id");
  long long value = 0;
  try {
    std::size_t used = 0;
    value = std::stoll(digits, &used);
  } catch (const std::exception&) {
    Fail(where, "id out of range");
  }
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    Fail(where, "id out of range");
  }
  return static_cast<std::int32_t>(value);
}

std::string ParseQuoted(const std::string& line, std::size_t& pos, const std::string& where) {
  if (pos >= line.size() || line[pos] != '"') Fail(where, "expected a quoted text after the id");
  std::string text;
  for (++pos; pos < line.size(); ++pos) {
    const char c = line[pos];
    if (c == '"') {
      ++pos;
      return text;
    }
    if (c != '\\') {
      text.push_back(c);
      continue;
    }
    if (++pos >= line.size()) break;
    switch (line[pos]) {
      case '"': text.push_back('"'); break;
      case '\\': text.push_back('\\'); break;
      case 't': text.push_back('\t'); break;
      case 'r': text.push_back('\r'); break;
      case 'n': text.push_back('\n'); break;
      default: Fail(where, std::string("unknown escape \\") + line[pos]);
    }
  }
  Fail(where, "text has no closing quote");
}

void SkipBlanks(const std::string& line, std::size_t& pos) {
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
}

}  // namespace

std::size_t ReadSourceText(std::string_view text, const std::string& name, bool asciiOnly,
                           Entries& entries) {
  static constexpr std::string_view kBom = "\xEF\xBB\xBF";
  if (text.substr(0, kBom.size()) == kBom) text.remove_prefix(kBom.size());
  std::size_t count = 0;
  int number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string line(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const std::string where = name + ":" + std::to_string(++number);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t pos = 0;
    SkipBlanks(line, pos);
    if (pos == line.size() || line[pos] == '#') continue;
    const std::int32_t id = ParseId(line, pos, where);
    SkipBlanks(line, pos);
    const std::string quoted = ParseQuoted(line, pos, where);
    SkipBlanks(line, pos);
    if (pos != line.size()) Fail(where, "unexpected characters after the text");
    const auto [it, added] = entries.try_emplace(id, Entry{ToUtf16(quoted, asciiOnly, where), where});
    if (!added) Fail(where, "id " + std::to_string(id) + " already given at " + it->second.where);
    ++count;
  }
  return count;
}

void ReadSourceFile(const std::string& path, bool asciiOnly, Entries& entries) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) throw SourceError(path + ": is a directory, not a source");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SourceError(path + ": cannot open");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw SourceError(path + ": cannot read");
  if (ReadSourceText(text.str(), path, asciiOnly, entries) == 0)
    throw SourceError(path + ": holds no entries");
}

namespace {

void Put32(std::string& out, std::uint32_t value) {
  for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>((value >> (8 * k)) & 0xFF));
}

}  // namespace

std::string Pack(const std::map<std::int32_t, Entry>& entries) {
  const std::uint64_t textStart = 8 + 12 * static_cast<std::uint64_t>(entries.size());
  std::string index;
  std::string texts;
  for (const auto& [id, entry] : entries) {
    const std::uint64_t offset = textStart + texts.size();
    if (offset + 2 * entry.text.size() > std::numeric_limits<std::uint32_t>::max()) {
      throw SourceError("the texts do not fit into a 32-bit resource");
    }
    Put32(index, static_cast<std::uint32_t>(id));
    Put32(index, static_cast<std::uint32_t>(offset));
    Put32(index, static_cast<std::uint32_t>(entry.text.size()));
    for (const char16_t unit : entry.text) {
      texts.push_back(static_cast<char>(unit & 0xFF));
      texts.push_back(static_cast<char>(unit >> 8));
    }
  }
  std::string out = "STR0";
  Put32(out, static_cast<std::uint32_t>(entries.size()));
  return out + index + texts;
}


void WriteOutput(const std::string& output, std::string_view image) {
  // A temporary name first, so that a failed run never leaves a
  // half-written resource that a later build would embed, nor litter.
  const std::string partial = output + ".part";
  try {
    {
      std::ofstream out(partial, std::ios::binary | std::ios::trunc);
      if (!out) throw SourceError(partial + ": cannot create");
      out.write(image.data(), static_cast<std::streamsize>(image.size()));
      if (!out.flush()) throw SourceError(partial + ": cannot write");
    }
    // std::rename keeps an existing file on Windows; the filesystem's
    // rename replaces it there as on Linux.
    std::error_code renamed;
    std::filesystem::rename(partial, output, renamed);
    if (renamed) throw SourceError(output + ": cannot replace");
  } catch (...) {
    std::error_code ignored;
    std::filesystem::remove(partial, ignored);
    throw;
  }
}

}  // namespace strgen
