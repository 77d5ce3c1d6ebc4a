// The program: the front panel's window on the application's loop, with
// the recorder beside it; or, with --headless, the measurement without a
// window (CommandLine.h).
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Headless.h"
#include "app/Ports.h"
#include "app/Recording.h"
#include "app/ScpiServer.h"
#include "app/Settings.h"
#include "app/TerminationSignals.h"
#include "app/Unit1.h"
#include "comport/view/SioSelCom.h"
#include "errors/SioStrRes.h"
#include "framework/Application.h"
#include "framework/view/Language.h"
#include "record/view/RecorderWindow.h"

namespace {

// The windows' language: --lang, else the locale's.
void ChooseLanguage(const app::CommandLine& options) {
  const auto named = framework::LanguageNamed(options.language);
  const framework::TLanguage language = named.value_or(framework::LanguageOfEnvironment());
  if (!framework::InstallLanguage(language))
    std::fprintf(stderr, "tesmar: the %s translation cannot be loaded; the windows stay Russian\n",
                 framework::LanguageCode(language));
}

// The user's settings; none (the defaults) with --no-settings, without a
// file, or from a file that cannot be used, which is said in one line.
std::optional<app::TSettings> LoadUserSettings(const app::CommandLine& options) {
  if (options.noSettings) return std::nullopt;
  std::string warning;
  auto settings = app::LoadSettings(app::SettingsFile(), warning);
  if (!warning.empty()) std::fprintf(stderr, "tesmar: %s\n", warning.c_str());
  return settings;
}

// What the window and the recorder hold at the end, over what was read
// (keys of a newer version stay).
void SaveUserSettings(const app::CommandLine& options, std::optional<app::TSettings> stored,
                      const app::TForm1& form, const app::TRecorder& recorder) {
  if (options.noSettings) return;
  app::TSettings settings = stored.value_or(app::TSettings{});
  form.KeepSettings(settings);
  recorder.Keep(settings);
  std::string error;
  if (!app::SaveSettings(app::SettingsFile(), settings, error))
    std::fprintf(stderr, "tesmar: %s\n", error.c_str());
}

constexpr int kUsage = 2;  // a mistake on the command line, or no display

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

// The window needs a display. Qt would fall back to an invisible platform
// without one, and abort when the one named has no server.
bool DisplayNamed() { return Set("QT_QPA_PLATFORM") || Set("DISPLAY") || Set("WAYLAND_DISPLAY"); }

[[noreturn]] void NoDisplay(const std::string& why) {
  std::fprintf(stderr, "tesmar: no display (%s): run it under a display, or with --headless\n", why.c_str());
  std::_Exit(kUsage);
}

int RunWindow(const app::CommandLine& options, std::unique_ptr<app::TScpiNetwork> network) {
  if (!DisplayNamed()) NoDisplay("DISPLAY is not set");
  framework::Application->OnGuiUnavailable = [](const std::string& complaint) { NoDisplay(complaint); };
  framework::Application->Initialize();
  framework::Application->OnGuiUnavailable = nullptr;
  ChooseLanguage(options);
  comport::InstallPortSelector();
  app::TTerminationSignals signals;
  const std::optional<app::TSettings> stored = LoadUserSettings(options);
  app::TForm1::StartPort = static_cast<comport::Word>(options.port);
  app::TForm1* Form1 = nullptr;
  framework::Application->CreateForm(Form1, options.diagnostics, stored);
  {
    app::TRecorder recorder(*Form1);
    if (stored) recorder.Restore(*stored);
    // A recording from the start shows its window, so that it is seen.
    if (!options.record.empty()) {
      recorder.StartRecording(options.record);
      recorder.Window().Show();
    }
    std::unique_ptr<app::TScpiServer> server;
    if (network) {
      server = std::make_unique<app::TScpiServer>(*Form1, std::move(network),
                                                  app::ScpiSilenceLimit(options, *Form1));
      std::fprintf(stderr, "tesmar: serving SCPI on %s\n", server->Address().c_str());
    }
    framework::Application->Run();
    SaveUserSettings(options, stored, *Form1, recorder);
  }
  // The window (and with it the port) goes while the texts still exist,
  // and while a signal still ends the program in time.
  framework::Application->Shutdown();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Blocked before any thread exists, so that only the waiter receives
  // them (TerminationSignals.h); SIGPIPE ignored in every mode.
  app::BlockTerminationSignals();
  std::string error;
  auto options = app::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) {
    std::fprintf(stderr, "tesmar: %s\n", error.c_str());
    return kUsage;
  }
  if (options->help) {
    std::fputs(app::HelpText().c_str(), stdout);
    return 0;
  }
  if (options->version) {
    std::fputs(app::VersionText().c_str(), stdout);
    return 0;
  }
  if (options->listPorts) {
    std::fputs(app::PortListText().c_str(), stdout);
    return 0;
  }
  if (!app::ResolvePort(*options, options->port, error)) {
    std::fprintf(stderr, "tesmar: %s\n", error.c_str());
    return kUsage;
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
  return RunWindow(*options, std::move(network));
}
