#include "ui/rate_chart.h"

#include <QPainter>
#include <algorithm>

#include "text/format_amount.h"

namespace {
// One pixel a second, as high as a line of the status bar.
constexpr int kChartHeight = 18;
}  // namespace

CRateChart::CRateChart(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("rateChart"));
  setFixedSize(static_cast<int>(kSeconds), kChartHeight);
  setToolTip(tr("最近 %1 分钟的总流量").arg(kSeconds / 60));
}

void CRateChart::AddSample(std::uint64_t bytesPerSecond, int units) {
  m_samples.push_back(bytesPerSecond);
  if (m_samples.size() > kSeconds) m_samples.pop_front();
  const std::uint64_t highest = *std::max_element(m_samples.begin(), m_samples.end());
  setToolTip(tr("最近 %1 分钟的总流量\n当前: %2, 最高: %3")
                 .arg(kSeconds / 60)
                 .arg(QString::fromUtf8(FormatAmount(bytesPerSecond, 1, 1, units)),
                      QString::fromUtf8(FormatAmount(highest, 1, 1, units))));
  update();
}

void CRateChart::Draw(QPainter& painter, const QRect& area, const std::deque<std::uint64_t>& samples,
                      const QColor& bars) {
  if (samples.empty() || area.isEmpty()) return;
  const std::uint64_t highest = std::max<std::uint64_t>(1, *std::max_element(samples.begin(), samples.end()));
  const int count = std::min<int>(area.width(), static_cast<int>(samples.size()));
  const double barWidth = static_cast<double>(area.width()) / std::min<std::size_t>(samples.size(), area.width());
  for (int i = 0; i < count; ++i) {
    const std::uint64_t value = samples[samples.size() - 1 - i];
    const int height = static_cast<int>((value * static_cast<std::uint64_t>(area.height()) + highest - 1) / highest);
    if (height == 0) continue;
    const double right = area.right() + 1 - i * barWidth;
    painter.fillRect(QRectF(right - barWidth, area.bottom() + 1 - height, barWidth, height), bars);
  }
}

void CRateChart::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Base));
  Draw(painter, rect(), m_samples, palette().color(QPalette::Highlight));
}
