#include "app/ScpiServer.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "app/TerminationSignals.h"
#include "app/Unit1.h"
#include "framework/Application.h"
#include "framework/ExtCtrls.h"
#include "framework/Menus.h"
#include "platform/sync.h"
#include "record/Reading.h"

#ifndef TESMAR_VERSION
#define TESMAR_VERSION "0"
#endif

namespace app {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kWindowClass = "tesmarScpiWindow";
constexpr platform::UINT kMsgEvents = platform::WM_USER + 1;
// How often a waiting command looks again at the panel.
constexpr unsigned kLookIntervalMs = 10;

platform::LRESULT ServerWindowProc(platform::HWND window, platform::UINT msg, platform::WPARAM wParam,
                                   platform::LPARAM lParam) {
  if (msg != kMsgEvents) return platform::DefWindowProcA(window, msg, wParam, lParam);
  auto* server = reinterpret_cast<TScpiServer*>(platform::GetWindowLongPtrA(window, 0));
  if (server != nullptr) server->TakeEvents();
  return 0;
}

}  // namespace

std::string ScpiIdentity() { return std::string("Tesmar,K4-18/3,0,") + TESMAR_VERSION; }

// The panel as the executor sees it: its state read, its menu items
// clicked.
class TScpiServer::TPanelMeter : public scpi::Meter {
 public:
  explicit TPanelMeter(TForm1& form) : form_(form) {}

  scpi::MeterSetting Present() const override {
    return {static_cast<char>(form_.Rod), static_cast<char>(form_.Diap), form_.AVP == '1',
            static_cast<char>(form_.Razresh)};
  }

  // Function and range go out as one command (the range keys' clicks
  // while a function change waits only change the range it carries).
  bool ApplyStep(const scpi::MeterSetting& setting) override {
    const bool autoRange = form_.AVP == '1';
    if (setting.function != form_.Rod) {
      FunctionItem(setting.function)->Click();
      if (!setting.autoRange && !autoRange) StepRangeTo(setting.range);
    } else if (setting.autoRange != autoRange) {
      form_.N_A->Click();
    } else if (!setting.autoRange && setting.range != form_.Diap) {
      StepRangeTo(setting.range);
    } else if (setting.resolution != form_.Razresh) {
      (setting.resolution == '0' ? form_.N_H0 : setting.resolution == '1' ? form_.N_H1 : form_.N_H2)->Click();
    } else {
      return false;
    }
    return true;
  }

  void Reset() override { Item("N19").Click(); }

  // While the link is down nothing reaches the instrument: a setting made
  // then would wait in the panel for the restore, unseen by *OPC?.
  bool Busy() const override {
    return form_.Ti_CMD->Enabled() || form_.FlagReset != 0 || form_.Ti_Reset->Enabled() ||
           form_.FlagLinkUp == 0;
  }

  bool ShownReadingPending() const override { return form_.Ti_LCD->Enabled() && form_.FlagSkipLCD == 0; }

 private:
  framework::TMenuItem* FunctionItem(char function) const {
    switch (function) {
      case 'V': return form_.N_V;
      case 'I': return form_.N_I;
      case 'J': return form_.N_J;
      case 'R': return form_.N_R;
      case 'Z': return form_.N_Z;
      case 'F': return form_.N_F;
      case 'T': return form_.N_T;
      default: return form_.N_U;
    }
  }
  // One step a click, as the range keys go; a step the function refuses
  // changes nothing, so the count bounds the loop.
  void StepRangeTo(char range) {
    for (int i = 0; i < 7 && form_.Diap < range; ++i) Item("N2").Click();
    for (int i = 0; i < 7 && form_.Diap > range; ++i) Item("N3").Click();
  }
  framework::TMenuItem& Item(const char* name) const { return form_.Component<framework::TMenuItem>(name); }

  TForm1& form_;
};

std::unique_ptr<TScpiNetwork> TScpiServer::Listen(const TServeAddress& address, std::string& error) {
  auto network = std::make_unique<TScpiNetwork>();
  const int result = network->Listen(address.host, address.port);
  if (result == 0) return network;
  const bool v6 = address.host.find(':') != std::string::npos;
  error = "cannot serve on " + (v6 ? "[" + address.host + "]" : address.host) + ":" +
          std::to_string(address.port) + ": " + platform::SocketErrorText(result);
  return nullptr;
}

