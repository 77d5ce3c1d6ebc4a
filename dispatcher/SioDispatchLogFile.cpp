// Writing the dispatch log as a table: five header lines naming the engine,
// the compiler and the system, then one line per entry (continued on
// indented lines when its data is long).
#include <array>
#include <cstdio>
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

// Names of the entry types and subtypes, looked up once per dump.
class TEntryNames {
 public:
  const std::string& Type(BYTE t) {
    if (!types_[t]) types_[t] = Text(kMsgTypeBase + t);
    return *types_[t];
  }
  const std::string& Subtype(BYTE s) {
    if (!subtypes_[s]) subtypes_[s] = s == 0 ? std::string{} : Text(kMsgSubtypeBase + s);
    return *subtypes_[s];
  }

 private:
  std::array<std::optional<std::string>, 256> types_;
  std::array<std::optional<std::string>, 256> subtypes_;
};

// Seconds with millisecond decimals: 1234 ms is 0001.234.
std::string ElapsedText(DWORD ms) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%07u", static_cast<unsigned>(ms));
  const std::string_view text(digits);
  const std::size_t point = text.size() - 3;
  return std::string(text.substr(0, point)) + "." + std::string(text.substr(point));
}

void WritePrefix(TDumpFile& file, const TLogEntryHeader& header, TEntryNames& names) {
  char prefix[128];
  std::snprintf(prefix, sizeof prefix, "%8s  %-8s  %-12s  %08x  ", ElapsedText(header.ElapsedMs).c_str(),
                names.Type(header.EntryType).c_str(), names.Subtype(header.EntrySubtype).c_str(),
                static_cast<unsigned>(header.DataValue));
  file.Write(prefix);
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

ResultCode TSioBaseDispatcher::DumpLog(const char* fileName, bool append, bool inHex, bool allHex) {
  std::lock_guard guard(DispatchLock);
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
