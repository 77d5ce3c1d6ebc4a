// Triggers and their delivery, driven through the passes and checks on the
// test's own thread: avail announcements and what receivers take, data
// patterns, status and timer triggers, the receiver lists, closes and
// removals during a delivery, and saved trigger sets.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "DumpFiles.h"
#include "FakeDevice.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace dispatcher_test {
namespace {

using dispatcher::MsgTriggerAvail;
using dispatcher::MsgTriggerData;
using dispatcher::MsgTriggerStatus;
using dispatcher::MsgTriggerTimer;
using platform::HWND;
using platform::LPARAM;
using platform::LRESULT;
using platform::UINT;
using platform::WORD;
using platform::WPARAM;
using platform::FALSE;
using platform::TRUE;

struct Event {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  std::string read;  // what the receiver took
  bool operator==(const Event&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Event& e) {
  return out << "{" << e.message << ", " << e.wParam << ", 0x" << std::hex << e.lParam << std::dec
             << ", \"" << e.read << "\"}";
}

// Characters arrive and the fill step moves them into the input ring.
void Arrive(FakeDevice& device, std::string_view text) {
  device.Receive(text);
  device.FillDispatchBuffer();
}

// Takes up to n characters through ReadChar, as a receiver would.
std::string Take(FakeDevice& device, int n) {
  std::string taken;
  BYTE c = 0;
  while (n-- > 0 && device.ReadChar(c) == 0) taken += static_cast<char>(c);
  return taken;
}

// A method receiver that records every event and takes what `count` says.
void AddRecorder(FakeDevice& device, std::vector<Event>& events,
                 std::function<int(UINT, WPARAM)> count, bool synchronized = false) {
  ASSERT_GT(device.AddMethodReceiver(
                [&device, &events, count](UINT m, WPARAM w, LPARAM l) {
                  events.push_back({m, w, l, Take(device, count(m, w))});
                },
                synchronized),
            0);
}

int TakeAnnounced(UINT message, WPARAM wParam) { return message == MsgTriggerAvail ? static_cast<int>(wParam) : 0; }
int TakeNothing(UINT, WPARAM) { return 0; }

LPARAM Low(const FakeDevice& device, int low) {
  return static_cast<LPARAM>(device.DispatcherHandle) << 16 | low;
}

// ---- Windows on the test's thread ------------------------------------------------

struct WindowLog {
  std::vector<Event> events;
  std::function<void()> onMessage;
};

LRESULT RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* log = reinterpret_cast<WindowLog*>(platform::GetWindowLongPtrA(window, 0));
  if (log != nullptr && message >= MsgTriggerAvail && message <= MsgTriggerStatus) {
    log->events.push_back({message, wParam, lParam, ""});
    if (log->onMessage) log->onMessage();
    return 0;
  }
  return platform::DefWindowProcA(window, message, wParam, lParam);
}

struct TestWindow {
  WindowLog log;
  HWND handle = 0;
  TestWindow() {
    static const bool registered = [] {
      platform::WNDCLASSA wc;
      wc.lpfnWndProc = RecordingProc;
      wc.cbWndExtra = sizeof(void*);
      wc.lpszClassName = "tesmarTriggerTestWindow";
      return platform::RegisterClassA(&wc) != 0;
    }();
    EXPECT_TRUE(registered);
    handle = platform::CreateWindowExA(0, "tesmarTriggerTestWindow", "", 0, 0, 0, 0, 0, 0, 0, 0,
                                       nullptr);
    platform::SetWindowLongPtrA(handle, 0, reinterpret_cast<platform::LONG_PTR>(&log));
  }
  ~TestWindow() { platform::DestroyWindow(handle); }
};

// ---- Avail announcements ------------------------------------------------------------

TEST(AvailTrigger, CharactersNobodyTakesAreAnnouncedAgainWithNewerOnes) {
  FakeDevice device;
  std::vector<Event> events;
  AddRecorder(device, events, TakeNothing);
  device.SetAvailLength(1);

  Arrive(device, "a");
  EXPECT_FALSE(device.CheckDataTriggers()) << "one character announced, none taken";
  EXPECT_FALSE(device.CheckDataTriggers()) << "nothing new: no second announcement";
  Arrive(device, "b");
  EXPECT_FALSE(device.CheckDataTriggers());
  EXPECT_EQ(events, (std::vector<Event>{{MsgTriggerAvail, 1, Low(device, 0), ""},
                                        {MsgTriggerAvail, 2, Low(device, 0), ""}}));
  EXPECT_EQ(device.UnreadCount(), 2);
}

TEST(AvailTrigger, EveryReceiverReadsFromTheSameStartAndTheMostTakenGo) {
  FakeDevice device;
  std::vector<Event> first, second, third;
  AddRecorder(device, first, [](UINT, WPARAM) { return 2; });
  AddRecorder(device, second, [](UINT, WPARAM) { return 1; });
  AddRecorder(device, third, [](UINT, WPARAM) { return 2; });
  device.SetAvailLength(1);
  Arrive(device, "xyz");

  EXPECT_FALSE(device.CheckDataTriggers()) << "three announced, two taken";
  EXPECT_EQ(first.at(0).read, "xy");
  EXPECT_EQ(second.at(0).read, "x");
  EXPECT_EQ(third.at(0).read, "xy");
  EXPECT_EQ(device.UnreadCount(), 1);
  BYTE c = 0;
  ASSERT_EQ(device.ReadChar(c), 0) << "reads are destructive again after the delivery";
  EXPECT_EQ(c, 'z');
  EXPECT_EQ(device.UnreadCount(), 0);
}

TEST(AvailTrigger, TakingAllThatIsAnnouncedLetsThePassGoOn) {
  FakeDevice device;
  std::vector<Event> events;
  AddRecorder(device, events, TakeAnnounced);
  device.SetAvailLength(3);
  Arrive(device, "ab");
  EXPECT_FALSE(device.CheckDataTriggers()) << "fewer than the avail length wait";
  Arrive(device, "cd");
  EXPECT_TRUE(device.CheckDataTriggers());
  EXPECT_FALSE(device.CheckDataTriggers());
  EXPECT_EQ(events, (std::vector<Event>{{MsgTriggerAvail, 4, Low(device, 0), "abcd"}}));
  EXPECT_EQ(device.UnreadCount(), 0);
}

// Characters numbered from `first`, so that order and losses show.
std::string Numbered(int first, int n) {
  std::string text;
  for (int i = first; i < first + n; ++i) text += static_cast<char>('0' + i % 64);
  return text;
}

TEST(AvailTrigger, AFullRingIsAnnouncedWholeHoweverItFilled) {
  const struct {
    int readBefore;          // characters received and read first: where the ring starts
    std::vector<int> fills;  // fill steps, each followed by the checks
    DWORD availLength;
  } cases[] = {
      {0, {dispatcher::InRingSize}, 1},
      {100, {dispatcher::InRingSize}, 1},
      {0, {4096, 4096}, dispatcher::InRingSize},
      {3000, {5000, 3192}, dispatcher::InRingSize},
  };
  for (const auto& c : cases) {
    FakeDevice device;
    std::vector<Event> events;
    AddRecorder(device, events, TakeAnnounced);
    Arrive(device, std::string(c.readBefore, '-'));
    Take(device, c.readBefore);
    while (device.CheckDataTriggers()) {
    }
    device.SetAvailLength(c.availLength);
    int sent = 0;
    for (int n : c.fills) {
      Arrive(device, Numbered(sent, n));
      sent += n;
      while (device.CheckDataTriggers()) {
      }
    }
    ASSERT_EQ(events.size(), 1u) << "start " << c.readBefore << ", fills " << c.fills.size();
    EXPECT_EQ(events[0].wParam, static_cast<WPARAM>(dispatcher::InRingSize));
    EXPECT_TRUE(events[0].read == Numbered(0, dispatcher::InRingSize)) << "start " << c.readBefore;
    EXPECT_EQ(device.UnreadCount(), 0);
  }
}

TEST(DataTrigger, APatternInARingFilledInOneStepIsFound) {
  // The ring starts at 100, so the one fill of 8192 characters wraps and
  // the pattern straddles the end of the ring.
  FakeDevice device;
  std::vector<Event> events;
  AddRecorder(device, events, TakeAnnounced);
  Arrive(device, std::string(100, '-'));
  Take(device, 100);
  while (device.CheckDataTriggers()) {
  }
  const std::int32_t handle = device.AddDataTrigger("\r\n", false);
  device.SetAvailLength(1);
  const int before = dispatcher::InRingSize - 100 - 1;
  const std::string after(dispatcher::InRingSize - before - 2, 'y');
  Arrive(device, std::string(before, 'x') + "\r\n" + after);
  while (device.CheckDataTriggers()) {
  }
  EXPECT_EQ(events,
            (std::vector<Event>{
                {MsgTriggerAvail, static_cast<WPARAM>(before), Low(device, 0), std::string(before, 'x')},
                {MsgTriggerData, static_cast<WPARAM>(handle), Low(device, 2), ""},
                {MsgTriggerAvail, static_cast<WPARAM>(2 + after.size()), Low(device, 0), "\r\n" + after},
            }));
}

TEST(AvailTrigger, NothingIsDeliveredWhileNoDeliveryIsWanted) {
  FakeDevice device;
  TestWindow own;
  device.AddWindowReceiver(own.handle);
  device.UpdateHandlerFlags(2);  // the component has no trigger events
  device.SetAvailLength(1);
  Arrive(device, "q");
  const std::int32_t tail = device.InTail;
  EXPECT_FALSE(device.DeliveryWanted.load());
  EXPECT_TRUE(device.DeliverEvent(MsgTriggerAvail, 1, 0));
  EXPECT_TRUE(device.CheckDataTriggers()) << "announced to nobody: the pass goes on";
  EXPECT_FALSE(device.CheckDataTriggers()) << "and not again";
  EXPECT_TRUE(own.log.events.empty());
  EXPECT_EQ(device.InTail, tail);

  // Another receiver makes delivery wanted, but the component's own window
  // still hears nothing while the component is not listening.
  std::vector<Event> events;
  AddRecorder(device, events, TakeNothing);
  EXPECT_TRUE(device.DeliveryWanted.load());
  EXPECT_FALSE(device.DeliverEvent(MsgTriggerAvail, 1, 0));
  EXPECT_EQ(events.size(), 1u);
  EXPECT_TRUE(own.log.events.empty());
  device.UpdateHandlerFlags(1);
  device.DeliverEvent(MsgTriggerAvail, 1, 0);
  EXPECT_EQ(own.log.events.size(), 1u);
}

TEST(AvailTrigger, WindowsHearTheDispatchersRegistryIndexInTheHighHalf) {
  FakeDevice first;
  FakeDevice device;  // a registry index other than 0
  ASSERT_NE(device.DispatcherHandle, 0);
  TestWindow window;
  device.AddWindowReceiver(window.handle);
  device.UpdateHandlerFlags(1);
  window.log.onMessage = [&] { window.log.events.back().read = Take(device, 5); };
  device.SetAvailLength(1);
  Arrive(device, "hello");
  EXPECT_TRUE(device.CheckDataTriggers());
  const std::int32_t handle = device.AddStatusTrigger(dispatcher::StatusOutputUsed, 0);
  EXPECT_TRUE(device.CheckStatusTriggers());
  ASSERT_EQ(window.log.events.size(), 2u);
  EXPECT_EQ(window.log.events[0], (Event{MsgTriggerAvail, 5, Low(device, 0), "hello"}));
  EXPECT_EQ(window.log.events[1], (Event{MsgTriggerStatus, static_cast<WPARAM>(handle), Low(device, 0), ""}));
  EXPECT_EQ(window.log.events[1].lParam >> 16, device.DispatcherHandle);
}

// ---- Data triggers ----------------------------------------------------------------------

TEST(DataTrigger, PatternsMatchAtEveryCompletingCharacter) {
  const struct {
    const char* pattern;
    bool ignoreCase;
    const char* input;
    std::vector<int> matchesAt;  // 1-based positions of completing characters
  } cases[] = {
      {"ab", false, "aab", {3}},
      {"aa", false, "aaa", {2, 3}},
      {"a", false, "xaya", {2, 4}},
      {"aab", false, "aaab", {4}},
      {"abab", false, "ababab", {4, 6}},
      {"aba", false, "abababa", {3, 5, 7}},
      {"abc", false, "ababcabc", {5, 8}},
      {"ab", false, "AB", {}},
      {"AB", true, "xaB", {3}},
      {"\xDF", true, "\xFF\xDF", {1, 2}},  // Cyrillic я and Я
      {"\r\n", false, "1\r\r\n2\r\n", {4, 7}},
  };
  for (const auto& c : cases) {
    dispatcher::TDataTrigger trigger;
    trigger.PatternLength = static_cast<std::int32_t>(std::strlen(c.pattern));
    trigger.IgnoreCase = c.ignoreCase;
    std::strcpy(trigger.Pattern, c.pattern);
    std::vector<int> found;
    for (int i = 0; c.input[i] != 0; ++i) {
      if (FakeDevice::MatchDataChar(trigger, static_cast<BYTE>(c.input[i]))) found.push_back(i + 1);
    }
    EXPECT_EQ(found, c.matchesAt) << c.pattern << " in " << c.input;
  }
}

TEST(DataTrigger, TheCharactersBeforeAMatchAreAnnouncedFirst) {
  FakeDevice device;
  std::vector<Event> events;
  AddRecorder(device, events, [](UINT m, WPARAM w) {
    return m == MsgTriggerAvail ? static_cast<int>(w) : 0;
  });
  const std::int32_t line = device.AddDataTrigger("\r\n", false);
  const std::int32_t crlf = device.AddDataTrigger("\n", false);
  ASSERT_GT(line, 0);
  ASSERT_GT(crlf, line);
  device.SetAvailLength(1);
  Arrive(device, "12\r\n34");
  while (device.CheckDataTriggers()) {
  }
  EXPECT_EQ(events, (std::vector<Event>{
                        {MsgTriggerAvail, 2, Low(device, 0), "12"},
                        {MsgTriggerData, static_cast<WPARAM>(crlf), Low(device, 1), ""},
                        {MsgTriggerData, static_cast<WPARAM>(line), Low(device, 2), ""},
                        {MsgTriggerAvail, 4, Low(device, 0), "\r\n34"},
                    }))
      << "matches at one character go out last-added first; the rest is announced after them";
  EXPECT_EQ(device.UnreadCount(), 0);
}

TEST(DataTrigger, AMatchOfCharactersAlreadyReadAnnouncesNothingBeforeIt) {
  FakeDevice device;
  std::vector<Event> events;
  AddRecorder(device, events, TakeAnnounced);
  const std::int32_t handle = device.AddDataTrigger("ok", true);
  device.SetAvailLength(1);
  Arrive(device, "xO");
  EXPECT_EQ(Take(device, 2), "xO") << "the application reads before the scan";
  Arrive(device, "K");
  while (device.CheckDataTriggers()) {
  }
  EXPECT_EQ(events, (std::vector<Event>{{MsgTriggerData, static_cast<WPARAM>(handle), Low(device, 2), ""},
                                        {MsgTriggerAvail, 1, Low(device, 0), "K"}}));
}

TEST(DataTrigger, AddingChecksTheArguments) {
  FakeDevice device;
  EXPECT_EQ(device.AddDataTrigger("", false), errors::ecBadArgument);
  EXPECT_EQ(device.AddDataTrigger(std::string(23, 'x'), false), errors::ecTriggerTooLong);
  const std::int32_t handle = device.AddDataTrigger(std::string(22, 'x'), false);
  EXPECT_GT(handle, 0);
  EXPECT_EQ(device.AddDataTrigger("abc", true), handle + 8);
  EXPECT_STREQ(device.DataTriggerList[1].Pattern, "ABC");
  for (std::size_t n = device.DataTriggerList.size(); n < dispatcher::MaxTriggersPerTable; ++n) {
    ASSERT_GT(device.AddDataTrigger("z", false), 0);
  }
  EXPECT_EQ(device.AddDataTrigger("z", false), errors::ecNoMoreTriggerSlots);
  EXPECT_EQ(device.RemoveTrigger(handle), 0);
  EXPECT_EQ(device.RemoveTrigger(handle), errors::ecBadTriggerHandle);
  EXPECT_GT(device.AddDataTrigger("z", false), 0);
}

// ---- Status triggers ------------------------------------------------------------------

TEST(StatusTrigger, EachKindFiresOnceWhenItsConditionHolds) {
  const struct {
    DWORD kind;
    WORD value;
    std::function<void(FakeDevice&)> cause;
    int low;
  } cases[] = {
      {dispatcher::StatusModem, 0x1000, [](FakeDevice& d) {
         d.modemStatus = dispatcher::ModemCts;
         d.UpdateModemDeltas();
       }, 0},
      {dispatcher::StatusLine, dispatcher::LineErrorParity, [](FakeDevice& d) {
         d.AddErrors(dispatcher::LineErrorParity);
         d.CollectLineErrors();
       }, 0},
      {dispatcher::StatusOutputFree, 60, [](FakeDevice& d) { d.Drain(4); }, 62},
      {dispatcher::StatusOutputUsed, 0, [](FakeDevice& d) { d.Drain(6); }, 0},
      {dispatcher::StatusOutputSent, 0, [](FakeDevice& d) { d.WriteBlock("x", 1); }, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    FakeDevice device;
    std::vector<Event> events;
    AddRecorder(device, events, TakeNothing);
    ASSERT_EQ(device.WriteBlock("abcdef", 6), 0);  // 58 of 64 free
    device.OutputSent = false;
    const std::int32_t handle = device.AddStatusTrigger(c.kind, c.value);
    ASSERT_GT(handle, 0);
    EXPECT_EQ(dispatcher::TSioBaseDispatcher::StatusKindOf(handle), static_cast<int>(c.kind));
    EXPECT_FALSE(device.CheckStatusTriggers()) << "not yet";
    c.cause(device);
    EXPECT_TRUE(device.CheckStatusTriggers());
    EXPECT_TRUE(device.StatusHit);
    device.ResetStatusHits();
    c.cause(device);
    EXPECT_FALSE(device.CheckStatusTriggers()) << "one-shot";
    EXPECT_EQ(events, (std::vector<Event>{{MsgTriggerStatus, static_cast<WPARAM>(handle), Low(device, c.low), ""}}));
    EXPECT_EQ(device.ArmStatusTrigger(handle, c.value), 0);
  }
}

TEST(StatusTrigger, SideEffectsOfTheLineAndSentKinds) {
  FakeDevice device;
  std::vector<Event> events;
  AddRecorder(device, events, TakeNothing);
  const std::int32_t line = device.AddStatusTrigger(dispatcher::StatusLine, dispatcher::LineErrorBreak);
  const std::int32_t sent = device.AddStatusTrigger(dispatcher::StatusOutputSent, 0);
  device.WriteBlock("x", 1);  // before the errors: a write replaces the line-error bits
  device.AddErrors(dispatcher::LineErrorBreak | dispatcher::LineErrorFraming);
  device.CollectLineErrors();
  EXPECT_TRUE(device.CheckStatusTriggers());
  EXPECT_TRUE(device.CheckStatusTriggers());
  EXPECT_FALSE(device.CheckStatusTriggers());
  EXPECT_EQ(device.StatusTriggerList[0].StatusValue,
            dispatcher::LineErrorBreak | dispatcher::LineErrorFraming);
  EXPECT_FALSE(device.OutputSent.load());
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].wParam, static_cast<WPARAM>(line));
  EXPECT_EQ(events[1].wParam, static_cast<WPARAM>(sent));
  EXPECT_EQ(device.AddStatusTrigger(0, 0), errors::ecBadArgument);
  EXPECT_EQ(device.AddStatusTrigger(6, 0), errors::ecBadArgument);
  EXPECT_EQ(device.ArmStatusTrigger(line + 8, 0), errors::ecBadTriggerHandle);
}

