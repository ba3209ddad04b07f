// quorvel-replay [--idle SECONDS] [--log LAYOUT LOGFILE] [--filters FILTERS] FILE
// quorvel-replay --help | --version
//
// Runs the capture engine over a capture file as fast as it can: the same
// capture thread, accounting and refresh passes as a live capture. Prints
// every connection still in the table as CSV on standard output, in table
// order, and one summary line on standard error. With --log, every counted
// packet is also written to LOGFILE in the packet log layout LAYOUT (0 to
// 8), as a capture with logging on does, so that the speed with a log can
// be set against the speed without one. With --filters, only the packets
// that the enabled filters of FILTERS (a file as filters.dat) let through
// are read, combined as the monitor combines them.
#include <arpa/inet.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/capture_session.h"
#include "capture/decimal_text.h"
#include "capture/packet_log.h"
#include "capture/counting_traffic_display.h"
#include "capture/traffic_list.h"
#include "config/settings.h"
#include "filters/filter_capture.h"
#include "filters/filter_manager.h"
#include "platform/whole_file.h"
#include "resolve/dotted_address.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"
#include "ui/product.h"

namespace {

struct Options {
  std::optional<std::uint32_t> idleSeconds;
  std::optional<std::int32_t> logLayout;
  const char* logFile = nullptr;
  const char* filtersFile = nullptr;
  const char* file = nullptr;
};

constexpr char kUsage[] = "usage: quorvel-replay [--idle SECONDS] [--log LAYOUT LOGFILE] [--filters FILTERS] FILE\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

// --help and --version, alone on the command line: the exit code once the
// answer is printed; nullopt for any other command line.
std::optional<int> AnswerInformationOption(int argc, char** argv) {
  if (argc != 2) return std::nullopt;
  const std::string_view option = argv[1];
  if (option == "--help" || option == "-h") {
    std::printf("%s\n%s", kUsage,
                "Runs Quorvel's capture engine over a capture file and prints every connection left in its\n"
                "table as CSV on standard output, and a summary line on standard error.\n\n"
                "  --idle SECONDS       connections idle longer than this leave the table (default: never)\n"
                "  --log LAYOUT LOGFILE write the packet log in layout 0 to 8 while replaying\n"
                "  --filters FILTERS    keep only the packets that the enabled filters of FILTERS (the\n"
                "                       format of filters.dat) accept, combined as a capture combines them\n"
                "  -h, --help           print this help and exit\n"
                "  -v, --version        print the version and exit\n");
    return 0;
  }
  if (option == "--version" || option == "-v") {
    std::printf("quorvel-replay %s\n", product::kVersion);
    return 0;
  }
  return std::nullopt;
}

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--idle") == 0 && i + 1 < argc) {
      char* end = nullptr;
      const unsigned long seconds = std::strtoul(argv[++i], &end, 10);
      if (*end != '\0' || seconds > std::numeric_limits<std::uint32_t>::max() / 1000) return std::nullopt;
      options.idleSeconds = static_cast<std::uint32_t>(seconds);
    } else if (std::strcmp(argv[i], "--log") == 0 && i + 2 < argc) {
      char* end = nullptr;
      const long layout = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || layout < 0 || layout > 8) return std::nullopt;
      options.logLayout = static_cast<std::int32_t>(layout);
      options.logFile = argv[++i];
    } else if (std::strcmp(argv[i], "--filters") == 0 && i + 1 < argc) {
      options.filtersFile = argv[++i];
    } else if (options.file == nullptr && argv[i][0] != '-') {
      options.file = argv[i];
    } else {
      return std::nullopt;
    }
  }
  if (options.file == nullptr) return std::nullopt;
  return options;
}

// The replay's own settings: defaults on a scratch file that is thrown away,
// so a replay never reads or changes the monitor's settings.
class ScratchSettings {
 public:
  ScratchSettings() {
    char folder[] = "/tmp/quorvel-replay-XXXXXX";
    if (mkdtemp(folder) != nullptr) m_folder = folder;
    m_settings.emplace(m_folder.empty() ? std::string() : m_folder + "/settings.dat");
  }
  ~ScratchSettings() {
    m_settings.reset();
    if (!m_folder.empty()) std::filesystem::remove_all(m_folder);
  }
  CSettings& Get() { return *m_settings; }

 private:
  std::string m_folder;
  std::optional<CSettings> m_settings;
};

char* AppendDotted(char* out, std::uint32_t address) {
  char text[resolve::kDottedAddressSize];
  resolve::FormatDottedAddress(address, text);
  return AppendText(out, text);
}

// What the filter store gives a capture of a file: the expression it would
// install, compiled for the file's link type.
class ReplayFilters : public FilterCapture {
 public:
  explicit ReplayFilters(int linkType) : m_linkType(linkType) {}
  bool Monitoring() const override { return false; }
  int LinkType() const override { return m_linkType; }
  void InstallFilter(const std::string& expression) override { installed = expression; }
  std::string installed;

