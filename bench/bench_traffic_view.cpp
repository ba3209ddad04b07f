// The traffic list at 100k rows: how much of each second the window's
// thread is busy while the capture updates every row once a second, what
// one sort of the rows costs, and one keystroke in the search box.
//
// The live figure comes from the real engine: a capture file of 100k
// connections is replayed through a pipe one round per second, so that the
// capture thread accounts every connection once a second and its passes
// write into the window's journal, while the window, shown on the
// offscreen platform, drains, models and paints as it would on a screen.
#include <arpa/inet.h>
#include <signal.h>
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"
#include "scratch_folder.h"
#include "support/ip_packet.h"
#include "support/link_frames.h"
#include "support/pcap_writer.h"
#include "table/traffic_list.h"
#include "ui/main_frame.h"
#include "ui/quorvel_view.h"
#include "ui/row_search.h"
#include "ui/search_box.h"

namespace {

constexpr int kConnections = 100000;
constexpr int kWarmUpSeconds = 3;
constexpr int kMeasuredSeconds = 10;

std::filesystem::path BenchFolder() { return ScratchFolder("quorvel-bench-view"); }

// One UDP frame of 300 bytes for each of kConnections connections.
std::string ConnectionsFile() {
  const std::string path = (BenchFolder() / "connections-100000.pcap").string();
  if (std::filesystem::exists(path)) return path;
  PcapWriter writer(path + ".part", DLT_EN10MB, 64);
  IpPacket packet;
  packet.protocol = 17;
  packet.totalLength = 300;
  packet.destinationPort = 53;
  for (std::uint32_t n = 0; n < kConnections; ++n) {
    packet.source = 0x0A000000u + (n >> 3);
    packet.destination = 0xC0A80001u + (n & 7);
    packet.sourcePort = static_cast<std::uint16_t>(20000 + n % 40000);
    const std::vector<std::uint8_t> frame = LinkFrame(DLT_EN10MB, packet.Bytes());
    writer.Write(frame.data(), 64, static_cast<std::uint32_t>(frame.size()));
  }
  writer.Close();
  std::filesystem::rename(path + ".part", path);
  return path;
}

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// A figure of /proc/self/status in kB ("VmRSS", "VmHWM"); 0 when missing.
long StatusKilobytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
  return 0;
}

// Starts the process's peak resident size over from its present size.
void ResetPeakResidentSize() { std::ofstream("/proc/self/clear_refs") << "5"; }

// The main window with its traffic view, over objects of its own.
struct Window {
  CSettings settings{(BenchFolder() / "quorvel.dat").string()};
  CTrafficList table{settings};
  CNSCashe names;
  CServicesParser services{""};
  std::unique_ptr<CMainFrame> frame;
  CQuorvelView* view = nullptr;

  Window() {
    settings.idlemsec = 60000;
    AppContext context{table, names, services, settings};
    context.findAdapters = [] { return std::vector<AdapterItem>{}; };
    frame = std::make_unique<CMainFrame>(context);
    view = new CQuorvelView(context, *frame);
    frame->SetView(view, view);
    frame->resize(1000, 700);
    frame->show();
  }
};

// Copies `count` bytes, or to the end for -1.
void CopyBytes(std::FILE* from, std::FILE* to, long count) {
  char block[1 << 16];
  while (count != 0) {
    const std::size_t want = count < 0 ? sizeof block : std::min(sizeof block, static_cast<std::size_t>(count));
    const std::size_t got = std::fread(block, 1, want, from);
    if (got == 0) return;
    std::fwrite(block, 1, got, to);
    if (count > 0) count -= static_cast<long>(got);
  }
}

// Streams the file into a pipe: its header once, then all its packets once
// a second, `rounds` times; the capture thread reads the pipe as a file.
class PacedReplay {
 public:
  PacedReplay(const std::string& file, int rounds) : m_fifo((BenchFolder() / "replay.fifo").string()) {
    std::filesystem::remove(m_fifo);
    mkfifo(m_fifo.c_str(), 0600);
    // Read from the file each round, a block at a time: a copy of the whole
    // file held here would count as memory of the window.
    m_writer = std::thread([this, file, rounds] {
      std::FILE* pipe = std::fopen(m_fifo.c_str(), "wb");
      std::FILE* in = std::fopen(file.c_str(), "rb");
      if (pipe == nullptr || in == nullptr) return;
      constexpr long kFileHeader = 24;
      CopyBytes(in, pipe, kFileHeader);
      auto next = std::chrono::steady_clock::now();
      for (int round = 0; round < rounds && !m_stop; ++round) {
        std::fseek(in, kFileHeader, SEEK_SET);
        CopyBytes(in, pipe, -1);
        std::fflush(pipe);
        next += std::chrono::seconds(1);
        std::this_thread::sleep_until(next);
      }
      std::fclose(in);
      std::fclose(pipe);
    });
  }
  ~PacedReplay() {
    m_stop = true;
    m_writer.join();
    std::filesystem::remove(m_fifo);
  }
  const std::string& Path() const { return m_fifo; }

