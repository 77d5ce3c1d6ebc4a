// The language of the windows: Russian as the layouts and sources hold it,
// or English from the translations embedded in the program (Qt Linguist
// sources in resources/translations/, compiled by the build).
//
// The language is chosen once at start-up, after the application is
// initialised and before any window is made: by the command line when it
// names one, else by the locale (LC_ALL, LC_MESSAGES, LANG, the first one
// set): English for "en" and "en_*", Russian for everything else,
// including an unset locale and C/POSIX. InstallLanguage then loads the
// program's translation, Qt's own (its dialogs and buttons follow) and
// installs the layout translator (framework/LayoutText.h).
//
// In the sources a text meant for the user is written in Russian and shown
// through Tr(context, text). A Russian text kept in a table for later use
// is marked TESMAR_TR_NOOP(context, text), which is the text itself, so
// that lupdate finds it (see resources/translations/README.md). Texts that
// are data (the protocol, file contents, the trace) never pass through
// Tr.
//
// Thread safety: the window's thread only.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Marks a text for translation where it is stored; Tr translates it later.
#define TESMAR_TR_NOOP(context, text) text

namespace framework {

enum class TLanguage { Russian, English };

// "ru" or "en"; nothing for any other name.
std::optional<TLanguage> LanguageNamed(std::string_view name);
// The language of the locale variables' values (null for unset).
TLanguage LanguageOfLocale(const char* lcAll, const char* lcMessages, const char* lang);
// The language of the process's locale environment.
TLanguage LanguageOfEnvironment();
// The language's code: "ru" or "en".
const char* LanguageCode(TLanguage language);

// Makes `language` the windows' language (Russian removes any translation).
// Returns false when the program's translation could not be loaded; the
// windows then stay Russian.
bool InstallLanguage(TLanguage language);
TLanguage CurrentLanguage();

// `text` (UTF-8, Russian) in the windows' language.
std::string Tr(const char* context, const char* text);
std::string Tr(const char* context, const std::string& text);

// The context of the stored layouts' captions.
inline constexpr const char* kLayoutContext = "layout";

}  // namespace framework
