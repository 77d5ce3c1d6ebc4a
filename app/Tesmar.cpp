// The program: the front panel's window on the application's loop. Without
// options it keeps no settings and writes no files; see CommandLine.h.
#include <cstdio>
#include <exception>
#include <memory>

#include "app/CommandLine.h"
#include "app/TerminationSignals.h"
#include "app/Unit1.h"
#include "errors/SioStrRes.h"
#include "framework/Application.h"

int main(int argc, char** argv) {
  // Before any thread exists, so that only the waiter receives them.
  app::BlockTerminationSignals();
  app::TCommandLine options;
  try {
    options = app::ParseCommandLine(argc, argv);
  } catch (const app::ECommandLineError& e) {
    std::fprintf(stderr, "tesmar: %s\n%s", e.what(), app::CommandLineHelp().c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(app::CommandLineHelp().c_str(), stdout);
    return 0;
  }
  // The message texts must be readable before anything can fail; a
  // program without them is broken, and says so.
  std::unique_ptr<errors::TSioStringReaders> readers;
  try {
    readers = std::make_unique<errors::TSioStringReaders>();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tesmar: %s\n", e.what());
    return 1;
  }
  framework::Application->Initialize();
  app::TTerminationSignals signals;
  app::TForm1* Form1 = nullptr;
  framework::Application->CreateForm(Form1, options.diagnostics);
  framework::Application->Run();
  // The window (and with it the port) goes while the texts still exist.
  framework::Application->Shutdown();
  return 0;
}