 private:
  std::string m_fifo;
  std::atomic<bool> m_stop{false};
  std::thread m_writer;
};

// Busy share of each second on the window's thread once the 100k rows are
// in, and the longest the event loop went without turning; with argument
// 1 while a search that shows one row in eight is active.
void BM_LiveRowsUpdatingEverySecond(benchmark::State& state) {
  const std::string file = ConnectionsFile();
  ResetPeakResidentSize();
  const long residentBefore = StatusKilobytes("VmRSS");
  for (auto _ : state) {
    Window window;
    if (state.range(0) == 1) window.frame->SearchBox()->setText(QStringLiteral("192.168.0.3"));
    PacedReplay replay(file, kWarmUpSeconds + kMeasuredSeconds + 1);
    std::string error;
    if (window.view->Session().StartReplay(replay.Path().c_str(), error) != 0) {
      state.SkipWithError(error.c_str());
      return;
    }
    std::vector<double> busy;
    double lastCpu = ThreadCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    qint64 lastWall = 0, lastTick = 0, longestStall = 0, longestStallWhileFilling = 0;
    QTimer sampler, ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      const qint64 now = wall.elapsed();
      qint64& longest = busy.size() >= static_cast<std::size_t>(kWarmUpSeconds) ? longestStall : longestStallWhileFilling;
      longest = std::max(longest, now - lastTick);
      lastTick = now;
    });
    QObject::connect(&sampler, &QTimer::timeout, [&] {
      const double cpu = ThreadCpuSeconds();
      const qint64 now = wall.elapsed();
      busy.push_back((cpu - lastCpu) / (static_cast<double>(now - lastWall) / 1000.0));
      lastCpu = cpu;
      lastWall = now;
      if (busy.size() == static_cast<std::size_t>(kWarmUpSeconds + kMeasuredSeconds)) QApplication::quit();
    });
    ticker.start(10);
    sampler.start(1000);
    QApplication::exec();
    window.view->Session().StopCapture();

    const std::vector<double> measured(busy.begin() + kWarmUpSeconds, busy.end());
    double sum = 0, worst = 0;
    for (const double b : measured) {
      sum += b;
      worst = std::max(worst, b);
    }
    state.counters["rows"] = window.view->Model().TotalRowCount();
    state.counters["rows_shown"] = window.view->Model().rowCount();
    // Every connection saw one packet a second: its packet count tells how
    // many rounds reached the list.
    state.counters["rounds_shown"] = std::atoi(window.view->Model().CellText(0, 6).c_str());
    state.counters["busy_mean_pct"] = 100.0 * sum / static_cast<double>(measured.size());
    state.counters["busy_max_pct"] = 100.0 * worst;
    state.counters["longest_stall_ms"] = static_cast<double>(longestStall);
    // While the first 100k rows come in.
    state.counters["longest_stall_filling_ms"] = static_cast<double>(longestStallWhileFilling);
    // The peak resident size the window and the engine added, per row.
    const long added = StatusKilobytes("VmHWM") - residentBefore;
    state.counters["peak_added_mib"] = static_cast<double>(added) / 1024.0;
    state.counters["peak_added_bytes_per_row"] = 1024.0 * static_cast<double>(added) / window.view->Model().TotalRowCount();
  }
}
BENCHMARK(BM_LiveRowsUpdatingEverySecond)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

// 100k rows as the capture writes them: distinct source addresses, one in
// four shown by a host name, a few destinations, ports and amounts all
// over the place.
void FillRows(CQuorvelView& view, TrafficDisplay& display) {
  std::mt19937 random(5);
  TrafficEntry entry;
  char text[32];
  for (int n = 0; n < kConnections; ++n) {
    entry.key.sourceAddress = htonl(0x0A000000u + static_cast<std::uint32_t>(n));
    if (n % 4 == 0)
      std::snprintf(text, sizeof text, "host-%d.example", n);
    else
      std::snprintf(text, sizeof text, "10.%d.%d.%d", n >> 16, (n >> 8) & 255, n & 255);
    const int row = display.InsertRow(n, text, entry, Ipv4EndpointsOf(entry.key));
    std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(random() % 65536));
    display.SetCellText(row, 1, text);
    display.SetCellText(row, 2, n % 2 ? "192.168.0.1" : "192.168.0.2");
    display.SetCellText(row, 4, n % 3 ? "TCP" : "UDP");
    std::snprintf(text, sizeof text, "%u.%02u Kb", static_cast<unsigned>(random() % 100000), static_cast<unsigned>(random() % 100));
    display.SetCellText(row, 5, text);
  }
  view.Drain();
  // A user's selection, which a sort carries along.
  for (int row = 0; row < 10; ++row) view.selectRow(row * 997);
}

