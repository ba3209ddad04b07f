#pragma once

#include <QString>
#include <QStringList>
#include <string>

class QTranslator;

// The window speaks Chinese, in which its texts are written, or English.
enum class Language { kChinese, kEnglish };

// The language asked for, strongest first: the --lang option, then the
// QUORVEL_LANG environment variable (each "zh" or "en"; anything else is
// not an answer), then the first of the desktop's languages: any Chinese
// gives Chinese, everything else (the C locale too) English.
Language ChooseLanguage(const QString& option, const QString& environment, const QStringList& uiLanguages);

// "zh" or "en".
bool IsLanguageName(const QString& name);

// The value of --lang (or -lang, --lang=, -lang=) among the arguments, read
// before the window toolkit starts; empty without one. The command line's
// own check tells the user about a value that is not a language.
QString LanguageOption(const QStringList& arguments);

// The language chosen from this process's command line, environment and
// desktop.
Language ProcessLanguage(const QStringList& arguments);

// The translations into the language: the program's own (none for
// Chinese, in which they are written) and the window toolkit's (none for
// English, its own language). Loaded before the application object exists,
// as the command line's help is printed before it; installed in the
// application once it does. True when the program's texts are ready.
bool LoadLanguage(Language language);
QTranslator& ProgramTranslator();
// Puts both translations into the application's use, or out of it.
void InstallLanguage();
void RemoveLanguage();

// A text marked for translation in context, in the loaded language; works
// before the application object exists.
QString TranslatedText(const char* context, const char* source);

// The language LoadLanguage made ready last.
Language LoadedLanguage();

// The path of the user guide's page of that name in folder, in the
// language: in English, "Quorvel.html" is "Quorvel.en.html" beside it when
// that page is there; otherwise the Chinese page.
QString HelpPageIn(const QString& folder, const QString& chinesePage, Language language);
// The same in the program's help folder and the loaded language.
std::string HelpPagePath(const char* chinesePage);
