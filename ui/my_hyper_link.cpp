#include "ui/my_hyper_link.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>

#include "ui/product.h"

CMyHyperLink::CMyHyperLink(const QString& text, std::function<bool(const QString&)> open, const QString& url,
                           QWidget* parent)
    : QLabel(text, parent), m_open(std::move(open)), m_url(url.isEmpty() ? text : url) {
  setTextFormat(Qt::PlainText);
  setTextInteractionFlags(Qt::NoTextInteraction);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  QFont underlined = font();
  underlined.setUnderline(true);
  setFont(underlined);
  setCursor(Qt::PointingHandCursor);
  setToolTip(m_url);
  setMouseTracking(true);
  SetOver(false);
}

// Colours follow the state only; a visited link looks like any other.
void CMyHyperLink::SetOver(bool over) {
  m_over = over;
  QPalette colours = palette();
  const QColor highlight = parentWidget() != nullptr ? parentWidget()->palette().color(QPalette::Highlight)
                                                     : QGuiApplication::palette().color(QPalette::Highlight);
  colours.setColor(QPalette::WindowText, over ? highlight : QColor(kLinkColour));
  setPalette(colours);
  update();
}

void CMyHyperLink::enterEvent(QEnterEvent* event) {
  QLabel::enterEvent(event);
  SetOver(true);
}

void CMyHyperLink::leaveEvent(QEvent* event) {
  QLabel::leaveEvent(event);
  SetOver(false);
}

// A pointer already inside when the link appeared, or back inside after a
// click, turns the link to its highlight colour on its first move.
void CMyHyperLink::mouseMoveEvent(QMouseEvent* event) {
  QLabel::mouseMoveEvent(event);
  const bool inside = rect().contains(event->position().toPoint());
  if (inside != m_over) SetOver(inside);
}

void CMyHyperLink::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) m_pressed = true;
  event->accept();
}

void CMyHyperLink::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  if (event->button() == Qt::LeftButton) m_pressed = false;
  event->accept();
  if (click) Visit();
}

void CMyHyperLink::contextMenuEvent(QContextMenuEvent* event) {
  std::unique_ptr<QMenu> menu = CreateContextMenu();
  menu->exec(event->globalPos());
  SetOver(false);
  event->accept();
}

// The browser may take the focus and the pointer's leaving go unseen: the
// link shows its normal colour again at once.
void CMyHyperLink::Visit() {
  SetOver(false);
  if (!m_open(m_url)) ShowNotOpened();
}

// As for a help page that nothing could show: the user learns why nothing
// happened, and what to do about it.
void CMyHyperLink::ShowNotOpened() {
  auto* box = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(product::kName),
                              tr("无法打开网址:\n%1\n\n请安装网页浏览器，或在桌面设置中选择默认的网页浏览器。").arg(m_url),
                              QMessageBox::Ok, window());
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setTextFormat(Qt::PlainText);
  box->open();
}

void CMyHyperLink::CopyUrl() const {
  if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(m_url);
}

std::unique_ptr<QMenu> CMyHyperLink::CreateContextMenu() {
  auto menu = std::make_unique<QMenu>(this);
  menu->addAction(tr("访问该网址"), this, &CMyHyperLink::Visit);
  menu->addAction(tr("复制网址到剪贴板"), this, &CMyHyperLink::CopyUrl);
  return menu;
}
