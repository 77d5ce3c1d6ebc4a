// Trigger events through the hidden window, destruction while events are
// on the way, the port selection dialog and a vanishing device.
#include <gtest/gtest.h>

#include <QTimer>

#include <string>
#include <vector>

#include "PortTestUtil.h"
#include "comport/SioPort.h"
#include "comport/SioPortSelect.h"
#include "comport/view/SioSelCom.h"
#include "errors/SioExcept.h"
#include "platform/serial_fake.h"
#include "tests/support/ExceptionRecorder.h"

namespace {

using namespace std::chrono_literals;
using comport::TSioComPort;
using comport::Word;
using framework::TObject;
using platform::FakeSerialDevice;
using tesmar::test::PumpFor;
using tesmar::test::PumpUntil;

using tesmar::test::FakePort;

std::unique_ptr<TSioComPort> OpenPort(int number) {
  auto port = std::make_unique<TSioComPort>();
  port->SetComNumber(static_cast<Word>(number));
  port->SetOpen(true);
  return port;
}

// Every event of a port, in the order raised, as text.
struct EventLog {
  std::vector<std::string> events;

  void Attach(TSioComPort& port) {
    port.SetOnTrigger([this](TObject*, Word msg, Word handle, Word data) {
      events.push_back("Trigger " + std::to_string(msg) + " " + std::to_string(handle) + " " +
                       std::to_string(data));
    });
    port.SetOnTriggerAvail([this](TObject*, Word n) { events.push_back("Avail " + std::to_string(n)); });
    port.SetOnTriggerData([this](TObject*, Word h) { events.push_back("Data " + std::to_string(h)); });
    port.SetOnTriggerTimer([this](TObject*, Word h) { events.push_back("Timer " + std::to_string(h)); });
    port.SetOnTriggerStatus([this](TObject*, Word h) { events.push_back("Status " + std::to_string(h)); });
    port.SetOnTriggerLineError([this](TObject*, Word error, bool lineBreak) {
      events.push_back("LineError " + std::to_string(error) + (lineBreak ? " break" : ""));
    });
    port.SetOnTriggerModemStatus([this](TObject*) { events.push_back("Modem"); });
    port.SetOnTriggerOutbuffFree([this](TObject*) { events.push_back("OutbuffFree"); });
    port.SetOnTriggerOutbuffUsed([this](TObject*) { events.push_back("OutbuffUsed"); });
    port.SetOnTriggerOutSent([this](TObject*) { events.push_back("OutSent"); });
  }
};

platform::LPARAM HandleWord(const TSioComPort& port, Word low = 0) {
  return (static_cast<platform::LPARAM>(port.Dispatcher()->DispatcherHandle) << 16) | low;
}

TEST(SioPortEvents, EachMessageRaisesOnTriggerThenItsOwnEvents) {
  FakePort fake(21);
  auto port = OpenPort(21);
  EventLog log;
  log.Attach(*port);
  struct Case {
    platform::UINT msg;
    platform::WPARAM wParam;
    Word low;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {dispatcher::MsgTriggerData, 9, 2, {"Trigger 32258 9 2", "Data 9"}},
      {dispatcher::MsgTriggerTimer, 17, 0, {"Trigger 32259 17 0", "Timer 17"}},
      {dispatcher::MsgTriggerStatus, 8 + 1, 0, {"Trigger 32260 9 0", "Status 9", "Modem"}},
      {dispatcher::MsgTriggerStatus, 8 + 3, 4, {"Trigger 32260 11 4", "Status 11", "OutbuffFree"}},
      {dispatcher::MsgTriggerStatus, 8 + 4, 0, {"Trigger 32260 12 0", "Status 12", "OutbuffUsed"}},
      {dispatcher::MsgTriggerStatus, 8 + 5, 0, {"Trigger 32260 13 0", "Status 13", "OutSent"}},
      {dispatcher::MsgTriggerStatus, 8 + 6, 0, {"Trigger 32260 14 0", "Status 14"}},
      {dispatcher::MsgTriggerStatus, 8 + 2, 0, {"Trigger 32260 10 0", "Status 10", "LineError 0"}},
  };
  for (const Case& c : cases) {
    log.events.clear();
    EXPECT_EQ(platform::SendMessageA(port->NotifyWindow(), c.msg, c.wParam, HandleWord(*port, c.low)), 0);
    EXPECT_EQ(log.events, c.expected);
  }
  // A message naming no dispatcher raises nothing.
  log.events.clear();
  platform::SendMessageA(port->NotifyWindow(), dispatcher::MsgTriggerAvail, 1, 0x7FFF0000);
  EXPECT_TRUE(log.events.empty());
}

TEST(SioPortEvents, ALineErrorTakesTheBreakBeforeTheError) {
  FakePort fake(22);
  auto port = OpenPort(22);
  EventLog log;
  log.Attach(*port);
  fake->InjectBreak();
  fake->InjectLineErrors(platform::CE_RXPARITY);
  PumpFor(150ms);  // the dispatch thread collects the line's errors
  log.events.clear();
  platform::SendMessageA(port->NotifyWindow(), dispatcher::MsgTriggerStatus, 8 + 2, HandleWord(*port));
  const std::vector<std::string> expected = {"Trigger 32260 10 0", "Status 10", "LineError 3 break"};
  EXPECT_EQ(log.events, expected);
  log.events.clear();
  platform::SendMessageA(port->NotifyWindow(), dispatcher::MsgTriggerStatus, 8 + 2, HandleWord(*port));
  EXPECT_EQ(log.events.back(), "LineError 0") << "both were read and cleared";
  // A break alone: taken first, it is no longer there as the error's code.
  fake->InjectBreak();
  PumpFor(150ms);
  platform::SendMessageA(port->NotifyWindow(), dispatcher::MsgTriggerStatus, 8 + 2, HandleWord(*port));
  EXPECT_EQ(log.events.back(), "LineError 0 break");
}

TEST(SioPortEvents, AHandlersExceptionIsReportedAndEndsThatMessage) {
  FakePort fake(23);
  auto port = OpenPort(23);
  test::ExceptionRecorder recorder;
  bool statusRaised = false;
  port->SetOnTrigger([](TObject*, Word, Word, Word) { throw framework::Exception("handler failed"); });
  port->SetOnTriggerStatus([&](TObject*, Word) { statusRaised = true; });
  platform::SendMessageA(port->NotifyWindow(), dispatcher::MsgTriggerStatus, 8 + 1, HandleWord(*port));
  ASSERT_EQ(recorder.texts.size(), 1u);
  EXPECT_EQ(recorder.texts[0], "handler failed");
  EXPECT_FALSE(statusRaised);
}

TEST(SioPortEvents, OnlyAPortWithEventsHearsOfReceivedCharacters) {
  FakePort fake(24);
  auto port = OpenPort(24);
  std::vector<Word> counts;
  fake->InjectReceived("ab");
  PumpFor(150ms);
  port->FlushInput();
  port->SetOnTriggerAvail([&](TObject*, Word n) { counts.push_back(n); });
  fake->InjectReceived("xyz");
  ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }));
  EXPECT_GE(counts.front(), 1);
  EXPECT_LE(counts.front(), 3);
  port->SetOnTriggerAvail(nullptr);
  counts.clear();
  port->FlushInput();
  fake->InjectReceived("q");
  PumpFor(150ms);
  EXPECT_TRUE(counts.empty()) << "no listener: no message";
}

