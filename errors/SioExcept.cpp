#include "errors/SioExcept.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <iterator>

#include "errors/SioStrRes.h"
#include "platform/error_text.h"

namespace errors {

namespace {

// The texts are read into a 255-character buffer by the callers this error
// layer was designed for; longer texts are cut there.
constexpr std::size_t kMaxText = 255;

// Cuts to at most `limit` bytes without splitting a UTF-8 sequence.
void CutText(std::string& text, std::size_t limit) {
  if (text.size() <= limit) return;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
}

std::string SystemText(std::uint32_t number) {
  std::array<char, kMaxText + 1> buffer{};
  const platform::DWORD length =
      platform::FormatMessageA(platform::FORMAT_MESSAGE_FROM_SYSTEM, nullptr, number, 0,
                               buffer.data(), static_cast<platform::DWORD>(buffer.size()), nullptr);
  if (length == 0) return {};
  std::string text(buffer.data(), std::min<std::size_t>(length, kMaxText));
  return CleanSystemText(std::move(text));
}

template <typename E>
[[noreturn]] void Raise(std::int32_t code) {
  throw E(code);
}

struct CodeClass {
  std::int32_t code;
  void (*raise)(std::int32_t code);  // always raises
};

// Every code that has a class of its own, in ascending order of the code.
constexpr auto SortedCodeClasses() {
  std::array entries{
#define SIO_CODE(Class, code) CodeClass{code, &Raise<Class>},
#include "errors/SioErrorTable.def"
  };
  std::sort(entries.begin(), entries.end(),
            [](const CodeClass& a, const CodeClass& b) { return a.code < b.code; });
  return entries;
}

constexpr auto kCodeClasses = SortedCodeClasses();

static_assert(std::adjacent_find(kCodeClasses.begin(), kCodeClasses.end(),
                                 [](const CodeClass& a, const CodeClass& b) { return a.code == b.code; }) ==
                  kCodeClasses.end(),
              "a code appears twice in SioErrorTable.def");

const CodeClass* ClassOf(std::int32_t code) {
  const auto it = std::lower_bound(std::begin(kCodeClasses), std::end(kCodeClasses), code,
                                   [](const CodeClass& entry, std::int32_t c) { return entry.code < c; });
  return (it != std::end(kCodeClasses) && it->code == code) ? it : nullptr;
}

std::uint32_t Magnitude(std::int32_t code) {
  // Computed in 64 bits: the magnitude of the most negative code overflows
  // a 32-bit int.
  return static_cast<std::uint32_t>(std::llabs(static_cast<long long>(code)));
}

}  // namespace

// Control characters (the system's CR LF, tabs) become spaces; then every
// run of spaces shrinks to one by deleting the first of each pair.
std::string CleanSystemText(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out.push_back(c);
  }
  return out;
}

std::string ErrorTextOf(std::int32_t id) {
  const std::uint32_t number = Magnitude(id);
  std::string text;
  if (auto* reader = SioErrorStrings(); reader != nullptr && number <= 0x7FFF) {
    // TryTextOf: a missing entry is the empty text whatever ReportMissing
    // says, so this never raises.
    text = reader->TryTextOf(static_cast<std::int32_t>(number)).value_or(std::string{});
    CutText(text, kMaxText);
  }
  if (text.empty()) text = SystemText(number);
  return text;
}

std::string ErrorText(std::int16_t id) { return ErrorTextOf(id); }

ESIOException::ESIOException(std::int32_t code) : ESIOException(code, ErrorTextOf(code)) {}

ESIOException::ESIOException(std::int32_t code, std::string message)
    : framework::Exception(std::move(message)), resultCode_(code) {}

std::int32_t CheckResult(bool portIsLoading, std::int32_t code) {
  if (code >= 0 || portIsLoading) return code;
  if (const CodeClass* entry = ClassOf(code)) entry->raise(code);
  if (code == ecOutOfMemory) throw EOutOfMemory();
  if (code >= -162 && code <= -2) {
    const auto number = static_cast<int>(Magnitude(code));
    throw EInOutError(ErrorTextOf(number), number);
  }
  throw ESIOException::CreateText("Sio exception");
}

}  // namespace errors
