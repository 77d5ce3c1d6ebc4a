#include "framework/LayoutText.h"

namespace framework {
namespace {

TLayoutTranslator& Translator() {
  static TLayoutTranslator translator;
  return translator;
}

}  // namespace

void SetLayoutTranslator(TLayoutTranslator translator) { Translator() = std::move(translator); }

std::string TranslateLayoutText(std::string_view text) {
  // An empty or blank caption is a placeholder the program fills in.
  if (!Translator() || text.find_first_not_of(' ') == std::string_view::npos) return std::string(text);
  return Translator()(text);
}

bool IsTranslatedLayoutProperty(std::string_view name) { return name == "Caption" || name == "Hint"; }

}  // namespace framework
