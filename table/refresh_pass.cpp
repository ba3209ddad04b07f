#include "table/refresh_pass.h"

#include <arpa/inet.h>

#include <cstring>
#include <mutex>

#include "config/settings.h"
#include "platform/tick_count.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"
#include "table/connection_owner.h"
#include "table/traffic_display.h"
#include "table/traffic_list.h"
#include "text/decimal_text.h"
#include "text/format_amount.h"
#include "text/protocol_names.h"

namespace {

enum Column {
  kSourceAddress = 0,
  kSourcePort = 1,
  kDestinationAddress = 2,
  kDestinationPort = 3,
  kProtocol = 4,
  kTraffic = 5,
  kPackets = 6,
  kSpeed = 7,
  kAverageSpeed = 8,
};

}  // namespace

struct CRefreshPass::PassState {
  PartialPassPlan::PassTicks ticks{};
  bool full = false;
  std::uint32_t previousFullPass = 0;
  bool paused = false;
  bool stopped = false;
  bool namesArrived = false;
  bool ownersArrived = false;
  // Partial passes that visit only some entries expire none: the plan
  // takes them only when none can be idle past the limit.
  bool mayExpire = true;
  std::uint32_t idleLimit = 0;
  int units = 0;
  int deletedRows = 0;
  std::uint32_t keptEntries = 0;
  TrafficDisplay* display = nullptr;
};

CRefreshPass::CRefreshPass(CTrafficList& table, CSettings& settings, CNSCashe& hostNames,
                           CServicesParser& services, const PassSchedule& schedule)
    : m_table(table), m_settings(settings), m_hostNames(hostNames), m_services(services),
      m_schedule(schedule) {}

void CRefreshPass::RefreshPass(bool full) {
  std::lock_guard lock(m_table.TableLock());
  PassState pass;
  pass.ticks.now = platform::TickCount();
  pass.ticks.trafficSince = m_schedule.previousPassTick;
  pass.full = full;
  if (full) {
    pass.previousFullPass = m_lastFullPass;
    m_lastFullPass = pass.ticks.now;
  }
  pass.paused = m_settings.paused != 0;
  pass.idleLimit = m_settings.idlemsec;
  pass.units = m_settings.units;
  pass.display = m_table.Display();
  // A paused pass shows nothing, so it leaves late names for the first pass
  // after the pause.
  if (!pass.paused) {
    pass.namesArrived = TakeLateNames();
    pass.ownersArrived = TakeLateOwners();
  }

  if (!full && !pass.paused && !m_walkWholeTable &&
      m_plan.Holds(pass.ticks, pass.idleLimit, m_table.Removals()))
    VisitDueEntries(pass);
  else
    VisitWholeTable(pass);
  if (!pass.stopped) ComputeRates(pass.ticks.now, full);
}

// One sweep: idle entries leave and the array closes its gaps once, so
// expiring many connections costs one walk, not one move of the tail each.
void CRefreshPass::VisitWholeTable(PassState& pass) {
  PositionSet& touched = m_table.Touched();
  touched.Clear();
  m_plan.StartOver();
  m_table.RemoveEntriesIf([&](TrafficEntry& entry) {
    if (VisitEntry(entry, pass)) return true;
    m_plan.Note(entry, pass.keptEntries++, pass.ticks, touched);
    m_plan.NoteIdleTime(pass.ticks.now - entry.lastSeen);
    return false;
  });
  if (!pass.stopped && !pass.paused) m_plan.Complete(pass.ticks, m_table.Removals());
}

// Visits, in table order, only the entries the plan names: the others would
// neither change nor change their rows. The entries lie scattered, so a
// ring holds the positions taken but not visited yet: the table's pointer
// to an entry is fetched from memory when its position is taken, the entry
// itself when its visit is half the ring away, and the visit comes when
// the ring is full.
void CRefreshPass::VisitDueEntries(PassState& pass) {
  pass.mayExpire = false;
  PositionSet& touched = m_table.Touched();
  m_plan.AddDueEntries(pass.ticks, pass.namesArrived || pass.ownersArrived, touched);
  constexpr std::size_t kRing = 32;
  constexpr std::size_t kEntryAhead = kRing / 2;
  std::uint32_t ring[kRing];
  std::size_t taken = 0, visited = 0;
  const auto visitOldest = [&] {
    if (taken - visited > kEntryAhead) __builtin_prefetch(&m_table.Entry(ring[(visited + kEntryAhead) % kRing]), 1);
    const std::uint32_t position = ring[visited++ % kRing];
    TrafficEntry& entry = m_table.Entry(position);
    VisitEntry(entry, pass);
    if (pass.stopped) return false;
    m_plan.Note(entry, position, pass.ticks, touched);
    return true;
  };
  touched.TakeEach([&](std::uint32_t position) {
    m_table.PrefetchPosition(position);
    ring[taken++ % kRing] = position;
    return taken - visited < kRing || visitOldest();
  });
  while (visited < taken && !pass.stopped) visitOldest();
  if (pass.stopped)
    m_plan.Abandon();
  else
    m_plan.CompletePartial(pass.ticks);
}

