#include "comport/SioLine.h"

#include <algorithm>
#include <array>

#include "errors/SioCodes.h"
#include "platform/handles.h"
#include "platform/last_error.h"
#include "platform/serial.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace comport {

namespace {

using namespace platform;

std::int32_t LastErrorCode() {
  const DWORD error = GetLastError();
  return error == 0 ? -static_cast<std::int32_t>(ERROR_GEN_FAILURE) : -static_cast<std::int32_t>(error);
}

BYTE StopCode(std::uint8_t stopBits, std::uint8_t dataBits) {
  if (dataBits == 5) return ONE5STOPBITS;
  return stopBits >= 2 ? TWOSTOPBITS : ONESTOPBIT;
}

}  // namespace

struct TSioLine::PendingWrite {
  OVERLAPPED overlapped{};
};

TSioLine::TSioLine(std::uint16_t handle) : handle_(handle) {}

TSioLine::~TSioLine() { CloseLine(); }

std::int32_t TSioLine::OpenLine(const std::string& name, const TLineSettings& settings,
                                std::uint16_t inSize, std::uint16_t outSize) {
  CloseLine();
  device_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OVERLAPPED, 0);
  if (device_ == INVALID_HANDLE_VALUE) return LastErrorCode();
  // Reads never wait: the worker and the polling calls take what has come.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  std::int32_t code = 0;
  if (!SetCommTimeouts(device_, &timeouts) || !SetCommMask(device_, EV_RXCHAR))
    code = LastErrorCode();
  if (code == 0) code = SetQueueSizes(inSize, outSize);
  if (code == 0) code = ApplySettings(settings);
  if (code == 0 && !EscapeCommFunction(device_, SETDTR)) code = LastErrorCode();
  if (code == 0 && !EscapeCommFunction(device_, SETRTS)) code = LastErrorCode();
  if (code != 0) {
    CloseHandle(device_);
    device_ = INVALID_HANDLE_VALUE;
    return code;
  }
  stop_.store(false);
  return 0;
}

void TSioLine::CloseLine() {
  if (!IsOpen()) return;
  StopWorker();
  PurgeComm(device_, PURGE_TXABORT | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_RXCLEAR);
  ReapWrites(true);
  {
    std::lock_guard lock(inputMutex_);
    input_.clear();
  }
  CloseHandle(device_);
  device_ = INVALID_HANDLE_VALUE;
}

std::int32_t TSioLine::SetLineSettings(const TLineSettings& settings) {
  if (!IsOpen()) return errors::ecCommNotOpen;
  return ApplySettings(settings);
}

std::int32_t TSioLine::ApplySettings(const TLineSettings& settings) {
  DCB dcb{};
  if (!GetCommState(device_, &dcb)) return LastErrorCode();
  dcb.BaudRate = static_cast<DWORD>(settings.baud);
  dcb.ByteSize = settings.dataBits;
  dcb.Parity = settings.parity;
  dcb.StopBits = StopCode(settings.stopBits, settings.dataBits);
  dcb.Flags |= DCB_fBinary;
  if (settings.parity != NOPARITY)
    dcb.Flags |= DCB_fParity;
  else
    dcb.Flags &= ~DCB_fParity;
  if (!SetCommState(device_, &dcb)) return LastErrorCode();
  return 0;
}

std::int32_t TSioLine::SetQueueSizes(std::uint16_t inSize, std::uint16_t outSize) {
  if (!IsOpen()) return errors::ecCommNotOpen;
  if (!SetupComm(device_, inSize, outSize)) return LastErrorCode();
  outSize_ = outSize;
  return 0;
}

std::int32_t TSioLine::WriteBlock(const void* block, std::uint16_t len) {
  if (!IsOpen()) return errors::ecCommNotOpen;
  if (len == 0) return 0;
  ReapWrites(false);
  COMSTAT status{};
  if (!ClearCommError(device_, nullptr, &status)) return LastErrorCode();
  if (status.cbOutQue + len > outSize_) return errors::ecOutputBufferTooSmall;
  auto write = std::make_unique<PendingWrite>();
  if (!WriteFile(device_, block, len, nullptr, &write->overlapped) &&
      GetLastError() != ERROR_IO_PENDING)
    return LastErrorCode();
  writes_.push_back(std::move(write));
  return 0;
}

void TSioLine::ReapWrites(bool wait) {
  while (!writes_.empty()) {
    DWORD done = 0;
    if (!GetOverlappedResult(device_, &writes_.front()->overlapped, &done, wait ? TRUE : FALSE) &&
        GetLastError() == ERROR_IO_INCOMPLETE)
      return;
    writes_.pop_front();
  }
}

