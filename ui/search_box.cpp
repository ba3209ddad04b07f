#include "ui/search_box.h"

#include <QKeyEvent>

CSearchBox::CSearchBox(QWidget* parent) : QLineEdit(parent) {
  setObjectName(QStringLiteral("searchBox"));
  setFixedWidth(kWidth);
  setClearButtonEnabled(true);
  setPlaceholderText(tr("搜索 (Ctrl+F)"));
  setToolTip(tr("只显示地址、端口、协议、进程或用户中含有这些词的行; 多个词须全部匹配; \":443\" 只匹配端口"));
  setStatusTip(tr("在列表中搜索连接"));
}

void CSearchBox::TakeFocus() {
  setFocus(Qt::ShortcutFocusReason);
  selectAll();
}

void CSearchBox::keyPressEvent(QKeyEvent* event) {
  if (event->key() != Qt::Key_Escape) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  if (text().isEmpty())
    emit leaveRequested();
  else
    clear();
  event->accept();
}
