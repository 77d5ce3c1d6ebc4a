#include "record/CsvWriter.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace record {
namespace {

enum What { kCannotOpen, kCannotWrite, kNotSaved, kRemoved, kTakesNothing };

// Each failure as the panel (Russian) and the command line (English) tell
// it; %s is the file's name, %d the detail (the system's text or a count).
constexpr struct {
  const char* russian;
  const char* english;
} kSentences[] = {
    {"Не удалось открыть файл записи \"%s\": %d", "cannot open \"%s\": %d"},
    {"Запись остановлена: не удалось записать в файл \"%s\": %d", "cannot write \"%s\": %d"},
    {"Запись остановлена: файл не сохранён на диске \"%s\": %d", "\"%s\" not saved on the disk: %d"},
    {"Запись остановлена: файл \"%s\" удалён или заменён (или удалена его папка)",
     "\"%s\" was removed or replaced (or its folder was)"},
    {"Запись остановлена: \"%s\" не принимает данные, не записано строк: %d",
     "\"%s\" takes no data: %d rows not written"},
};

std::string Fill(std::string text, const std::string& path, const std::string& detail) {
  if (const auto at = text.find("%s"); at != std::string::npos) text.replace(at, 2, path);
  if (const auto at = text.find("%d"); at != std::string::npos) text.replace(at, 2, detail);
  return text;
}

std::string OpenSentence(Language language, const std::string& path, int error) {
  const auto& s = kSentences[kCannotOpen];
  return Fill(language == Language::russian ? s.russian : s.english, path, std::strerror(error));
}

}  // namespace

std::string CsvWriter::Sentence(int what, int error) const {
  const auto& s = kSentences[what];
  std::string detail;
  if (what == kTakesNothing) {
    std::lock_guard lock(mutex_);
    detail = std::to_string(queue_.size() + 1);
  } else if (what != kRemoved) {
    detail = std::strerror(error);
  }
  return Fill(language_ == Language::russian ? s.russian : s.english, path_, detail);
}

std::unique_ptr<CsvWriter> CsvWriter::Open(const std::string& path, std::string& error, Language language) {
  if (path == "-") return std::unique_ptr<CsvWriter>(new CsvWriter(path, STDOUT_FILENO, false, language));
  // Non-blocking only for the open itself: a FIFO without a reader would
  // otherwise hold the caller (the window) until one comes.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) {
    error = OpenSentence(language, path, errno);
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  struct stat info {};
  // Character devices (a terminal, /dev/null, /dev/full) are written
  // without the file checks that only make sense for a file on a disk.
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  auto writer = std::unique_ptr<CsvWriter>(new CsvWriter(path, fd, regular, language));
  writer->device_ = info.st_dev;
  writer->inode_ = info.st_ino;
  return writer;
}

CsvWriter::CsvWriter(std::string path, int fd, bool durable, Language language)
    : path_(std::move(path)), fd_(fd), durable_(durable), language_(language) {
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
    if (!durable_ && !WaitWritable()) return Sentence(kTakesNothing, 0);
    // Up to PIPE_BUF bytes go into a pipe that polls writable without
    // blocking.
    const std::size_t chunk =
        durable_ ? line.size() - done : std::min<std::size_t>(line.size() - done, PIPE_BUF);
    const ssize_t n = ::write(fd_, line.data() + done, chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : ENOSPC;
      // A line cut short would be read back as a wrong reading: the file
      // ends with the last whole line instead.
      if (done > 0 && durable_ && ::ftruncate(fd_, static_cast<off_t>(offset_)) == 0)
        ::lseek(fd_, static_cast<off_t>(offset_), SEEK_SET);
      return Sentence(kCannotWrite, error);
    }
    done += static_cast<std::size_t>(n);
  }
  if (durable_ && ::fdatasync(fd_) != 0) return Sentence(kNotSaved, errno);
  offset_ += line.size();
  return std::nullopt;
}

bool CsvWriter::WaitWritable() {
  using Clock = std::chrono::steady_clock;
  constexpr int kSliceMs = 100;  // how soon a finish is noticed
  auto quietSince = Clock::now();
  for (;;) {
    pollfd entry{fd_, POLLOUT, 0};
    const int ready = ::poll(&entry, 1, kSliceMs);
    // Writable, or an error that the write will report.
    if (ready > 0 || (ready < 0 && errno != EINTR)) return true;
    bool stopping = false;
    {
      std::lock_guard lock(mutex_);
      stopping = stopping_;
    }
    if (!stopping)
      quietSince = Clock::now();
    else if (Clock::now() - quietSince >= kGiveUpAfter)
      return false;
  }
}

std::optional<std::string> CsvWriter::CheckStillThere() {
  struct stat info {};
  if (::stat(path_.c_str(), &info) != 0 || info.st_dev != device_ || info.st_ino != inode_)
    return Sentence(kRemoved, 0);
  return std::nullopt;
}

}  // namespace record
