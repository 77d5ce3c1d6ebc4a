// The measurement without a window (--headless): the same window class,
// link start-up and measurement cycle as the front panel, made on Qt's
// offscreen platform and never shown, so no display is needed.
//
// RunHeadless brings the link up, always sets function and range (one
// command; the default function U and the panel's range when none is
// given, so that no row is labelled with a function the instrument is not
// on), then the resolution when one is given (another command), drops the
// first reading after each so that no reading of the old settings is
// counted, then writes the readings as CSV rows (header first) or JSON
// Lines to the chosen file: `count` of them, or for `durationSeconds`, or
// until SIGINT, SIGTERM or SIGHUP (TerminationSignals.h), whichever comes
// first. On a signal the rows queued are written whole, the port is closed
// and the trace and log are written, and the run counts as done.
//
// Exit codes: 0 done; 3 the port cannot be opened; 4 no reading came for
// the time-out beyond two reading intervals (at start-up or between
// readings); 5 the rows, the trace or the log cannot be written. Every
// message goes to standard error in English, naming the port and device or
// the file.
//
// Thread safety: the program's main thread, once, with the termination
// signals blocked (BlockTerminationSignals).
#pragma once

#include "app/CommandLine.h"

namespace app {

int RunHeadless(const CommandLine& options);

}  // namespace app
