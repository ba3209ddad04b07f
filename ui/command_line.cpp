#include "ui/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

#include "ui/language.h"
#include "ui/product.h"

namespace {

// Options the window toolkit takes out of the command line when it
// starts; they are known here only so that they are not taken for mistakes.
constexpr const char* kToolkitOptionsWithValue[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "geometry", "qwindowicon",
    "icon",     "qwindowtitle",       "title",         "session", "display",         "name",     "visual",
    "style",    "stylesheet",         "qmljsdebugger",
};
constexpr const char* kToolkitFlags[] = {"reverse", "widgetcount", "testability", "nograb", "dograb", "sync"};

void AddToolkitOptions(QCommandLineParser& parser) {
  for (const char* name : kToolkitOptionsWithValue) {
    QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }
  for (const char* name : kToolkitFlags) {
    QCommandLineOption option(QString::fromLatin1(name));
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }
}

// The translations are loaded by now, but the application object that
// would hand them out does not exist yet.
QString Text(const char* source) { return TranslatedText("CommandLine", source); }

void Print(std::FILE* stream, const QString& text) {
  std::fputs(text.toLocal8Bit().constData(), stream);
  std::fflush(stream);
}

// The parser names the program itself only once an application object
// exists, which it does not yet.
QString HelpText(const QCommandLineParser& parser, const QString& program) {
  return parser.helpText().replace(QLatin1String("<executable_name>"), program);
}

}  // namespace

std::optional<int> ParseCommandLine(int argc, char* argv[], CommandLine& commandLine) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const QString program = argc > 0 ? QFileInfo(arguments.first()).fileName() : QStringLiteral("quorvel");

  QCommandLineParser parser;
  // The toolkit's options have one dash and long names (-platform).
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.setApplicationDescription(
      Text(QT_TRANSLATE_NOOP("CommandLine", "Quorvel: 局域网流量监视器, 逐个列出网络适配器上每个连接的流量。")));
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                Text(QT_TRANSLATE_NOOP("CommandLine", "显示本帮助并退出。")));
  const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                   Text(QT_TRANSLATE_NOOP("CommandLine", "显示版本并退出。")));
  const QCommandLineOption adapter(
      {QStringLiteral("a"), QStringLiteral("adapter")},
      Text(QT_TRANSLATE_NOOP("CommandLine", "选择设备名为 DEVICE 的网络适配器并立即开始监控。")),
      QStringLiteral("DEVICE"));
  // Read before the parser runs, to choose the language of these texts.
  const QCommandLineOption language(
      QStringLiteral("lang"),
      Text(QT_TRANSLATE_NOOP("CommandLine", "界面语言: zh (中文) 或 en (英文); 优先于环境变量 QUORVEL_LANG。")),
      QStringLiteral("LANG"));
  parser.addOptions({help, version, adapter, language});
  AddToolkitOptions(parser);
  parser.addPositionalArgument(
      QStringLiteral("document"),
      Text(QT_TRANSLATE_NOOP("CommandLine", "文档: 程序只检查它能否打开, 不能打开时报错并退出。")),
      QStringLiteral("[document...]"));

  QString error;
  if (!parser.parse(arguments)) {
    error = parser.errorText();
  } else if (parser.isSet(adapter) && parser.value(adapter).isEmpty()) {
    error = Text(QT_TRANSLATE_NOOP("CommandLine", "--adapter 需要一个网络适配器的设备名。"));
  } else if (parser.isSet(language) && !IsLanguageName(parser.value(language))) {
    error = Text(QT_TRANSLATE_NOOP("CommandLine", "--lang 只接受 zh 或 en。"));
  }
  if (!error.isEmpty()) {
    Print(stderr, program + QStringLiteral(": ") + error + QLatin1Char('\n') + HelpText(parser, program));
    return 2;
  }
  if (parser.isSet(help)) {
    Print(stdout, HelpText(parser, program));
    return 0;
  }
  if (parser.isSet(version)) {
    Print(stdout, QString::fromUtf8(product::kName) + QLatin1Char(' ') + QString::fromUtf8(product::kVersion) +
                      QLatin1Char('\n'));
    return 0;
  }
  commandLine.adapter = parser.value(adapter);
  commandLine.documents = parser.positionalArguments();
  return std::nullopt;
}
