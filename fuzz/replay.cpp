// Capture-file replay: the capture library's offline reader over any
// bytes, and the frames it hands out through the capture engine.
//
// Every file is first read record by record from memory, each frame going
// through the link layer and the table. A file that opens is then replayed
// by the engine itself, on its capture thread with its passes, and must
// end with the same records, totals and connections; where the library
// found a read error, the engine must have stopped there and said so.
#include <pcap/pcap.h>

#include <cstdio>
#include <string>

#include "capture/capture_session.h"
#include "config/settings.h"
#include "fuzz_input.h"
#include "packet/link_layer.h"
#include "packet/packet_parser.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"
#include "table/traffic_list.h"

namespace {

// One engine for every input, as a monitor has for every replay: each
// replay starts afresh on the same session and table, as a new Start does.
// The table the reader fills is emptied the same way.
struct Engine {
  CSettings settings{"/nonexistent/quorvel-fuzz/settings.dat"};
  CNSCashe hostNames;
  CServicesParser services{"/nonexistent/quorvel-fuzz/services"};
  CTrafficList read{settings};
  CTrafficList replayed{settings};
  CaptureSession session{replayed, settings, hostNames, services};
};

Engine& TheEngine() {
  static Engine engine;
  return engine;
}

struct Reading {
  bool opened = false;
  bool readError = false;
  std::uint64_t records = 0;
};

// Reads the file from memory the way the engine does, one frame at a time.
Reading ReadEveryRecord(const std::uint8_t* data, std::size_t size, CTrafficList& table) {
  Reading reading;
  std::FILE* memory = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
  if (memory == nullptr) return reading;
  char error[PCAP_ERRBUF_SIZE] = {};
  pcap_t* file = pcap_fopen_offline(memory, error);  // owns the stream from here on
  if (file == nullptr) {
    std::fclose(memory);
    return reading;
  }
  reading.opened = true;
  const int linkType = pcap_datalink(file);
  pcap_pkthdr* header = nullptr;
  const u_char* frame = nullptr;
  PacketParser parser;
  ParsedPacket packet;
  int result;
  while ((result = pcap_next_ex(file, &header, &frame)) == 1) {
    ++reading.records;
    const int offset = NetworkLayerOffset(linkType, frame, header->caplen);
    if (offset < 0 || header->caplen <= static_cast<bpf_u_int32>(offset)) continue;
    const auto seconds = static_cast<std::uint32_t>(header->ts.tv_sec);
    if (parser.Parse(frame + offset, header->caplen - offset, seconds, packet)) table.AccountPacket(packet);
  }
  pcap_close(file);
  reading.readError = result != PCAP_ERROR_BREAK;  // else the end of the file
  return reading;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::ScratchFile file("replay.pcap");
  Engine& engine = TheEngine();
  engine.settings.idlemsec = 0xFFFFFFFF;
  CTrafficList& read = engine.read;
  read.RemoveAll();
  read.Totals() = CaptureTotals();
  const Reading reading = ReadEveryRecord(data, size, read);
  if (!reading.opened) return 0;

  file.Write(data, size);
  CTrafficList& replayed = engine.replayed;
  CaptureSession& session = engine.session;
  std::string error;
  fuzz::Check(session.StartReplay(file.Path().c_str(), error) == 0, "a file read from memory did not open");
  session.WaitForThreadEnd();
  const CaptureSession::ReplayResult result = session.FileReadResult();
  CaptureTotals totals;
  {
    std::lock_guard lock(replayed.TableLock());
    totals = replayed.Totals();
  }
  session.StopCapture();
  fuzz::Check(totals.packets == read.Totals().packets && totals.totalBytes == read.Totals().totalBytes,
              "the engine counted other packets than the reader");
  fuzz::Check(replayed.EntryCount() == read.EntryCount(), "the engine found other connections");
  fuzz::Check(result.records == reading.records, "the engine read other records than the reader");
  fuzz::Check(!reading.readError || !result.error.empty(), "the engine said nothing of a read error");
  return 0;
}
