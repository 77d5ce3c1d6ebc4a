#include "comport/SioMisc.h"

#include "framework/Properties.h"

namespace comport {

const framework::TClassInfo& TSioBaseComponent::StaticClassInfo() {
  using framework::PropertyBuilder;
  static const framework::TClassInfo info = framework::DefineClass<TSioBaseComponent>(
      "TSioBaseComponent", &framework::TComponent::StaticClassInfo(),
      [](PropertyBuilder<TSioBaseComponent>& p) {
        p.Str("Version", &TSioBaseComponent::Version, &TSioBaseComponent::SetVersion, kSioVersion)
            .NeverStored();
      });
  return info;
}

}  // namespace comport
