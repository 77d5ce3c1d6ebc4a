// The meter on the network: `tesmar --serve` serves the front panel to
// SCPI clients (PyVISA's TCPIP::host::port::SOCKET) on a raw socket, one
// command line in, one answer line out (scpi/Parser.h for the language,
// scpi/Executor.h for how lines are carried out).
//
// The server drives the one panel there is, never the port itself: a
// client's setting is made by clicking the panel's menu items, as a user
// would (function, АВП, range up and down, resolution, general reset), so
// the display, the status strip, the menu marks and the link start-up
// follow; readings are those the display step shows (TForm1::OnReading,
// chained after any handler already set). The network thread
// (TScpiNetwork) hands each line to the window's thread through a hidden
// window; there lines from all clients and the panel's own keys are
// carried out in the order they arrive. While a command waits for the
// instrument a timer of the form looks again every few milliseconds.
//
// Thread safety: make, use and destroy on the window's thread, which must
// handle messages (the application's loop, or ProcessMessages).
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "app/CommandLine.h"
#include "app/ScpiNetwork.h"
#include "app/ServeAddress.h"
#include "platform/messages.h"
#include "scpi/Executor.h"

namespace framework {
class TTimer;
}

namespace app {

class TForm1;

// The answer to *IDN?: "Tesmar,K4-18/3,0,<version>".
std::string ScpiIdentity();

class TScpiServer {
 public:
  // Listens on `address`: the network side, made before the panel so that
  // an address that cannot be served stops the program before the port
  // opens. Null and `error` set (one sentence naming the address and the
  // system's reason) when it cannot.
  static std::unique_ptr<TScpiNetwork> Listen(const TServeAddress& address, std::string& error);
  // Serves `form` (which must outlive the server) through `network`,
  // listening. A query finds the instrument silent when no reading came
  // for `silenceLimit`.
  TScpiServer(TForm1& form, std::unique_ptr<TScpiNetwork> network,
              std::chrono::steady_clock::duration silenceLimit);
  ~TScpiServer();
  TScpiServer(const TScpiServer&) = delete;
  TScpiServer& operator=(const TScpiServer&) = delete;

  // Where it listens ("127.0.0.1:5025").
  std::string Address() const { return network_->Address(); }
  std::uint16_t Port() const { return network_->Port(); }

  // Takes the lines the network thread has cut (the hidden window's
  // message does it; tests may call it).
  void TakeEvents();

 private:
  class TPanelMeter;
  void Reading(const std::string& text, char function, char range, char resolution);
  void UpdateTimer();

  TForm1& form_;
  std::unique_ptr<TPanelMeter> meter_;
  scpi::Executor executor_;
  std::unique_ptr<TScpiNetwork> network_;
  platform::HWND window_ = 0;
  framework::TTimer* timer_ = nullptr;  // owned by the form
  std::function<void(const std::string&, char, char, char)> previousReading_;
};

// The silence limit of the command line: --timeout beyond two of the
// panel's reading intervals, as the headless run counts it.
std::chrono::steady_clock::duration ScpiSilenceLimit(const CommandLine& options, const TForm1& form);

// `tesmar --headless --serve`: brings the link up without a window, serves
// until SIGINT or SIGTERM (blocked by the caller before any thread was
// made), then closes the port (its trace and log are written) and returns
// 0; 3 when the port cannot be opened, 6 when the address cannot be served.
int ServeHeadless(const CommandLine& options);

}  // namespace app