// One click's sort of 100k rows, from the order another column left.
void BM_SortRows(benchmark::State& state) {
  Window window;
  FillRows(*window.view, *window.table.Display());
  const int column = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    window.view->SortByColumn(column == 1 ? 5 : 1, true);
    QApplication::processEvents();
    state.ResumeTiming();
    window.view->OnColumnClick(column);
    QApplication::processEvents();
  }
  state.counters["rows"] = window.view->Model().rowCount();
}
// Source address (text, every one distinct), source port and traffic
// (numbers), protocol (text, two values).
BENCHMARK(BM_SortRows)->Arg(0)->Arg(1)->Arg(5)->Arg(4)->Unit(benchmark::kMillisecond);

// The pass after a burst of connections went quiet: every other row of 100k
// expires at once, as many separate removals as rows.
void BM_DrainScatteredExpiry(benchmark::State& state) {
  Window window;
  TrafficDisplay& display = *window.table.Display();
  for (auto _ : state) {
    state.PauseTiming();
    FillRows(*window.view, display);
    state.ResumeTiming();
    for (int row = 0; row < display.ItemCount(); ++row) display.DeleteRow(row);
    window.view->Drain();
    QApplication::processEvents();
    state.PauseTiming();
    display.DeleteAllRows();
    window.view->Drain();
    state.ResumeTiming();
  }
  state.counters["rows_left"] = window.view->Model().rowCount();
}
BENCHMARK(BM_DrainScatteredExpiry)->Unit(benchmark::kMillisecond)->Iterations(3);

// One keystroke in the search box over 100k rows, as the user types it:
// from the text before to the text after, through the box's signal, the
// model and the view, until the window has painted. The first letter and a
// deleted one look at every row; a letter more looks at the rows shown.
struct Keystroke {
  const char* before;
  const char* after;
};
const Keystroke kKeystrokes[] = {
    {"", "h"},               // the first letter: one row in four matches
    {"host-1", "host-12"},   // narrowing
    {"host-12", "host-1"},   // a letter deleted: every row again
    {"10.1", "10.1 udp"},    // a second word
    {"udp", ""},             // the search emptied: every row back
};

void BM_SearchKeystroke(benchmark::State& state) {
  Window window;
  FillRows(*window.view, *window.table.Display());
  const Keystroke& keystroke = kKeystrokes[state.range(0)];
  QLineEdit& box = *window.frame->SearchBox();
  box.setText(QString::fromLatin1(keystroke.after));  // the rows' search texts are built once
  for (auto _ : state) {
    state.PauseTiming();
    box.setText(QString::fromLatin1(keystroke.before));
    QApplication::processEvents();
    state.ResumeTiming();
    box.setText(QString::fromLatin1(keystroke.after));
    QApplication::processEvents();
  }
  state.counters["rows"] = window.view->Model().TotalRowCount();
  state.counters["rows_shown"] = window.view->Model().rowCount();
}
BENCHMARK(BM_SearchKeystroke)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

// The same keystrokes through a sorting and filtering proxy over the list's
// model, shown in a table of its own, with the same matching over search
// texts made beforehand: what a proxy would cost in place of the model's
// own filter.
class ProxySearch : public QSortFilterProxyModel {
 public:
  explicit ProxySearch(const CTrafficModel& model) {
    for (int row = 0; row < model.rowCount(); ++row) {
      TrafficRow copy;
      copy.endpoints = model.EndpointsAt(row);
      for (int column = 0; column < TrafficDisplay::kColumnCount; ++column) copy.cells[column] = model.CellText(row, column);
      m_texts.push_back(SearchTextOf(copy));
    }
  }
  void SetSearch(const char* text) {
    m_search = RowSearch(QString::fromLatin1(text));
    invalidateFilter();
  }

 protected:
  bool filterAcceptsRow(int row, const QModelIndex&) const override { return m_search.Matches(m_texts[row]); }

 private:
  std::vector<std::string> m_texts;
  RowSearch m_search;
};

void BM_SearchKeystrokeThroughProxy(benchmark::State& state) {
  Window window;
  FillRows(*window.view, *window.table.Display());
  ProxySearch proxy(window.view->Model());
  proxy.setSourceModel(&window.view->Model());
  QTableView table;
  table.setModel(&proxy);
  table.resize(1000, 600);
  table.show();
  const Keystroke& keystroke = kKeystrokes[state.range(0)];
  for (auto _ : state) {
    state.PauseTiming();
    proxy.SetSearch(keystroke.before);
    QApplication::processEvents();
    state.ResumeTiming();
    proxy.SetSearch(keystroke.after);
    QApplication::processEvents();
  }
  state.counters["rows_shown"] = proxy.rowCount();
}
BENCHMARK(BM_SearchKeystrokeThroughProxy)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

// The first search after 100k rows came in: every row's search text is
// built as it is looked at.
void BM_FirstSearch(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto window = std::make_unique<Window>();
    FillRows(*window->view, *window->table.Display());
    QApplication::processEvents();
    state.ResumeTiming();
    window->frame->SearchBox()->setText(QStringLiteral("h"));
    QApplication::processEvents();
    state.PauseTiming();
    window.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_FirstSearch)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  // The pipe's writer learns of a reader that has gone from its write's
  // error, not from a signal that ends the program.
  signal(SIGPIPE, SIG_IGN);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