// Every entry that stays moves its row up by the rows deleted before it in
// this pass, also after a stop, so that the rows still match their entries
// for whatever comes next (a hide command, Clear, the next capture).
bool CRefreshPass::VisitEntry(TrafficEntry& entry, PassState& pass) {
  if (pass.deletedRows != 0 && entry.row >= 0) entry.row -= pass.deletedRows;
  if (pass.stopped || m_schedule.running == 0) {
    pass.stopped = true;
    return false;
  }
  if (pass.paused) {
    HoldIdleClock(entry, pass);
    // A speed is the bytes of one second: the base moves on while the row
    // is frozen, so that the first speed after the pause is not the whole
    // pause's bytes.
    if (pass.full) entry.bytesAtLastFullPass = entry.bytes;
    return false;
  }
  if (pass.mayExpire && pass.ticks.now - entry.lastSeen > pass.idleLimit) {
    m_table.ReportClosed(entry, CloseReason::kIdle, pass.ticks.now);
    if (entry.row >= 0) {
      if (pass.display != nullptr) pass.display->DeleteRow(entry.row);
      ++pass.deletedRows;
    }
    return true;
  }
  if (pass.full) m_table.ReportIfActiveDue(entry, pass.ticks.now, pass.previousFullPass);
  if (pass.display == nullptr) return false;
  if (entry.row < 0) {
    InsertRow(entry);
    return false;
  }
  if (pass.namesArrived) PutLateNames(entry);
  if (pass.ownersArrived && entry.awaitingOwner) PutLateOwner(entry, pass.ticks.now);
  UpdateRow(entry, pass);
  return false;
}

// Paused time never counts as idle time: every paused pass moves last seen
// forward by the time since the previous pass, but never past now, as an
// entry with a packet since that pass was idle only while paused.
void CRefreshPass::HoldIdleClock(TrafficEntry& entry, const PassState& pass) {
  const std::uint32_t now = pass.ticks.now;
  const std::uint32_t sincePreviousPass = now - pass.ticks.trafficSince;
  if (now - entry.lastSeen <= sincePreviousPass)
    entry.lastSeen = now;
  else
    entry.lastSeen += sincePreviousPass;
}

bool CRefreshPass::TakeLateNames() {
  const std::uint64_t generation = m_hostNames.NamesGeneration();
  if (generation == m_namesGenerationSeen) return false;
  m_namesGenerationSeen = generation;
  m_hostNames.TakeNewlyNamed();  // the rows that wait for names find them in this pass
  return true;
}

bool CRefreshPass::TakeLateOwners() {
  if (m_owners == nullptr) return false;
  const std::uint64_t generation = m_owners->Generation();
  if (generation == m_ownersGenerationSeen) return false;
  m_ownersGenerationSeen = generation;
  return true;
}

// A row shows its owner from the first moment it is known, and never a
// guess: until then the two columns stay empty. A row still waiting asks
// the owners to be looked at again, and is looked up again whenever they
// were, until its patience runs out.
void CRefreshPass::ShowOwner(TrafficEntry& entry, const ConnectionEndpoints& endpoints, std::uint32_t now) {
  ConnectionOwner owner;
  entry.awaitingOwner = false;
  if (m_owners->Find(endpoints, owner)) {
    m_table.Display()->SetRowOwner(entry.row, owner);
    m_table.NoteOwner(entry, owner);
    return;
  }
  entry.awaitingOwner = now - entry.firstSeen < kOwnerPatienceMs;
  if (entry.awaitingOwner) m_owners->WantOwners();
}

void CRefreshPass::PutLateOwner(TrafficEntry& entry, std::uint32_t now) {
  if (now - entry.firstSeen >= kOwnerPatienceMs)
    entry.awaitingOwner = false;
  else
    ShowOwner(entry, m_table.EndpointsOf(entry.key), now);
}

