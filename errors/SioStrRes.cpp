#include "errors/SioStrRes.h"

#include <atomic>
#include <cstring>
#include <stdexcept>

namespace errors {

namespace str0 {

namespace {

std::uint32_t Get32(std::span<const std::byte> image, std::size_t at) {
  std::uint32_t value = 0;
  for (int k = 3; k >= 0; --k) {
    value = (value << 8) | std::to_integer<std::uint32_t>(image[at + k]);
  }
  return value;
}

// Entries whose index lies inside the image; a header that claims more
// entries than fit is searched only as far as they do.
std::uint32_t UsableCount(std::span<const std::byte> image) {
  if (image.size() < kHeaderSize) return 0;
  const std::uint64_t room = (image.size() - kHeaderSize) / kEntrySize;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(Count(image), room));
}

Entry EntryAt(std::span<const std::byte> image, std::uint32_t index) {
  const std::size_t at = kHeaderSize + static_cast<std::size_t>(index) * kEntrySize;
  return Entry{static_cast<std::int32_t>(Get32(image, at)), Get32(image, at + 4),
               Get32(image, at + 8)};
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

bool HasMagic(std::span<const std::byte> image) {
  return image.size() >= kHeaderSize && std::memcmp(image.data(), "STR0", 4) == 0;
}

std::uint32_t Count(std::span<const std::byte> image) {
  return image.size() < kHeaderSize ? 0 : Get32(image, 4);
}

bool IndexFits(std::span<const std::byte> image) {
  return image.size() >= kHeaderSize &&
         kHeaderSize + std::uint64_t{Count(image)} * kEntrySize <= image.size();
}

std::optional<Entry> Find(std::span<const std::byte> image, std::int32_t id) {
  // Signed 64-bit bounds: hi starts at -1 for an empty index, and mid never
  // overflows.
  std::int64_t lo = 0;
  std::int64_t hi = std::int64_t{UsableCount(image)} - 1;
  while (lo <= hi) {
    const std::int64_t mid = (lo + hi) / 2;
    const Entry entry = EntryAt(image, static_cast<std::uint32_t>(mid));
    if (entry.id == id) return entry;
    if (entry.id < id) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  return std::nullopt;
}

std::optional<std::span<const std::byte>> TextBytes(std::span<const std::byte> image,
                                                    const Entry& entry) {
  const std::uint64_t bytes = std::uint64_t{entry.length} * 2;
  if (entry.offset > image.size() || bytes > image.size() - entry.offset) return std::nullopt;
  return image.subspan(entry.offset, static_cast<std::size_t>(bytes));
}

std::string Utf16LeToUtf8(std::span<const std::byte> text) {
  const std::size_t units = text.size() / 2;
  const auto unit = [&](std::size_t i) {
    return static_cast<char16_t>(std::to_integer<unsigned>(text[2 * i]) |
                                 (std::to_integer<unsigned>(text[2 * i + 1]) << 8));
  };
  std::string out;
  out.reserve(units);
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 &&
        unit(i + 1) <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

}  // namespace str0

namespace {

// Used only while the string manager's reader cannot answer: before it is
// created, while it is being opened, or when its own resource is damaged.
const char* BuiltInManagerText(std::int32_t id) {
  switch (id) {
    case kStrStringNotFound: return "String not found: %d";
    case kStrCannotLock: return "Cannot lock resource";
    case kStrResourceNotFound: return "String resource not found: %s";
    case kStrUnableToOpen: return "Unable to open string resource: %s";
    case kStrInvalidResource: return "Invalid string resource";
    default: return "";
  }
}

constexpr std::size_t kMaxNameLength = 255;

std::atomic<bool> gReadersExist{false};
std::atomic<TSioStringResource*> gManager{nullptr};
std::atomic<TSioStringResource*> gErrors{nullptr};

}  // namespace

std::string StringManagerText(std::int32_t id, std::string_view argument) {
  std::optional<std::string> text;
  if (auto* manager = SioStrResManager()) text = manager->TryTextOf(id);
  if (!text || text->empty()) text = BuiltInManagerText(id);
  for (std::size_t at = text->find('%'); at != std::string::npos; at = text->find('%', at + 1)) {
    if (at + 1 < text->size() && ((*text)[at + 1] == 'd' || (*text)[at + 1] == 's')) {
      text->replace(at, 2, argument);
      break;
    }
  }
  return *text;
}

TSioStringResource::TSioStringResource(platform::HMODULE instance,
                                       std::string_view resourceName) {
  Open(instance, resourceName);
}

TSioStringResource::TSioStringResource(std::span<const std::byte> image, std::string_view name) {
  {
    std::lock_guard lock(mutex_);
    name_ = std::string(name.substr(0, kMaxNameLength));
    image_ = image;
    open_ = str0::HasMagic(image) && str0::IndexFits(image);
    if (open_) return;
    image_ = {};
  }
  throw EStringResourceError(StringManagerText(kStrInvalidResource));
}

TSioStringResource::~TSioStringResource() {
  std::lock_guard lock(mutex_);
  CloseLocked();
}

void TSioStringResource::Open(platform::HMODULE instance, std::string_view resourceName) {
  std::int32_t failure = 0;
  std::string name;
  {
    std::lock_guard lock(mutex_);
    CloseLocked();
    name_ = std::string(resourceName.substr(0, kMaxNameLength));
    name = name_;
    if (name_.empty()) return;
    // One module serves both the instance's and the program's resources
    // here; the second search keeps the lookup order of a build that loads
    // language resource modules.
    platform::HRSRC found = platform::FindResourceA(instance, name_.c_str(), platform::RT_RCDATA);
    if (found == nullptr && instance != 0) {
      found = platform::FindResourceA(0, name_.c_str(), platform::RT_RCDATA);
    }
    if (found == nullptr) {
      failure = kStrResourceNotFound;
    } else if ((loaded_ = platform::LoadResource(instance, found)) == nullptr) {
      failure = kStrUnableToOpen;
    } else {
      open_ = true;
      const auto image = LockLocked();
      if (image.data() == nullptr) {
        failure = kStrCannotLock;
      } else if (!str0::HasMagic(image) || !str0::IndexFits(image)) {
        failure = kStrInvalidResource;
      }
      UnlockLocked();
    }
    if (failure == 0) return;
    CloseLocked();
  }
  const bool named = failure == kStrResourceNotFound || failure == kStrUnableToOpen;
  throw EStringResourceError(StringManagerText(failure, named ? name : std::string_view{}));
}

void TSioStringResource::Close() {
  std::lock_guard lock(mutex_);
  CloseLocked();
}

void TSioStringResource::CloseLocked() {
  if (locked_ != nullptr) UnlockLocked();
  loaded_ = nullptr;  // embedded resources need no freeing
  image_ = {};
  open_ = false;
}

std::span<const std::byte> TSioStringResource::LockLocked() {
  if (!open_) return {};
  std::span<const std::byte> image = image_;
  if (loaded_ != nullptr) {
    const void* bytes = platform::LockResource(loaded_);
    const std::size_t size = platform::SizeofResource(0, loaded_);
    image = {static_cast<const std::byte*>(bytes), bytes ? size : 0};
  }
  locked_ = image.data();
  return image;
}

void TSioStringResource::UnlockLocked() { locked_ = nullptr; }

TSioStringResource::Lookup TSioStringResource::LookUpLocked(std::int32_t id, std::string& text) {
  const auto image = LockLocked();
  Lookup result = Lookup::kNotLocked;
  if (image.data() != nullptr) {
    result = Lookup::kMissing;
    if (const auto entry = str0::Find(image, id)) {
      if (const auto bytes = str0::TextBytes(image, *entry)) {
        text = str0::Utf16LeToUtf8(*bytes);
        result = Lookup::kFound;
      }
    }
  }
  UnlockLocked();
  return result;
}

std::string TSioStringResource::TextOf(std::int32_t id) {
  std::string text;
  Lookup result;
  bool report;
  {
    std::lock_guard lock(mutex_);
    result = LookUpLocked(id, text);
    report = reportMissing_;
  }
  if (result == Lookup::kNotLocked) throw EStringResourceError(StringManagerText(kStrCannotLock));
  if (result == Lookup::kMissing && report) {
    throw EStringResourceError(StringManagerText(kStrStringNotFound, std::to_string(id)));
  }
  return text;
}

std::optional<std::string> TSioStringResource::TryTextOf(std::int32_t id) {
  std::string text;
  std::lock_guard lock(mutex_);
  if (LookUpLocked(id, text) != Lookup::kFound) return std::nullopt;
  return text;
}

bool TSioStringResource::ReportMissing() const {
  std::lock_guard lock(mutex_);
  return reportMissing_;
}

void TSioStringResource::SetReportMissing(bool value) {
  std::lock_guard lock(mutex_);
  reportMissing_ = value;
}

bool TSioStringResource::IsOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

std::string TSioStringResource::ResourceName() const {
  std::lock_guard lock(mutex_);
  return name_;
}

std::uint32_t TSioStringResource::Count() const {
  std::lock_guard lock(mutex_);
  if (!open_) return 0;
  if (loaded_ == nullptr) return str0::Count(image_);
  return str0::Count({static_cast<const std::byte*>(platform::LockResource(loaded_)),
                      platform::SizeofResource(0, loaded_)});
}

std::size_t TSioStringResource::Size() const {
  std::lock_guard lock(mutex_);
  if (!open_) return 0;
  return loaded_ ? platform::SizeofResource(0, loaded_) : image_.size();
}

TSioStringReaders::TSioStringReaders(platform::HMODULE instance) {
  if (gReadersExist.exchange(true)) {
    throw std::logic_error("the global string readers already exist");
  }
  try {
    manager_ = std::make_unique<TSioStringResource>(instance, kStringManagerResource);
    gManager.store(manager_.get());
    errors_ = std::make_unique<TSioStringResource>(instance, kErrorStringsResource);
    gErrors.store(errors_.get());
  } catch (...) {
    gManager.store(nullptr);
    gReadersExist.store(false);
    throw;
  }
}

TSioStringReaders::~TSioStringReaders() {
  gErrors.store(nullptr);
  errors_.reset();
  gManager.store(nullptr);
  manager_.reset();
  gReadersExist.store(false);
}

TSioStringResource* SioStrResManager() { return gManager.load(); }
TSioStringResource* SioErrorStrings() { return gErrors.load(); }

}  // namespace errors
