// The main window: the front panel of the K4-18/3 multimeter.
//
// TForm1 holds the panel state (the instrument settings the window mirrors,
// the cycle and mode flags, the command selector and the reply buffers),
// the instrument protocol and the measurement cycle: a chain of one-shot
// timers that sends a pending command (Ti_CMD), reads one measurement line
// (Ti_Result), shows it (Ti_LCD) and reads again. Before the first command
// the link start-up probes the line with '!' every 500 ms (Ti_Diag) until
// the instrument answers '!', then sends the set-up command. The general
// reset (N19Click) resets the instrument and runs the start-up again.
//
// The protocol: every character goes out alone and the window waits for
// exactly one character back before the next (ReturnCharC; what was
// received before the character went out does not count); a measurement
// line is read by synchronising on LF and counting 7, 8 or 9 characters
// (a space plus seven for frequency and period). Received bytes are the
// instrument's 8-bit Cyrillic code page and are shown decoded.
//
// The keys and menus (Unit1Keys.cpp) only change the panel state, keep the
// menu marks in step, rebuild the status line (StatusBar) and pick a
// command (CMD_Num) for the next Ti_CMD tick; the port and speed items
// reopen the port. The hidden service panel Pa_Otl (Unit1Service.cpp)
// sends single raw codes, flushes, and reads one line into its cells.
//
// A silent instrument: each step of the cycle that reads (the command step
// and the reading step) has kReplyLimit to finish. When it runs out the
// step probes once with '!'. An instrument that answers within kProbeLimit
// is alive, only slow: the step is run again from its start by its own
// timer (a command is sent again whole, since '!' cleared the instrument's
// command buffer; a reading synchronises on the next LF). Only an
// instrument that answers nothing is lost: the cycle stops, the status
// strip shows "Нет связи" and probing starts, keeping the panel's settings.
// While a step waits, the window handles no event, but the waiting thread
// sleeps between polls.
//
// Panel and instrument agree. The instrument keeps its settings between
// sessions, so the set-up command alone may leave it on whatever an earlier
// session chose. Every set-up on a link the panel did not just reset is
// therefore followed by one line that puts the instrument into the panel's
// function, range, resolution and switches (RestoreText): at the program's
// start, after any open of the port, and once an instrument that was lost
// answers again. The start keeps the panel's settings as they stand (the
// defaults, or the user's stored settings until the first general reset); only
// the general reset brings the panel back to its defaults, menus and sign
// included, and sends no restore (the instrument was reset alike). While
// the link is down (FlagLinkUp clear) keys and menus change the panel and
// its marks but send nothing; the restore carries their choice, and an
// auto-calibration asked for meanwhile goes out with it.
//
// Readings the panel cannot read. A line whose counted characters are no
// reading (a line cut short, garbage; record::ParseReading says
// unreadable) is not shown: the display keeps its last reading. When no
// readable line has come for longer than kReplyLimit, while the instrument
// still answers the probe (lines without LF, a cut or garbled stream, the
// stream switched off), the strip says so (kStatusNoLines) and the display
// is blanked, until a readable line comes again.
//
// A vanished device (a port operation fails with a system error,
// errors::EInOutError, e.g. an unplugged adapter) is one event: no message
// box, the cycle stops, the strip shows "Нет связи", the port is closed and
// Ti_Reopen opens the same port again every kReopenIntervalMs. Only the
// same device is taken back: when the system names the device (its stable
// name in /dev/serial/by-id, its USB serial number; DeviceIdentity), a
// device with another name under the same COM number is closed again
// before anything is sent to it. Once it opens, probing and the restore
// follow as for a lost link. A port that fails to open at the start is
// tried the same way, silently after the first message. A port the user
// closes or changes from the "Интерфейс" menu is not reopened by itself;
// every successful open from there runs the link start-up.
//
// Outages: when a measuring panel loses the link or the device, OnLinkLost
// is raised once, so that a recorder can mark the gap.
//
// Diagnostics: a close writes the port's trace and dispatch log and ends
// them. The panel's own closes (a port or speed change, a vanished device,
// a reopen) begin them again with the next open, so that a trace or log
// asked for at the start covers the whole run; the port component appends
// each later session to the file its first one wrote.
//
// Thread safety: the window's thread only; every handler runs there.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/CommandLine.h"
#include "app/Settings.h"
#include "comport/SioPort.h"
#include "framework/Forms.h"
#include "framework/view/Language.h"

