// Named raw-data resources compiled into the program (resources/ at build
// time), found and read in place. The data stays valid for the life of the
// process and is never written.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "platform/win_types.h"

namespace platform {

namespace detail {
struct EmbeddedResource {
  const char* name;
  const char* type;
  const unsigned char* data;
  std::size_t size;
};
// The generated table, closed by an entry whose name is null.
extern const EmbeddedResource kEmbeddedResources[];
}  // namespace detail

// A resource's bytes, or nothing when no resource has that name and type.
// Names and types compare without regard to case.
std::optional<std::span<const std::byte>> FindEmbeddedResource(std::string_view name,
                                                                std::string_view type);

// The classic four-step access. HRSRC and HGLOBAL are opaque here.
using HRSRC = const detail::EmbeddedResource*;
using HGLOBAL = const detail::EmbeddedResource*;
using HMODULE = HANDLE;
constexpr const char* RT_RCDATA = "RCDATA";

HRSRC FindResourceA(HMODULE module, const char* name, const char* type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
const void* LockResource(HGLOBAL loaded);
DWORD SizeofResource(HMODULE module, HRSRC resource);

}  // namespace platform
