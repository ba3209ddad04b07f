#include "ui/history_model.h"

#include <arpa/inet.h>

#include <QDateTime>
#include <algorithm>
#include <utility>

#include "config/settings.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"
#include "text/format_amount.h"
#include "text/protocol_names.h"
#include "ui/traffic_row.h"

namespace {

const char* const kHeaders[CHistoryModel::kColumnCount] = {
    QT_TRANSLATE_NOOP("CHistoryModel", "源地址"),   QT_TRANSLATE_NOOP("CHistoryModel", "源端口"),
    QT_TRANSLATE_NOOP("CHistoryModel", "目标地址"), QT_TRANSLATE_NOOP("CHistoryModel", "目标端口"),
    QT_TRANSLATE_NOOP("CHistoryModel", "协议"),     QT_TRANSLATE_NOOP("CHistoryModel", "流量"),
    QT_TRANSLATE_NOOP("CHistoryModel", "封包"),     QT_TRANSLATE_NOOP("CHistoryModel", "平均速度"),
    QT_TRANSLATE_NOOP("CHistoryModel", "进程"),     QT_TRANSLATE_NOOP("CHistoryModel", "用户"),
    QT_TRANSLATE_NOOP("CHistoryModel", "首次出现"), QT_TRANSLATE_NOOP("CHistoryModel", "最后出现"),
    QT_TRANSLATE_NOOP("CHistoryModel", "持续时间"), QT_TRANSLATE_NOOP("CHistoryModel", "原因")};

const char* const kReasons[] = {
    QT_TRANSLATE_NOOP("CHistoryModel", "空闲超时"), QT_TRANSLATE_NOOP("CHistoryModel", "已清空"),
    QT_TRANSLATE_NOOP("CHistoryModel", "已停止"),   QT_TRANSLATE_NOOP("CHistoryModel", "已隐藏"),
    QT_TRANSLATE_NOOP("CHistoryModel", "运行结束")};

constexpr std::uint64_t kMsPerSecond = 1000;

std::string AddressText(const IpAddress& address, const CNSCashe& names, bool resolve) {
  if (resolve)
    if (const char* name = names.Find(address)) return name;
  char number[IpAddress::kTextSize];
  return FormatIpAddress(address, number);
}

std::string PortText(std::uint16_t portNetworkOrder, std::uint8_t protocol, const CServicesParser& services) {
  const std::uint16_t port = ntohs(portNetworkOrder);
  if (const char* name = services.Lookup(port, protocol)) return name;
  return std::to_string(port);
}

std::string TimeText(std::int64_t epochMs) {
  return QDateTime::fromMSecsSinceEpoch(epochMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
}

// Hours, minutes and seconds with tenths: "0:00:02.5".
std::string DurationText(std::uint32_t ms) {
  const std::uint32_t tenths = ms / 100;
  return QStringLiteral("%1:%2:%3.%4")
      .arg(tenths / 36000)
      .arg(tenths / 600 % 60, 2, 10, QLatin1Char('0'))
      .arg(tenths / 10 % 60, 2, 10, QLatin1Char('0'))
      .arg(tenths % 10)
      .toStdString();
}

std::uint64_t AverageRate(const HistoryEntry& entry) {
  const std::uint64_t seconds = entry.durationMs / kMsPerSecond;
  return seconds != 0 ? entry.bytes / seconds : 0;
}

}  // namespace

CHistoryModel::CHistoryModel(CConnectionHistory& history, const CSettings& settings, const CNSCashe& names,
                             const CServicesParser& services, QObject* parent)
    : QAbstractTableModel(parent), m_history(history), m_settings(settings), m_names(names), m_services(services) {}

int CHistoryModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(Shown().size());
}

int CHistoryModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant CHistoryModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  if (role == Qt::TextAlignmentRole) {
    const int column = index.column();
    const bool left = column == kSource || column == kDestination || column == kProcess || column == kUser ||
                      column == kReason;
    return QVariant::fromValue((left ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
  }
  if (role != Qt::DisplayRole) return {};
  // A row the history let go a moment before the model took it out.
  const HistoryEntry* entry = EntryNumbered(Shown()[index.row()]);
  return entry != nullptr ? QString::fromStdString(CellOf(*entry, index.column())) : QString();
}

QVariant CHistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount || role != Qt::DisplayRole) return {};
  return tr(kHeaders[section]);
}

