// The SCPI command language of the meter's server: one line of a client
// into the commands it holds, without carrying any of them out.
//
// A line holds program units joined by ';'. A unit is a header and, after
// white space, parameters joined by ','. Headers are case-insensitive; each
// node may be written in its long form or its short form (the capitals of
// the long form: MEASure or MEAS, not MEASU). Nodes in [] may be left out.
// A header that does not begin with ':' or '*' and follows another unit of
// the line is first looked up below the path of that unit, its header
// without the last node (CONF:VOLT:DC 1;AC is CONF:VOLT:AC), then from the
// root (CONF:RES;READ? is READ?).
//
//   *IDN?  *RST  *CLS  *OPC?  *WAI
//   SYSTem:ERRor[:NEXT]?
//   CONFigure:<function> [<range>|AUTO|MIN|MAX|DEF[,<resolution>|MIN|MAX|DEF]]
//   CONFigure?
//   [SENSe:]FUNCtion "<function>"      [SENSe:]FUNCtion?
//   MEASure:<function>? [<range>|AUTO|MIN|MAX|DEF[,<resolution>|MIN|MAX|DEF]]
//   READ?  FETCh?
//   <function>: VOLTage[:DC] VOLTage:AC CURRent[:DC] CURRent:AC
//               RESistance FRESistance FREQuency PERiod
//
// Numbers are decimal with an optional sign, point and exponent (10, -0.5,
// 2E3, .1e-3), in SI units, without suffix. MIN, MAX and DEF may be written
// MINimum, MAXimum and DEFault. The function of FUNCtion is a string in
// single or double quotes (or written without them).
//
// Parsing stops at the first unit in error: the commands before it are
// returned, and the error (the rest of the line is dropped). A line with a
// byte outside printable ASCII (tab allowed) is refused whole with -101.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "scpi/Errors.h"

namespace scpi {

enum class Op {
  Identify,           // *IDN?
  Reset,              // *RST
  ClearStatus,        // *CLS
  OperationComplete,  // *OPC?
  Wait,               // *WAI
  NextError,          // SYSTem:ERRor[:NEXT]?
  Configure,          // CONFigure:<function>
  ConfigureQuery,     // CONFigure?
  SetFunction,        // [SENSe:]FUNCtion "<function>"
  FunctionQuery,      // [SENSe:]FUNCtion?
  Measure,            // MEASure:<function>?
  Read,               // READ?
  Fetch,              // FETCh?
};

// A range or resolution parameter.
struct Value {
  enum class Kind { Default, Minimum, Maximum, Auto, Number };
  Kind kind = Kind::Default;
  double number = 0.0;
  bool operator==(const Value&) const = default;
};

struct Command {
  Op op = Op::Identify;
  // The function's command letter: 'U' 'V' 'I' 'J' 'R' 'Z' 'F' 'T' for
  // Configure, SetFunction and Measure; 0 otherwise.
  char function = 0;
  Value range;
  Value resolution;
  bool operator==(const Command&) const = default;
};

struct ParsedLine {
  std::vector<Command> commands;
  std::optional<Error> error;  // the unit that failed after the commands
};

ParsedLine ParseLine(std::string_view line);

// Whether the command's answer is a line (a query).
bool IsQuery(Op op);

}  // namespace scpi
