// Seeded random mutation of STR0 images: whatever the bytes say, the reader
// stays inside the image (run under AddressSanitizer: each image lives in a
// heap block of exactly its size, so one byte too far is reported).
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "Str0Image.h"
#include "errors/SioStrRes.h"
#include "platform/resources.h"

namespace errors {
namespace {

struct ExactImage {
  std::unique_ptr<std::byte[]> bytes;
  std::size_t size;
  std::span<const std::byte> span() const { return {bytes.get(), size}; }
};

ExactImage Copy(std::span<const std::byte> source, std::size_t size) {
  ExactImage image{std::make_unique<std::byte[]>(size), size};
  std::copy_n(source.begin(), std::min(size, source.size()), image.bytes.get());
  return image;
}

// Mutations aim mostly at the header and the index, where a wrong number
// sends the reader elsewhere; a few flip text bytes or cut the image short.
void Mutate(ExactImage& image, std::mt19937& random) {
  const std::size_t indexEnd = std::min<std::size_t>(image.size, 8 + 12 * 64);
  const int changes = 1 + static_cast<int>(random() % 6);
  for (int k = 0; k < changes && image.size > 0; ++k) {
    const bool inIndex = random() % 4 != 0 && indexEnd > 0;
    const std::size_t at = random() % (inIndex ? indexEnd : image.size);
    switch (random() % 4) {
      case 0: image.bytes[at] = static_cast<std::byte>(random()); break;
      case 1: image.bytes[at] = std::byte{0xFF}; break;
      case 2: image.bytes[at] = std::byte{0x00}; break;
      default: image.bytes[at] ^= static_cast<std::byte>(1u << (random() % 8)); break;
    }
  }
}

struct Tally {
  int opened = 0;
  int refused = 0;
  int outside = 0;  // entries found whose text lies outside the image
};

void Exercise(const ExactImage& image, std::mt19937& random, Tally& tally) {
  const auto bytes = image.span();
  // The bare format functions, whatever the header says.
  for (int k = 0; k < 16; ++k) {
    // Mostly ids near the stored ones; now and then any id at all.
    const auto id = static_cast<std::int32_t>(random() % 8 == 0 ? random() : random() % 16000);
    if (const auto entry = str0::Find(bytes, id)) {
      if (const auto text = str0::TextBytes(bytes, *entry)) {
        (void)str0::Utf16LeToUtf8(*text);
      } else {
        ++tally.outside;
      }
    }
  }
  // And the reader, which refuses what it cannot trust at creation.
  try {
    TSioStringResource reader(bytes, "MUTANT");
    ++tally.opened;
    for (int k = 0; k < 16; ++k) {
      (void)reader.TextOf(static_cast<std::int32_t>(random() % 16000));
    }
  } catch (const EStringResourceError&) {
    ++tally.refused;
  }
}

TEST(Str0Mutation, MutatedImagesNeverMakeTheReaderLeaveTheImage) {
  const auto messages = platform::FindEmbeddedResource(kErrorStringsResource, "RCDATA");
  ASSERT_TRUE(messages.has_value());
  const auto small = errors_test::MakeImage({{1, "one"}, {2, "two"}, {3, ""}, {9, "nine"}});
  const std::span<const std::byte> seeds[] = {*messages, small};

  std::mt19937 random(20240917);
  Tally tally;
  for (int round = 0; round < 3000; ++round) {
    const auto seed = seeds[round % 2];
    std::size_t size = seed.size();
    if (random() % 5 == 0) size = random() % (seed.size() + 1);  // cut short
    ExactImage image = Copy(seed, size);
    Mutate(image, random);
    Exercise(image, random, tally);
  }
  // The mutations reach all three outcomes, so the rounds test something.
  EXPECT_GT(tally.opened, 100);
  EXPECT_GT(tally.refused, 100);
  EXPECT_GT(tally.outside, 0);
}

}  // namespace
}  // namespace errors
