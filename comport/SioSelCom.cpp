#include "comport/SioSelCom.h"

#include "framework/Properties.h"
#include "framework/SysUtils.h"
#include "platform/com_names.h"
#include "platform/last_error.h"
#include "platform/serial.h"

namespace comport {

bool PortIsAvailable(int N) {
  if (N <= 0) return false;
  const std::string name = framework::Format("\\\\.\\COM%d", N);
  const platform::HANDLE device =
      platform::CreateFileA(name.c_str(), platform::GENERIC_READ | platform::GENERIC_WRITE, 0,
                            nullptr, platform::OPEN_EXISTING, platform::FILE_FLAG_OVERLAPPED, 0);
  if (device == platform::INVALID_HANDLE_VALUE)
    return platform::GetLastError() == platform::ERROR_ACCESS_DENIED;
  platform::CloseHandle(device);
  return true;
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
