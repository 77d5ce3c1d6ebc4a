#include <cstdio>

#include "framework/Layout.h"
#include "framework/Properties.h"

namespace framework {
namespace {

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned char>(c));
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string FormatColor(const PropInfo& prop, std::int64_t value) {
  std::string name = prop.IdentName(value);
  if (!name.empty()) return name;
  auto bits = static_cast<std::uint32_t>(value);
  char buf[40];
  if ((bits & 0xFF000000u) != 0)
    std::snprintf(buf, sizeof buf, "$%08X", bits);
  else
    std::snprintf(buf, sizeof buf, "rgb(%u, %u, %u)", bits & 0xFF, (bits >> 8) & 0xFF, (bits >> 16) & 0xFF);
  return buf;
}

std::string FormatSet(const PropInfo& prop, std::int64_t bits) {
  std::string out = "[";
  for (const Ident& i : prop.idents) {
    if ((bits & (std::int64_t{1} << i.value)) == 0) continue;
    if (out.size() > 1) out += ", ";
    out += i.name;
  }
  return out + "]";
}

std::string FormatStrings(const std::vector<std::string>& items, const std::string& indent) {
  if (items.empty()) return "()";
  std::string out = "(\n";
  for (std::size_t i = 0; i < items.size(); ++i)
    out += indent + "  " + Quote(items[i]) + (i + 1 < items.size() ? ",\n" : "\n");
  return out + indent + ")";
}

std::string FormatValue(const PropInfo& prop, const PropValue& value, const std::string& indent) {
  switch (prop.kind) {
    case PropKind::Boolean: return std::get<bool>(value) ? "true" : "false";
    case PropKind::String: return Quote(std::get<std::string>(value));
    case PropKind::Char: return "#" + std::to_string(std::get<std::int64_t>(value));
    case PropKind::Color: return FormatColor(prop, std::get<std::int64_t>(value));
    case PropKind::Set: return FormatSet(prop, std::get<std::int64_t>(value));
    case PropKind::Strings: return FormatStrings(std::get<std::vector<std::string>>(value), indent);
    case PropKind::Component: return std::get<std::string>(value);
    case PropKind::Enum:
    case PropKind::Integer: {
      std::int64_t v = std::get<std::int64_t>(value);
      std::string name = prop.IdentName(v);
      return name.empty() ? std::to_string(v) : name;
    }
    default: return {};
  }
}

class Writer {
 public:
  explicit Writer(const TComponent& root) : root_(root) {}

  std::string Write() {
    WriteObject(root_, "");
    return out_;
  }

 private:
  void WriteProperties(const TPersistent& object, const std::string& prefix, const std::string& indent) {
    for (const PropInfo* p : object.ClassInfo().AllProperties()) {
      if (p->kind == PropKind::Event) continue;
      if (p->kind == PropKind::Object) {
        if (p->storedIf && !p->storedIf(object)) continue;
        auto& nested = *p->object(const_cast<TPersistent&>(object));
        WriteProperties(nested, prefix + p->name + ".", indent);
        continue;
      }
      if (!p->IsStored(object)) continue;
      out_ += indent + prefix + p->name + " = " + FormatValue(*p, p->get(object), indent) + "\n";
    }
  }

  void WriteEvents(const TComponent& object, const std::string& indent) {
    const auto& bindings = object.EventBindings();
    for (const PropInfo* p : object.ClassInfo().AllProperties()) {
      if (p->kind != PropKind::Event) continue;
      auto it = bindings.find(p->name);
      if (it != bindings.end()) out_ += indent + p->name + " = " + it->second + "\n";
    }
  }

  void WriteObject(const TComponent& object, const std::string& indent) {
    out_ += indent + object.Name() + " : " + object.ClassName() + " {\n";
    std::string inner = indent + "  ";
    WriteProperties(object, "", inner);
    WriteEvents(object, inner);
    for (const TComponent* child : object.GetChildren(root_))
      if (child->Owner() == &root_) WriteObject(*child, inner);
    out_ += indent + "}\n";
  }

  const TComponent& root_;
  std::string out_;
};

}  // namespace

std::string WriteLayout(const TComponent& root) { return Writer(root).Write(); }

}  // namespace framework
