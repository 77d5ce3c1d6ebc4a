// The component model: the root object, persistent objects with published
// properties, and components that own each other and are read from stored
// layouts (Layout.h).
//
// Ownership: a component's Owner holds it by unique_ptr and frees its
// components in the reverse order of their creation when it is destroyed.
// A component without an owner is held by whoever made it (a unique_ptr).
//
// Published properties are declared once per class, in published order, in
// the class's TClassInfo (see Properties.h): name, type, default and the
// getter and setter the layout reader and writer go through.
//
// Thread safety: components belong to the window's thread; nothing here may
// be called on another thread, except the class registry (RegisterClass,
// FindClass), which is guarded.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/Exception.h"

namespace framework {

class TObject;
class TComponent;
class TClassInfo;

// Events are plain function objects; an empty one is "not assigned".
using TNotifyEvent = std::function<void(TObject* Sender)>;

// Raised for a misuse of the component model (duplicate or invalid name,
// an assignment between unrelated classes).
class EComponentError : public Exception {
 public:
  using Exception::Exception;
};

// The root of every framework class.
class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;

  static const TClassInfo& StaticClassInfo();
  virtual const TClassInfo& ClassInfo() const { return StaticClassInfo(); }
  const std::string& ClassName() const;
  bool InheritsFrom(const TClassInfo& other) const;
};

// An object with published properties that can be copied with Assign.
class TPersistent : public TObject {
 public:
  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  // Copies every published, non-event property that both classes publish,
  // through the setters, when Source is of this class or a descendant.
  // Raises EComponentError ("Cannot assign a TX to a TY") otherwise.
  virtual void Assign(const TPersistent& Source);
};

// Component state bits.
enum TComponentStateBit : unsigned {
  csLoading = 1u << 0,     // being read from a layout; Loaded() clears it
  csDesigning = 1u << 1,   // shown in a designer (never set by this program)
  csDestroying = 1u << 2,  // its destructor has begun
  csConstructing = 1u << 3,  // a form between its constructor and AfterConstruction
};
using TComponentState = unsigned;

enum class TOperation { opInsert, opRemove };

// Handlers a root component offers to the event bindings of its layout, by
// name. Each entry holds a std::function of the exact signature of the
// event it may be bound to.
using THandlerTable = std::map<std::string, std::any, std::less<>>;

class TComponent : public TPersistent {
 public:
  TComponent() = default;
  ~TComponent() override;

  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  const std::string& Name() const { return name_; }
  // A valid identifier (or empty), unique among the owner's components
  // (case-insensitive); EComponentError otherwise.
  void SetName(const std::string& value);

  TComponent* Owner() const { return owner_; }
  std::int64_t Tag() const { return tag_; }
  void SetTag(std::int64_t value) { tag_ = value; }

  TComponentState ComponentState() const { return state_; }
  bool IsLoading() const { return (state_ & csLoading) != 0; }
  bool IsDesigning() const { return (state_ & csDesigning) != 0; }
  // Enters the loading state (the layout reader does this before it sets
  // any property; Loaded leaves it).
  void Loading() { state_ |= csLoading; }
  void SetDesigning(bool value);
  // True while this component or one of its owners is still being
  // constructed (csConstructing, see TForm). A component then starts
  // nothing that would call a handler of its form: timers wait, and
  // events that arrive are held until Constructed.
  bool InConstruction() const;
  // Enters the construction state; EndConstruction leaves it and tells
  // every component owned here, directly or through owned components, in
  // the order of creation, by Constructed.
  void BeginConstruction() { state_ |= csConstructing; }
  void EndConstruction();