void CRefreshPass::InsertRow(TrafficEntry& entry) {
  TrafficDisplay& display = *m_table.Display();
  const ConnectionKey& key = entry.key;
  const ConnectionEndpoints endpoints = m_table.EndpointsOf(key);
  const int units = m_settings.units;
  const int previousCount = display.ItemCount();
  entry.row = display.InsertRow(previousCount, AddressCell(endpoints.source, entry.awaitingSourceName), entry,
                                endpoints);
  if (entry.row != -1) {
    display.SetCellText(entry.row, kDestinationAddress,
                        AddressCell(endpoints.destination, entry.awaitingDestinationName));
    display.SetCellText(entry.row, kProtocol, ProtocolNames[key.protocol]);
    display.SetCellText(entry.row, kTraffic, FormatAmount(entry.bytes, 0, 0, units));
    display.SetCellText(entry.row, kSourcePort, PortText(key.sourcePort, key.protocol));
    display.SetCellText(entry.row, kDestinationPort, PortText(key.destinationPort, key.protocol));
    if (m_owners != nullptr) ShowOwner(entry, endpoints, platform::TickCount());
  }
  if (previousCount == 0) display.RedrawAll();
}

void CRefreshPass::UpdateRow(TrafficEntry& entry, const PassState& pass) {
  TrafficDisplay& display = *pass.display;
  if (entry.lastSeen >= pass.ticks.trafficSince) {
    display.SetCellText(entry.row, kTraffic, FormatAmount(entry.bytes, 0, 0, pass.units));
    *AppendDecimal(m_decimal, entry.packets) = '\0';
    display.SetCellText(entry.row, kPackets, m_decimal);
  }
  if (!pass.full) return;
  display.SetCellText(entry.row, kSpeed, FormatAmount(entry.bytes - entry.bytesAtLastFullPass, 0, 1, pass.units));
  entry.bytesAtLastFullPass = entry.bytes;
  if (entry.lastSeen > entry.firstSeen) {
    const std::uint64_t seconds = (entry.lastSeen - entry.firstSeen) / 1000;
    if (seconds != 0)
      display.SetCellText(entry.row, kAverageSpeed, FormatAmount(entry.bytes / seconds, 0, 1, pass.units));
  }
}

// An address's host name when it is known, else its number, asking for the
// name when names are looked up; `awaiting` says whether the name may still
// come. The text lasts until the next call.
const char* CRefreshPass::AddressCell(const IpAddress& address, bool& awaiting) {
  const char* text = m_hostNames.Lookup(address);
  awaiting = m_hostNames.IsResolving() && m_hostNames.Find(address) == nullptr;
  return text;
}

// A row shows the name of an address that was still being looked up when
// the row went in, once, as soon as the answer is there. A failed lookup
// leaves the number the row already shows.
void CRefreshPass::PutLateNames(TrafficEntry& entry) {
  if (!entry.awaitingSourceName && !entry.awaitingDestinationName) return;
  // An IPv6 key holds only its addresses' numbers in the table's book.
  const ConnectionEndpoints endpoints = m_table.EndpointsOf(entry.key);
  struct Side {
    bool& awaiting;
    const IpAddress& address;
    int column;
  };
  for (Side side : {Side{entry.awaitingSourceName, endpoints.source, kSourceAddress},
                    Side{entry.awaitingDestinationName, endpoints.destination, kDestinationAddress}}) {
    if (!side.awaiting) continue;
    const char* answer = m_hostNames.Find(side.address);
    if (answer == nullptr) continue;
    side.awaiting = false;
    char number[IpAddress::kTextSize];
    if (std::strcmp(answer, FormatIpAddress(side.address, number)) != 0)
      m_table.Display()->SetCellText(entry.row, side.column, answer);
  }
}

void CRefreshPass::ComputeRates(std::uint32_t now, bool full) {
  CaptureTotals& totals = m_table.Totals();
  const std::uint64_t seconds = now > totals.startTick ? (now - totals.startTick) / 1000 : 0;
  totals.averageRate = seconds != 0 ? totals.totalBytes / seconds : 0;
  if (!full) return;
  totals.currentRate = totals.totalBytes - totals.totalAtLastFullPass;
  totals.totalAtLastFullPass = totals.totalBytes;
}

const char* CRefreshPass::PortText(std::uint16_t portNetworkOrder, std::uint8_t protocol) {
  const std::uint16_t port = ntohs(portNetworkOrder);
  if (const char* name = m_services.Lookup(port, protocol)) return name;
  *AppendDecimal(m_decimal, port) = '\0';
  return m_decimal;
}
