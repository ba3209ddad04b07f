#pragma once

#include <QProxyStyle>

// The menus' style. A checked item that shows its command's image stands
// on a square filled and edged with the highlight colour, as plain as a
// checked toolbar button; many styles only draw a pale frame around the
// image, which hardly tells a hidden protocol from a shown one. Every image
// gets a little room around it for that square, so that checked and
// unchecked images keep one size. Everything else is the application's
// style.
class CheckedImageMenuStyle : public QProxyStyle {
  Q_OBJECT

 public:
  // The room on each side of an image.
  static constexpr int kPanelMargin = 2;

  using QProxyStyle::QProxyStyle;

  int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr) const override;
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget = nullptr) const override;
};
