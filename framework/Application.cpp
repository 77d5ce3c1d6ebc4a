#include "framework/Application.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QEvent>
#include <QMessageBox>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

#include "framework/ExceptionSink.h"
#include "framework/QtBridge.h"
#include "platform/messages.h"
#include "platform/thread.h"

namespace framework {

// A platform message queue's wake hook may still be running on another
// thread after it was removed; it reaches the event loop only through this
// record, whose context Shutdown clears under the mutex.
//
// The hook posts a bare QEvent, made under the mutex. Qt's queue hands it
// to the main thread under a lock of Qt's own, which the thread checker
// cannot see; the receiver takes the same mutex before it looks at the
// event, so the hand-over is ordered in a way every tool can see.
struct detail::Waker {
  // Guards context and the making of wake events; taken by the posting
  // threads, the receiver and Shutdown.
  std::mutex mutex;
  QObject* context = nullptr;
  std::atomic<bool> posted{false};
  QEvent::Type eventType = QEvent::None;  // set once before the hook is installed

  void Post() {
    std::lock_guard lock(mutex);
    if (context == nullptr || posted.exchange(true)) return;
    QCoreApplication::postEvent(context, new QEvent(eventType));
  }
};

namespace {

using detail::Waker;

// Lives on the main thread and drains the platform queue when a wake
// event reaches it.
class DrainReceiver : public QObject {
 public:
  DrainReceiver(std::shared_ptr<Waker> waker, std::function<void()> drain)
      : waker_(std::move(waker)), drain_(std::move(drain)) {}

  bool event(QEvent* event) override {
    { std::lock_guard lock(waker_->mutex); }
    if (event->type() != waker_->eventType) return QObject::event(event);
    drain_();
    return true;
  }

 private:
  std::shared_ptr<Waker> waker_;
  std::function<void()> drain_;
};

// A process that exits without Shutdown (the GUI library ends it from
// inside the loop when the display goes away) frees its windows and ports
// here. Handlers run in the reverse order of their registration and of the
// making of static objects, so one registered when the loop starts runs
// while the GUI library's statics made so far (fonts among them) still
// exist; the application object's own destructor would run after them.
// It is registered when the application starts, when it adopts a form and
// when the loop starts; the first run does the work.
void ShutdownAtExit() { Application->ReleaseAtExit(); }

// At most this many messages are dispatched per wake, so that a window
// that keeps re-posting to itself cannot starve the Qt events.
constexpr int kMessagesPerDrain = 64;

}  // namespace

TApplication& TheApplication() {
  static TApplication application;
  return application;
}

TApplication* const Application = &TheApplication();

std::string ExceptionText(const std::exception& E) {
  if (const auto* e = dynamic_cast<const Exception*>(&E)) return e->Message();
  return E.what();
}

const TClassInfo& TApplication::StaticClassInfo() {
  static const TClassInfo info = DefineClass<TApplication>("TApplication", &TComponent::StaticClassInfo());
  return info;
}

TApplication::TApplication() {
  SetExceptionSink([this](TObject* sender) { HandleException(sender); });
}

TApplication::~TApplication() {
  SetExceptionSink({});
  Shutdown();
}

namespace {

// What the GUI library says while it starts, held back; see Initialize.
struct StartMessages {
  QtMessageHandler previous = nullptr;
  std::vector<std::pair<QtMsgType, QString>> held;
  std::function<void(const std::string&)> unavailable;
};
StartMessages* startMessages = nullptr;  // only while the Qt application is being made

void HoldStartMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  StartMessages& start = *startMessages;
  if (type != QtFatalMsg) {
    start.held.emplace_back(type, text);
    return;
  }
  if (start.unavailable) {
    const QString complaint = start.held.empty() ? text : start.held.front().second;
    start.unavailable(complaint.toStdString());
  }
  for (const auto& [heldType, heldText] : start.held) start.previous(heldType, context, heldText);
  start.previous(type, context, text);
}

// Qt wants a private runtime folder and warns on every start when the
// environment names none (as for root on a console): one is made for the
// program's life (owner only, as Qt requires) and named beforehand.
std::unique_ptr<QTemporaryDir> NameRuntimeFolder() {
  if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) return nullptr;
  auto folder = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tesmar-runtime-XXXXXX"));
  if (!folder->isValid()) return nullptr;
  qputenv("XDG_RUNTIME_DIR", folder->path().toLocal8Bit());
  return folder;
}

}  // namespace

void TApplication::Initialize() {
  if (initialized_) return;
  initialized_ = true;
  terminated_ = false;
  mainThreadId_ = platform::GetCurrentThreadId();
  platform::SetMainThreadId(mainThreadId_);
  if (QCoreApplication::instance() == nullptr) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
      qputenv("QT_QPA_PLATFORM", "offscreen");
    // Layouts are in device pixels at 96 dpi; no scaling.
    if (qEnvironmentVariableIsEmpty("QT_ENABLE_HIGHDPI_SCALING")) qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    runtimeFolder_ = NameRuntimeFolder();
    static int argc = 1;
    static char name[] = "tesmar";
    static char* argv[] = {name, nullptr};
    StartMessages start;
    start.unavailable = OnGuiUnavailable;
    startMessages = &start;
    // Qt hands back its own default handler as the previous one.
    start.previous = qInstallMessageHandler(HoldStartMessage);
    qtApp_ = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(start.previous);
    startMessages = nullptr;
    for (const auto& [type, text] : start.held) start.previous(type, QMessageLogContext(), text);
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(style);
  }
  QApplication::setQuitOnLastWindowClosed(false);
  static const bool registered = std::atexit(ShutdownAtExit) == 0;
  (void)registered;
  auto waker = std::make_shared<Waker>();
  waker->eventType = static_cast<QEvent::Type>(QEvent::registerEventType());
  drainContext_ = std::make_unique<DrainReceiver>(waker, [this] { DrainPlatformQueue(); });
  waker->context = drainContext_.get();
  waker_ = waker;
  platform::SetQueueWakeHook(mainThreadId_, [waker] { waker->Post(); });
  PostDrain();
}

