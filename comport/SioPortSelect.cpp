#include "comport/SioPortSelect.h"

namespace comport {

namespace {

TPortSelector& Selector() {
  static TPortSelector selector = nullptr;
  return selector;
}

}  // namespace

void SetPortSelector(TPortSelector selector) { Selector() = selector; }

int SelectPort() { return Selector() != nullptr ? Selector()() : 0; }

}  // namespace comport
