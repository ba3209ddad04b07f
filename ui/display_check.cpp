#include "ui/display_check.h"

#include <QByteArray>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ui/language.h"

namespace {

constexpr char kContext[] = "DisplayCheck";

std::function<void()> g_onFailure;
QtMessageHandler g_previous = nullptr;

// -platform, or the X display's -display; the toolkit accepts its options
// with one dash or two.
bool NamesPlatformOrDisplay(const char* argument) {
  if (std::strncmp(argument, "--", 2) == 0) ++argument;
  return std::strcmp(argument, "-platform") == 0 || std::strcmp(argument, "-display") == 0;
}

void PassOn(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (g_previous != nullptr) {
    g_previous(type, context, message);
    return;
  }
  std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

void OnToolkitMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type != QtFatalMsg || !g_onFailure) {
    PassOn(type, context, message);
    return;
  }
  g_onFailure();
  std::fflush(stderr);
  std::_Exit(1);
}

QString DisplayNames() {
  QStringList names;
  for (const char* variable : {"WAYLAND_DISPLAY", "DISPLAY"}) {
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty()) names << QStringLiteral("%1=%2").arg(QLatin1String(variable), value);
  }
  return names.join(QLatin1String(", "));
}

}  // namespace

bool HasDisplay(int argc, char* argv[]) {
  if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
      !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    return true;
  for (int i = 1; i < argc; ++i)
    if (NamesPlatformOrDisplay(argv[i])) return true;
  return false;
}

QString NoDisplayMessage(const QString& display) {
  const QString tried =
      display.isEmpty()
          ? TranslatedText(kContext, QT_TRANSLATE_NOOP("DisplayCheck", "没有设置 DISPLAY 或 WAYLAND_DISPLAY"))
          : display;
  return TranslatedText(kContext, QT_TRANSLATE_NOOP("DisplayCheck",
                                                    "quorvel: 无法打开显示 (%1)。窗口需要图形桌面;\n"
                                                    "没有桌面时 (例如通过 ssh 或作为服务运行), 请用 "
                                                    "quorvel-replay --live 网络适配器 监控。"))
      .arg(tried);
}

void PrintNoDisplayMessage() {
  std::fprintf(stderr, "%s\n", NoDisplayMessage(DisplayNames()).toUtf8().constData());
  std::fflush(stderr);
}

DisplayFailureGuard::DisplayFailureGuard(std::function<void()> onFailure) {
  g_onFailure = std::move(onFailure);
  m_previous = qInstallMessageHandler(OnToolkitMessage);
  g_previous = m_previous;
}

DisplayFailureGuard::~DisplayFailureGuard() {
  qInstallMessageHandler(m_previous);
  g_onFailure = nullptr;
  g_previous = nullptr;
}
