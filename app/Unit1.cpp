#include "app/Unit1.h"

#include "framework/Application.h"
#include "framework/ExtCtrls.h"
#include "framework/Menus.h"
#include "framework/Properties.h"
#include "framework/StdCtrls.h"
#include "framework/SysUtils.h"
#include "platform/sync.h"

namespace app {

namespace {

using Clock = std::chrono::steady_clock;
using framework::TLabel;
using framework::TObject;
using framework::TTimer;

constexpr char LF = '\n';

// A received byte or text as the labels show it.
std::string Shown(const std::string& bytes) { return framework::Cp1251ToUtf8(bytes); }
std::string Shown(char byte) { return framework::Cp1251ToUtf8(std::string(1, byte)); }

char LowByte(std::int32_t code) { return static_cast<char>(code & 0xFF); }

}  // namespace

ELinkSilent::ELinkSilent() : framework::Exception(kStatusNoLink) {}

const framework::TClassInfo& TForm1::StaticClassInfo() {
  static const framework::TClassInfo info =
      framework::DefineClass<TForm1>("TForm1", &framework::TForm::StaticClassInfo());
  return info;
}

TForm1::TForm1() {
  comport::RegisterComponents();
  BindHandler("FormCreate", &TForm1::FormCreate);
  BindHandler("SioComPort1Trigger", &TForm1::SioComPort1Trigger);
  BindHandler("Ti_CMDTimer", &TForm1::Ti_CMDTimer);
  BindHandler("Ti_ResultTimer", &TForm1::Ti_ResultTimer);
  BindHandler("Ti_LCDTimer", &TForm1::Ti_LCDTimer);
  BindHandler("Ti_DiagTimer", &TForm1::Ti_DiagTimer);
  BindHandler("Ti_ResetTimer", &TForm1::Ti_ResetTimer);
  BindHandler("N19Click", &TForm1::N19Click);
  BindKeyHandlers();
  BindServiceHandlers();
  LoadLayout("UNIT1");
  La_Data = &Component<TLabel>("La_Data");
  La_Razmer = &Component<TLabel>("La_Razmer");
  La_Forma = &Component<TLabel>("La_Forma");
  La_Stat = &Component<TLabel>("La_Stat");
  La_FlagDiap = &Component<TLabel>("La_FlagDiap");
  for (std::size_t i = 0; i < LaRS.size(); ++i)
    LaRS[i] = &Component<TLabel>("LaRS" + std::to_string(i));
  Ti_CMD = &Component<TTimer>("Ti_CMD");
  Ti_Result = &Component<TTimer>("Ti_Result");
  Ti_LCD = &Component<TTimer>("Ti_LCD");
  Ti_Diag = &Component<TTimer>("Ti_Diag");
  Ti_Reset = &Component<TTimer>("Ti_Reset");
  SioComPort1 = &Component<comport::TSioComPort>("SioComPort1");
  FindKeyControls();
  FindServiceControls();
}

void TForm1::Loaded() {
  // The form is the first of its layout to finish loading, so the port
  // opens on the chosen number, never on the layout's first.
  if (StartPort != 0) {
    if (auto* port = dynamic_cast<comport::TSioComPort*>(FindComponent("SioComPort1")))
      port->SetComNumber(StartPort);
    // The "Интерфейс" marks tell the port in use: Com1, Com2 or neither.
    if (auto* com1 = dynamic_cast<framework::TMenuItem*>(FindComponent("Com11")))
      com1->SetChecked(StartPort == 1);
    if (auto* com2 = dynamic_cast<framework::TMenuItem*>(FindComponent("Com21")))
      com2->SetChecked(StartPort == 2);
  }
  framework::TForm::Loaded();
}

// --- Protocol ----------------------------------------------------------------

char TForm1::ReturnCharC() {
  const Clock::time_point deadline = stepDeadline_.value_or(Clock::now() + kReplyLimit);
  bool got = false;
  while (!got) {
    if (SioComPort1->CharAvailable()) {
      CharC = SioComPort1->ReadChar();
      got = true;
    } else if (Clock::now() >= deadline) {
      throw ELinkSilent();
    } else {
      // The worker threads fill the input meanwhile; no window event is
      // handled here, by design of the exchange.
      platform::Sleep(kPollPauseMs);
    }
  }
  return CharC;
}

void TForm1::SendChar(char c) {
  // The instrument keeps streaming measurement lines, and up to a second of
  // them waits unread between two readings. Taken as answers they would
  // let a whole command line out at wire speed; the pacing the instrument
  // relies on needs a character that comes after this one was sent.
  SioComPort1->FlushInput();
  OutChar = c;
  SioComPort1->WriteBlock(&OutChar, 1);
  // The answer only paces the sending; what it is does not matter.
  ReturnCharC();
}

std::string TForm1::CommandText(std::int32_t number) const {
  switch (number) {
    case 0: return std::string("G0B1Y0B1M1") + LF;
    case 1: return {LowByte(Rod), LowByte(Diap), LF};
    case 3: return {'G', LowByte(Zapusk), 'B', '1', LF};
    case 4: return {'A', LowByte(AVP), LF};
    case 5: return {'W', LowByte(Filtr), LF};
    case 6: return {'S', LowByte(Zvuk), LF};
    case 7: return {'H', LowByte(Razresh), LF};
    case 8: return {'N', LowByte(KorPer), LF};
    case 11: return {'K', '0', LF};
    case 12: return {'Q', LowByte(KorVnesh), LF};
    case 13: return {'L', LowByte(Podsvetka), LF};
    case 15: return {'X', '0', LF};
    default: return {};
  }
}

void TForm1::Command() {
  for (char c : CommandText(CMD_Num)) SendChar(c);
  if (CMD_Num == 0) {
    La_Stat->SetCaption(kStatusSetupDone);
    La_Razmer->SetCaption("V");
  } else if (CMD_Num == 1) {
    Ti_Result->SetEnabled(true);
  }
}

void TForm1::InitCMD_ARR() {
  Rod = 'U';
  Diap = '1';
  Zapusk = '0';
  AVP = '0';
  Filtr = '0';
  Zvuk = '1';
  Razresh = '2';
  KorPer = '0';
  KorVnesh = '0';
  Podsvetka = '1';
}

// Reads up to and including the next LF, so that reading starts at the
// first character of a whole line.
void TForm1::SyncToLine() {
  LineComplete = 0;
  do {
    const char c = ReturnCharC();
    LaRS[1]->SetCaption(Shown(c));
    if (c == LF) LineComplete = 1;
  } while (!LineComplete);
  for (TLabel* cell : LaRS) cell->SetCaption("-----");
}

char TForm1::ReadCell(int index) {
  const char c = ReturnCharC();
  DataStr += c;
  RS[static_cast<std::size_t>(index)] = std::string(1, c);
  return c;
}

void TForm1::GetResult() {
  SyncToLine();
  const char first = ReturnCharC();
  DataStr = std::string(1, first);
  LaRS[0]->SetCaption(Shown(first));
  for (int i = 1; i <= 6; ++i) ReadCell(i);
  if (Razresh == '1' || Razresh == '2') ReadCell(7);
  if (Razresh == '2') ReadCell(8);
}

void TForm1::GetResultFT() {
  SyncToLine();
  ReturnCharC();  // the counter's sign place: not shown
  DataStr = " ";
  for (int i = 1; i <= 7; ++i) ReadCell(i);
}

// --- Measurement cycle -----------------------------------------------------

template <class Step>
bool TForm1::RunTimedStep(Step step) {
  stepDeadline_ = Clock::now() + kReplyLimit;
  try {
    step();
  } catch (const ELinkSilent&) {
    stepDeadline_.reset();
    LinkLost();
    return false;
  } catch (...) {
    stepDeadline_.reset();
    throw;
  }
  stepDeadline_.reset();
  return true;
}

void TForm1::Ti_CMDTimer(TObject*) {
  Ti_CMD->SetEnabled(false);
  if (!RunTimedStep([this] { Command(); })) return;
  if (FlagReset)
    Ti_Reset->SetEnabled(true);
  else
    Ti_Result->SetEnabled(true);
}

void TForm1::Ti_ResultTimer(TObject*) {
  Ti_Result->SetEnabled(false);
  if (!RunTimedStep([this] { FlagFT ? GetResultFT() : GetResult(); })) return;
  Ti_LCD->SetEnabled(true);
}

void TForm1::Ti_LCDTimer(TObject*) {
  Ti_LCD->SetEnabled(false);
  for (std::size_t i = 0; i < LaRS.size(); ++i) LaRS[i]->SetCaption(Shown(RS[i]));
  const bool shown = !FlagSkipLCD;
  if (FlagSkipLCD) {
    FlagSkipLCD = 0;
  } else {
    La_Data->SetVisible(true);
    La_Data->SetCaption(Shown(DataStr));
  }
  SioComPort1->FlushInput();
  Ti_Result->SetEnabled(true);
  if (shown && OnReading) {
    framework::CallGuarded(this, [this] {
      OnReading(La_Data->Caption(), LowByte(Rod), LowByte(Diap), LowByte(Razresh));
    });
  }
}

// --- Link start-up, liveness check and reset -------------------------------

void TForm1::LinkStartUp(const char* status) {
  SioComPort1->FlushInput();
  SioComPort1->FlushOutput();
  InitCMD_ARR();
  LineComplete = 0;
  FlagPerem = 0;
  FlagFT = 0;
  FlagSvyaz = 0;
  FlagSkipLCD = 0;
  FlagReset = 0;
  La_Stat->SetCaption(status);
  OutChar = '!';
  SioComPort1->WriteBlock(&OutChar, 1);
  Ti_Diag->SetEnabled(true);
}

// The instrument stopped answering in the middle of a step: stop the cycle
// and probe until it answers again.
void TForm1::LinkLost() {
  Ti_CMD->SetEnabled(false);
  Ti_Result->SetEnabled(false);
  Ti_LCD->SetEnabled(false);
  La_Data->SetVisible(false);
  LinkStartUp(kStatusNoLink);
}

void TForm1::FormCreate(TObject*) { LinkStartUp(kStatusSetup); }

void TForm1::Ti_ResetTimer(TObject*) {
  Ti_Reset->SetEnabled(false);
  LinkStartUp(kStatusSetup);
}

void TForm1::SioComPort1Trigger(TObject*, Word, Word, Word) {
  if (FlagSvyaz) return;
  // The characters announced may already be gone (a start-up flushed them
  // before this message was handled): then there is nothing to look at.
  if (!SioComPort1->CharAvailable()) return;
  SioComPort1->ReadBlock(&TrigChar, 1);
  La_FlagDiap->SetCaption(framework::IntToStr(static_cast<unsigned char>(TrigChar)));
  if (TrigChar == '!') FlagSvyaz = 1;
  SioComPort1->FlushInput();
  SioComPort1->FlushOutput();
}

void TForm1::Ti_DiagTimer(TObject*) {
  Ti_Diag->SetEnabled(false);
  if (FlagSvyaz) {
    La_Stat->SetCaption(kStatusSetup);
    La_Data->SetVisible(true);
    La_Razmer->SetVisible(true);
    La_Forma->SetVisible(true);
    CMD_Num = 0;
    Ti_CMD->SetEnabled(true);
    return;
  }
  La_Stat->SetCaption(kStatusNoLink);
  OutChar = '!';
  SioComPort1->WriteBlock(&OutChar, 1);
  Ti_Diag->SetEnabled(true);
}

void TForm1::N19Click(TObject*) {
  La_Data->SetVisible(false);
  FlagSkipLCD = 1;
  FlagReset = 1;
  La_Stat->SetCaption(kStatusReset);
  CMD_Num = 15;
  Ti_CMD->SetEnabled(true);
}

}  // namespace app
