// Capture-file replay: the capture library's offline reader over any
// bytes, and the frames it hands out through the capture engine.
//
// Every file is first read record by record from memory, each frame going
// through the link layer and the table. A file that reads without error is
// then replayed by the engine itself, on its capture thread with its
// passes, and must end with the same totals. A file with a read error is
// not: until a read error ends a replay at once, the engine pauses after
// each one as it would on a failing adapter, and a fuzzer's damaged files
// would spend their time in that pause.
#include <pcap/pcap.h>

#include <cstdio>
#include <string>

#include "capture/capture_session.h"
#include "capture/link_layer.h"
#include "capture/traffic_list.h"
#include "config/settings.h"
#include "fuzz_input.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"

namespace {

constexpr std::uint8_t kIpv4With20ByteHeader = 0x45;

struct Engine {
  CSettings settings{"/nonexistent/quorvel-fuzz/settings.dat"};
  CNSCashe hostNames;
  CServicesParser services{"/nonexistent/quorvel-fuzz/services"};
};

Engine& TheEngine() {
  static Engine engine;
  return engine;
}

// Reads the file from memory the way the engine does, one frame at a time;
// false when the library reported a read error.
bool ReadEveryRecord(const std::uint8_t* data, std::size_t size, CTrafficList& table) {
  std::FILE* memory = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
  if (memory == nullptr) return false;
  char error[PCAP_ERRBUF_SIZE] = {};
  pcap_t* file = pcap_fopen_offline(memory, error);  // owns the stream from here on
  if (file == nullptr) {
    std::fclose(memory);
    return false;
  }
  const int linkType = pcap_datalink(file);
  pcap_pkthdr* header = nullptr;
  const u_char* frame = nullptr;
  int result;
  while ((result = pcap_next_ex(file, &header, &frame)) == 1) {
    const int offset = NetworkLayerOffset(linkType, frame, header->caplen);
    if (offset < 0 || header->caplen <= static_cast<bpf_u_int32>(offset)) continue;
    if (frame[offset] == kIpv4With20ByteHeader) table.AccountPacket(frame + offset, header->caplen - offset);
  }
  pcap_close(file);
  return result == PCAP_ERROR_BREAK;  // the end of the file
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::ScratchFile file("replay.pcap");
  Engine& engine = TheEngine();
  engine.settings.idlemsec = 0xFFFFFFFF;
  CTrafficList read(engine.settings);
  if (!ReadEveryRecord(data, size, read)) return 0;

  file.Write(data, size);
  CTrafficList replayed(engine.settings);
  CaptureSession session(replayed, engine.settings, engine.hostNames, engine.services);
  std::string error;
  fuzz::Check(session.StartReplay(file.Path().c_str(), error) == 0, "a file read from memory did not open");
  session.WaitForThreadEnd();
  CaptureTotals totals;
  {
    std::lock_guard lock(replayed.TableLock());
    totals = replayed.Totals();
  }
  session.StopCapture();
  fuzz::Check(totals.packets == read.Totals().packets && totals.totalBytes == read.Totals().totalBytes,
              "the engine counted other packets than the reader");
  fuzz::Check(replayed.EntryCount() == read.EntryCount(), "the engine found other connections");
  return 0;
}
