#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "packet/ip_address.h"

// Why a flow record ends, as IPFIX's flowEndReason (element 136) numbers it.
enum class IpfixEndReason : std::uint8_t {
  kIdleTimeout = 1,
  kActiveTimeout = 2,
  kEndOfFlow = 3,
  kForcedEnd = 4,  // the capture ended, or the connection was removed by hand
};

// The private enterprise number under which the owner's elements go. 32473
// is the number set aside for examples and documentation (RFC 5612): a
// collector that knows no better skips the elements.
constexpr std::uint32_t kIpfixEnterpriseNumber = 32473;
constexpr std::uint16_t kIpfixProcessIdElement = 1;    // unsigned32
constexpr std::uint16_t kIpfixProgramNameElement = 2;  // string, variable length

// The templates: each family, without and with the owner's elements.
constexpr std::uint16_t kIpfixIpv4Template = 256;
constexpr std::uint16_t kIpfixIpv6Template = 257;
constexpr std::uint16_t kIpfixIpv4OwnerTemplate = 258;
constexpr std::uint16_t kIpfixIpv6OwnerTemplate = 259;

// One data record: what a connection moved over the span it reports.
struct IpfixFlow {
  IpAddress source;
  IpAddress destination;
  std::uint16_t sourcePort = 0;       // network byte order
  std::uint16_t destinationPort = 0;  // network byte order
  std::uint8_t protocol = 0;
  IpfixEndReason endReason = IpfixEndReason::kIdleTimeout;
  std::uint64_t octets = 0;  // since the connection's previous record
  std::uint64_t packets = 0;
  std::int64_t startMs = 0;  // since the epoch
  std::int64_t endMs = 0;
  std::int32_t pid = 0;        // 0: no owner known, the record has no owner elements
  char program[16] = {};       // a program's name is at most 15 bytes
};

// One message, ready to send, and the number of data records in it.
struct IpfixMessage {
  std::vector<std::uint8_t> bytes;
  std::uint32_t records = 0;
};

// Lays flow records out as IPFIX messages (RFC 7011) of one observation
// domain, none longer than a limit. Each message's sequence number counts
// the data records of all the messages before it; the templates go at the
// head of the first message and of the first one after SendTemplatesNext.
class IpfixMessageBuilder {
 public:
  // The smallest limit: the templates and the longest record fit in one
  // message.
  static constexpr std::size_t kSmallestMessage = 400;
  static constexpr std::size_t kLargestMessage = 65535;

  // `maxMessageBytes` is held within [kSmallestMessage, kLargestMessage].
  IpfixMessageBuilder(std::uint32_t observationDomain, std::size_t maxMessageBytes);

  void SendTemplatesNext() { m_templatesDue = true; }
  // Appends the record, finishing the open message first when it would not
  // fit. `exportSeconds` stamps a message started for it.
  void Add(const IpfixFlow& flow, std::uint32_t exportSeconds);
  // Finishes the open message, if it holds anything.
  void Finish();
  // The messages finished so far, oldest first, handed over.
  std::vector<IpfixMessage> TakeMessages();

  std::uint64_t RecordsAdded() const { return m_records; }

 private:
  void StartMessage(std::uint32_t exportSeconds);
  void CloseSet();

  std::uint32_t m_observationDomain;
  std::size_t m_maxMessageBytes;
  bool m_templatesDue = true;
  std::uint64_t m_records = 0;
  IpfixMessage m_message;  // no bytes: none open
  std::size_t m_setStart = 0;
  std::uint16_t m_setTemplate = 0;  // 0: no data set open
  std::vector<IpfixMessage> m_finished;
};