TEST(StatusTrigger, TheEventPassReadsTheModemAndSignalsTheReceiveThread) {
  FakeDevice device;
  device.DispatchDone = platform::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::vector<Event> events;
  AddRecorder(device, events, TakeNothing);
  const std::int32_t dsr = device.AddStatusTrigger(dispatcher::StatusModem, 0x2000);
  const std::int32_t dcd = device.AddStatusTrigger(dispatcher::StatusModem, 0x8000);
  device.modemStatus = dispatcher::ModemDsr | dispatcher::ModemDcd;
  device.EventWord = 0x0010 | 0x0020;
  device.EventPass();
  EXPECT_EQ(platform::WaitForSingleObject(device.DispatchDone, 0), platform::WAIT_OBJECT_0);
  EXPECT_FALSE(device.StatusHit) << "reset at the end of the pass";
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].wParam, static_cast<WPARAM>(dsr));
  EXPECT_EQ(events[1].wParam, static_cast<WPARAM>(dcd));
  platform::CloseHandle(device.DispatchDone);
  device.DispatchDone = platform::INVALID_HANDLE_VALUE;
}

// ---- Timer triggers -------------------------------------------------------------------

TEST(TimerTrigger, FiresOnceOnTheFirstTickPastItsTime) {
  FakeDevice device;
  std::vector<Event> events;
  AddRecorder(device, events, TakeNothing);
  fakeNow = 55 * 1000 + 10;
  const std::int32_t handle = device.AddTimerTrigger(100);  // two ticks
  fakeNow = 55 * 1002 + 54;
  device.TimerPass();
  EXPECT_TRUE(events.empty());
  fakeNow = 55 * 1003;
  device.TimerPass();
  device.TimerPass();
  EXPECT_EQ(events, (std::vector<Event>{{MsgTriggerTimer, static_cast<WPARAM>(handle), Low(device, 0), ""}}));
  EXPECT_EQ(device.ArmTimerTrigger(handle, 0), 0);
  fakeNow = 55 * 1004;
  device.TimerPass();
  EXPECT_EQ(events.size(), 2u);
}

