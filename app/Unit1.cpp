#include "app/Unit1.h"

#include <exception>

#include "errors/SioExcept.h"
#include "framework/Application.h"
#include "framework/ExtCtrls.h"
#include "framework/Menus.h"
#include "framework/Properties.h"
#include "framework/StdCtrls.h"
#include "framework/SysUtils.h"
#include "platform/com_names.h"
#include "platform/sync.h"
#include "record/Reading.h"

namespace app {

namespace {

using Clock = std::chrono::steady_clock;
using framework::TLabel;
using framework::TObject;
using framework::TTimer;

constexpr char LF = '\n';
// What the display label holds before the first reading.
constexpr const char* kBlankReading = "               ";

// A received byte or text as the labels show it.
std::string Shown(const std::string& bytes) { return framework::Cp1251ToUtf8(bytes); }
std::string Shown(char byte) { return framework::Cp1251ToUtf8(std::string(1, byte)); }

char LowByte(std::int32_t code) { return static_cast<char>(code & 0xFF); }

}  // namespace

std::string PanelText(const char* text) { return framework::Tr("panel", text); }

ELinkSilent::ELinkSilent() : framework::Exception(PanelText(kStatusNoLink)) {}

const framework::TClassInfo& TForm1::StaticClassInfo() {
  static const framework::TClassInfo info =
      framework::DefineClass<TForm1>("TForm1", &framework::TForm::StaticClassInfo());
  return info;
}

TForm1::TForm1() : TForm1(TPortDiagnostics{}) {}

TForm1::TForm1(const TPortDiagnostics& diagnostics) : TForm1(diagnostics, std::nullopt) {}

TForm1::TForm1(const TPortDiagnostics& diagnostics, const std::optional<TSettings>& stored)
    : stored_(stored) {
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
  StartDiagnostics(diagnostics);
  DeviceIdentity = [](Word number) { return platform::ComDeviceIdentity(number); };
  Ti_Reopen = framework::NewComponent<TTimer>(*this);
  Ti_Reopen->SetName("Ti_Reopen");
  Ti_Reopen->SetEnabled(false);
  Ti_Reopen->SetInterval(kReopenIntervalMs);
  Ti_Reopen->SetOnTimer([this](TObject* sender) { Ti_ReopenTimer(sender); });
  FindKeyControls();
  FindServiceControls();
  AddOtherPortItem();
}

void TForm1::StartDiagnostics(const TPortDiagnostics& diagnostics) {
  // The largest rings: a session being diagnosed may run for hours, and its
  // beginning (the probes and the set-up) matters most. A port that failed
  // to open stores the wish; the recording starts with the open that
  // succeeds.
  try {
    if (diagnostics.traceFile) {
      SioComPort1->SetTraceName(*diagnostics.traceFile);
      SioComPort1->SetTraceSize(comport::kMaxTraceSize);
      SioComPort1->SetTracing(comport::TTraceLogState::tlOn);
    }
    if (diagnostics.logFile) {
      SioComPort1->SetLogName(*diagnostics.logFile);
      SioComPort1->SetLogSize(comport::kMaxLogSize);
      SioComPort1->SetLogging(comport::TTraceLogState::tlOn);
    }
  } catch (...) {
    framework::Application->HandleException(this);
  }
}

void TForm1::Loaded() {
  // The form is the first of its layout to finish loading, so the port
  // opens on the chosen number and speed, never on the layout's.
  const Word port = StartPort != 0 ? StartPort : stored_ ? static_cast<Word>(stored_->port) : 0;
  auto* sio = dynamic_cast<comport::TSioComPort*>(FindComponent("SioComPort1"));
  if (port != 0 && sio != nullptr) {
    sio->SetComNumber(port);
    MarkPort(port);
  }
  if (stored_ && sio != nullptr) {
    sio->SetBaud(stored_->baud);
    MarkBaud(stored_->baud);
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

std::string TForm1::RestoreText() const {
  std::string text = {LowByte(Rod),       LowByte(Diap),   'H', LowByte(Razresh), 'A',
                      LowByte(AVP),       'W',             LowByte(Filtr),        'S',
                      LowByte(Zvuk),      'N',             LowByte(KorPer),       'Q',
                      LowByte(KorVnesh),  'L',             LowByte(Podsvetka)};
  if (calibrationPending_) text += "K0";
  return text + LF;
}

void TForm1::Command() {
  // Whether the set-up restores is decided at the tick: a key pressed
  // while the set-up waited has changed the panel meanwhile.
  const bool restore = CMD_Num == 0 && restoreOnLink_;
  std::string text = CommandText(CMD_Num);
  if (restore) text += RestoreText();
  for (char c : text) SendChar(c);
  if (CMD_Num == 0) {
    FlagLinkUp = 1;
    lastReadableAt_ = Clock::now();
    if (restore) {
      restoreOnLink_ = false;
      calibrationPending_ = false;
      // The instrument answers the restore with a reading of its new
      // settings: nothing to skip.
      FlagSkipLCD = 0;
      StatusBar();
    } else {
      La_Stat->SetCaption(PanelText(kStatusSetupDone));
      La_Razmer->SetCaption("V");
    }
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

// A port operation that fails with a system error means the device went
// away under an open port: one event for the whole cycle, not a box per
// failed call.
void TForm1::GuardPort(const std::function<void()>& work) {
  try {
    work();
  } catch (const errors::EInOutError&) {
    PortLost();
  }
}

bool TForm1::FinishedWithin(std::chrono::milliseconds limit, const std::function<void()>& work) {
  stepDeadline_ = Clock::now() + limit;
  bool finished = true;
  try {
    work();
  } catch (const ELinkSilent&) {
    finished = false;
  } catch (...) {
    stepDeadline_.reset();
    throw;
  }
  stepDeadline_.reset();
  return finished;
}

// When the step's limit runs out the instrument is probed: alive, the
// step's own timer runs it again from its start (the window handles its
// events in between); silent, the link is lost.
TForm1::TStepEnd TForm1::RunTimedStep(TTimer* again, const std::function<void()>& step) {
  TStepEnd end = TStepEnd::kLost;
  GuardPort([&] {
    if (FinishedWithin(kReplyLimit, step)) {
      end = TStepEnd::kFinished;
    } else if (InstrumentAnswers()) {
      again->SetEnabled(true);
      end = TStepEnd::kAgain;
    } else {
      LinkLost();
    }
  });
  return end;
}

// Any character within kProbeLimit of the probe counts: a measurement line
// proves the instrument alive as well as the echo does.
bool TForm1::InstrumentAnswers() {
  OutChar = '!';
  SioComPort1->WriteBlock(&OutChar, 1);
  return FinishedWithin(kProbeLimit, [this] { ReturnCharC(); });
}

void TForm1::Ti_CMDTimer(TObject*) {
  Ti_CMD->SetEnabled(false);
  if (RunTimedStep(Ti_CMD, [this] { Command(); }) != TStepEnd::kFinished) return;
  if (FlagReset)
    Ti_Reset->SetEnabled(true);
  else
    Ti_Result->SetEnabled(true);
}

void TForm1::Ti_ResultTimer(TObject*) {
  Ti_Result->SetEnabled(false);
  const TStepEnd end = RunTimedStep(Ti_Result, [this] { FlagFT ? GetResultFT() : GetResult(); });
  if (end == TStepEnd::kFinished)
    Ti_LCD->SetEnabled(true);
  else if (end == TStepEnd::kAgain)
    NoReadableLines();  // a whole step went by without a line
}

void TForm1::Ti_LCDTimer(TObject*) {
  Ti_LCD->SetEnabled(false);
  for (std::size_t i = 0; i < LaRS.size(); ++i) LaRS[i]->SetCaption(Shown(RS[i]));
  const std::string text = Shown(DataStr);
  const record::Setting setting{LowByte(Rod), LowByte(Diap), LowByte(Razresh)};
  const bool readable = record::ParseReading(text, setting).kind != record::ReadingKind::Unreadable;
  const bool taken = !FlagSkipLCD;
  if (FlagSkipLCD) {
    FlagSkipLCD = 0;
  } else if (readable) {
    lastReadableAt_ = Clock::now();
    La_Data->SetVisible(true);
    La_Data->SetCaption(text);
    if (La_Stat->Caption() == PanelText(kStatusNoLines)) StatusBar();
  } else if (Clock::now() - lastReadableAt_ > kReplyLimit) {
    NoReadableLines();
  }
  GuardPort([this] {
    SioComPort1->FlushInput();
    Ti_Result->SetEnabled(true);
  });
  // The text read, not the display's caption: a flush that finds the device
  // gone has blanked the display by now.
  if (taken && OnReading) {
    framework::CallGuarded(this,
                           [&] { OnReading(text, setting.function, setting.range, setting.resolution); });
  }
}

// The instrument answers, but what it sends makes no reading: the strip
// says so and the last reading no longer stands for the present.
void TForm1::NoReadableLines() {
  La_Stat->SetCaption(PanelText(kStatusNoLines));
  La_Data->SetVisible(false);
}

// --- Link start-up, liveness check and reset -------------------------------

// Everything the general reset brings back: the settings, the mode flags
// and, so that the window shows what the panel holds, the menu marks, the
// AC/DC sign and the unit.
void TForm1::ResetPanel() {
  InitCMD_ARR();
  FlagPerem = 0;
  FlagFT = 0;
  calibrationPending_ = false;
  N_K->SetChecked(false);
  ShowSettings();
}

// The port is flushed first: a start-up that cannot reach the port ends
// there and changes nothing.
void TForm1::LinkStartUp(const char* status) {
  SioComPort1->FlushInput();
  SioComPort1->FlushOutput();
  ResetPanel();
  restoreOnLink_ = false;
  ProbeFlushed(status);
}

// The start of the program: the panel's settings stand (the menus show
// them) and go to the instrument after the set-up. The user's stored
// settings stand in for the defaults until a general reset.
void TForm1::StartKeepingSettings() {
  SioComPort1->FlushInput();
  SioComPort1->FlushOutput();
  if (stored_) RestorePanel(stored_->panel);
  ShowSettings();
  restoreOnLink_ = true;
  ProbeFlushed(kStatusSetup);
}

void TForm1::BeginProbing(const char* status) {
  SioComPort1->FlushInput();
  SioComPort1->FlushOutput();
  ProbeFlushed(status);
}

void TForm1::ProbeFlushed(const char* status) {
  LineComplete = 0;
  FlagSvyaz = 0;
  FlagSkipLCD = 0;
  FlagReset = 0;
  FlagLinkUp = 0;
  La_Stat->SetCaption(PanelText(status));
  OutChar = '!';
  SioComPort1->WriteBlock(&OutChar, 1);
  Ti_Diag->SetEnabled(true);
}

void TForm1::StopCycle() {
  Ti_CMD->SetEnabled(false);
  Ti_Result->SetEnabled(false);
  Ti_LCD->SetEnabled(false);
  Ti_Diag->SetEnabled(false);
  FlagLinkUp = 0;
  FlagSvyaz = 0;
  // A reset cut short by the loss still counts: the panel takes the
  // defaults, and the restore brings the instrument to them.
  if (FlagReset) ResetPanel();
  // The last reading belongs to a link that is gone; it must not stand
  // beside the unit of whatever comes back.
  La_Data->SetVisible(false);
  La_Data->SetCaption(kBlankReading);
}

void TForm1::RaiseLinkLost() {
  if (!FlagLinkUp || !OnLinkLost) return;
  framework::CallGuarded(this, [this] { OnLinkLost(LowByte(Rod), LowByte(Diap), LowByte(Razresh)); });
}

// The instrument stopped answering: probe until it answers again, then
// restore what the panel holds.
void TForm1::LinkLost() {
  RaiseLinkLost();
  StopCycle();
  restoreOnLink_ = true;
  BeginProbing(kStatusNoLink);
}

void TForm1::PortLost() {
  RaiseLinkLost();
  StopCycle();
  WaitForPort();
  ClosePort();
}

// Ti_Reopen takes over: the port is tried again every second, silently.
void TForm1::WaitForPort() {
  restoreOnLink_ = true;
  portLost_ = true;
  La_Stat->SetCaption(PanelText(kStatusNoLink));
  Ti_Reopen->SetEnabled(true);
}

void TForm1::ClosePort() {
  using comport::TTraceLogState;
  const bool tracing = SioComPort1->Tracing() != TTraceLogState::tlOff;
  const bool logging = SioComPort1->Logging() != TTraceLogState::tlOff;
  // A trace or log that cannot be written does not end the diagnostics:
  // the next session may find room again.
  std::exception_ptr failure;
  try {
    SioComPort1->SetOpen(false);
  } catch (...) {
    failure = std::current_exception();
  }
  // Closed, the port stores these and begins both at its next open.
  if (tracing) SioComPort1->SetTracing(TTraceLogState::tlOn);
  if (logging) SioComPort1->SetLogging(TTraceLogState::tlOn);
  if (failure) std::rethrow_exception(failure);
}

void TForm1::PortOpened(const char* status) {
  deviceIdentity_ = DeviceIdentity(SioComPort1->ComNumber());
  GuardPort([&] { BeginProbing(status); });
}

// A device the system cannot name is taken as it comes; a named one only
// under the same name (a by-id link still missing just after plugging in
// differs too, and is taken at a later try).
bool TForm1::SameDevice() const {
  return deviceIdentity_.empty() || DeviceIdentity(SioComPort1->ComNumber()) == deviceIdentity_;
}

// Every second until an instrument answers on it, the port is closed and
// opened again: the COM number may lead to another device now (an adapter
// plugged in again, a link made anew), and only an open finds that out.
void TForm1::Ti_ReopenTimer(TObject*) {
  Ti_Reopen->SetEnabled(false);
  if (!portLost_) return;
  if (FlagSvyaz) {
    portLost_ = false;  // answered: the start-up goes on from here
    return;
  }
  Ti_Diag->SetEnabled(false);
  Ti_Reopen->SetEnabled(true);
  try {
    ClosePort();
    SioComPort1->SetOpen(true);
    // Another device under the old name is left alone: nothing is sent.
    if (SioComPort1->Open() && !SameDevice()) ClosePort();
  } catch (const framework::Exception&) {
    return;  // still gone: no box each second
  }
  if (SioComPort1->Open()) PortOpened(kStatusNoLink);
}

void TForm1::FormCreate(TObject*) {
  // The port's own open has failed and said so once.
  if (!SioComPort1->Open()) {
    WaitForPort();
    return;
  }
  deviceIdentity_ = DeviceIdentity(SioComPort1->ComNumber());
  StartKeepingSettings();
}

// Enabled in the layout, the first tick repeats the start; later ones
// finish a general reset.
void TForm1::Ti_ResetTimer(TObject*) {
  Ti_Reset->SetEnabled(false);
  if (portLost_) return;  // Ti_Reopen brings the link up when the port opens
  GuardPort([this] {
    if (FlagReset)
      LinkStartUp(kStatusSetup);
    else
      StartKeepingSettings();
  });
}

void TForm1::SioComPort1Trigger(TObject*, Word, Word, Word) {
  if (FlagSvyaz) return;
  GuardPort([this] {
    // The characters announced may already be gone (a start-up flushed
    // them before this message was handled): then there is nothing to
    // look at.
    if (!SioComPort1->CharAvailable()) return;
    SioComPort1->ReadBlock(&TrigChar, 1);
    La_FlagDiap->SetCaption(framework::IntToStr(static_cast<unsigned char>(TrigChar)));
    if (TrigChar == '!') FlagSvyaz = 1;
    SioComPort1->FlushInput();
    SioComPort1->FlushOutput();
  });
}

void TForm1::Ti_DiagTimer(TObject*) {
  Ti_Diag->SetEnabled(false);
  if (FlagSvyaz) {
    La_Stat->SetCaption(PanelText(kStatusSetup));
    La_Data->SetVisible(true);
    La_Razmer->SetVisible(true);
    La_Forma->SetVisible(true);
    CMD_Num = 0;
    Ti_CMD->SetEnabled(true);
    return;
  }
  La_Stat->SetCaption(PanelText(kStatusNoLink));
  GuardPort([this] {
    OutChar = '!';
    SioComPort1->WriteBlock(&OutChar, 1);
    Ti_Diag->SetEnabled(true);
  });
}

void TForm1::N19Click(TObject*) {
  stored_.reset();  // a general reset means the defaults
  if (!FlagLinkUp) {
    // Nothing to send the reset to: the panel takes its defaults now and
    // the instrument is brought to them when it answers again.
    const std::string strip = La_Stat->Caption();
    ResetPanel();
    restoreOnLink_ = true;
    La_Data->SetVisible(false);
    La_Stat->SetCaption(strip);
    return;
  }
  La_Data->SetVisible(false);
  FlagSkipLCD = 1;
  FlagReset = 1;
  La_Stat->SetCaption(PanelText(kStatusReset));
  CMD_Num = 15;
  Ti_CMD->SetEnabled(true);
}

}  // namespace app
