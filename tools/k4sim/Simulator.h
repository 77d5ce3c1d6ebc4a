// The K4-18/3 simulator on a pseudo-terminal: the instrument of
// Instrument.h behind the slave side of a pty, usable inside a test process
// and by the `k4sim` program.
//
// Pacing and the measurement stream. The front panel sends every command
// character alone and waits for exactly one character back before the next;
// it never compares that character with what it sent. It reads measurements
// by waiting for an LF and then counting 7, 8 or 9 characters (the sign
// plus seven for frequency and period) as the reading. So the stream must
// guarantee one thing above all: whatever directly follows an LF is a whole
// reading, never a pacing answer. The simulator therefore
//   - answers every received character at once with that same character
//     (the echo; so '!' is answered by '!', as the link probe needs);
//   - sends each measurement line's text at its tick, and holds the text's
//     closing LF back until the next tick, where it goes out in one write
//     together with the next text: an LF on the line is always followed at
//     once by a whole reading;
//   - therefore lets pacing answers land only between a text and its closing
//     LF, in the tail of a line the panel never takes;
//   - when a command line's LF arrives, its echo closes the line in progress
//     and a fresh reading, made with the new settings, follows in the same
//     write; the line clock restarts from there.
// Measurement lines flow whether or not a command is in progress, so a
// panel that waits for a pacing answer may get a stream character instead;
// that only paces it faster, and the echoes that follow land in a line's
// tail as above. With output mode B0 no lines are sent, only answers.
//
// Fault options (Options): '!' ignored for a while after start
// (probeAfter), the instrument falling deaf and mute after a while and
// optionally coming back (silentAfter, silentFor, SetSilent), garbage bytes
// at a random place of a line, lines without their LF, lines cut short of a
// reading, and answers delayed (answerDelay). Random choices come from the
// seed, so a run with the same seed makes the same readings and faults in
// the same order (not at the same times).
//
// The simulator keeps its own descriptor on the slave open for its whole
// life, so the master never sees a hang-up (EIO) when no client has the
// slave open and a client may open and close it as often as it likes. Bytes
// it cannot write because no one reads the slave are queued up to a limit
// and then dropped and counted, as on a serial line with nothing attached.
//
// Thread safety: the constructor starts one I/O thread; every public
// member may be called from any thread at any time, concurrently. The
// destructor and Stop stop and join that thread and must not be called from
// Options::onCommandLine (which runs on it).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/k4sim/Instrument.h"

namespace k4sim {

struct Options {
  std::uint64_t seed = 1;
  // Time between measurement lines: about four lines a second.
  std::chrono::milliseconds lineInterval{250};
  // Until this long after start a received '!' is ignored: not answered,
  // buffer not cleared. Everything else works as usual.
  std::chrono::milliseconds probeAfter{0};
  // From this long after start, the simulator neither answers nor executes
  // what it receives (it still logs it) and sends no lines.
  std::optional<std::chrono::milliseconds> silentAfter;
  // With silentAfter: speak again after this long silent.
  std::optional<std::chrono::milliseconds> silentFor;
  // Every pacing answer goes out this long after its character came in.
  std::chrono::milliseconds answerDelay{0};
  // Per line probabilities (0..1) of the line faults.
  double garbageRate = 0.0;  // 1..8 random bytes (never LF or '!') put in
  double dropLfRate = 0.0;   // the LF before the line's text left out
  double cutLineRate = 0.0;  // the text cut to 1..6 characters
  // When not empty: every received byte is appended to this file, one line
  // each: seconds since start, hexadecimal code, the character or its name.
  std::string logPath;
  // With comNumber > 0: link the slave as <dosdevices>/com<comNumber>. The
  // folder is created if missing. An existing entry of that name is
  // replaced only if it is a dangling symbolic link.
  int comNumber = 0;
  std::string dosdevices;
  // Called on the I/O thread with each command line the instrument
  // executed (without its LF). May call State and the other getters.
  std::function<void(const std::string& line)> onCommandLine;
};

struct CounterSet {
  std::uint64_t received = 0;       // bytes read from the line
  std::uint64_t answers = 0;        // pacing answers written
  std::uint64_t probes = 0;         // '!' answered
  std::uint64_t probesIgnored = 0;  // '!' ignored (probeAfter)
  std::uint64_t deafBytes = 0;      // bytes received while silent
  std::uint64_t lines = 0;          // measurement lines written
  std::uint64_t commandLines = 0;   // command lines executed
  std::uint64_t rejectedPairs = 0;
  std::uint64_t rejectedLines = 0;  // too long for the command buffer
  std::uint64_t garbageBursts = 0;
  std::uint64_t linesWithoutLf = 0;
  std::uint64_t cutLines = 0;
  std::uint64_t droppedBytes = 0;  // output no one took (queue full)
};

class Simulator {
 public:
  // Opens the pty, links it if asked, opens the log and starts the I/O
  // thread. Throws std::system_error, std::runtime_error for a link that
  // would replace something, or std::invalid_argument for comNumber > 0
  // without dosdevices; whatever was acquired is released first.
  explicit Simulator(Options options);
  ~Simulator();

  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // The slave's path, e.g. "/dev/pts/7".
  const std::string& SlavePath() const { return slavePath_; }
  // <dosdevices>/com<N>, or empty when not linked.
  const std::string& LinkPath() const { return linkPath_; }

  // Every byte received so far (at most the first 1 MiB).
  std::string Received() const;
  // The measurement lines' texts sent so far, without their LF, in order
  // (the first 100000; garbage bytes put in afterwards are not in them).
  std::vector<std::string> SentLines() const;
  CounterSet Counters() const;
  InstrumentState State() const;

  // Falls silent (true) or speaks again (false) at once; overrides the
  // silentAfter/silentFor schedule from then on.
  void SetSilent(bool silent);
  bool Silent() const;

  // Stops the I/O thread, removes the link and closes the pty. Idempotent.
  void Stop();

 private:
  class Engine;
  std::unique_ptr<Engine> engine_;
  std::string slavePath_;
  std::string linkPath_;
};

}  // namespace k4sim
