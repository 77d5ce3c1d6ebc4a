// The window's protocol against a scripted device as COM1: the stored
// layout, reading layouts, the display step and the trigger handler.
#include <gtest/gtest.h>

#include "PanelTestUtil.h"
#include "app/Unit1.h"
#include "framework/Classes.h"

namespace {

using namespace tesmar::test;
using app::TForm1;

std::unique_ptr<TForm1> MakeForm() { return framework::NewObject<TForm1>(); }

TEST(PanelLayout, HoldsTheTimersPortAndDisplayAsStored) {
  FakeCom1 device;
  auto form = MakeForm();
  EXPECT_EQ(form->Width(), 626);
  EXPECT_EQ(form->Height(), 318);
  struct TimerCase {
    framework::TTimer* timer;
    unsigned interval;
    bool enabled;
  };
  for (const TimerCase& t : std::vector<TimerCase>{{form->Ti_CMD, 3, false},
                                                   {form->Ti_Result, 1000, false},
                                                   {form->Ti_LCD, 30, false},
                                                   {form->Ti_Diag, 500, true},  // by FormCreate
                                                   {form->Ti_Reset, 3, true}}) {
    SCOPED_TRACE(t.timer->Name());
    EXPECT_EQ(t.timer->Interval(), t.interval);
    EXPECT_EQ(t.timer->Enabled(), t.enabled);
  }
  comport::TSioComPort& port = *form->SioComPort1;
  EXPECT_EQ(port.ComNumber(), 1);
  EXPECT_EQ(port.Baud(), 9600);
  EXPECT_EQ(port.Parity(), comport::TParity::pEven);
  EXPECT_EQ(port.DataBits(), 7);
  EXPECT_EQ(port.StopBits(), 1);
  EXPECT_EQ(port.InSize(), 64);
  EXPECT_EQ(port.OutSize(), 64);
  EXPECT_TRUE(port.Open()) << "opened before FormCreate ran";
  EXPECT_EQ(port.TraceName(), "SIO.TRC");
  EXPECT_EQ(port.LogName(), "SIO.LOG");

  EXPECT_FALSE(form->La_Data->Visible());
  EXPECT_FALSE(form->La_Razmer->Visible());
  EXPECT_FALSE(form->La_Forma->Visible());
  EXPECT_FALSE(form->La_FlagDiap->Visible());
  EXPECT_EQ(form->La_Stat->Caption(), app::kStatusSetup);
  EXPECT_TRUE(device.AwaitWritten(1));
  EXPECT_EQ(device->Written(), "!") << "FormCreate probes once";
  EXPECT_EQ(form->Rod, 'U');
  EXPECT_EQ(form->Diap, '1');
  EXPECT_EQ(form->Razresh, '2');
}

TEST(PanelProtocol, ReadingsTakeTheirCountedCharactersAfterTheLineFeed) {
  FakeCom1 device;
  auto form = MakeForm();
  struct Case {
    const char* name;
    char razresh;
    bool ft;
    std::string line;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"5.5 digits", '2', false, "2 V U1\n+1.23456 V U1", "+1.23456 "},
      {"4.5 digits", '1', false, "\xC0junk\n+1.2345 V U1", "+1.2345 "},
      {"3.5 digits", '0', false, "U1\n+1.234 V U1", "+1.234 "},
      {"frequency", '2', true, "Hz F0\n+50.0012 Hz F0", " 50.0012"},
      {"period at 3.5", '0', true, "\n-19999.5 us T0", " 19999.5"},
      {"LF counted", '2', false, "V U1\n+1.2\n3456 V", "+1.2\n3456"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    form->SioComPort1->FlushInput();
    form->Razresh = c.razresh;
    form->FlagFT = c.ft ? 1 : 0;
    form->RS[0] = "r";
    device->InjectReceived(c.line);
    if (c.ft)
      form->GetResultFT();
    else
      form->GetResult();
    EXPECT_EQ(form->DataStr, c.expected);
    for (std::size_t i = 1; i < c.expected.size(); ++i)
      EXPECT_EQ(form->RS[i], c.expected.substr(i, 1)) << "RS" << i;
    EXPECT_EQ(form->RS[0], "r") << "only the service panel sets RS0";
    EXPECT_EQ(form->LaRS[0]->Caption(), c.ft ? "-----" : c.expected.substr(0, 1));
    EXPECT_EQ(form->LaRS[5]->Caption(), "-----");
    EXPECT_EQ(form->LaRS[1]->Caption(), "-----") << "the synchronisation's last word";
  }
}

// Shown decoded from the instrument's code page, skipped after a change,
// and never shown when it holds no reading (a cut line, garbage): the
// display keeps the reading before it, the service cells show what came.
TEST(PanelProtocol, TheDisplayStepShowsTheReadingDecodedOrSkipsIt) {
  FakeCom1 device;
  auto form = MakeForm();
  device->InjectReceived("\n\xCF\xC5\xD0\xC5\xC3\xD0   tail");
  form->GetResult();
  form->FlagSkipLCD = 1;
  form->Ti_LCD->SetEnabled(true);
  form->Ti_LCDTimer(form->Ti_LCD);
  EXPECT_FALSE(form->La_Data->Visible()) << "the first reading after a change is not shown";
  EXPECT_EQ(form->FlagSkipLCD, 0);
  EXPECT_FALSE(form->Ti_LCD->Enabled());
  EXPECT_TRUE(form->Ti_Result->Enabled());
  EXPECT_FALSE(form->SioComPort1->CharAvailable()) << "the rest of the line is flushed";

  form->Ti_LCDTimer(form->Ti_LCD);
  EXPECT_TRUE(form->La_Data->Visible());
  EXPECT_EQ(form->La_Data->Caption(), "ПЕРЕГР   ") << "an overload, as the instrument spells it";
  EXPECT_EQ(form->LaRS[2]->Caption(), "Р");
  EXPECT_EQ(form->LaRS[0]->Caption(), "");

  struct Unreadable {
    const char* line;
    const char* cell2;
  };
  for (const Unreadable& u : {Unreadable{"\n+1.2\n3456 V", "."}, Unreadable{"\n+1\xC0\xC1.2345 V", "А"},
                              Unreadable{"\n         ", " "}}) {
    SCOPED_TRACE(u.line);
    device->InjectReceived(u.line);
    form->GetResult();
    form->Ti_LCDTimer(form->Ti_LCD);
    EXPECT_EQ(form->La_Data->Caption(), "ПЕРЕГР   ") << "a line without a reading is not shown";
    EXPECT_EQ(form->LaRS[2]->Caption(), u.cell2);
  }
}

TEST(PanelProtocol, TheTriggerHandlerWaitsForTheProbeAnswerOnly) {
  FakeCom1 device;
  auto form = MakeForm();
  PumpFor(50ms);  // the second start-up (Ti_Reset) flushes the input
  form->Ti_Diag->SetEnabled(false);
  device->InjectReceived("A");
  ASSERT_TRUE(PumpUntil([&] { return form->La_FlagDiap->Caption() == "65"; }));
  EXPECT_EQ(form->FlagSvyaz, 0);
  device->InjectReceived("\xC0");
  ASSERT_TRUE(PumpUntil([&] { return form->La_FlagDiap->Caption() == "192"; }));
  EXPECT_EQ(form->FlagSvyaz, 0);
  EXPECT_FALSE(form->SioComPort1->CharAvailable());

  device->InjectReceived("!x");
  ASSERT_TRUE(PumpUntil([&] { return form->FlagSvyaz == 1; }));
  EXPECT_EQ(form->La_FlagDiap->Caption(), "33");
  EXPECT_FALSE(form->SioComPort1->CharAvailable()) << "flushed after the answer";
  device->InjectReceived("Z");
  PumpFor(100ms);
  EXPECT_EQ(form->La_FlagDiap->Caption(), "33") << "ignored once the link is up";
  EXPECT_TRUE(form->SioComPort1->CharAvailable()) << "left for the polling reads";
}

TEST(PanelProtocol, APortThatCannotBeOpenedIsReportedAndTheProgramGoesOn) {
  const auto link = DosDevices() / "com1";
  std::filesystem::remove(link);
  std::filesystem::create_symlink("/nonexistent/tesmar-test-port", link);
  ExceptionRecorder recorder;
  {
    auto form = MakeForm();
    PumpFor(100ms);
    ASSERT_FALSE(recorder.texts.empty());
    // The class's text, then the port and the link it was looked for at.
    for (const std::string& text : recorder.texts)
      EXPECT_EQ(text, "ie_BadId - Specified comport doesn't exist\nCOM1: no serial device (the link " +
                          link.string() + " to /nonexistent/tesmar-test-port)");
    EXPECT_FALSE(form->SioComPort1->Open());
    EXPECT_EQ(form->La_Stat->Caption(), "Нет связи") << "the port is waited for";
    EXPECT_FALSE(form->Ti_Diag->Enabled());
    EXPECT_TRUE(form->Ti_Reopen->Enabled()) << "and tried again every second, silently";
  }
  std::filesystem::remove(link);
}

}  // namespace
