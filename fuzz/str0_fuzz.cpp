// The STR0 reader over any bytes: it stays inside the image (the image is
// copied into a block of exactly its size, so AddressSanitizer sees one
// byte too far), and its binary search finds what a linear scan finds.
#include <cstddef>
#include <cstdint>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

#include "errors/SioStrRes.h"

namespace {

using namespace errors;

std::int32_t IdAt(std::span<const std::byte> image, std::size_t entry) {
  std::int32_t id;
  std::memcpy(&id, image.data() + str0::kHeaderSize + entry * str0::kEntrySize, sizeof id);
  return id;
}

// Whether the index is ascending by id (as the format requires); only then
// must the search agree with a scan.
bool Sorted(std::span<const std::byte> image) {
  for (std::uint32_t k = 1; k < str0::Count(image); ++k)
    if (IdAt(image, k - 1) >= IdAt(image, k)) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto copy = std::make_unique<std::byte[]>(size);
  if (size > 0) std::memcpy(copy.get(), data, size);
  const std::span<const std::byte> image(copy.get(), size);
  const bool checkSearch = str0::HasMagic(image) && str0::IndexFits(image) && Sorted(image);
  const std::uint32_t count = str0::IndexFits(image) ? str0::Count(image) : 0;
  for (std::uint32_t k = 0; k < count && k < 64; ++k) {
    const std::int32_t id = IdAt(image, k);
    const auto found = str0::Find(image, id);
    if (checkSearch && (!found || found->id != id)) std::abort();
    for (std::int64_t probe : {std::int64_t{id} - 1, std::int64_t{id} + 1}) {
      if (probe < INT32_MIN || probe > INT32_MAX) continue;
      const auto near = str0::Find(image, static_cast<std::int32_t>(probe));
      if (near && near->id != probe) std::abort();
    }
    if (found) {
      if (const auto text = str0::TextBytes(image, *found)) (void)str0::Utf16LeToUtf8(*text);
    }
  }
  try {
    TSioStringResource reader(image, "FUZZ");
    for (std::uint32_t k = 0; k < count && k < 64; ++k) (void)reader.TextOf(IdAt(image, k));
    (void)reader.TryTextOf(0);
  } catch (const EStringResourceError&) {
  }
  return 0;
}
