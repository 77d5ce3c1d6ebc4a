// The program itself: `tesmar --trace=FILE --log=FILE` against the simulator,
// ended by SIGTERM as from a terminal, writes both files as the port closes.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "PanelTestUtil.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(DiagnosticRun, SigtermWritesTheTraceAndTheLog) {
  auto sim = tesmar::test::StartSimulator();
  const fs::path folder = fs::temp_directory_path() / ("tesmar-run-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const std::string traceArg = "--trace=" + (folder / "run.trc").string();
  const std::string logArg = "--log=" + (folder / "run.log").string();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    execl(TESMAR_PROGRAM, TESMAR_PROGRAM, traceArg.c_str(), logArg.c_str(), nullptr);
    _exit(127);
  }
  // Until the panel has probed and set the instrument up.
  const bool setUp = tesmar::test::PumpUntil(
      [&] { return sim->Received().find("G0B1Y0B1M1\n") != std::string::npos; }, 20s);
  kill(child, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(setUp);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal instead of closing";
  EXPECT_EQ(WEXITSTATUS(status), 0);

  const std::string trace = ReadFile(folder / "run.trc");
  ASSERT_EQ(trace.rfind("Transmit: \r\n!", 0), 0u) << trace.substr(0, 80);
  EXPECT_NE(trace.find("Receive: \r\n!"), std::string::npos);
  // The set-up command goes out one paced character at a time, each
  // answered by the instrument.
  for (const char* step : {"Transmit: \r\nG\r\n\r\nReceive: \r\nG", "Transmit: \r\nM\r\n\r\nReceive: \r\nM",
                           "Transmit: \r\n[0A]"})
    EXPECT_NE(trace.find(step), std::string::npos) << step;
  const std::string log = ReadFile(folder / "run.log");
  EXPECT_EQ(log.rfind("SIO v3.02", 0), 0u);
  EXPECT_NE(log.find("WriteCom"), std::string::npos);
  EXPECT_NE(log.find("ReadCom"), std::string::npos);
  fs::remove_all(folder);
}

}  // namespace