TEST(SioPortEvents, DestroyedInsideItsOwnHandlerLeavesNothingBehind) {
  for (bool closeFirst : {false, true}) {
    SCOPED_TRACE(closeFirst ? "closed, then destroyed" : "destroyed while open");
    FakePort fake(25);
    struct State {
      std::unique_ptr<TSioComPort> port;
      bool closeFirst;
      int calls = 0;
      int returned = 0;
    } state{OpenPort(25), closeFirst};
    const platform::HWND window = state.port->NotifyWindow();
    // One reference: small enough for the function object's own storage,
    // which goes with the component; the handler still uses it afterwards.
    state.port->SetOnTrigger([&state](TObject*, Word, Word, Word) {
      ++state.calls;
      if (state.closeFirst) state.port->SetOpen(false);
      state.port.reset();
      ++state.returned;
    });
    state.port->SetOnTriggerAvail([&state](TObject*, Word) { ++state.calls; });
    fake->InjectReceived("1");
    ASSERT_TRUE(PumpUntil([&] { return state.port == nullptr; }));
    // The deferred close handles its own message at once, re-entrantly:
    // OnTrigger with MsgFinishClose is the handler that destroys the port.
    const int expected = closeFirst ? 2 : 1;
    EXPECT_EQ(state.calls, expected) << "no event after the destruction";
    EXPECT_EQ(state.returned, expected);
    ASSERT_TRUE(PumpUntil([&] { return !platform::IsWindow(window); })) << "the window goes once the threads end";
    EXPECT_FALSE(fake->IsOpen());
    fake->InjectReceived("2");
    PumpFor(50ms);
    EXPECT_EQ(state.calls, expected);
  }
}