TEST(TimerTrigger, CountsAcrossTheWrapOfTheClock) {
  const std::int32_t last = static_cast<std::int32_t>(0xFFFFFFFFu / 55);
  const struct {
    std::int32_t start, expire, now;
    bool expired;
  } cases[] = {
      {100, 102, 102, false},
      {100, 102, 103, true},
      {last - 1, last + 2, last, false},  // not yet at the wrap
      {last - 1, last + 2, 1, false},     // three ticks after the wrap
      {last - 1, last + 2, 2, true},
      {last, last, 0, true},
      {10, 20, 5, true},  // a whole cycle later
  };
  for (const auto& c : cases) {
    dispatcher::TEventTimer timer;
    timer.StartTick = c.start;
    timer.ExpireTick = c.expire;
    EXPECT_EQ(FakeDevice::TimerExpired(timer, c.now), c.expired)
        << c.start << ".." << c.expire << " at " << c.now;
  }

  FakeDevice device;
  std::vector<Event> events;
  AddRecorder(device, events, TakeNothing);
  fakeNow = 0xFFFFFFFFu - 60;
  device.AddTimerTrigger(110);
  fakeNow = 0xFFFFFFFFu;
  device.TimerPass();
  fakeNow = 54;  // 115 ms on, but only two ticks
  device.TimerPass();
  EXPECT_TRUE(events.empty());
  fakeNow = 55;
  device.TimerPass();
  EXPECT_EQ(events.size(), 1u);
}