 private:
  int m_linkType;
};

int FileLinkType(const char* path) {
  char error[PCAP_ERRBUF_SIZE] = {};
  pcap_t* handle = pcap_open_offline(path, error);
  if (handle == nullptr) return DLT_EN10MB;  // the replay says why it cannot read it
  const int linkType = pcap_datalink(handle);
  pcap_close(handle);
  return linkType;
}

// The filter the monitor would run a capture of `file` with, from a file
// of filters; false when that file cannot be read.
bool FilterFromFile(const char* filtersFile, const char* file, std::string& filter) {
  std::string content;
  if (platform::ReadWholeFile(filtersFile, content) != platform::ReadOutcome::kRead) return false;
  CFilterManager filters(filtersFile);
  ReplayFilters capture(FileLinkType(file));
  filters.SetCapture(&capture);
  filters.ApplyOnStart();
  filter = capture.installed;
  return true;
}

// Lines are built by hand and written in large pieces: at a million
// connections, one printf per line would take longer than the replay.
void PrintConnections(CTrafficList& table) {
  std::lock_guard lock(table.TableLock());
  std::fputs("src,sport,dst,dport,proto,bytes,packets\n", stdout);
  // Two addresses, two ports, the protocol, two counters, six commas, the end.
  constexpr std::size_t kLongestLine = 2 * 15 + 2 * 5 + 3 + 2 * 10 + 7;
  std::vector<char> buffer(std::size_t{1} << 16);
  char* out = buffer.data();
  for (std::size_t i = 0; i < table.EntryCount(); ++i) {
    const TrafficEntry& entry = table.Entry(i);
    if (out + kLongestLine > buffer.data() + buffer.size()) {
      std::fwrite(buffer.data(), 1, static_cast<std::size_t>(out - buffer.data()), stdout);
      out = buffer.data();
    }
    const std::uint32_t numbers[] = {entry.key.protocol, entry.bytes, entry.packets};
    out = AppendDotted(out, entry.key.sourceAddress);
    *out++ = ',';
    out = AppendDecimal(out, ntohs(entry.key.sourcePort));
    *out++ = ',';
    out = AppendDotted(out, entry.key.destinationAddress);
    *out++ = ',';
    out = AppendDecimal(out, ntohs(entry.key.destinationPort));
    for (const std::uint32_t number : numbers) {
      *out++ = ',';
      out = AppendDecimal(out, number);
    }
    *out++ = '\n';
  }
  std::fwrite(buffer.data(), 1, static_cast<std::size_t>(out - buffer.data()), stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (const std::optional<int> exitCode = AnswerInformationOption(argc, argv)) return *exitCode;
  const std::optional<Options> options = ParseOptions(argc, argv);
  if (!options) return Usage();
  std::string filter;
  if (options->filtersFile != nullptr && !FilterFromFile(options->filtersFile, options->file, filter)) {
    std::fprintf(stderr, "quorvel-replay: cannot read %s\n", options->filtersFile);
    return 1;
  }

  ScratchSettings settings;
  settings.Get().idlemsec =
      options->idleSeconds ? *options->idleSeconds * 1000 : std::numeric_limits<std::uint32_t>::max();
  // The display outlives the table, which still reaches it while it is
  // destroyed, whichever way main returns.
  CountingTrafficDisplay display;
  CTrafficList table(settings.Get());
  table.SetDisplay(&display);
  CNSCashe hostNames;
  CServicesParser services;
  CPacketLog log(settings.Get(), table);
  CaptureSession session(table, settings.Get(), hostNames, services);
  if (options->logFile != nullptr) {
    if (std::strlen(options->logFile) >= sizeof settings.Get().logfile) return Usage();
    std::strcpy(settings.Get().logfile, options->logFile);
    settings.Get().uselogfile = 1;
    settings.Get().logtype = *options->logLayout;
    // The largest limit: the figures are those of writing, not of restarts.
    settings.Get().mbdelete = 999;
    settings.Get().UpdateLogSizeLimit();
    // As in the monitor: the capture start opens the log before the thread
    // reads the first frame, and the stop closes it.
    table.SetPacketLog(&log);
    session.SetPacketLog(&log);
  }

  const auto start = std::chrono::steady_clock::now();
  std::string error;
  if (session.StartReplay(options->file, error, filter) != 0) {
    std::fprintf(stderr, "quorvel-replay: %s\n", error.c_str());
    return 1;
  }
  session.WaitForThreadEnd();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  CaptureTotals totals;
  {
    std::lock_guard lock(table.TableLock());
    totals = table.Totals();
  }
  session.StopCapture();

  PrintConnections(table);
  std::fflush(stdout);
  std::fprintf(stderr, "packets=%u data=%u total=%u connections=%zu seconds=%.3f pps=%.0f\n", totals.packets,
               totals.dataBytes, totals.totalBytes, table.EntryCount(), seconds,
               seconds > 0 ? totals.packets / seconds : 0.0);
  return 0;
}
