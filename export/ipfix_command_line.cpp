#include "export/ipfix_command_line.h"

#include <cstring>
#include <limits>

#include "table/traffic_list.h"
#include "text/whole_number.h"

const char kIpfixUsage[] =
    "       either of them with [--ipfix HOST:PORT [--transport udp|tcp] [--active-timeout SECONDS]\n"
    "                            [--mtu BYTES] [--observation-domain ID]]\n";

const char kIpfixHelp[] =
    "  --ipfix HOST:PORT    send a flow record in IPFIX to the collector at HOST:PORT ([ADDRESS]:PORT\n"
    "                       for IPv6) for each connection that leaves the table, every active\n"
    "                       timeout for the long ones, and for all that are left at the end\n"
    "  --transport udp|tcp  with --ipfix: how (default: udp)\n"
    "  --active-timeout SECONDS\n"
    "                       with --ipfix: a long connection's record every SECONDS (default: 60)\n"
    "  --mtu BYTES          with --ipfix over udp: the path's MTU; a message fills one datagram\n"
    "                       (default: messages of 1400 bytes)\n"
    "  --observation-domain ID\n"
    "                       with --ipfix: the observation domain of the records (default: 1)\n";

namespace {

constexpr std::uint32_t kSmallestMtu = 576;  // every IPv4 path carries this much
constexpr std::uint32_t kLargestMtu = 65535;

}  // namespace

OptionTaken TakeIpfixOption(int argc, char** argv, int& i, IpfixOptions& options) {
  const char* option = argv[i];
  const bool known = std::strcmp(option, "--ipfix") == 0 || std::strcmp(option, "--transport") == 0 ||
                     std::strcmp(option, "--active-timeout") == 0 || std::strcmp(option, "--mtu") == 0 ||
                     std::strcmp(option, "--observation-domain") == 0;
  if (!known) return OptionTaken::kNotMine;
  if (i + 1 >= argc) return OptionTaken::kBad;
  const char* value = argv[++i];
  options.given = true;
  if (std::strcmp(option, "--ipfix") == 0) {
    if (options.collector != nullptr) return OptionTaken::kBad;
    options.collector = value;
  } else if (std::strcmp(option, "--transport") == 0) {
    const std::optional<IpfixProtocol> protocol = IpfixProtocolNamed(value);
    if (!protocol) return OptionTaken::kBad;
    options.protocol = *protocol;
  } else if (std::strcmp(option, "--active-timeout") == 0) {
    const auto seconds = ParseWholeNumber(value, 1, std::numeric_limits<std::uint32_t>::max() / 1000);
    if (!seconds) return OptionTaken::kBad;
    options.activeTimeoutSeconds = *seconds;
  } else if (std::strcmp(option, "--mtu") == 0) {
    options.mtu = ParseWholeNumber(value, kSmallestMtu, kLargestMtu);
    if (!options.mtu) return OptionTaken::kBad;
  } else {
    const auto domain = ParseWholeNumber(value, 0, std::numeric_limits<std::uint32_t>::max());
    if (!domain) return OptionTaken::kBad;
    options.observationDomain = *domain;
  }
  return OptionTaken::kTaken;
}

bool IpfixRun::Start(const IpfixOptions& options, CTrafficList& table, ClosedConnectionSinks& closed,
                     std::string& error) {
  const std::optional<IpfixCollector> collector = ResolveIpfixCollector(options.collector, options.protocol, error);
  if (!collector) return false;
  IpfixExportSettings settings;
  settings.observationDomain = options.observationDomain;
  if (options.protocol == IpfixProtocol::kTcp)
    settings.maxMessageBytes = IpfixMessageBuilder::kLargestMessage;
  else if (options.mtu)
    settings.maxMessageBytes = LargestDatagramMessage(*collector, *options.mtu);
  m_exporter = std::make_unique<IpfixExporter>(*collector, settings);
  closed.Add(m_exporter.get());
  table.SetActiveSink(m_exporter.get(), options.activeTimeoutSeconds * 1000);
  return true;
}

void IpfixRun::Finish(CTrafficList& table) {
  if (!m_exporter) return;
  table.SetActiveSink(nullptr, 0);
  table.SetClosedSink(nullptr);
  m_exporter->Finish();
}

std::string IpfixRun::Summary() const {
  if (!m_exporter) return {};
  const IpfixExporter::Counts counts = m_exporter->Totals();
  return " ipfix_records=" + std::to_string(counts.records) + " ipfix_messages=" + std::to_string(counts.messages) +
         " ipfix_lost=" + std::to_string(counts.lostRecords);
}

std::string IpfixRun::LossText() const {
  if (!m_exporter) return {};
  const IpfixExporter::Counts counts = m_exporter->Totals();
  if (counts.lostRecords == 0) return {};
  const std::string error = m_exporter->LastError();
  return std::to_string(counts.lostRecords) + " flow records were not sent" + (error.empty() ? "" : ": " + error);
}
