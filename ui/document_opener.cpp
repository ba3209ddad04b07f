#include "ui/document_opener.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QUrl>

#include "ui/product.h"

namespace {

// $BROWSER is a colon-separated list of commands, tried in order; "%s" in
// a command stands for the address, otherwise it goes at the end.
bool OpenWithBrowserVariable(const QString& url) {
  const QString browsers = qEnvironmentVariable("BROWSER");
  for (const QString& command : browsers.split(u':', Qt::SkipEmptyParts)) {
    QStringList words = QProcess::splitCommand(command);
    if (words.isEmpty()) continue;
    bool placed = false;
    for (QString& word : words) {
      if (word.contains(QLatin1String("%s"))) {
        word.replace(QLatin1String("%s"), url);
        placed = true;
      }
    }
    if (!placed) words.append(url);
    const QString program = words.takeFirst();
    if (QProcess::startDetached(program, words)) return true;
  }
  return false;
}

}  // namespace

void OpenDocument(const std::string& path) {
  const QString file = QString::fromStdString(path);
  if (!QFileInfo(file).isFile()) {
    QMessageBox::warning(nullptr, QString::fromUtf8(product::kName),
                         QCoreApplication::translate("DocumentOpener", "找不到文档:\n%1").arg(file));
    return;
  }
  const QUrl url = QUrl::fromLocalFile(file);
  if (QDesktopServices::openUrl(url) || OpenWithBrowserVariable(url.toString())) return;
  QMessageBox::warning(nullptr, QString::fromUtf8(product::kName),
                       QCoreApplication::translate("DocumentOpener",
                                                   "无法打开文档:\n%1\n\n请安装网页浏览器，或在环境变量 BROWSER 中指定浏览器。")
                           .arg(file));
}
