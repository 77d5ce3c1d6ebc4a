// Published properties and class information.
//
// Every framework class describes itself with a TClassInfo: its name, its
// parent class, the properties it publishes (in published order, ancestors'
// first) and, for components, a factory. A class declares
//
//   static const TClassInfo& StaticClassInfo();
//   const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
//
// and defines StaticClassInfo with DefineClass:
//
//   const TClassInfo& TButton::StaticClassInfo() {
//     static const TClassInfo info = DefineClass<TButton>(
//         "TButton", &TWinControl::StaticClassInfo(), [](PropertyBuilder<TButton>& p) {
//           p.Str("Caption", &TButton::Caption, &TButton::SetCaption, "");
//           p.Event<void(TObject*)>("OnClick", &TButton::OnClick);
//         });
//     return info;
//   }
//
// A property equal to its default is not written to a layout; a property
// without a default (or marked AlwaysStored) is always written; one marked
// NeverStored is never written (derived or read-only values).
//
// Thread safety: class information is immutable once made; the registry
// may be used from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "framework/Classes.h"

namespace framework {

// A set of an enumeration's values (bit n = the value of ordinal n).
template <class E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> values) {
    for (E v : values) bits_ |= Bit(v);
  }
  static constexpr TSet FromBits(std::uint32_t bits) {
    TSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr std::uint32_t Bits() const { return bits_; }
  constexpr bool Contains(E v) const { return (bits_ & Bit(v)) != 0; }
  constexpr TSet& Include(E v) { bits_ |= Bit(v); return *this; }
  constexpr TSet& Exclude(E v) { bits_ &= ~Bit(v); return *this; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr bool operator==(const TSet&) const = default;

 private:
  static constexpr std::uint32_t Bit(E v) { return 1u << static_cast<unsigned>(v); }
  std::uint32_t bits_ = 0;
};

enum class PropKind {
  Integer,    // with an optional table of named constants
  Boolean,
  String,     // UTF-8
  Char,       // one byte, written as #nn
  Enum,       // ordinal; names by ordinal
  Set,        // bit mask; names by bit
  Color,      // TColor; named colours or #RRGGBB
  Strings,    // a list of strings
  Component,  // a reference to another component of the same root, by name
  Object,     // a nested persistent object (a font), written as Name.Sub
  Event,      // bound to a root handler by name
};

enum class PropStore { IfNotDefault, Always, Never };

using PropValue = std::variant<std::int64_t, bool, std::string, std::vector<std::string>>;

struct Ident {
  std::string name;
  std::int64_t value;
};
using IdentList = std::vector<Ident>;

// Raised by a property's setter path for a value it cannot take (out of
// range, wrong class, unknown handler); the layout reader adds the line.
class EPropertyError : public Exception {
 public:
  using Exception::Exception;
};

struct PropInfo {
  std::string name;
  PropKind kind = PropKind::Integer;
  PropStore store = PropStore::IfNotDefault;
  std::optional<PropValue> defaultValue;
  std::int64_t min = std::numeric_limits<std::int64_t>::min();
  std::int64_t max = std::numeric_limits<std::int64_t>::max();
  IdentList idents;  // Enum/Set: names by ordinal; Integer/Color: constants

  std::function<PropValue(const TPersistent&)> get;        // not for Object/Event
  std::function<void(TPersistent&, const PropValue&)> set;  // not for Object/Event/Component
  // Component: name of the referenced component ("" = none) and the setter
  // that receives the resolved component (null = none).
  std::function<void(TPersistent&, TComponent*)> setComponent;
  // Object: the nested object.
  std::function<TPersistent*(TPersistent&)> object;
  // Event: binds the handler of that name from Handlers.
  std::function<void(TPersistent&, const THandlerTable&, const std::string&)> bind;
  // An extra condition for writing (a control's Font only when it does not
  // follow its parent's); null = none.
  std::function<bool(const TPersistent&)> storedIf;

  PropInfo& AlwaysStored() { store = PropStore::Always; return *this; }
  PropInfo& NeverStored() { store = PropStore::Never; return *this; }
  PropInfo& Constants(IdentList list) { idents = std::move(list); return *this; }
  PropInfo& StoredIf(std::function<bool(const TPersistent&)> condition) {
    storedIf = std::move(condition);
    return *this;
  }

  // Validates the range (Integer, Char) and calls the setter.
  void Set(TPersistent& target, const PropValue& value) const;
  // True when the current value differs from the default or the property
  // is always stored (never for NeverStored).
  bool IsStored(const TPersistent& target) const;
  // The name of ordinal/constant Value, or "" when it has none.
  std::string IdentName(std::int64_t value) const;
  std::optional<std::int64_t> IdentValue(std::string_view name) const;
};

class TClassInfo {
 public:
  std::string name;
  const TClassInfo* parent = nullptr;
  std::vector<PropInfo> props;  // this class's own, in published order
  std::function<std::unique_ptr<TComponent>()> create;  // null when abstract

  bool InheritsFrom(const TClassInfo& other) const;
  const PropInfo* FindProperty(std::string_view propName) const;
  // Ancestors' properties first, then this class's.
  std::vector<const PropInfo*> AllProperties() const;
};

template <class T>
class PropertyBuilder {
 public:
  explicit PropertyBuilder(std::vector<PropInfo>& out) : out_(out) {}

  template <class G, class S>
  PropInfo& Int(std::string name, G get, S set, std::int64_t def) {
    using V = std::remove_cvref_t<std::invoke_result_t<G, const T&>>;
    PropInfo& p = Add(std::move(name), PropKind::Integer, PropValue(def));
    p.min = static_cast<std::int64_t>(std::numeric_limits<V>::min());
    p.max = static_cast<std::int64_t>(std::numeric_limits<V>::max());
    p.get = [get](const TPersistent& o) { return PropValue(static_cast<std::int64_t>(std::invoke(get, Self(o)))); };
    p.set = [set](TPersistent& o, const PropValue& v) { std::invoke(set, Self(o), static_cast<V>(std::get<std::int64_t>(v))); };
    return p;
  }
  template <class G, class S>
  PropInfo& Color(std::string name, G get, S set, std::int64_t def);
  template <class G, class S>
  PropInfo& Char(std::string name, G get, S set, char def) {
    PropInfo& p = Add(std::move(name), PropKind::Char, PropValue(static_cast<std::int64_t>(static_cast<unsigned char>(def))));
    p.min = 0;
    p.max = 255;
    p.get = [get](const TPersistent& o) { return PropValue(static_cast<std::int64_t>(static_cast<unsigned char>(std::invoke(get, Self(o))))); };
    p.set = [set](TPersistent& o, const PropValue& v) { std::invoke(set, Self(o), static_cast<char>(std::get<std::int64_t>(v))); };
    return p;
  }
  template <class G, class S>
  PropInfo& Bool(std::string name, G get, S set, bool def) {
    PropInfo& p = Add(std::move(name), PropKind::Boolean, PropValue(def));
    p.get = [get](const TPersistent& o) { return PropValue(static_cast<bool>(std::invoke(get, Self(o)))); };
    p.set = [set](TPersistent& o, const PropValue& v) { std::invoke(set, Self(o), std::get<bool>(v)); };
    return p;
  }
  // No default (std::nullopt): always written.
  template <class G, class S>
  PropInfo& Str(std::string name, G get, S set, std::optional<std::string> def) {
    PropInfo& p = Add(std::move(name), PropKind::String,
                      def ? std::optional<PropValue>(PropValue(*def)) : std::nullopt);
    if (!def) p.store = PropStore::Always;
    p.get = [get](const TPersistent& o) { return PropValue(std::string(std::invoke(get, Self(o)))); };
    p.set = [set](TPersistent& o, const PropValue& v) { std::invoke(set, Self(o), std::get<std::string>(v)); };
    return p;
  }
  template <class E, class G, class S>
  PropInfo& Enum(std::string name, G get, S set, E def, std::vector<std::string> names) {
    PropInfo& p = Add(std::move(name), PropKind::Enum, PropValue(static_cast<std::int64_t>(def)));
    for (std::size_t i = 0; i < names.size(); ++i) p.idents.push_back({names[i], static_cast<std::int64_t>(i)});
    p.min = 0;
    p.max = static_cast<std::int64_t>(names.size()) - 1;
    p.get = [get](const TPersistent& o) { return PropValue(static_cast<std::int64_t>(std::invoke(get, Self(o)))); };
    p.set = [set](TPersistent& o, const PropValue& v) { std::invoke(set, Self(o), static_cast<E>(std::get<std::int64_t>(v))); };
    return p;
  }
  template <class E, class G, class S>
  PropInfo& Set(std::string name, G get, S set, TSet<E> def, std::vector<std::string> names) {
    PropInfo& p = Add(std::move(name), PropKind::Set, PropValue(static_cast<std::int64_t>(def.Bits())));
    for (std::size_t i = 0; i < names.size(); ++i) p.idents.push_back({names[i], static_cast<std::int64_t>(i)});
    p.get = [get](const TPersistent& o) { return PropValue(static_cast<std::int64_t>(std::invoke(get, Self(o)).Bits())); };
    p.set = [set](TPersistent& o, const PropValue& v) {
      std::invoke(set, Self(o), TSet<E>::FromBits(static_cast<std::uint32_t>(std::get<std::int64_t>(v))));
    };
    return p;
  }
  // Default: the empty list.
  template <class G, class S>
  PropInfo& Strings(std::string name, G get, S set) {
    PropInfo& p = Add(std::move(name), PropKind::Strings, PropValue(std::vector<std::string>{}));
    p.get = [get](const TPersistent& o) { return PropValue(std::vector<std::string>(std::invoke(get, Self(o)))); };
    p.set = [set](TPersistent& o, const PropValue& v) { std::invoke(set, Self(o), std::get<std::vector<std::string>>(v)); };
    return p;
  }
  // A reference to a component of class C (default: none).
  template <class C, class G, class S>
  PropInfo& Reference(std::string name, G get, S set) {
    PropInfo& p = Add(std::move(name), PropKind::Component, PropValue(std::string()));
    p.get = [get](const TPersistent& o) {
      const C* c = std::invoke(get, Self(o));
      return PropValue(c != nullptr ? c->Name() : std::string());
    };
    p.setComponent = [set, propName = p.name](TPersistent& o, TComponent* c) {
      C* typed = dynamic_cast<C*>(c);
      if (c != nullptr && typed == nullptr)
        throw EPropertyError(c->Name() + " is a " + c->ClassName() + ", not fit for " + propName);
      std::invoke(set, Self(o), typed);
    };
    return p;
  }
  template <class G>
  PropInfo& Object(std::string name, G get) {
    PropInfo& p = Add(std::move(name), PropKind::Object, std::nullopt);
    p.object = [get](TPersistent& o) -> TPersistent* { return &std::invoke(get, Self(o)); };
    return p;
  }
  // An event held in a std::function member.
  template <class Sig>
  PropInfo& Event(std::string name, std::function<Sig> T::*member) {
    return EventWith<Sig>(std::move(name), [member](T& o, std::function<Sig> fn) { o.*member = std::move(fn); });
  }
  // An event with a setter that must run (e.g. to tell a dispatcher).
  template <class Sig>
  PropInfo& Event(std::string name, void (T::*setter)(std::function<Sig>)) {
    return EventWith<Sig>(std::move(name), [setter](T& o, std::function<Sig> fn) { (o.*setter)(std::move(fn)); });
  }

 private:
  static const T& Self(const TPersistent& o) { return static_cast<const T&>(o); }
  static T& Self(TPersistent& o) { return static_cast<T&>(o); }

  PropInfo& Add(std::string name, PropKind kind, std::optional<PropValue> def) {
    PropInfo& p = out_.emplace_back();
    p.name = std::move(name);
    p.kind = kind;
    p.defaultValue = std::move(def);
    return p;
  }
  template <class Sig, class Assign>
  PropInfo& EventWith(std::string name, Assign assign) {
    PropInfo& p = Add(std::move(name), PropKind::Event, std::nullopt);
    p.bind = [assign, eventName = p.name](TPersistent& o, const THandlerTable& handlers,
                                          const std::string& handler) {
      auto it = handlers.find(handler);
      if (it == handlers.end()) throw EPropertyError("no handler named " + handler);
      const auto* fn = std::any_cast<std::function<Sig>>(&it->second);
      if (fn == nullptr) throw EPropertyError("handler " + handler + " does not fit " + eventName);
      assign(Self(o), *fn);
    };
    return p;
  }

  std::vector<PropInfo>& out_;
};

// The named colour constants (clBlack ... clBtnFace); see Graphics.h.
const IdentList& ColorIdents();

template <class T>
template <class G, class S>
PropInfo& PropertyBuilder<T>::Color(std::string name, G get, S set, std::int64_t def) {
  PropInfo& p = Add(std::move(name), PropKind::Color, PropValue(def));
  p.idents = ColorIdents();
  p.min = std::numeric_limits<std::int32_t>::min();
  p.max = std::numeric_limits<std::int32_t>::max();
  p.get = [get](const TPersistent& o) { return PropValue(static_cast<std::int64_t>(std::invoke(get, Self(o)))); };
  p.set = [set](TPersistent& o, const PropValue& v) { std::invoke(set, Self(o), static_cast<std::int32_t>(std::get<std::int64_t>(v))); };
  return p;
}

// Builds the class information of T. Components that can be default
// constructed get a factory so that layouts can create them.
template <class T>
TClassInfo DefineClass(std::string name, const TClassInfo* parent,
                       const std::function<void(PropertyBuilder<T>&)>& define = {}) {
  TClassInfo info;
  info.name = std::move(name);
  info.parent = parent;
  PropertyBuilder<T> builder(info.props);
  if (define) define(builder);
  if constexpr (std::is_base_of_v<TComponent, T> && std::is_default_constructible_v<T> &&
                !std::is_abstract_v<T>) {
    info.create = [] { return std::unique_ptr<TComponent>(std::make_unique<T>()); };
  }
  return info;
}

// The class registry the layout reader creates components from. Registering
// a class twice is harmless; a different class under a taken name raises
// EComponentError. The framework's own classes are registered on first use
// of the registry.
void RegisterClass(const TClassInfo& info);
const TClassInfo* FindClass(std::string_view name);

}  // namespace framework
