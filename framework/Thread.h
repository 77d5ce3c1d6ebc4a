// TThread: a worker thread object in the runtime's manner, without Qt.
//
// A descendant overrides Execute, which runs on the thread. The platform
// thread exists from construction (Handle and ThreadID are valid at once)
// but Execute begins only when the object is started: construction cannot
// start it, because the descendant's part of the object is not built yet
// while TThread's constructor runs. So:
//
//   TThread::Owned<TMyThread> t = TThread::New<TMyThread>(args...);
//   TMyThread* t = TThread::NewFreeOnTerminate<TMyThread>(args...);
//
// construct the object and start it right after construction unless it was
// constructed with CreateSuspended true; a suspended object runs after
// Start (Resume is the same). An object constructed directly behaves as
// if suspended until AfterConstruction or Start is called.
//
// Ending an owned object: C++ destroys a descendant's members before
// TThread's destructor runs, so the thread must have ended before the
// object's destruction begins, or Execute would use destroyed members.
// The deleter of Owned does that (Terminate, then WaitFor; a never-started
// object ends without running Execute). Whoever owns a thread object some
// other way calls EndThread before destroying it.
//
// FreeOnTerminate: an object made by NewFreeOnTerminate is owned by its
// own thread and deletes itself (through a std::unique_ptr it holds on
// itself) when Execute has returned and OnTerminate has run. The returned
// pointer is valid until then only: code that keeps it must forget it from
// Execute (or OnTerminate) and must not WaitFor or delete the object. Such
// an object must be started, or it is never freed. Objects owned by a
// caller never delete themselves; their destructor ends the thread:
// Terminate, then WaitFor (a never-started object ends without Execute).
//
// After Execute returns (normally or by an exception), OnTerminate runs on
// the main thread through Synchronize, the thread waiting. An exception
// that leaves Execute is kept as FatalException; on a self-freeing object,
// which nobody can ask afterwards, it is also written to stderr.
//
// Thread safety: Terminate, Terminated, Finished, Handle, ThreadID,
// Priority and SetPriority may be called from any thread. Start, WaitFor,
// EndThread and destruction belong to the owner's thread (WaitFor never
// from the thread itself). OnTerminate must be set before the start. ReturnValue
// and FatalException are read after WaitFor.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <memory>

#include "framework/Classes.h"
#include "platform/win_types.h"

namespace framework {

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TThread : public TObject {
 public:
  explicit TThread(bool CreateSuspended);
  ~TThread() override;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  // Ends the thread (EndThread), then destroys the object.
  struct Deleter {
    void operator()(TThread* thread) const;
  };
  template <class T>
  using Owned = std::unique_ptr<T, Deleter>;

  template <class T, class... Args>
  static Owned<T> New(Args&&... args);
  template <class T, class... Args>
  static T* NewFreeOnTerminate(Args&&... args);

  // Starts the thread unless it was constructed suspended.
  void AfterConstruction();
  // Lets Execute begin. Raises Exception when the thread was already
  // started.
  void Start();
  void Resume() { Start(); }
  bool Suspended() const { return !started_.load(); }

  // Asks Execute to end: it is expected to test Terminated regularly.
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_.load(); }
  // True once Execute has returned.
  bool Finished() const { return finished_.load(); }

  // Makes the thread end before its object is destroyed: a started thread
  // is terminated and waited for; a never-started one ends without running
  // Execute. Nothing on the thread itself.
  void EndThread();

  // Waits until the thread has ended and returns ReturnValue. On the main
  // thread it handles messages sent to it meanwhile (Synchronize calls
  // among them), so a thread that synchronizes cannot deadlock it. Raises
  // Exception when called from the thread itself or before the start.
  platform::DWORD WaitFor();

  // Runs call on the main thread while this thread waits (directly when
  // called on the main thread); exceptions are carried back.
  static void Synchronize(const std::function<void()>& call);

  TThreadPriority Priority() const;
  // Best effort: the system may refuse a step without failing the call.
  void SetPriority(TThreadPriority value);

  bool FreeOnTerminate() const { return freeOnTerminate_; }
  platform::HANDLE Handle() const { return handle_; }
  platform::DWORD ThreadID() const { return threadId_; }
  platform::DWORD ReturnValue() const { return returnValue_; }
  std::exception_ptr FatalException() const { return fatalException_; }

  TNotifyEvent OnTerminate;

 protected:
  virtual void Execute() = 0;
  void SetReturnValue(platform::DWORD value) { returnValue_ = value; }

 private:
  void ThreadMain();
  void Finish();
  void WaitForEnd();
  void AdoptSelf(std::unique_ptr<TThread> self);

  const bool createSuspended_;
  platform::HANDLE handle_ = 0;
  platform::HANDLE startGate_ = 0;  // manual-reset; set by Start or the destructor
  platform::DWORD threadId_ = 0;
  std::atomic<bool> started_{false};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  // Written before the gate opens, read by the thread after it.
  bool cancelled_ = false;         // destroyed before it was started
  bool freeOnTerminate_ = false;   // made by NewFreeOnTerminate; set before the start
  std::unique_ptr<TThread> self_;  // the ownership of a self-freeing object
  // Written by the thread, read after WaitFor.
  platform::DWORD returnValue_ = 0;
  std::exception_ptr fatalException_;
};

template <class T, class... Args>
TThread::Owned<T> TThread::New(Args&&... args) {
  Owned<T> thread(std::make_unique<T>(std::forward<Args>(args)...).release());
  thread->AfterConstruction();
  return thread;
}

template <class T, class... Args>
T* TThread::NewFreeOnTerminate(Args&&... args) {
  auto thread = std::make_unique<T>(std::forward<Args>(args)...);
  T* raw = thread.get();
  raw->AdoptSelf(std::move(thread));
  raw->AfterConstruction();
  return raw;
}

}  // namespace framework
