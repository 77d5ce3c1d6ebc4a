// Carries out the lines of the SCPI server's clients on the meter's panel.
//
// Lines from all clients run one after the other in the order they
// arrived, each command of a line in its order; the panel's own keys act
// between them as they come. A command that needs the instrument holds
// every later line until it is done:
//   - CONFigure, FUNCtion and MEASure? make the setting one command at a
//     time, each once the one before has gone out (a panel sends only the
//     last command asked for before its command step); a setting the panel
//     does not take within a few steps is -100;
//   - MEASure? (after setting the panel) and READ? answer the first reading
//     taken wholly after the setting, or after the query: once no command
//     waits to go out, the reading being shown then and the next one (whose
//     line may have begun before) are passed over. FETCh? answers the
//     latest reading at the present setting, or waits as READ? does;
//   - *OPC?, *WAI and *RST wait until no command waits to go out (after
//     *RST: until the panel's reset and link start-up are through).
// The panel's setting changing under a MEASure? (a key pressed meanwhile)
// answers +9.91E+37 with -221 queued; READ? and FETCh? wait for a reading
// of the new setting instead. Nothing waits for ever: when no reading has
// come for `silenceLimit` (since the wait began or the last reading), the
// answer is +9.91E+37 (and "1" for *OPC?) with -240 queued. An overload
// answers +9.9E+37; a reading that is not a number +9.91E+37 with -230.
//
// Each client has its own error queue; it is dropped once the client is
// gone and its last line is done. A line's answers (the queries' answers
// joined by ';' and closed by LF) go to OnAnswer when the line is done, ""
// for a line without a query; exactly once per Line call.
//
// Thread safety: the panel's thread only. OnAnswer and the Meter's calls
// may run the framework's event loop (a message box); a Line, Reading or
// Tick arriving from inside them is queued and carried out when the outer
// call has finished its step.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "record/Reading.h"
#include "scpi/Errors.h"
#include "scpi/Meter.h"
#include "scpi/Parser.h"

namespace scpi {

using ClientId = std::uint64_t;

class Executor {
 public:
  using Clock = std::chrono::steady_clock;

  // `identity` is the answer to *IDN?.
  Executor(Meter& meter, std::string identity, Clock::duration silenceLimit);

  // One line of a client, without its LF.
  void Line(ClientId client, std::string_view text, Clock::time_point now);
  // The client sent a line too long to take: -363 is queued in its turn.
  void Overrun(ClientId client, Clock::time_point now);
  // The client has gone: its lines still run, their answers are dropped.
  void Gone(ClientId client);
  // A reading the panel showed, taken at `setting`.
  void Reading(const record::Reading& reading, const MeterSetting& setting, Clock::time_point now);
  // Looks again at what a waiting command waits for (the panel's thread
  // calls it every few milliseconds while Waiting()).
  void Tick(Clock::time_point now);

  bool Waiting() const { return wait_.has_value(); }
  // Clients whose error queue is held.
  std::size_t Clients() const { return clients_.size(); }
  std::size_t QueuedErrors(ClientId client) const;

  std::function<void(ClientId client, const std::string& answer)> OnAnswer;

 private:
  struct Client {
    ErrorQueue errors;
    std::size_t lines = 0;  // lines not done yet
    bool gone = false;
  };
  struct PendingLine {
    ClientId client = 0;
    ParsedLine parsed;
    std::size_t next = 0;  // the command to carry out next
    std::vector<std::string> answers;
    bool answered = true;  // false: an overrun, which answers nothing
  };
  enum class WaitFor { Idle, Setting, Reading };
  struct Wait {
    WaitFor what = WaitFor::Idle;
    bool measure = false;    // MEASure?: the setting must stay
    bool answerOne = false;  // *OPC?: answers "1"
    MeterSetting setting;    // the setting the reading must be taken at
    MeterSetting target;     // Setting: what the command asks for
    int steps = 0;           // Setting: steps made
    bool observed = false;   // no command waited to go out at the last look
    int toPass = 0;          // readings still to pass over once observed
    Clock::time_point since;
  };
  static Wait WaitOf(WaitFor what) {
    Wait wait;
    wait.what = what;
    return wait;
  }

  void Run(Clock::time_point now);
  // Carries out the first line's next command, or finishes the line.
  void Step(Clock::time_point now);
  // Carries out one command; false when it has to wait.
  bool Execute(PendingLine& line, const Command& command, Clock::time_point now);
  void StartWait(Wait wait, Clock::time_point now);
  // Ends the wait when what it waits for has happened (or time is up).
  void Look(Clock::time_point now);
  // Makes the next step of a setting; false when the wait has ended.
  bool LookAtSetting(Wait& wait, bool busy, Clock::time_point now);
  // Ends the wait with the answer (none when empty) and the error.
  void Finish(const std::string& answer, std::optional<Error> error = std::nullopt);
  std::string ReadingAnswer(const record::Reading& reading, Client& client);
  void FinishLine();

  Meter& meter_;
  const std::string identity_;
  const Clock::duration silenceLimit_;
  std::map<ClientId, Client> clients_;
  std::deque<PendingLine> lines_;
  std::optional<Wait> wait_;
  struct Shown {
    record::Reading reading;
    MeterSetting setting;
  };
  std::optional<Shown> latest_;
  std::optional<Clock::time_point> lastReading_;
  bool running_ = false;
  bool runAgain_ = false;
};

}  // namespace scpi
