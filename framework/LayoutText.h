// Texts of stored layouts in the user's language.
//
// The stored layouts hold their captions in Russian and stay as they are;
// a window in another language gets its captions through a translator
// installed here, asked by the layout reader for every Caption and Hint it
// reads, keyed by the stored text. Without a translator (the default, and
// the engine's tests) the stored text is used as it stands. The view
// layer installs the translator when the program chooses its language
// (framework/view/Language.h); this unit itself knows no GUI library.
//
// Thread safety: install and read on the window's thread, before and while
// layouts are read.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace framework {

// Returns the text to show for the stored `text`; the stored text itself
// when it has no translation.
using TLayoutTranslator = std::function<std::string(std::string_view text)>;

// Installs Translator (an empty one removes it).
void SetLayoutTranslator(TLayoutTranslator translator);

// The text a layout's Caption or Hint shows for the stored `text`.
std::string TranslateLayoutText(std::string_view text);

// Whether the property of this name holds a text the user reads.
bool IsTranslatedLayoutProperty(std::string_view name);

}  // namespace framework
