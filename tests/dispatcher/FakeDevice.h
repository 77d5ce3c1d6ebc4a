// A scripted device under the base dispatcher: received bytes wait in a
// queue until the fill step reads them; writes go into the output ring the
// way the real device layer puts them there; errors, modem lines, short and
// failing reads and refused writes are set by the test.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "dispatcher/SioDispatch.h"

namespace dispatcher_test {

using platform::BYTE;
using platform::DWORD;
using errors::ResultCode;

inline std::atomic<DWORD> fakeNow{0};
inline DWORD FakeClock() { return fakeNow.load(); }

class FakeThread : public dispatcher::TSioDispatcherThread {
 public:
  void SetPriorityStep(int step) override { steps.push_back(step); }
  void SynchronizedCall(platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam,
                        const dispatcher::TTriggerMethod& method) override {
    ++synchronizedCalls;
    method(message, wParam, lParam);
  }
  int synchronizedCalls = 0;
  std::vector<int> steps;
};

class FakeDevice : public dispatcher::TSioBaseDispatcher {
 public:
  explicit FakeDevice(DWORD inQueue = 64, DWORD outQueue = 64) : TSioBaseDispatcher(nullptr) {
    AllocateBuffers(inQueue, outQueue);
    DeviceHandle = 1;
    SetClock(&FakeClock);
    ResetRecorders();
  }
  ~FakeDevice() override { CloseForDestruction(); }

  // ---- Script ----
  void Receive(const std::vector<BYTE>& bytes) {
    std::lock_guard guard(mutex);
    pending.insert(pending.end(), bytes.begin(), bytes.end());
  }
  void Receive(std::string_view text) { Receive(std::vector<BYTE>(text.begin(), text.end())); }
  std::size_t Pending() {
    std::lock_guard guard(mutex);
    return pending.size();
  }
  void AddErrors(DWORD bits) {
    std::lock_guard guard(mutex);
    errorBits |= bits;
  }
  // What the output thread would do: send n queued bytes.
  void Drain(std::int32_t n) {
    platform::CriticalSectionLock guard(OutputLock);
    for (std::int32_t i = 0; i < n; ++i) {
      sent.push_back(OutRing[OutTail]);
      OutTail = (OutTail + 1) % static_cast<std::int32_t>(OutQueueSize);
      OutFull = false;
    }
  }

  std::mutex mutex;  // guards the script state below
  std::deque<BYTE> pending;
  DWORD errorBits = 0;
  std::int32_t readLimit = -1;  // most a read returns; -1 none
  int failReads = 0;            // the next reads that return -1
  bool failWrites = false;
  ResultCode purgeResult = 0;
  DWORD modemStatus = 0;
  std::vector<std::int32_t> readRequests;
  std::vector<std::int32_t> purges;
  int clearEventCalls = 0;
  std::vector<BYTE> sent;

