#include "platform/serial_fake.h"

#include <condition_variable>
#include <map>
#include <thread>

#include "platform/serial.h"

namespace platform {

namespace {

// The in-process registry of fake devices by COM number.
struct Registry {
  std::mutex mutex;
  std::map<int, std::shared_ptr<FakeSerialDevice>> devices;
};

Registry& Devices() {
  static Registry registry;
  return registry;
}

}  // namespace

// The back end of one open fake port. Its only thread services read
// time-outs: it sleeps until the port's next deadline or until told that
// the deadline moved, so an idle port wakes nobody.
class FakeSerialBackend final : public SerialBackend {
 public:
  explicit FakeSerialBackend(std::shared_ptr<FakeSerialDevice> device)
      : device_(std::move(device)) {}
  ~FakeSerialBackend() override { Stop(); }

  void Start(std::weak_ptr<SerialEvents> events) override {
    {
      std::lock_guard lock(device_->mutex_);
      device_->sink_ = events;
    }
    events_ = std::move(events);
    timer_ = std::thread([this] { RunTimer(); });
  }

  void Stop() override {
    {
      std::lock_guard lock(timerMutex_);
      if (stopped_) return;
      stopped_ = true;
    }
    timerWake_.notify_all();
    if (timer_.joinable()) {
      if (timer_.get_id() == std::this_thread::get_id()) {
        timer_.detach();
      } else {
        timer_.join();
      }
    }
    std::lock_guard lock(device_->mutex_);
    device_->sink_.reset();
    device_->open_ = false;
  }

  DWORD ApplyState(const DCB& dcb) override {
    std::lock_guard lock(device_->mutex_);
    device_->states_.push_back(dcb);
    return device_->stateError_;
  }

  DWORD ApplyEventMask(DWORD mask) override {
    std::lock_guard lock(device_->mutex_);
    device_->masks_.push_back(mask);
    return device_->refuseRingTe_ && (mask & EV_RINGTE) ? ERROR_INVALID_PARAMETER : 0;
  }

  DWORD Transmit(std::span<const BYTE> data, std::size_t& accepted) override {
    std::lock_guard lock(device_->mutex_);
    accepted = 0;
    if (device_->failPending_ != 0 && device_->failingThread_ == std::this_thread::get_id()) {
      return device_->failPending_;
    }
    if (!device_->releasing_) {
      if (device_->writeMode_ == FakeSerialDevice::WriteMode::kFailAtOnce) {
        return device_->writeError_;
      }
      if (device_->writeMode_ == FakeSerialDevice::WriteMode::kPend) return 0;
    }
    device_->written_.append(data.begin(), data.end());
    accepted = data.size();
    return 0;
  }

  void WatchWritable(bool) override {}

  DWORD Purge(DWORD flags) override {
    std::lock_guard lock(device_->mutex_);
    device_->purges_.push_back(flags);
    return device_->purgeError_;
  }

  DWORD Escape(DWORD function) override {
    std::lock_guard lock(device_->mutex_);
    device_->escapes_.push_back(function);
    switch (function) {
      case SETRTS: device_->rts_ = true; return 0;
      case CLRRTS: device_->rts_ = false; return 0;
      case SETDTR: device_->dtr_ = true; return 0;
      case CLRDTR: device_->dtr_ = false; return 0;
      case SETXOFF: case SETXON: case SETBREAK: case CLRBREAK: return 0;
      default: return ERROR_INVALID_PARAMETER;
    }
  }

  DWORD ModemStatus(DWORD& status) override {
    std::lock_guard lock(device_->mutex_);
    status = device_->lines_;
    return 0;
  }

  DWORD OutputQueued() override { return 0; }

  void DeadlineChanged() override {
    {
      std::lock_guard lock(timerMutex_);
      deadlineMoved_ = true;
    }
    timerWake_.notify_all();
  }

 private:
  void RunTimer() {
    for (;;) {
      // The port is asked without the timer's lock (it calls DeadlineChanged
      // with its own lock held) and not kept alive across the sleep.
      std::optional<std::chrono::steady_clock::time_point> next;
      if (auto events = events_.lock()) next = events->NextDeadline();
      {
        std::unique_lock lock(timerMutex_);
        auto woken = [&] { return stopped_ || deadlineMoved_; };
        if (next) {
          timerWake_.wait_until(lock, *next, woken);
        } else {
          timerWake_.wait(lock, woken);
        }
        if (stopped_) return;
        deadlineMoved_ = false;
      }
      if (auto events = events_.lock()) events->ServiceDeadlines();
    }
  }