const HistoryEntry* CHistoryModel::EntryNumbered(std::uint64_t number) const {
  const std::uint64_t first = m_history.FirstNumber();
  if (number < first || number - first >= m_history.Size()) return nullptr;
  return &m_history.At(number - first);
}

const HistoryEntry& CHistoryModel::EntryAt(int row) const { return *EntryNumbered(Shown().at(row)); }

std::string CHistoryModel::CellText(int row, int column) const { return CellOf(EntryAt(row), column); }

std::vector<const HistoryEntry*> CHistoryModel::ShownEntries() const {
  std::vector<const HistoryEntry*> entries;
  entries.reserve(Shown().size());
  for (const std::uint64_t number : Shown())
    if (const HistoryEntry* entry = EntryNumbered(number)) entries.push_back(entry);
  return entries;
}

std::string CHistoryModel::CellOf(const HistoryEntry& entry, int column) const {
  const ConnectionEndpoints& e = entry.endpoints;
  const int units = m_settings.units;
  switch (column) {
    case kSource: return AddressText(e.source, m_names, m_settings.nsresolve != 0);
    case kSourcePort: return PortText(e.sourcePort, e.protocol, m_services);
    case kDestination: return AddressText(e.destination, m_names, m_settings.nsresolve != 0);
    case kDestinationPort: return PortText(e.destinationPort, e.protocol, m_services);
    case kProtocol: return ProtocolNames[e.protocol];
    case kTraffic: return FormatAmount(entry.bytes, 0, 0, units);
    case kPackets: return std::to_string(entry.packets);
    case kAverageSpeed: return entry.durationMs < kMsPerSecond ? std::string() : FormatAmount(AverageRate(entry), 0, 1, units);
    case kProcess: {
      char text[kProgramTextSize];
      return ProgramText(m_history.OwnerOf(entry), text);
    }
    case kUser: return UserText(m_history.OwnerOf(entry));
    case kFirstSeen: return TimeText(entry.FirstSeenMs());
    case kLastSeen: return TimeText(entry.lastSeenMs);
    case kDuration: return DurationText(entry.durationMs);
    case kReason: return tr(kReasons[static_cast<int>(entry.reason)]).toStdString();
    default: return {};
  }
}

void CHistoryModel::Refresh() {
  const CConnectionHistory::Change change = m_history.Collect();
  if (change.dropped != 0) DropGone(change.dropped);
  if (change.added != 0) AddArrived(change.added);
}

// Unsorted, the rows that went are the first ones shown; after a sort
// they are anywhere, and go in one reset.
void CHistoryModel::DropGone(std::size_t dropped) {
  m_searchTexts.erase(m_searchTexts.begin(),
                      m_searchTexts.begin() + static_cast<std::ptrdiff_t>(std::min(dropped, m_searchTexts.size())));
  const std::uint64_t first = m_history.FirstNumber();
  const auto gone = [first](std::uint64_t number) { return number < first; };
  if (m_sorted) {
    beginResetModel();
    std::erase_if(m_order, gone);
    std::erase_if(m_matching, gone);
    endResetModel();
    return;
  }
  const std::vector<std::uint64_t>& shown = Shown();
  const int count = static_cast<int>(std::find_if_not(shown.begin(), shown.end(), gone) - shown.begin());
  if (count > 0) beginRemoveRows({}, 0, count - 1);
  std::erase_if(m_order, gone);
  std::erase_if(m_matching, gone);
  if (count > 0) endRemoveRows();
}

