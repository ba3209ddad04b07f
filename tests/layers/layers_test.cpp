// The folders of the product are layers: each includes only itself and the
// layers below it, and no file includes its way back to itself. Checked on
// the sources themselves, so that a new include that runs up, or closes a
// circle, fails here rather than in a reader's head.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Lowest first. The helper's protocol headers are shared by the helper and
// the core, and include nothing of either.
const std::vector<std::string> kLayers = {
    "capture_helper", "platform", "text", "packet", "config", "resolve",
    "filters",        "log",      "table", "process", "export", "source", "capture", "ui",
};

int Rank(const std::string& folder) {
  const auto found = std::find(kLayers.begin(), kLayers.end(), folder);
  return found == kLayers.end() ? -1 : static_cast<int>(found - kLayers.begin());
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.find('/')); }

// A file and its header are one unit: "table/traffic_list".
std::string UnitOf(const std::string& path) { return path.substr(0, path.rfind('.')); }

// Every project include of every product file, by file ("log/packet_log.cpp").
std::map<std::string, std::vector<std::string>> ReadIncludes() {
  static const std::regex include(R"(^\s*#\s*include\s*"([a-z_]+/[^"]+)\")");
  std::map<std::string, std::vector<std::string>> includes;
  for (const std::string& layer : kLayers) {
    for (const auto& entry : fs::directory_iterator(fs::path(QUORVEL_SOURCE_DIR) / layer)) {
      const std::string name = entry.path().filename().string();
      if (!entry.is_regular_file() || !(name.ends_with(".h") || name.ends_with(".cpp"))) continue;
      std::ifstream in(entry.path());
      std::vector<std::string>& of = includes[layer + "/" + name];
      std::smatch match;
      for (std::string line; std::getline(in, line);)
        if (std::regex_search(line, match, include)) of.push_back(match[1]);
    }
  }
  return includes;
}

TEST(LayersTest, EachFolderIncludesOnlyItselfAndTheLayersBelow) {
  const auto includes = ReadIncludes();
  ASSERT_GT(includes.size(), 100u) << "the sources were not found under " << QUORVEL_SOURCE_DIR;
  for (const auto& [file, headers] : includes)
    for (const std::string& header : headers) {
      const int from = Rank(FolderOf(file)), to = Rank(FolderOf(header));
      EXPECT_NE(to, -1) << file << " includes " << header << " from no layer";
      EXPECT_LE(to, from) << file << " includes " << header << ", a higher layer";
    }
}

// Depth-first search over units; a unit met again while it is still open
// closes a circle.
class CircleFinder {
 public:
  explicit CircleFinder(const std::map<std::string, std::vector<std::string>>& includes) {
    for (const auto& [file, headers] : includes)
      for (const std::string& header : headers)
        if (UnitOf(header) != UnitOf(file)) m_edges[UnitOf(file)].insert(UnitOf(header));
  }

  std::vector<std::string> Find() {
    for (const auto& [unit, next] : m_edges)
      if (Visit(unit)) return m_path;
    return {};
  }

 private:
  bool Visit(const std::string& unit) {
    if (m_done.count(unit)) return false;
    if (std::find(m_path.begin(), m_path.end(), unit) != m_path.end()) {
      m_path.push_back(unit);
      return true;
    }
    m_path.push_back(unit);
    for (const std::string& next : m_edges[unit])
      if (Visit(next)) return true;
    m_path.pop_back();
    m_done.insert(unit);
    return false;
  }

  std::map<std::string, std::set<std::string>> m_edges;
  std::set<std::string> m_done;
  std::vector<std::string> m_path;
};

TEST(LayersTest, NoFileIncludesItsWayBackToItself) {
  const std::vector<std::string> circle = CircleFinder(ReadIncludes()).Find();
  std::string shown;
  for (const std::string& unit : circle) shown += (shown.empty() ? "" : " -> ") + unit;
  EXPECT_TRUE(circle.empty()) << shown;
}

}  // namespace
