// The class registry. The view library registers its standard controls
// (framework/view/StandardClasses.h) before any of them can be read.
#include <map>
#include <mutex>

#include "framework/Properties.h"

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
