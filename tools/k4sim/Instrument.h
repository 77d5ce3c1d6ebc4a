// The K4-18/3 as the simulator models it: the command interpreter, the
// instrument settings and the measurement lines. No I/O and no threads; the
// Simulator feeds it received characters and sends what it produces.
//
// Commands. The instrument collects received characters into a command
// buffer. LF closes a command line, which is then executed as pairs of a
// command letter and an argument character:
//
//   U V I J R Z F T  function (DC volts, AC volts, DC amps, AC amps,
//                    ohms 2-wire, ohms 4-wire, frequency, period) with a
//                    range digit '0'..'6'. A digit the function lacks is
//                    brought into its ranges: I and J have only '1', F and T
//                    only '0', U, V and Z top out at '4'.
//   G  trigger mode      '0' internal, '1' programmed periodic (stored only)
//   B  output mode       '1' stream measurement lines, '0' hold them
//   Y  set-up flag       '0', '1' (stored only; sent by the set-up command)
//   M  calculations      '0', '1' (stored only)
//   A  auto-ranging      '0', '1' (stored only: readings are generated
//                        relative to the range, so the range never changes)
//   W  input filter      '0', '1': '1' cuts the reading noise tenfold
//   S  sound             '0', '1' (stored only)
//   H  display format    '0' 3½, '1' 4½, '2' 5½ digits
//   N  periodic zero     '0', '1' (stored only)
//   K  auto-calibration  '0' only; counted
//   Q  external zero     '1' takes the present reading as zero, '0' drops it
//   L  backlight         '0', '1' (stored only)
//   X  general reset     '0' only: every setting back to its power-on value
//
// A pair with an unknown letter or an argument the letter does not take is
// rejected and counted; the other pairs of the line still apply, in order.
// '!' clears the command buffer. CR and NUL are skipped (a hand terminal's
// Enter and the service panel's default end-of-line code). A line longer
// than kMaxCommandLine characters is rejected whole at its LF.
//
// Power-on settings: U, range '1', G0 B1 Y0 M0 A0 W0 S1 H2 N0 Q0 L1, i.e.
// DC volts on the 2 V range at 5½ digits, streaming.
//
// Measurement line text (what follows an LF; the LF itself is the
// Simulator's business), in fixed columns:
//
//   normal:  <number field> <blanks> <unit> ' ' <function letter><range digit>
//            The number field is a sign directly before the digits, padded
//            on the left with blanks to digits+2 characters, where digits is
//            4, 5 or 6 at 3½, 4½ and 5½. Blanks follow up to column 9; the
//            unit starts in column 10. So the characters a reader takes at
//            each resolution (7, 8, 9) are the number field and blanks, and
//            so are the first 9 at any resolution:
//              "+1.234   V U1"  "+1.2345  V U1"  "+1.23456 V U1"
//              " +617.30 V U4" (1000 V range, 5½), "-0.00012 V U1"
//   F and T: <sign> <7-character number> ' ' <unit> ' ' <letter><digit>
//            Six significant digits whatever the display format (the
//            counter's resolution follows its gate, not the display), so a
//            reader that drops the first character and takes seven gets the
//            whole number: "+50.0012 Hz F0", "+19999.5 us T0".
//
// Units: mV, V, A, Ohm, kOhm, MOhm, GOhm, Hz, us. Ranges: U/V 200 mV, 2 V,
// 20 V, 200 V, 1000 V; I/J 2 A; R/Z 200 Ohm, 2 kOhm, 20 kOhm, 200 kOhm,
// 2 MOhm, then R only 20 MOhm, 2 GOhm. Every line text is at least 13
// characters long.
//
// Readings sit at a fixed fraction of full scale per function and drift
// with a seeded random walk plus per-reading noise.
//
// Thread safety: none. An Instrument belongs to one thread at a time (the
// Simulator guards it with its own mutex).
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

namespace k4sim {

// The instrument settings, as the command letters' argument characters.
struct InstrumentState {
  char function = 'U';
  char range = '1';
  char trigger = '0';       // G
  char output = '1';        // B
  char setupFlag = '0';     // Y
  char calculations = '0';  // M
  char autoRange = '0';     // A
  char filter = '0';        // W
  char sound = '1';         // S
  char resolution = '2';    // H
  char periodicZero = '0';  // N
  char externalZero = '0';  // Q
  char backlight = '1';     // L
  std::uint64_t autoCalibrations = 0;  // K0 received
  std::uint64_t resets = 0;            // X0 received

  bool operator==(const InstrumentState&) const = default;
};

// What a received character did.
enum class InputKind {
  Stored,    // kept in the command buffer
  Probe,     // '!': buffer cleared
  LineEnd,   // LF: the buffered line (if any) was executed
  Skipped,   // CR or NUL, or a character past the buffer's limit
};

class Instrument {
 public:
  static constexpr std::size_t kMaxCommandLine = 32;
  // Characters before the unit: the most a reader takes after an LF.
  static constexpr std::size_t kUnitColumn = 9;

  explicit Instrument(std::uint64_t seed);

  // Takes one received character (see the header comment).
  InputKind Receive(char c);

  const InstrumentState& State() const { return state_; }
  const std::string& CommandBuffer() const { return buffer_; }
  std::uint64_t CommandLines() const { return commandLines_; }
  std::uint64_t RejectedPairs() const { return rejectedPairs_; }
  std::uint64_t RejectedLines() const { return rejectedLines_; }

  // The text of the next measurement line, without any LF. Advances the
  // drift, so consecutive calls give slightly different readings.
  std::string NextReadingText();

  // Formats a reading in display units (mV, V, ..., Hz, us) for the given
  // settings. Exposed for tests; NextReadingText uses it.
  static std::string FormatReading(const InstrumentState& state, double value);

  // The number of characters after an LF that the front panel takes at
  // these settings: 7, 8 or 9 by display format, 8 for frequency/period.
  static std::size_t ReadingChars(const InstrumentState& state);

  // Full scale of the present range in display units (frequency and
  // period: their nominal value).
  static double FullScale(const InstrumentState& state);
  static const char* Unit(const InstrumentState& state);

 private:
  void Execute(const std::string& line);
  bool Apply(char letter, char arg);
  bool ApplyFunction(char letter, char arg);
  void Reset();
  double TrueFraction() const;

  InstrumentState state_;
  std::string buffer_;
  bool overflow_ = false;
  std::uint64_t commandLines_ = 0;
  std::uint64_t rejectedPairs_ = 0;
  std::uint64_t rejectedLines_ = 0;
  std::mt19937_64 rng_;
  double drift_ = 0.0;     // random walk, a fraction of full scale
  double zeroOffset_ = 0;  // Q1's zero, a fraction of full scale
};

}  // namespace k4sim
