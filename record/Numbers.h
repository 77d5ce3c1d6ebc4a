// Numbers as the recorder shows them: never with an exponent.
//
// A value is written to its resolution (the step of its last digit), as
// the instrument's display would show it; a small quantity such as a
// standard deviation gets an SI prefix on its unit instead ("14.1 µV").
//
// Thread safety: pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace record {

// The number of decimals that show a step of `step` (0 for 1 and above).
int DecimalsOf(double step);
// `value` with the decimals of `step` ("940.33" for 940.33 and 0.01);
// `step` 0 means 6 significant digits.
std::string FormatToStep(double value, double step);

// An SI prefix and its power of ten.
struct SiPrefix {
  std::string_view symbol;  // "G", "M", "k", "", "m", "µ", "n", "p"
  int exponent = 0;
};
// The prefix that brings |value| into [1, 1000) (none for 0, and the
// outermost ones beyond their range).
SiPrefix PrefixFor(double value);
// `value` with `significant` digits and its prefixed unit: "14.1 µV",
// "0 V", "1.50 kΩ".
std::string FormatSi(double value, std::string_view unit, int significant = 3);

}  // namespace record
