#include "framework/Thread.h"

#include <cstdio>
#include <string>

#include "framework/Properties.h"
#include "platform/last_error.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace framework {

namespace {

constexpr int kPlatformPriority[] = {
    platform::THREAD_PRIORITY_IDLE,         platform::THREAD_PRIORITY_LOWEST,
    platform::THREAD_PRIORITY_BELOW_NORMAL, platform::THREAD_PRIORITY_NORMAL,
    platform::THREAD_PRIORITY_ABOVE_NORMAL, platform::THREAD_PRIORITY_HIGHEST,
    platform::THREAD_PRIORITY_TIME_CRITICAL,
};

std::string CreationError() {
  return "Thread creation error: system error " + std::to_string(platform::GetLastError());
}

void ReportLostException(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "A self-freeing thread ended by an exception: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "A self-freeing thread ended by an exception\n");
  }
}

}  // namespace

const TClassInfo& TThread::StaticClassInfo() {
  static const TClassInfo info = DefineClass<TThread>("TThread", &TObject::StaticClassInfo());
  return info;
}

TThread::TThread(bool CreateSuspended) : createSuspended_(CreateSuspended) {
  startGate_ = platform::CreateEventA(nullptr, platform::TRUE, platform::FALSE, nullptr);
  if (startGate_ == 0) throw Exception(CreationError());
  // The body waits at the gate, so it cannot reach the virtual Execute
  // before the descendant's constructor has finished.
  handle_ = platform::CreateThread([this] { ThreadMain(); }, &threadId_);
  if (handle_ == 0) {
    std::string message = CreationError();
    platform::CloseHandle(startGate_);
    throw Exception(message);
  }
}

TThread::~TThread() {
  EndThread();
  platform::CloseHandle(handle_);
  platform::CloseHandle(startGate_);
}

void TThread::Deleter::operator()(TThread* thread) const {
  thread->EndThread();
  std::default_delete<TThread>()(thread);
}

void TThread::AfterConstruction() {
  if (!createSuspended_ && !started_.load()) Start();
}

void TThread::Start() {
  if (started_.exchange(true)) throw Exception("Cannot call Start on a running or terminated thread");
  platform::SetEvent(startGate_);
}

void TThread::EndThread() {
  if (platform::GetCurrentThreadId() == threadId_) return;
  if (!started_.exchange(true)) {
    cancelled_ = true;
    platform::SetEvent(startGate_);
  } else {
    Terminate();
  }
  WaitForEnd();
}

platform::DWORD TThread::WaitFor() {
  if (platform::GetCurrentThreadId() == threadId_)
    throw Exception("Thread cannot wait for itself");
  if (!started_.load()) throw Exception("Cannot wait for a thread that was never started");
  WaitForEnd();
  return returnValue_;
}

void TThread::WaitForEnd() {
  // Sent messages (and Synchronize calls) for this thread are handled
  // meanwhile: the thread may be waiting for one of them to finish.
  platform::HANDLE handle = handle_;
  while (platform::MsgWaitForMultipleObjects(1, &handle, platform::FALSE, platform::INFINITE,
                                             platform::QS_SENDMESSAGE) ==
         platform::WAIT_OBJECT_0 + 1) {
    platform::MSG message;
    platform::PeekMessageA(&message, 0, 0, 0, platform::PM_NOREMOVE);
  }
}

void TThread::Synchronize(const std::function<void()>& call) { platform::Synchronize(call); }

TThreadPriority TThread::Priority() const {
  int value = platform::GetThreadPriority(handle_);
  for (int step = tpIdle; step <= tpTimeCritical; ++step)
    if (kPlatformPriority[step] == value) return static_cast<TThreadPriority>(step);
  return tpNormal;
}

void TThread::SetPriority(TThreadPriority value) {
  if (value < tpIdle || value > tpTimeCritical) return;
  platform::SetThreadPriority(handle_, kPlatformPriority[value]);
}

void TThread::AdoptSelf(std::unique_ptr<TThread> self) {
  self_ = std::move(self);
  freeOnTerminate_ = true;
}

void TThread::ThreadMain() {
  platform::WaitForSingleObject(startGate_, platform::INFINITE);
  if (cancelled_) return;
  try {
    Execute();
  } catch (...) {
    fatalException_ = std::current_exception();
  }
  Finish();
}

void TThread::Finish() {
  finished_ = true;
  if (OnTerminate) {
    try {
      Synchronize([this] { OnTerminate(this); });
    } catch (...) {
      if (!fatalException_) fatalException_ = std::current_exception();
    }
  }
  if (!self_) return;
  if (fatalException_) ReportLostException(fatalException_);
  // Deletes this object, on its own thread; nothing of it is touched after.
  std::unique_ptr<TThread> self = std::move(self_);
}

}  // namespace framework
