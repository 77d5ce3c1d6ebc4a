// Speed of the dispatcher's character I/O, the fill step, the recorders and
// the two dump files, against a device that answers from memory at once.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>

#include "dispatcher/SioDispatch.h"
#include "errors/SioStrRes.h"

namespace {

using platform::BYTE;
using platform::DWORD;
using errors::ResultCode;

// Received data is always waiting; writes go into the output ring the way
// the device layer puts them there, and a drain empties it at once.
class BenchDevice : public dispatcher::TSioBaseDispatcher {
 public:
  explicit BenchDevice(DWORD outQueue = 4096) : TSioBaseDispatcher(nullptr) {
    AllocateBuffers(4096, outQueue);
    DeviceHandle = 1;
    for (int i = 0; i < dispatcher::InRingSize; ++i) source_[i] = static_cast<BYTE>(' ' + i % 95);
  }
  ~BenchDevice() override { CloseForDestruction(); }

  void EmptyInput() {
    platform::CriticalSectionLock guard(InputLock);
    InHead = InTail = 0;
    InputFull = false;
  }
  void DrainOutput() {
    platform::CriticalSectionLock guard(OutputLock);
    OutHead = OutTail = 0;
    OutFull = false;
  }
  void SetWaiting(DWORD waiting) { waiting_ = waiting; }

