#include "scpi/Executor.h"

#include <algorithm>
#include <utility>

namespace scpi {

Executor::Executor(Meter& meter, std::string identity, Clock::duration silenceLimit)
    : meter_(meter), identity_(std::move(identity)), silenceLimit_(silenceLimit) {}

void Executor::Line(ClientId client, std::string_view text, Clock::time_point now) {
  ++clients_[client].lines;
  PendingLine line;
  line.client = client;
  line.parsed = ParseLine(text);
  lines_.push_back(std::move(line));
  Run(now);
}

void Executor::Overrun(ClientId client, Clock::time_point now) {
  ++clients_[client].lines;
  PendingLine line;
  line.client = client;
  line.parsed.error = Error{kInputBufferOverrun, "line longer than 64 KiB"};
  line.answered = false;
  lines_.push_back(std::move(line));
  Run(now);
}

void Executor::Gone(ClientId client) {
  const auto found = clients_.find(client);
  if (found == clients_.end()) return;
  if (found->second.lines == 0)
    clients_.erase(found);
  else
    found->second.gone = true;
}

std::size_t Executor::QueuedErrors(ClientId client) const {
  const auto found = clients_.find(client);
  return found == clients_.end() ? 0 : found->second.errors.Size();
}

void Executor::Reading(const record::Reading& reading, const MeterSetting& setting, Clock::time_point now) {
  lastReading_ = now;
  latest_ = Shown{reading, setting};
  // Only a wait that had seen the command out before this reading was
  // shown may take it; Look decides whether the setting still holds.
  if (wait_ && wait_->what == WaitFor::Reading && wait_->observed && !meter_.Busy() &&
      meter_.Present() == wait_->setting) {
    if (wait_->toPass > 0) {
      --wait_->toPass;
    } else if (setting.function == wait_->setting.function && setting.range == wait_->setting.range &&
               setting.resolution == wait_->setting.resolution) {
      Finish(ReadingAnswer(reading, clients_[lines_.front().client]));
    }
  }
  Run(now);
}

void Executor::Tick(Clock::time_point now) { Run(now); }

// Meter calls may run the event loop, which may call in again: such a call
// only leaves its work for the loop below.
void Executor::Run(Clock::time_point now) {
  if (running_) {
    runAgain_ = true;
    return;
  }
  running_ = true;
  do {
    runAgain_ = false;
    for (;;) {
      if (wait_) Look(now);
      if (wait_ || lines_.empty()) break;
      Step(now);
    }
  } while (runAgain_);
  running_ = false;
}

void Executor::Step(Clock::time_point now) {
  PendingLine& line = lines_.front();
  if (line.next >= line.parsed.commands.size()) {
    FinishLine();
    return;
  }
  const Command command = line.parsed.commands[line.next++];
  Execute(line, command, now);
}

bool Executor::Execute(PendingLine& line, const Command& command, Clock::time_point now) {
  Client& client = clients_[line.client];
  switch (command.op) {
    case Op::Identify: line.answers.push_back(identity_); return true;
    case Op::ClearStatus: client.errors.Clear(); return true;
    case Op::NextError: line.answers.push_back(ErrorAnswer(client.errors.Pop())); return true;
    case Op::ConfigureQuery: line.answers.push_back(ConfigureAnswer(meter_.Present())); return true;
    case Op::FunctionQuery:
      line.answers.push_back("\"" + std::string(FunctionName(meter_.Present().function)) + "\"");
      return true;
    case Op::Reset:
      meter_.Reset();
      StartWait(WaitOf(WaitFor::Idle), now);
      return false;
    case Op::OperationComplete:
    case Op::Wait: {
      Wait wait = WaitOf(WaitFor::Idle);
      wait.answerOne = command.op == Op::OperationComplete;
      StartWait(wait, now);
      return false;
    }
    case Op::Configure:
    case Op::SetFunction:
    case Op::Measure: {
      MeterSetting wanted;
      Error error;
      if (!ConfigureSetting(command, meter_.Present(), wanted, error)) {
        client.errors.Push(error);
        if (command.op == Op::Measure) line.answers.emplace_back(kNotANumberAnswer);
        return true;
      }
      Wait wait = WaitOf(WaitFor::Setting);
      wait.measure = command.op == Op::Measure;
      wait.target = wanted;
      StartWait(wait, now);
      return false;
    }
    case Op::Fetch:
      if (latest_ && !meter_.Busy() && latest_->setting == meter_.Present()) {
        line.answers.push_back(ReadingAnswer(latest_->reading, client));
        return true;
      }
      [[fallthrough]];
    case Op::Read: StartWait(WaitOf(WaitFor::Reading), now); return false;
  }
  return true;
}

void Executor::StartWait(Wait wait, Clock::time_point now) {
  wait.since = now;
  // The setting as the panel took it (the keys bring a range the function
  // lacks into its ranges).
  wait.setting = meter_.Present();
  wait_ = wait;
}

void Executor::Look(Clock::time_point now) {
  Wait& wait = *wait_;
  const bool busy = meter_.Busy();
  if (wait.what == WaitFor::Idle) {
    if (!busy) {
      Finish(wait.answerOne ? "1" : "");
      return;
    }
  } else if (wait.what == WaitFor::Setting) {
    if (!LookAtSetting(wait, busy, now)) return;
  }
  if (wait.what == WaitFor::Reading) {
    const MeterSetting present = meter_.Present();
    if (present != wait.setting) {
      if (wait.measure) {
        Finish(std::string(kNotANumberAnswer), Error{kSettingsConflict, "the panel's setting changed"});
        return;
      }
      wait.setting = present;
      wait.observed = false;
    }
    if (busy) {
      wait.observed = false;
    } else if (!wait.observed) {
      // The reading read before the command went out may still be shown;
      // the line after it may have begun before the command.
      wait.observed = true;
      wait.toPass = 1 + (meter_.ShownReadingPending() ? 1 : 0);
    }
  }
  const Clock::time_point lastSign = std::max(wait.since, lastReading_.value_or(wait.since));
  if (now - lastSign >= silenceLimit_) {
    const std::string answer = wait.what == WaitFor::Reading || wait.measure ? std::string(kNotANumberAnswer)
                               : wait.answerOne                              ? "1"
                                                                             : "";
    Finish(answer, Error{kHardwareError, "no answer from the instrument"});
  }
}

// A step at a time, each once the panel's command before it has gone out;
// a MEASure? then waits for its reading from here.
bool Executor::LookAtSetting(Wait& wait, bool busy, Clock::time_point now) {
  constexpr int kMostSteps = 6;
  if (busy) return true;
  if (meter_.Present() == wait.target) {
    if (!wait.measure) {
      Finish("");
      return false;
    }
    wait.what = WaitFor::Reading;
    wait.setting = meter_.Present();
    wait.since = now;
    return true;
  }
  if (wait.steps < kMostSteps && meter_.ApplyStep(wait.target)) {
    ++wait.steps;
    return true;
  }
  Finish(wait.measure ? std::string(kNotANumberAnswer) : "",
         Error{kCommandError, "the panel did not take the setting"});
  return false;
}

void Executor::Finish(const std::string& answer, std::optional<Error> error) {
  PendingLine& line = lines_.front();
  if (!answer.empty()) line.answers.push_back(answer);
  if (error) clients_[line.client].errors.Push(std::move(*error));
  wait_.reset();
}

std::string Executor::ReadingAnswer(const record::Reading& reading, Client& client) {
  switch (reading.kind) {
    case record::ReadingKind::Value: return FormatNumber(reading.value);
    case record::ReadingKind::Overload: return std::string(kOverloadAnswer);
    case record::ReadingKind::Unreadable: break;
  }
  client.errors.Push(Error{kDataCorruptOrStale, "the reading is not a number"});
  return std::string(kNotANumberAnswer);
}

void Executor::FinishLine() {
  PendingLine done = std::move(lines_.front());
  lines_.pop_front();
  Client& client = clients_[done.client];
  if (done.parsed.error) client.errors.Push(std::move(*done.parsed.error));
  --client.lines;
  if (client.gone && client.lines == 0) clients_.erase(done.client);
  if (!done.answered || !OnAnswer) return;
  std::string answer;
  for (const std::string& a : done.answers) answer += (answer.empty() ? "" : ";") + a;
  if (!answer.empty()) answer += '\n';
  OnAnswer(done.client, answer);
}

}  // namespace scpi
