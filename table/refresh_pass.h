#pragma once

#include <cstdint>

#include "packet/ip_address.h"
#include "table/partial_pass_plan.h"
#include "table/pass_schedule.h"

class CNSCashe;
class CServicesParser;
class CSettings;
class CTrafficList;
class OwnerLookup;
struct ConnectionEndpoints;
struct TrafficEntry;

// Keeps the traffic list in step with the connection table: shows new
// connections as rows, rewrites the counts of rows that saw traffic,
// computes speeds once a second, expires idle connections and computes the
// capture-wide rates. Runs on the capture thread only, with the table lock
// held for the whole pass.
//
// Columns: 0 source address, 1 source port, 2 destination address,
// 3 destination port, 4 protocol, 5 traffic, 6 packets, 7 speed, 8 average
// speed, 9 program, 10 user.
class CRefreshPass {
 public:
  CRefreshPass(CTrafficList& table, CSettings& settings, CNSCashe& hostNames,
               CServicesParser& services, const PassSchedule& schedule);

  // A full pass (on the one-second grid) also computes the speeds and the
  // current rate; a partial one does everything else.
  void RefreshPass(bool full);

  // Makes every pass walk the whole table, as partial passes did before
  // they learnt to visit only the entries they can change: the reference
  // that the shorter way must match.
  void WalkWholeTable(bool always) { m_walkWholeTable = always; }

  // Where new rows find their connections' owners; null: the two columns
  // stay empty. Set only while no capture runs.
  void SetOwners(OwnerLookup* owners) { m_owners = owners; }

  // How long after its first packet a connection's row still waits for an
  // owner: one whose local socket was not found by then belongs to no
  // program of this machine as a rule (traffic between other hosts).
  static constexpr std::uint32_t kOwnerPatienceMs = 5000;

 private:
  struct PassState;

  void VisitWholeTable(PassState& pass);
  void VisitDueEntries(PassState& pass);
  // Answers whether the entry leaves the table.
  bool VisitEntry(TrafficEntry& entry, PassState& pass);
  void HoldIdleClock(TrafficEntry& entry, const PassState& pass);
  // Whether host names arrived since the last pass that took them.
  bool TakeLateNames();
  bool TakeLateOwners();
  void InsertRow(TrafficEntry& entry);
  const char* AddressCell(const IpAddress& address, bool& awaiting);
  void UpdateRow(TrafficEntry& entry, const PassState& pass);
  void PutLateNames(TrafficEntry& entry);
  void ShowOwner(TrafficEntry& entry, const ConnectionEndpoints& endpoints, std::uint32_t now);
  void PutLateOwner(TrafficEntry& entry, std::uint32_t now);
  void ComputeRates(std::uint32_t now, bool full);
  const char* PortText(std::uint16_t portNetworkOrder, std::uint8_t protocol);

  CTrafficList& m_table;
  CSettings& m_settings;
  CNSCashe& m_hostNames;
  CServicesParser& m_services;
  const PassSchedule& m_schedule;
  PartialPassPlan m_plan;
  bool m_walkWholeTable = false;
  std::uint64_t m_namesGenerationSeen = 0;
  OwnerLookup* m_owners = nullptr;
  std::uint64_t m_ownersGenerationSeen = 0;
  std::uint32_t m_lastFullPass = 0;  // tick, for the reports of long connections
  char m_decimal[24] = {};  // the longest 64-bit count and its end
};
