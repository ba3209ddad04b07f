#pragma once

#include <QDialog>
#include <QPoint>
#include <functional>

class CMyHyperLink;
class QPushButton;

// The About box: a small box without a caption showing the application's
// icon, its name, the web site as a link and its version and build date.
// Dragging it anywhere moves it (the window system moves it, as it moves
// any window by its title bar); a right click or a double click on it, the
// button, Enter and Escape close it.
class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  // `openUrl` opens the link's address.
  explicit CAboutDlg(std::function<bool(const QString&)> openUrl, QWidget* parent = nullptr);

  CMyHyperLink& Link() const { return *m_link; }
  QPushButton& OkButton() const { return *m_ok; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  CMyHyperLink* m_link;
  QPushButton* m_ok;
  bool m_dragging = false;  // the left button went down on the box itself
  QPoint m_pressedAt;
};
