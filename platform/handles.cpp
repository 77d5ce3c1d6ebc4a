#include "platform/handles.h"

#include <mutex>
#include <unordered_map>

#include "platform/last_error.h"

namespace platform {

namespace {

// The table stands in for the kernel's: one per process, guarded by its own
// mutex, which is never held while an object's OnClose runs.
struct HandleTable {
  std::mutex mutex;
  std::unordered_map<HANDLE, std::shared_ptr<KernelObject>> objects;
  HANDLE next = 0x103;
};

HandleTable& Table() {
  static HandleTable table;
  return table;
}

}  // namespace

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object) {
  HandleTable& table = Table();
  std::lock_guard lock(table.mutex);
  // Handles step by 4 and are not reused until the counter wraps, so a
  // stale handle does not silently name a newer object. Their two low bits
  // are set: a system whose kernel handles are multiples of 4 (Windows)
  // never hands out one of ours.
  HANDLE handle = table.next;
  do {
    handle += 4;
    if (handle > 0x7FFFFFF3) handle = 0x107;
  } while (table.objects.count(handle) != 0);
  table.next = handle;
  table.objects.emplace(handle, std::move(object));
  return handle;
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  HandleTable& table = Table();
  std::lock_guard lock(table.mutex);
  auto it = table.objects.find(handle);
  return it == table.objects.end() ? nullptr : it->second;
}

BOOL CloseHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> object;
  {
    HandleTable& table = Table();
    std::lock_guard lock(table.mutex);
    auto it = table.objects.find(handle);
    if (it == table.objects.end()) return detail::CloseSystemHandle(handle);
    object = std::move(it->second);
    table.objects.erase(it);
  }
  return object->OnClose();
}

}  // namespace platform