void TApplication::PostDrain() {
  if (waker_) waker_->Post();
}

void TApplication::DrainPlatformQueue() {
  if (waker_) waker_->posted.store(false);
  platform::MSG msg;
  for (int handled = 0; handled < kMessagesPerDrain; ++handled) {
    bool got = false;
    // Sent messages are handled inside PeekMessage; their window procedures
    // may throw as well.
    CallGuarded(this, [&] { got = platform::PeekMessageA(&msg, 0, 0, 0, platform::PM_REMOVE) != 0; });
    if (!got) return;
    if (msg.message == platform::WM_QUIT) {
      Terminate();
      return;
    }
    platform::TranslateMessage(&msg);
    CallGuarded(this, [&] { platform::DispatchMessageA(&msg); });
  }
  if (platform::HasPendingMessages()) PostDrain();
}

void TApplication::Adopt(std::unique_ptr<TComponent> form, TForm* asForm) {
  InsertComponent(std::move(form));
  // Registered again as the program grows, so that it runs before every
  // static the new form made.
  std::atexit(ShutdownAtExit);
  if (mainForm_ == nullptr) mainForm_ = asForm;
  asForm->AfterConstruction();
}

void TApplication::Run() {
  Initialize();
  if (mainForm_ == nullptr || terminated_) return;
  mainForm_->Show();
  if (terminated_) return;
  std::atexit(ShutdownAtExit);
  QApplication::exec();
}

void TApplication::Terminate() {
  terminated_ = true;
  if (QCoreApplication::instance() != nullptr) QCoreApplication::exit(0);
}

void TApplication::CloseModalWindows() {
  if (QCoreApplication::instance() == nullptr) return;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (!window->isVisible() || !window->isModal()) continue;
    if (auto* dialog = qobject_cast<QDialog*>(window))
      dialog->reject();
    else
      window->close();
  }
}

void TApplication::ProcessMessages() {
  if (!initialized_) return;
  DrainPlatformQueue();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TApplication::HandleException(TObject* Sender) noexcept {
  std::exception_ptr current = std::current_exception();
  if (!current) return;
  try {
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& e) {
      ++exceptionCount_;
      lastExceptionText_ = ExceptionText(e);
      const auto* known = dynamic_cast<const Exception*>(&e);
      if (OnException)
        OnException(Sender, e);
      else if (known == nullptr || !known->Silent())
        ShowException(e);
    } catch (...) {
      Exception unknown("Unknown exception");
      ++exceptionCount_;
      lastExceptionText_ = unknown.Message();
      if (OnException)
        OnException(Sender, unknown);
      else
        ShowException(unknown);
    }
  } catch (...) {
    // The handler itself failed; there is nobody left to tell but stderr.
    std::fprintf(stderr, "exception in the exception handler\n");
  }
}

void TApplication::ShowException(const std::exception& E) {
  std::string text = ExceptionText(E);
  if ((detail::IsHeadless() && !boxesWhenHeadless_) || !detail::HasGui() || showingException_) {
    std::fprintf(stderr, "%s\n", text.c_str());
    return;
  }
  // The box runs its own loop, in which timers and messages go on; a
  // second failure meanwhile must not stack a second box.
  showingException_ = true;
  QMessageBox box(QMessageBox::Critical, detail::ToQString(title_), detail::ToQString(text), QMessageBox::Ok);
  box.exec();
  showingException_ = false;
}

void TApplication::Notification(TComponent* component, TOperation operation) {
  if (operation == TOperation::opRemove && component == mainForm_) mainForm_ = nullptr;
}

void TApplication::Shutdown() { Release(false); }

void TApplication::Release(bool processEnding) {
  if (waker_) {
    platform::SetQueueWakeHook(mainThreadId_, {});
    std::lock_guard lock(waker_->mutex);
    waker_->context = nullptr;
  }
  waker_.reset();
  while (ComponentCount() > 0) DestroyComponent(Components(ComponentCount() - 1));
  mainForm_ = nullptr;
  drainContext_.reset();
  // At process exit Qt's own statics are partly gone already, and the exit
  // may come from inside one of its event loops (Qt ends the process so
  // when the display goes away): the Qt application is left to the end of
  // the process then.
  if (processEnding) {
    static_cast<void>(qtApp_.release());
    static_cast<void>(runtimeFolder_.release());
  } else {
    qtApp_.reset();
    if (runtimeFolder_) qunsetenv("XDG_RUNTIME_DIR");
    runtimeFolder_.reset();
  }
  initialized_ = false;
  terminated_ = false;
}

}  // namespace framework
