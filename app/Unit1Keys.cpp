// The panel keys, the main menu and the status line of the main window.
//
// Every handler changes the panel state, sets the menu marks itself (a
// click never checks an item) and asks the measurement cycle to send one
// command at the next Ti_CMD tick; the command's characters go out there.
#include <exception>
#include <string_view>

#include "app/Unit1.h"
#include "framework/ExtCtrls.h"
#include "framework/Menus.h"
#include "framework/StdCtrls.h"

namespace app {

namespace {

using framework::TMenuItem;
using framework::TObject;

// Unchecks a checked item, checks an unchecked one; returns the new mark.
bool Toggle(TMenuItem* item) {
  item->SetChecked(!item->Checked());
  return item->Checked();
}

std::int32_t Flag(bool on) { return on ? '1' : '0'; }

bool IsVoltage(std::int32_t rod) { return rod == 'U' || rod == 'V'; }
bool IsCurrent(std::int32_t rod) { return rod == 'I' || rod == 'J'; }
bool IsResistance(std::int32_t rod) { return rod == 'R' || rod == 'Z'; }
bool IsCounter(std::int32_t rod) { return rod == 'F' || rod == 'T'; }

// The highest range digit of each function with more than one range: the
// range keys refuse a step past it.
std::int32_t TopRange(std::int32_t rod) { return rod == 'R' ? '6' : '4'; }

struct FunctionText {
  std::int32_t rod;
  const char* stat;
  const char* forma;  // the AC/DC sign
  const char* unit;   // null: the range decides
};

constexpr FunctionText kFunctionTexts[] = {
    {'U', TESMAR_TR_NOOP("panel", "функция U="), "=", nullptr},
    {'V', TESMAR_TR_NOOP("panel", "функция U~"), "~", nullptr},
    {'I', TESMAR_TR_NOOP("panel", "функция I="), "=", nullptr},
    {'J', TESMAR_TR_NOOP("panel", "функция I~"), "~", nullptr},
    {'R', TESMAR_TR_NOOP("panel", "функция R"), " ", nullptr},
    {'Z', TESMAR_TR_NOOP("panel", "функция Z"), " ", nullptr},
    {'F', TESMAR_TR_NOOP("panel", "измерение F"), " ", "Hz"},
    {'T', TESMAR_TR_NOOP("panel", "измерение T"), " ", TESMAR_TR_NOOP("panel", "мкс")},
};

struct RangeText {
  const char* stat;
  const char* unit;  // null: the unit label keeps its text
};

// In "mV", "V", "Hz" and "Mом" the letters m, V, H, z and M are Latin; in
// "А", "мкс", "ом", "ком" and "Гом" every letter is Cyrillic, as the
// instrument's own scale marks are written.
constexpr RangeText kVoltageRanges[] = {
    {TESMAR_TR_NOOP("panel", "диапазон 200mV"), "mV"}, {TESMAR_TR_NOOP("panel", "диапазон 2V"), "V"},
    {TESMAR_TR_NOOP("panel", "диапазон 20V"), "V"},    {TESMAR_TR_NOOP("panel", "диапазон 200V"), "V"},
    {TESMAR_TR_NOOP("panel", "диапазон 1000V"), "V"},
};
constexpr RangeText kResistanceRanges[] = {
    {TESMAR_TR_NOOP("panel", "диапазон 200ом"), TESMAR_TR_NOOP("panel", "ом")},
    {TESMAR_TR_NOOP("panel", "диапазон 2ком"), TESMAR_TR_NOOP("panel", "ком")},
    {TESMAR_TR_NOOP("panel", "диапазон 20ком"), TESMAR_TR_NOOP("panel", "ком")},
    {TESMAR_TR_NOOP("panel", "диапазон 200ком"), TESMAR_TR_NOOP("panel", "ком")},
    {TESMAR_TR_NOOP("panel", "диапазон 2Mом"), TESMAR_TR_NOOP("panel", "Mом")},
    {TESMAR_TR_NOOP("panel", "диапазон 20Mом"), TESMAR_TR_NOOP("panel", "Mом")},
    {TESMAR_TR_NOOP("panel", "диапазон 2Гом"), TESMAR_TR_NOOP("panel", "Гом")},
};
constexpr RangeText kCurrentRange = {TESMAR_TR_NOOP("panel", "диапазон 2А"), TESMAR_TR_NOOP("panel", "А")};
constexpr RangeText kCounterRange = {"              ", nullptr};

// The range text of Diap for Rod, or null when the pair has none.
const RangeText* FindRangeText(std::int32_t rod, std::int32_t diap) {
  const int index = diap - '0';
  if (IsVoltage(rod) && index >= 0 && index < 5) return &kVoltageRanges[index];
  if (IsResistance(rod) && index >= 0 && index < 7) return &kResistanceRanges[index];
  if (IsCurrent(rod) && diap == '1') return &kCurrentRange;
  if (IsCounter(rod) && diap == '0') return &kCounterRange;
  return nullptr;
}

}  // namespace

// How a function key or item picks the function.
enum class TRodRule {
  kFixed,        // `first`
  kByPerem,      // `first` for DC, `second` for AC, by FlagPerem
  kAlternate,    // `second` when the function is `first` already, else `first`
  kAcDcPartner,  // the AC or DC variant of voltage and current, by FlagPerem
};

// What a function key or item does to FlagPerem before the function is
// picked.
enum class TPeremRule { kKeep, kClear, kSet, kFlip };

struct TFunctionKey {
  std::string_view handler;
  TRodRule rule;
  std::int32_t first, second;
  TPeremRule perem;
  // From frequency or period the voltage comes back on its top range, the
  // safe one for whatever is connected.
  bool topFromCounter;
  // Frequency and period have no AC/DC variant: the key does nothing there.
  bool idleInCounter;
};

namespace {

constexpr TFunctionKey kFunctionKeys[] = {
    {"Bu_UClick", TRodRule::kByPerem, 'U', 'V', TPeremRule::kKeep, true, false},
    {"Bu_IClick", TRodRule::kByPerem, 'I', 'J', TPeremRule::kKeep, false, false},
    {"Bu_RodAddClick", TRodRule::kAcDcPartner, 0, 0, TPeremRule::kFlip, false, true},
    {"Bu_RClick", TRodRule::kAlternate, 'R', 'Z', TPeremRule::kKeep, false, false},
    {"ButtonFTClick", TRodRule::kAlternate, 'F', 'T', TPeremRule::kKeep, false, false},
    {"N_IClick", TRodRule::kFixed, 'I', 0, TPeremRule::kClear, false, false},
    {"N_JClick", TRodRule::kFixed, 'J', 0, TPeremRule::kSet, false, false},
    {"N_UClick", TRodRule::kFixed, 'U', 0, TPeremRule::kClear, true, false},
    {"N_VClick", TRodRule::kFixed, 'V', 0, TPeremRule::kSet, true, false},
    {"N_RClick", TRodRule::kFixed, 'R', 0, TPeremRule::kClear, false, false},
    {"N_ZClick", TRodRule::kFixed, 'Z', 0, TPeremRule::kClear, false, false},
    {"N_FClick", TRodRule::kFixed, 'F', 0, TPeremRule::kKeep, false, false},
    {"N_TClick", TRodRule::kFixed, 'T', 0, TPeremRule::kKeep, false, false},
};

std::uint8_t NewPerem(TPeremRule rule, std::uint8_t perem) {
  switch (rule) {
    case TPeremRule::kKeep: return perem;
    case TPeremRule::kClear: return 0;
    case TPeremRule::kSet: return 1;
    case TPeremRule::kFlip: return perem ? 0 : 1;
  }
  return perem;
}

std::int32_t NewRod(const TFunctionKey& key, std::int32_t rod, std::uint8_t perem) {
  switch (key.rule) {
    case TRodRule::kFixed: return key.first;
    case TRodRule::kByPerem: return perem ? key.second : key.first;
    case TRodRule::kAlternate: return rod == key.first ? key.second : key.first;
    case TRodRule::kAcDcPartner:
      if (IsVoltage(rod)) return perem ? 'V' : 'U';
      if (IsCurrent(rod)) return perem ? 'J' : 'I';
      return rod;
  }
  return rod;
}

}  // namespace

void TForm1::BindKeyHandlers() {
  for (const TFunctionKey& key : kFunctionKeys) {
    AddHandler<void(TObject*)>(std::string(key.handler),
                               [this, &key](TObject*) { ChooseFunction(key); });
  }
  BindHandler("Bu_LeftClick", &TForm1::Bu_LeftClick);
  BindHandler("Bu_RightClick", &TForm1::Bu_RightClick);
  BindHandler("N2Click", &TForm1::N2Click);
  BindHandler("N3Click", &TForm1::N3Click);
  BindHandler("Bu_UpClick", &TForm1::Bu_UpClick);
  BindHandler("N_AClick", &TForm1::N_AClick);
  BindHandler("Bu_Kor0Click", &TForm1::Bu_Kor0Click);
  BindHandler("N_QClick", &TForm1::N_QClick);
  BindHandler("Bu_RazreshClick", &TForm1::Bu_RazreshClick);
  BindHandler("N_H0Click", &TForm1::N_H0Click);
  BindHandler("N_H1Click", &TForm1::N_H1Click);
  BindHandler("N_H2Click", &TForm1::N_H2Click);
  BindHandler("N_NClick", &TForm1::N_NClick);
  BindHandler("N_WClick", &TForm1::N_WClick);
  BindHandler("N_KClick", &TForm1::N_KClick);
  BindHandler("N_LClick", &TForm1::N_LClick);
  BindHandler("N_SClick", &TForm1::N_SClick);
  BindHandler("N_G0Click", &TForm1::N_G0Click);
  BindHandler("Com11Click", &TForm1::Com11Click);
  BindHandler("Com21Click", &TForm1::Com21Click);
  BindHandler("N3001Click", &TForm1::N3001Click);
  BindHandler("N6001Click", &TForm1::N6001Click);
  BindHandler("N12001Click", &TForm1::N12001Click);
  BindHandler("N24001Click", &TForm1::N24001Click);
  BindHandler("N48001Click", &TForm1::N48001Click);
  BindHandler("N96001Click", &TForm1::N96001Click);
}

void TForm1::FindKeyControls() {
  struct Slot {
    framework::TMenuItem** field;
    std::string_view name;
  };
  const Slot items[] = {
      {&N_G0, "N_G0"},     {&N_G1, "N_G1"},     {&N_I, "N_I"},       {&N_J, "N_J"},
      {&N_V, "N_V"},       {&N_U, "N_U"},       {&N_R, "N_R"},       {&N_Z, "N_Z"},
      {&N_F, "N_F"},       {&N_T, "N_T"},       {&N_H0, "N_H0"},     {&N_H1, "N_H1"},
      {&N_H2, "N_H2"},     {&N_N, "N_N"},       {&N_W, "N_W"},       {&N_A, "N_A"},
      {&N_K, "N_K"},       {&N_L, "N_L"},       {&N_S, "N_S"},       {&N_Q, "N_Q"},
      {&Com11, "Com11"},   {&Com21, "Com21"},   {&N3001, "N3001"},   {&N6001, "N6001"},
      {&N12001, "N12001"}, {&N24001, "N24001"}, {&N48001, "N48001"}, {&N96001, "N96001"},
  };
  for (const Slot& slot : items) *slot.field = &Component<TMenuItem>(slot.name);
}

// --- Shared steps -------------------------------------------------------------

// A function or range change: the display stays blank until the second
// reading after it, the first one may still belong to the old setting.
void TForm1::ShowChange() {
  La_Data->SetVisible(false);
  FlagSkipLCD = 1;
}

// While the link is down a command cannot go out, and waiting for it would
// stand the window still: the panel keeps the choice (the restore after the
// set-up carries every setting) and the strip keeps telling why.
void TForm1::Send(std::int32_t number) {
  if (!FlagLinkUp) {
    restoreOnLink_ = true;
    if (number == 11) calibrationPending_ = true;
    La_Stat->SetCaption(PanelText(FlagSvyaz ? kStatusSetup : kStatusNoLink));
    return;
  }
  CMD_Num = number;
  Ti_CMD->SetEnabled(true);
}

TMenuItem* TForm1::FunctionItem(std::int32_t rod) const {
  switch (rod) {
    case 'V': return N_V;
    case 'I': return N_I;
    case 'J': return N_J;
    case 'R': return N_R;
    case 'Z': return N_Z;
    case 'F': return N_F;
    case 'T': return N_T;
    default: return N_U;
  }
}

void TForm1::ShowSettings() {
  FunctionItem(Rod)->SetChecked(true);
  (Razresh == '0' ? N_H0 : Razresh == '1' ? N_H1 : N_H2)->SetChecked(true);
  N_G0->SetChecked(true);
  const std::pair<TMenuItem*, std::int32_t> switches[] = {
      {N_A, AVP}, {N_W, Filtr}, {N_N, KorPer}, {N_Q, KorVnesh}, {N_L, Podsvetka}, {N_S, Zvuk},
  };
  for (const auto& [item, value] : switches) item->SetChecked(value == '1');
  StatusBar();
}

void TForm1::ExtractDiap() {
  if (Rod == 'U' || Rod == 'V' || Rod == 'Z') {
    if (Diap == '5' || Diap == '6') Diap = '0';
  } else if (IsCurrent(Rod)) {
    Diap = '1';
  } else if (IsCounter(Rod)) {
    Diap = '0';
  }
}

void TForm1::StatusBar() {
  for (const FunctionText& f : kFunctionTexts) {
    if (f.rod != Rod) continue;
    StatRod = PanelText(f.stat);
    La_Forma->SetCaption(f.forma);
    if (f.unit != nullptr) La_Razmer->SetCaption(PanelText(f.unit));
  }
  if (N_A->Checked()) {
    // The instrument picks the range itself; the unit shown stays.
    StatDiap = PanelText(TESMAR_TR_NOOP("panel", "АВП"));
  } else if (const RangeText* range = FindRangeText(Rod, Diap)) {
    StatDiap = PanelText(range->stat);
    if (range->unit != nullptr) La_Razmer->SetCaption(PanelText(range->unit));
  }
  if (Zapusk == '0') StatZapusk = PanelText(TESMAR_TR_NOOP("panel", "запуск внутренний"));
  La_Stat->SetCaption(StatRod + kStatusGap + StatDiap + kStatusGap + StatZapusk);
}

// --- Function keys and menu -----------------------------------------------------

void TForm1::ChooseFunction(const TFunctionKey& key) {
  if (key.idleInCounter && FlagFT) return;
  if (key.topFromCounter && FlagFT) Diap = '4';
  ShowChange();
  FlagPerem = NewPerem(key.perem, FlagPerem);
  Rod = NewRod(key, Rod, FlagPerem);
  FlagFT = IsCounter(Rod) ? 1 : 0;
  FunctionItem(Rod)->SetChecked(true);
  ExtractDiap();
  StatusBar();
  Send(1);
}

// --- Range and modes ---------------------------------------------------------

// One range down (-1) or up (+1). Current, frequency and period have a
// single range; elsewhere the step stops at the function's ends. A refused
// step changes nothing and sends nothing.
void TForm1::StepRange(int step) {
  if (IsCurrent(Rod) || IsCounter(Rod)) return;
  const std::int32_t candidate = Diap + step;
  if (candidate < '0' || candidate > TopRange(Rod)) return;
  Diap = candidate;
  ShowChange();
  StatusBar();
  Send(1);
}

void TForm1::Bu_LeftClick(TObject*) { StepRange(-1); }
void TForm1::Bu_RightClick(TObject*) { StepRange(+1); }
void TForm1::N2Click(TObject* sender) { Bu_RightClick(sender); }
void TForm1::N3Click(TObject* sender) { Bu_LeftClick(sender); }

void TForm1::Bu_UpClick(TObject*) {
  AVP = Flag(Toggle(N_A));
  StatusBar();
  Send(4);
}

void TForm1::N_AClick(TObject* sender) { Bu_UpClick(sender); }

void TForm1::Bu_Kor0Click(TObject*) {
  // The instrument corrects the zero of DC and resistance measurements only.
  if (Rod != 'U' && Rod != 'I' && Rod != 'R' && Rod != 'Z') return;
  KorVnesh = Flag(Toggle(N_Q));
  StatusBar();
  Send(12);
}

void TForm1::N_QClick(TObject* sender) { Bu_Kor0Click(sender); }

void TForm1::Bu_RazreshClick(TObject*) {
  if (Razresh == '0') {
    Razresh = '1';
    N_H1->SetChecked(true);
  } else if (Razresh == '1') {
    Razresh = '2';
    N_H2->SetChecked(true);
  } else {
    Razresh = '0';
    N_H0->SetChecked(true);
  }
  Send(7);
}

void TForm1::N_H0Click(TObject*) {
  N_H0->SetChecked(true);
  Razresh = '0';
  Send(7);
}

void TForm1::N_H1Click(TObject*) {
  N_H1->SetChecked(true);
  Razresh = '1';
  Send(7);
}

void TForm1::N_H2Click(TObject*) {
  N_H2->SetChecked(true);
  Razresh = '2';
  Send(7);
}

void TForm1::N_NClick(TObject*) {
  KorPer = Flag(Toggle(N_N));
  StatusBar();
  Send(8);
}

void TForm1::N_WClick(TObject*) {
  Filtr = Flag(Toggle(N_W));
  StatusBar();
  Send(5);
}

void TForm1::N_KClick(TObject*) {
  // The mark only remembers the request: the instrument takes "K0" as "run
  // the calibration now" and has no other argument.
  Toggle(N_K);
  StatusBar();
  Send(11);
}

void TForm1::N_LClick(TObject*) {
  Podsvetka = Flag(Toggle(N_L));
  Send(13);
}

void TForm1::N_SClick(TObject*) {
  Zvuk = Flag(Toggle(N_S));
  Send(6);
}

void TForm1::N_G0Click(TObject*) {
  // No skipped reading here: the function and range stay, so the next
  // reading may be shown.
  La_Data->SetVisible(false);
  N_G0->SetChecked(true);
  Zapusk = '0';
  StatusBar();
  Send(3);
}

// --- Interface menu -------------------------------------------------------------

// Settings of the port apply at an open, so the port is closed, set and
// opened again. The cycle stops for the change; every open that succeeds
// runs the link start-up with the panel's settings (the instrument on the
// port may be another, or may have lost characters at the old speed). An
// open that fails raises here, after the mark has moved: the menu then
// shows what the user asked for, the port stays closed and the strip says
// "Нет связи".
//
// A port the user picks is the user's: a vanished device is no longer
// reopened by itself.
void TForm1::ReopenPort(TMenuItem* item, Word comNumber, std::int32_t baud) {
  Ti_Reopen->SetEnabled(false);
  portLost_ = false;
  item->SetChecked(true);
  StopCycle();
  restoreOnLink_ = true;
  La_Stat->SetCaption(PanelText(kStatusNoLink));
  // A trace that cannot be written is reported once the change is made.
  std::exception_ptr closeFailure;
  try {
    ClosePort();
  } catch (...) {
    closeFailure = std::current_exception();
  }
  if (comNumber != 0) SioComPort1->SetComNumber(comNumber);
  if (baud != 0) SioComPort1->SetBaud(baud);
  SioComPort1->SetOpen(true);
  PortOpened(kStatusSetup);
  if (closeFailure) std::rethrow_exception(closeFailure);
}

void TForm1::Com11Click(TObject*) { ReopenPort(Com11, 1, 0); }
void TForm1::Com21Click(TObject*) { ReopenPort(Com21, 2, 0); }
void TForm1::N3001Click(TObject*) { ReopenPort(N3001, 0, 300); }
void TForm1::N6001Click(TObject*) { ReopenPort(N6001, 0, 600); }
void TForm1::N12001Click(TObject*) { ReopenPort(N12001, 0, 1200); }
void TForm1::N24001Click(TObject*) { ReopenPort(N24001, 0, 2400); }
void TForm1::N48001Click(TObject*) { ReopenPort(N48001, 0, 4800); }
void TForm1::N96001Click(TObject*) { ReopenPort(N96001, 0, 9600); }

}  // namespace app
