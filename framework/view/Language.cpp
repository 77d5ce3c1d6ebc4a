#include "framework/view/Language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdlib>
#include <memory>

#include "framework/LayoutText.h"

// The translations are a resource of this library, which a static link
// would otherwise leave out; the macro cannot stand inside a namespace.
static void InitTranslationResource() { Q_INIT_RESOURCE(tesmar_translations); }

namespace framework {
namespace {

struct Installed {
  TLanguage language = TLanguage::Russian;
  std::unique_ptr<QTranslator> program;
  std::unique_ptr<QTranslator> qt;
};

Installed& State() {
  static Installed state;
  return state;
}

void Uninstall() {
  Installed& state = State();
  for (auto* translator : {&state.program, &state.qt}) {
    if (*translator) QCoreApplication::removeTranslator(translator->get());
    translator->reset();
  }
  SetLayoutTranslator(nullptr);
  state.language = TLanguage::Russian;
}

// Qt's own texts (file dialogs, message box buttons) come from the system's
// Qt translations; a system without them shows Qt's English.
std::unique_ptr<QTranslator> QtTranslation(TLanguage language) {
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(QStringLiteral("qtbase_") + QString::fromLatin1(LanguageCode(language)),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    return nullptr;
  QCoreApplication::installTranslator(translator.get());
  return translator;
}

}  // namespace

std::optional<TLanguage> LanguageNamed(std::string_view name) {
  if (name == "ru") return TLanguage::Russian;
  if (name == "en") return TLanguage::English;
  return std::nullopt;
}

TLanguage LanguageOfLocale(const char* lcAll, const char* lcMessages, const char* lang) {
  for (const char* value : {lcAll, lcMessages, lang}) {
    if (value == nullptr || *value == '\0') continue;
    const std::string_view locale(value);
    const bool english = locale == "en" || locale.rfind("en_", 0) == 0 || locale.rfind("en.", 0) == 0 ||
                         locale.rfind("en@", 0) == 0;
    return english ? TLanguage::English : TLanguage::Russian;
  }
  return TLanguage::Russian;
}

TLanguage LanguageOfEnvironment() {
  return LanguageOfLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

const char* LanguageCode(TLanguage language) { return language == TLanguage::English ? "en" : "ru"; }

bool InstallLanguage(TLanguage language) {
  Uninstall();
  Installed& state = State();
  state.qt = QtTranslation(language);
  if (language == TLanguage::Russian) return true;
  InitTranslationResource();
  auto program = std::make_unique<QTranslator>();
  if (!program->load(QStringLiteral(":/i18n/tesmar_") + QString::fromLatin1(LanguageCode(language))))
    return false;
  QCoreApplication::installTranslator(program.get());
  state.program = std::move(program);
  state.language = language;
  SetLayoutTranslator([](std::string_view text) {
    const std::string key(text);
    return QCoreApplication::translate(kLayoutContext, key.c_str()).toStdString();
  });
  return true;
}

TLanguage CurrentLanguage() { return State().language; }

std::string Tr(const char* context, const char* text) {
  if (State().language == TLanguage::Russian) return text;
  return QCoreApplication::translate(context, text).toStdString();
}

std::string Tr(const char* context, const std::string& text) { return Tr(context, text.c_str()); }

}  // namespace framework
