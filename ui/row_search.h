#pragma once

#include <QString>
#include <string>
#include <string_view>
#include <vector>

#include "ui/traffic_row.h"

// What the search box narrows the list to: the rows whose source,
// destination, ports, protocol, program or user contain every word of the
// query, whatever the case of its letters. An address matches by its number
// and by the name the list shows for it, a port by its number and by the
// service name the list shows. A word of one colon and a port (":443",
// ":https") matches a port whole, never part of an address.
class RowSearch {
 public:
  RowSearch() = default;
  explicit RowSearch(const QString& query);

  // An empty search matches every row.
  bool Empty() const { return m_needles.empty(); }
  bool Matches(std::string_view searchText) const;
  // Whether every row this search matches is also matched by `wider`: then
  // only the rows `wider` matched need a look (typing on narrows the list).
  bool Narrows(const RowSearch& wider) const;

  friend bool operator==(const RowSearch&, const RowSearch&) = default;

  // Whether the search looks at a column's text.
  static bool Searched(int column);

 private:
  std::vector<std::string> m_needles;
};

// The texts a search reads of a row, in lower case, built once and kept in
// the row until one of its searched cells changes.
const std::string& SearchTextOf(TrafficRow& row);
