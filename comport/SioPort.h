// The serial port component: the object through which the front panel owns
// one serial port.
//
// TSioCustomComPort holds the port's settings as properties (read from the
// main window's stored layout), turns Open into opening the line, offers
// the character and block I/O the window uses, and turns the line's
// notifications into the OnTrigger event on the window's thread.
// TSioComPort only publishes the properties.
//
// Settings (ComNumber, Baud, Parity, DataBits, StopBits, InSize, OutSize)
// written while the port is closed are only stored and all applied at the
// next open. A line setting written while open goes to the device at once;
// a refusal raises, and the property keeps the new value.
//
// Open and close:
//   - Open := True while the component is being loaded from a layout only
//     records the wish; Loaded opens the port once the whole layout has been
//     read. If that open fails, Open reads False and the exception goes to
//     the application's exception handling (a message box, unless the
//     application installed its own handler); loading goes on.
//   - Open := True on a closed port opens it: ComNumber 0 asks the port
//     selector (SioPortSelect.h) for a number and raises ENoPortSelected
//     when it gives none; a missing device EBadId; a device held by another
//     program EAlreadyOpen; other failures the class of their code
//     (errors/SioExcept.h). After a failure Open reads False and nothing
//     stays open.
//   - Open := False closes the port. Asked from inside OnTrigger, the close
//     is completed later through the hidden window (MsgFinishClose, 32266):
//     until then OpenState is osClosing and every I/O call does nothing and
//     returns its neutral result; Open := True meanwhile reopens the port
//     when the close has completed.
//   - With AutoOpen (the default) an I/O call on a closed port first opens
//     it; when that is impossible (or AutoOpen is off) the call raises
//     ECommNotOpen, or the open's own exception. When the open fails with
//     the same code as the open before it, the exception is silent
//     (framework::Exception::Silent): the user was told already, so a
//     failed open at start-up is shown once, not again by every handler
//     that touches the closed port.
//
// Notifications: while the port is open the component owns a hidden window
// of class "sioComWindow". When received characters wait, the line sends it
// MsgTriggerAvail (32257) with their number; the window procedure raises
// OnTrigger(CP, 32257, count, count) on the window's thread, when that
// thread next handles messages (never in the middle of another handler).
// An exception from the handler goes to the application's exception
// handling. Trigger messages that arrive once a close has begun, or that
// name another line, raise nothing. Those that arrive while the owning
// form is still being constructed are held, the latest of each kind, and
// posted again once it is whole (Constructed).
//
// Thread safety: every member, setter and event belongs to the thread that
// owns the component (the window's thread). The line's worker thread never
// calls into the component; it reaches it only through messages to the
// hidden window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "comport/SioLine.h"
#include "comport/SioMisc.h"
#include "platform/messages.h"

namespace comport {

enum class TParity { pNone, pOdd, pEven, pMark, pSpace };
enum TOpenState : std::uint8_t { osClosed = 0, osClosing = 1, osOpen = 2 };

using TTriggerEvent =
    std::function<void(framework::TObject* CP, Word Msg, Word TriggerHandle, Word Data)>;

// The window class of the component's hidden window.
inline constexpr const char* kComWindowClass = "sioComWindow";

class TSioCustomComPort : public TSioBaseComponent {
 public:
  TSioCustomComPort();
  ~TSioCustomComPort() override;

  static const framework::TClassInfo& StaticClassInfo();
  const framework::TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  // --- Settings ------------------------------------------------------
  Word ComNumber() const { return comNumber_; }
  void SetComNumber(Word value);
  std::int32_t Baud() const { return baud_; }
  void SetBaud(std::int32_t value);
  TParity Parity() const { return parity_; }
  void SetParity(TParity value);
  Word DataBits() const { return dataBits_; }
  void SetDataBits(Word value);
  Word StopBits() const { return stopBits_; }
  void SetStopBits(Word value);
  Word InSize() const { return inSize_; }
  void SetInSize(Word value);
  Word OutSize() const { return outSize_; }
  void SetOutSize(Word value);
  bool Open() const { return open_; }
  void SetOpen(bool value);
  bool AutoOpen() const { return autoOpen_; }
  void SetAutoOpen(bool value) { autoOpen_ = value; }
  bool PromptForPort() const { return promptForPort_; }
  void SetPromptForPort(bool value) { promptForPort_ = value; }
  // Files a trace or dispatch log would be written to (at most 255
  // characters are kept).
  const std::string& TraceName() const { return traceName_; }
  void SetTraceName(const std::string& value);
  const std::string& LogName() const { return logName_; }
  void SetLogName(const std::string& value);