// A message sent to the port's window that waits to be taken until a close
// handles sent messages (as the dispatch thread's trigger messages do).
class PendingSend {
 public:
  PendingSend(platform::HWND window, platform::LPARAM lParam) {
    while (platform::PumpOneMessage()) {
    }
    sender_ = std::thread([this, window, lParam] {
      platform::SendMessageA(window, dispatcher::MsgTriggerAvail, 1, lParam);
      taken_.store(true);
    });
    while (!platform::HasPendingMessages()) std::this_thread::sleep_for(1ms);
  }
  ~PendingSend() {
    while (!taken_.load()) {
      platform::PumpOneMessage();
      std::this_thread::sleep_for(1ms);
    }
    sender_.join();
  }
  PendingSend(const PendingSend&) = delete;
  PendingSend& operator=(const PendingSend&) = delete;

 private:
  std::atomic<bool> taken_{false};
  std::thread sender_;
};

TEST(SioPortEvents, AClosingPortRaisesNoEventAHandlerCouldDestroyItIn) {
  FakePort fake(27);
  auto port = OpenPort(27);
  int calls = 0;
  port->SetOnTrigger([&](TObject*, Word, Word, Word) {
    ++calls;
    port.reset();
  });
  {
    PendingSend send(port->NotifyWindow(), HandleWord(*port));
    port->SetOpen(false);  // takes the message while it waits for the workers
  }
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(port->OpenState(), comport::osClosed);
  EXPECT_FALSE(fake->IsOpen());
}

TEST(SioPortEvents, AnOpenAskedWhileACloseWaitsIsTheLastWish) {
  FakePort fakeA(28);
  FakePort fakeB(29);
  auto a = OpenPort(28);
  auto b = OpenPort(29);
  // Another component's handler, run while a's close waits for its workers.
  b->SetOnTrigger([&](TObject*, Word, Word, Word) { a->SetOpen(true); });
  {
    PendingSend send(b->NotifyWindow(), HandleWord(*b));
    a->SetOpen(false);
  }
  EXPECT_EQ(a->OpenState(), comport::osOpen);
  EXPECT_TRUE(fakeA->IsOpen());
  EXPECT_FALSE(a->ReopenPending());
}

TEST(SioPortEvents, AVanishedDeviceSurfacesAsAnException) {
  FakePort fake(26);
  auto port = OpenPort(26);
  fake->Vanish();
  // The write is queued for the output thread, yet raises at once too.
  EXPECT_THROW(port->WriteBlock("!", 1), errors::EInOutError);
  EXPECT_THROW(port->FlushInput(), errors::EInOutError);
  EXPECT_THROW(port->FlushOutput(), errors::EInOutError);
  EXPECT_FALSE(port->CharAvailable());
  port->SetOpen(false);
  EXPECT_EQ(port->OpenState(), comport::osClosed);
  EXPECT_ANY_THROW(port->SetOpen(true)) << "no device to open";
  EXPECT_FALSE(port->Open());
}

// The modal dialog, answered from inside its loop.
class DialogScript {
 public:
  explicit DialogScript(std::function<void(comport::TComSelectForm&)> act) : act_(std::move(act)) {
    comport::InstallPortSelector();
    QTimer::singleShot(0, [this] { Run(); });
  }
  ~DialogScript() { comport::SetPortSelector(nullptr); }
  DialogScript(const DialogScript&) = delete;
  DialogScript& operator=(const DialogScript&) = delete;
  std::vector<std::string> listed;

