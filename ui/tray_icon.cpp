#include "ui/tray_icon.h"

#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

#include "ui/command_ids.h"
#include "ui/product.h"
#include "ui/rate_chart.h"

namespace {
constexpr int kImageSize = 32;
}  // namespace

CTrayIcon::CTrayIcon(QWidget& window, std::function<void(int)> command, QObject* parent)
    : QObject(parent), m_window(window), m_command(std::move(command)), m_menu(new QMenu), m_icon(window.windowIcon()) {
  m_menu->addAction(tr("显示/隐藏窗口"), this, &CTrayIcon::ToggleWindow);
  m_pause = m_menu->addAction(tr("暂停"), this, [this] { m_command(ID_CAPTURE_PAUSE); });
  m_pause->setCheckable(true);
  m_menu->addSeparator();
  m_menu->addAction(tr("退出"), this, [this] { m_command(ID_QUIT); });
  m_icon.setContextMenu(m_menu);
  m_icon.setToolTip(QString::fromUtf8(product::kName));
  connect(&m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) ToggleWindow();
  });
}

CTrayIcon::~CTrayIcon() {
  m_icon.hide();
  delete m_menu;
}

// A window that was minimised comes back to the front.
void CTrayIcon::ToggleWindow() {
  if (m_window.isVisible() && !m_window.isMinimized()) {
    m_window.hide();
    return;
  }
  m_window.showNormal();
  m_window.raise();
  m_window.activateWindow();
}

void CTrayIcon::ShowRate(const std::deque<RateSample>& samples, int units) {
  const RateSample current = samples.empty() ? RateSample() : samples.back();
  m_icon.setToolTip(tr("%1 - 接收: %2, 发送: %3")
                        .arg(QString::fromUtf8(product::kName), CRateChart::RateText(current.received, units),
                             CRateChart::RateText(current.sent, units)));
  QPixmap image(kImageSize, kImageSize);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.drawPixmap(image.rect(), m_window.windowIcon().pixmap(kImageSize, kImageSize));
  // The last half minute in the lower half, over the program's icon.
  const std::deque<RateSample> recent(samples.size() > kImageSize ? samples.end() - kImageSize : samples.begin(),
                                      samples.end());
  CRateChart::Draw(painter, QRect(0, kImageSize / 2, kImageSize, kImageSize / 2), recent, ReceivedColour(),
                   CRateChart::SentColour());
  painter.end();
  m_icon.setIcon(QIcon(image));
}

void CTrayIcon::SetPaused(bool paused, bool enabled) {
  m_pause->setChecked(paused);
  m_pause->setEnabled(enabled);
}
