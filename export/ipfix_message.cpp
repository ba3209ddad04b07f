#include "export/ipfix_message.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

constexpr std::uint16_t kVersion = 10;
constexpr std::size_t kMessageHeaderBytes = 16;
constexpr std::size_t kSetHeaderBytes = 4;
constexpr std::uint16_t kTemplateSetId = 2;
constexpr std::uint16_t kVariableLength = 0xFFFF;
constexpr std::uint16_t kEnterpriseBit = 0x8000;

struct Field {
  std::uint16_t element;
  std::uint16_t length;
  bool enterprise = false;
};

// The information elements of IANA's registry that every record carries
// after its two addresses: ports, protocol, octet and packet deltas,
// start and end in milliseconds, end reason.
constexpr Field kCommonFields[] = {{7, 2}, {11, 2}, {4, 1}, {1, 8}, {2, 8}, {152, 8}, {153, 8}, {136, 1}};
constexpr Field kIpv4Addresses[] = {{8, 4}, {12, 4}};
constexpr Field kIpv6Addresses[] = {{27, 16}, {28, 16}};
constexpr Field kOwnerFields[] = {{kIpfixProcessIdElement, 4, true}, {kIpfixProgramNameElement, kVariableLength, true}};

void Put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  Put16(out, static_cast<std::uint16_t>(value >> 16));
  Put16(out, static_cast<std::uint16_t>(value));
}

void Put64(std::vector<std::uint8_t>& out, std::uint64_t value) {
  Put32(out, static_cast<std::uint32_t>(value >> 32));
  Put32(out, static_cast<std::uint32_t>(value));
}

void Patch16(std::vector<std::uint8_t>& out, std::size_t at, std::size_t value) {
  out[at] = static_cast<std::uint8_t>(value >> 8);
  out[at + 1] = static_cast<std::uint8_t>(value);
}

void PutFields(std::vector<std::uint8_t>& out, const Field* begin, const Field* end) {
  for (const Field* field = begin; field != end; ++field) {
    Put16(out, field->enterprise ? field->element | kEnterpriseBit : field->element);
    Put16(out, field->length);
    if (field->enterprise) Put32(out, kIpfixEnterpriseNumber);
  }
}

void PutTemplate(std::vector<std::uint8_t>& out, std::uint16_t id, bool ipv6, bool owner) {
  const std::size_t count = std::size(kIpv4Addresses) + std::size(kCommonFields) + (owner ? std::size(kOwnerFields) : 0);
  Put16(out, id);
  Put16(out, static_cast<std::uint16_t>(count));
  const Field* addresses = ipv6 ? kIpv6Addresses : kIpv4Addresses;
  PutFields(out, addresses, addresses + 2);
  PutFields(out, std::begin(kCommonFields), std::end(kCommonFields));
  if (owner) PutFields(out, std::begin(kOwnerFields), std::end(kOwnerFields));
}

// The template set: all four templates, a little over 200 bytes.
void PutTemplateSet(std::vector<std::uint8_t>& out) {
  const std::size_t start = out.size();
  Put16(out, kTemplateSetId);
  Put16(out, 0);
  PutTemplate(out, kIpfixIpv4Template, false, false);
  PutTemplate(out, kIpfixIpv6Template, true, false);
  PutTemplate(out, kIpfixIpv4OwnerTemplate, false, true);
  PutTemplate(out, kIpfixIpv6OwnerTemplate, true, true);
  Patch16(out, start + 2, out.size() - start);
}

std::uint16_t TemplateOf(const IpfixFlow& flow) {
  if (flow.source.ipv6) return flow.pid != 0 ? kIpfixIpv6OwnerTemplate : kIpfixIpv6Template;
  return flow.pid != 0 ? kIpfixIpv4OwnerTemplate : kIpfixIpv4Template;
}

std::size_t ProgramLength(const IpfixFlow& flow) { return strnlen(flow.program, sizeof flow.program - 1); }