  const TTriggerEvent& OnTrigger() const { return onTrigger_; }
  void SetOnTrigger(TTriggerEvent value);

  TOpenState OpenState() const { return openState_; }
  // The hidden window while the port is open, else 0.
  platform::HWND NotifyWindow() const { return notifyWindow_; }

  // --- I/O (see the header comment for closed ports) ------------------
  // Queues Len bytes for sending and returns at once; always 0. Raises
  // EOutputBufferTooSmall when they do not fit the free room of the
  // OutSize-byte output queue.
  std::int32_t WriteBlock(const void* Block, Word Len);
  // True when at least one received character waits. Never raises on an
  // open port (on a closed one, like every I/O call, see above).
  bool CharAvailable();
  // The oldest waiting character; EBufferIsEmpty when none waits.
  char ReadChar();
  // Exactly Len characters, or EBufferIsEmpty (and none taken).
  void ReadBlock(void* Block, Word Len);
  void FlushInput();
  void FlushOutput();

  void Loaded() override;
  void Constructed() override;

 protected:
  virtual void OpenPort();
  virtual void ClosePort();
  virtual void ValidatePort();
  virtual void SetupNotifyWindow(bool Create);
  virtual void UpdateHandlerState();
  virtual void FireTrigger(Word Msg, Word TriggerHandle, Word Data);

 private:
  static platform::LRESULT WindowProc(platform::HWND window, platform::UINT msg,
                                      platform::WPARAM wParam, platform::LPARAM lParam);

  TSioLine* GetDispatcher();
  void OpenAutomatically();
  TSioLine* RequireDispatcher();
  TLineSettings LineSettings() const;
  void ApplyLineSettings();
  void FinishClose();
  platform::LRESULT HandleMessage(platform::UINT msg, platform::WPARAM wParam,
                                  platform::LPARAM lParam);
  void HandleFinishClose(platform::LPARAM lParam);

  Word comNumber_ = 0;
  std::int32_t baud_ = 19200;
  TParity parity_ = TParity::pNone;
  Word dataBits_ = 8;
  Word stopBits_ = 1;
  Word inSize_ = 4096;
  Word outSize_ = 4096;
  bool open_ = false;
  bool autoOpen_ = true;
  bool promptForPort_ = true;
  std::string traceName_ = "SIO.TRC";
  std::string logName_ = "SIO.LOG";
  TTriggerEvent onTrigger_;

  TOpenState openState_ = osClosed;
  bool reopenPending_ = false;
  bool openAfterLoad_ = false;
  int delivering_ = 0;  // window-procedure calls running for this component
  std::int32_t lastOpenFailure_ = 0;  // the code the last open failed with; 0 after a success
  struct HeldTrigger {
    platform::UINT msg;
    platform::WPARAM wParam;
    platform::LPARAM lParam;
  };
  std::vector<HeldTrigger> heldTriggers_;  // arrived while the form was under construction
  std::unique_ptr<TSioLine> line_;
  platform::HWND notifyWindow_ = 0;
};

// Publishes the settings of TSioCustomComPort; adds nothing else.
class TSioComPort : public TSioCustomComPort {
 public:
  static const framework::TClassInfo& StaticClassInfo();
  const framework::TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};

// Registers the components of this library with the layout reader.
// Harmless to call more than once.
void RegisterComponents();

}  // namespace comport
