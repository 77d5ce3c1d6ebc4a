// The hidden service panel and the interface menu on scripted devices:
// raw codes sent by hand, the counter, the receive of one line, and the
// port and speed items that reopen the port.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "PanelTestUtil.h"
#include "app/Unit1.h"
#include "framework/Menus.h"

namespace {

using namespace tesmar::test;
using app::TForm1;

class ServicePanel : public testing::Test {
 protected:
  void SetUp() override {
    form = framework::NewObject<TForm1>();
    // No probing meanwhile: the device sees only what the panel sends.
    form->Ti_Reset->SetEnabled(false);
    form->Ti_Diag->SetEnabled(false);
    ASSERT_TRUE(device.AwaitWritten(1));
    device->ClearWritten();  // the start-up probe
  }
  framework::TButton& Button(const char* name) { return form->Component<framework::TButton>(name); }
  framework::TLabel& Label(const char* name) { return form->Component<framework::TLabel>(name); }
  // A click as the user makes it: an exception goes to the default handler.
  void Click(const char* name) {
    framework::TButton& button = Button(name);
    framework::CallGuarded(&button, [&] { button.Click(); });
  }

  FakeCom1 device;
  std::unique_ptr<TForm1> form;
};

TEST_F(ServicePanel, IsHiddenWithItsControlsWhereStored) {
  auto& panel = form->Component<framework::TPanel>("Pa_Otl");
  EXPECT_FALSE(panel.Visible());
  EXPECT_EQ(panel.Left(), 272);
  EXPECT_EQ(panel.Width(), 89);
  struct Place {
    const char* name;
    int left, top;
  };
  for (const Place& p : std::vector<Place>{{"Button2", 248, 16}, {"Bu_ClearBuf", 504, 88},
                                           {"Bu_CR", 512, 216}, {"Bu_Priem", 552, 216},
                                           {"Ed_EndStr", 440, 216}, {"Bu_Reset", 576, 56},
                                           {"Button14", 648, 56}, {"LaRS11", 680, 184},
                                           {"La_Count", 688, 216}}) {
    SCOPED_TRACE(p.name);
    auto& control = form->Component<framework::TControl>(p.name);
    EXPECT_EQ(control.Parent(), &panel);
    EXPECT_EQ(control.Left(), p.left);
    EXPECT_EQ(control.Top(), p.top);
  }
  EXPECT_EQ(form->Component<framework::TEdit>("Edit13").Text(), "$4C");
  EXPECT_EQ(form->Component<framework::TEdit>("Edit29").Text(), "$31");
}

TEST_F(ServicePanel, GoButtonsSendCodesAndCountThem) {
  ExceptionRecorder recorder;
  struct Case {
    const char* button;
    framework::TEdit* TForm1::*field;
    std::string text;  // "" keeps the stored text
    std::string sent;  // "" nothing
    const char* count;
  };
  const std::vector<Case> cases = {
      {"Button2", &TForm1::Ed_Rod, "", "U", "1"},
      {"Button3", &TForm1::Ed_Diap, "", "0", "2"},
      {"Bu_CR", &TForm1::Ed_EndStr, "", std::string(1, '\0'), "3"},
      {"Button2", &TForm1::Ed_Rod, "65", "A", "4"},
      {"Button3", &TForm1::Ed_Diap, "$7E", "~", "5"},
      {"Button2", &TForm1::Ed_Rod, "300", ",", "6"},  // the low byte of 300
      {"Button2", &TForm1::Ed_Rod, "U", "", "6"},
      {"Bu_CR", &TForm1::Ed_EndStr, "$", "", "6"},
      {"Bu_ClearBuf", &TForm1::Ed_ClearBuf, "", "!", "0"},
      {"Button3", &TForm1::Ed_Diap, "13", "\r", "1"},
      {"Bu_ClearBuf", &TForm1::Ed_ClearBuf, "x21", "", "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.button << " " << c.text);
    if (!c.text.empty()) (form.get()->*c.field)->SetText(c.text);
    device->ClearWritten();
    const std::size_t errors = recorder.texts.size();
    Click(c.button);
    // Sent by the port's writer thread, a moment later.
    PumpUntil([&] { return !c.sent.empty() && device->Written() == c.sent; }, c.sent.empty() ? 20ms : 1000ms);
    EXPECT_EQ(device->Written(), c.sent);
    EXPECT_EQ(form->La_Bufer->Caption(), c.count);
    if (c.sent.empty()) {
      ASSERT_EQ(recorder.texts.size(), errors + 1);
      EXPECT_EQ(recorder.texts.back(), "'" + c.text + "' is not a valid integer value");
    } else {
      EXPECT_EQ(recorder.texts.size(), errors);
    }
  }
  Click("Bu_Reset");
  EXPECT_EQ(form->La_Bufer->Caption(), "0");
  EXPECT_EQ(form->CountBufer, 0u);
  EXPECT_FALSE(form->SioComPort1->CharAvailable());
  EXPECT_EQ(Label("La_Count").Caption(), "0");
  EXPECT_EQ(Label("La_Echo").Caption(), "0");
}

TEST_F(ServicePanel, InitAsksForTheTriggerCommand) {
  form->FlagLinkUp = 1;
  form->Ti_CMD->SetEnabled(false);
  Click("Button14");
  EXPECT_EQ(form->La_Stat->Caption(), app::kStatusSetup);
  EXPECT_TRUE(form->Ti_CMD->Enabled());
  EXPECT_EQ(form->CommandText(form->CMD_Num), "G0B1\n");
  // The "Go" of row 3 has no action.
  Click("Button4");
  EXPECT_EQ(device->Written(), "");
}

TEST_F(ServicePanel, ReceiveTakesNineCharactersAfterTheLineFeed) {
  ExceptionRecorder recorder;
  struct Case {
    char razresh;
    std::string line, shown;
  };
  const std::vector<Case> cases = {
      {'2', "3 V U1\n+1.23456 V U1", "+1.23456 "},
      {'0', "junk\n-0.00012 V U1", "-0.00012 "},  // whatever the resolution
      {'2', "\n+50.0012 Hz F0", "+50.0012 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    form->Razresh = c.razresh;
    form->La_Data->SetVisible(false);
    // Received before the press: flushed by it (else "3 V U1" would be
    // taken for the reading).
    form->SioComPort1->FlushInput();
    device->InjectReceived("stale\n");
    // In the port's input before the press, whatever the machine's load.
    // An empty input's CharAvailable lets a delivery waiting for the
    // window go on; the dispatch thread stores nothing new meanwhile.
    const auto limit = std::chrono::steady_clock::now() + 5s;
    while (form->SioComPort1->Dispatcher()->UnreadCount() < 6 && std::chrono::steady_clock::now() < limit) {
      form->SioComPort1->CharAvailable();
      std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(form->SioComPort1->Dispatcher()->UnreadCount(), 6);
    std::thread later([&] {
      std::this_thread::sleep_for(30ms);
      device->InjectReceived(c.line);
    });
    Click("Bu_Priem");
    later.join();
    EXPECT_TRUE(recorder.texts.empty());
    EXPECT_TRUE(form->La_Data->Visible());
    EXPECT_EQ(form->La_Data->Caption(), c.shown);
    EXPECT_EQ(form->DataStr, c.shown);
    for (std::size_t i = 0; i < 8; ++i)
      EXPECT_EQ(form->LaRS[i]->Caption(), c.shown.substr(i, 1)) << "cell " << i;
    EXPECT_EQ(form->RS[8], c.shown.substr(8, 1));
    EXPECT_EQ(form->LaRS[8]->Caption(), "-----") << "the ninth waits for the display step";
  }
}

TEST_F(ServicePanel, ReceiveFromAStreamWithoutLineFeedGivesUp) {
  ExceptionRecorder recorder;
  std::atomic<bool> stop{false};
  std::thread noise([&] {
    while (!stop) {
      device->InjectReceived("x");
      std::this_thread::sleep_for(5ms);
    }
  });
  const auto start = Clock::now();
  Click("Bu_Priem");
  stop = true;
  noise.join();
  const auto took = Clock::now() - start;
  ASSERT_EQ(recorder.texts.size(), 1u);
  EXPECT_EQ(recorder.texts[0], app::kStatusNoLink);
  EXPECT_GE(took, app::kReplyLimit - 100ms);
  EXPECT_LT(took, app::kReplyLimit + 1000ms);
}

// The interface menu: the mark moves, then the port is closed, set and
// opened again, so every byte after it goes to the new port or speed.
TEST(InterfaceMenu, PortAndSpeedItemsReopenThePort) {
  FakeCom1 com1;
  auto com2 = platform::FakeSerialDevice::Register(2);
  ExceptionRecorder recorder;
  auto form = framework::NewObject<TForm1>();
  form->Ti_Diag->SetEnabled(false);
  form->Ti_Reset->SetEnabled(false);

  framework::CallGuarded(form->Com21, [&] { form->Com21->Click(); });
  EXPECT_TRUE(form->Com21->Checked());
  EXPECT_FALSE(form->Com11->Checked());
  EXPECT_FALSE(com1->IsOpen());
  EXPECT_TRUE(com2->IsOpen());
  EXPECT_EQ(form->SioComPort1->ComNumber(), 2);
  // The new port is probed by the link start-up before anything else.
  form->Component<framework::TButton>("Button2").Click();
  EXPECT_TRUE(PumpUntil([&] { return com2->Written().find('U') != std::string::npos; }, 20000ms));
  EXPECT_EQ(com2->Written().front(), '!');

  struct Speed {
    framework::TMenuItem* item;
    int baud;
  };
  for (const Speed& s : std::vector<Speed>{{form->N3001, 300},   {form->N6001, 600},
                                           {form->N12001, 1200}, {form->N24001, 2400},
                                           {form->N48001, 4800}, {form->N96001, 9600}}) {
    SCOPED_TRACE(s.baud);
    framework::CallGuarded(s.item, [&] { s.item->Click(); });
    EXPECT_TRUE(s.item->Checked());
    EXPECT_FALSE(form->N96001->Checked() && s.baud != 9600);
    ASSERT_TRUE(form->SioComPort1->Open());
    ASSERT_FALSE(com2->StatesSet().empty());
    EXPECT_EQ(com2->StatesSet().back().BaudRate, static_cast<platform::DWORD>(s.baud));
    EXPECT_EQ(com2->StatesSet().back().ByteSize, 7);
  }
  EXPECT_TRUE(recorder.texts.empty());

  // COM2 gone: the mark has moved to Com1 and back, the failure is shown,
  // the port stays closed.
  framework::CallGuarded(form->Com11, [&] { form->Com11->Click(); });
  EXPECT_TRUE(com1->IsOpen());
  platform::FakeSerialDevice::Unregister(2);
  const auto link = DosDevices() / "com2";
  std::filesystem::remove(link);
  std::filesystem::create_symlink("/nonexistent/tesmar-test-port", link);
  framework::CallGuarded(form->Com21, [&] { form->Com21->Click(); });
  EXPECT_TRUE(form->Com21->Checked());
  EXPECT_FALSE(form->Com11->Checked());
  EXPECT_FALSE(form->SioComPort1->Open());
  EXPECT_FALSE(com1->IsOpen());
  ASSERT_EQ(recorder.texts.size(), 1u);
  EXPECT_EQ(recorder.texts[0],
            "ie_BadId - Specified comport doesn't exist\nCOM2: no serial device (the link " + link.string() +
                " to /nonexistent/tesmar-test-port)");
  form.reset();
  std::filesystem::remove(link);
}

}  // namespace
