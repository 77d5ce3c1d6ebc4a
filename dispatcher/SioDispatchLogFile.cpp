// Writing the dispatch log as a table: five header lines naming the engine,
// the compiler and the system, then one line per entry (continued on
// indented lines when its data is long).
#include <array>
#include <optional>

#include "dispatcher/SioDispatch.h"
#include "dispatcher/SioDumpFile.h"
#include "errors/SioExcept.h"
#include "platform/clock.h"

namespace dispatcher {

using platform::BYTE;
using platform::DWORD;

namespace {

constexpr std::size_t kPrefixWidth = 44;
constexpr std::size_t kDataStartColumn = 45;
constexpr std::size_t kDataEndColumn = 79;
constexpr std::size_t kSystemTextLimit = 80;
constexpr std::int32_t kMsgTypeBase = 15001;
constexpr std::int32_t kMsgSubtypeBase = 15100;
constexpr std::int32_t kMsgColumnHeader = 15501;
constexpr std::int32_t kMsgColumnUnderline = 15502;
constexpr std::int32_t kMsgModemBitBase = 15601;
constexpr std::int32_t kMsgTerminalOptionBase = 15700;
constexpr std::int32_t kLastTerminalOption = 42;

std::string Text(std::int32_t id) { return errors::ErrorText(static_cast<std::int16_t>(id)); }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

std::string_view StatusKindName(BYTE kind) {
  static constexpr std::array<std::string_view, 6> kNames = {
      "(Not active)",         "(Modem status)",       "(Line status)",
      "(Output buffer free)", "(Output buffer used)", "(Output sent)"};
  return kind < kNames.size() ? kNames[kind] : std::string_view{};
}

// The type and subtype columns of the prefix ("%-8s  " and "%-12s  "),
// looked up and padded once per dump.
class TEntryNames {
 public:
  const std::string& Type(BYTE t) {
    if (!types_[t]) types_[t] = Column(Text(kMsgTypeBase + t), 8);
    return *types_[t];
  }
  const std::string& Subtype(BYTE s) {
    if (!subtypes_[s]) subtypes_[s] = Column(s == 0 ? std::string{} : Text(kMsgSubtypeBase + s), 12);
    return *subtypes_[s];
  }

 private:
  static std::string Column(std::string name, std::size_t width) {
    if (name.size() < width) name.resize(width, ' ');
    return name + "  ";
  }
  std::array<std::optional<std::string>, 256> types_;
  std::array<std::optional<std::string>, 256> subtypes_;
};

// The time column ("%8s  "): the milliseconds as at least seven digits
// with a point before the last three, so 1234 ms is 0001.234.
void WriteElapsed(TDumpFile& file, DWORD ms) {
  char digits[16];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + ms % 10);
    ms /= 10;
  } while (ms != 0);
  while (n < 7) digits[n++] = '0';
  char text[20];
  std::size_t length = 0;
  for (std::size_t i = n; i-- > 0;) {
    if (i == 2) text[length++] = '.';
    text[length++] = digits[i];
  }
  text[length++] = ' ';
  text[length++] = ' ';
  file.Write({text, length});
}

// The data column ("%08x  ").
void WriteDataValue(TDumpFile& file, std::int32_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const auto bits = static_cast<std::uint32_t>(value);
  char text[10];
  for (int i = 0; i < 8; ++i) text[i] = kDigits[(bits >> (28 - 4 * i)) & 15];
  text[8] = ' ';
  text[9] = ' ';
  file.Write({text, sizeof text});
}

void WritePrefix(TDumpFile& file, const TLogEntryHeader& header, TEntryNames& names) {
  WriteElapsed(file, header.ElapsedMs);
  file.Write(names.Type(header.EntryType));
  file.Write(names.Subtype(header.EntrySubtype));
  WriteDataValue(file, header.DataValue);
}