// ---- Receivers during a delivery ---------------------------------------------------------

std::vector<Event> procedureEvents;
void RecordProcedure(UINT m, WPARAM w, LPARAM l) { procedureEvents.push_back({m, w, l, ""}); }

TEST(Delivery, ReceiversRemovedMeanwhileAreSkippedAndGoAtTheEnd) {
  procedureEvents.clear();
  FakeDevice device;
  TestWindow a, b;
  std::vector<Event> events;
  std::int32_t self = 0;
  self = device.AddMethodReceiver(
      [&](UINT m, WPARAM w, LPARAM l) {
        events.push_back({m, w, l, ""});
        EXPECT_EQ(device.RemoveProcedureReceiver(&RecordProcedure), 0);
        device.RemoveWindowReceiver(a.handle);
        EXPECT_EQ(device.RemoveMethodReceiver(self), 0);
        EXPECT_EQ(device.MethodReceivers.size(), 1u) << "still listed while delivering";
      },
      false);
  ASSERT_EQ(device.AddProcedureReceiver(&RecordProcedure), 0);
  device.AddWindowReceiver(a.handle);
  device.AddWindowReceiver(b.handle);
  EXPECT_TRUE(device.DeliverEvent(MsgTriggerTimer, 7, 0));
  EXPECT_EQ(events.size(), 1u);
  EXPECT_TRUE(procedureEvents.empty());
  EXPECT_TRUE(a.log.events.empty());
  EXPECT_EQ(b.log.events.size(), 1u) << "two windows were listed: the list is served";
  EXPECT_TRUE(device.MethodReceivers.empty());
  EXPECT_TRUE(device.ProcedureReceivers.empty());
  ASSERT_EQ(device.WindowReceivers.size(), 1u);
  EXPECT_EQ(device.WindowReceivers[0].Window, b.handle);
  EXPECT_FALSE(device.DeliveryWanted.load()) << "one window and nobody listening";
  EXPECT_FALSE(device.Dispatching.load());
}