TScpiServer::TScpiServer(TForm1& form, std::unique_ptr<TScpiNetwork> network, Clock::duration silenceLimit)
    : form_(form),
      meter_(std::make_unique<TPanelMeter>(form)),
      executor_(*meter_, ScpiIdentity(), silenceLimit),
      network_(std::move(network)) {
  static std::once_flag registered;
  std::call_once(registered, [] {
    platform::WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &ServerWindowProc;
    windowClass.cbWndExtra = sizeof(platform::LONG_PTR);
    windowClass.lpszClassName = kWindowClass;
    platform::RegisterClassA(&windowClass);
  });
  window_ = platform::CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
  platform::SetWindowLongPtrA(window_, 0, reinterpret_cast<platform::LONG_PTR>(this));
  timer_ = framework::NewComponent<framework::TTimer>(form_);
  timer_->SetEnabled(false);
  timer_->SetInterval(kLookIntervalMs);
  timer_->SetOnTimer([this](framework::TObject*) {
    executor_.Tick(Clock::now());
    UpdateTimer();
  });
  executor_.OnAnswer = [this](scpi::ClientId client, const std::string& answer) {
    network_->Answer(client, answer);
  };
  previousReading_ = form_.OnReading;
  form_.OnReading = [this](const std::string& text, char function, char range, char resolution) {
    if (previousReading_) previousReading_(text, function, range, resolution);
    Reading(text, function, range, resolution);
  };
  network_->Start([this] { platform::PostMessageA(window_, kMsgEvents, 0, 0); });
}

TScpiServer::~TScpiServer() {
  network_->Stop();
  form_.OnReading = previousReading_;
  executor_.OnAnswer = nullptr;
  form_.DestroyComponent(timer_);
  platform::SetWindowLongPtrA(window_, 0, 0);
  platform::DestroyWindow(window_);
}

void TScpiServer::TakeEvents() {
  const Clock::time_point now = Clock::now();
  for (TScpiNetwork::Event& event : network_->TakeEvents()) {
    switch (event.kind) {
      case TScpiNetwork::Event::Kind::Line: executor_.Line(event.client, event.text, now); break;
      case TScpiNetwork::Event::Kind::Overrun: executor_.Overrun(event.client, now); break;
      case TScpiNetwork::Event::Kind::Gone: executor_.Gone(event.client); break;
    }
  }
  UpdateTimer();
}

void TScpiServer::Reading(const std::string& text, char function, char range, char resolution) {
  const record::Reading reading = record::ParseReading(text, record::Setting{function, range, resolution});
  executor_.Reading(reading, scpi::MeterSetting{function, range, form_.AVP == '1', resolution}, Clock::now());
  UpdateTimer();
}

void TScpiServer::UpdateTimer() {
  if (timer_->Enabled() != executor_.Waiting()) timer_->SetEnabled(executor_.Waiting());
}

Clock::duration ScpiSilenceLimit(const CommandLine& options, const TForm1& form) {
  const double seconds = options.timeoutSeconds + 2 * form.Ti_Result->Interval() / 1000.0;
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

int ServeHeadless(const CommandLine& options) {
  // Never a window, whatever display there is.
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::string error;
  auto network = TScpiServer::Listen(options.serve.value_or(TServeAddress{}), error);
  if (!network) {
    std::fprintf(stderr, "tesmar: %s\n", error.c_str());
    return 6;
  }
  framework::Application->Initialize();
  TForm1::StartPort = static_cast<comport::Word>(options.port);
  TForm1* form = nullptr;
  framework::Application->CreateForm(form, options.diagnostics);
  if (!form->SioComPort1->Open()) {
    std::fprintf(stderr, "tesmar: COM%d cannot be opened: %s\n",
                 static_cast<int>(form->SioComPort1->ComNumber()),
                 framework::Application->LastExceptionText().empty()
                     ? "the port did not open"
                     : framework::Application->LastExceptionText().c_str());
    return 3;
  }
  TScpiServer server(*form, std::move(network), ScpiSilenceLimit(options, *form));
  std::fprintf(stderr, "tesmar: serving SCPI on %s\n", server.Address().c_str());
  TTerminationSignals signals;
  while (!framework::Application->Terminated()) {
    framework::Application->ProcessMessages();
    platform::Sleep(2);
  }
  return 0;
}

}  // namespace app
