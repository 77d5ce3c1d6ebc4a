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
#include "app/Unit1.h"
#include "record/view/RecorderWindow.h"
#include "errors/SioStrRes.h"
#include "framework/Application.h"

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
  // The message texts must be readable before anything can fail; a
  // program without them is broken, and says so.
  std::unique_ptr<errors::TSioStringReaders> readers;
  try {
    readers = std::make_unique<errors::TSioStringReaders>();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tesmar: %s\n", e.what());
    return 1;
  }
  if (options->headless) {
    const int code = app::RunHeadless(*options);
    framework::Application->Shutdown();
    return code;
  }
  framework::Application->Initialize();
  app::TForm1::StartPort = static_cast<comport::Word>(options->port);
  app::TForm1* Form1 = nullptr;
  framework::Application->CreateForm(Form1);
  {
    app::TRecorder recorder(*Form1);
    // A recording from the start shows its window, so that it is seen.
    if (!options->record.empty()) {
      recorder.StartRecording(options->record);
      recorder.Window().Show();
    }
    framework::Application->Run();
  }
  // The window (and with it the port) goes while the texts still exist.
  framework::Application->Shutdown();
  return 0;
}