TEST(Delivery, AProcedureAndASynchronizedMethodAreCalled) {
  procedureEvents.clear();
  FakeDevice device;
  FakeThread thread;
  device.DispThread = &thread;
  std::vector<Event> events;
  AddRecorder(device, events, TakeNothing, true);
  ASSERT_EQ(device.AddProcedureReceiver(&RecordProcedure), 0);
  EXPECT_EQ(device.AddProcedureReceiver(nullptr), errors::ecBadArgument);
  EXPECT_EQ(device.AddMethodReceiver({}, false), errors::ecBadArgument);
  EXPECT_TRUE(device.DeliverEvent(MsgTriggerStatus, 9, 3));
  EXPECT_EQ(thread.synchronizedCalls, 1);
  EXPECT_EQ(events, (std::vector<Event>{{MsgTriggerStatus, 9, Low(device, 3), ""}}));
  EXPECT_EQ(procedureEvents, (std::vector<Event>{{MsgTriggerStatus, 9, Low(device, 3), ""}}));
  device.DispThread = nullptr;
}

TEST(Delivery, ACloseDuringADeliveryEndsItAndThePass) {
  FakeDevice device;
  device.DispatchDone = platform::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::vector<Event> events;
  device.AddMethodReceiver(
      [&](UINT m, WPARAM w, LPARAM l) {
        events.push_back({m, w, l, Take(device, 1)});
        device.CloseLine();
      },
      false);
  AddRecorder(device, events, TakeAnnounced);
  const std::int32_t data = device.AddDataTrigger("b", false);
  ASSERT_GT(data, 0);
  device.SetAvailLength(1);
  device.Receive("abc");
  device.EventPass();
  EXPECT_TRUE(device.ClosePending.load());
  EXPECT_FALSE(device.Dispatching.load());
  EXPECT_EQ(events, (std::vector<Event>{{MsgTriggerAvail, 1, Low(device, 0), "a"}}))
      << "neither the second receiver nor the data event";
  EXPECT_EQ(platform::WaitForSingleObject(device.DispatchDone, 0), platform::WAIT_TIMEOUT);
  device.TimerPass();  // nothing happens after a close
  EXPECT_EQ(events.size(), 1u);
  platform::CloseHandle(device.DispatchDone);
  device.DispatchDone = platform::INVALID_HANDLE_VALUE;
}

