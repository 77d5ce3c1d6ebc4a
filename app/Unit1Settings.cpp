// The user's settings in the main window: the panel state they restore and
// report, the port and speed marks, and "Другой порт…" of the "Интерфейс"
// menu.
#include <string>

#include "app/Unit1.h"
#include "comport/SioPortSelect.h"
#include "framework/Menus.h"
#include "framework/StdCtrls.h"

namespace app {

namespace {

using framework::TMenuItem;
using framework::TObject;

struct BaudItem {
  std::int32_t baud;
  const char* name;
};

constexpr BaudItem kBaudItems[] = {{300, "N3001"},   {600, "N6001"},   {1200, "N12001"},
                                   {2400, "N24001"}, {4800, "N48001"}, {9600, "N96001"}};

}  // namespace

TPanelSettings TForm1::PanelSettings() const {
  return {Rod, Diap, Razresh, AVP, Filtr, Zvuk, KorPer, KorVnesh, Podsvetka};
}

void TForm1::KeepSettings(TSettings& settings) const {
  settings.port = SioComPort1->ComNumber();
  settings.baud = SioComPort1->Baud();
  settings.panel = PanelSettings();
}

void TForm1::RestorePanel(const TPanelSettings& settings) {
  const std::string strip = La_Stat->Caption();
  Rod = settings.Rod;
  Diap = settings.Diap;
  Razresh = settings.Razresh;
  AVP = settings.AVP;
  Filtr = settings.Filtr;
  Zvuk = settings.Zvuk;
  KorPer = settings.KorPer;
  KorVnesh = settings.KorVnesh;
  Podsvetka = settings.Podsvetka;
  FlagPerem = Rod == 'V' || Rod == 'J' ? 1 : 0;
  FlagFT = Rod == 'F' || Rod == 'T' ? 1 : 0;
  ExtractDiap();
  ShowSettings();
  restoreOnLink_ = true;
  La_Stat->SetCaption(strip);
}

// The marks follow the port in use: Com1, Com2 or the other port's item.
// Called while the layout loads too, before the item exists.
void TForm1::MarkPort(Word comNumber) {
  if (auto* com1 = dynamic_cast<TMenuItem*>(FindComponent("Com11"))) com1->SetChecked(comNumber == 1);
  if (auto* com2 = dynamic_cast<TMenuItem*>(FindComponent("Com21"))) com2->SetChecked(comNumber == 2);
  if (N_ComOther != nullptr) N_ComOther->SetChecked(comNumber != 1 && comNumber != 2);
}

void TForm1::MarkBaud(std::int32_t baud) {
  for (const BaudItem& item : kBaudItems)
    if (auto* found = dynamic_cast<TMenuItem*>(FindComponent(item.name)))
      found->SetChecked(item.baud == baud);
}

void TForm1::AddOtherPortItem() {
  N_ComOther = framework::NewComponent<TMenuItem>(*this);
  N_ComOther->SetName("N_ComOther");
  N_ComOther->SetCaption(PanelText(TESMAR_TR_NOOP("panel", "Другой порт…")));
  N_ComOther->SetRadioItem(true);
  N_ComOther->OnClick = [this](TObject* sender) { N_ComOtherClick(sender); };
  if (TMenuItem* ports = Com21->Parent()) ports->Add(N_ComOther);
  MarkPort(SioComPort1->ComNumber());
}

void TForm1::N_ComOtherClick(TObject*) {
  const int chosen = comport::SelectPort();
  if (chosen <= 0) return;
  const auto number = static_cast<Word>(chosen);
  ReopenPort(number == 1 ? Com11 : number == 2 ? Com21 : N_ComOther, number, 0);
}

}  // namespace app
