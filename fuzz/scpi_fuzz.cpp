// The SCPI server's language over any bytes: the input is cut into lines
// of two clients, with readings, ticks and the panel's command steps in
// between as its bytes say. Whatever comes, every error is one of the
// listed codes with printable text, every answer is printable ASCII ending
// in LF, and once the silence limit has passed every line has been
// answered exactly once: no query waits for ever.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "scpi/Executor.h"
#include "scpi/Parser.h"

namespace {

using namespace std::chrono_literals;

class Meter : public scpi::Meter {
 public:
  scpi::MeterSetting Present() const override { return setting; }
  bool ApplyStep(const scpi::MeterSetting& s) override {
    if (s == setting) return false;
    setting = s;
    busy = true;
    return true;
  }
  void Reset() override {
    setting = {};
    busy = true;
  }
  bool Busy() const override { return busy; }
  bool ShownReadingPending() const override { return pending; }

  scpi::MeterSetting setting;
  bool busy = false;
  bool pending = false;
};

bool Printable(std::string_view text) {
  for (char c : text)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

void CheckParsed(std::string_view line) {
  const scpi::ParsedLine parsed = scpi::ParseLine(line);
  if (parsed.error) {
    if (scpi::ErrorText(parsed.error->code) == "Unknown error") std::abort();
    if (!Printable(parsed.error->detail)) std::abort();
  }
  for (const scpi::Command& c : parsed.commands) {
    const bool hasFunction =
        c.op == scpi::Op::Configure || c.op == scpi::Op::Measure || c.op == scpi::Op::SetFunction;
    if (hasFunction != (c.function != 0)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Meter meter;
  scpi::Executor executor(meter, "Tesmar,K4-18/3,0,0", 5s);
  auto now = scpi::Executor::Clock::time_point{};
  std::size_t lines = 0;
  std::size_t answered = 0;
  executor.OnAnswer = [&answered](scpi::ClientId, const std::string& answer) {
    ++answered;
    if (!answer.empty() && (answer.back() != '\n' || !Printable(answer.substr(0, answer.size() - 1))))
      std::abort();
  };
  std::size_t start = 0;
  while (start <= input.size()) {
    std::size_t end = input.find('\n', start);
    if (end == std::string_view::npos) end = input.size();
    const std::string_view line = input.substr(start, end - start);
    CheckParsed(line);
    // The byte after the line (if any) says what happens around it.
    const std::uint8_t what = end + 1 < input.size() ? static_cast<std::uint8_t>(input[end + 1]) : 0;
    executor.Line(1 + (what & 1), line, now);
    ++lines;
    if (what & 2) meter.busy = false;
    meter.pending = (what & 4) != 0;
    now += std::chrono::milliseconds(what);
    if (what & 8) {
      const auto kind = static_cast<record::ReadingKind>((what >> 4) % 3);
      executor.Reading(record::Reading{kind, what * 0.5, "V"}, meter.setting, now);
    }
    executor.Tick(now);
    start = end + 1;
  }
  // The instrument falls silent for good and the panel lets every command
  // out: each wait ends within the limit, one after the other.
  for (std::size_t i = 0; i <= size * 2 + 16 && executor.Waiting(); ++i) {
    meter.busy = false;
    now += 6s;
    executor.Tick(now);
  }
  if (answered != lines || executor.Waiting()) std::abort();
  return 0;
}
