#include "export/ipfix_exporter.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/tick_count.h"
#include "platform/wall_clock.h"

namespace {

// The sender wakes when this many records wait, or once a second: few
// small messages, and no record waits much longer than a second.
constexpr std::size_t kWakeAtRecords = 256;
constexpr auto kLongestWait = std::chrono::seconds(1);
constexpr int kBurstMessages = 32;
constexpr std::uint8_t kIcmp = 1;
constexpr std::uint8_t kIcmpv6 = 58;

IpfixEndReason EndReasonOf(CloseReason reason) {
  switch (reason) {
    case CloseReason::kIdle: return IpfixEndReason::kIdleTimeout;
    case CloseReason::kCleared:
    case CloseReason::kStopped:
    case CloseReason::kHidden:
    case CloseReason::kEnd: return IpfixEndReason::kForcedEnd;
  }
  return IpfixEndReason::kForcedEnd;
}

}  // namespace

std::size_t IpfixExporter::IdentityHash::operator()(const FlowIdentity& identity) const {
  const ConnectionEndpoints& e = identity.endpoints;
  const std::size_t ports = (std::size_t{e.sourcePort} << 16 | e.destinationPort) << 8 | e.protocol;
  return addresses(e.source.bytes) ^ addresses(e.destination.bytes) * 31 ^ (ports + identity.firstSeen) * 0x9E3779B97F4A7C15u;
}

IpfixExporter::IpfixExporter(const IpfixCollector& collector, const IpfixExportSettings& settings)
    : m_settings(settings),
      m_udp(collector.protocol == IpfixProtocol::kUdp),
      m_socket(collector),
      m_builder(settings.observationDomain, settings.maxMessageBytes),
      m_sender([this] { Run(); }) {}

IpfixExporter::~IpfixExporter() { Finish(); }

void IpfixExporter::ConnectionClosed(const ClosedConnection& connection) { Queue(connection, false); }

void IpfixExporter::ConnectionActive(const ClosedConnection& connection) { Queue(connection, true); }

void IpfixExporter::Queue(const ClosedConnection& connection, bool active) {
  Report report;
  report.endpoints = connection.endpoints;
  report.bytes = connection.bytes;
  report.packets = connection.packets;
  report.firstSeen = connection.firstSeen;
  report.lastSeen = connection.lastSeen;
  report.reason = connection.reason;
  report.active = active;
  report.pid = connection.owner.pid;
  std::memcpy(report.program, connection.owner.program, strnlen(connection.owner.program, sizeof report.program - 1));
  bool wake = false;
  {
    std::lock_guard lock(m_mutex);
    if (m_queue.size() >= m_settings.queueLimit) {
      ++m_counts.lostRecords;
      return;
    }
    m_queue.push_back(report);
    wake = m_queue.size() == kWakeAtRecords;
  }
  if (wake) m_wake.notify_one();
}

void IpfixExporter::Finish() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_wake.notify_one();
  if (m_sender.joinable()) m_sender.join();
}

IpfixExporter::Counts IpfixExporter::Totals() const {
  std::lock_guard lock(m_mutex);
  return m_counts;
}

std::string IpfixExporter::LastError() const {
  std::lock_guard lock(m_mutex);
  return m_lastError;
}

void IpfixExporter::Run() {
  std::vector<Report> batch;
  for (;;) {
    bool stopping = false;
    {
      std::unique_lock lock(m_mutex);
      m_wake.wait_for(lock, kLongestWait, [&] { return m_stopping || m_queue.size() >= kWakeAtRecords; });
      batch.swap(m_queue);
      stopping = m_stopping;
    }
    SendBatch(batch);
    batch.clear();
    if (stopping) {
      std::lock_guard lock(m_mutex);
      if (m_queue.empty()) break;
    }
  }
  m_socket.Close();
}

