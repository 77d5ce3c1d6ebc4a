// The program: the front panel's window on the application's loop, with
// the recorder beside it; or, with --headless, the measurement without a
// window (CommandLine.h).
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Headless.h"
#include "app/Recording.h"
#include "app/ScpiServer.h"
#include "app/TerminationSignals.h"
#include "app/Unit1.h"
#include "comport/view/SioSelCom.h"
#include "errors/SioStrRes.h"
#include "framework/Application.h"
#include "record/view/RecorderWindow.h"

int main(int argc, char** argv) {
  std::string error;
  const auto options = app::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) {
    std::fprintf(stderr, "tesmar: %s\n", error.c_str());
    return 2;
  }
  if (options->help) {
    std::fputs(app::HelpText().c_str(), stdout);
    return 0;
  }
  // The window's Ctrl+C and SIGTERM close it; blocked before any thread
  // exists, so that only the waiter receives them. A headless server
  // stops on them the same way; a headless measurement keeps the signals'
  // own effect.
  if (!options->headless || options->serve) app::BlockTerminationSignals();
  // The message texts must be readable before anything can fail; a
  // program without them is broken, and says so.
  std::unique_ptr<errors::TSioStringReaders> readers;
  try {
    readers = std::make_unique<errors::TSioStringReaders>();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tesmar: %s\n", e.what());
    return 1;
  }
  if (options->headless && options->serve) {
    const int code = app::ServeHeadless(*options);
    framework::Application->Shutdown();
    return code;
  }
  if (options->headless) {
    const int code = app::RunHeadless(*options);
    framework::Application->Shutdown();
    return code;
  }
  // An address that cannot be served ends the program before the port opens.
  std::unique_ptr<app::TScpiNetwork> network;
  if (options->serve && !(network = app::TScpiServer::Listen(*options->serve, error))) {
    std::fprintf(stderr, "tesmar: %s\n", error.c_str());
    return 6;
  }
  framework::Application->Initialize();
  comport::InstallPortSelector();
  app::TTerminationSignals signals;
  app::TForm1::StartPort = static_cast<comport::Word>(options->port);
  app::TForm1* Form1 = nullptr;
  framework::Application->CreateForm(Form1, options->diagnostics);
  {
    app::TRecorder recorder(*Form1);
    // A recording from the start shows its window, so that it is seen.
    if (!options->record.empty()) {
      recorder.StartRecording(options->record);
      recorder.Window().Show();
    }
    std::unique_ptr<app::TScpiServer> server;
    if (network) {
      server = std::make_unique<app::TScpiServer>(*Form1, std::move(network),
                                                  app::ScpiSilenceLimit(*options, *Form1));
      std::fprintf(stderr, "tesmar: serving SCPI on %s\n", server->Address().c_str());
    }
    framework::Application->Run();
  }
  // The window (and with it the port) goes while the texts still exist.
  framework::Application->Shutdown();
  return 0;
}
