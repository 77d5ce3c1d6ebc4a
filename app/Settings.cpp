#include "app/Settings.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <functional>
#include <sstream>
#include <string_view>
#include <system_error>

#include "platform/com_names.h"
#include "record/Reading.h"

namespace app {
namespace {

namespace fs = std::filesystem;

constexpr int kVersion = 1;
// Far beyond what this version writes; a larger file is not ours.
constexpr std::uintmax_t kMaxFileSize = 64 * 1024;

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

bool ParseInt(std::string_view text, int low, int high, int& value) {
  int parsed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size() || parsed < low || parsed > high) return false;
  value = parsed;
  return true;
}

// A setting held as one character of `allowed`.
bool ParseChar(std::string_view text, std::string_view allowed, std::int32_t& value) {
  if (text.size() != 1 || allowed.find(text[0]) == std::string_view::npos) return false;
  value = text[0];
  return true;
}

struct Key {
  std::string_view section;
  std::string_view name;
  std::function<bool(TSettings&, std::string_view)> read;
  std::function<std::string(const TSettings&)> write;
};

Key Switch(std::string_view name, std::int32_t TPanelSettings::*field) {
  return {"panel", name,
          [field](TSettings& s, std::string_view v) { return ParseChar(v, "01", s.panel.*field); },
          [field](const TSettings& s) { return std::string(1, static_cast<char>(s.panel.*field)); }};
}

Key Folder(std::string_view section, std::string TSettings::*field) {
  return {section, "folder",
          [field](TSettings& s, std::string_view v) {
            s.*field = std::string(v);
            return true;
          },
          [field](const TSettings& s) { return s.*field; }};
}

const std::vector<Key>& Keys() {
  static const std::vector<Key> keys{
      {"port", "number", [](TSettings& s, std::string_view v) { return ParseInt(v, 1, 256, s.port); },
       [](const TSettings& s) { return std::to_string(s.port); }},
      {"port", "baud",
       [](TSettings& s, std::string_view v) {
         for (std::string_view baud : {"300", "600", "1200", "2400", "4800", "9600"})
           if (v == baud) return ParseInt(v, 300, 9600, s.baud);
         return false;
       },
       [](const TSettings& s) { return std::to_string(s.baud); }},
      {"panel", "function",
       [](TSettings& s, std::string_view v) { return ParseChar(v, "UVIJRZFT", s.panel.Rod); },
       [](const TSettings& s) { return std::string(1, static_cast<char>(s.panel.Rod)); }},
      {"panel", "range",
       [](TSettings& s, std::string_view v) { return ParseChar(v, "0123456", s.panel.Diap); },
       [](const TSettings& s) { return std::string(1, static_cast<char>(s.panel.Diap)); }},
      {"panel", "resolution",
       [](TSettings& s, std::string_view v) { return ParseChar(v, "012", s.panel.Razresh); },
       [](const TSettings& s) { return std::string(1, static_cast<char>(s.panel.Razresh)); }},
      Switch("auto_range", &TPanelSettings::AVP),
      Switch("filter", &TPanelSettings::Filtr),
      Switch("sound", &TPanelSettings::Zvuk),
      Switch("periodic_zero", &TPanelSettings::KorPer),
      Switch("external_zero", &TPanelSettings::KorVnesh),
      Switch("backlight", &TPanelSettings::Podsvetka),
      Folder("recorder", &TSettings::recordFolder),
      {"recorder", "window",
       [](TSettings& s, std::string_view v) {
         if (v != "0" && v != "1") return false;
         s.recorderWindow = v == "1";
         return true;
       },
       [](const TSettings& s) { return std::string(s.recorderWindow ? "1" : "0"); }},
      Folder("chart", &TSettings::chartFolder),
  };
  return keys;
}

const Key* FindKey(std::string_view section, std::string_view name) {
  for (const Key& key : Keys())
    if (key.section == section && key.name == name) return &key;
  return nullptr;
}

// One line of the file into `settings`; false and `error` set when it is
// damaged.
bool ReadLine(std::string_view line, std::string& section, TSettings& settings, std::string& error) {
  const std::string_view text = Trim(line);
  if (text.empty() || text[0] == '#' || text[0] == ';') return true;
  if (text.front() == '[') {
    if (text.back() != ']' || text.size() < 3) return error = "a broken section line", false;
    section = std::string(Trim(text.substr(1, text.size() - 2)));
    return true;
  }
  const auto eq = text.find('=');
  if (eq == std::string_view::npos || eq == 0) return error = "a line that is no key=value", false;
  const std::string_view name = Trim(text.substr(0, eq));
  const std::string_view value = Trim(text.substr(eq + 1));
  if (section.empty() && name == "version") {
    int version = 0;
    // A newer version is read for what this one knows.
    if (!ParseInt(value, 1, 1 << 30, version)) return error = "a bad version", false;
    return true;
  }
  if (const Key* key = FindKey(section, name)) {
    if (!key->read(settings, value)) {
      error = "a bad value of " + section + "." + std::string(name);
      return false;
    }
    return true;
  }
  settings.unknown.emplace_back(section, std::string(text));
  return true;
}

}  // namespace