TEST(Delivery, AnExceptionInAReceiverStillEndsTheDelivery) {
  FakeDevice device;
  TestWindow window;
  device.AddWindowReceiver(window.handle);
  device.UpdateHandlerFlags(1);
  device.AddMethodReceiver(
      [&](UINT, WPARAM, LPARAM) {
        Take(device, 1);
        device.RemoveWindowReceiver(window.handle);
        throw std::runtime_error("receiver failed");
      },
      false);
  Arrive(device, "ab");
  EXPECT_THROW(device.DeliverEvent(MsgTriggerAvail, 2, 0), std::runtime_error);
  EXPECT_FALSE(device.Dispatching.load());
  EXPECT_TRUE(device.WindowReceivers.empty()) << "the pending removal was made";
  EXPECT_TRUE(window.log.events.empty());
  EXPECT_EQ(Take(device, 2), "b") << "the taken character went; reads are destructive again";
  EXPECT_EQ(device.UnreadCount(), 0);
}

TEST(Delivery, AWindowThatDoesNotAnswerInTimeDoesNotStopTheNext) {
  FakeDevice device;
  HWND stuck = 0;
  platform::HANDLE created = platform::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  platform::HANDLE release = platform::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  // The stuck window's thread never looks at its queue until released.
  platform::HANDLE thread = platform::CreateThread(
      [&] {
        TestWindow window;
        stuck = window.handle;
        platform::SetEvent(created);
        platform::WaitForSingleObject(release, platform::INFINITE);
      },
      nullptr);
  ASSERT_EQ(platform::WaitForSingleObject(created, 10000), platform::WAIT_OBJECT_0);
  TestWindow answering;
  device.AddWindowReceiver(stuck);
  device.AddWindowReceiver(answering.handle);
  EXPECT_TRUE(device.DeliverEvent(MsgTriggerTimer, 1, 0));
  EXPECT_EQ(answering.log.events.size(), 1u);
  platform::SetEvent(release);
  platform::WaitForSingleObject(thread, 10000);
  for (platform::HANDLE h : {thread, created, release}) platform::CloseHandle(h);
}

