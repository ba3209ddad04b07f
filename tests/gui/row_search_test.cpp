#include "ui/row_search.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gui/bridge_fixture.h"
#include "support/address_text.h"
#include "text/format_amount.h"

namespace {

IpAddress Address(const char* text) { return ParseAddress(text); }

struct FixedRow {
  const char* source;
  int sourcePort;
  const char* destination;
  int destinationPort;
  // As the list shows them: addresses and ports by number or by name.
  const char* cells[5];
  const char* program;
  const char* user;
};

// Five connections as the list shows them, names where the switches were
// on, owners where they were found.
const FixedRow kRows[] = {
    {"10.0.0.1", 51000, "192.168.0.1", 443, {"10.0.0.1", "51000", "router.lan", "https", "TCP"}, "firefox (1234)", "alice"},
    {"10.0.0.2", 5353, "224.0.0.251", 5353, {"printer.lan", "mdns", "224.0.0.251", "mdns", "UDP"}, "avahi-daemon (612)", "avahi"},
    {"2001:db8::1", 50443, "2001:db8::443", 8443, {"2001:db8::1", "50443", "2001:db8::443", "8443", "TCP"}, "", ""},
    {"10.0.0.3", 8080, "10.0.0.4", 53, {"10.0.0.3", "8080", "10.0.0.4", "53", "UDP"}, "Dnsmasq (77)", "root"},
    {"10.0.0.9", 0, "10.0.0.1", 0, {"10.0.0.9", "0", "10.0.0.1", "0", "ICMP"}, "", ""},
};

class RowSearchTest : public ::testing::Test {
 protected:
  RowSearchTest() {
    for (const FixedRow& fixed : kRows) {
      ConnectionEndpoints endpoints;
      endpoints.source = Address(fixed.source);
      endpoints.destination = Address(fixed.destination);
      endpoints.sourcePort = htons(static_cast<std::uint16_t>(fixed.sourcePort));
      endpoints.destinationPort = htons(static_cast<std::uint16_t>(fixed.destinationPort));
      const int row = journal.InsertRow(journal.ItemCount(), fixed.cells[0], TrafficEntry(), endpoints);
      for (int column = 1; column < 5; ++column) journal.SetCellText(row, column, fixed.cells[column]);
      journal.SetCellText(row, TrafficDisplay::kProcessColumn, fixed.program);
      journal.SetCellText(row, TrafficDisplay::kUserColumn, fixed.user);
    }
    DrainInto(journal, model);
  }

  // The rows shown, by their index in kRows.
  std::vector<int> Shown() const {
    std::vector<int> rows;
    for (int row = 0; row < model.rowCount(); ++row)
      for (int fixed = 0; fixed < static_cast<int>(std::size(kRows)); ++fixed)
        if (model.EndpointsAt(row).source == Address(kRows[fixed].source)) rows.push_back(fixed);
    return rows;
  }

  CTrafficJournal journal;
  CTrafficModel model;
};

TEST_F(RowSearchTest, ShowsTheRowsThatHoldEveryWord) {
  const struct {
    const char* query;
    std::vector<int> rows;
  } cases[] = {
      {"", {0, 1, 2, 3, 4}},
      {"10.0.0.1", {0, 4}},             // source of one, destination of another
      {"ROUTER", {0}},                  // a host name, whatever the case
      {"10.0.0.2", {1}},                // the number behind a name
      {"printer.lan", {1}},
      {"443", {0, 2}},                  // a port behind its service name, part of ports and an address
      {":443", {0}},                    // a port whole: not 50443, 8443 or ...::443
      {":https", {0}},                  // by the service name shown
      {":53", {3}},                     // not 5353
      {"mdns", {1}},
      {"udp", {1, 3}},
      {"tcp firefox", {0}},             // several words
      {"tcp avahi", {}},                // each must match
      {"  udp   5353 ", {1}},           // spaces around and between
      {"udp\u3000mdns", {1}},           // the ideographic space of Chinese input
      {"alice", {0}},                   // the user
      {"dnsmasq", {3}},                 // the program, whatever the case
      {"(612)", {1}},                   // the process id
      {"2001:db8::", {2}},              // an IPv6 address is no port word
      {"icmp", {4}},
      {"tcp:", {}},                     // a word never spans two fields
      {"nowhere", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    model.SetSearch(RowSearch(QString::fromUtf8(c.query)));
    EXPECT_EQ(Shown(), c.rows);
    EXPECT_EQ(model.TotalRowCount(), 5);
  }
  // Clearing brings every row back in its place.
  model.SetSearch(RowSearch(QString()));
  EXPECT_FALSE(model.Searching());
  EXPECT_EQ(Shown(), (std::vector<int>{0, 1, 2, 3, 4}));
}

// Rows whose texts change while a search is active join or leave it: a
// program found later, a name that comes; rows the search hides still
// expire, and new rows are searched as they come.
TEST_F(RowSearchTest, RowsJoinAndLeaveAsTheirTextsChange) {
  model.SetSearch(RowSearch(QStringLiteral("firefox")));
  ASSERT_EQ(Shown(), std::vector<int>{0});

  journal.SetCellText(3, TrafficDisplay::kProcessColumn, "firefox (99)");  // found later
  journal.SetCellText(0, TrafficDisplay::kProcessColumn, "curl (5)");      // the port went to another
  journal.SetCellText(2, TrafficDisplay::kProcessColumn, "firefox (99)");
  DrainInto(journal, model);
  EXPECT_EQ(Shown(), (std::vector<int>{2, 3}));

  journal.DeleteRow(1);  // hidden, expires
  journal.DeleteRow(1);  // shown, expires
  DrainInto(journal, model);
  EXPECT_EQ(Shown(), std::vector<int>{3});
  EXPECT_EQ(model.TotalRowCount(), 3);

  MadeUpEntries entries;
  for (const char* program : {"firefox (7)", "sshd (8)"}) {
    const int row = Insert(journal, journal.ItemCount(), "10.9.9.9", entries.Next());
    journal.SetCellText(row, TrafficDisplay::kProcessColumn, program);
  }
  DrainInto(journal, model);
  EXPECT_EQ(model.rowCount(), 2);
  EXPECT_EQ(model.CellText(1, TrafficDisplay::kProcessColumn), "firefox (7)");
  EXPECT_EQ(model.TotalRowCount(), 5);
}

// A sort while a search is active orders the whole list, hidden rows too:
// they are in their places when the search is cleared.
TEST_F(RowSearchTest, SortOrdersHiddenRowsToo) {
  model.SetSearch(RowSearch(QStringLiteral("udp")));
  model.Sort(0, true, kUnitsBytes);  // numbers, IPv4 first, then names
  EXPECT_EQ(Shown(), (std::vector<int>{3, 1}));
  model.SetSearch(RowSearch());
  EXPECT_EQ(Shown(), (std::vector<int>{0, 3, 4, 2, 1}));
}

// Typing on only narrows what is shown; a letter taken back, a new word or
// a port word looks at every row again.
TEST(RowSearch, KnowsWhenASearchOnlyNarrowsAnother) {
  const struct {
    const char* before;
    const char* after;
    bool narrows;
  } cases[] = {
      {"", "f", true},          {"fire", "firef", true},  {"fire", "fir", false},
      {"fire", "fire tcp", true}, {"fire tcp", "tcp", false}, {"44", ":443", true},
      {":44", ":443", false},   {"fire", "ire", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.before) + " -> " + c.after);
    EXPECT_EQ(RowSearch(QString::fromUtf8(c.after)).Narrows(RowSearch(QString::fromUtf8(c.before))), c.narrows);
  }
}

}  // namespace
