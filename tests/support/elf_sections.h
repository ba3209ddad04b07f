#pragma once

#include <elf.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

// The section names of an ELF file, by index in its section header table;
// empty when the file is not one.
inline std::vector<std::string> ElfSectionNames(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  Elf64_Ehdr header{};
  if (!file.read(reinterpret_cast<char*>(&header), sizeof header) || header.e_shentsize != sizeof(Elf64_Shdr))
    return {};
  std::vector<Elf64_Shdr> sections(header.e_shnum);
  file.seekg(static_cast<std::streamoff>(header.e_shoff));
  file.read(reinterpret_cast<char*>(sections.data()), static_cast<std::streamsize>(sections.size() * sizeof(Elf64_Shdr)));
  if (!file || header.e_shstrndx >= sections.size()) return {};
  const Elf64_Shdr& names = sections[header.e_shstrndx];
  std::string table(names.sh_size, '\0');
  file.seekg(static_cast<std::streamoff>(names.sh_offset));
  file.read(table.data(), static_cast<std::streamsize>(table.size()));
  std::vector<std::string> result;
  for (const Elf64_Shdr& section : sections) result.emplace_back(table.c_str() + section.sh_name);
  return result;
}

// The function that holds `offset` within section `section` of the module,
// as addr2line names it (demangled); "??" when it cannot tell.
inline std::string FunctionAt(const std::string& module, const std::string& section, std::uint64_t offset) {
  char command[8192];
  std::snprintf(command, sizeof command, "addr2line -f -C -e '%s' -j '%s' 0x%llx", module.c_str(), section.c_str(),
                static_cast<unsigned long long>(offset));
  std::string name;
  if (FILE* output = popen(command, "r")) {
    char line[4096];
    if (std::fgets(line, sizeof line, output) != nullptr) name = line;
    pclose(output);
  }
  if (!name.empty() && name.back() == '\n') name.pop_back();
  return name;
}