TEST(Delivery, TheDispatchThreadDeliversToTheWindowsThreadWhileReceiversComeAndGo) {
  constexpr int kLines = 400;
  FakeDevice device(4096, 64);
  device.StartLog(1 << 16);
  TestWindow window;
  std::string received;
  int lines = 0;
  window.log.onMessage = [&] {
    const Event& e = window.log.events.back();
    if (e.message == MsgTriggerData) ++lines;
    if (e.message != MsgTriggerAvail) return;
    std::string chunk(e.wParam, '\0');
    ASSERT_EQ(device.ReadBlock(chunk.data(), static_cast<std::int32_t>(e.wParam)),
              static_cast<ResultCode>(e.wParam));
    received += chunk;
  };
  device.AddWindowReceiver(window.handle);
  device.UpdateHandlerFlags(1);
  device.SetAvailLength(1);
  ASSERT_GT(device.AddDataTrigger("\n", false), 0);

  std::string sent;
  for (int i = 0; i < kLines; ++i) sent += "+" + std::to_string(i * 37) + "E-03\n";
  std::atomic<bool> stop{false};
  std::atomic<bool> stopped{false};
  std::thread dispatch([&] {
    while (!stop) {
      device.EventPass();
      device.TimerPass();
    }
    stopped = true;
  });
  std::size_t fed = 0;
  std::int32_t extra = 0;
  for (int round = 0; received.size() < sent.size() && round < 1000000; ++round) {
    if (fed < sent.size()) {
      const std::size_t n = std::min<std::size_t>(1 + round % 13, sent.size() - fed);
      device.Receive(sent.substr(fed, n));
      fed += n;
    }
    // A receiver on the dispatch thread that takes nothing comes and goes.
    if (round % 7 == 0) {
      if (extra > 0) {
        EXPECT_EQ(device.RemoveMethodReceiver(extra), 0);
        extra = 0;
      } else {
        extra = device.AddMethodReceiver([](UINT, WPARAM, LPARAM) {}, false);
      }
    }
    while (platform::PumpOneMessage()) {
    }
  }
  stop = true;
  while (!stopped) platform::PumpOneMessage();  // a send may still wait for us
  dispatch.join();
  EXPECT_EQ(received, sent);
  EXPECT_EQ(lines, kLines);
}

