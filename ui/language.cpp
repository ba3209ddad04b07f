#include "ui/language.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <optional>

#include "platform/app_files.h"

namespace {

constexpr char kTranslation[] = ":/i18n/quorvel_en.qm";

Language g_loaded = Language::kChinese;

std::optional<Language> NamedLanguage(const QString& name) {
  if (name == QLatin1String("zh")) return Language::kChinese;
  if (name == QLatin1String("en")) return Language::kEnglish;
  return std::nullopt;
}

QTranslator& ToolkitTranslator() {
  static QTranslator translator;
  return translator;
}

// The toolkit's own texts (message box buttons, the file dialog) are
// English; Debian ships their Chinese apart from the toolkit. Without that
// file they stay English, and the window still works.
void LoadToolkitTexts(Language language) {
  if (language == Language::kChinese)
    (void)ToolkitTranslator().load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                                   QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
  else
    (void)ToolkitTranslator().load(QString());
}

}  // namespace

bool IsLanguageName(const QString& name) { return NamedLanguage(name).has_value(); }

Language ChooseLanguage(const QString& option, const QString& environment, const QStringList& uiLanguages) {
  if (const std::optional<Language> chosen = NamedLanguage(option)) return *chosen;
  if (const std::optional<Language> chosen = NamedLanguage(environment)) return *chosen;
  const bool chinese = !uiLanguages.isEmpty() && uiLanguages.first().startsWith(QLatin1String("zh"));
  return chinese ? Language::kChinese : Language::kEnglish;
}

QString LanguageOption(const QStringList& arguments) {
  QString value;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (argument == QLatin1String("--")) break;
    if (argument == QLatin1String("--lang") || argument == QLatin1String("-lang")) {
      value = i + 1 < arguments.size() ? arguments[++i] : QString();
    } else if (argument.startsWith(QLatin1String("--lang=")) || argument.startsWith(QLatin1String("-lang="))) {
      value = argument.section(u'=', 1);
    }
  }
  return value;
}

Language ProcessLanguage(const QStringList& arguments) {
  return ChooseLanguage(LanguageOption(arguments), qEnvironmentVariable("QUORVEL_LANG"),
                        QLocale::system().uiLanguages());
}

QTranslator& ProgramTranslator() {
  static QTranslator translator;
  return translator;
}

bool LoadLanguage(Language language) {
  g_loaded = Language::kChinese;
  LoadToolkitTexts(language);
  if (language == Language::kChinese) {
    // The texts are Chinese already: loading nothing empties the translator.
    (void)ProgramTranslator().load(QString());
    return true;
  }
  if (!ProgramTranslator().load(QString::fromLatin1(kTranslation))) return false;
  g_loaded = language;
  return true;
}

void InstallLanguage() {
  QCoreApplication::installTranslator(&ToolkitTranslator());
  QCoreApplication::installTranslator(&ProgramTranslator());
}

void RemoveLanguage() {
  QCoreApplication::removeTranslator(&ProgramTranslator());
  QCoreApplication::removeTranslator(&ToolkitTranslator());
}

Language LoadedLanguage() { return g_loaded; }

QString TranslatedText(const char* context, const char* source) {
  const QString text = ProgramTranslator().translate(context, source);
  return text.isEmpty() ? QString::fromUtf8(source) : text;
}

QString HelpPageIn(const QString& folder, const QString& chinesePage, Language language) {
  const QDir help(folder);
  if (language == Language::kEnglish) {
    const QFileInfo page(chinesePage);
    const QString english = help.filePath(page.completeBaseName() + QLatin1String(".en.") + page.suffix());
    if (QFileInfo(english).isFile()) return english;
  }
  return help.filePath(chinesePage);
}

std::string HelpPagePath(const char* chinesePage) {
  return HelpPageIn(QString::fromStdString(platform::HelpFolderPath()), QString::fromUtf8(chinesePage),
                    LoadedLanguage())
      .toStdString();
}