namespace framework {
class TEdit;
class TLabel;
class TMenuItem;
class TTimer;
}  // namespace framework

namespace app {

using comport::Word;

// How long one step of the cycle may wait for the instrument in all. At
// 300 baud (7E1: ten bits, 33 ms a character) the longest healthy step is
// the reading: up to one instrument interval before the next line begins
// (about a second at 5 1/2 digits), the rest of a line of up to 17
// characters with its LF (0.57 s) and the 9 characters read (0.3 s), about
// 1.9 s; the set-up command's 11 paced characters take 0.73 s. Three
// seconds leave half as much again, and no longer than that does the
// window stand still when the instrument has gone.
inline constexpr std::chrono::milliseconds kReplyLimit{3000};
// The pause between two polls of a waiting step: shorter than a character
// at the fastest speed (1.04 ms at 9600 baud is the order), long enough to
// leave the processor to others.
inline constexpr unsigned kPollPauseMs = 1;
// How long a step whose limit ran out waits for the answer to its probe:
// the echo of one character takes 70 ms at 300 baud; the rest is room for
// a loaded machine. With kReplyLimit and the second a reading step may
// start after the last line, a silence is judged in 4.6 s at most.
inline constexpr std::chrono::milliseconds kProbeLimit{500};
// How often a port whose device vanished is tried again.
inline constexpr unsigned kReopenIntervalMs = 1000;

// Raised by ReturnCharC when the running step's time is up.
class ELinkSilent : public framework::Exception {
 public:
  ELinkSilent();
};

// Texts of the status strip, as stored (Russian); the strip shows them
// through PanelText.
inline constexpr const char* kStatusSetup = TESMAR_TR_NOOP("panel", "Настройка прибора");
inline constexpr const char* kStatusNoLink = TESMAR_TR_NOOP("panel", "Нет связи");
inline constexpr const char* kStatusReset = TESMAR_TR_NOOP("panel", "Сброс");
// The instrument answers the probe but no readable measurement line came.
inline constexpr const char* kStatusNoLines = TESMAR_TR_NOOP("panel", "Прибор отвечает, строк измерения нет");
inline constexpr const char* kStatusSetupDone =
    TESMAR_TR_NOOP("panel", "функция U=   диапазон измерения 2V   запуск внутренний");

// A text of the panel (status strip, unit, message) in the windows'
// language (framework/view/Language.h).
std::string PanelText(const char* text);
// The three parts of the status line StatusBar builds are joined by this.
inline constexpr const char* kStatusGap = "   ";

// One row of the function keys' table (Unit1Keys.cpp).
struct TFunctionKey;

class TForm1 : public framework::TForm {
 public:
  TForm1();
  // The window with the port's trace or dispatch log switched on as soon as
  // its layout is loaded (before the link start-up), written to the given
  // files when the port closes.
  explicit TForm1(const TPortDiagnostics& diagnostics);
  // The window with the user's stored settings (app/Settings.h): the port
  // (unless StartPort names one) and the line speed it opens with, and the
  // panel settings that replace the defaults at the first link start-up,
  // sent to the instrument by the restore line after the set-up command.
  TForm1(const TPortDiagnostics& diagnostics, const std::optional<TSettings>& stored);
  static const framework::TClassInfo& StaticClassInfo();
  const framework::TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  // --- Controls of the layout -----------------------------------------
  framework::TLabel* La_Data = nullptr;
  framework::TLabel* La_Razmer = nullptr;
  framework::TLabel* La_Forma = nullptr;
  framework::TLabel* La_Stat = nullptr;
  framework::TLabel* La_FlagDiap = nullptr;
  std::array<framework::TLabel*, 12> LaRS{};
  framework::TTimer* Ti_CMD = nullptr;
  framework::TTimer* Ti_Result = nullptr;
  framework::TTimer* Ti_LCD = nullptr;
  framework::TTimer* Ti_Diag = nullptr;
  framework::TTimer* Ti_Reset = nullptr;
  // Not in the stored layout: reopens a port whose device vanished.
  framework::TTimer* Ti_Reopen = nullptr;
  comport::TSioComPort* SioComPort1 = nullptr;
  // Menu items whose marks the handlers set.
  framework::TMenuItem* N_G0 = nullptr;
  framework::TMenuItem* N_G1 = nullptr;
  framework::TMenuItem* N_I = nullptr;
  framework::TMenuItem* N_J = nullptr;
  framework::TMenuItem* N_V = nullptr;
  framework::TMenuItem* N_U = nullptr;
  framework::TMenuItem* N_R = nullptr;
  framework::TMenuItem* N_Z = nullptr;
  framework::TMenuItem* N_F = nullptr;
  framework::TMenuItem* N_T = nullptr;
  framework::TMenuItem* N_H0 = nullptr;
  framework::TMenuItem* N_H1 = nullptr;
  framework::TMenuItem* N_H2 = nullptr;
  framework::TMenuItem* N_N = nullptr;
  framework::TMenuItem* N_W = nullptr;
  framework::TMenuItem* N_A = nullptr;
  framework::TMenuItem* N_K = nullptr;
  framework::TMenuItem* N_L = nullptr;
  framework::TMenuItem* N_S = nullptr;
  framework::TMenuItem* N_Q = nullptr;
  framework::TMenuItem* Com11 = nullptr;
  framework::TMenuItem* Com21 = nullptr;
  // Not in the stored layout: "Другой порт…" after Com1 and Com2, checked
  // while a port other than those two is in use.
  framework::TMenuItem* N_ComOther = nullptr;
  framework::TMenuItem* N3001 = nullptr;
  framework::TMenuItem* N6001 = nullptr;
  framework::TMenuItem* N12001 = nullptr;
  framework::TMenuItem* N24001 = nullptr;
  framework::TMenuItem* N48001 = nullptr;
  framework::TMenuItem* N96001 = nullptr;
  // The service panel's fields that its buttons read or write.
  framework::TEdit* Ed_Rod = nullptr;
  framework::TEdit* Ed_Diap = nullptr;
  framework::TEdit* Ed_ClearBuf = nullptr;
  framework::TEdit* Ed_EndStr = nullptr;
  framework::TLabel* La_Bufer = nullptr;
  framework::TLabel* La_Count = nullptr;