 private:
  void Run() {
    comport::TComSelectForm* form = nullptr;
    for (int i = 0; i < framework::Application->ComponentCount(); ++i)
      if (auto* f = dynamic_cast<comport::TComSelectForm*>(framework::Application->Components(i))) form = f;
    if (form == nullptr || !form->Modal()) {
      QTimer::singleShot(5, [this] { Run(); });
      return;
    }
    listed = form->PortsComboBox->Items();
    act_(*form);
  }
  std::function<void(comport::TComSelectForm&)> act_;
};

bool Listed(const std::vector<std::string>& items, const std::string& name) {
  return std::find(items.begin(), items.end(), name) != items.end();
}

TEST(SioSelCom, ListsFreeAndHeldPortsAndOpensTheChosenOne) {
  FakePort free(44);
  FakePort held(45);
  FakePort absent(46);
  FakePort forbidden(47);
  held->SetOpenError(platform::ERROR_SHARING_VIOLATION);
  forbidden->SetOpenError(platform::ERROR_ACCESS_DENIED);
  absent->SetOpenError(platform::ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(comport::PortIsAvailable(44));
  EXPECT_TRUE(comport::PortIsAvailable(45));
  EXPECT_TRUE(comport::PortIsAvailable(47));
  EXPECT_FALSE(comport::PortIsAvailable(46));
  EXPECT_FALSE(comport::PortIsAvailable(0));
  EXPECT_FALSE(free->IsOpen()) << "the probe closes what it opened";

  TSioComPort port;
  DialogScript script([](comport::TComSelectForm& form) {
    const auto& items = form.PortsComboBox->Items();
    form.PortsComboBox->SetItemIndex(
        static_cast<int>(std::find(items.begin(), items.end(), "COM44") - items.begin()));
    form.OkBtn->Click();
  });
  port.SetOpen(true);
  EXPECT_TRUE(Listed(script.listed, "COM44"));
  EXPECT_TRUE(Listed(script.listed, "COM45"));
  EXPECT_FALSE(Listed(script.listed, "COM46"));
  EXPECT_EQ(port.ComNumber(), 44);
  EXPECT_TRUE(port.Open());
  EXPECT_TRUE(free->IsOpen());
}

TEST(SioSelCom, CancelAndAnEmptyListLeaveThePortUnchosen) {
  const std::vector<std::function<void(comport::TComSelectForm&)>> answers = {
      [](comport::TComSelectForm& form) { form.AbortBtn->Click(); },
      [](comport::TComSelectForm& form) { form.Close(); },
      [](comport::TComSelectForm& form) {
        form.PortsComboBox->ClearItems();
        form.OkBtn->Click();
      },
  };
  for (std::size_t i = 0; i < answers.size(); ++i) {
    SCOPED_TRACE(i);
    TSioComPort port;
    DialogScript script(answers[i]);
    try {
      port.SetOpen(true);
      ADD_FAILURE() << "a port was opened";
    } catch (const errors::ENoPortSelected& e) {
      EXPECT_EQ(e.Message(), "The ComNumber property of the TSioComPort has not been set");
    }
    EXPECT_EQ(port.ComNumber(), 0);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.Dispatcher(), nullptr);
  }
  TSioComPort quiet;
  quiet.SetPromptForPort(false);
  EXPECT_THROW(quiet.SetOpen(true), errors::ENoPortSelected);
}

TEST(SioSelCom, TheEntryNumberIsReadPastTheLetters) {
  comport::TComSelectForm form;
  form.PortsComboBox->ClearItems();
  EXPECT_EQ(form.SelectedPortNumber(), 0);
  form.PortsComboBox->AddItem("COM12", "/dev/ttyUSB3");
  form.PortsComboBox->SetItemIndex(0);
  EXPECT_EQ(form.SelectedPortNumber(), 12);
  EXPECT_EQ(form.PortsComboBox->ItemHint(0), "/dev/ttyUSB3");
}

}  // namespace
