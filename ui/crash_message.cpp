#include "ui/crash_message.h"

#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <cstdio>
#include <cstring>

#include "platform/crash_handler.h"
#include "platform/user_message.h"
#include "ui/display_check.h"
#include "ui/language.h"
#include "ui/product.h"

namespace {

QString CrashMessageText(const QString& reportPath) {
  // Shown before the application object exists.
  const char* const text =
      QT_TRANSLATE_NOOP("CCrashHandler",
                        "Oh...程序出错啦?\r\n如果您看到这个消息,则说明程序出错了!'\r\n"
                        "这个问题通常是由于程序自身的错误引起的,如果这个问题\r\n一直存在,请与我们联系 %1\r\n"
                        "请告诉我们这个问题是如何产生的,我们将尽快修复 file:\r\n'%2'");
  return TranslatedText("CCrashHandler", text)
      .arg(QString::fromUtf8(product::kMakerHost), reportPath)
      .replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

void ShowMessageBox(int argc, char* argv[], const QString& text) {
  QApplication app(argc, argv);
  QMessageBox box(QMessageBox::Critical,
                  QString::fromUtf8(platform::MessageCaption(platform::MessageKind::kError)), text,
                  QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);  // a path is never markup
  box.exec();
}

}  // namespace

void ShowCrashMessageIfAsked(int argc, char* argv[]) {
  if (argc != 3 || std::strcmp(argv[1], platform::kCrashMessageArgument) != 0) return;
  const QString text = CrashMessageText(QFile::decodeName(argv[2]));
  const auto printText = [&text] {
    std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    std::fflush(stderr);
  };
  if (HasDisplay(argc, argv)) {
    // A display that cannot be opened gets the text on standard error too.
    DisplayFailureGuard guard(printText);
    ShowMessageBox(argc, argv, text);
  } else {
    printText();
  }
  // The crashed run saves nothing, and neither does this one.
  _exit(0);
}
