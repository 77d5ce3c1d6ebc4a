// The port selection dialog: asked when a port component must open without
// a port number (TSioCustomComPort::ValidatePort), once InstallPortSelector
// has made it the port selector (comport/SioPortSelect.h).
//
// TComSelectForm is read from the stored layout SIOSELCOM. Its creation
// handler lists, in ascending order, every port from COM1 to
// kMaxSelectablePort that PortIsAvailable answers True for, and selects the
// first. Each entry's hint names the device behind it (for example
// "/dev/ttyUSB0 (usb-FTDI_...)"); the entry's text stays "COMn".
//
// Thread safety: the window's thread only.
#pragma once

#include "framework/Forms.h"

namespace comport {

// The highest port number the dialog offers.
inline constexpr int kMaxSelectablePort = 50;

// Whether COMn can be offered: True when it opens now (it is closed again
// at once) and when it exists but another program holds it or this user may
// not open it (the open is refused with ERROR_SHARING_VIOLATION or
// ERROR_ACCESS_DENIED); False for 0 and for any other failure.
// Raises nothing.
bool PortIsAvailable(int N);

// Registers TComSelectForm and installs ShowPortDialog as the port
// selector; the program calls it once at start-up.
void InstallPortSelector();

// Shows the dialog modally; the chosen port number, or 0 for Cancel, a
// closed dialog or an empty list.
int ShowPortDialog();

class TComSelectForm : public framework::TForm {
 public:
  TComSelectForm();
  static const framework::TClassInfo& StaticClassInfo();
  const framework::TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  void FormCreate(framework::TObject* Sender);
  // The number of the selected entry ("COM12" gives 12); 0 when nothing is
  // selected (an empty list).
  int SelectedPortNumber() const;

  framework::TComboBox* PortsComboBox = nullptr;
  framework::TButton* OkBtn = nullptr;
  framework::TButton* AbortBtn = nullptr;
};

}  // namespace comport
