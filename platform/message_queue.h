// Per-thread message queues and cross-thread sent messages (internal to the
// platform layer; messages.h and thread.h are the public contracts).
//
// A queue belongs to one thread. It holds posted messages in order, sent
// messages in order (handled before any posted message) and the quit flag.
// A sent message is a record shared by the sender and the queue: the sender
// waits on it, the owner runs it once, or it is dropped when its sender gave
// up before the owner began it.
//
// Thread safety: the fields marked so are guarded by SyncMutex(); every
// function may be called from any thread unless it says otherwise.
#pragma once

#include <deque>
#include <exception>
#include <functional>
#include <memory>

#include "platform/messages.h"
#include "platform/wait_core.h"

namespace platform::detail {

enum class SentState { kPending, kRunning, kDone, kFailed, kAbandoned };

class SentMessage : public Waitable {
 public:
  SentMessage(HWND window, std::function<LRESULT()> run) : window_(window), run_(std::move(run)) {}

  HWND Window() const { return window_; }
  bool IsSignalledLocked() const override {
    return state == SentState::kDone || state == SentState::kFailed;
  }

  // Runs the message on the owner's thread (not under the lock).
  LRESULT Run() const { return run_(); }

  // Guarded by SyncMutex().
  SentState state = SentState::kPending;
  bool senderGone = false;  // the sender timed out while the owner ran it
  LRESULT result = 0;
  DWORD failure = 0;  // the error of a kFailed message
  std::exception_ptr error;

 private:
  const HWND window_;  // 0 for a call made through Synchronize
  const std::function<LRESULT()> run_;
};

class MessageQueue : public Waitable {
 public:
  explicit MessageQueue(DWORD threadId) : threadId_(threadId) {}
  DWORD ThreadId() const { return threadId_; }

  // Anything for the owner to retrieve: sent, posted or quit.
  bool IsSignalledLocked() const override { return !sent.empty() || !posted.empty() || quit; }

  // Guarded by SyncMutex().
  std::deque<MSG> posted;
  std::deque<std::shared_ptr<SentMessage>> sent;
  bool quit = false;
  int quitCode = 0;
  bool closed = false;  // the owner has ended; nothing more is queued

 private:
  const DWORD threadId_;
};

// The calling thread's queue, created on first use.
std::shared_ptr<MessageQueue> CurrentQueue();

// The queue of a thread, or null when it has none (never created one, or
// has ended). With create, a missing queue of a running thread's id is
// made now and adopted by that thread on its first use.
std::shared_ptr<MessageQueue> QueueOf(DWORD threadId, bool create = false);

// Ends the calling thread's queue: its windows are forgotten, its pending
// sent messages fail, and it takes no more messages. Runs at thread exit.
void ReleaseCurrentThreadQueue();

// Forgets every window of a thread (messages.cpp); the sync lock is held.
void ForgetThreadWindowsLocked(DWORD threadId);

// Appends a posted message (with the lock held); false when the queue is
// closed. The caller then calls WakeQueueOwner once the lock is released.
bool PostLocked(MessageQueue& queue, const MSG& message);

// Calls the wake hook of a thread, if it has one. Never under the lock.
void WakeQueueOwner(DWORD threadId);

// Queues a sent message for the queue's owner and waits up to the deadline
// for it to be handled, handling the caller's own incoming sent messages
// meanwhile unless block. Returns the record; on time-out it is abandoned
// (never run later) or marked senderGone when already running. Failures
// are reported by the record's state and failure.
std::shared_ptr<SentMessage> SendAndWait(const std::shared_ptr<MessageQueue>& queue,
                                         std::shared_ptr<SentMessage> message, bool block,
                                         const Deadline& deadline);

// Runs the first pending sent message of the calling thread's queue.
// Returns false when there was none.
bool HandleOneSentMessage(MessageQueue& queue);

// Fails every pending sent message for window and drops its posted ones.
void DropWindowMessagesLocked(MessageQueue& queue, HWND window);

}  // namespace platform::detail
