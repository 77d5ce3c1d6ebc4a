// Buffered dump files and the shared character items.
#include "dispatcher/SioDumpFile.h"

#include <algorithm>
#include <cerrno>

#include "platform/error_text.h"

namespace dispatcher {

namespace {

std::string Hex(platform::BYTE c) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {'[', kDigits[c >> 4], kDigits[c & 15], ']'};
}

}  // namespace

errors::ResultCode DumpErrorCode(int error) {
  switch (platform::DiskFaultFromErrno(error)) {
    case platform::DiskFault::kFull: return -kDiskFull;
    case platform::DiskFault::kWriteProtected: return -kDiskWriteProtected;
    case platform::DiskFault::kNone: break;
  }
  if (error == EISDIR) return -static_cast<errors::ResultCode>(platform::ERROR_ACCESS_DENIED);
  return -static_cast<errors::ResultCode>(platform::Win32ErrorFromErrno(error));
}

TDumpFile::~TDumpFile() {
  if (file_) std::fclose(file_);
}

errors::ResultCode TDumpFile::Open(const char* fileName, bool append) {
  errno = 0;
  file_ = std::fopen(fileName ? fileName : "", append ? "ab" : "wb");
  if (!file_) return DumpErrorCode(errno ? errno : ENOENT);
  // Where an append starts is the file's end; a pipe has none and holds
  // nothing earlier for this dump.
  continues_ = append && std::fseek(file_, 0, SEEK_END) == 0 && std::ftell(file_) > 0;
  return errors::ecOK;
}

void TDumpFile::Flush() {
  if (used_ > 0 && error_ == 0 && std::fwrite(buffer_.data(), 1, used_, file_) != used_) {
    error_ = errno ? errno : EIO;
  }
  used_ = 0;
}

void TDumpFile::WriteSlow(std::string_view text) {
  while (!text.empty()) {
    if (used_ == buffer_.size()) Flush();
    const std::size_t n = std::min(text.size(), buffer_.size() - used_);
    text.copy(buffer_.data() + used_, n);
    used_ += n;
    text.remove_prefix(n);
  }
}

errors::ResultCode TDumpFile::Close() {
  errno = 0;
  Flush();
  const int closed = std::fclose(file_);
  file_ = nullptr;
  if (error_ == 0 && closed != 0) error_ = errno ? errno : EIO;
  return error_ ? DumpErrorCode(error_) : errors::ecOK;
}

TCharItems::TCharItems(bool inHex, bool allHex) {
  const int lowest = inHex ? 0x21 : 0x20;
  for (int c = 0; c < 256; ++c) {
    const auto b = static_cast<platform::BYTE>(c);
    if (allHex || (inHex && !(c >= lowest && c <= 0x7E))) {
      items_[c] = Hex(b);
    } else if (c >= lowest && c <= 0x7E) {
      items_[c] = std::string(1, static_cast<char>(c));
    } else {
      items_[c] = "[" + std::to_string(c) + "]";
    }
  }
}

}  // namespace dispatcher
