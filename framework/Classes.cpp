#include "framework/Classes.h"

#include <algorithm>

#include "framework/Properties.h"

namespace framework {

bool IsValidIdent(std::string_view name) {
  if (name.empty()) return false;
  auto isAlpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!isAlpha(name.front())) return false;
  return std::all_of(name.begin(), name.end(), [&](char c) { return isAlpha(c) || (c >= '0' && c <= '9'); });
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// ---- TObject, TPersistent ----

const TClassInfo& TObject::StaticClassInfo() {
  static const TClassInfo info = DefineClass<TObject>("TObject", nullptr);
  return info;
}

const std::string& TObject::ClassName() const { return ClassInfo().name; }

bool TObject::InheritsFrom(const TClassInfo& other) const { return ClassInfo().InheritsFrom(other); }

const TClassInfo& TPersistent::StaticClassInfo() {
  static const TClassInfo info = DefineClass<TPersistent>("TPersistent", &TObject::StaticClassInfo());
  return info;
}

void TPersistent::Assign(const TPersistent& Source) {
  if (!Source.InheritsFrom(ClassInfo()))
    throw EComponentError("Cannot assign a " + Source.ClassName() + " to a " + ClassName());
  for (const PropInfo* p : ClassInfo().AllProperties()) {
    switch (p->kind) {
      case PropKind::Event:
      case PropKind::Component:
        break;
      case PropKind::Object:
        p->object(*this)->Assign(*p->object(const_cast<TPersistent&>(Source)));
        break;
      default:
        if (p->name != "Name" && p->set) p->set(*this, p->get(Source));
    }
  }
}

// ---- TComponent ----

const TClassInfo& TComponent::StaticClassInfo() {
  static const TClassInfo info = DefineClass<TComponent>(
      "TComponent", &TPersistent::StaticClassInfo(), [](PropertyBuilder<TComponent>& p) {
        p.Str("Name", &TComponent::Name, &TComponent::SetName, "").NeverStored();
        p.Int("Tag", &TComponent::Tag, &TComponent::SetTag, 0);
      });
  return info;
}

TComponent::~TComponent() {
  state_ |= csDestroying;
  // Reverse order of creation: later components may refer to earlier ones
  // (a control to its parent panel), never the other way round.
  while (!components_.empty()) {
    std::unique_ptr<TComponent> last = std::move(components_.back());
    components_.pop_back();
    last->owner_ = nullptr;
    NotifySiblings(last.get(), TOperation::opRemove);
    last.reset();
  }
}

void TComponent::SetName(const std::string& value) {
  if (value == name_) return;
  if (!value.empty() && !IsValidIdent(value))
    throw EComponentError("'" + value + "' is not a valid component name");
  if (owner_ != nullptr && !value.empty()) {
    TComponent* other = owner_->FindComponent(value);
    if (other != nullptr && other != this)
      throw EComponentError("A component named " + value + " already exists");
  }
  name_ = value;
}

void TComponent::SetDesigning(bool value) {
  if (value)
    state_ |= csDesigning;
  else
    state_ &= ~csDesigning;
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (const auto& c : components_)
    if (SameText(c->name_, name)) return c.get();
  return nullptr;
}

TComponent* TComponent::InsertComponent(std::unique_ptr<TComponent> component) {
  if (!component) throw EComponentError("No component to insert");
  if (component->owner_ != nullptr) throw EComponentError(component->name_ + " already has an owner");
  if (!component->name_.empty() && FindComponent(component->name_) != nullptr)
    throw EComponentError("A component named " + component->name_ + " already exists");
  component->owner_ = this;
  components_.push_back(std::move(component));
  TComponent* inserted = components_.back().get();
  NotifySiblings(inserted, TOperation::opInsert);
  return inserted;
}

std::unique_ptr<TComponent> TComponent::RemoveComponent(TComponent* component) {
  auto it = std::find_if(components_.begin(), components_.end(),
                         [&](const auto& c) { return c.get() == component; });
  if (it == components_.end()) return nullptr;
  std::unique_ptr<TComponent> removed = std::move(*it);
  components_.erase(it);
  removed->owner_ = nullptr;
  NotifySiblings(removed.get(), TOperation::opRemove);
  return removed;
}

void TComponent::DestroyComponent(TComponent* component) { RemoveComponent(component).reset(); }

void TComponent::NotifySiblings(TComponent* component, TOperation operation) {
  // While this component is being destroyed its own override is gone; its
  // remaining components are whole and still hear of each other.
  if ((state_ & csDestroying) == 0) Notification(component, operation);
  for (const auto& c : components_)
    if (c.get() != component) c->Notification(component, operation);
}

void TComponent::Loaded() { state_ &= ~csLoading; }

bool TComponent::InConstruction() const {
  for (const TComponent* c = this; c != nullptr; c = c->owner_)
    if ((c->state_ & csConstructing) != 0) return true;
  return false;
}

void TComponent::EndConstruction() {
  if ((state_ & csConstructing) == 0) return;
  state_ &= ~csConstructing;
  TellConstructed();
}

void TComponent::TellConstructed() {
  for (const auto& c : components_) {
    c->Constructed();
    c->TellConstructed();
  }
}

bool TComponent::SetParentComponent(TComponent* parent) {
  return parent == nullptr || parent == owner_;
}

std::vector<TComponent*> TComponent::GetChildren(const TComponent& root) const {
  // At the root: the components that are not nested in another one.
  std::vector<TComponent*> result;
  if (this != &root) return result;
  for (const auto& c : components_) {
    TComponent* parent = c->GetParentComponent();
    if (parent == nullptr || parent == this) result.push_back(c.get());
  }
  return result;
}

void TComponent::SetEventBinding(const std::string& event, const std::string& handler) {
  if (handler.empty())
    eventBindings_.erase(event);
  else
    eventBindings_[event] = handler;
}

// ---- PropInfo, TClassInfo ----

void PropInfo::Set(TPersistent& target, const PropValue& value) const {
  if (const auto* n = std::get_if<std::int64_t>(&value)) {
    if (*n < min || *n > max)
      throw EPropertyError("value " + std::to_string(*n) + " out of range for " + name);
  }
  if (!set) throw EPropertyError(name + " cannot be set");
  set(target, value);
}

bool PropInfo::IsStored(const TPersistent& target) const {
  if (store == PropStore::Never) return false;
  if (storedIf && !storedIf(target)) return false;
  if (store == PropStore::Always || !defaultValue) return true;
  return !get || get(target) != *defaultValue;
}

std::string PropInfo::IdentName(std::int64_t value) const {
  for (const Ident& i : idents)
    if (i.value == value) return i.name;
  return {};
}

std::optional<std::int64_t> PropInfo::IdentValue(std::string_view identName) const {
  for (const Ident& i : idents)
    if (SameText(i.name, identName)) return i.value;
  return std::nullopt;
}

bool TClassInfo::InheritsFrom(const TClassInfo& other) const {
  for (const TClassInfo* c = this; c != nullptr; c = c->parent)
    if (c == &other) return true;
  return false;
}

const PropInfo* TClassInfo::FindProperty(std::string_view propName) const {
  for (const TClassInfo* c = this; c != nullptr; c = c->parent)
    for (const PropInfo& p : c->props)
      if (SameText(p.name, propName)) return &p;
  return nullptr;
}

std::vector<const PropInfo*> TClassInfo::AllProperties() const {
  std::vector<const TClassInfo*> chain;
  for (const TClassInfo* c = this; c != nullptr; c = c->parent) chain.push_back(c);
  std::vector<const PropInfo*> result;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    for (const PropInfo& p : (*it)->props) {
      // A class may republish an ancestor's property (a new default).
      auto same = std::find_if(result.begin(), result.end(),
                               [&](const PropInfo* q) { return SameText(q->name, p.name); });
      if (same != result.end())
        *same = &p;
      else
        result.push_back(&p);
    }
  return result;
}

}  // namespace framework
