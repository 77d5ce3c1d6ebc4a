// The SCPI server on the window: a client's setting is the panel's own,
// made by its menu items, so the marks, the strip and the instrument
// follow; its readings are the ones the display shows; the panel's keys
// and the clients take turns in the order they come.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "PanelTestUtil.h"
#include "app/ScpiServer.h"
#include "framework/Menus.h"
#include "platform/socket.h"
#include "record/Reading.h"

namespace {

using namespace tesmar::test;

class ScpiPanel : public testing::Test {
 protected:
  void SetUp() override {
    sim = StartSimulator();
    form = framework::NewObject<app::TForm1>();
    form->OnReading = [this](const std::string& text, char function, char range, char resolution) {
      shown.push_back(record::ParseReading(text, record::Setting{function, range, resolution}).value);
    };
    std::string error;
    auto network = app::TScpiServer::Listen(app::TServeAddress{"127.0.0.1", 0}, error);
    ASSERT_TRUE(network) << error;
    server = std::make_unique<app::TScpiServer>(*form, std::move(network), 10s);
    ASSERT_EQ(platform::ConnectTcp("127.0.0.1", server->Port(), client), 0);
  }
  void TearDown() override {
    client.Close();
    server.reset();
    form.reset();
    sim.reset();
  }

  // Sends a line and serves the window until its answer line is in.
  std::string Query(const std::string& line) {
    const std::string out = line + "\n";
    EXPECT_EQ(platform::SendSome(client, out.data(), out.size()), static_cast<long>(out.size()));
    std::string answer;
    EXPECT_TRUE(PumpUntil(
        [&] {
          char buffer[256];
          const long n = platform::ReceiveSome(client, buffer, sizeof buffer);
          if (n > 0) answer.append(buffer, static_cast<std::size_t>(n));
          return !answer.empty() && answer.back() == '\n';
        },
        20000ms))
        << line;
    return answer.empty() ? answer : answer.substr(0, answer.size() - 1);
  }

  std::unique_ptr<k4sim::Simulator> sim;
  std::unique_ptr<app::TForm1> form;
  std::unique_ptr<app::TScpiServer> server;
  platform::Socket client;
  std::vector<double> shown;  // by the handler set before the server
};

TEST_F(ScpiPanel, ThePanelShowsWhatAClientSet) {
  EXPECT_EQ(Query("CONF:RES 2E4,MAX;*OPC?"), "1");
  EXPECT_EQ(form->Rod, 'R');
  EXPECT_EQ(form->Diap, '2');
  EXPECT_EQ(form->Razresh, '0');
  EXPECT_TRUE(form->N_R->Checked());
  EXPECT_TRUE(form->N_H0->Checked());
  EXPECT_EQ(form->La_Stat->Caption(), "функция R   диапазон 20ком   запуск внутренний");
  const auto state = sim->State();
  EXPECT_EQ(std::string({state.function, state.range, state.resolution}), "R20");

  // The user's key in between: the next client command finds its choice.
  form->N_V->Click();
  EXPECT_EQ(Query("FUNC?;CONF:VOLT:AC AUTO;*OPC?"), "\"VOLT:AC\";1");
  EXPECT_TRUE(form->N_A->Checked());
  EXPECT_NE(form->La_Stat->Caption().find("АВП"), std::string::npos);
}

TEST_F(ScpiPanel, AMeasurementIsAReadingTheDisplayShowed) {
  const double value = std::strtod(Query("MEAS:VOLT? 20").c_str(), nullptr);
  EXPECT_EQ(sim->State().range, '2');
  // Shown at 20 V, after the first reading of that range (which the
  // display skips) and one more.
  EXPECT_NE(std::find(shown.begin(), shown.end(), value), shown.end());
  EXPECT_GT(value, 2.0);
}

}  // namespace
