// What the program remembers of its user between runs: the port and line
// speed, the panel's settings (function, range, resolution and the mode
// items), the recorder's folder and whether its window was open, and the
// folder the chart was last saved to.
//
// They live in $XDG_CONFIG_HOME/tesmar/tesmar.conf (~/.config/tesmar/ when
// XDG_CONFIG_HOME is unset), a text file of "[section]" lines and
// "key=value" lines; '#' and ';' start comment lines:
//
//   version=1
//   [port]
//   number=1
//   baud=9600
//   [panel]
//   function=U        U V I J R Z F T
//   range=1           a range digit the function has
//   resolution=2      0 1 2
//   auto_range=0      this and the switches below: 0 or 1
//   filter=0
//   sound=1
//   periodic_zero=0
//   external_zero=0
//   backlight=1
//   [recorder]
//   folder=/home/user/measurements
//   window=0
//   [chart]
//   folder=/home/user/measurements
//
// A missing key keeps its default. Keys and sections this version does not
// know (a file written by a newer one) are ignored on reading and written
// back unchanged. A file that cannot be read, is too large, holds a line
// that is neither, or gives a known key a value it cannot take is damaged:
// the whole file is ignored and the defaults hold (LoadSettings says why in
// one line). The stored window layout is never written.
//
// Thread safety: pure functions and file access; any one thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace app {

// The panel's settings as the window holds them: the argument characters of
// the instrument's commands.
struct TPanelSettings {
  std::int32_t Rod = 'U';
  std::int32_t Diap = '1';
  std::int32_t Razresh = '2';
  std::int32_t AVP = '0';
  std::int32_t Filtr = '0';
  std::int32_t Zvuk = '1';
  std::int32_t KorPer = '0';
  std::int32_t KorVnesh = '0';
  std::int32_t Podsvetka = '1';
  bool operator==(const TPanelSettings&) const = default;
};

struct TSettings {
  int port = 1;     // COM number, 1..256
  int baud = 9600;  // 300, 600, 1200, 2400, 4800 or 9600
  TPanelSettings panel;
  std::string recordFolder;  // empty: the current folder
  bool recorderWindow = false;
  std::string chartFolder;  // empty: the current folder
  // Lines of keys and sections this version does not know, with their
  // section ("" before the first), kept to be written back.
  std::vector<std::pair<std::string, std::string>> unknown;
};

// The settings file's place for the user.
std::filesystem::path SettingsFile();

// The settings in `text`; nullopt and `error` set when it is damaged.
std::optional<TSettings> ParseSettings(const std::string& text, std::string& error);
// The text of a settings file holding `settings`.
std::string FormatSettings(const TSettings& settings);

// Reads `path`: nullopt when there is no file (no warning) or it cannot be
// used (`warning` says why, in one line, naming the file).
std::optional<TSettings> LoadSettings(const std::filesystem::path& path, std::string& warning);
// Writes `settings` to `path` whole or not at all (a new file renamed over
// the old one), making its folder; false and `error` set on a failure.
bool SaveSettings(const std::filesystem::path& path, const TSettings& settings, std::string& error);

}  // namespace app
