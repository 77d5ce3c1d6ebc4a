#include <charconv>
#include <limits>
#include <optional>
#include <vector>

#include "framework/Layout.h"
#include "framework/LayoutText.h"
#include "framework/Properties.h"
#include "platform/resources.h"

namespace framework {
namespace {

// Nesting deeper than this is surely a broken file, and the reader recurses
// once per level.
constexpr int kMaxDepth = 64;

enum class Tok { End, Ident, Number, String, Char, Punct };

struct Token {
  Tok kind = Tok::End;
  std::string text;        // identifier, string contents or punctuation
  std::int64_t number = 0;  // Number, Char
  int line = 1;
};

class Lexer {
 public:
  Lexer(std::string_view text, std::string_view source) : text_(text), source_(source) {}

  Token Next();
  [[noreturn]] void Fail(int line, const std::string& message) const {
    throw ELayoutError(std::string(source_), line, message);
  }

 private:
  void SkipSpaceAndComments();
  Token Number(bool negative);
  Token String();
  Token Char();
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek(std::size_t ahead = 0) const {
    return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0';
  }

  std::string_view text_;
  std::string_view source_;
  std::size_t pos_ = 0;
  int line_ = 1;
};

bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void Lexer::SkipSpaceAndComments() {
  while (!AtEnd()) {
    char c = Peek();
    if (c == '\n') {
      ++line_;
      ++pos_;
    } else if (c == ' ' || c == '\t' || c == '\r') {
      ++pos_;
    } else if (c == '/' && Peek(1) == '/') {
      while (!AtEnd() && Peek() != '\n') ++pos_;
    } else {
      return;
    }
  }
}

Token Lexer::Next() {
  SkipSpaceAndComments();
  Token t;
  t.line = line_;
  if (AtEnd()) return t;
  char c = Peek();
  if (IsIdentStart(c)) {
    std::size_t start = pos_;
    while (!AtEnd() && (IsIdentStart(Peek()) || IsDigit(Peek()))) ++pos_;
    t.kind = Tok::Ident;
    t.text = std::string(text_.substr(start, pos_ - start));
    return t;
  }
  if (IsDigit(c) || c == '$') return Number(false);
  if (c == '-' && (IsDigit(Peek(1)) || Peek(1) == '$')) {
    ++pos_;
    return Number(true);
  }
  if (c == '"') return String();
  if (c == '#') return Char();
  if (std::string_view("{}:=.,[]()").find(c) != std::string_view::npos) {
    ++pos_;
    t.kind = Tok::Punct;
    t.text = std::string(1, c);
    return t;
  }
  Fail(line_, std::string("unexpected character '") + c + "'");
}

Token Lexer::Number(bool negative) {
  Token t;
  t.kind = Tok::Number;
  t.line = line_;
  int base = 10;
  if (Peek() == '$') {
    base = 16;
    ++pos_;
  }
  std::size_t start = pos_;
  while (!AtEnd() && (base == 16 ? HexValue(Peek()) >= 0 : IsDigit(Peek()))) ++pos_;
  if (pos_ == start) Fail(line_, "a number has no digits");
  if (!AtEnd() && (IsIdentStart(Peek()) || IsDigit(Peek()))) Fail(line_, "malformed number");
  std::uint64_t value = 0;
  auto [end, ec] = std::from_chars(text_.data() + start, text_.data() + pos_, value, base);
  if (ec != std::errc() || value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
    Fail(line_, "number out of range");
  t.number = negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
  return t;
}

Token Lexer::String() {
  Token t;
  t.kind = Tok::String;
  t.line = line_;
  ++pos_;  // opening quote
  while (true) {
    if (AtEnd() || Peek() == '\n') Fail(t.line, "unterminated string");
    char c = text_[pos_++];
    if (c == '"') return t;
    if (c != '\\') {
      t.text += c;
      continue;
    }
    if (AtEnd()) Fail(t.line, "unterminated string");
    char e = text_[pos_++];
    switch (e) {
      case '"': t.text += '"'; break;
      case '\\': t.text += '\\'; break;
      case 'n': t.text += '\n'; break;
      case 't': t.text += '\t'; break;
      case 'r': t.text += '\r'; break;
      case 'x': {
        int hi = HexValue(Peek()), lo = HexValue(Peek(1));
        if (hi < 0 || lo < 0) Fail(line_, "\\x needs two hex digits");
        pos_ += 2;
        t.text += static_cast<char>(hi * 16 + lo);
        break;
      }
      default: Fail(line_, std::string("unknown escape \\") + e);
    }
  }
}

Token Lexer::Char() {
  Token t;
  t.kind = Tok::Char;
  t.line = line_;
  ++pos_;
  std::size_t start = pos_;
  while (!AtEnd() && IsDigit(Peek()) && pos_ - start < 4) ++pos_;
  if (pos_ == start) Fail(line_, "# needs a character code");
  int value = 0;
  std::from_chars(text_.data() + start, text_.data() + pos_, value);
  if (value > 255) Fail(line_, "character code out of range");
  t.number = value;
  return t;
}

struct Fixup {
  TPersistent* target;
  const PropInfo* prop;
  std::string name;
  int line;
};

class Reader {
 public:
  Reader(std::string_view text, TComponent& root, std::string_view source)
      : lex_(text, source), root_(root) {
    Advance();
  }

  void Read();

 private:
  void Advance() { tok_ = lex_.Next(); }
  bool IsPunct(char c) const { return tok_.kind == Tok::Punct && tok_.text[0] == c; }
  void Expect(char c, const char* what) {
    if (!IsPunct(c)) lex_.Fail(tok_.line, std::string("expected ") + what);
    Advance();
  }
  std::string ExpectIdent(const char* what) {
    if (tok_.kind != Tok::Ident) lex_.Fail(tok_.line, std::string("expected ") + what);
    std::string s = tok_.text;
    Advance();
    return s;
  }

  void ReadBody(TComponent& object, int depth);
  void ReadChild(TComponent& parent, std::string name, int line, int depth);
  void ReadProperty(TComponent& object, std::string name, int line);
  PropValue ReadValue(const PropInfo& prop);
  std::int64_t ReadIdentOrNumber(const PropInfo& prop);
  std::int64_t ReadColor(const PropInfo& prop);
  std::int64_t ReadSet(const PropInfo& prop);
  std::vector<std::string> ReadStrings();
  void ResolveFixups();

  Lexer lex_;
  Token tok_;
  TComponent& root_;
  std::vector<TComponent*> loaded_;
  std::vector<Fixup> fixups_;
};

void Reader::Read() {
  int line = tok_.line;
  std::string name = ExpectIdent("the root object's name");
  Expect(':', "':' after the root object's name");
  std::string className = ExpectIdent("the root object's class");
  if (className != root_.ClassName())
    lex_.Fail(line, "the root object is a " + className + ", expected " + root_.ClassName());
  root_.Loading();
  loaded_.push_back(&root_);
  try {
    root_.SetName(name);
  } catch (const Exception& e) {
    lex_.Fail(line, e.Message());
  }
  Expect('{', "'{'");
  ReadBody(root_, 1);
  if (tok_.kind != Tok::End) lex_.Fail(tok_.line, "text after the root object's end");
  ResolveFixups();
  for (TComponent* c : loaded_) c->Loaded();
}

void Reader::ReadBody(TComponent& object, int depth) {
  while (!IsPunct('}')) {
    if (tok_.kind == Tok::End) lex_.Fail(tok_.line, "missing '}' of " + object.Name());
    int line = tok_.line;
    std::string name = ExpectIdent("a property or a component");
    if (IsPunct(':'))
      ReadChild(object, std::move(name), line, depth);
    else
      ReadProperty(object, std::move(name), line);
  }
  Advance();
}

void Reader::ReadChild(TComponent& parent, std::string name, int line, int depth) {
  Advance();  // ':'
  std::string className = ExpectIdent("a class name");
  if (depth >= kMaxDepth) lex_.Fail(line, "components nested too deeply");
  const TClassInfo* info = FindClass(className);
  if (info == nullptr) lex_.Fail(line, "unknown class " + className);
  if (!info->create) lex_.Fail(line, "class " + className + " cannot be created from a layout");
  if (root_.FindComponent(name) != nullptr || SameText(name, root_.Name()))
    lex_.Fail(line, "a component named " + name + " already exists");
  TComponent* child = nullptr;
  try {
    std::unique_ptr<TComponent> made = info->create();
    made->Loading();
    made->SetName(name);
    child = root_.InsertComponent(std::move(made));
  } catch (const Exception& e) {
    lex_.Fail(line, e.Message());
  }
  loaded_.push_back(child);
  bool accepted = false;
  try {
    accepted = child->SetParentComponent(&parent == &root_ ? nullptr : &parent);
  } catch (const Exception& e) {
    lex_.Fail(line, e.Message());
  }
  if (!accepted)
    lex_.Fail(line, "a " + className + " cannot be placed in " + parent.Name() + " (" + parent.ClassName() + ")");
  Expect('{', "'{'");
  ReadBody(*child, depth + 1);
}

void Reader::ReadProperty(TComponent& object, std::string name, int line) {
  TPersistent* target = &object;
  std::string path = name;
  const PropInfo* prop = object.ClassInfo().FindProperty(name);
  while (true) {
    if (prop == nullptr) lex_.Fail(line, "unknown property " + path + " of " + target->ClassName());
    if (!IsPunct('.')) break;
    if (prop->kind != PropKind::Object) lex_.Fail(line, path + " has no sub-properties");
    Advance();
    target = prop->object(*target);
    std::string sub = ExpectIdent("a sub-property name");
    path += "." + sub;
    prop = target->ClassInfo().FindProperty(sub);
  }
  Expect('=', "'=' after a property name");
  if (prop->kind == PropKind::Object) lex_.Fail(line, path + " needs a sub-property");
  if (prop->store == PropStore::Never && prop->name == "Name")
    lex_.Fail(line, "Name is given in the component's header");
  try {
    if (prop->kind == PropKind::Event) {
      if (target != &object) lex_.Fail(line, "events of nested objects cannot be bound");
      std::string handler = ExpectIdent("a handler name");
      prop->bind(object, root_.Handlers(), handler);
      object.SetEventBinding(prop->name, handler);
    } else if (prop->kind == PropKind::Component) {
      std::string ref = ExpectIdent("a component name");
      fixups_.push_back({target, prop, ref, line});
    } else {
      prop->Set(*target, ReadValue(*prop));
    }
  } catch (const ELayoutError&) {
    throw;
  } catch (const Exception& e) {
    lex_.Fail(line, path + ": " + e.Message());
  }
}

PropValue Reader::ReadValue(const PropInfo& prop) {
  int line = tok_.line;
  switch (prop.kind) {
    case PropKind::Boolean: {
      std::string v = ExpectIdent("true or false");
      if (SameText(v, "true")) return true;
      if (SameText(v, "false")) return false;
      lex_.Fail(line, prop.name + " takes true or false, not " + v);
    }
    case PropKind::String: {
      if (tok_.kind != Tok::String) lex_.Fail(line, prop.name + " takes a quoted string");
      std::string v = tok_.text;
      Advance();
      // The text shown is the user's language; the stored one stays the key.
      if (IsTranslatedLayoutProperty(prop.name)) return TranslateLayoutText(v);
      return v;
    }
    case PropKind::Char: {
      std::int64_t code = 0;
      if (tok_.kind == Tok::Char)
        code = tok_.number;
      else if (tok_.kind == Tok::String && tok_.text.size() == 1)
        code = static_cast<unsigned char>(tok_.text[0]);
      else
        lex_.Fail(line, prop.name + " takes a character: #code or a one-byte string");
      Advance();
      return code;
    }
    case PropKind::Integer:
    case PropKind::Enum: return ReadIdentOrNumber(prop);
    case PropKind::Color: return ReadColor(prop);
    case PropKind::Set: return ReadSet(prop);
    case PropKind::Strings: return ReadStrings();
    default: lex_.Fail(line, prop.name + " cannot be set here");
  }
}

std::int64_t Reader::ReadIdentOrNumber(const PropInfo& prop) {
  int line = tok_.line;
  if (tok_.kind == Tok::Number && prop.kind == PropKind::Integer) {
    std::int64_t v = tok_.number;
    Advance();
    return v;
  }
  if (tok_.kind != Tok::Ident)
    lex_.Fail(line, prop.name + (prop.kind == PropKind::Enum ? " takes one of its names" : " takes a number"));
  std::string name = tok_.text;
  Advance();
  auto v = prop.IdentValue(name);
  if (!v) lex_.Fail(line, "unknown value " + name + " for " + prop.name);
  return *v;
}

std::int64_t Reader::ReadColor(const PropInfo& prop) {
  int line = tok_.line;
  if (tok_.kind == Tok::Number) {
    std::int64_t v = tok_.number;
    Advance();
    if (v < 0 || v > 0xFFFFFFFFll) lex_.Fail(line, "colour out of range");
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
  }
  std::string name = ExpectIdent("a colour");
  if (name == "rgb" && IsPunct('(')) {
    Advance();
    std::int64_t parts[3] = {};
    for (int i = 0; i < 3; ++i) {
      if (i > 0) Expect(',', "',' between colour parts");
      if (tok_.kind != Tok::Number || tok_.number < 0 || tok_.number > 255)
        lex_.Fail(line, "rgb() takes three numbers from 0 to 255");
      parts[i] = tok_.number;
      Advance();
    }
    Expect(')', "')'");
    return parts[0] | (parts[1] << 8) | (parts[2] << 16);
  }
  auto v = prop.IdentValue(name);
  if (!v) lex_.Fail(line, "unknown colour " + name);
  return *v;
}

std::int64_t Reader::ReadSet(const PropInfo& prop) {
  Expect('[', "'[' to open a set");
  std::int64_t bits = 0;
  while (!IsPunct(']')) {
    int line = tok_.line;
    std::string name = ExpectIdent("a set element");
    auto v = prop.IdentValue(name);
    if (!v) lex_.Fail(line, "unknown element " + name + " of " + prop.name);
    bits |= std::int64_t{1} << *v;
    if (!IsPunct(']')) Expect(',', "',' or ']'");
  }
  Advance();
  return bits;
}

std::vector<std::string> Reader::ReadStrings() {
  Expect('(', "'(' to open a list of strings");
  std::vector<std::string> items;
  while (!IsPunct(')')) {
    if (tok_.kind != Tok::String) lex_.Fail(tok_.line, "expected a quoted string in the list");
    items.push_back(tok_.text);
    Advance();
    if (!IsPunct(')')) Expect(',', "',' or ')'");
  }
  Advance();
  return items;
}

void Reader::ResolveFixups() {
  for (const Fixup& f : fixups_) {
    TComponent* found = SameText(f.name, root_.Name()) ? &root_ : root_.FindComponent(f.name);
    if (found == nullptr && !SameText(f.name, "nil"))
      lex_.Fail(f.line, "no component named " + f.name + " for " + f.prop->name);
    try {
      f.prop->setComponent(*f.target, found);
    } catch (const Exception& e) {
      lex_.Fail(f.line, e.Message());
    }
  }
}

}  // namespace

void ReadLayout(std::string_view text, TComponent& root, std::string_view source) {
  Reader(text, root, source).Read();
}

void ReadLayoutResource(std::string_view name, TComponent& root) {
  auto data = platform::FindEmbeddedResource(name, "LAYOUT");
  if (!data) throw ELayoutError(std::string(name), 0, "no layout resource of this name");
  std::string_view text(reinterpret_cast<const char*>(data->data()), data->size());
  ReadLayout(text, root, name);
}

}  // namespace framework
