#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "export/ipfix_message.h"
#include "export/ipfix_transport.h"
#include "table/closed_connection.h"

struct IpfixExportSettings {
  std::uint32_t observationDomain = 1;
  // Messages no longer than this; over UDP, what one datagram to the
  // collector carries.
  std::size_t maxMessageBytes = 1400;
  // Over UDP the templates go again this often: a collector that started
  // after the exporter, or lost a datagram, learns them in time.
  std::uint32_t templateRefreshMs = 60000;
  // Over UDP, no more messages a second than this, after a burst of 32: a
  // collector's socket holds only so many datagrams, and one it had no
  // room for is lost. 0: no limit.
  std::uint32_t messagesPerSecond = 10000;
  // Records waiting for the sender beyond this are lost (and counted):
  // about 90 bytes each.
  std::size_t queueLimit = std::size_t{1} << 21;
};

// Sends flow records in IPFIX to one collector: a record for each
// connection that leaves the table, and for each long one at every active
// timeout (as an ActiveConnectionSink), octets and packets since its
// previous record. The table's threads only copy a record into a queue;
// a thread of the exporter's own turns the records into messages and
// sends them, so that a slow collector or a lost network never holds up a
// capture.
class IpfixExporter final : public ClosedConnectionSink, public ActiveConnectionSink {
 public:
  IpfixExporter(const IpfixCollector& collector, const IpfixExportSettings& settings);
  ~IpfixExporter() override;
  IpfixExporter(const IpfixExporter&) = delete;
  IpfixExporter& operator=(const IpfixExporter&) = delete;

  void ConnectionClosed(const ClosedConnection& connection) override;
  void ConnectionActive(const ClosedConnection& connection) override;

  // Sends every record queued so far and ends the sender. Call it once no
  // table reports to the exporter any more.
  void Finish();

  struct Counts {
    std::uint64_t records = 0;         // sent in messages that went out
    std::uint64_t messages = 0;
    std::uint64_t lostRecords = 0;     // the queue was full, or their message was not sent
    std::uint64_t failedMessages = 0;
  };
  // Complete once Finish returned.
  Counts Totals() const;
  // The last failure to reach the collector, empty when none.
  std::string LastError() const;

 private:
  // A connection's report as the table made it, waiting for the sender:
  // 88 bytes, the owner's program without its user.
  struct Report {
    ConnectionEndpoints endpoints;
    std::uint64_t bytes = 0;
    std::uint64_t packets = 0;
    std::uint32_t firstSeen = 0;
    std::uint32_t lastSeen = 0;
    CloseReason reason = CloseReason::kIdle;
    bool active = false;
    std::int32_t pid = 0;
    char program[16] = {};
  };
  // What the previous records of a long connection carried.
  struct Reported {
    std::uint64_t bytes = 0;
    std::uint64_t packets = 0;
    std::uint32_t lastSeen = 0;
  };
  struct FlowIdentity {
    ConnectionEndpoints endpoints;
    std::uint32_t firstSeen = 0;
    friend bool operator==(const FlowIdentity&, const FlowIdentity&) = default;
  };
  struct IdentityHash {
    std::size_t operator()(const FlowIdentity& identity) const;
    SeededAddressHash addresses;
  };

  void Queue(const ClosedConnection& connection, bool active);
  void Run();
  void SendBatch(std::vector<Report>& batch);
  // False when the report adds nothing to the connection's previous record.
  bool FlowOf(const Report& report, IpfixFlow& flow, std::uint32_t nowTick, std::int64_t nowMs);
  void SendMessages();
  void Pace();

  const IpfixExportSettings m_settings;
  const bool m_udp;
  IpfixSocket m_socket;
  IpfixMessageBuilder m_builder;

  mutable std::mutex m_mutex;  // guards the queue, the counts and the stop
  std::condition_variable m_wake;
  std::vector<Report> m_queue;
  bool m_stopping = false;
  Counts m_counts;
  std::string m_lastError;

  // The sender thread's own.
  std::unordered_map<FlowIdentity, Reported, IdentityHash> m_reported;
  std::uint32_t m_lastTemplatesTick = 0;
  bool m_connected = false;
  std::chrono::steady_clock::time_point m_nextSend;
  std::thread m_sender;
};
