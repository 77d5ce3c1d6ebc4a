// Writes the recorder's lines to a file on a thread of its own, so that a
// slow or stalled disk never holds up the window.
//
// Each line is written whole with write(2) and then made durable with
// fdatasync, before the next is taken: a crash or a pulled plug loses at
// most the line being written. The first failure stops the writer for
// good: a line that went out only in part is cut off again (the file ends
// with the last whole line), the file is closed, lines still queued are
// dropped, and Failure() tells what happened in a sentence fit for the
// user. Besides errors of write(2) (a full disk, a lost device) the writer
// notices a file that was removed or replaced under it (its folder deleted
// or renamed): writing on would put the lines where no one can find them.
//
// Standard output ("-") is written the same way but without fdatasync and
// the removal check.
//
// A pipe, a FIFO or a terminal is written only when it takes bytes (poll),
// a line at most PIPE_BUF bytes at a time, so that the thread never sits in
// a write that cannot end. While the writer runs it waits for a slow reader
// as long as it takes; once it is told to finish, a descriptor that takes
// nothing for kGiveUpAfter is given up (a reader that stopped reading): the
// lines left are dropped and the failure says how many.
//
// Failures are told in the panel's language (Russian) or, for the command
// line, in English.
//
// Thread safety: Append, Failure, Written and Close may be called from any
// one owner thread while the writer thread runs; `mutex_` guards the queue,
// the failure text and the counters (producer: the owner's Append;
// consumer: the writer thread). The file descriptor belongs to the writer
// thread from the constructor until it ends.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace record {

enum class Language { russian, english };

class CsvWriter {
 public:
  static constexpr std::chrono::milliseconds kGiveUpAfter{1000};

  // Creates or empties `path` ("-": standard output) and starts the writer
  // thread. Null and `error` set when the file cannot be opened.
  static std::unique_ptr<CsvWriter> Open(const std::string& path, std::string& error,
                                         Language language = Language::russian);
  // Writes what is queued, then stops (as Close).
  ~CsvWriter();
  CsvWriter(const CsvWriter&) = delete;
  CsvWriter& operator=(const CsvWriter&) = delete;

  // Queues one line (with its LF) for writing; dropped after a failure.
  // Returns false when the writer has failed or is closed.
  bool Append(std::string line);
  // The failure that stopped the writer, if any.
  std::optional<std::string> Failure() const;
  // Lines written whole so far.
  std::uint64_t Written() const;
  // Lines queued and not yet written.
  std::size_t Pending() const;
  // Asks the thread to write what is queued and stop, without waiting;
  // Append is refused from now on.
  void Finish();
  // True once the thread has stopped (everything written, or failed).
  bool Done() const;
  // Finish, then waits for the thread and closes the file. Idempotent.
  void Close();
  const std::string& Path() const { return path_; }

 private:
  CsvWriter(std::string path, int fd, bool durable, Language language);
  void Run();
  // Writes one line; on failure returns the user's sentence.
  std::optional<std::string> WriteLine(const std::string& line);
  // Waits until the descriptor takes bytes; false when it is given up.
  bool WaitWritable();
  std::optional<std::string> CheckStillThere();
  std::string Sentence(int what, int error) const;

  const std::string path_;
  int fd_ = -1;
  const bool durable_;  // a regular file: fdatasync and the removal check
  const Language language_;
  std::uint64_t device_ = 0;
  std::uint64_t inode_ = 0;
  std::uint64_t offset_ = 0;  // end of the last whole line

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::string> queue_;
  bool stopping_ = false;
  bool busy_ = false;  // a line is being written
  bool done_ = false;  // the thread has stopped
  std::optional<std::string> failure_;
  std::uint64_t written_ = 0;
  std::thread thread_;
};

}  // namespace record
