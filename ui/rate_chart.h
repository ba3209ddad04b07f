#pragma once

#include <QColor>
#include <QWidget>
#include <cstdint>
#include <deque>

#include "ui/rate_sample.h"

class QPainter;

// The capture's rate over the last minutes, one bar a second, drawn small
// enough for the status bar: the received part of each bar at its foot,
// the sent part stacked on it, so that a bar is as high as the total rate.
// Its tip says the latest rates both ways in the chosen unit.
class CRateChart : public QWidget {
  Q_OBJECT

 public:
  static constexpr std::size_t kSeconds = 180;

  explicit CRateChart(QWidget* parent = nullptr);

  void AddSample(const RateSample& rate, int units);
  const std::deque<RateSample>& Samples() const { return m_samples; }

  // A rate as the tips say it: bytes or bits a second as the settings'
  // `units` choose, with the unit.
  static QString RateText(std::uint64_t bytesPerSecond, int units);

  // The colour of the sent part, the same in the chart and the tray: one
  // that stands apart from the usual blue of a selection.
  static QColor SentColour() { return QColor(240, 130, 0); }
  // The received colour of the status bar's chart.
  QColor ReceivedColour() const { return palette().color(QPalette::Highlight); }

  // The samples as bars from the right edge leftwards, the newest at the
  // right, scaled to the highest total; also the tray's image.
  static void Draw(QPainter& painter, const QRect& area, const std::deque<RateSample>& samples,
                   const QColor& received, const QColor& sent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::deque<RateSample> m_samples;
};