std::size_t RecordBytes(const IpfixFlow& flow) {
  const std::size_t addresses = flow.source.ipv6 ? 32 : 8;
  const std::size_t owner = flow.pid != 0 ? 4 + 1 + ProgramLength(flow) : 0;
  return addresses + 2 + 2 + 1 + 8 + 8 + 8 + 8 + 1 + owner;
}

void PutRecord(std::vector<std::uint8_t>& out, const IpfixFlow& flow) {
  const std::size_t addressBytes = flow.source.ipv6 ? 16 : 4;
  out.insert(out.end(), flow.source.bytes.begin(), flow.source.bytes.begin() + addressBytes);
  out.insert(out.end(), flow.destination.bytes.begin(), flow.destination.bytes.begin() + addressBytes);
  // The ports are in network byte order already.
  const auto* ports = reinterpret_cast<const std::uint8_t*>(&flow.sourcePort);
  out.insert(out.end(), ports, ports + 2);
  ports = reinterpret_cast<const std::uint8_t*>(&flow.destinationPort);
  out.insert(out.end(), ports, ports + 2);
  out.push_back(flow.protocol);
  Put64(out, flow.octets);
  Put64(out, flow.packets);
  Put64(out, static_cast<std::uint64_t>(flow.startMs));
  Put64(out, static_cast<std::uint64_t>(flow.endMs));
  out.push_back(static_cast<std::uint8_t>(flow.endReason));
  if (flow.pid == 0) return;
  Put32(out, static_cast<std::uint32_t>(flow.pid));
  // A name shorter than 255 bytes takes one length byte.
  const std::size_t length = ProgramLength(flow);
  out.push_back(static_cast<std::uint8_t>(length));
  out.insert(out.end(), flow.program, flow.program + length);
}

}  // namespace

IpfixMessageBuilder::IpfixMessageBuilder(std::uint32_t observationDomain, std::size_t maxMessageBytes)
    : m_observationDomain(observationDomain),
      m_maxMessageBytes(std::clamp(maxMessageBytes, kSmallestMessage, kLargestMessage)) {}

void IpfixMessageBuilder::StartMessage(std::uint32_t exportSeconds) {
  std::vector<std::uint8_t>& out = m_message.bytes;
  out.reserve(m_maxMessageBytes);
  Put16(out, kVersion);
  Put16(out, 0);
  Put32(out, exportSeconds);
  // Modulo 2^32, as the field wraps.
  Put32(out, static_cast<std::uint32_t>(m_records));
  Put32(out, m_observationDomain);
  if (m_templatesDue) {
    PutTemplateSet(out);
    m_templatesDue = false;
  }
}

void IpfixMessageBuilder::CloseSet() {
  if (m_setTemplate == 0) return;
  Patch16(m_message.bytes, m_setStart + 2, m_message.bytes.size() - m_setStart);
  m_setTemplate = 0;
}

void IpfixMessageBuilder::Add(const IpfixFlow& flow, std::uint32_t exportSeconds) {
  const std::uint16_t id = TemplateOf(flow);
  const std::size_t needed = RecordBytes(flow) + (id == m_setTemplate ? 0 : kSetHeaderBytes);
  if (!m_message.bytes.empty() && m_message.bytes.size() + needed > m_maxMessageBytes) Finish();
  if (m_message.bytes.empty()) StartMessage(exportSeconds);
  if (id != m_setTemplate) {
    CloseSet();
    m_setStart = m_message.bytes.size();
    m_setTemplate = id;
    Put16(m_message.bytes, id);
    Put16(m_message.bytes, 0);
  }
  PutRecord(m_message.bytes, flow);
  ++m_message.records;
  ++m_records;
}

void IpfixMessageBuilder::Finish() {
  if (m_message.bytes.empty()) return;
  CloseSet();
  Patch16(m_message.bytes, 2, m_message.bytes.size());
  m_finished.push_back(std::move(m_message));
  m_message = IpfixMessage();
}

std::vector<IpfixMessage> IpfixMessageBuilder::TakeMessages() {
  std::vector<IpfixMessage> messages;
  messages.swap(m_finished);
  return messages;
}
