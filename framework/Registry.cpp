// The class registry, with the framework's own classes registered first.
#include <map>
#include <mutex>

#include "framework/ExtCtrls.h"
#include "framework/Forms.h"
#include "framework/Menus.h"
#include "framework/Properties.h"
#include "framework/StdCtrls.h"

namespace framework {

namespace {

struct Registry {
  std::mutex mutex;  // guards classes; any thread may register or look up
  std::map<std::string, const TClassInfo*, std::less<>> classes;
};

void AddLocked(Registry& registry, const TClassInfo& info) {
  auto [it, inserted] = registry.classes.emplace(info.name, &info);
  if (!inserted && it->second != &info)
    throw EComponentError("A class named " + info.name + " is already registered");
}

Registry& TheRegistry() {
  static Registry registry;
  static std::once_flag standard;
  std::call_once(standard, [] {
    std::lock_guard lock(registry.mutex);
    for (const TClassInfo* info :
         {&TLabel::StaticClassInfo(), &TButton::StaticClassInfo(), &TEdit::StaticClassInfo(),
          &TComboBox::StaticClassInfo(), &TPanel::StaticClassInfo(), &TBevel::StaticClassInfo(),
          &TTimer::StaticClassInfo(), &TMainMenu::StaticClassInfo(), &TMenuItem::StaticClassInfo()})
      AddLocked(registry, *info);
  });
  return registry;
}

}  // namespace

void RegisterClass(const TClassInfo& info) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  AddLocked(registry, info);
}

const TClassInfo* FindClass(std::string_view name) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto it = registry.classes.find(name);
  return it == registry.classes.end() ? nullptr : it->second;
}

}  // namespace framework
