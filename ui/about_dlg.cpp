#include "ui/about_dlg.h"

#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QWindow>

#include "ui/my_hyper_link.h"
#include "ui/product.h"

namespace {

constexpr int kIconSize = 32;

}  // namespace

CAboutDlg::CAboutDlg(std::function<bool(const QString&)> openUrl, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setWindowTitle(QString::fromUtf8(product::kName));
  // Without a title bar the box draws its own edge.
  auto* panel = new QFrame(this);
  panel->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(panel);

  auto* icon = new QLabel;
  icon->setPixmap(QIcon(QStringLiteral(":/icons/quorvel.svg")).pixmap(QSize(kIconSize, kIconSize), devicePixelRatioF()));
  auto* name = new QLabel(QString::fromUtf8(product::kName));
  name->setTextFormat(Qt::PlainText);
  m_link = new CMyHyperLink(QString::fromUtf8(product::kWebSite), std::move(openUrl));
  auto* information = new QLabel(tr("版本 %1, 构建于 %2")
                                     .arg(QString::fromUtf8(product::kVersion), QStringLiteral(QUORVEL_BUILD_DATE)));
  m_ok = new QPushButton(tr("确定"));
  m_ok->setAutoDefault(false);
  connect(m_ok, &QPushButton::clicked, this, &QDialog::reject);

  const int gap = style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing);
  auto* grid = new QGridLayout(panel);
  grid->setHorizontalSpacing(gap);
  grid->setVerticalSpacing(gap * 2);
  grid->addWidget(icon, 0, 0, Qt::AlignCenter);
  grid->addWidget(name, 0, 1, 1, 2, Qt::AlignLeft | Qt::AlignVCenter);
  grid->addWidget(new QLabel(tr("官方网站:")), 1, 0);
  grid->addWidget(m_link, 1, 1, 1, 2, Qt::AlignLeft);
  grid->addWidget(information, 2, 0, 1, 3);
  grid->addWidget(m_ok, 3, 0, 1, 3, Qt::AlignHCenter);
  grid->setColumnStretch(2, 1);
  outer->setSizeConstraint(QLayout::SetFixedSize);
}

void CAboutDlg::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    accept();
    return;
  }
  if (event->button() == Qt::LeftButton) {
    m_dragging = true;
    m_pressedAt = event->globalPosition().toPoint();
  }
  QDialog::mousePressEvent(event);
}

// The window system takes the move over once the pointer has really moved,
// so that a click or a double click stays one.
void CAboutDlg::mouseMoveEvent(QMouseEvent* event) {
  QDialog::mouseMoveEvent(event);
  if (!m_dragging || !(event->buttons() & Qt::LeftButton)) return;
  if ((event->globalPosition().toPoint() - m_pressedAt).manhattanLength() < QApplication::startDragDistance()) return;
  m_dragging = false;
  if (QWindow* window = windowHandle()) window->startSystemMove();
}

void CAboutDlg::mouseReleaseEvent(QMouseEvent* event) {
  m_dragging = false;
  QDialog::mouseReleaseEvent(event);
}

void CAboutDlg::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    accept();
    return;
  }
  QDialog::mouseDoubleClickEvent(event);
}

// Enter closes the box as OK would: its one button is not a default one.
void CAboutDlg::keyPressEvent(QKeyEvent* event) {
  const bool plain = event->modifiers() == Qt::NoModifier ||
                     (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
  if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
    accept();
    return;
  }
  QDialog::keyPressEvent(event);
}
