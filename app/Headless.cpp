#include "app/Headless.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "app/TerminationSignals.h"
#include "app/Unit1.h"
#include "framework/Application.h"
#include "framework/ExtCtrls.h"
#include "framework/Menus.h"
#include "platform/com_names.h"
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

Clock::duration Span(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

int Fail(int code, const std::string& message) {
  ReportOnStandardError(message);
  return code;
}

// The steps of a headless run; each setting step waits until its command
// has gone out and one reading after it has passed.
class Run {
 public:
  // `errors` is the first exception the window's handlers let out, if any;
  // `stop` turns true when a termination signal asks the run to end.
  Run(const CommandLine& options, TForm1& form, const std::string& errors, const bool& stop)
      : options_(options), form_(form), errors_(errors), stop_(stop) {}

  int Go() {
    std::string error;
    const record::Session::RecordingStyle style{options_.format, record::Language::english};
    if (!session_.StartRecording(options_.csv, error, style)) return Fail(kFileFailed, error);
    form_.OnReading = [this](const std::string& text, char function, char range, char resolution) {
      Reading(text, record::Setting{function, range, resolution});
    };
    // Readings come one reading interval apart, and the one after a
    // setting is not shown: the instrument counts as silent only when
    // nothing came for the time-out beyond two intervals.
    const double limitSeconds = options_.timeoutSeconds + 2 * form_.Ti_Result->Interval() / 1000.0;
    lastSign_ = Clock::now();
    int code = kDone;
    while (!Finished()) {
      framework::Application->ProcessMessages();
      Advance();
      if (auto failure = session_.TakeFailure()) {
        code = Fail(kFileFailed, *failure);
        break;
      }
      if (Clock::now() - lastSign_ > Span(limitSeconds)) {
        code = Fail(kSilent, Silence(limitSeconds));
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

  bool Finished() const {
    if (stop_) return true;
    if (options_.count > 0 && taken_ >= options_.count) return true;
    return options_.durationSeconds && countingSince_ &&
           Clock::now() - *countingSince_ >= Span(*options_.durationSeconds);
  }

  void Reading(const std::string& text, const record::Setting& setting) {
    lastSign_ = Clock::now();
    ++shown_;
    if (step_ == Step::Counting && !Finished()) {
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
      if (options_.range) form_.Diap = *options_.range;
      SelectFunction(form_, options_.function.value_or('U'));
      Expect(2);
      return;
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
    if (step_ == Step::Resolution && shown_ >= expected_) {
      step_ = Step::Counting;
      countingSince_ = Clock::now();
    }
  }

  // The reading in flight when a command goes out may have been taken at
  // the old settings; the one after it cannot.
  void Expect(int readings) { expected_ = shown_ + readings; }

  std::string Silence(double limitSeconds) const {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", limitSeconds);
    return "the instrument on " + platform::DescribeComPort(form_.SioComPort1->ComNumber()) +
           " did not answer: no reading for " + seconds + " s" + (shown_ == 0 ? " since the start" : "") +
           (errors_.empty() ? "" : "; " + errors_);
  }

  const CommandLine& options_;
  TForm1& form_;
  const std::string& errors_;
  const bool& stop_;
  record::Session session_;
  Step step_ = Step::LinkUp;
  long shown_ = 0;
  long expected_ = 0;
  long taken_ = 0;
  Clock::time_point lastSign_;
  std::optional<Clock::time_point> countingSince_;
};

// Closes the port, which writes the trace and the log; false when one of
// them could not be written (the message names the file).
bool ClosePort(TForm1& form) {
  try {
    form.SioComPort1->SetOpen(false);
    return true;
  } catch (const std::exception& e) {
    ReportOnStandardError(framework::ExceptionText(e));
    return false;
  }
}

}  // namespace

int RunHeadless(const CommandLine& options) {
  // Never a window, whatever display there is.
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  framework::Application->Initialize();
  std::string firstError;
  framework::Application->OnException = [&firstError](framework::TObject*, const std::exception& e) {
    if (firstError.empty()) firstError = framework::ExceptionText(e);
  };
  bool stop = false;
  TTerminationSignals signals([&stop] { stop = true; });
  TForm1::StartPort = static_cast<comport::Word>(options.port);
  TForm1* form = nullptr;
  framework::Application->CreateForm(form, options.diagnostics);
  int code = kDone;
  if (!form->SioComPort1->Open()) {
    std::string reason = firstError.empty() ? "the port did not open" : firstError;
    code = Fail(kPortFailed,
                platform::DescribeComPort(form->SioComPort1->ComNumber()) + " cannot be opened: " + reason);
  } else {
    code = Run(options, *form, firstError, stop).Go();
    if (!ClosePort(*form) && code == kDone) code = kFileFailed;
  }
  framework::Application->OnException = nullptr;
  return code;
}

}  // namespace app
