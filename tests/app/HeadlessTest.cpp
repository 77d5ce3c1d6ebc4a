// The program without a window against the simulator: the rows it prints
// are the readings the simulator streamed, and a silent instrument, a
// missing port and an unwritable file each end it with its own exit code
// and message.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "PanelTestUtil.h"
#include "record/Reading.h"

namespace {

using namespace tesmar::test;

struct Outcome {
  int code = -1;
  std::vector<std::string> rows;  // stdout lines
  std::string errors;             // stderr
  Clock::duration took{};
};

Outcome RunProgram(const std::string& arguments) {
  const auto errFile = DosDevices().parent_path() / "headless.err";
  const std::string command =
      std::string(TESMAR_PROGRAM) + " " + arguments + " 2>" + errFile.string();
  Outcome out;
  const auto start = Clock::now();
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  const int status = ::pclose(pipe);
  out.took = Clock::now() - start;
  out.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) out.rows.push_back(line);
  std::ifstream err(errFile);
  std::ostringstream errText;
  errText << err.rdbuf();
  out.errors = errText.str();
  return out;
}

std::vector<std::string> Fields(const std::string& row) {
  std::vector<std::string> fields;
  std::istringstream in(row);
  for (std::string f; std::getline(in, f, ',');) fields.push_back(f);
  return fields;
}

// Each row's raw text is the reading the panel takes from one of the lines
// the simulator sent, those lines come in the order sent, and the value is
// that reading's number in SI units.
void ExpectRowsFromLines(const Outcome& out, const std::vector<std::string>& lines, std::size_t count,
                         const record::Setting& setting, const char* unit) {
  ASSERT_EQ(out.rows.size(), count + 1) << out.errors;
  EXPECT_EQ(out.rows[0], "time,elapsed_s,value,unit,function,range,resolution,raw,status,segment");
  std::size_t next = 0;
  for (std::size_t i = 1; i < out.rows.size(); ++i) {
    SCOPED_TRACE(out.rows[i]);
    const auto f = Fields(out.rows[i]);
    ASSERT_EQ(f.size(), 10u);
    EXPECT_EQ(f[3], unit);
    EXPECT_EQ(f[4], std::string(1, setting.function));
    EXPECT_EQ(f[5], std::string(1, setting.range));
    EXPECT_EQ(f[6], std::string(1, setting.resolution));
    EXPECT_EQ(f[8], "ok");
    const bool counter = setting.function == 'F' || setting.function == 'T';
    const auto chars = static_cast<std::size_t>(record::DisplayChars(setting));
    bool found = false;
    for (; next < lines.size() && !found; ++next) {
      const std::string& line = lines[next];
      const std::string taken = counter ? " " + line.substr(1, 7) : line.substr(0, chars);
      found = taken == f[7] && line.find(std::string(1, setting.function) + setting.range) != std::string::npos;
    }
    ASSERT_TRUE(found) << "no line sent for this row (after the previous row's line)";
    const record::Reading reading = record::ParseReading(f[7], setting);
    EXPECT_EQ(std::stod(f[2]), reading.value);
  }
}

TEST(Headless, PrintsTheReadingsTheInstrumentStreamed) {
  auto sim = StartSimulator();
  const Outcome out = RunProgram("--headless --count 3 --function R --range 2 --csv -");
  EXPECT_EQ(out.code, 0) << out.errors;
  ExpectRowsFromLines(out, sim->SentLines(), 3, {'R', '2', '2'}, "Ω");
  EXPECT_EQ(sim->State().function, 'R');
  EXPECT_EQ(sim->State().range, '2');
}

TEST(Headless, SetsResolutionAndCounterLayout) {
  auto sim = StartSimulator();
  const Outcome period = RunProgram("--headless --count 2 --function T --resolution 0");
  EXPECT_EQ(period.code, 0) << period.errors;
  ExpectRowsFromLines(period, sim->SentLines(), 2, {'T', '0', '0'}, "s");
  EXPECT_EQ(sim->State().resolution, '0');
}

TEST(Headless, WritesTheFileNamedAndReportsOneThatCannotBe) {
  auto sim = StartSimulator();
  const auto file = DosDevices().parent_path() / "headless.csv";
  const Outcome out = RunProgram("--headless --count 2 --resolution 1 --csv " + file.string());
  EXPECT_EQ(out.code, 0) << out.errors;
  EXPECT_TRUE(out.rows.empty());
  std::ifstream in(file);
  std::vector<std::string> rows;
  for (std::string line; std::getline(in, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(Fields(rows[2])[6], "1");

  const Outcome full = RunProgram("--headless --count 2 --csv /dev/full");
  EXPECT_EQ(full.code, 5);
  EXPECT_NE(full.errors.find("/dev/full"), std::string::npos) << full.errors;
}

TEST(Headless, ASilentInstrumentEndsTheRunAfterTheTimeOut) {
  k4sim::Options options;
  options.silentAfter = 0ms;
  auto sim = StartSimulator(options);
  const Outcome out = RunProgram("--headless --count 2 --timeout 1");
  EXPECT_EQ(out.code, 4);
  // One second beyond two reading intervals of a second.
  EXPECT_NE(out.errors.find("did not answer: no reading for 3 s"), std::string::npos) << out.errors;
  EXPECT_NE(out.errors.find("Нет связи"), std::string::npos) << out.errors;
  // It waited the whole time-out, not less.
  EXPECT_GE(out.took, 3s);
  EXPECT_EQ(out.rows.size(), 1u);  // the header only
}

TEST(Headless, APortThatCannotBeOpenedIsNamed) {
  const Outcome out = RunProgram("--headless --count 1 --port 251");
  EXPECT_EQ(out.code, 3);
  EXPECT_NE(out.errors.find("COM251 cannot be opened"), std::string::npos) << out.errors;
  const Outcome usage = RunProgram("--headless --count 1 --function X");
  EXPECT_EQ(usage.code, 2);
  EXPECT_NE(usage.errors.find("one of U V I J R Z F T"), std::string::npos) << usage.errors;
}

}  // namespace
