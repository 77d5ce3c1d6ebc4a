// The base of the communications components and the small helpers they
// share.
//
// Thread safety: like every component, the window's thread only.
#pragma once

#include <cstdint>
#include <string>

#include "framework/Classes.h"

namespace comport {

using Word = std::uint16_t;

// The version every communications component reports.
inline constexpr const char* kSioVersion = "v3.02";

// A component of the communications library: named, owned and read from a
// stored layout like any other, with one read-only property, Version. It is
// never written to a layout, and writing it (from a layout or in code)
// changes nothing.
class TSioBaseComponent : public framework::TComponent {
 public:
  static const framework::TClassInfo& StaticClassInfo();
  const framework::TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  std::string Version() const { return kSioVersion; }
  void SetVersion(const std::string&) {}
};

}  // namespace comport