  const std::shared_ptr<FakeSerialDevice> device_;
  std::weak_ptr<SerialEvents> events_;  // written by Start before the thread runs
  std::thread timer_;
  std::mutex timerMutex_;  // guards stopped_ and deadlineMoved_
  std::condition_variable timerWake_;
  bool stopped_ = false;
  bool deadlineMoved_ = false;
};

std::unique_ptr<SerialBackend> OpenFakeSerial(int comNumber, DWORD& error) {
  std::shared_ptr<FakeSerialDevice> device;
  {
    Registry& registry = Devices();
    std::lock_guard lock(registry.mutex);
    auto it = registry.devices.find(comNumber);
    if (it == registry.devices.end()) {
      error = 0;
      return nullptr;
    }
    device = it->second;
  }
  std::lock_guard lock(device->mutex_);
  error = device->vanished_ ? ERROR_FILE_NOT_FOUND
          : device->open_   ? ERROR_SHARING_VIOLATION
                            : device->openError_;
  if (error != 0) return nullptr;
  device->open_ = true;
  return std::make_unique<FakeSerialBackend>(device);
}

std::shared_ptr<FakeSerialDevice> FakeSerialDevice::Register(int comNumber) {
  std::shared_ptr<FakeSerialDevice> device(new FakeSerialDevice());
  SetTestSerialFactory(&OpenFakeSerial);
  Registry& registry = Devices();
  std::lock_guard lock(registry.mutex);
  registry.devices[comNumber] = device;
  return device;
}

void FakeSerialDevice::Unregister(int comNumber) {
  Registry& registry = Devices();
  std::lock_guard lock(registry.mutex);
  registry.devices.erase(comNumber);
}

std::shared_ptr<SerialEvents> FakeSerialDevice::Sink() const {
  std::lock_guard lock(mutex_);
  return sink_.lock();
}

void FakeSerialDevice::SetOpenError(DWORD error) {
  std::lock_guard lock(mutex_);
  openError_ = error;
}

bool FakeSerialDevice::IsOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

void FakeSerialDevice::InjectReceived(std::string_view bytes) {
  InjectReceived(std::span(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size()));
}

void FakeSerialDevice::InjectReceived(std::span<const BYTE> bytes) {
  InjectMarked(bytes, {}, 0);
}

void FakeSerialDevice::InjectMarked(std::span<const BYTE> bytes,
                                    std::span<const std::size_t> marked, DWORD lineErrors) {
  if (auto sink = Sink()) sink->DeliverInput(bytes, marked, lineErrors);
}

void FakeSerialDevice::InjectLineErrors(DWORD lineErrors) { InjectMarked({}, {}, lineErrors); }

void FakeSerialDevice::InjectBreak() { InjectMarked({}, {}, CE_BREAK); }

void FakeSerialDevice::SetModemStatus(DWORD status) {
  DWORD events = 0;
  {
    std::lock_guard lock(mutex_);
    const DWORD changed = lines_ ^ status;
    if (changed & MS_CTS_ON) events |= EV_CTS;
    if (changed & MS_DSR_ON) events |= EV_DSR;
    if (changed & MS_RLSD_ON) events |= EV_RLSD;
    if (changed & MS_RING_ON) events |= (status & MS_RING_ON) ? EV_RING : EV_RINGTE;
    lines_ = status;
  }
  if (auto sink = Sink(); sink && events != 0) sink->DeliverEvents(events);
}

void FakeSerialDevice::Ring() {
  DWORD lines = 0;
  {
    std::lock_guard lock(mutex_);
    lines = lines_ & ~MS_RING_ON;
  }
  SetModemStatus(lines | MS_RING_ON);
  SetModemStatus(lines);
}

void FakeSerialDevice::Vanish() {
  {
    std::lock_guard lock(mutex_);
    vanished_ = true;
  }
  if (auto sink = Sink()) sink->Vanished();
}

void FakeSerialDevice::SetWriteMode(WriteMode mode, DWORD error) {
  std::lock_guard lock(mutex_);
  writeMode_ = mode;
  writeError_ = error;
}

void FakeSerialDevice::CompletePendingWrites() {
  {
    std::lock_guard lock(mutex_);
    releasing_ = true;
  }
  if (auto sink = Sink()) sink->Writable();
  std::lock_guard lock(mutex_);
  releasing_ = false;
}

void FakeSerialDevice::FailPendingWrites(DWORD error) {
  {
    std::lock_guard lock(mutex_);
    failPending_ = error != 0 ? error : ERROR_GEN_FAILURE;
    failingThread_ = std::this_thread::get_id();
  }
  if (auto sink = Sink()) sink->Writable();
  std::lock_guard lock(mutex_);
  failPending_ = 0;
  failingThread_ = {};
}

std::string FakeSerialDevice::Written() const {
  std::lock_guard lock(mutex_);
  return written_;
}

void FakeSerialDevice::ClearWritten() {
  std::lock_guard lock(mutex_);
  written_.clear();
}

void FakeSerialDevice::RefuseRingTrailingEdge(bool refuse) {
  std::lock_guard lock(mutex_);
  refuseRingTe_ = refuse;
}

void FakeSerialDevice::FailPurges(DWORD error) {
  std::lock_guard lock(mutex_);
  purgeError_ = error;
}

void FakeSerialDevice::FailSetState(DWORD error) {
  std::lock_guard lock(mutex_);
  stateError_ = error;
}

std::vector<DCB> FakeSerialDevice::StatesSet() const {
  std::lock_guard lock(mutex_);
  return states_;
}

std::vector<DWORD> FakeSerialDevice::EventMasks() const {
  std::lock_guard lock(mutex_);
  return masks_;
}

std::vector<DWORD> FakeSerialDevice::Escapes() const {
  std::lock_guard lock(mutex_);
  return escapes_;
}

std::vector<DWORD> FakeSerialDevice::Purges() const {
  std::lock_guard lock(mutex_);
  return purges_;
}

bool FakeSerialDevice::Dtr() const {
  std::lock_guard lock(mutex_);
  return dtr_;
}

bool FakeSerialDevice::Rts() const {
  std::lock_guard lock(mutex_);
  return rts_;
}

}  // namespace platform