void CHistoryModel::AddArrived(std::size_t added) {
  m_searchTexts.resize(m_history.Size());
  const std::uint64_t end = m_history.FirstNumber() + m_history.Size();
  std::vector<std::uint64_t> arrived;
  for (std::uint64_t number = end - added; number < end; ++number) arrived.push_back(number);
  if (!Searching()) {
    const int first = static_cast<int>(m_order.size());
    beginInsertRows({}, first, first + static_cast<int>(added) - 1);
    m_order.insert(m_order.end(), arrived.begin(), arrived.end());
    endInsertRows();
    return;
  }
  m_order.insert(m_order.end(), arrived.begin(), arrived.end());
  std::erase_if(arrived, [this](std::uint64_t number) { return !Matches(number); });
  if (arrived.empty()) return;
  const int first = static_cast<int>(m_matching.size());
  beginInsertRows({}, first, first + static_cast<int>(arrived.size()) - 1);
  m_matching.insert(m_matching.end(), arrived.begin(), arrived.end());
  endInsertRows();
}

bool CHistoryModel::Matches(std::uint64_t number) {
  const std::size_t place = number - m_history.FirstNumber();
  std::string& text = m_searchTexts[place];
  if (text.empty()) {
    const HistoryEntry& entry = m_history.At(place);
    TrafficRow row;
    row.endpoints = entry.endpoints;
    for (const int column : {kSource, kSourcePort, kDestination, kDestinationPort, kProtocol})
      row.cells[column] = CellOf(entry, column);
    row.cells[TrafficDisplay::kProcessColumn] = CellOf(entry, kProcess);
    row.cells[TrafficDisplay::kUserColumn] = CellOf(entry, kUser);
    text = SearchTextOf(row);
  }
  return m_search.Matches(text);
}

void CHistoryModel::SetSearch(RowSearch search) {
  if (search == m_search) return;
  beginResetModel();
  m_search = std::move(search);
  m_matching.clear();
  if (Searching())
    for (const std::uint64_t number : m_order)
      if (Matches(number)) m_matching.push_back(number);
  endResetModel();
}

template <typename Key>
void CHistoryModel::SortBy(bool ascending, Key key) {
  using Value = decltype(key(std::declval<const HistoryEntry&>()));
  std::vector<std::pair<Value, std::uint64_t>> keyed;
  keyed.reserve(m_order.size());
  for (const std::uint64_t number : m_order) keyed.emplace_back(key(*EntryNumbered(number)), number);
  std::stable_sort(keyed.begin(), keyed.end(), [ascending](const auto& a, const auto& b) {
    return ascending ? a.first < b.first : b.first < a.first;
  });
  for (std::size_t i = 0; i < keyed.size(); ++i) m_order[i] = keyed[i].second;
}

// By the figures themselves, not their texts: addresses by number, ports
// as numbers, amounts and times exactly.
void CHistoryModel::Sort(int column, bool ascending) {
  if (column < 0 || column >= kColumnCount) return;
  beginResetModel();
  const auto text = [this, column](const HistoryEntry& e) { return CellOf(e, column); };
  switch (column) {
    case kSource: SortBy(ascending, [](const HistoryEntry& e) { return e.endpoints.source; }); break;
    case kDestination: SortBy(ascending, [](const HistoryEntry& e) { return e.endpoints.destination; }); break;
    case kSourcePort: SortBy(ascending, [](const HistoryEntry& e) { return ntohs(e.endpoints.sourcePort); }); break;
    case kDestinationPort:
      SortBy(ascending, [](const HistoryEntry& e) { return ntohs(e.endpoints.destinationPort); });
      break;
    case kTraffic: SortBy(ascending, [](const HistoryEntry& e) { return e.bytes; }); break;
    case kPackets: SortBy(ascending, [](const HistoryEntry& e) { return e.packets; }); break;
    case kAverageSpeed: SortBy(ascending, AverageRate); break;
    case kFirstSeen: SortBy(ascending, [](const HistoryEntry& e) { return e.FirstSeenMs(); }); break;
    case kLastSeen: SortBy(ascending, [](const HistoryEntry& e) { return e.lastSeenMs; }); break;
    case kDuration: SortBy(ascending, [](const HistoryEntry& e) { return e.durationMs; }); break;
    default: SortBy(ascending, text); break;
  }
  m_sorted = true;
  m_matching.clear();
  if (Searching())
    for (const std::uint64_t number : m_order)
      if (Matches(number)) m_matching.push_back(number);
  endResetModel();
}
