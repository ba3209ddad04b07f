#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "export/ipfix_exporter.h"
#include "export/ipfix_transport.h"

class CTrafficList;
class ClosedConnectionSinks;

// The headless program's options of the flow export.
struct IpfixOptions {
  const char* collector = nullptr;  // --ipfix HOST:PORT; null: no export
  IpfixProtocol protocol = IpfixProtocol::kUdp;
  std::uint32_t activeTimeoutSeconds = 60;
  std::optional<std::uint32_t> mtu;
  std::uint32_t observationDomain = 1;
  // Whether any option of the export was given, --ipfix or not.
  bool given = false;
};

// Their lines of the usage and of --help.
extern const char kIpfixUsage[];
extern const char kIpfixHelp[];

enum class OptionTaken { kNotMine, kTaken, kBad };
// Takes argv[i] (and its value, moving `i` past it) when it is an option
// of the export.
OptionTaken TakeIpfixOption(int argc, char** argv, int& i, IpfixOptions& options);

// One run's export: the exporter, heard by the table from Start to Finish.
class IpfixRun {
 public:
  // Finds the collector and adds the exporter to `closed` (which the
  // caller gives the table) and to the table's reports of long
  // connections. False, and `error` says why, when the collector cannot
  // be found.
  bool Start(const IpfixOptions& options, CTrafficList& table, ClosedConnectionSinks& closed, std::string& error);
  // Once the capture stopped and the table's connections were reported as
  // ending (CloseReason::kEnd): the table no longer reports to the
  // exporter, which sends what it still holds.
  void Finish(CTrafficList& table);
  bool Running() const { return m_exporter != nullptr; }
  // " ipfix_records=N ipfix_messages=N ipfix_lost=N" for the summary line;
  // empty without an export.
  std::string Summary() const;
  // Why records were lost, for a line of its own; empty when none were.
  std::string LossText() const;

 private:
  std::unique_ptr<IpfixExporter> m_exporter;
};
