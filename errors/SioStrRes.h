// Message-string resources: packed, indexed string tables embedded in the
// program and read in place.
//
// Format (little-endian, offsets from the start of the resource):
//   0   4       magic "STR0"
//   4   4       N, the number of entries (unsigned)
//   8   12 x N  index, ascending by id, ids unique:
//                 id (signed 32-bit), offset of the text in bytes,
//                 length of the text in UTF-16 code units
//   ... texts in UTF-16LE without terminators, in index order
//
// Two resources exist: "SIOSRMGR_STRINGS" (the reader's own five messages)
// and "SIO_ERROR_STRINGS_ENGLISH" (result-code texts, status texts and the
// dispatch log's labels). Each is read by one global reader that the
// program's start-up creates through TSioStringReaders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "framework/Exception.h"
#include "platform/resources.h"

namespace errors {

// Raised by the reader for a missing, unloadable, unlockable or malformed
// resource and, with ReportMissing, for a missing id. The text comes from
// the string manager's reader; while that reader does not exist (or cannot
// answer, e.g. while it is itself being opened) a built-in copy of the same
// five texts is used so that the failure is still explained.
//
// Thread safety: an immutable value once thrown.
class EStringResourceError : public framework::Exception {
 public:
  using framework::Exception::Exception;
};

// The string manager's message ids.
constexpr std::int32_t kStrStringNotFound = 1;       // "String not found: %d"
constexpr std::int32_t kStrCannotLock = 2;           // "Cannot lock resource"
constexpr std::int32_t kStrResourceNotFound = 3;     // "String resource not found: %s"
constexpr std::int32_t kStrUnableToOpen = 4;         // "Unable to open string resource: %s"
constexpr std::int32_t kStrInvalidResource = 5;      // "Invalid string resource"

// Reading the format in place. Every function checks every offset against
// the image's size and never reads outside it.
namespace str0 {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kEntrySize = 12;

struct Entry {
  std::int32_t id;
  std::uint32_t offset;  // bytes from the start of the image
  std::uint32_t length;  // UTF-16 code units
};

// The image is at least a header long and begins with "STR0".
bool HasMagic(std::span<const std::byte> image);
// N from the header (0 for an image shorter than the header).
std::uint32_t Count(std::span<const std::byte> image);
// The header and all N index entries lie inside the image.
bool IndexFits(std::span<const std::byte> image);
// Binary search of the index for `id` (ids compare as signed values), as far
// as the index lies inside the image. Nothing when the id is absent.
std::optional<Entry> Find(std::span<const std::byte> image, std::int32_t id);
// The entry's text bytes, or nothing when offset or length point outside
// the image: such an entry counts as missing.
std::optional<std::span<const std::byte>> TextBytes(std::span<const std::byte> image,
                                                    const Entry& entry);
// UTF-16LE to UTF-8; an unpaired surrogate becomes U+FFFD, an odd trailing
// byte is ignored.
std::string Utf16LeToUtf8(std::span<const std::byte> text);

}  // namespace str0

// One string resource, opened for the life of the reader.
//
// States: closed (no resource), open (resource loaded) and, for the length
// of one TextOf, inside a lookup (the resource's bytes locked).
//
// Thread safety: every member may be called from any thread; a mutex
// serialises lookups, Open and Close on one reader (the locked pointer is
// recorded in the reader for the length of a lookup). Errors are raised
// after the mutex is released, so the string manager's reader can answer a
// failure of any reader, itself included.
class TSioStringResource {
 public:
  // Create(Instance, ResourceName): ReportMissing false, then Open.
  TSioStringResource(platform::HMODULE instance, std::string_view resourceName);
  // A reader over an image already in memory (a data file's bytes, or a
  // test's buffer), checked like an embedded resource. The bytes must
  // outlive the reader; `name` only serves the error texts.
  TSioStringResource(std::span<const std::byte> image, std::string_view name);
  ~TSioStringResource();  // Close

  TSioStringResource(const TSioStringResource&) = delete;
  TSioStringResource& operator=(const TSioStringResource&) = delete;

