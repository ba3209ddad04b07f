// quorvel-replay [--idle SECONDS] [--log LAYOUT LOGFILE] [--filters FILTERS] [--format csv|jsonl]
//                [--closed FILE] FILE
// quorvel-replay --live DEVICE [--seconds N] [--buffer BYTES] [--processes] [--idle SECONDS] [--log LAYOUT LOGFILE]
//                [--filters FILTERS] [--format csv|jsonl] [--closed FILE]
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
//
// With --live, the same engine captures DEVICE through the capture helper,
// as the monitor does, for N seconds or until SIGINT, SIGTERM or SIGHUP, with a
// kernel buffer of BYTES (2 MiB unless told), then prints the same; the
// summary adds the capture library's counts of the packets it received and
// of those it lost (the kernel's and the adapter's). With --processes, each
// connection also has the process id, program name and user that owned its
// local end when it was first seen (empty where not known), so that a
// script can ask which program sent the most.
//
// With --format, the connections are printed as the window exports them
// (CSV or JSON Lines, with their first and last packet and duration). With
// --closed, every connection that leaves the table (gone idle, or still
// there at the end) is appended to FILE as a JSON line while it runs.
//
// With --ipfix, either way also sends a flow record in IPFIX to a collector
// for each connection that leaves the table, and for those left at the end.
#include <arpa/inet.h>
#include <signal.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
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
#include "bench/replay_output.h"
#include "config/settings.h"
#include "export/closed_connection_stream.h"
#include "export/export_format.h"
#include "export/ipfix_command_line.h"
#include "filters/filter_capture.h"
#include "filters/filter_manager.h"
#include "log/packet_log.h"
#include "platform/whole_file.h"
#include "process/owner_refresher.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"
#include "table/traffic_list.h"
#include "text/whole_number.h"
#include "ui/product.h"

namespace {

struct Options {
  std::optional<std::uint32_t> idleSeconds;
  std::optional<std::int32_t> logLayout;
  const char* logFile = nullptr;
  const char* filtersFile = nullptr;
  const char* file = nullptr;
  const char* device = nullptr;  // --live
  std::optional<std::uint32_t> seconds;
  std::optional<std::uint32_t> bufferBytes;
  bool processes = false;  // --live only
  std::optional<ExportFormat> format;
  const char* closedFile = nullptr;
  IpfixOptions ipfix;
};

constexpr char kUsage[] =
    "usage: quorvel-replay [--idle SECONDS] [--log LAYOUT LOGFILE] [--filters FILTERS] [--format csv|jsonl]\n"
    "                      [--closed FILE] FILE\n"
    "       quorvel-replay --live DEVICE [--seconds N] [--buffer BYTES] [--processes] [--idle SECONDS]\n"
    "                      [--log LAYOUT LOGFILE] [--filters FILTERS] [--format csv|jsonl] [--closed FILE]\n";

int Usage() {
  std::fputs(kUsage, stderr);
  std::fputs(kIpfixUsage, stderr);
  return 2;
}

// --help and --version, alone on the command line: the exit code once the
// answer is printed; nullopt for any other command line.
std::optional<int> AnswerInformationOption(int argc, char** argv) {
  if (argc != 2) return std::nullopt;
  const std::string_view option = argv[1];
  if (option == "--help" || option == "-h") {
    std::printf("%s%s\n%s%s%s", kUsage, kIpfixUsage,
                "Runs Quorvel's capture engine over a capture file, or on a live adapter, and prints every\n"
                "connection left in its table as CSV on standard output, and a summary line on standard error.\n\n"
                "  --live DEVICE        capture on the adapter DEVICE through quorvel-capture instead of\n"
                "                       reading a file, until the time is up or SIGINT, SIGTERM or SIGHUP\n"
                "                       comes\n"
                "  --seconds N          with --live: stop after N seconds (default: on a signal only)\n"
                "  --buffer BYTES       with --live: the kernel's capture buffer (default: 2 MiB)\n"
                "  --processes          with --live: add the columns pid, process and user, the owner\n"
                "                       of each connection's local end (empty where not known)\n"
                "  --idle SECONDS       connections idle longer than this leave the table (default: never)\n"
                "  --log LAYOUT LOGFILE write the packet log in layout 0 to 8 while replaying\n"
                "  --filters FILTERS    keep only the packets that the enabled filters of FILTERS (the\n"
                "                       format of filters.dat) accept, combined as a capture combines them\n"
                "  --format csv|jsonl   print the connections as the window exports them: CSV or JSON Lines\n"
                "                       with first_seen, last_seen and duration (default: the replay's CSV)\n"
                "  --closed FILE        append each connection that leaves the table to FILE as a JSON line\n"
                "                       while running: gone idle (reason \"idle\") or left at the end (\"end\")\n"
                "", kIpfixHelp,
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
    if (const OptionTaken taken = TakeIpfixOption(argc, argv, i, options.ipfix); taken != OptionTaken::kNotMine) {
      if (taken == OptionTaken::kBad) return std::nullopt;
    } else if (std::strcmp(argv[i], "--idle") == 0 && i + 1 < argc) {
      options.idleSeconds = ParseWholeNumber(argv[++i], 0, std::numeric_limits<std::uint32_t>::max() / 1000);
      if (!options.idleSeconds) return std::nullopt;
    } else if (std::strcmp(argv[i], "--live") == 0 && i + 1 < argc && options.device == nullptr) {
      options.device = argv[++i];
    } else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      options.seconds = ParseWholeNumber(argv[++i], 0, std::numeric_limits<std::uint32_t>::max() / 1000);
      if (!options.seconds) return std::nullopt;
    } else if (std::strcmp(argv[i], "--buffer") == 0 && i + 1 < argc) {
      options.bufferBytes = ParseWholeNumber(argv[++i], 0, std::numeric_limits<std::int32_t>::max());
      if (!options.bufferBytes) return std::nullopt;
    } else if (std::strcmp(argv[i], "--processes") == 0) {
      options.processes = true;
    } else if (std::strcmp(argv[i], "--log") == 0 && i + 2 < argc) {
      char* end = nullptr;
      const long layout = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || layout < 0 || layout > 8) return std::nullopt;
      options.logLayout = static_cast<std::int32_t>(layout);
      options.logFile = argv[++i];
    } else if (std::strcmp(argv[i], "--filters") == 0 && i + 1 < argc) {
      options.filtersFile = argv[++i];
    } else if (std::strcmp(argv[i], "--format") == 0 && i + 1 < argc) {
      options.format = ExportFormatNamed(argv[++i]);
      if (!options.format) return std::nullopt;
    } else if (std::strcmp(argv[i], "--closed") == 0 && i + 1 < argc) {
      options.closedFile = argv[++i];
    } else if (options.file == nullptr && argv[i][0] != '-') {
      options.file = argv[i];
    } else {
      return std::nullopt;
    }
  }
  const bool live = options.device != nullptr;
  if ((options.file != nullptr) == live) return std::nullopt;
  if (!live && (options.seconds || options.bufferBytes || options.processes)) return std::nullopt;
  if (options.ipfix.given && options.ipfix.collector == nullptr) return std::nullopt;
  return options;
}

