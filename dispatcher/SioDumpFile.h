// The buffered text file the trace and the dispatch log are written
// through, and the character items both formats share. Internal to the
// dispatcher.
//
// Thread safety: one object per dump, used by one thread.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <string_view>

#include "errors/SioCodes.h"
#include "platform/win_types.h"

namespace dispatcher {

// Runtime input/output error numbers of the system error strings that say
// what happened to a file being written.
constexpr errors::ResultCode kDiskFull = 101;             // "Disk full"
constexpr errors::ResultCode kDiskWriteProtected = 150;  // "Disk is write-protected"

// The result code of a failed open, write or close of a dump file: -101 for
// a full disk or quota, -150 for a read-only file system, -5 for a
// directory given as the name, otherwise minus the system error number.
errors::ResultCode DumpErrorCode(int error);

class TDumpFile {
 public:
  TDumpFile() = default;
  ~TDumpFile();
  TDumpFile(const TDumpFile&) = delete;
  TDumpFile& operator=(const TDumpFile&) = delete;

  // Opens for appending when append is set and the file exists, otherwise
  // creates it anew. 0, or DumpErrorCode.
  errors::ResultCode Open(const char* fileName, bool append);
  // Opened for appending to a file that already holds something.
  bool Continues() const { return continues_; }

  void Write(std::string_view text) {
    if (text.size() > buffer_.size() - used_) {
      WriteSlow(text);
      return;
    }
    text.copy(buffer_.data() + used_, text.size());
    used_ += text.size();
  }
  void Put(char c) {
    if (used_ == buffer_.size()) Flush();
    buffer_[used_++] = c;
  }
  void EndLine() { Write("\r\n"); }

  // Writes what is buffered and closes: 0, or DumpErrorCode of the first
  // failed write or of the close.
  errors::ResultCode Close();

 private:
  void Flush();
  void WriteSlow(std::string_view text);

  std::FILE* file_ = nullptr;
  int error_ = 0;  // errno of the first failure
  bool continues_ = false;
  std::size_t used_ = 0;
  std::array<char, 64 * 1024> buffer_{};
};

// One character as an item of a trace or log line: under all-hex "[XX]";
// printable characters (from '!' in hex mode, from space otherwise) as
// themselves; in hex mode "[XX]"; otherwise "[decimal]". The width of an
// item is its length.
class TCharItems {
 public:
  TCharItems(bool inHex, bool allHex);
  std::string_view Item(platform::BYTE c) const { return items_[c]; }

 private:
  std::array<std::string, 256> items_;
};

}  // namespace dispatcher