  // Close; then, when a name is given (at most 255 characters are kept):
  // find the RCDATA resource of that name, load it and check its magic and
  // that its index lies inside it. Raises EStringResourceError with text 3
  // (no such resource), 4 (cannot load), 2 (cannot lock) or 5 (not "STR0",
  // or an index longer than the resource); the reader is closed then.
  void Open(platform::HMODULE instance, std::string_view resourceName);
  // Forgets the resource (unlocking it first if a lookup left it locked).
  void Close();

  // The text of `id` in UTF-8. A missing id, an empty text and an entry
  // whose text lies outside the resource all give the empty text, or with
  // ReportMissing raise text 1 for a missing id. A closed reader raises
  // text 2 (its resource cannot be locked).
  std::string TextOf(std::int32_t id);
  // Like TextOf, but never raises: nothing for a missing id or a closed
  // reader. Used to word the reader's own failures.
  std::optional<std::string> TryTextOf(std::int32_t id);

  bool ReportMissing() const;
  void SetReportMissing(bool value);
  bool IsOpen() const;
  std::string ResourceName() const;
  // N of the open resource (0 when closed), and the resource's size.
  std::uint32_t Count() const;
  std::size_t Size() const;

 private:
  enum class Lookup { kFound, kMissing, kNotLocked };
  void CloseLocked();
  // Lock: the resource's bytes, recorded in locked_; empty when closed.
  std::span<const std::byte> LockLocked();
  void UnlockLocked();
  Lookup LookUpLocked(std::int32_t id, std::string& text);

  mutable std::mutex mutex_;  // guards everything below
  bool reportMissing_ = false;
  std::string name_;
  platform::HGLOBAL loaded_ = nullptr;      // an embedded resource, or
  std::span<const std::byte> image_;        // an image in memory
  bool open_ = false;
  const std::byte* locked_ = nullptr;       // set only inside a lookup
};

// The text `id` of the string manager's reader with its argument put in
// place of the first %d or %s. The argument is inserted literally: the
// resource's text is never used as a printf format. Falls back to the
// built-in copy of the text while no manager reader can answer.
std::string StringManagerText(std::int32_t id, std::string_view argument = {});

// The two global readers, created by the program's start-up in order (the
// string manager's, then the error-message reader) and freed in reverse
// when this object is destroyed. At most one exists at a time; a second
// raises std::logic_error. Constructing it raises EStringResourceError when
// a resource is missing or malformed (then neither reader is installed).
//
// While no TSioStringReaders exists, SioStrResManager() and
// SioErrorStrings() return null: the reader's failures then use the
// built-in texts, and ErrorText (SioExcept.h) finds no resource entry and
// answers with the operating system's text or the empty text; it never
// fails. Programs and test programs that want the resource's texts create
// one in main() (or in a global test environment) before anything asks for
// a text, and keep it until every thread that might ask has ended.
//
// Thread safety: construct and destroy on one thread while no other thread
// uses the readers; the accessors and the readers themselves may then be
// used from any thread.
class TSioStringReaders {
 public:
  explicit TSioStringReaders(platform::HMODULE instance = 0);
  ~TSioStringReaders();

  TSioStringReaders(const TSioStringReaders&) = delete;
  TSioStringReaders& operator=(const TSioStringReaders&) = delete;

  TSioStringResource& StringManager() { return *manager_; }
  TSioStringResource& ErrorStrings() { return *errors_; }

 private:
  // Declared in creation order, so the members are destroyed in reverse.
  std::unique_ptr<TSioStringResource> manager_;
  std::unique_ptr<TSioStringResource> errors_;
};

// The global readers, or null while no TSioStringReaders exists.
TSioStringResource* SioStrResManager();
TSioStringResource* SioErrorStrings();

constexpr const char* kStringManagerResource = "SIOSRMGR_STRINGS";
constexpr const char* kErrorStringsResource = "SIO_ERROR_STRINGS_ENGLISH";

}  // namespace errors
