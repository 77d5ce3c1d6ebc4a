// The measurement without a window (--headless): the same window class,
// link start-up and measurement cycle as the front panel, made on Qt's
// offscreen platform and never shown, so no display is needed.
//
// RunHeadless brings the link up, sets function and range (one command),
// then the resolution (another), drops the first reading after each so
// that no reading of the old settings is counted, then prints `count`
// readings as CSV rows (header first) to the chosen file and returns 0.
// It returns 3 (the message on stderr) when the port cannot be opened, 4
// when no reading comes for the time-out beyond two reading intervals (at
// start-up or between readings), 5 when the CSV file cannot be written.
//
// Thread safety: the program's main thread, once.
#pragma once

#include "app/CommandLine.h"

namespace app {

int RunHeadless(const CommandLine& options);

}  // namespace app