  // ---- Device operations ----
  ResultCode DeviceEscape(DWORD) override { return 0; }
  ResultCode DevicePurge(std::int32_t queue) override {
    std::lock_guard guard(mutex);
    purges.push_back(queue);
    if (queue != 0) pending.clear();
    return purgeResult;
  }
  DWORD DeviceGetErrors(platform::COMSTAT& status) override {
    // Output lock first, as the real device layer's status read does.
    platform::CriticalSectionLock out(OutputLock);
    std::lock_guard guard(mutex);
    status.cbInQue = static_cast<DWORD>(pending.size());
    const DWORD bits = errorBits;
    errorBits = 0;
    if (OutFull) status.cbOutQue = OutQueueSize;
    else if (OutTail <= OutHead) status.cbOutQue = OutHead - OutTail;
    else status.cbOutQue = OutQueueSize + OutHead - OutTail;
    return bits;
  }
  ResultCode DeviceClearEvents(std::int32_t) override {
    ++clearEventCalls;
    return 0;
  }
  ResultCode DeviceGetState(platform::DCB&) override { return 0; }
  std::int32_t DeviceRead(void* buffer, std::int32_t count) override {
    std::lock_guard guard(mutex);
    readRequests.push_back(count);
    if (failReads > 0) {
      --failReads;
      return -1;
    }
    std::int32_t n = std::min<std::int32_t>(count, static_cast<std::int32_t>(pending.size()));
    if (readLimit >= 0) n = std::min(n, readLimit);
    std::copy_n(pending.begin(), n, static_cast<BYTE*>(buffer));
    pending.erase(pending.begin(), pending.begin() + n);
    return n;
  }
  ResultCode DeviceSetState(platform::DCB&) override { return 0; }
  std::int32_t DeviceWrite(const void* buffer, std::int32_t count) override {
    if (failWrites) return 0;
    platform::CriticalSectionLock guard(OutputLock);
    const auto* bytes = static_cast<const BYTE*>(buffer);
    for (std::int32_t i = 0; i < count; ++i) {
      OutRing[OutHead] = bytes[i];
      OutHead = (OutHead + 1) % static_cast<std::int32_t>(OutQueueSize);
    }
    return count;
  }
  bool DeviceWaitEvent(DWORD&, platform::OVERLAPPED&) override { return false; }
  bool DeviceSetupQueues(DWORD, DWORD) override { return true; }
  void StartThreads() override {}
  void StopThreads() override {}
  platform::HANDLE DeviceOpen(const char*, DWORD, DWORD) override { return 1; }
  ResultCode DeviceClose() override {
    DeviceHandle = -1;
    return 0;
  }
  ResultCode DeviceIdle() override { return 0; }
  DWORD DeviceModemStatus() override { return modemStatus; }

  // ---- Inside views for the tests ----
  using TSioBaseDispatcher::AllocateBuffers;
  using TSioBaseDispatcher::BeginDelivery;
  using TSioBaseDispatcher::BeginReceiverTakes;
  using TSioBaseDispatcher::ComThread;
  using TSioBaseDispatcher::DataTriggerList;
  using TSioBaseDispatcher::DispThread;
  using TSioBaseDispatcher::EndDelivery;
  using TSioBaseDispatcher::EndReceiverTakes;
  using TSioBaseDispatcher::InHead;
  using TSioBaseDispatcher::InputFull;
  using TSioBaseDispatcher::InRing;
  using TSioBaseDispatcher::InTail;
  using TSioBaseDispatcher::LineErrorBits;
  using TSioBaseDispatcher::LogRing;
  using TSioBaseDispatcher::ModemBits;
  using TSioBaseDispatcher::OutFull;
  using TSioBaseDispatcher::OutputSent;
  using TSioBaseDispatcher::OutThread;
  using TSioBaseDispatcher::RingSeen;
  using TSioBaseDispatcher::Rs485Active;
  using TSioBaseDispatcher::TraceBuffer;
  using TSioBaseDispatcher::TraceCapacity;
  using TSioBaseDispatcher::TimeBase;
  using TSioBaseDispatcher::Dispatching;
  using TSioBaseDispatcher::ClosePending;
  using TSioBaseDispatcher::ResetRecorders;
  // Triggers.
  using TSioBaseDispatcher::AvailNotifyPos;
  using TSioBaseDispatcher::CheckDataTriggers;
  using TSioBaseDispatcher::CheckStatusTriggers;
  using TSioBaseDispatcher::CheckTimerTriggers;
  using TSioBaseDispatcher::ComponentListening;
  using TSioBaseDispatcher::CountThrough;
  using TSioBaseDispatcher::DataScanPos;
  using TSioBaseDispatcher::DeliverEvent;
  using TSioBaseDispatcher::DeliveryWanted;
  using TSioBaseDispatcher::DispatchDone;
  using TSioBaseDispatcher::EventWord;
  using TSioBaseDispatcher::MatchDataChar;
  using TSioBaseDispatcher::MethodReceivers;
  using TSioBaseDispatcher::ProcedureReceivers;
  using TSioBaseDispatcher::StatusHit;
  using TSioBaseDispatcher::StatusTriggerList;
  using TSioBaseDispatcher::TimerExpired;
  using TSioBaseDispatcher::TimerTriggerList;
  using TSioBaseDispatcher::WindowReceivers;
};

}  // namespace dispatcher_test
