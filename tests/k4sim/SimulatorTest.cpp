#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "LineShape.h"
#include "PtyClient.h"
#include "tools/k4sim/Simulator.h"

namespace k4sim {
namespace {

using test::Ms;
using test::PtyClient;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Options Fast(std::chrono::milliseconds interval = 20ms) {
  Options options;
  options.lineInterval = interval;
  return options;
}

// Splits a received stream at its LFs; the part before the first LF is
// dropped (the stream may be caught mid-line).
std::vector<std::string> LinesAfterLf(const std::string& stream) {
  std::vector<std::string> lines;
  std::size_t at = stream.find('\n');
  while (at != std::string::npos) {
    const std::size_t next = stream.find('\n', at + 1);
    lines.push_back(stream.substr(at + 1, next == std::string::npos ? next : next - at - 1));
    at = next;
  }
  return lines;
}

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/k4sim_test_XXXXXX";
    path_ = mkdtemp(name);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

TEST(SimulatorPacing, EveryCharacterIsAnsweredByExactlyItself) {
  Simulator sim(Fast());
  PtyClient client(sim.SlavePath());
  ASSERT_TRUE(client.SendLinePaced("B0\n"));
  client.ReadFor(60ms);  // lines already on their way

  std::string sent;
  for (int c = 1; c < 256; ++c) {
    if (c != '\n' && c != '!') sent += static_cast<char>(c);
  }
  sent += "!\n";
  for (char c : sent) {
    const std::optional<char> answer = client.SendPaced(c);
    ASSERT_TRUE(answer.has_value()) << int(static_cast<unsigned char>(c));
    EXPECT_EQ(*answer, c);
  }
  EXPECT_EQ(client.ReadFor(60ms), "");  // nothing more than one answer each
  EXPECT_EQ(sim.Counters().answers, 3 + sent.size());
  EXPECT_EQ(sim.Received().substr(3), sent);
}

// The panel's way of working: each command character paced by whatever
// comes back, then readings taken right after an LF. Lines flow fast enough
// to interleave with the pacing. Every reading taken must be a clean number
// (lines made before the command took effect may still be queued, so the
// first ones may have the old format), the new format must follow, and
// every LF in the stream must be followed by a whole line.
TEST(SimulatorPacing, ReadingsAfterPacedCommandsAreWhole) {
  Simulator sim(Fast(3ms));
  PtyClient client(sim.SlavePath());
  struct Step {
    const char* command;
    std::size_t take;
    const char* shape;
  };
  const std::vector<Step> steps = {
      {"G0B1Y0B1M1\n", 9, "s#.##### "},
      {"H0\n", 7, "s#.### "},
      {"H1\n", 8, "s#.#### "},
      {"U0\n", 8, "s###.## "},
      {"H2\n", 9, "s###.### "},
      {"F0\n", 8, "s##.####"},
      {"T0\n", 8, "s#####.#"},
      {"H0\n", 8, "s#####.#"},
  };
  std::string everything;
  for (const Step& step : steps) {
    ASSERT_TRUE(client.SendLinePaced(step.command)) << step.command;
    bool matched = false;
    for (int i = 0; i < 100 && !matched; ++i) {
      const std::string reading = client.ReadReading(step.take);
      ASSERT_TRUE(test::IsNumberField(reading)) << step.command << " gave '" << reading << "'";
      matched = test::HasShape(reading, step.shape);
    }
    EXPECT_TRUE(matched) << step.command;
    everything += client.ReadFor(15ms);
  }
  for (const std::string& line : LinesAfterLf(everything)) {
    EXPECT_TRUE(test::IsLineText(line)) << "'" << line << "'";
  }
  EXPECT_EQ(sim.Counters().commandLines, steps.size());
}

TEST(SimulatorProbe, AnswersProbeAndClearsTheCommandBuffer) {
  Simulator sim(Fast(10s));
  PtyClient client(sim.SlavePath());
  EXPECT_EQ(client.SendPaced('H'), 'H');
  EXPECT_EQ(client.SendPaced('0'), '0');
  EXPECT_EQ(client.SendPaced('!'), '!');
  client.SendPaced('\n');
  client.ReadFor(30ms);  // the fresh reading that follows the echoed LF
  EXPECT_EQ(sim.State().resolution, '2');
  EXPECT_EQ(sim.Counters().commandLines, 0u);
  EXPECT_EQ(sim.Counters().probes, 1u);

  ASSERT_TRUE(client.SendLinePaced("H0R4\n"));
  EXPECT_EQ(sim.State().resolution, '0');
  EXPECT_EQ(sim.State().function, 'R');
  EXPECT_EQ(sim.State().range, '4');
  // The echoed LF brings a fresh reading made with the new settings.
  EXPECT_TRUE(test::HasShape(client.ReadFor(30ms), "+0.9##   MOhm R4"));
}

TEST(SimulatorStream, LinesComeAtTheConfiguredRate) {
  Simulator sim(Fast(40ms));
  PtyClient client(sim.SlavePath());
  client.ReadFor(50ms);
  const std::string stream = client.ReadFor(600ms);
  const auto lines = std::count(stream.begin(), stream.end(), '\n');
  EXPECT_GE(lines, 7);  // 15 expected
  EXPECT_LE(lines, 20);
  for (const std::string& line : LinesAfterLf(stream)) {
    EXPECT_TRUE(test::IsLineText(line)) << line;
  }
}

// The faults draw on their own random numbers, so the readings are those
// of a clean instrument with the same seed: each faulty line can be checked
// against the line it was made from.
TEST(SimulatorFaults, LineFaultsShowInTheStream) {
  enum Fault { Garbage, NoLf, Cut };
  for (Fault fault : {Garbage, NoLf, Cut}) {
    Options options = Fast(5ms);
    (fault == Garbage ? options.garbageRate : fault == NoLf ? options.dropLfRate
                                                            : options.cutLineRate) = 1.0;
    Simulator sim(options);
    PtyClient client(sim.SlavePath());
    // Seven LFs give six whole lines; a stream without LFs is read as long.
    const std::string stream = client.ReadUntil([fault](const std::string& got) {
      std::size_t lfs = 0;
      for (const char c : got) lfs += c == '\n' ? 1 : 0;
      return fault == NoLf ? got.size() >= 120 : lfs >= 8;
    });
    sim.Stop();
    const CounterSet counters = sim.Counters();
    EXPECT_GT(counters.lines, 5u) << fault;
    EXPECT_EQ(fault == Garbage ? counters.garbageBursts
              : fault == NoLf  ? counters.linesWithoutLf
                               : counters.cutLines,
              counters.lines)
        << fault;

    Instrument clean(options.seed);
    if (fault == NoLf) {
      std::string expected;
      while (expected.size() < stream.size()) expected += clean.NextReadingText();
      EXPECT_EQ(stream, expected.substr(0, stream.size()));
      continue;
    }
    const std::vector<std::string> lines = LinesAfterLf(stream);
    ASSERT_GT(lines.size(), 5u) << fault;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
      const std::string& line = lines[i];
      const std::string text = clean.NextReadingText();
      if (fault == Cut) {
        EXPECT_GE(line.size(), 1u);
        EXPECT_LE(line.size(), 6u);
        EXPECT_EQ(line, text.substr(0, line.size()));
        continue;
      }
      // Garbage: the clean text with one burst of 1..8 bytes put in.
      ASSERT_GE(line.size(), text.size() + 1) << line;
      ASSERT_LE(line.size(), text.size() + 8) << line;
      std::size_t prefix = 0;
      while (prefix < text.size() && line[prefix] == text[prefix]) ++prefix;
      std::size_t suffix = 0;
      while (suffix < text.size() &&
             line[line.size() - 1 - suffix] == text[text.size() - 1 - suffix]) {
        ++suffix;
      }
      EXPECT_GE(prefix + suffix, text.size()) << line << " from " << text;
      EXPECT_EQ(line.find('!'), std::string::npos) << line;
    }
  }
}

TEST(SimulatorFaults, ProbeIgnoredUntilItsTime) {
  Options options = Fast(10s);
  options.probeAfter = 300ms;
  Simulator sim(options);
  PtyClient client(sim.SlavePath());
  EXPECT_EQ(client.SendPaced('!', 100ms), std::nullopt);
  EXPECT_EQ(client.SendPaced('A', 100ms), 'A');  // everything else works
  EXPECT_EQ(sim.Counters().probesIgnored, 1u);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(client.SendPaced('!'), '!');
}

TEST(SimulatorFaults, SilenceOnScheduleAndOnRequest) {
  Options options = Fast(10ms);
  options.silentAfter = 0ms;
  options.silentFor = 300ms;
  Simulator sim(options);
  PtyClient client(sim.SlavePath());
  client.Write("H0\n!");
  EXPECT_EQ(client.ReadFor(150ms), "");
  EXPECT_TRUE(sim.Silent());
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(sim.Silent());
  EXPECT_NE(client.ReadFor(50ms).find('\n'), std::string::npos);
  EXPECT_EQ(sim.Counters().deafBytes, 4u);
  EXPECT_EQ(sim.State().resolution, '2');  // deaf: the command never took

  sim.SetSilent(true);
  client.ReadFor(30ms);
  client.Write("!");
  EXPECT_EQ(client.ReadFor(60ms), "");
  sim.SetSilent(false);
  EXPECT_EQ(client.SendPaced('!'), '!');
}

TEST(SimulatorFaults, SlowPacingDelaysEachAnswer) {
  Options options = Fast(10s);
  options.answerDelay = 150ms;
  Simulator sim(options);
  PtyClient client(sim.SlavePath());
  const auto start = Clock::now();
  client.Write("!");
  EXPECT_EQ(client.ReadChar(1000ms), '!');
  EXPECT_GE(Clock::now() - start, 140ms);
}

TEST(SimulatorLog, ReceivedBytesAreLoggedOnePerLine) {
  TempDir dir;
  Options options = Fast(10s);
  options.logPath = dir.Path() + "/rx.log";
  {
    Simulator sim(options);
    PtyClient client(sim.SlavePath());
    ASSERT_TRUE(client.SendLinePaced("A1\n"));
  }
  std::ifstream log(options.logPath);
  std::vector<std::string> tails;
  for (std::string line; std::getline(log, line);) tails.push_back(line.substr(11));
  EXPECT_EQ(tails, (std::vector<std::string>{"41 A", "31 1", "0A LF"}));
}

TEST(SimulatorLink, LinksAsComNAndCleansUp) {
  TempDir dir;
  const std::string dosdevices = dir.Path() + "/tesmar/dosdevices";
  Options options = Fast(10s);
  options.comNumber = 3;
  options.dosdevices = dosdevices;
  const std::string link = dosdevices + "/com3";
  // A dangling link, as a killed run leaves it, is replaced.
  std::filesystem::create_directories(dosdevices);
  std::filesystem::create_symlink("/nonexistent/k4sim", link);
  {
    Simulator sim(options);
    EXPECT_EQ(sim.LinkPath(), link);
    EXPECT_EQ(std::filesystem::read_symlink(link), sim.SlavePath());
    PtyClient client(link);
    EXPECT_EQ(client.SendPaced('!'), '!');
    // A second simulator must not take a live link over.
    EXPECT_THROW(Simulator second(options), std::runtime_error);
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));

  std::ofstream(link) << "not ours";
  EXPECT_THROW(Simulator third(options), std::runtime_error);
  EXPECT_TRUE(std::filesystem::is_regular_file(link));

  options.dosdevices.clear();  // would link com3 in the working folder
  EXPECT_THROW(Simulator fourth(options), std::invalid_argument);
}

// Clients come and go (the panel reopens the port on a speed change); the
// simulator must keep working with no client in between.
TEST(SimulatorLink, ClientsMayReopenTheSlave) {
  Simulator sim(Fast(5ms));
  for (int round = 0; round < 3; ++round) {
    {
      PtyClient client(sim.SlavePath());
      client.Write("!");
      const std::string got =
          client.ReadUntil([](const std::string& seen) { return seen.find('!') != std::string::npos; });
      EXPECT_NE(got.find('!'), std::string::npos) << round;
    }
    std::this_thread::sleep_for(30ms);
  }
  sim.Stop();
  sim.Stop();
  EXPECT_GE(sim.Counters().probes, 3u);
}

}  // namespace
}  // namespace k4sim
