#include "ui/placeholder_view.h"

CPlaceholderView::CPlaceholderView(QWidget* parent) : QWidget(parent) {
  setBackgroundRole(QPalette::Base);
  setAutoFillBackground(true);
}
