#include "app/Headless.h"

#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/Unit1.h"
#include "framework/Application.h"
#include "framework/ExtCtrls.h"
#include "framework/Menus.h"
#include "platform/sync.h"
#include "record/Session.h"

namespace app {
namespace {

using Clock = std::chrono::steady_clock;

enum ExitCode { kDone = 0, kPortFailed = 3, kSilent = 4, kFileFailed = 5 };

// Clicks the "Выбор параметра" item of the function, as a user would.
void SelectFunction(TForm1& form, char function) {
  switch (function) {
    case 'U': form.N_U->Click(); break;
    case 'V': form.N_V->Click(); break;
    case 'I': form.N_I->Click(); break;
    case 'J': form.N_J->Click(); break;
    case 'R': form.N_R->Click(); break;
    case 'Z': form.N_Z->Click(); break;
    case 'F': form.N_F->Click(); break;
    default: form.N_T->Click(); break;
  }
}

void SelectResolution(TForm1& form, char resolution) {
  if (resolution == '0') form.N_H0->Click();
  else if (resolution == '1') form.N_H1->Click();
  else form.N_H2->Click();
}

// The steps of a headless run; each setting step waits until its command
// has gone out and one reading after it has passed.
class Run {
 public:
  // `errors` is the first exception the window's handlers let out, if any.
  Run(const CommandLine& options, TForm1& form, const std::string& errors)
      : options_(options), form_(form), errors_(errors) {}

  int Go() {
    std::string error;
    if (!session_.StartRecording(options_.csv, error)) return Fail(kFileFailed, error);
    form_.OnReading = [this](const std::string& text, char function, char range, char resolution) {
      Reading(text, record::Setting{function, range, resolution});
    };
    // Readings come one reading interval apart, and the one after a
    // setting is not shown: the instrument counts as silent only when
    // nothing came for the time-out beyond two intervals.
    const double limitSeconds =
        options_.timeoutSeconds + 2 * form_.Ti_Result->Interval() / 1000.0;
    const auto limit = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(limitSeconds));
    lastSign_ = Clock::now();
    int code = kDone;
    while (taken_ < options_.count) {
      framework::Application->ProcessMessages();
      Advance();
      if (auto failure = session_.TakeFailure()) {
        code = Fail(kFileFailed, *failure);
        break;
      }
      if (Clock::now() - lastSign_ > limit) {
        code = Fail(kSilent, "the instrument on COM" + std::to_string(form_.SioComPort1->ComNumber()) +
                                 " did not answer: no reading for " + Seconds(limitSeconds) +
                                 " s (status: " + form_.La_Stat->Caption() + ")" +
                                 (errors_.empty() ? "" : "; " + errors_));
        break;
      }
      platform::Sleep(2);
    }
    form_.OnReading = nullptr;
    session_.StopRecording();
    session_.FinishWriting();
    if (auto failure = session_.TakeFailure(); failure && code == kDone)
      code = Fail(kFileFailed, *failure);
    return code;
  }

 private:
  enum class Step { LinkUp, Function, Resolution, Counting };

  void Reading(const std::string& text, const record::Setting& setting) {
    lastSign_ = Clock::now();
    ++shown_;
    if (step_ == Step::Counting) {
      session_.Add(text, setting);
      ++taken_;
    }
  }

  // Moves to the next step once the reading that proves the last one done
  // has been shown.
  void Advance() {
    if (form_.Ti_CMD->Enabled()) return;  // a command still waits to go out
    if (step_ == Step::LinkUp) {
      if (shown_ == 0) return;
      step_ = Step::Function;
      if (options_.function || options_.range) {
        if (options_.range) form_.Diap = *options_.range;
        SelectFunction(form_, options_.function.value_or(static_cast<char>(form_.Rod)));
        Expect(2);
        return;
      }
    }
    if (step_ == Step::Function) {
      if (shown_ < expected_) return;
      step_ = Step::Resolution;
      if (options_.resolution) {
        SelectResolution(form_, *options_.resolution);
        Expect(2);
        return;
      }
    }
    if (step_ == Step::Resolution && shown_ >= expected_) step_ = Step::Counting;
  }

  // The reading in flight when a command goes out may have been taken at
  // the old settings; the one after it cannot.
  void Expect(int readings) { expected_ = shown_ + readings; }

  static std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
  }

  int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "tesmar: %s\n", message.c_str());
    return code;
  }

  const CommandLine& options_;
  TForm1& form_;
  const std::string& errors_;
  record::Session session_;
  Step step_ = Step::LinkUp;
  long shown_ = 0;
  long expected_ = 0;
  long taken_ = 0;
  Clock::time_point lastSign_;
};

}  // namespace

int RunHeadless(const CommandLine& options) {
  // Never a window, whatever display there is.
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // A reader of the rows that goes away ends the run through the write's
  // error, not through a signal.
  std::signal(SIGPIPE, SIG_IGN);
  framework::Application->Initialize();
  std::string firstError;
  framework::Application->OnException = [&firstError](framework::TObject*, const std::exception& e) {
    if (firstError.empty()) firstError = framework::ExceptionText(e);
  };
  TForm1::StartPort = static_cast<comport::Word>(options.port);
  TForm1* form = nullptr;
  framework::Application->CreateForm(form);
  int code = kDone;
  if (!form->SioComPort1->Open()) {
    std::fprintf(stderr, "tesmar: COM%d cannot be opened: %s\n",
                 static_cast<int>(form->SioComPort1->ComNumber()),
                 firstError.empty() ? "the port did not open" : firstError.c_str());
    code = kPortFailed;
  } else {
    code = Run(options, *form, firstError).Go();
  }
  framework::Application->OnException = nullptr;
  return code;
}

}  // namespace app
