// The device operations of TSioWin32Dispatcher over the platform's serial
// functions.
#include "device/SioWin32.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/last_error.h"
#include "platform/serial.h"

namespace device {

using platform::BOOL;
using platform::BYTE;
using platform::DWORD;
using platform::HANDLE;

namespace {

void CloseEvent(std::atomic<HANDLE>& event) {
  const HANDLE handle = event.exchange(0);
  if (handle != 0) platform::CloseHandle(handle);
}

ResultCode LastErrorCode() { return -static_cast<ResultCode>(platform::GetLastError()); }

}  // namespace

TSioWin32Dispatcher::TSioWin32Dispatcher(comport::TSioCustomComPort* owner)
    : TSioBaseDispatcher(owner) {}

TSioWin32Dispatcher::~TSioWin32Dispatcher() {
  CloseForDestruction();
  // A close finished by the dispatch thread leaves that thread's object
  // behind (a thread cannot join itself); every worker has ended or is
  // ending by now.
  std::unique_lock lock(DispatchLock);
  OwnedThread threads[] = {std::move(OutThreadObject), std::move(ComThreadObject),
                           std::move(DispThreadObject)};
  lock.unlock();
  for (OwnedThread& thread : threads) thread.reset();
}

ResultCode TSioWin32Dispatcher::OpenPort(int comNumber, DWORD baud, std::int32_t parity,
                                         std::int32_t dataBits, std::int32_t stopBits,
                                         DWORD inSize, DWORD outSize, DWORD options) {
  const std::string name = "\\\\.\\COM" + std::to_string(comNumber);
  return OpenLine(name.c_str(), baud, parity, dataBits, stopBits, inSize, outSize, options);
}

// ---- Open and close ----------------------------------------------------------------

HANDLE TSioWin32Dispatcher::DeviceOpen(const char* name, DWORD, DWORD) {
  const HANDLE device = platform::CreateFileA(
      name, platform::GENERIC_READ | platform::GENERIC_WRITE, 0, nullptr, platform::OPEN_EXISTING,
      platform::FILE_FLAG_OVERLAPPED | platform::FILE_ATTRIBUTE_NORMAL, 0);
  if (device == platform::INVALID_HANDLE_VALUE) return -1;
  DeviceHandle.store(device);
  ReadEvent.store(platform::CreateEventA(nullptr, platform::TRUE, platform::FALSE, nullptr));
  SpareEvent.store(platform::CreateEventA(nullptr, platform::TRUE, platform::FALSE, nullptr));
  if (ReadEvent.load() == 0 || SpareEvent.load() == 0) {
    CloseEvent(ReadEvent);
    CloseEvent(SpareEvent);
    platform::CloseHandle(device);
    DeviceHandle.store(-1);
    return errors::ecOutOfMemory;
  }
  return device;
}

ResultCode TSioWin32Dispatcher::DeviceClose() {
  CloseEvent(ReadEvent);
  CloseEvent(SpareEvent);
  const HANDLE device = DeviceHandle.load();
  if (ThreadsStarted.load()) {
    // Only tells the workers to end; waiting for them is the stop's work.
    StopRequested.store(true);
    platform::SetCommMask(device, 0);
    platform::SetEvent(DispatchDone.load());
    platform::ResetEvent(ThreadAck.load());
  }
  if (!platform::CloseHandle(device)) return -1;
  DeviceHandle.store(-1);
  return errors::ecOK;
}

// ---- Settings and status -------------------------------------------------------------

ResultCode TSioWin32Dispatcher::DeviceEscape(DWORD code) {
  platform::EscapeCommFunction(DeviceHandle.load(), code);
  return errors::ecOK;
}

bool TSioWin32Dispatcher::DeviceSetupQueues(DWORD inSize, DWORD outSize) {
  return platform::SetupComm(DeviceHandle.load(), inSize, outSize) != 0;
}

ResultCode TSioWin32Dispatcher::DeviceGetState(platform::DCB& state) {
  platform::DCB read;
  if (!platform::GetCommState(DeviceHandle.load(), &read)) return -1;
  state = read;
  return errors::ecOK;
}

ResultCode TSioWin32Dispatcher::DeviceSetState(platform::DCB& state) {
  if (platform::SetCommState(DeviceHandle.load(), &state)) return errors::ecOK;
  return LastErrorCode();
}

DWORD TSioWin32Dispatcher::DeviceModemStatus() {
  DWORD status = 0;
  if (!platform::GetCommModemStatus(DeviceHandle.load(), &status)) return 0;
  return status;
}

DWORD TSioWin32Dispatcher::DeviceGetErrors(platform::COMSTAT& status) {
  DWORD errors = 0;
  status = platform::COMSTAT{};
  if (!platform::ClearCommError(DeviceHandle.load(), &errors, &status)) errors = 0;
  // The device only ever holds what the output thread handed it; what the
  // caller wants to know is what is still queued here.
  platform::CriticalSectionLock guard(OutputLock);
  if (OutFull) {
    status.cbOutQue = OutQueueSize;
  } else if (OutTail < OutHead) {
    status.cbOutQue = static_cast<DWORD>(OutHead - OutTail);
  } else if (OutHead < OutTail) {
    status.cbOutQue = OutQueueSize + static_cast<DWORD>(OutHead - OutTail);
  } else {
    status.cbOutQue = 0;
  }
  return errors;
}

ResultCode TSioWin32Dispatcher::DeviceClearEvents(std::int32_t) { return errors::ecOK; }

ResultCode TSioWin32Dispatcher::DeviceIdle() {
  platform::Sleep(0);
  return errors::ecOK;
}

// ---- Data ------------------------------------------------------------------------------

std::int32_t TSioWin32Dispatcher::DeviceRead(void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  ReadOverlapped = platform::OVERLAPPED{};
  ReadOverlapped.hEvent = ReadEvent.load();
  const HANDLE device = DeviceHandle.load();
  DWORD read = 0;
  if (platform::ReadFile(device, buffer, static_cast<DWORD>(count), &read, &ReadOverlapped)) {
    return static_cast<std::int32_t>(read);
  }
  if (platform::GetLastError() != platform::ERROR_IO_PENDING) return 0;
  if (!platform::GetOverlappedResult(device, &ReadOverlapped, &read, platform::TRUE)) return 0;
  platform::ResetEvent(ReadOverlapped.hEvent);
  return static_cast<std::int32_t>(read);
}

std::int32_t TSioWin32Dispatcher::DeviceWrite(const void* buffer, std::int32_t count) {
  const std::int32_t queued = count;
  {
    platform::CriticalSectionLock guard(OutputLock);
    if (!OutRing || count <= 0) return 0;
    auto* bytes = static_cast<const BYTE*>(buffer);
    // With nothing queued here, nothing of the output thread's is under way
    // either: what the device takes at once goes to it from this thread,
    // which spares a paced exchange the output thread's wake-up. The rest
    // queues behind it, and the device never lets it overtake a pending
    // write.
    if (OutHead == OutTail && !OutFull) {
      DWORD taken = 0;
      if (platform::WriteFileNow(DeviceHandle.load(), bytes, static_cast<DWORD>(count), &taken)) {
        taken = std::min<DWORD>(taken, static_cast<DWORD>(count));
        bytes += taken;
        count -= static_cast<std::int32_t>(taken);
        if (count == 0) return queued;
      }
    }
    const std::int32_t room = static_cast<std::int32_t>(OutQueueSize) - OutHead;
    if (room < count) {
      std::memcpy(OutRing.get() + OutHead, bytes, room);
      std::memcpy(OutRing.get(), bytes + room, count - room);
      OutHead = count - room;
    } else {
      std::memcpy(OutRing.get() + OutHead, bytes, count);
      OutHead = room == count ? 0 : OutHead + count;
    }
  }
  platform::SetEvent(OutputReady.load());
  return queued;
}

bool TSioWin32Dispatcher::DeviceWaitEvent(DWORD& eventWord, platform::OVERLAPPED& overlapped) {
  return platform::WaitCommEvent(DeviceHandle.load(), &eventWord, &overlapped) != 0;
}

ResultCode TSioWin32Dispatcher::DevicePurge(std::int32_t queue) {
  const HANDLE device = DeviceHandle.load();
  if (queue != 0) {
    if (platform::PurgeComm(device, platform::PURGE_RXABORT | platform::PURGE_RXCLEAR) == 1) {
      return errors::ecOK;
    }
    return LastErrorCode();
  }
  HANDLE outThread = 0;
  {
    platform::CriticalSectionLock guard(DispatchLock);
    if (OutThread != nullptr && OutThreadObject) outThread = OutThreadObject->Handle();
  }
  if (outThread != 0) {
    // The output thread drops the write in progress and says so; only then
    // may the ring be reset under it. Its end counts as an answer too, so a
    // thread that died cannot leave the purge waiting.
    const std::uint32_t answered = FlushesAnswered.load();
    const HANDLE ack = ThreadAck.load();
    platform::ResetEvent(ack);
    platform::SetEvent(OutputFlush.load());
    const HANDLE answers[2] = {ack, outThread};
    while (FlushesAnswered.load() == answered &&
           platform::WaitForMultipleObjects(2, answers, platform::FALSE, platform::INFINITE) ==
               platform::WAIT_OBJECT_0) {
    }
  }
  platform::CriticalSectionLock guard(OutputLock);
  OutFull = false;
  OutHead = 0;
  OutTail = 0;
  if (platform::PurgeComm(device, platform::PURGE_TXABORT | platform::PURGE_TXCLEAR) == 1) {
    return errors::ecOK;
  }
  return LastErrorCode();
}

void TSioWin32Dispatcher::ReportThreadException(std::exception_ptr error) {
  if (OnThreadException) {
    OnThreadException(error);
    return;
  }
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Serial worker thread ended by an exception: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Serial worker thread ended by an unknown exception\n");
  }
}

}  // namespace device