// What a dump needs besides the file: names looked up once, the character
// items of its mode.
struct TLogFormat {
  TLogFormat(bool inHex, bool allHexMode) : items(inHex, allHexMode), allHex(allHexMode) {}
  TEntryNames names;
  TCharItems items;
  bool allHex;
};

void WriteData(TDumpFile& file, const TLogEntryHeader& header, const BYTE* data, const TLogFormat& format) {
  // User entries carry text of their own: all-hex leaves it readable.
  const bool literal = header.EntryType == letUser && format.allHex;
  std::size_t column = kDataStartColumn;
  for (DWORD i = 0; i < header.DataLength; ++i) {
    const std::string_view item =
        literal ? std::string_view(reinterpret_cast<const char*>(data + i), 1) : format.items.Item(data[i]);
    column += item.size();
    if (column >= kDataEndColumn) {
      file.EndLine();
      file.Write(std::string(kPrefixWidth, ' '));
      column = item.size() + kDataStartColumn;
    }
    file.Write(item);
  }
}

void WriteModemBits(TDumpFile& file, std::int32_t value) {
  std::string names = " (";
  for (int bit = 0; bit < 8; ++bit) {
    if (value & (1 << bit)) names += Text(kMsgModemBitBase + bit);
  }
  file.Write(Trim(names));
  file.Write(")");
}

void WriteEntry(TDumpFile& file, const TLogEntryHeader& header, const BYTE* data, TLogFormat& format) {
  WritePrefix(file, header, format.names);
  if (header.DataLength == 0) {
    if (header.EntryType == letTelnet) {
      std::string option = " [";
      if (header.DataValue >= 0 && header.DataValue <= kLastTerminalOption) {
        option += Text(kMsgTerminalOptionBase + header.DataValue);
      }
      file.Write(Trim(option));
      file.Write("]");
    }
    file.EndLine();
    return;
  }
  if ((header.EntryType == letTrigAllc || header.EntryType == letTrigDisp) &&
      header.EntrySubtype == lstChgStatus) {
    file.Write(StatusKindName(data[0]));
  } else {
    WriteData(file, header, data, format);
  }
  if (header.EntrySubtype == lstModemStatus) WriteModemBits(file, header.DataValue);
  file.EndLine();
}

void WriteHeaderLines(TDumpFile& file) {
  file.Write("SIO v3.02");
  file.EndLine();
  file.Write("Compiler : " + CompilerDescription());
  file.EndLine();
  file.Write("Operating System : " + platform::SystemDescription().substr(0, kSystemTextLimit));
  file.EndLine();
  file.Write(Text(kMsgColumnHeader));
  file.EndLine();
  file.Write(Text(kMsgColumnUnderline));
  file.EndLine();
}

}  // namespace

std::string CompilerDescription() {
#if defined(__clang__)
  return std::string(Trim("Clang " __clang_version__));
#elif defined(__GNUC__)
  return "GCC " __VERSION__;
#else
  return "C++ compiler, version unknown";
#endif
}

bool TSioBaseDispatcher::LogHoldsEntries() {
  platform::CriticalSectionLock guard(DispatchLock);
  return LogRing && LogFree != LogRingSize;
}

ResultCode TSioBaseDispatcher::DumpLog(const char* fileName, bool append, bool inHex, bool allHex) {
  platform::CriticalSectionLock guard(DispatchLock);
  if (!LogRing || LogFree == LogRingSize) {
    StopLog();
    return errors::ecOK;
  }
  LogOn.store(false);
  TDumpFile file;
  if (const ResultCode opened = file.Open(fileName, append); opened != errors::ecOK) return opened;

  WriteHeaderLines(file);
  TLogFormat format(inHex, allHex);
  TLogEntryHeader header;
  while (!ReadLogEntry(header, LogScratch)) WriteEntry(file, header, LogScratch.data(), format);

  const ResultCode closed = file.Close();
  StopLog();
  return closed;
}

}  // namespace dispatcher
