#include "scpi/Parser.h"

#include <cctype>
#include <charconv>
#include <span>
#include <string>

namespace scpi {
namespace {

// One node of a header pattern: its long form, capitals being the short.
struct Node {
  std::string_view mnemonic;
  bool optional = false;
};

struct Header {
  std::vector<Node> nodes;
  bool query = false;
  Op op = Op::Identify;
  char function = 0;
};

struct FunctionHeader {
  char letter;
  std::vector<Node> nodes;
};

const std::vector<FunctionHeader>& FunctionHeaders() {
  static const std::vector<FunctionHeader> functions{
      {'U', {{"VOLTage"}, {"DC", true}}},
      {'V', {{"VOLTage"}, {"AC"}}},
      {'I', {{"CURRent"}, {"DC", true}}},
      {'J', {{"CURRent"}, {"AC"}}},
      {'R', {{"RESistance"}}},
      {'Z', {{"FRESistance"}}},
      {'F', {{"FREQuency"}}},
      {'T', {{"PERiod"}}},
  };
  return functions;
}

const std::vector<Header>& Headers() {
  static const std::vector<Header> headers = [] {
    std::vector<Header> made{
        {{{"*IDN"}}, true, Op::Identify},
        {{{"*RST"}}, false, Op::Reset},
        {{{"*CLS"}}, false, Op::ClearStatus},
        {{{"*OPC"}}, true, Op::OperationComplete},
        {{{"*WAI"}}, false, Op::Wait},
        {{{"SYSTem"}, {"ERRor"}, {"NEXT", true}}, true, Op::NextError},
        {{{"CONFigure"}}, true, Op::ConfigureQuery},
        {{{"SENSe", true}, {"FUNCtion"}}, false, Op::SetFunction},
        {{{"SENSe", true}, {"FUNCtion"}}, true, Op::FunctionQuery},
        {{{"READ"}}, true, Op::Read},
        {{{"FETCh"}}, true, Op::Fetch},
    };
    for (const FunctionHeader& f : FunctionHeaders()) {
      std::vector<Node> configure{{"CONFigure"}};
      configure.insert(configure.end(), f.nodes.begin(), f.nodes.end());
      made.push_back({configure, false, Op::Configure, f.letter});
      std::vector<Node> measure{{"MEASure"}};
      measure.insert(measure.end(), f.nodes.begin(), f.nodes.end());
      made.push_back({measure, true, Op::Measure, f.letter});
    }
    return made;
  }();
  return headers;
}

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The long form or the short form (the leading capitals), any case.
bool MatchesMnemonic(std::string_view input, std::string_view mnemonic) {
  std::size_t shortLength = 0;
  while (shortLength < mnemonic.size() && !std::islower(static_cast<unsigned char>(mnemonic[shortLength])))
    ++shortLength;
  return SameLetters(input, mnemonic) || SameLetters(input, mnemonic.substr(0, shortLength));
}

bool MatchNodes(std::span<const Node> pattern, std::span<const std::string_view> input) {
  if (pattern.empty()) return input.empty();
  if (!input.empty() && MatchesMnemonic(input[0], pattern[0].mnemonic) &&
      MatchNodes(pattern.subspan(1), input.subspan(1)))
    return true;
  return pattern[0].optional && MatchNodes(pattern.subspan(1), input);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// What a client sees of its own text in an error: short, as written, a
// tab as a blank (an answer is one line of printable characters).
std::string Quote(std::string_view text) {
  std::string quoted(text.substr(0, 40));
  for (char& c : quoted)
    if (c == '\t') c = ' ';
  return quoted;
}

Error Fail(int code, std::string_view detail = {}) { return Error{code, Quote(detail)}; }

// Splits at `separator` outside quoted strings.
std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  char quote = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote != 0) {
      if (c == quote) quote = 0;  // a doubled quote closes and opens again
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == separator) {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.push_back(text.substr(start));
  return parts;
}

// Header nodes of `text` (without a leading ':'); false for an empty node
// or a character no mnemonic has.
bool SplitNodes(std::string_view text, std::vector<std::string_view>& nodes) {
  for (std::string_view node : Split(text, ':')) {
    if (node.empty() || !std::isalpha(static_cast<unsigned char>(node[0]))) return false;
    for (char c : node)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    nodes.push_back(node);
  }
  return true;
}

bool IsNumberText(std::string_view text) {
  std::size_t i = 0;
  auto digits = [&] {
    const std::size_t from = i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    return i - from;
  };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t mantissa = digits();
  if (i < text.size() && text[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  return i == text.size();
}

std::optional<Error> ParseNumber(std::string_view text, double& number) {
  if (!IsNumberText(text)) return Fail(kSyntaxError, text);
  if (text.front() == '+') text.remove_prefix(1);
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (failure == std::errc::result_out_of_range) return Fail(kDataOutOfRange, text);
  if (failure != std::errc() || end != text.data() + text.size()) return Fail(kSyntaxError, text);
  return std::nullopt;
}

// A string parameter's content: 'a''b' is a'b.
std::optional<Error> Unquote(std::string_view text, std::string& content) {
  const char quote = text.front();
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (text[i] != quote) {
      content += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == quote) {
      content += quote;
      ++i;
    } else {
      if (i + 1 != text.size()) return Fail(kSyntaxError, text);
      return std::nullopt;
    }
  }
  return Fail(kSyntaxError, text);  // not closed
}

bool IsQuoted(std::string_view text) { return text.front() == '"' || text.front() == '\''; }

// A range (`allowAuto`) or resolution parameter.
std::optional<Error> ParseValue(std::string_view text, bool allowAuto, Value& value) {
  const char first = text.front();
  if (std::isdigit(static_cast<unsigned char>(first)) || first == '+' || first == '-' || first == '.') {
    value.kind = Value::Kind::Number;
    return ParseNumber(text, value.number);
  }
  if (IsQuoted(text)) return Fail(kIllegalParameterValue, text);
  std::vector<std::string_view> word;
  if (!SplitNodes(text, word) || word.size() != 1) return Fail(kSyntaxError, text);
  const struct {
    std::string_view mnemonic;
    Value::Kind kind;
  } keywords[] = {{"MINimum", Value::Kind::Minimum},
                  {"MAXimum", Value::Kind::Maximum},
                  {"DEFault", Value::Kind::Default},
                  {"AUTO", Value::Kind::Auto}};
  for (const auto& k : keywords) {
    if (!MatchesMnemonic(text, k.mnemonic)) continue;
    if (k.kind == Value::Kind::Auto && !allowAuto) break;
    value.kind = k.kind;
    return std::nullopt;
  }
  return Fail(kIllegalParameterValue, text);
}

std::optional<Error> ParseFunctionName(std::string_view text, char& function) {
  std::string content(text);
  if (IsQuoted(text)) {
    content.clear();
    if (auto error = Unquote(text, content)) return error;
  }
  std::string_view name = Trim(content);
  if (!name.empty() && name.front() == ':') name.remove_prefix(1);
  std::vector<std::string_view> nodes;
  if (SplitNodes(name, nodes)) {
    for (const FunctionHeader& f : FunctionHeaders()) {
      if (!MatchNodes(f.nodes, nodes)) continue;
      function = f.letter;
      return std::nullopt;
    }
  }
  return Fail(kIllegalParameterValue, text);
}

std::optional<Error> ParseParameters(std::string_view text, Command& command) {
  std::vector<std::string_view> parameters;
  if (!text.empty()) {
    for (std::string_view p : Split(text, ',')) {
      p = Trim(p);
      if (p.empty()) return Fail(kSyntaxError, text);
      parameters.push_back(p);
    }
  }
  switch (command.op) {
    case Op::Configure:
    case Op::Measure:
      if (parameters.size() > 2) return Fail(kParameterNotAllowed, parameters[2]);
      if (!parameters.empty())
        if (auto error = ParseValue(parameters[0], true, command.range)) return error;
      if (parameters.size() > 1)
        if (auto error = ParseValue(parameters[1], false, command.resolution)) return error;
      return std::nullopt;
    case Op::SetFunction:
      if (parameters.empty()) return Fail(kMissingParameter);
      if (parameters.size() > 1) return Fail(kParameterNotAllowed, parameters[1]);
      return ParseFunctionName(parameters[0], command.function);
    default:
      if (!parameters.empty()) return Fail(kParameterNotAllowed, parameters[0]);
      return std::nullopt;
  }
}

const Header* FindHeader(std::span<const std::string_view> nodes, bool query, bool& otherForm) {
  for (const Header& h : Headers()) {
    if (!MatchNodes(h.nodes, nodes)) continue;
    if (h.query == query) return &h;
    otherForm = true;
  }
  return nullptr;
}

// Parses one unit; `path` is the header path the line has reached.
std::optional<Error> ParseUnit(std::string_view unit, std::vector<std::string_view>& path, Command& command) {
  std::size_t gap = 0;
  while (gap < unit.size() && !IsBlank(unit[gap])) ++gap;
  std::string_view header = unit.substr(0, gap);
  const std::string_view parameters = Trim(unit.substr(gap));
  const bool query = !header.empty() && header.back() == '?';
  if (query) header.remove_suffix(1);
  std::vector<std::string_view> nodes;
  const bool common = !header.empty() && header.front() == '*';
  const bool absolute = !header.empty() && header.front() == ':';
  if (common) {
    if (header.size() < 2) return Fail(kSyntaxError, unit);
    for (char c : header.substr(1))
      if (!std::isalpha(static_cast<unsigned char>(c))) return Fail(kSyntaxError, unit);
    nodes.push_back(header);
  } else if (!SplitNodes(absolute ? header.substr(1) : header, nodes)) {
    return Fail(kSyntaxError, unit);
  }
  bool otherForm = false;
  const Header* found = nullptr;
  std::vector<std::string_view> full;
  if (!common && !absolute && !path.empty()) {
    full = path;
    full.insert(full.end(), nodes.begin(), nodes.end());
    found = FindHeader(full, query, otherForm);
  }
  if (found == nullptr) {
    full = nodes;
    found = FindHeader(full, query, otherForm);
  }
  if (found == nullptr) return Fail(kUndefinedHeader, header);
  if (!common) path.assign(full.begin(), full.end() - 1);
  command.op = found->op;
  command.function = found->function;
  return ParseParameters(parameters, command);
}

}  // namespace

bool IsQuery(Op op) {
  switch (op) {
    case Op::Reset:
    case Op::ClearStatus:
    case Op::Wait:
    case Op::Configure:
    case Op::SetFunction: return false;
    default: return true;
  }
}

ParsedLine ParseLine(std::string_view line) {
  ParsedLine parsed;
  for (char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte >= 0x7F) {
      parsed.error = Error{kInvalidCharacter, {}};
      return parsed;
    }
  }
  std::vector<std::string_view> units = Split(line, ';');
  // A line may end with ';' (and a blank line says nothing).
  if (Trim(units.back()).empty()) units.pop_back();
  std::vector<std::string_view> path;
  for (std::string_view unit : units) {
    unit = Trim(unit);
    if (unit.empty()) {
      parsed.error = Error{kSyntaxError, "empty command"};
      return parsed;
    }
    Command command;
    if (auto error = ParseUnit(unit, path, command)) {
      parsed.error = std::move(error);
      return parsed;
    }
    parsed.commands.push_back(command);
  }
  return parsed;
}

}  // namespace scpi
