#pragma once

#include <QColor>
#include <QObject>
#include <QSystemTrayIcon>
#include <cstdint>
#include <deque>
#include <functional>

#include "ui/rate_sample.h"

class QAction;
class QMenu;
class QWidget;

// The icon in the desktop's tray: the current rates received and sent in
// its tip and a tiny chart of the last minutes as its image; its menu shows or hides the
// window, pauses and ends the program. Closing the window still ends the
// program as it always has: the tray never keeps a hidden window alive.
class CTrayIcon : public QObject {
  Q_OBJECT

 public:
  // `command` carries out a command of the window by its id.
  CTrayIcon(QWidget& window, std::function<void(int)> command, QObject* parent = nullptr);
  ~CTrayIcon() override;

  // Once a second, with the chart's samples.
  void ShowRate(const std::deque<RateSample>& samples, int units);

  // The received colour of the tray's image, bright on any panel.
  static QColor ReceivedColour() { return QColor(0, 160, 255); }
  // The pause item follows the pause.
  void SetPaused(bool paused, bool enabled);

  QSystemTrayIcon& Icon() { return m_icon; }
  QMenu& Menu() { return *m_menu; }

 private:
  void ToggleWindow();

  QWidget& m_window;
  std::function<void(int)> m_command;
  QMenu* m_menu;
  QAction* m_pause;
  QSystemTrayIcon m_icon;
};