  // --- Panel state ----------------------------------------------------
  // Instrument settings: the argument characters of their commands.
  std::int32_t Rod = 'U';
  std::int32_t Diap = '1';
  std::int32_t Zapusk = '0';
  std::int32_t AVP = '0';
  std::int32_t Filtr = '0';
  std::int32_t Zvuk = '1';
  std::int32_t Razresh = '2';
  std::int32_t KorPer = '0';
  std::int32_t KorVnesh = '0';
  std::int32_t Podsvetka = '1';
  // Cycle and mode flags.
  std::uint8_t FlagPerem = 0;
  std::uint8_t FlagFT = 0;
  std::uint8_t FlagSvyaz = 0;
  std::uint8_t FlagSkipLCD = 0;
  std::uint8_t FlagReset = 0;
  std::uint8_t LineComplete = 0;
  // The set-up command has gone out on a live link: commands may be sent.
  // Clear while probing and setting up and after the link or port is lost.
  std::uint8_t FlagLinkUp = 0;
  // Which command the next Ti_CMD tick sends; never cleared by the tick.
  std::int32_t CMD_Num = 0;
  // Reply and display buffers, in the instrument's code page.
  char CharC = '\0';
  char OutChar = '\0';
  char TrigChar = '\0';
  std::string DataStr;
  std::array<std::string, 12> RS{};
  // Status-line pieces kept between StatusBar calls: function, range and
  // trigger text.
  std::string StatRod;
  std::string StatDiap;
  std::string StatZapusk;
  // Characters sent with the service panel's Go and CR buttons since the
  // last clear.
  std::uint32_t CountBufer = 0;

  // --- Operations -------------------------------------------------------
  // Waits for one received character (at most until the running step's
  // time is up; ELinkSilent then), keeps it in CharC and returns it.
  char ReturnCharC();
  // Sends the command chosen by CMD_Num, each character paced.
  void Command();
  // Reads one measurement line: normal layout / frequency and period.
  void GetResult();
  void GetResultFT();
  // The instrument settings' defaults.
  void InitCMD_ARR();

