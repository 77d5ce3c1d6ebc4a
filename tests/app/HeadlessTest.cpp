// The program without a window against the simulator: the rows it prints
// are the readings the simulator streamed, and a silent instrument, a
// missing port and an unwritable file each end it with its own exit code
// and message.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

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

Outcome RunProgram(const std::string& arguments, const std::string& prefix = "",
                   const std::string& suffix = "") {
  const auto errFile = DosDevices().parent_path() / "headless.err";
  const std::string command =
      prefix + std::string(TESMAR_PROGRAM) + " " + arguments + " 2>" + errFile.string() + suffix;
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

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(Headless, PrintsTheReadingsTheInstrumentStreamed) {
  auto sim = StartSimulator();
  // Nothing on standard error, not even the GUI library's warning about a
  // missing runtime folder.
  const Outcome out =
      RunProgram("--headless --count 3 --function RESistance --range 2 --csv -", "env -u XDG_RUNTIME_DIR ");
  EXPECT_EQ(out.code, 0) << out.errors;
  EXPECT_EQ(out.errors, "");
  ExpectRowsFromLines(out, sim->SentLines(), 3, {'R', '2', '2'}, "Ω");
  EXPECT_EQ(sim->State().function, 'R');
  EXPECT_EQ(sim->State().range, '2');
  // An instrument left on resistance is set back to the default function
  // when none is asked for: no row says volts for a resistance.
  const Outcome plain = RunProgram("--headless --count 1");
  EXPECT_EQ(plain.code, 0) << plain.errors;
  ExpectRowsFromLines(plain, sim->SentLines(), 1, {'U', '1', '2'}, "V");
  EXPECT_EQ(sim->State().function, 'U');
}

// The run without a count ends on a signal as asked: the rows written are
// whole, the trace and the log are written, and it counts as done.
TEST(Headless, ASignalEndsARunUntilStoppedInOrder) {
  auto sim = StartSimulator();
  const auto folder = DosDevices().parent_path();
  struct Case {
    int signal;
    const char* format;
  };
  for (const Case& c : {Case{SIGINT, "csv"}, Case{SIGTERM, "jsonl"}, Case{SIGHUP, "csv"}}) {
    SCOPED_TRACE(c.signal);
    const std::string rows = (folder / "until.rows").string();
    const std::string trace = (folder / "until.trc").string();
    const std::string log = (folder / "until.log").string();
    const std::string format = std::string("--format=") + c.format;
    const std::string csv = "--csv=" + rows, traceArg = "--trace=" + trace, logArg = "--log=" + log;
    std::remove(rows.c_str());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      execl(TESMAR_PROGRAM, TESMAR_PROGRAM, "--headless", format.c_str(), csv.c_str(), traceArg.c_str(),
            logArg.c_str(), nullptr);
      _exit(127);
    }
    const std::size_t header = std::string(c.format) == "csv" ? 1 : 0;
    for (int i = 0; i < 300 && Lines(rows).size() < header + 3; ++i) std::this_thread::sleep_for(100ms);
    kill(child, c.signal);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal itself";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::ifstream in(rows, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n') << "the last row is whole";
    const auto lines = Lines(rows);
    ASSERT_GE(lines.size(), header + 3);
    for (std::size_t i = header; i < lines.size(); ++i) {
      if (header == 1)
        EXPECT_EQ(Fields(lines[i]).size(), 10u) << lines[i];
      else
        EXPECT_TRUE(lines[i].front() == '{' && lines[i].back() == '}') << lines[i];
    }
    std::ifstream traceFile(trace);
    std::string first;
    std::getline(traceFile, first);
    EXPECT_EQ(first, "Transmit: \r");
    std::ifstream logFile(log);
    std::getline(logFile, first);
    EXPECT_EQ(first.rfind("SIO v3.02", 0), 0u);
  }
}

TEST(Headless, NamesThePortByNumberOrDeviceAndListsIt) {
  auto sim = StartSimulator();
  const Outcome list = RunProgram("--list-ports");
  EXPECT_EQ(list.code, 0);
  bool listed = false;
  for (const std::string& line : list.rows)
    listed = listed || (line.rfind("COM1 ", 0) == 0 && line.find(sim->SlavePath()) != std::string::npos &&
                        line.find("[link]") != std::string::npos);
  EXPECT_TRUE(listed) << testing::PrintToString(list.rows);
  const Outcome byDevice = RunProgram("--headless --count 1 --port " + sim->SlavePath());
  EXPECT_EQ(byDevice.code, 0) << byDevice.errors;
  EXPECT_EQ(byDevice.rows.size(), 2u);
  const Outcome unknown = RunProgram("--headless --count 1 --port " + DosDevices().string());
  EXPECT_EQ(unknown.code, 2);
  EXPECT_NE(unknown.errors.find("no COM number leads to this device"), std::string::npos) << unknown.errors;
  const Outcome version = RunProgram("--version");
  EXPECT_EQ(version.code, 0);
  ASSERT_EQ(version.rows.size(), 1u);
  EXPECT_EQ(version.rows[0].rfind("tesmar ", 0), 0u);
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

  // Whatever cannot be written, rows, trace or log, is named, in English,
  // and the run fails with 5.
  for (const char* args : {"--csv /dev/full", "--trace=/dev/full", "--log=/dev/full"}) {
    const Outcome full = RunProgram(std::string("--headless --count 2 ") + args);
    EXPECT_EQ(full.code, 5) << args;
    EXPECT_EQ(full.errors.rfind("tesmar: ", 0), 0u) << full.errors;
    EXPECT_NE(full.errors.find("\"/dev/full\""), std::string::npos) << full.errors;
  }
  // A reader of the rows that leaves ends the run through the write's
  // error, not by SIGPIPE.
  const Outcome left = RunProgram("--headless --count 50 --csv -", "{ ", "; echo exit $?; } | head -2");
  ASSERT_EQ(left.rows.size(), 2u);
  std::ifstream err(DosDevices().parent_path() / "headless.err");
  std::string said;
  std::getline(err, said);
  EXPECT_NE(said.find("cannot write \"-\""), std::string::npos) << said;
}

TEST(Headless, ASilentInstrumentEndsTheRunAfterTheTimeOut) {
  k4sim::Options options;
  options.silentAfter = 0ms;
  auto sim = StartSimulator(options);
  const Outcome out = RunProgram("--headless --count 2 --timeout 1");
  EXPECT_EQ(out.code, 4);
  // One second beyond two reading intervals of a second.
  EXPECT_NE(
      out.errors.find("COM1 (" + sim->SlavePath() + ") did not answer: no reading for 3 s since the start"),
      std::string::npos)
      << out.errors;
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
