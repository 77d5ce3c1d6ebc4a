// Builds STR0 images in memory for the reader's tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace errors_test {

inline void Put32(std::vector<std::byte>& out, std::size_t at, std::uint32_t value) {
  for (int k = 0; k < 4; ++k) out[at + k] = static_cast<std::byte>((value >> (8 * k)) & 0xFF);
}

// Entries are written in the order given (callers pass them sorted unless a
// test wants otherwise); texts are ASCII.
inline std::vector<std::byte> MakeImage(const std::vector<std::pair<std::int32_t, std::string>>& entries,
                                        const char* magic = "STR0") {
  const std::size_t textStart = 8 + 12 * entries.size();
  std::size_t size = textStart;
  for (const auto& [id, text] : entries) size += 2 * text.size();
  std::vector<std::byte> image(size);
  for (int k = 0; k < 4; ++k) image[k] = static_cast<std::byte>(magic[k]);
  Put32(image, 4, static_cast<std::uint32_t>(entries.size()));
  std::size_t offset = textStart;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto& [id, text] = entries[i];
    Put32(image, 8 + 12 * i, static_cast<std::uint32_t>(id));
    Put32(image, 12 + 12 * i, static_cast<std::uint32_t>(offset));
    Put32(image, 16 + 12 * i, static_cast<std::uint32_t>(text.size()));
    for (const char c : text) {
      image[offset++] = static_cast<std::byte>(c);
      image[offset++] = std::byte{0};
    }
  }
  return image;
}

inline std::uint32_t Get32(std::span<const std::byte> image, std::size_t at) {
  std::uint32_t value = 0;
  for (int k = 3; k >= 0; --k) value = (value << 8) | std::to_integer<std::uint32_t>(image[at + k]);
  return value;
}

}  // namespace errors_test