void IpfixExporter::SendBatch(std::vector<Report>& batch) {
  if (batch.empty()) return;
  bool newSession = false;
  m_connected = m_socket.Ready(newSession);
  const std::uint32_t nowTick = platform::TickCount();
  const std::int64_t nowMs = platform::WallClockMs();
  const auto exportSeconds = static_cast<std::uint32_t>(nowMs / 1000);
  // A new TCP connection is a new session: templates and sequence numbers
  // start again. Over UDP, one session whose templates the collector may
  // have missed or forgotten: they go again from time to time.
  if (newSession && m_builder.RecordsAdded() != 0)
    m_builder = IpfixMessageBuilder(m_settings.observationDomain, m_settings.maxMessageBytes);
  if (newSession || (m_udp && nowTick - m_lastTemplatesTick >= m_settings.templateRefreshMs)) {
    m_builder.SendTemplatesNext();
    m_lastTemplatesTick = nowTick;
  }
  for (const Report& report : batch) {
    IpfixFlow flow;
    if (!FlowOf(report, flow, nowTick, nowMs)) continue;
    m_builder.Add(flow, exportSeconds);
    SendMessages();
  }
  m_builder.Finish();
  SendMessages();
}

// Each message goes as soon as it is full: a batch of a million records
// never waits whole in memory a second time.
void IpfixExporter::SendMessages() {
  for (const IpfixMessage& message : m_builder.TakeMessages()) {
    Pace();
    const bool sent = m_connected && m_socket.Send(message.bytes.data(), message.bytes.size());
    std::lock_guard lock(m_mutex);
    if (sent) {
      ++m_counts.messages;
      m_counts.records += message.records;
      continue;
    }
    ++m_counts.failedMessages;
    m_counts.lostRecords += message.records;
    m_lastError = m_socket.LastError();
  }
}

void IpfixExporter::Pace() {
  if (!m_udp || m_settings.messagesPerSecond == 0) return;
  const auto interval = std::chrono::nanoseconds(1'000'000'000 / m_settings.messagesPerSecond);
  const auto now = std::chrono::steady_clock::now();
  m_nextSend = std::max(m_nextSend, now - kBurstMessages * interval) + interval;
  if (m_nextSend > now) std::this_thread::sleep_until(m_nextSend);
}

bool IpfixExporter::FlowOf(const Report& report, IpfixFlow& flow, std::uint32_t nowTick, std::int64_t nowMs) {
  std::uint64_t bytesBefore = 0, packetsBefore = 0;
  std::uint32_t start = report.firstSeen;
  const FlowIdentity identity{report.endpoints, report.firstSeen};
  const auto previous = m_reported.empty() ? m_reported.end() : m_reported.find(identity);
  if (previous != m_reported.end()) {
    bytesBefore = previous->second.bytes;
    packetsBefore = previous->second.packets;
    start = previous->second.lastSeen;
    if (!report.active) m_reported.erase(previous);
  }
  if (report.active) m_reported[identity] = Reported{report.bytes, report.packets, report.lastSeen};
  // Nothing moved since the previous record.
  if (report.packets <= packetsBefore) return false;
  flow.source = report.endpoints.source;
  flow.destination = report.endpoints.destination;
  flow.sourcePort = report.endpoints.sourcePort;
  flow.destinationPort = report.endpoints.destinationPort;
  flow.protocol = report.endpoints.protocol;
  // An ICMP "port" pair is the type and code, then the checksum: collectors
  // expect the type and code as the destination port, and no source port.
  if (flow.protocol == kIcmp || flow.protocol == kIcmpv6) {
    flow.destinationPort = flow.sourcePort;
    flow.sourcePort = 0;
  }
  flow.endReason = report.active ? IpfixEndReason::kActiveTimeout : EndReasonOf(report.reason);
  flow.octets = report.bytes - bytesBefore;
  flow.packets = report.packets - packetsBefore;
  flow.startMs = WallClockMs(start, nowTick, nowMs);
  flow.endMs = WallClockMs(report.lastSeen, nowTick, nowMs);
  flow.pid = report.pid;
  std::memcpy(flow.program, report.program, sizeof flow.program);
  return true;
}