  // Raised by the display step for every reading it takes, after the cycle
  // has moved on: the text as read (UTF-8; the display shows it unless it
  // is unreadable) and the function, range and resolution (Rod, Diap,
  // Razresh) it was read at. Readings the display skips after a function
  // or range change are not raised. An exception from the handler goes to
  // the application's handling and does not stop the cycle.
  std::function<void(const std::string& text, char function, char range, char resolution)>
      OnReading;
  // Raised once when a measuring panel loses the link (the instrument fell
  // silent) or the device (it vanished), with the settings the panel holds.
  std::function<void(char function, char range, char resolution)> OnLinkLost;
  // The system's name for the device behind COM `number` ("" when it gives
  // none); by default platform::ComDeviceIdentity. An automatic reopen
  // takes the device only when this is what it was when the port last
  // opened (or was "" then).
  std::function<std::string(Word number)> DeviceIdentity;
  // The COM port number the window opens when its layout has been read; 0
  // keeps the layout's. Set before the window is made (the command line's
  // --port).
  static inline Word StartPort = 0;
  void Loaded() override;
  // The panel's present settings, as the settings file keeps them.
  TPanelSettings PanelSettings() const;
  // Puts the port, the line speed and the panel's settings into `settings`.
  void KeepSettings(TSettings& settings) const;
  // Takes `settings` as the panel's (a range the function lacks is brought
  // into its ranges) with their marks, unit and sign; the instrument gets
  // them with the restore line of the next set-up. The strip keeps its text
  // until then.
  void RestorePanel(const TPanelSettings& settings);
  // The characters command selector `number` sends ("" for none).
  std::string CommandText(std::int32_t number) const;
  // The line that puts the instrument into the panel's settings: function
  // and range, resolution, auto-ranging, filter, sound, periodic and
  // external zero, backlight ("K0" too when an auto-calibration waits).
  std::string RestoreText() const;
  // Brings Diap into the ranges the function Rod allows: 'U', 'V', 'Z'
  // '0'..'4' ('5', '6' become '0'), 'R' any, 'I', 'J' '1', 'F', 'T' '0'.
  void ExtractDiap();
  // Rebuilds the status line (and the unit and AC/DC labels) from Rod,
  // Diap, Zapusk and the auto-ranging mark.
  void StatusBar();
  // Sets every menu mark from the panel state (function, resolution,
  // trigger and the switches; auto-calibration unmarked after a reset
  // only), then StatusBar.
  void ShowSettings();

  // --- Handlers ---------------------------------------------------------
  void FormCreate(framework::TObject* Sender);
  void SioComPort1Trigger(framework::TObject* CP, Word Msg, Word TriggerHandle, Word Data);
  void Ti_CMDTimer(framework::TObject* Sender);
  void Ti_ResultTimer(framework::TObject* Sender);
  void Ti_LCDTimer(framework::TObject* Sender);
  void Ti_DiagTimer(framework::TObject* Sender);
  void Ti_ResetTimer(framework::TObject* Sender);
  void N19Click(framework::TObject* Sender);
  void Ti_ReopenTimer(framework::TObject* Sender);
  // The function keys and the function menu (Bu_UClick, Bu_IClick,
  // Bu_RodAddClick, Bu_RClick, ButtonFTClick, N_IClick ... N_TClick) are
  // rows of one table, bound by those names to ChooseFunction.
  // Range and mode keys and the "Режим" menu.
  void Bu_LeftClick(framework::TObject* Sender);
  void Bu_RightClick(framework::TObject* Sender);
  void N2Click(framework::TObject* Sender);
  void N3Click(framework::TObject* Sender);
  void Bu_UpClick(framework::TObject* Sender);
  void N_AClick(framework::TObject* Sender);
  void Bu_Kor0Click(framework::TObject* Sender);
  void N_QClick(framework::TObject* Sender);
  void Bu_RazreshClick(framework::TObject* Sender);
  void N_H0Click(framework::TObject* Sender);
  void N_H1Click(framework::TObject* Sender);
  void N_H2Click(framework::TObject* Sender);
  void N_NClick(framework::TObject* Sender);
  void N_WClick(framework::TObject* Sender);
  void N_KClick(framework::TObject* Sender);
  void N_LClick(framework::TObject* Sender);
  void N_SClick(framework::TObject* Sender);
  void N_G0Click(framework::TObject* Sender);
  // "Интерфейс": port and line speed; each reopens the port (a failure
  // raises the port's exception after the mark has moved).
  void Com11Click(framework::TObject* Sender);
  void Com21Click(framework::TObject* Sender);
  // Asks for a port with the port selection dialog (comport::SelectPort)
  // and switches to it as the Com items do; Cancel changes nothing.
  void N_ComOtherClick(framework::TObject* Sender);
  void N3001Click(framework::TObject* Sender);
  void N6001Click(framework::TObject* Sender);
  void N12001Click(framework::TObject* Sender);
  void N24001Click(framework::TObject* Sender);
  void N48001Click(framework::TObject* Sender);
  void N96001Click(framework::TObject* Sender);
  // The service panel. A code field that holds no integer raises
  // EConvertError and nothing is sent.
  void Button2Click(framework::TObject* Sender);
  void Button3Click(framework::TObject* Sender);
  void Bu_CRClick(framework::TObject* Sender);
  void Bu_ClearBufClick(framework::TObject* Sender);
  void Bu_ResetClick(framework::TObject* Sender);
  void Button14Click(framework::TObject* Sender);
  // Reads one measurement line into the cells and the display; the whole
  // read has kReplyLimit, after which ELinkSilent goes to the default
  // handler and the cycle is left alone.
  void Bu_PriemClick(framework::TObject* Sender);