// ---- Tables, saved sets and the log -------------------------------------------------------

TEST(TriggerTables, SavedSetsComeBackByteForByte) {
  FakeDevice device;
  device.SetAvailLength(4);
  const std::int32_t data = device.AddDataTrigger("OK", true);
  const std::int32_t timer = device.AddTimerTrigger(550);
  const std::int32_t status = device.AddStatusTrigger(dispatcher::StatusOutputUsed, 3);
  device.DataTriggerList[0].MatchSlots[0] = 1;
  dispatcher::TSavedTriggers set;
  device.SaveTriggers(set);
  ASSERT_TRUE(set.DataTriggers && set.TimerTriggers && set.StatusTriggers);

  FakeDevice other;
  other.RestoreTriggers(set);
  EXPECT_EQ(other.AvailLengthValue(), 4u);
  ASSERT_EQ(other.DataTriggerList.size(), 1u);
  EXPECT_EQ(std::memcmp(&other.DataTriggerList[0], &device.DataTriggerList[0], sizeof(dispatcher::TDataTrigger)), 0);
  EXPECT_EQ(std::memcmp(&other.TimerTriggerList[0], &device.TimerTriggerList[0], sizeof(dispatcher::TTimerTrigger)), 0);
  EXPECT_EQ(std::memcmp(&other.StatusTriggerList[0], &device.StatusTriggerList[0], sizeof(dispatcher::TStatusTrigger)), 0);
  const std::int32_t next = other.AddDataTrigger("x", false);
  EXPECT_GT(next, std::max({data, timer, status})) << "no handle is given twice";

  device.ClearTriggerTables();
  EXPECT_EQ(device.AvailLengthValue(), 0u);
  EXPECT_TRUE(device.DataTriggerList.empty() && device.TimerTriggerList.empty() &&
              device.StatusTriggerList.empty());
  EXPECT_EQ(device.AddStatusTrigger(dispatcher::StatusLine, 1), 1 << 3 | 2) << "handles start again";

  set.DataTriggers.reset();
  other.RestoreTriggers(set);
  EXPECT_TRUE(other.DataTriggerList.empty()) << "an absent list restores an empty table";
  EXPECT_EQ(other.TimerTriggerList.size(), 1u);
  dispatcher::TSioBaseDispatcher::DiscardSavedTriggers(set);
  EXPECT_FALSE(set.DataTriggers || set.TimerTriggers || set.StatusTriggers);
}

using TriggerLog = DumpFileTest;

TEST_F(TriggerLog, RegistrationsFiringsAndLengthChangesAreLogged) {
  FakeDevice device;
  device.StartLog(4096);
  fakeNow = device.TimeBase;
  TestWindow window;
  device.AddWindowReceiver(0x1234);
  device.RemoveWindowReceiver(0x1234);
  device.RemoveWindowReceiver(0x1234);  // not found: no entry
  device.AddWindowReceiver(window.handle);
  device.UpdateHandlerFlags(1);
  device.SetAvailLength(2);
  Arrive(device, "ab");
  device.CheckDataTriggers();
  device.AddStatusTrigger(dispatcher::StatusOutputSent, 0);
  device.WriteBlock("z", 1);
  device.CheckStatusTriggers();
  ASSERT_EQ(device.DumpLog(Path("l").c_str(), false, false, false), 0);
  std::istringstream lines(Contents("l"));
  std::vector<std::string> entries;
  for (std::string line; std::getline(lines, line);) {
    if (line.size() > 10 && line[4] == '.') entries.push_back(line.substr(10, 34));
  }
  const std::string win = [&] {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(window.handle));
    return std::string(text);
  }();
  EXPECT_EQ(entries, (std::vector<std::string>{
                         "TrgHdAlc  Window        00001234  ",
                         "TrgHdDsp  Window        00001234  ",
                         "TrgHdAlc  Window        " + win + "  ",
                         "TrDatChg  Avail         00000002  ",
                         "Dispatch  ReadCom       00000002  ",
                         "Trigger   Avail         00000002  ",
                         "TrigAllc  Status        0000000d  ",
                         "Dispatch  WriteCom      00000001  ",
                         "Trigger   Status        0000000d  ",
                     }));
}

}  // namespace
}  // namespace dispatcher_test
