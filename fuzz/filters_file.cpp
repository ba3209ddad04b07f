// libFuzzer harness: filters.dat as the filter store reads and writes it.
//
// Whatever the file holds, loading it never fails; every expression kept
// is one a line of the file can hold; what the store writes reads back as
// the same filters; and the filters a capture would be given, combined,
// compile whenever each of them compiles on its own.
#include <pcap/dlt.h>
#include <sched.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "filters/compiled_filter.h"
#include "filters/filter_capture.h"
#include "filters/filter_manager.h"

namespace {

// More enabled filters than this are not compiled: the library's compiler
// would take the time the fuzzer should spend on the file's form.
constexpr std::size_t kMostCompiled = 8;

// Compiling looks names up ("host example"): in a network namespace of
// the harness's own, with no network, so that no lookup ever leaves the
// machine. Where one cannot be made, nothing is compiled.
bool g_compileNames = false;

void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

std::string ScratchPath(const char* name) {
  const char* folder = std::getenv("TMPDIR");
  return std::string(folder != nullptr ? folder : "/tmp") + "/quorvel-fuzz-" + std::to_string(getpid()) + "-" + name;
}

class RecordingCapture : public FilterCapture {
 public:
  bool Monitoring() const override { return true; }
  int LinkType() const override { return DLT_EN10MB; }
  void InstallFilter(const std::string& expression) override { installed.push_back(expression); }
  std::vector<std::string> installed;
};

struct Filter {
  std::string text;
  bool enabled;
  bool operator==(const Filter&) const = default;
};

std::vector<Filter> Loaded(CFilterManager& store) {
  store.Load();
  std::vector<Filter> filters;
  for (const FilterEntry& entry : store.Entries()) filters.push_back({entry.text, entry.enabled});
  return filters;
}

void CheckKeptTexts(const std::vector<Filter>& filters) {
  for (const Filter& filter : filters) {
    Check(filter.text.size() <= CFilterManager::kMaxTextLength, "an expression longer than a line holds");
    Check(filter.text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos,
          "an expression with a line end or a NUL");
  }
}

// A filter of 499 characters without a flag is written as a line of 500,
// which reads back as two: the file's own limit, left as it is.
void CheckWrittenReadsBack(CFilterManager& store, const std::vector<Filter>& filters) {
  std::vector<Filter> expected;
  for (const Filter& filter : filters) {
    if (filter.text.size() >= CFilterManager::kMaxTextLength) return;
    if (!filter.text.empty()) expected.push_back(filter);
  }
  store.Save();
  CFilterManager reread(store.Path());
  Check(Loaded(reread) == expected, "what was written reads back otherwise");
}

void CheckCombinationCompiles(CFilterManager& store, const std::vector<Filter>& filters) {
  if (!g_compileNames) return;
  std::size_t enabled = 0;
  for (const Filter& filter : filters) enabled += filter.enabled ? 1 : 0;
  if (enabled == 0 || enabled > kMostCompiled) return;
  RecordingCapture capture;
  store.SetCapture(&capture);
  store.Apply(0);
  store.SetCapture(nullptr);
  Check(capture.installed.size() == 1, "an effective Apply gives the capture one filter");
  CompiledFilter combined;
  std::string error;
  Check(combined.Compile(capture.installed[0], DLT_EN10MB, error), "the combined filters do not compile");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_compileNames = unshare(CLONE_NEWNET) == 0 || unshare(CLONE_NEWUSER | CLONE_NEWNET) == 0;
  if (!g_compileNames) std::fprintf(stderr, "filters_file: no network namespace of its own; filters are not compiled\n");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = ScratchPath("filters.dat");
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                static_cast<std::streamsize>(size));
  CFilterManager store(path);
  const std::vector<Filter> filters = Loaded(store);
  CheckKeptTexts(filters);
  CheckCombinationCompiles(store, filters);
  CheckWrittenReadsBack(store, filters);
  std::remove(path.c_str());
  return 0;
}
