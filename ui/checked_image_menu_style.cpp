#include "ui/checked_image_menu_style.h"

#include <QPainter>
#include <QStyleOptionMenuItem>

namespace {

constexpr int kFillAlpha = 120;

// The image at its usual size in the middle of a square `margin` larger on
// each side; when checked, the square is filled with the highlight colour
// and edged with it (with the selected text's colour on a selected item,
// whose background is that highlight already).
QIcon FramedImage(const QStyleOptionMenuItem& item, int imageSize, int margin, qreal pixelRatio) {
  const int size = imageSize + 2 * margin;
  QPixmap square(QSize(size, size) * pixelRatio);
  square.setDevicePixelRatio(pixelRatio);
  square.fill(Qt::transparent);
  QPainter painter(&square);
  if (item.checked) {
    QColor fill = item.palette.color(QPalette::Highlight);
    fill.setAlpha(kFillAlpha);
    const bool selected = item.state & QStyle::State_Selected;
    painter.setPen(item.palette.color(selected ? QPalette::HighlightedText : QPalette::Highlight));
    painter.setBrush(fill);
    painter.drawRect(QRectF(0.5, 0.5, size - 1, size - 1));
  }
  painter.drawPixmap(margin, margin, item.icon.pixmap(QSize(imageSize, imageSize), pixelRatio));
  return QIcon(square);
}

}  // namespace

int CheckedImageMenuStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const {
  const int value = QProxyStyle::pixelMetric(metric, option, widget);
  return metric == PM_SmallIconSize ? value + 2 * kPanelMargin : value;
}

void CheckedImageMenuStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                        const QWidget* widget) const {
  const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
  if (element != CE_MenuItem || item == nullptr || item->icon.isNull()) {
    QProxyStyle::drawControl(element, option, painter, widget);
    return;
  }
  QStyleOptionMenuItem framed = *item;
  framed.checked = false;  // no mark of the style's own around the panel
  const int imageSize = baseStyle()->pixelMetric(PM_SmallIconSize, option, widget);
  const qreal pixelRatio = painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1.0;
  framed.icon = FramedImage(*item, imageSize, kPanelMargin, pixelRatio);
  QProxyStyle::drawControl(element, &framed, painter, widget);
}
