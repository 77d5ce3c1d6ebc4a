#include "platform/message_queue.h"

#include <algorithm>
#include <unordered_map>

#include "platform/thread.h"

namespace platform::detail {

namespace {

using Hook = std::shared_ptr<const std::function<void()>>;

// Guarded by SyncMutex(): the open queues and the wake hooks, by thread id.
struct Registry {
  std::unordered_map<DWORD, std::shared_ptr<MessageQueue>> queues;
  std::unordered_map<DWORD, Hook> hooks;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

// Closes the queue of the calling thread when the thread ends, whether or
// not it was started through CreateThread.
struct QueueHolder {
  std::shared_ptr<MessageQueue> queue;
  ~QueueHolder() { Release(); }
  void Release();
};

thread_local QueueHolder t_holder;

void FailLocked(SentMessage& message, DWORD failure) {
  message.state = SentState::kFailed;
  message.failure = failure;
  message.NotifyLocked();
}

void QueueHolder::Release() {
  if (!queue) return;
  std::lock_guard lock(SyncMutex());
  TheRegistry().queues.erase(queue->ThreadId());
  ForgetThreadWindowsLocked(queue->ThreadId());
  queue->closed = true;
  for (auto& sent : queue->sent)
    if (sent->state == SentState::kPending) FailLocked(*sent, ERROR_INVALID_WINDOW_HANDLE);
  queue->sent.clear();
  queue->posted.clear();
  queue->quit = false;
  queue.reset();
}

// Takes the first sent message that is still waiting to be begun.
std::shared_ptr<SentMessage> BeginNextLocked(MessageQueue& queue) {
  while (!queue.sent.empty()) {
    std::shared_ptr<SentMessage> next = std::move(queue.sent.front());
    queue.sent.pop_front();
    if (next->state == SentState::kPending) {
      next->state = SentState::kRunning;
      return next;
    }
  }
  return nullptr;
}

// The sender stops waiting: a message not yet begun is withdrawn, so it is
// never handled late; one already running finishes without a listener.
void GiveUpLocked(MessageQueue& queue, const std::shared_ptr<SentMessage>& message) {
  if (message->state == SentState::kPending) {
    message->state = SentState::kAbandoned;
    auto it = std::find(queue.sent.begin(), queue.sent.end(), message);
    if (it != queue.sent.end()) queue.sent.erase(it);
  } else if (message->state == SentState::kRunning) {
    message->senderGone = true;
  }
}

}  // namespace

std::shared_ptr<MessageQueue> QueueOf(DWORD threadId, bool create) {
  std::lock_guard lock(SyncMutex());
  auto& queues = TheRegistry().queues;
  auto it = queues.find(threadId);
  if (it != queues.end()) return it->second;
  if (!create) return nullptr;
  auto queue = std::make_shared<MessageQueue>(threadId);
  queues.emplace(threadId, queue);
  return queue;
}

std::shared_ptr<MessageQueue> CurrentQueue() {
  if (!t_holder.queue) t_holder.queue = QueueOf(GetCurrentThreadId(), true);
  return t_holder.queue;
}

void ReleaseCurrentThreadQueue() { t_holder.Release(); }

bool PostLocked(MessageQueue& queue, const MSG& message) {
  if (queue.closed) return false;
  queue.posted.push_back(message);
  queue.NotifyLocked();
  return true;
}

void WakeQueueOwner(DWORD threadId) {
  Hook hook;
  {
    std::lock_guard lock(SyncMutex());
    auto& hooks = TheRegistry().hooks;
    auto it = hooks.find(threadId);
    if (it != hooks.end()) hook = it->second;
  }
  if (hook) (*hook)();
}

std::shared_ptr<SentMessage> SendAndWait(const std::shared_ptr<MessageQueue>& queue,
                                         std::shared_ptr<SentMessage> message, bool block,
                                         const Deadline& deadline) {
  {
    std::lock_guard lock(SyncMutex());
    if (queue->closed) {
      FailLocked(*message, ERROR_INVALID_WINDOW_HANDLE);
      return message;
    }
    queue->sent.push_back(message);
    queue->NotifyLocked();
  }
  WakeQueueOwner(queue->ThreadId());

  // Two threads that send to each other at once would wait out their limits
  // unless each handles the other's message while it waits.
  std::shared_ptr<MessageQueue> own = block ? nullptr : CurrentQueue();
  Waitable* watch[] = {message.get(), own.get()};
  std::span<Waitable* const> watched(watch, own ? 2 : 1);
  auto ready = [&] { return message->IsSignalledLocked() || (own && !own->sent.empty()); };
  for (;;) {
    std::unique_lock lock(SyncMutex());
    bool woke = WaitLocked(lock, watched, ready, deadline);
    if (message->IsSignalledLocked()) return message;
    if (!woke) {
      GiveUpLocked(*queue, message);
      return message;
    }
    lock.unlock();
    try {
      HandleOneSentMessage(*own);
    } catch (...) {
      std::lock_guard relock(SyncMutex());
      GiveUpLocked(*queue, message);
      throw;
    }
  }
}

bool HandleOneSentMessage(MessageQueue& queue) {
  std::shared_ptr<SentMessage> message;
  {
    std::lock_guard lock(SyncMutex());
    message = BeginNextLocked(queue);
  }
  if (!message) return false;
  LRESULT result = 0;
  std::exception_ptr error;
  try {
    result = message->Run();
  } catch (...) {
    error = std::current_exception();
  }
  bool nobodyListens = false;
  {
    std::lock_guard lock(SyncMutex());
    message->result = result;
    message->state = SentState::kDone;
    nobodyListens = message->senderGone;
    // A waiting sender takes the exception over whole: it is then the
    // last to hold it, so the exception dies on the thread that read it.
    if (!nobodyListens) message->error = std::move(error);
    message->NotifyLocked();
  }
  // With the sender gone the exception must not vanish, so it leaves
  // through the owner's retrieving call (it was moved only for a sender).
  // NOLINTNEXTLINE(bugprone-use-after-move)
  if (error && nobodyListens) std::rethrow_exception(error);
  return true;
}

void DropWindowMessagesLocked(MessageQueue& queue, HWND window) {
  std::erase_if(queue.posted, [window](const MSG& m) { return m.hwnd == window; });
  std::erase_if(queue.sent, [window](const std::shared_ptr<SentMessage>& m) {
    if (m->Window() != window || m->state != SentState::kPending) return false;
    FailLocked(*m, ERROR_INVALID_WINDOW_HANDLE);
    return true;
  });
}

}  // namespace platform::detail

namespace platform {

void SetQueueWakeHook(DWORD threadId, std::function<void()> hook) {
  std::lock_guard lock(detail::SyncMutex());
  auto& hooks = detail::TheRegistry().hooks;
  if (hook)
    hooks[threadId] = std::make_shared<const std::function<void()>>(std::move(hook));
  else
    hooks.erase(threadId);
}

}  // namespace platform
