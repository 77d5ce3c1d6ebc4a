#include "record/CsvWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace record {
namespace {

std::string Sentence(const std::string& what, const std::string& path, int error) {
  return what + " \"" + path + "\": " + std::strerror(error);
}

}  // namespace

std::unique_ptr<CsvWriter> CsvWriter::Open(const std::string& path, std::string& error) {
  if (path == "-") return std::unique_ptr<CsvWriter>(new CsvWriter(path, STDOUT_FILENO, false));
  // Non-blocking only for the open itself: a FIFO without a reader would
  // otherwise hold the caller (the window) until one comes.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) {
    error = Sentence("Не удалось открыть файл записи", path, errno);
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  struct stat info {};
  // Character devices (a terminal, /dev/null, /dev/full) are written
  // without the file checks that only make sense for a file on a disk.
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  auto writer = std::unique_ptr<CsvWriter>(new CsvWriter(path, fd, regular));
  writer->device_ = info.st_dev;
  writer->inode_ = info.st_ino;
  return writer;
}

CsvWriter::CsvWriter(std::string path, int fd, bool durable)
    : path_(std::move(path)), fd_(fd), durable_(durable) {
  thread_ = std::thread([this] { Run(); });
}

CsvWriter::~CsvWriter() { Close(); }

bool CsvWriter::Append(std::string line) {
  {
    std::lock_guard lock(mutex_);
    if (failure_ || stopping_) return false;
    queue_.push_back(std::move(line));
  }
  wake_.notify_one();
  return true;
}

std::optional<std::string> CsvWriter::Failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

std::uint64_t CsvWriter::Written() const {
  std::lock_guard lock(mutex_);
  return written_;
}

std::size_t CsvWriter::Pending() const {
  std::lock_guard lock(mutex_);
  return queue_.size() + (busy_ ? 1 : 0);
}

void CsvWriter::Finish() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
}

bool CsvWriter::Done() const {
  std::lock_guard lock(mutex_);
  return done_;
}

void CsvWriter::Close() {
  Finish();
  if (thread_.joinable()) thread_.join();
}

void CsvWriter::Run() {
  for (;;) {
    std::string line;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty() || failure_) break;
      line = std::move(queue_.front());
      queue_.pop_front();
      busy_ = true;
    }
    // The lock is not held while the disk works: Append never waits for it.
    std::optional<std::string> failure = WriteLine(line);
    std::lock_guard lock(mutex_);
    busy_ = false;
    if (failure) {
      failure_ = std::move(failure);
      queue_.clear();
      break;
    }
    ++written_;
  }
  if (fd_ != STDOUT_FILENO && fd_ >= 0) ::close(fd_);
  fd_ = -1;
  std::lock_guard lock(mutex_);
  done_ = true;
}

std::optional<std::string> CsvWriter::WriteLine(const std::string& line) {
  if (durable_) {
    if (auto gone = CheckStillThere()) return gone;
  }
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : ENOSPC;
      // A line cut short would be read back as a wrong reading: the file
      // ends with the last whole line instead.
      if (done > 0 && durable_ && ::ftruncate(fd_, static_cast<off_t>(offset_)) == 0)
        ::lseek(fd_, static_cast<off_t>(offset_), SEEK_SET);
      return Sentence("Запись остановлена: не удалось записать в файл", path_, error);
    }
    done += static_cast<std::size_t>(n);
  }
  if (durable_ && ::fdatasync(fd_) != 0) {
    const int error = errno;
    return Sentence("Запись остановлена: файл не сохранён на диске", path_, error);
  }
  offset_ += line.size();
  return std::nullopt;
}

std::optional<std::string> CsvWriter::CheckStillThere() {
  struct stat info {};
  if (::stat(path_.c_str(), &info) != 0 || info.st_dev != device_ || info.st_ino != inode_)
    return "Запись остановлена: файл \"" + path_ + "\" удалён или заменён (или удалена его папка)";
  return std::nullopt;
}

}  // namespace record