fs::path SettingsFile() { return platform::ConfigFolder() / "tesmar.conf"; }

std::optional<TSettings> ParseSettings(const std::string& text, std::string& error) {
  TSettings settings;
  std::string section;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (line.find('\0') != std::string::npos) {
      error = "line " + std::to_string(number) + ": a binary character";
      return std::nullopt;
    }
    if (!ReadLine(line, section, settings, error)) {
      error = "line " + std::to_string(number) + ": " + error;
      return std::nullopt;
    }
  }
  // A range the function does not have is not the panel's state.
  record::DisplayScale scale;
  if (!record::FindDisplayScale(static_cast<char>(settings.panel.Rod), static_cast<char>(settings.panel.Diap),
                                scale)) {
    error = "range " + std::string(1, static_cast<char>(settings.panel.Diap)) +
            " is not a range of function " + std::string(1, static_cast<char>(settings.panel.Rod));
    return std::nullopt;
  }
  return settings;
}

std::string FormatSettings(const TSettings& settings) {
  std::string text =
      "# Tesmar's settings, written when the program closes.\nversion=" + std::to_string(kVersion) + "\n";
  std::vector<std::string> sections;
  for (const auto& [section, line] : settings.unknown)
    if (section.empty()) text += line + "\n";
  for (const Key& key : Keys())
    if (std::find(sections.begin(), sections.end(), key.section) == sections.end())
      sections.emplace_back(key.section);
  for (const auto& [section, line] : settings.unknown)
    if (!section.empty() && std::find(sections.begin(), sections.end(), section) == sections.end())
      sections.push_back(section);
  for (const std::string& section : sections) {
    text += "[" + section + "]\n";
    for (const Key& key : Keys())
      if (key.section == section) text += std::string(key.name) + "=" + key.write(settings) + "\n";
    for (const auto& [unknownSection, line] : settings.unknown)
      if (unknownSection == section) text += line + "\n";
  }
  return text;
}

std::optional<TSettings> LoadSettings(const fs::path& path, std::string& warning) {
  std::error_code error;
  const auto status = fs::status(path, error);
  if (status.type() == fs::file_type::not_found) return std::nullopt;
  const std::string name = "settings " + path.string();
  if (status.type() != fs::file_type::regular) {
    warning = name + " is not a file; using the defaults";
    return std::nullopt;
  }
  const auto size = fs::file_size(path, error);
  if (error || size > kMaxFileSize) {
    warning = name + (error ? " cannot be read" : " is too large") + "; using the defaults";
    return std::nullopt;
  }
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  if (!file.good() && !file.eof()) {
    warning = name + " cannot be read; using the defaults";
    return std::nullopt;
  }
  std::string damage;
  auto settings = ParseSettings(text.str(), damage);
  if (!settings) warning = name + " is damaged (" + damage + "); using the defaults";
  return settings;
}

bool SaveSettings(const fs::path& path, const TSettings& settings, std::string& error) {
  std::error_code code;
  fs::create_directories(path.parent_path(), code);
  fs::path fresh = path;
  fresh += ".new";
  {
    std::ofstream file(fresh, std::ios::binary | std::ios::trunc);
    file << FormatSettings(settings);
    file.flush();
    if (!file) {
      error = "settings " + path.string() + " cannot be written";
      fs::remove(fresh, code);
      return false;
    }
  }
  fs::rename(fresh, path, code);
  if (code) {
    error = "settings " + path.string() + " cannot be written: " + code.message();
    fs::remove(fresh, code);
    return false;
  }
  return true;
}

}  // namespace app
