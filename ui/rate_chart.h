#pragma once

#include <QWidget>
#include <cstdint>
#include <deque>

class QPainter;

// The capture's total rate over the last minutes, one bar a second, drawn
// small enough for the status bar; its tip says the latest rate in the
// chosen unit.
class CRateChart : public QWidget {
  Q_OBJECT

 public:
  static constexpr std::size_t kSeconds = 180;

  explicit CRateChart(QWidget* parent = nullptr);

  void AddSample(std::uint64_t bytesPerSecond, int units);
  const std::deque<std::uint64_t>& Samples() const { return m_samples; }

  // The samples as bars from the right edge leftwards, the newest at the
  // right, scaled to the highest; also the tray's image.
  static void Draw(QPainter& painter, const QRect& area, const std::deque<std::uint64_t>& samples,
                   const QColor& bars);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::deque<std::uint64_t> m_samples;
};
