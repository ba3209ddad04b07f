#pragma once

#include <QLineEdit>

// The search box in the toolbar. Escape empties it; pressed in an empty
// box it hands the keyboard back to the list.
class CSearchBox : public QLineEdit {
  Q_OBJECT

 public:
  static constexpr int kWidth = 220;

  explicit CSearchBox(QWidget* parent = nullptr);

  // Ctrl+F: the keyboard to the box, its text selected so that typing
  // replaces it.
  void TakeFocus();

 signals:
  void leaveRequested();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};