 private:
  void BindKeyHandlers();
  void StartDiagnostics(const TPortDiagnostics& diagnostics);
  void FindKeyControls();
  void BindServiceHandlers();
  void FindServiceControls();
  // Key and menu steps shared by several handlers.
  void ChooseFunction(const TFunctionKey& key);
  framework::TMenuItem* FunctionItem(std::int32_t rod) const;
  void ShowChange();
  void Send(std::int32_t number);
  void StepRange(int step);
  void ReopenPort(framework::TMenuItem* item, Word comNumber, std::int32_t baud);
  // Closes the port; a trace or log that was running begins again with the
  // next open.
  void ClosePort();
  // The port has just opened: the device it leads to is remembered and the
  // link start-up follows, keeping the panel's settings.
  void PortOpened(const char* status);
  bool SameDevice() const;
  void AddOtherPortItem();
  void MarkPort(Word comNumber);
  void MarkBaud(std::int32_t baud);
  void SendCode(const framework::TEdit* edit);
  void SendChar(char c);
  void SyncToLine();
  char ReadCell(int index);
  void ResetPanel();
  void LinkStartUp(const char* status);
  void StartKeepingSettings();
  void WaitForPort();
  void BeginProbing(const char* status);
  void ProbeFlushed(const char* status);
  void StopCycle();
  void LinkLost();
  void PortLost();
  void RaiseLinkLost();
  void NoReadableLines();
  bool InstrumentAnswers();
  // Runs `work` with ReturnCharC's waits limited to `limit` in all: false
  // when the time ran out (ELinkSilent), true when it finished.
  bool FinishedWithin(std::chrono::milliseconds limit, const std::function<void()>& work);
  // A reading or command step with kReplyLimit; `again` is its own timer.
  // Whether it finished, ran out on an instrument that still answers (and
  // is run again), or the link or port is lost.
  enum class TStepEnd { kFinished, kAgain, kLost };
  TStepEnd RunTimedStep(framework::TTimer* again, const std::function<void()>& step);
  void GuardPort(const std::function<void()>& work);

  // The user's settings the window started with; none: the layout's and
  // the defaults. The panel's part holds until the first general reset.
  std::optional<TSettings> stored_;
  std::optional<std::chrono::steady_clock::time_point> stepDeadline_;
  // The instrument may not hold the panel's settings: the next set-up
  // command is followed by RestoreText.
  bool restoreOnLink_ = false;
  // An auto-calibration asked for while the link was down.
  bool calibrationPending_ = false;
  // The port was closed because its device vanished, or failed to open at
  // the start; Ti_Reopen runs.
  bool portLost_ = false;
  // DeviceIdentity of the device the port last opened on.
  std::string deviceIdentity_;
  // When the last readable line came (or measuring began).
  std::chrono::steady_clock::time_point lastReadableAt_;
};

}  // namespace app
