// How a port component without a port number asks the user for one.
//
// The component itself shows nothing: a window that lets the user choose
// (the port-selection dialog, which belongs in a view library because it
// is a form) installs itself here at the program's start-up, and the
// component asks it through SelectPort. Without a selector no port is
// chosen, so an open without a number raises ENoPortSelected as before.
//
// Thread safety: install and ask on the window's thread.
#pragma once

namespace comport {

// Shows the choice modally; returns the chosen port number, or 0 when the
// user chose none. May raise.
using TPortSelector = int (*)();

// Installs Selector (null removes it).
void SetPortSelector(TPortSelector selector);

// The selector's answer; 0 when none is installed.
int SelectPort();

}  // namespace comport