std::size_t TSioLine::TakeIntoBuffer() {
  std::array<std::uint8_t, 256> chunk{};
  std::size_t total = 0;
  while (true) {
    DWORD got = 0;
    if (!ReadFile(device_, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) || got == 0)
      break;
    total += got;
    const std::size_t room = kInputBufferSize - std::min(input_.size(), kInputBufferSize);
    input_.insert(input_.end(), chunk.begin(), chunk.begin() + std::min<std::size_t>(got, room));
  }
  return total;
}

void TSioLine::DrainDevice() {
  std::lock_guard lock(inputMutex_);
  TakeIntoBuffer();
}

bool TSioLine::CharAvailable() { return InCount() > 0; }

std::size_t TSioLine::InCount() {
  if (!IsOpen()) return 0;
  std::lock_guard lock(inputMutex_);
  TakeIntoBuffer();
  return input_.size();
}

std::int32_t TSioLine::ReadChar(char& c) {
  if (!IsOpen()) return errors::ecCommNotOpen;
  std::lock_guard lock(inputMutex_);
  if (input_.empty()) TakeIntoBuffer();
  if (input_.empty()) return errors::ecBufferIsEmpty;
  c = static_cast<char>(input_.front());
  input_.pop_front();
  return 0;
}

std::int32_t TSioLine::ReadBlock(void* block, std::uint16_t len) {
  if (!IsOpen()) return errors::ecCommNotOpen;
  std::lock_guard lock(inputMutex_);
  if (input_.size() < len) TakeIntoBuffer();
  if (input_.size() < len) return errors::ecBufferIsEmpty;
  auto* out = static_cast<std::uint8_t*>(block);
  std::copy_n(input_.begin(), len, out);
  input_.erase(input_.begin(), input_.begin() + len);
  return len;
}

std::int32_t TSioLine::FlushInput() {
  if (!IsOpen()) return errors::ecCommNotOpen;
  // Under the buffer's lock, so that the worker cannot put back characters
  // it took from the device just before the purge.
  std::lock_guard lock(inputMutex_);
  const BOOL purged = PurgeComm(device_, PURGE_RXABORT | PURGE_RXCLEAR);
  input_.clear();
  return purged ? 0 : LastErrorCode();
}

std::int32_t TSioLine::FlushOutput() {
  if (!IsOpen()) return errors::ecCommNotOpen;
  const BOOL purged = PurgeComm(device_, PURGE_TXABORT | PURGE_TXCLEAR);
  const std::int32_t code = purged ? 0 : LastErrorCode();
  ReapWrites(true);
  return code;
}

bool TSioLine::AddWindowReceiver(HWND window) {
  if (!IsOpen() || worker_ != 0) return false;
  window_ = window;
  stop_.store(false);
  worker_ = CreateThread([this] { RunWorker(); }, nullptr);
  return worker_ != 0;
}

void TSioLine::RemoveWindowReceiver() {
  StopWorker();
  window_ = 0;
}

void TSioLine::RequestStop() {
  stop_.store(true);
  // An empty mask ends the worker's pending wait for events.
  if (IsOpen()) SetCommMask(device_, 0);
}

bool TSioLine::ThreadsStarted() const {
  return worker_ != 0 && WaitForSingleObject(worker_, 0) != WAIT_OBJECT_0;
}

void TSioLine::StopWorker() {
  if (worker_ == 0) return;
  RequestStop();
  // The worker may be waiting for this very thread to take a trigger
  // message: serve sent messages until it has ended.
  while (MsgWaitForMultipleObjects(1, &worker_, FALSE, INFINITE, QS_SENDMESSAGE) != WAIT_OBJECT_0) {
    MSG msg;
    PeekMessageA(&msg, 0, 0, 0, PM_NOREMOVE);
  }
  CloseHandle(worker_);
  worker_ = 0;
  if (IsOpen()) SetCommMask(device_, EV_RXCHAR);
}

void TSioLine::RunWorker() {
  // Characters that came before the event mask was set raise no event.
  DrainDevice();
  while (!stop_.load()) {
    if (listening_.load()) {
      std::size_t count = 0;
      {
        std::lock_guard lock(inputMutex_);
        count = input_.size();
      }
      if (count > 0 && !stop_.load()) {
        DWORD_PTR result = 0;
        SendMessageTimeoutA(window_, MsgTriggerAvail, std::min<std::size_t>(count, 0xFFFF),
                            static_cast<LPARAM>(handle_) << 16, SMTO_NORMAL, kTriggerSendLimitMs,
                            &result);
      }
    }
    if (stop_.load()) break;
    DWORD events = 0;
    OVERLAPPED overlapped{};
    if (!WaitCommEvent(device_, &events, &overlapped)) {
      DWORD ignored = 0;
      if (GetLastError() != ERROR_IO_PENDING ||
          !GetOverlappedResult(device_, &overlapped, &ignored, TRUE))
        break;  // the device is gone or the mask was cleared for good
    }
    if (stop_.load()) break;
    DrainDevice();
  }
}

}  // namespace comport
