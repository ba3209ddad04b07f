// quorvel-replay --ipfix against a real collector: nfcapd on loopback
// stores what it receives, nfdump reads it back, and every flow must be
// the one the replay's own CSV shows for the same file.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/nfcapd_collector.h"
#include "support/ip6_packet.h"
#include "support/ip_packet.h"
#include "support/link_frames.h"
#include "support/pcap_writer.h"
#include "support/program_run.h"
#include "support/test_folder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Source, source port, destination, destination port, protocol, bytes,
// packets: the columns both sides have.
using Flow = std::vector<std::string>;

std::vector<std::string> SplitCsvLine(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
  return fields;
}

bool Icmp(const std::string& protocol) { return protocol == "1" || protocol == "58"; }

// An ICMP record carries the type and code as its destination port and no
// source port (the replay's CSV has them as the source port, then the
// checksum). nfdump 1.7 prints that word low byte first: either order
// counts as the same.
std::string IcmpWord(unsigned word) {
  const unsigned swapped = (word & 0xFF) << 8 | word >> 8;
  return std::to_string(std::min(word, swapped));
}

std::vector<Flow> ReplayFlows(const std::string& csv) {
  std::vector<Flow> flows;
  std::stringstream in(csv);
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) {
    const std::vector<std::string> fields = SplitCsvLine(line);
    if (fields.size() < 7) continue;
    Flow flow(fields.begin(), fields.begin() + 7);
    if (Icmp(flow[4])) flow[3] = IcmpWord(std::stoul(flow[1])), flow[1] = "0";
    flows.push_back(flow);
  }
  std::sort(flows.begin(), flows.end());
  return flows;
}

// nfdump names the protocols it knows.
std::string ProtocolNumber(const std::string& name) {
  static const std::map<std::string, std::string> kNumbers = {
      {"ICMP", "1"}, {"TCP", "6"}, {"UDP", "17"}, {"GRE", "47"}, {"ICMP6", "58"}};
  const auto found = kNumbers.find(name);
  return found != kNumbers.end() ? found->second : name;
}

std::vector<Flow> CollectedFlows(const std::string& csv) {
  std::stringstream in(csv);
  std::string line;
  std::map<std::string, std::size_t> column;
  std::vector<Flow> flows;
  while (std::getline(in, line)) {
    const std::vector<std::string> fields = SplitCsvLine(line);
    if (column.empty()) {
      for (std::size_t i = 0; i < fields.size(); ++i) column[fields[i]] = i;
      continue;
    }
    if (fields.size() != column.size()) break;  // the summary after the flows
    const auto at = [&](const char* name) { return fields[column.at(name)]; };
    Flow flow = {at("sa"), at("sp"), at("da"), at("dp"), ProtocolNumber(at("pr")), at("ibyt"), at("ipkt")};
    if (Icmp(flow[4])) flow[3] = IcmpWord(std::stoul(flow[3]));
    flows.push_back(flow);
  }
  std::sort(flows.begin(), flows.end());
  return flows;
}

Bytes Ethernet(const Bytes& packet) { return LinkFrame(DLT_EN10MB, packet, packet[0] >> 4 == 6 ? 0x86DD : 0x0800); }

Bytes V4(std::uint32_t source, std::uint8_t protocol, std::uint16_t sourcePort, std::uint16_t destinationPort,
         std::uint16_t length) {
  IpPacket packet;
  packet.source = source;
  packet.protocol = protocol;
  packet.sourcePort = sourcePort;
  packet.destinationPort = destinationPort;
  packet.totalLength = length;
  return Ethernet(packet.Bytes());
}

Bytes V6(const std::string& source, std::uint8_t protocol, std::uint16_t sourcePort, std::uint16_t destinationPort,
         std::size_t payload) {
  Ip6Packet packet;
  packet.source = source;
  packet.protocol = protocol;
  packet.sourcePort = sourcePort;
  packet.destinationPort = destinationPort;
  packet.payloadLength = payload;
  return Ethernet(packet.Bytes());
}

class IpfixCollectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = NfcapdCollector::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  }

  // Both families' protocols, then enough connections of both to fill many
  // messages, with packets of each interleaved.
  std::string WriteCapture() {
    const std::string path = (m_folder.Path() / "flows.pcap").string();
    PcapWriter writer(path, DLT_EN10MB);
    const std::vector<Bytes> protocols = {
        V4(0x0A000001, 6, 40000, 443, 1400), V4(0x0A000001, 17, 5353, 53, 90), V4(0x0A000001, 1, 0x0800, 0x1234, 84),
        V4(0x0A000001, 47, 0, 0, 600),       V6("fd00::1", 6, 40001, 443, 1200), V6("fd00::1", 17, 5353, 53, 70),
        V6("2001:db8:ffff::9", 58, 0x8000, 0x4321, 64)};
    for (int round = 0; round < 3; ++round)
      for (const Bytes& packet : protocols) writer.Write(packet);
    for (std::uint16_t i = 0; i < 1500; ++i) {
      for (int packet = 0; packet <= i % 3; ++packet) {
        writer.Write(V4(0x0A010000 + i, 17, static_cast<std::uint16_t>(1024 + i), 9999, 100 + i % 700));
        writer.Write(V6("fd00::" + std::to_string(i % 9000 + 1000), 6, static_cast<std::uint16_t>(2048 + i), 80,
                        200 + i % 900));
      }
    }
    return path;
  }

  TestFolder m_folder;
};

TEST_F(IpfixCollectorTest, TheCollectorStoresEveryFlowOfTheReplayWithItsFigures) {
  const std::string capture = WriteCapture();
  for (const char* mtu : {"", "576"}) {
    SCOPED_TRACE(std::string("mtu ") + mtu);
    NfcapdCollector collector(m_folder.Path() / (std::string("collector") + mtu));
    std::vector<std::string> arguments = {"--ipfix", collector.Address(), "--observation-domain", "7", capture};
    if (*mtu != '\0') arguments.insert(arguments.begin(), {"--mtu", mtu});
    const ProgramRun replay = RunProgram(QUORVEL_REPLAY, arguments);
    ASSERT_EQ(replay.exitCode, 0) << replay.err;
    EXPECT_NE(replay.err.find(" ipfix_lost=0"), std::string::npos) << replay.err;
    const std::string log = collector.Stop();
    EXPECT_NE(log.find("Observation domain 7"), std::string::npos) << log;
    EXPECT_NE(log.find("Sequence Errors: 0,"), std::string::npos) << log;

    const std::vector<Flow> expected = ReplayFlows(replay.out);
    ASSERT_EQ(expected.size(), 7u + 3000u);
    const std::vector<Flow> collected = CollectedFlows(collector.FlowsCsv());
    std::vector<Flow> missing, extra;
    std::set_difference(expected.begin(), expected.end(), collected.begin(), collected.end(), std::back_inserter(missing));
    std::set_difference(collected.begin(), collected.end(), expected.begin(), expected.end(), std::back_inserter(extra));
    EXPECT_EQ(collected.size(), expected.size());
    EXPECT_TRUE(missing.empty()) << missing.size() << " missing, the first: " << ::testing::PrintToString(missing[0]);
    EXPECT_TRUE(extra.empty()) << extra.size() << " not in the file, the first: " << ::testing::PrintToString(extra[0]);
  }
}

}  // namespace
