#pragma once

#include <QLabel>
#include <functional>
#include <memory>

class QMenu;

// A web address shown as a link: underlined, in link blue, in the
// palette's highlight colour while the pointer is over it, with a pointing
// hand and the address as its tooltip. A click opens the address (and says
// so when nothing could); a right click offers to open it or to copy it. The label is as large as its text,
// so only the text itself is the link.
class CMyHyperLink : public QLabel {
  Q_OBJECT

 public:
  static constexpr QRgb kLinkColour = qRgb(0, 0, 238);

  // `url` empty: the link's target is its text. `open` opens an address.
  CMyHyperLink(const QString& text, std::function<bool(const QString&)> open, const QString& url = {},
               QWidget* parent = nullptr);

  const QString& Url() const { return m_url; }
  bool Over() const { return m_over; }

  // The right click's menu: visit the address, copy it.
  std::unique_ptr<QMenu> CreateContextMenu();
  void Visit();
  void CopyUrl() const;

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void SetOver(bool over);
  void ShowNotOpened();

  std::function<bool(const QString&)> m_open;
  QString m_url;
  bool m_over = false;
  bool m_pressed = false;  // a left press inside, not yet released
};
