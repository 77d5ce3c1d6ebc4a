// The application object: start-up, the main form, the event loop and the
// default exception handler.
//
// Run drives one Qt event loop on the main thread. That loop also empties
// the main thread's platform message queue (platform/messages.h): whenever
// a message is posted or sent to the main thread, from any thread, a queued
// call wakes the loop and dispatches the waiting messages, so hidden
// windows and sent messages are served while a modal dialog runs too.
//
// Every event handler the framework calls (controls, menus, timers, window
// procedures, posted work) runs through CallGuarded: an exception never
// reaches the event loop. HandleException passes it to OnException when
// set; otherwise the default handler shows its text (nothing for a silent
// Exception) in a message box (one
// at a time: a second while one is open goes to stderr), or, on a headless
// platform, prints it to stderr. Every handled exception is recorded.
//
// Thread safety: everything belongs to the main thread, except that any
// thread may post or send platform messages that the loop then serves.
#pragma once

#include <atomic>
#include <exception>
#include <memory>
#include <string>

#include "framework/Classes.h"

class QObject;
class QApplication;
class QTemporaryDir;

namespace framework {

class TForm;
namespace detail {
struct Waker;
}

using TExceptionEvent = std::function<void(TObject* Sender, const std::exception& E)>;

class TApplication : public TComponent {
 public:
  TApplication();
  ~TApplication() override;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  // Makes the Qt application (on the offscreen platform when there is no
  // display, with no high-DPI scaling), marks the calling thread as the
  // main thread and hooks its platform message queue to the event loop.
  // A second call does nothing. Where the GUI library cannot start (a
  // display named that has no server), OnGuiUnavailable is called with
  // the library's first complaint instead of the library's own abort; it
  // should end the process (if it returns, the library aborts as before).
  // The library's warnings while it starts are held back until it has
  // started; the runtime folder it wants is made private when the
  // environment names none, so that it does not warn of that.
  void Initialize();
  std::function<void(const std::string& complaint)> OnGuiUnavailable;
  bool Initialized() const { return initialized_; }

  // Makes a form of class T owned by the application; the first one made
  // becomes the main form. Ref is set before the form's OnCreate runs.
  // Args go to T's constructor.
  template <class T, class... Args>
  T* CreateForm(T*& ref, Args&&... args);

  TForm* MainForm() const { return mainForm_; }
  // Shows the main form and runs the event loop until the main form closes
  // or Terminate is called.
  void Run();
  void Terminate();
  bool Terminated() const { return terminated_; }
  // Ends every modal box and dialog open now (as Escape would), from the
  // innermost out; they return once control is back in their loops.
  void CloseModalWindows();
  // Handles every waiting platform message and Qt event, then returns.
  void ProcessMessages();

  // Called from a catch block (or with the current exception): reports it
  // as described above. Never throws.
  void HandleException(TObject* Sender) noexcept;
  // The default handler's presentation of E.
  void ShowException(const std::exception& E);
  // On a headless platform (offscreen, minimal) nobody could close a box,
  // so the default handler prints to stderr instead, unless this is set
  // (tests of the box's own event loop).
  bool BoxesWhenHeadless() const { return boxesWhenHeadless_; }
  void SetBoxesWhenHeadless(bool value) { boxesWhenHeadless_ = value; }

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& value) { title_ = value; }

  TExceptionEvent OnException;

  // Exceptions handled so far and the text of the last one.
  int ExceptionCount() const { return exceptionCount_; }
  const std::string& LastExceptionText() const { return lastExceptionText_; }

  // Frees the forms, unhooks the message queue and ends the Qt application
  // it made. A second call does nothing. A process that exits without it
  // (from inside Run, as the GUI library does when the display goes away)
  // gets the same from an exit handler, before the GUI library's own
  // statics go, except that the Qt application is left to the end of the
  // process.
  void Shutdown();
  void ReleaseAtExit() { Release(true); }

  void Notification(TComponent* component, TOperation operation) override;

 private:
  void Adopt(std::unique_ptr<TComponent> form, TForm* asForm);
  void Release(bool processEnding);
  void PostDrain();
  void DrainPlatformQueue();

  bool initialized_ = false;
  bool terminated_ = false;
  bool showingException_ = false;
  bool boxesWhenHeadless_ = false;
  TForm* mainForm_ = nullptr;
  std::string title_ = "Tesmar";
  int exceptionCount_ = 0;
  std::string lastExceptionText_;
  std::unique_ptr<QTemporaryDir> runtimeFolder_;  // made for Qt when none is named
  std::unique_ptr<QApplication> qtApp_;
  std::shared_ptr<detail::Waker> waker_;  // shared with the wake hook and the receiver
  std::unique_ptr<QObject> drainContext_;
  unsigned mainThreadId_ = 0;
};

// The program's one application object.
extern TApplication* const Application;

// The text the default handler shows for E.
std::string ExceptionText(const std::exception& E);

// Runs F; an exception it lets out goes to Application->HandleException.
template <class F>
void CallGuarded(TObject* sender, F&& f) noexcept {
  try {
    f();
  } catch (...) {
    Application->HandleException(sender);
  }
}

}  // namespace framework

#include "framework/Forms.h"

namespace framework {

template <class T, class... Args>
T* TApplication::CreateForm(T*& ref, Args&&... args) {
  auto form = std::make_unique<T>(std::forward<Args>(args)...);
  ref = form.get();
  Adopt(std::move(form), ref);
  return ref;
}

}  // namespace framework
