#include "ui/rate_chart.h"

#include <QPainter>
#include <algorithm>

#include "text/format_amount.h"

namespace {
// One pixel a second, as high as a line of the status bar.
constexpr int kChartHeight = 18;

const char* const kChartTitle = QT_TRANSLATE_NOOP("CRateChart", "最近 %1 分钟的接收(下)和发送(上)流量");

std::uint64_t HighestTotal(const std::deque<RateSample>& samples) {
  std::uint64_t highest = 0;
  for (const RateSample& sample : samples) highest = std::max(highest, sample.Total());
  return highest;
}

// The sent part of a bar `height` pixels high, in whole pixels. While the
// bar has two, a side that moved anything keeps at least one: a trickle
// of acknowledgements under a download still shows.
int SentPixels(const RateSample& sample, int height) {
  const std::uint64_t total = sample.Total();
  int pixels = static_cast<int>((sample.sent * static_cast<std::uint64_t>(height) + total / 2) / total);
  if (height >= 2) {
    if (sample.sent != 0 && pixels == 0) pixels = 1;
    if (sample.received != 0 && pixels == height) pixels = height - 1;
  }
  return pixels;
}

}  // namespace

CRateChart::CRateChart(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("rateChart"));
  setFixedSize(static_cast<int>(kSeconds), kChartHeight);
  setToolTip(tr(kChartTitle).arg(kSeconds / 60));
}

void CRateChart::AddSample(const RateSample& rate, int units) {
  m_samples.push_back(rate);
  if (m_samples.size() > kSeconds) m_samples.pop_front();
  setToolTip(tr(kChartTitle).arg(kSeconds / 60) + QLatin1Char('\n') +
             tr("接收: %1, 发送: %2, 合计最高: %3")
                 .arg(RateText(rate.received, units), RateText(rate.sent, units),
                      RateText(HighestTotal(m_samples), units)));
  update();
}

QString CRateChart::RateText(std::uint64_t bytesPerSecond, int units) {
  return QString::fromUtf8(FormatAmount(bytesPerSecond, 1, 1, units));
}

void CRateChart::Draw(QPainter& painter, const QRect& area, const std::deque<RateSample>& samples,
                      const QColor& received, const QColor& sent) {
  if (samples.empty() || area.isEmpty()) return;
  const std::uint64_t highest = std::max<std::uint64_t>(1, HighestTotal(samples));
  const int count = std::min<int>(area.width(), static_cast<int>(samples.size()));
  const double barWidth = static_cast<double>(area.width()) / std::min<std::size_t>(samples.size(), area.width());
  for (int i = 0; i < count; ++i) {
    const RateSample& sample = samples[samples.size() - 1 - i];
    const int height =
        static_cast<int>((sample.Total() * static_cast<std::uint64_t>(area.height()) + highest - 1) / highest);
    if (height == 0) continue;
    const int sentHeight = SentPixels(sample, height);
    const double left = area.right() + 1 - (i + 1) * barWidth;
    const int top = area.bottom() + 1 - height;
    painter.fillRect(QRectF(left, top, barWidth, sentHeight), sent);
    painter.fillRect(QRectF(left, top + sentHeight, barWidth, height - sentHeight), received);
  }
}

void CRateChart::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Base));
  Draw(painter, rect(), m_samples, ReceivedColour(), SentColour());
}
