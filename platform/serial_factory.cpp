// What CreateFileA shares on every system: the test factory, the control
// block a port starts with, and the port object around a fake device.
#include <atomic>

#include "platform/serial_backend.h"
#include "platform/serial_port.h"

namespace platform {

namespace {

std::atomic<SerialBackendFactory>& TestFactorySlot() {
  static std::atomic<SerialBackendFactory> slot{nullptr};
  return slot;
}

}  // namespace

void SetTestSerialFactory(SerialBackendFactory factory) {
  TestFactorySlot().store(factory, std::memory_order_release);
}

SerialBackendFactory TestSerialFactory() { return TestFactorySlot().load(std::memory_order_acquire); }

DCB DefaultControlBlock() {
  DCB dcb;
  dcb.BaudRate = 9600;
  dcb.Flags = DCB_fBinary | DCB_fDtrControlEnable | DCB_fRtsControlEnable;
  dcb.XonLim = 2048;
  dcb.XoffLim = 512;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  return dcb;
}

HANDLE RegisterSerialPort(std::unique_ptr<SerialBackend> backend, DWORD flagsAndAttributes) {
  auto port = std::make_shared<SerialPort>(
      std::move(backend), (flagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0, DefaultControlBlock());
  port->Start();
  return RegisterHandle(std::move(port));
}

}  // namespace platform
