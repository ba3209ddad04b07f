// The settings file: any file loads; saving and loading again gives the
// same settings (the idle time aside, which wraps in 32 bits on loading by
// design); and from then on a save changes nothing, neither the settings
// nor a byte of the file.
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "config/settings.h"
#include "fuzz_input.h"

namespace {

struct Snapshot {
  std::vector<std::int64_t> numbers;
  std::string logfile;

  explicit Snapshot(const CSettings& s)
      : numbers{s.alwaysontop, s.nsresolve, s.portresolve, s.adapternum, s.units,     s.autostart,
                s.nopromiscuous, s.filtertcp, s.filterudp,  s.filtericmp, s.status,   s.top,
                s.bottom,      s.left,      s.right,       s.srcaddr,    s.destaddr, s.srcport,
                s.destport,    s.proto,     s.traffic,     s.packets,    s.bs,       s.abs,
                s.uselogfile,  s.autodelete, s.mbdelete,   s.logtype,    s.logSizeLimit, s.idlemsec},
        logfile(s.logfile, strnlen(s.logfile, sizeof s.logfile)) {}

  bool SameAs(const Snapshot& other, bool idleTimeToo) const {
    const std::size_t compared = numbers.size() - (idleTimeToo ? 0 : 1);
    return std::equal(numbers.begin(), numbers.begin() + compared, other.numbers.begin()) && logfile == other.logfile;
  }
};

// Loads the file and saves it back, as one run of the program does.
Snapshot Run(const std::string& path) {
  const CSettings settings(path);
  return Snapshot(settings);
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::ScratchFile file("quorvel.dat");
  file.Write(data, size);
  const Snapshot first = Run(file.Path());
  const Snapshot second = Run(file.Path());
  const std::string saved = Contents(file.Path());
  const Snapshot third = Run(file.Path());
  fuzz::Check(first.SameAs(second, false), "settings changed by saving and loading");
  fuzz::Check(second.SameAs(third, true), "settings changed by a second save");
  fuzz::Check(Contents(file.Path()) == saved, "a save of unchanged settings changed the file");
  return 0;
}
