#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// filters.dat in a test's own folder, with its raw bytes at hand.
class FiltersFile {
 public:
  explicit FiltersFile(const std::filesystem::path& folder) : m_path((folder / "filters.dat").string()) {}

  const std::string& Path() const { return m_path; }
  void Write(const std::string& content) const { std::ofstream(m_path, std::ios::binary) << content; }
  std::string Read() const {
    std::ifstream in(m_path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

 private:
  std::string m_path;
};
