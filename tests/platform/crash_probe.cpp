// The program's start with its process-wide objects, the crash handler
// first, and the threads a fault may come from: the main thread, a capture
// thread (replaying an empty capture file) and a resolver thread (looking
// up the loopback address). The crash tests make them fault through the
// handler's test hook. With the argument "exit-early", main returns as soon
// as the report file exists, while the fault is still being reported.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pcap/dlt.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "capture/capture_session.h"
#include "config/settings.h"
#include "platform/app_files.h"
#include "platform/crash_handler.h"
#include "resolve/ns_cashe.h"
#include "support/pcap_writer.h"
#include "ui/crash_message.h"
#include "ui/process_objects.h"

namespace {

constexpr auto kPatience = std::chrono::seconds(30);
constexpr int kNoFaultCame = 3;

void WaitUntilReportExists() {
  const auto until = std::chrono::steady_clock::now() + kPatience;
  while (!std::filesystem::exists(platform::CrashReportFilePath()) && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace

int main(int argc, char* argv[]) {
  ShowCrashMessageIfAsked(argc, argv);
  platform::PrepareThreadForCrashReport(platform::ThreadRole::kMain);

  const std::string capture = platform::SiblingPath(platform::ExecutablePath(), "empty.pcap");
  { PcapWriter writer(capture, DLT_EN10MB); }
  // Never destroyed: a capture thread that faulted never ends.
  auto* session = new CaptureSession(theTrafficList, theSettings, theNameCache, theServices);
  std::string error;
  session->StartReplay(capture.c_str(), error);
  theNameCache.SetResolve(1);
  theNameCache.Lookup(htonl(INADDR_LOOPBACK));

  if (argc > 1 && std::strcmp(argv[1], "exit-early") == 0) {
    WaitUntilReportExists();
    return 0;
  }
  std::this_thread::sleep_for(kPatience);
  return kNoFaultCame;
}
