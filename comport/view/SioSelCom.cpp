#include "comport/view/SioSelCom.h"

#include "comport/SioPortSelect.h"
#include "framework/Application.h"
#include "device/SioWin32.h"
#include "framework/Properties.h"
#include "framework/SysUtils.h"
#include "platform/com_names.h"
#include "platform/last_error.h"

namespace comport {

namespace {
// Queue sizes the probe asks for; they are not used by an open alone.
constexpr platform::DWORD kProbeQueueSize = 64;
}  // namespace

void InstallPortSelector() {
  framework::RegisterClass(TComSelectForm::StaticClassInfo());
  SetPortSelector(&ShowPortDialog);
}

int ShowPortDialog() {
  struct DialogScope {
    TComSelectForm* form;
    ~DialogScope() { framework::Application->DestroyComponent(form); }
  } dialog{framework::NewComponent<TComSelectForm>(*framework::Application)};
  // An empty list selects nothing: OK then means no port, as Cancel does.
  return dialog.form->ShowModal() == framework::mrOk ? dialog.form->SelectedPortNumber() : 0;
}

bool PortIsAvailable(int N) {
  if (N <= 0) return false;
  // The probe opens the device only: no rings, no threads.
  device::TSioWin32Dispatcher probe(nullptr);
  const std::string name = framework::Format("\\\\.\\COM%d", N);
  if (probe.DeviceOpen(name.c_str(), kProbeQueueSize, kProbeQueueSize) >= 0) {
    probe.DeviceClose();
    return true;
  }
  // A port held by another program exists; so does one this user may not
  // open (the dialog's hint names its device, the open says why).
  const platform::DWORD error = platform::GetLastError();
  return error == platform::ERROR_SHARING_VIOLATION || error == platform::ERROR_ACCESS_DENIED;
}

const framework::TClassInfo& TComSelectForm::StaticClassInfo() {
  static const framework::TClassInfo info =
      framework::DefineClass<TComSelectForm>("TComSelectForm", &framework::TForm::StaticClassInfo());
  return info;
}

TComSelectForm::TComSelectForm() {
  BindHandler("FormCreate", &TComSelectForm::FormCreate);
  LoadLayout("SIOSELCOM");
  PortsComboBox = &Component<framework::TComboBox>("PortsComboBox");
  OkBtn = &Component<framework::TButton>("OkBtn");
  AbortBtn = &Component<framework::TButton>("AbortBtn");
}

void TComSelectForm::FormCreate(framework::TObject*) {
  for (int n = 1; n <= kMaxSelectablePort; ++n) {
    if (PortIsAvailable(n))
      PortsComboBox->AddItem(framework::Format("COM%d", n), platform::DescribeComDevice(n));
  }
  PortsComboBox->SetItemIndex(0);
}

int TComSelectForm::SelectedPortNumber() const {
  const std::string text = PortsComboBox->Text();
  if (text.size() <= 3) return 0;
  return framework::StrToIntDef(text.substr(3, 255), 0);
}

}  // namespace comport
