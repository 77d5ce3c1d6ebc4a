#include "platform/resources.h"

#include <algorithm>
#include <cctype>

#include "platform/last_error.h"

namespace platform {

namespace {

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

const detail::EmbeddedResource* Find(std::string_view name, std::string_view type) {
  for (const auto* entry = detail::kEmbeddedResources; entry->name != nullptr; ++entry) {
    if (SameName(entry->name, name) && SameName(entry->type, type)) return entry;
  }
  return nullptr;
}

}  // namespace

std::optional<std::span<const std::byte>> FindEmbeddedResource(std::string_view name,
                                                                std::string_view type) {
  const auto* entry = Find(name, type);
  if (entry == nullptr) return std::nullopt;
  return std::span<const std::byte>(reinterpret_cast<const std::byte*>(entry->data), entry->size);
}

HRSRC FindResourceA(HMODULE, const char* name, const char* type) {
  const auto* entry = (name && type) ? Find(name, type) : nullptr;
  if (entry == nullptr) SetLastError(1814);  // ERROR_RESOURCE_NAME_NOT_FOUND
  return entry;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) { return resource; }

const void* LockResource(HGLOBAL loaded) { return loaded ? loaded->data : nullptr; }

DWORD SizeofResource(HMODULE, HRSRC resource) {
  return resource ? static_cast<DWORD>(resource->size) : 0;
}

}  // namespace platform