  // Owned components in the order of their creation.
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(index).get(); }
  // An owned component by name (case-insensitive), or null.
  TComponent* FindComponent(std::string_view name) const;
  // The owned component of that name and class; EComponentError if there
  // is none or it is of another class.
  template <class T>
  T& Component(std::string_view name) const;

  // Takes ownership; the component's name must be unique here. Returns it.
  TComponent* InsertComponent(std::unique_ptr<TComponent> component);
  // Gives up ownership of an owned component (null if not owned here).
  std::unique_ptr<TComponent> RemoveComponent(TComponent* component);
  // Destroys an owned component now.
  void DestroyComponent(TComponent* component);

  // Runs once after a whole layout has been read, on every component read,
  // in the order of creation (the root first). The base clears csLoading;
  // overrides call it first.
  virtual void Loaded();
  // Runs once after construction by the factories below and by
  // TApplication::CreateForm; forms fire OnCreate here.
  virtual void AfterConstruction() {}
  // Runs when the construction of an owner ends (EndConstruction): start
  // what waited for it. It starts or queues work only; it calls no handler
  // itself.
  virtual void Constructed() {}
  // Told of components of the same owner being inserted or removed (a
  // removed one is about to be destroyed): drop references to it.
  virtual void Notification(TComponent* component, TOperation operation) {}

  // The component this one is nested in within a layout (a control's
  // parent, a menu item's parent item); null when it sits at the root.
  virtual TComponent* GetParentComponent() const { return nullptr; }
  // Nests the component under Parent while a layout is read. Returns false
  // when this kind of component cannot sit there.
  virtual bool SetParentComponent(TComponent* parent);
  // The order in which the writer emits the children nested in this one.
  virtual std::vector<TComponent*> GetChildren(const TComponent& root) const;

  // Handler table used when this component is the root of a layout.
  const THandlerTable& Handlers() const { return handlers_; }
  template <class Sig>
  void AddHandler(std::string name, std::function<Sig> handler) {
    handlers_[std::move(name)] = std::move(handler);
  }
  // Offers the member function Method as handler Name, e.g.
  //   BindHandler("Bu_UClick", &TForm1::Bu_UClick);
  template <class C, class... Args>
  void BindHandler(std::string name, void (C::*method)(Args...)) {
    C* self = static_cast<C*>(this);
    AddHandler<void(Args...)>(std::move(name),
                              [self, method](Args... args) { (self->*method)(args...); });
  }

  // The handler names bound to this component's events (event -> handler),
  // kept so that the writer can write the bindings back.
  const std::map<std::string, std::string>& EventBindings() const { return eventBindings_; }
  void SetEventBinding(const std::string& event, const std::string& handler);

 private:
  void NotifySiblings(TComponent* component, TOperation operation);
  void TellConstructed();

  std::string name_;
  TComponent* owner_ = nullptr;
  std::int64_t tag_ = 0;
  TComponentState state_ = 0;
  std::vector<std::unique_ptr<TComponent>> components_;
  THandlerTable handlers_;
  std::map<std::string, std::string> eventBindings_;
};

template <class T>
T& TComponent::Component(std::string_view name) const {
  TComponent* found = FindComponent(name);
  if (found == nullptr) throw EComponentError("Component " + std::string(name) + " not found");
  T* typed = dynamic_cast<T*>(found);
  if (typed == nullptr)
    throw EComponentError("Component " + std::string(name) + " is a " + found->ClassName());
  return *typed;
}

// Makes a component owned by Owner and runs its AfterConstruction.
template <class T, class... Args>
T* NewComponent(TComponent& owner, Args&&... args) {
  auto made = std::make_unique<T>(std::forward<Args>(args)...);
  T* result = made.get();
  owner.InsertComponent(std::move(made));
  result->AfterConstruction();
  return result;
}

// Makes an unowned object and runs its AfterConstruction.
template <class T, class... Args>
std::unique_ptr<T> NewObject(Args&&... args) {
  auto made = std::make_unique<T>(std::forward<Args>(args)...);
  made->AfterConstruction();
  return made;
}

// True for a name a layout can use: a letter or '_', then letters, digits
// or '_' (ASCII).
bool IsValidIdent(std::string_view name);
// ASCII case-insensitive equality.
bool SameText(std::string_view a, std::string_view b);

}  // namespace framework