// Blocked in every thread from the start, so that they wait for
// WaitForLiveCaptureEnd instead of ending the program.
sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);  // the terminal closed
  return signals;
}

// Until `seconds` have passed (none: for ever), a stop signal came, or the
// capture ended by itself.
void WaitForLiveCaptureEnd(const CaptureSession& session, std::optional<std::uint32_t> seconds) {
  const sigset_t signals = StopSignals();
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds.value_or(0));
  constexpr long kCheckNs = 100 * 1000 * 1000;
  while (!session.EndedUnexpectedly() && (!seconds || std::chrono::steady_clock::now() < end)) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(end - std::chrono::steady_clock::now());
    const timespec wait = {0, seconds ? std::clamp<long>(left.count(), 0, kCheckNs) : kCheckNs};
    if (sigtimedwait(&signals, nullptr, &wait) > 0) return;
  }
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

bool CanRead(const char* path) {
  std::string content;
  return platform::ReadWholeFile(path, content) == platform::ReadOutcome::kRead;
}

// The filter the monitor would run a capture of the link type with, from a
// file of filters; false when that file cannot be read.
bool FilterFromFile(const char* filtersFile, int linkType, std::string& filter) {
  if (!CanRead(filtersFile)) return false;
  CFilterManager filters(filtersFile);
  ReplayFilters capture(linkType);
  filters.SetCapture(&capture);
  filters.ApplyOnStart();
  filter = capture.installed;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (const std::optional<int> exitCode = AnswerInformationOption(argc, argv)) return *exitCode;
  const std::optional<Options> options = ParseOptions(argc, argv);
  if (!options) return Usage();
  if (options->device != nullptr) {
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  }
  if (options->filtersFile != nullptr && !CanRead(options->filtersFile)) {
    std::fprintf(stderr, "quorvel-replay: cannot read %s\n", options->filtersFile);
    return 1;
  }

  // Opened before anything runs: a file that cannot be written is said at once.
  CClosedConnectionStream closed(ExportFormat::kJsonLines, {options->processes, true});
  std::string closedError;
  if (options->closedFile != nullptr && !closed.Open(options->closedFile, closedError)) {
    std::fprintf(stderr, "quorvel-replay: cannot write %s\n", closedError.c_str());
    return 1;
  }

  ScratchSettings settings;
  settings.Get().idlemsec =
      options->idleSeconds ? *options->idleSeconds * 1000 : std::numeric_limits<std::uint32_t>::max();
  // The display outlives the table, which still reaches it while it is
  // destroyed, whichever way main returns.
  OwnersDisplay display(options->processes);
  // Outlive the table, which reports to them until its end.
  ClosedConnectionSinks closedSinks;
  IpfixRun ipfix;
  CTrafficList table(settings.Get());
  table.SetDisplay(&display);
  if (options->closedFile != nullptr) closedSinks.Add(&closed);
  if (std::string error; options->ipfix.collector != nullptr && !ipfix.Start(options->ipfix, table, closedSinks, error)) {
    std::fprintf(stderr, "quorvel-replay: %s: %s\n", options->ipfix.collector, error.c_str());
    return 1;
  }
  if (!closedSinks.Empty()) table.SetClosedSink(&closedSinks);
  CNSCashe hostNames;
  CServicesParser services;
  CPacketLog log(settings.Get(), table.TableLock());
  std::optional<COwnerRefresher> owners;
  CaptureSession session(table, settings.Get(), hostNames, services);
  if (options->processes) {
    owners.emplace();
    session.SetOwners(&*owners);
  }
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
  if (options->device != nullptr) {
    if (options->bufferBytes) session.SetKernelBufferBytes(static_cast<int>(*options->bufferBytes));
    // The user was told why, as the monitor tells it.
    if (session.StartCapture(options->device) != 0) return 1;
    // As the monitor does: installed once the adapter is open and its link
    // type known; the frames read before are not filtered.
    std::string filter;
    if (options->filtersFile != nullptr && FilterFromFile(options->filtersFile, session.LinkType(), filter) &&
        !filter.empty())
      session.InstallFilter(filter);
    WaitForLiveCaptureEnd(session, options->seconds);
  } else {
    std::string filter;
    if (options->filtersFile != nullptr)
      FilterFromFile(options->filtersFile, FileLinkType(options->file), filter);
    std::string error;
    if (session.StartReplay(options->file, error, filter) != 0) {
      std::fprintf(stderr, "quorvel-replay: %s\n", error.c_str());
      return 1;
    }
    session.WaitForThreadEnd();
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // Every frame the helper took before the end is counted.
  const CaptureTotals totals = session.DrainAndStopCapture();

  PrintConnections(table, display, options->format);
  std::fflush(stdout);
  const std::size_t connections = table.EntryCount();
  std::fprintf(stderr, "packets=%llu data=%llu total=%llu connections=%zu seconds=%.3f pps=%.0f",
               static_cast<unsigned long long>(totals.packets), static_cast<unsigned long long>(totals.dataBytes),
               static_cast<unsigned long long>(totals.totalBytes), connections, seconds,
               seconds > 0 ? static_cast<double>(totals.packets) / seconds : 0.0);
  const CaptureHealth health = session.Health();
  if (options->device != nullptr)
    std::fprintf(stderr, " received=%llu dropped=%llu", static_cast<unsigned long long>(health.received),
                 static_cast<unsigned long long>(health.AllDropped()));
  const CaptureSession::ReplayResult& read = session.FileReadResult();
  if (options->device == nullptr) std::fprintf(stderr, " records=%llu", static_cast<unsigned long long>(read.records));
  if (options->logFile != nullptr)
    std::fprintf(stderr, " log_lost=%llu", static_cast<unsigned long long>(log.LostRecords()));
  // Every connection still in the table leaves it now: into the stream
  // and the export, each written whole before the summary.
  closed.WaitForRoomFromNowOn();
  table.RemoveAll(CloseReason::kEnd);
  ipfix.Finish(table);
  table.SetClosedSink(nullptr);
  closed.Close();
  if (options->closedFile != nullptr)
    std::fprintf(stderr, " closed=%llu closed_lost=%llu", static_cast<unsigned long long>(closed.Written()),
                 static_cast<unsigned long long>(closed.Lost()));
  std::fprintf(stderr, "%s\n", ipfix.Summary().c_str());
  // Connections that could not be written or sent are a failure, whatever
  // else went well.
  if (!closed.WriteError().empty())
    std::fprintf(stderr, "quorvel-replay: %s: %s\n", options->closedFile, closed.WriteError().c_str());
  if (const std::string lost = ipfix.LossText(); !lost.empty())
    std::fprintf(stderr, "quorvel-replay: %s\n", lost.c_str());
  if (!closed.WriteError().empty() || !ipfix.LossText().empty()) return 1;
  // A file that could not be read to its end: what was read is out.
  if (options->device == nullptr && !read.error.empty()) {
    std::fprintf(stderr, "quorvel-replay: %s\n", read.error.c_str());
    return 1;
  }
  // A capture that ended by itself has said why; what it counted is out.
  return session.EndedUnexpectedly() ? 1 : 0;
}
