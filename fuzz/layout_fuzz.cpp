// The layout reader and writer: any text the reader accepts is written
// back as a layout that reads again without error and writes back the
// same, byte for byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "framework/Application.h"
#include "framework/Forms.h"
#include "framework/Layout.h"

namespace {

using namespace framework;

class TFuzzForm : public TForm {
 public:
  static const TClassInfo& StaticClassInfo() {
    static const TClassInfo info = DefineClass<TFuzzForm>("TFuzzForm", &TForm::StaticClassInfo());
    return info;
  }
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
  TFuzzForm() {
    BindHandler("Click", &TFuzzForm::Handler);
    BindHandler("Create", &TFuzzForm::Handler);
    BindHandler("Close", &TFuzzForm::CloseHandler);
  }
  void Handler(TObject*) {}
  void CloseHandler(TObject*, TCloseAction&) {}
};

// Reads Text into a new form; the form's layout as written, or nothing if
// the text was refused.
std::optional<std::string> ReadAndWrite(std::string_view text) {
  auto form = std::make_unique<TFuzzForm>();
  try {
    ReadLayout(text, *form, "fuzz");
  } catch (const Exception&) {
    return std::nullopt;
  }
  return WriteLayout(*form);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  Application->Initialize();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto first = ReadAndWrite(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!first) return 0;
  const auto second = ReadAndWrite(*first);
  if (!second || *second != *first) std::abort();
  return 0;
}