  ResultCode DeviceEscape(DWORD) override { return 0; }
  ResultCode DevicePurge(std::int32_t) override { return 0; }
  DWORD DeviceGetErrors(platform::COMSTAT& status) override {
    platform::CriticalSectionLock guard(OutputLock);
    status.cbInQue = waiting_;
    if (OutFull) status.cbOutQue = OutQueueSize;
    else if (OutTail <= OutHead) status.cbOutQue = OutHead - OutTail;
    else status.cbOutQue = OutQueueSize + OutHead - OutTail;
    return 0;
  }
  ResultCode DeviceClearEvents(std::int32_t) override { return 0; }
  ResultCode DeviceGetState(platform::DCB&) override { return 0; }
  std::int32_t DeviceRead(void* buffer, std::int32_t count) override {
    std::memcpy(buffer, source_, count);
    return count;
  }
  ResultCode DeviceSetState(platform::DCB&) override { return 0; }
  std::int32_t DeviceWrite(const void* buffer, std::int32_t count) override {
    platform::CriticalSectionLock guard(OutputLock);
    const auto room = static_cast<std::int32_t>(OutQueueSize) - OutHead;
    const std::int32_t first = std::min(room, count);
    std::memcpy(OutRing.get() + OutHead, buffer, first);
    std::memcpy(OutRing.get(), static_cast<const BYTE*>(buffer) + first, count - first);
    OutHead = (OutHead + count) % static_cast<std::int32_t>(OutQueueSize);
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
  DWORD DeviceModemStatus() override { return 0; }

 private:
  DWORD waiting_ = dispatcher::InRingSize;
  BYTE source_[dispatcher::InRingSize];
};

std::string TempFile(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

void BM_ReadChar(benchmark::State& state) {
  BenchDevice device;
  BYTE c = 0;
  for (auto _ : state) {
    device.FillDispatchBuffer();
    for (int i = 0; i < dispatcher::InRingSize; ++i) device.ReadChar(c);
    benchmark::DoNotOptimize(c);
  }
  state.SetItemsProcessed(state.iterations() * dispatcher::InRingSize);
  state.SetBytesProcessed(state.iterations() * dispatcher::InRingSize);
}
BENCHMARK(BM_ReadChar);

void BM_ReadBlock(benchmark::State& state) {
  BenchDevice device;
  const auto n = static_cast<std::int32_t>(state.range(0));
  std::vector<BYTE> buffer(n);
  const std::int32_t blocks = dispatcher::InRingSize / n;
  for (auto _ : state) {
    device.FillDispatchBuffer();
    for (std::int32_t i = 0; i < blocks; ++i) device.ReadBlock(buffer.data(), n);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetItemsProcessed(state.iterations() * blocks);
  state.SetBytesProcessed(state.iterations() * blocks * n);
}
BENCHMARK(BM_ReadBlock)->Arg(9)->Arg(64)->Arg(1024)->Arg(8192);

void BM_WriteBlock(benchmark::State& state) {
  BenchDevice device;
  const auto n = static_cast<std::int32_t>(state.range(0));
  std::vector<BYTE> data(n, 'U');
  for (auto _ : state) {
    if (device.WriteBlock(data.data(), n) != 0) device.DrainOutput();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * n);
}
BENCHMARK(BM_WriteBlock)->Arg(1)->Arg(64);

// One fill step moving range(0) bytes into an empty ring.
void BM_FillStep(benchmark::State& state) {
  BenchDevice device;
  device.SetWaiting(static_cast<DWORD>(state.range(0)));
  for (auto _ : state) {
    device.EmptyInput();
    device.FillDispatchBuffer();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FillStep)->Arg(1)->Arg(16)->Arg(8192);

void BM_TraceEntry(benchmark::State& state) {
  BenchDevice device;
  device.StartTrace(1 << 20);
  BYTE c = 0;
  for (auto _ : state) device.AddTraceEntry('R', c++);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TraceEntry);

// One entry with range(0) data bytes, in a ring that is discarding.
void BM_LogEntry(benchmark::State& state) {
  BenchDevice device;
  device.StartLog(1 << 20);
  const auto n = static_cast<DWORD>(state.range(0));
  std::vector<BYTE> data(n, 'x');
  for (auto _ : state) device.AddLogEntry(1, 1, static_cast<std::int32_t>(n), data.data(), n);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogEntry)->Arg(0)->Arg(16)->Arg(64);

// A full trace of 4,000,000 entries: alternating groups of received
// readings and sent commands, printable text with CR LF.
void BM_DumpTrace(benchmark::State& state) {
  BenchDevice device;
  const std::string path = TempFile("tesmar-bench.trc");
  const bool inHex = state.range(0) != 0;
  const char* reading = "+1.2345E+00\r\n";
  std::uintmax_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    device.StartTrace(dispatcher::MaxTraceEntries);
    for (DWORD i = 0; i < dispatcher::MaxTraceEntries; ++i) {
      const DWORD k = i % 16;
      device.AddTraceEntry(k < 13 ? 'R' : 'T', k < 13 ? reading[k] : "U1\n"[k - 13]);
    }
    state.ResumeTiming();
    if (device.DumpTrace(path.c_str(), false, inHex, false) != 0) state.SkipWithError("dump failed");
    bytes += std::filesystem::file_size(path);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  state.counters["file_MB"] = static_cast<double>(bytes) / state.iterations() / 1e6;
  std::filesystem::remove(path);
}
BENCHMARK(BM_DumpTrace)->Arg(0)->Arg(1)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// A full 16 MB log of device reads and writes with 13-byte readings.
void BM_DumpLog(benchmark::State& state) {
  BenchDevice device;
  const std::string path = TempFile("tesmar-bench.log");
  const char* reading = "+1.2345E+00\r\n";
  std::uintmax_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    device.StartLog(16000000);
    for (int i = 0; i < 16000000 / 29 + 100; ++i) {
      device.AddLogEntry(1, i % 2 ? 1 : 2, 13, reading, 13);
    }
    state.ResumeTiming();
    if (device.DumpLog(path.c_str(), false, false, false) != 0) state.SkipWithError("dump failed");
    bytes += std::filesystem::file_size(path);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  state.counters["file_MB"] = static_cast<double>(bytes) / state.iterations() / 1e6;
  std::filesystem::remove(path);
}
BENCHMARK(BM_DumpLog)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // The log's names come from the message strings, as in the program.
  errors::TSioStringReaders readers;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
