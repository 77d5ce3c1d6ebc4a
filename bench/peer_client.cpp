#include "bench/peer_client.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace bench {

namespace {

constexpr unsigned kDeadlineS = 60;

// Plain arrays, so that the signal handler can remove the folder with
// unlink/rmdir and print the name with write.
char gName[64] = "client";
char gRoot[256];
char gTesmar[300];
char gFolder[320];
char gLink[340];

void RemoveFolder() {
  if (gRoot[0] == '\0') return;
  unlink(gLink);
  rmdir(gFolder);
  rmdir(gTesmar);
  rmdir(gRoot);
  gRoot[0] = '\0';
}

void OnSignal(int signal) {
  static const char message[] = ": overall deadline exceeded or killed\n";
  [[maybe_unused]] ssize_t written = write(2, gName, std::strlen(gName));
  written = write(2, message, sizeof message - 1);
  RemoveFolder();
  _exit(signal == SIGALRM ? 3 : 128 + signal);
}

// Nearest rank on the sorted samples; q in [0, 1].
double Quantile(std::vector<double> samples, double q) {
  std::sort(samples.begin(), samples.end());
  return samples[static_cast<std::size_t>(q * static_cast<double>(samples.size() - 1) + 0.5)];
}

}  // namespace

void SetClientName(const char* name) { std::snprintf(gName, sizeof gName, "%s", name); }

const char* ClientName() { return gName; }

void Fail(const std::string& what) {
  std::fprintf(stderr, "%s: %s\n", gName, what.c_str());
  RemoveFolder();
  std::fflush(stderr);
  _exit(1);
}

void PrepareClient(const char* slave) {
  signal(SIGALRM, OnSignal);
  signal(SIGTERM, OnSignal);
  signal(SIGINT, OnSignal);
  alarm(kDeadlineS);
  const char* tmp = std::getenv("TMPDIR");
  if (tmp == nullptr || tmp[0] != '/') tmp = "/tmp";
  std::snprintf(gRoot, sizeof gRoot, "%s/tesmar-peer-XXXXXX", tmp);
  if (mkdtemp(gRoot) == nullptr) {
    gRoot[0] = '\0';
    Fail("cannot make a temporary folder");
  }
  std::snprintf(gTesmar, sizeof gTesmar, "%s/tesmar", gRoot);
  std::snprintf(gFolder, sizeof gFolder, "%s/dosdevices", gTesmar);
  std::snprintf(gLink, sizeof gLink, "%s/com1", gFolder);
  if (mkdir(gTesmar, 0700) != 0 || mkdir(gFolder, 0700) != 0 || symlink(slave, gLink) != 0) {
    Fail("cannot make the com1 link");
  }
  setenv("XDG_CONFIG_HOME", gRoot, 1);
}

void FinishClient() {
  std::fflush(stdout);
  RemoveFolder();
}

double NowS() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double CpuS() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

void ReportLatency(const char* mode, const std::vector<double>& samples, double cpu) {
  const auto n = samples.size();
  std::printf("RESULT client=%s mode=%s n=%zu value=%.2f p99_us=%.2f cpu=%.3f\n", gName, mode, n,
              Quantile(samples, 0.5) * 1e6, Quantile(samples, 0.99) * 1e6,
              cpu / static_cast<double>(n) * 1e6);
}

void ReportThroughput(const char* mode, std::size_t bytes, double secs, double cpu,
                      const std::vector<std::uint8_t>* data) {
  const double mb = static_cast<double>(bytes) / 1e6;
  std::printf("RESULT client=%s mode=%s n=%zu value=%.2f secs=%.6f cpu=%.5f", gName, mode, bytes,
              mb / secs, secs, cpu / mb);
  if (data != nullptr) {
    std::uint32_t sum = 0;
    for (std::uint8_t b : *data) sum += b;
    std::printf(" sum32=%" PRIu32, sum);
  }
  std::printf("\n");
}

std::size_t ParseCount(int argc, char** argv, const char* usage) {
  if (argc != 4) {
    std::fprintf(stderr, "%s\n", usage);
    return 0;
  }
  char* end = nullptr;
  const unsigned long long n = std::strtoull(argv[3], &end, 10);
  if (n == 0 || *end != '\0' || n > 0xFFFFFFFFull) {
    std::fprintf(stderr, "%s: COUNT/BYTES must be a number from 1 to 2^32-1\n", gName);
    return 0;
  }
  return static_cast<std::size_t>(n);
}

}  // namespace bench
