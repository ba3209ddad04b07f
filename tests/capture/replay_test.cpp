// The capture engine reading capture files that the tests write: every link
// type Linux hands out, frames that are not IPv4, and frames cut short.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_session.h"
#include "log/packet_log.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"
#include "support/ip6_packet.h"
#include "support/ip_packet.h"
#include "support/link_frames.h"
#include "support/pcap_writer.h"
#include "support/settings_fixture.h"
#include "table/memory_traffic_display.h"
#include "table/traffic_list.h"

namespace {

class ReplayTest : public SettingsFixture {
 protected:
  ReplayTest() {
    Settings().idlemsec = std::numeric_limits<std::uint32_t>::max();
    m_list.SetDisplay(&m_display);
  }

  std::string File(const char* name) const { return (Folder() / name).string(); }

  // Replays the file and returns the totals the capture ended with.
  CaptureTotals Replay(const std::string& path) {
    std::string error;
    EXPECT_EQ(m_session.StartReplay(path.c_str(), error), 0) << error;
    m_session.WaitForThreadEnd();
    CaptureTotals totals = m_list.Totals();
    m_session.StopCapture();
    return totals;
  }

  CNSCashe m_hostNames;
  CServicesParser m_services{File("none")};
  MemoryTrafficDisplay m_display;
  CTrafficList m_list{Settings()};
  CaptureSession m_session{m_list, Settings(), m_hostNames, m_services};
};

std::vector<std::uint8_t> Packet(std::uint8_t protocol, std::uint16_t totalLength, std::uint16_t port = 80) {
  IpPacket packet;
  packet.protocol = protocol;
  packet.totalLength = totalLength;
  packet.destinationPort = port;
  return packet.Bytes();
}

struct LinkCase {
  const char* name;
  int linkType;
  int vlanTags;
};

// IPv4 with and without options, and IPv6, on every link type; a frame too
// short for its link header is skipped.
TEST_F(ReplayTest, CountsIpOnEveryLinkTypeAndSkipsEverythingElse) {
  const LinkCase cases[] = {
      {"ethernet", DLT_EN10MB, 0},   {"802.1Q", DLT_EN10MB, 1}, {"802.1ad + 802.1Q", DLT_EN10MB, 2},
      {"token ring", DLT_IEEE802, 0}, {"cooked", DLT_LINUX_SLL, 0}, {"cooked v2", DLT_LINUX_SLL2, 0},
      {"raw", DLT_RAW, 0},           {"ipv4", DLT_IPV4, 0},     {"bsd loopback", DLT_NULL, 0},
      {"openbsd loopback", DLT_LOOP, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = File("link.pcap");
    {
      PcapWriter writer(path, c.linkType);
      ASSERT_TRUE(writer.IsOpen());
      writer.Write(LinkFrame(c.linkType, Packet(6, 1000), 0x0800, c.vlanTags));
      writer.Write(LinkFrame(c.linkType, Packet(17, 200, 53), 0x0800, c.vlanTags));
      writer.Write(LinkFrame(c.linkType, Packet(6, 1000), 0x0800, c.vlanTags));
      IpPacket withOptions;
      withOptions.headerWords = 6;  // a router alert
      withOptions.protocol = 2;
      withOptions.totalLength = 32;
      writer.Write(LinkFrame(c.linkType, withOptions.Bytes(), 0x0800, c.vlanTags));
      Ip6Packet ipv6;
      ipv6.protocol = 17;
      ipv6.payloadLength = 100;
      writer.Write(LinkFrame(c.linkType, ipv6.Bytes(), 0x86DD, c.vlanTags));
      writer.Write(std::vector<std::uint8_t>{0x45});  // shorter than any link header but raw
    }
    const CaptureTotals totals = Replay(path);
    EXPECT_EQ(totals.packets, 5u);
    EXPECT_EQ(totals.totalBytes, 2200u + 32u + 140u);
    EXPECT_EQ(totals.dataBytes, 2 * 960u + 172u + (32u - 28u) + (140u - 48u));
    ASSERT_EQ(m_list.EntryCount(), 4u);
    EXPECT_EQ(m_list.Entry(0).packets, 2u);
    EXPECT_EQ(m_list.Entry(1).key.destinationPort, htons(53));
    EXPECT_EQ(m_list.Entry(2).key.protocol, 2);
    EXPECT_EQ(m_list.Entry(3).key.ipv6, 1);
    char text[IpAddress::kTextSize];
    EXPECT_STREQ(FormatIpAddress(m_list.EndpointsOf(m_list.Entry(3).key).destination, text), "2001:db8::2");
  }
}

TEST_F(ReplayTest, FramesCutShortAreCountedByTheirIpLengthOrSkipped) {
  const std::string path = File("short.pcap");
  {
    PcapWriter writer(path, DLT_EN10MB);
    const auto whole = LinkFrame(DLT_EN10MB, Packet(17, 1400, 5000));
    // Cut by the snap length inside the payload: counted as it was on the wire.
    writer.Write(whole.data(), 14 + 64, 14 + 1400);
    // Cut inside the ports: counted, the missing port bytes read as zero.
    writer.Write(whole.data(), 14 + 22, 14 + 1400);
    // Cut inside the IP header, or inside the link header: skipped.
    writer.Write(whole.data(), 14 + 19, 14 + 1400);
    writer.Write(whole.data(), 10, 14 + 1400);
    std::vector<std::uint8_t> tagged = LinkFrame(DLT_EN10MB, Packet(17, 1400), 0x0800, 1);
    writer.Write(tagged.data(), 16, 18 + 1400);  // the tag itself is cut
  }
  const CaptureTotals totals = Replay(path);
  EXPECT_EQ(totals.packets, 2u);
  EXPECT_EQ(totals.totalBytes, 2800u);
  ASSERT_EQ(m_list.EntryCount(), 2u);
  EXPECT_EQ(m_list.Entry(0).key.destinationPort, htons(5000));
  EXPECT_EQ(m_list.Entry(1).key.destinationPort, 0);
}

// Whatever bytes arrive, nothing is read past a frame and every counted
// packet lands in exactly one connection.
TEST_F(ReplayTest, RandomFramesOnEveryLinkTypeKeepTheCountsConsistent) {
  std::mt19937 random(2024);
  for (const int linkType : {DLT_EN10MB, DLT_IEEE802, DLT_LINUX_SLL, DLT_LINUX_SLL2, DLT_RAW, DLT_NULL}) {
    const std::string path = File("random.pcap");
    {
      PcapWriter writer(path, linkType);
      for (int n = 0; n < 3000; ++n) {
        std::vector<std::uint8_t> frame(random() % 80);
        for (auto& byte : frame) byte = static_cast<std::uint8_t>(random());
        // Often put an IPv4 start where a reader would look for one.
        const std::size_t at = random() % 24;
        if (at < frame.size() && random() % 2) frame[at] = 0x45;
        writer.Write(frame, static_cast<std::uint32_t>(frame.size() + random() % 1500));
      }
    }
    const CaptureTotals totals = Replay(path);
    std::uint64_t packets = 0;
    for (std::size_t i = 0; i < m_list.EntryCount(); ++i) packets += m_list.Entry(i).packets;
    EXPECT_EQ(packets, totals.packets) << linkType;
    EXPECT_GE(totals.totalBytes, totals.dataBytes);
  }
}

TEST_F(ReplayTest, UnknownLinkTypeCountsNothing) {
  const std::string path = File("wifi.pcap");
  {
    PcapWriter writer(path, DLT_IEEE802_11_RADIO);
    writer.Write(LinkFrame(DLT_RAW, Packet(6, 1000)));
  }
  EXPECT_EQ(Replay(path).packets, 0u);
}

TEST_F(ReplayTest, StartAfterReplayBeginsAFreshTable) {
  const std::string path = File("twice.pcap");
  {
    PcapWriter writer(path, DLT_RAW);
    writer.Write(Packet(6, 500));
  }
  Replay(path);
  m_list.Entry(0).packets = 99;
  EXPECT_EQ(Replay(path).packets, 1u);
  ASSERT_EQ(m_list.EntryCount(), 1u);
  EXPECT_EQ(m_list.Entry(0).packets, 1u);
  EXPECT_EQ(m_list.Totals().packets, 0u) << "a stop clears the counters";
}

std::string RunReplay(const std::string& arguments, int& exitCode, const std::string& errorFile) {
  const std::string command = std::string(QUORVEL_REPLAY) + " " + arguments + " 2>" + errorFile;
  FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  exitCode = WEXITSTATUS(pclose(pipe));
  return output;
}

std::string ReadFile(const std::string& path) {
  std::string text;
  if (FILE* file = std::fopen(path.c_str(), "r")) {
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, file)) text.append(buffer, n);
    std::fclose(file);
  }
  return text;
}

// The capture thread reads frames from a pipe and waits in the middle of a
// read for more; the log is switched on then. Every frame read after that
// is logged, although the read began while no log was open.
TEST_F(ReplayTest, LogSwitchedOnDuringAReadGetsEveryFrameReadAfterIt) {
  const std::string pipe = File("frames.pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  CPacketLog log(Settings(), m_list.TableLock());
  m_list.SetPacketLog(&log);
  m_session.SetPacketLog(&log);
  Settings().logtype = 7;  // one line per packet, ending in its destination port
  auto udp = [](std::uint16_t port) { return Packet(17, 100, port); };

  std::promise<void> switched;
  std::thread writer([&] {
    PcapWriter frames(pipe, DLT_RAW);  // waits for the reader
    for (std::uint16_t port = 1; port <= 10; ++port) frames.Write(udp(port));
    frames.Flush();
    switched.get_future().wait();
    for (std::uint16_t port = 11; port <= 20; ++port) frames.Write(udp(port));
  });
  std::string error;
  const bool started = m_session.StartReplay(pipe.c_str(), error) == 0;
  EXPECT_TRUE(started) << error;
  const std::string logPath = File("switched-on.log");
  if (started) {
    // Time for the thread to take the first ten and wait for more, inside
    // one read; the switch comes then. (A slower thread only makes the
    // test easier to pass.)
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(log.ReplaceLog(logPath.c_str(), true), 0);
  }
  switched.set_value();
  writer.join();
  if (!started) return;
  m_session.WaitForThreadEnd();
  EXPECT_EQ(m_list.Totals().packets, 20u);
  m_session.StopCapture();
  m_session.SetPacketLog(nullptr);
  m_list.SetPacketLog(nullptr);

  // Without their time stamps; the first ten may be there or not, as they
  // were taken before the switch but counted after it.
  std::vector<std::string> records;
  std::istringstream lines(ReadFile(logPath));
  for (std::string line; std::getline(lines, line);) records.push_back(line.substr(line.find(';', 11) + 1));
  std::vector<std::string> expected;
  for (int port = 11; port <= 20; ++port) expected.push_back("UDP;72;10.0.0.1;1024;10.0.0.2;" + std::to_string(port) + "\r");
  ASSERT_GE(records.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(records.end() - 10, records.end()), expected);
}


TEST_F(ReplayTest, ReplayToolPrintsConnectionsAndASummary) {
  const std::string path = File("tool.pcap");
  {
    PcapWriter writer(path, DLT_EN10MB);
    writer.Write(LinkFrame(DLT_EN10MB, Packet(6, 1000)));
    writer.Write(LinkFrame(DLT_EN10MB, Packet(17, 100, 53)));
    writer.Write(LinkFrame(DLT_EN10MB, Packet(6, 1000)));
  }
  int exitCode = -1;
  const std::string errors = File("errors.txt");
  EXPECT_EQ(RunReplay("'" + path + "'", exitCode, errors),
            "src,sport,dst,dport,proto,bytes,packets\n"
            "10.0.0.1,1024,10.0.0.2,80,6,2000,2\n"
            "10.0.0.1,1024,10.0.0.2,53,17,100,1\n");
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(ReadFile(errors).rfind("packets=3 data=1992 total=2100 connections=2 seconds=", 0), 0u)
      << ReadFile(errors);

  EXPECT_NE(RunReplay("--idle 30 '" + path + "'", exitCode, errors), "");
  EXPECT_EQ(exitCode, 0);
  RunReplay("--idle soon '" + path + "'", exitCode, errors);
  EXPECT_EQ(exitCode, 2);
  EXPECT_EQ(RunReplay("'" + File("missing.pcap") + "'", exitCode, errors), "");
  EXPECT_EQ(exitCode, 1);
  // The one line of the library's message and nothing else: a memory
  // error report while the tool winds down would add its own.
  const std::string message = ReadFile(errors);
  EXPECT_EQ(message.rfind("quorvel-replay: ", 0), 0u) << message;
  EXPECT_NE(message.find("missing.pcap"), std::string::npos) << message;
  EXPECT_EQ(message.find('\n'), message.size() - 1) << message;
}

// A file's connections leave at its end, each a line of the --closed file
// appended to what was there; --format csv prints the export's columns.
TEST_F(ReplayTest, ReplayToolStreamsTheConnectionsLeftAtTheEnd) {
  const std::string path = File("closed.pcap");
  {
    PcapWriter writer(path, DLT_RAW);
    writer.Write(Packet(6, 1000));
    writer.Write(Packet(17, 100, 53));
    writer.Write(Packet(6, 1000));
  }
  const std::string closed = File("closed.jsonl");
  { std::ofstream(closed) << "{\"earlier\":true}\n"; }
  int exitCode = -1;
  const std::string output = RunReplay("--format csv --closed '" + closed + "' '" + path + "'", exitCode, File("e"));
  EXPECT_EQ(exitCode, 0) << ReadFile(File("e"));
  EXPECT_EQ(output.rfind("src,sport,dst,dport,proto,bytes,packets,first_seen,last_seen,duration\n"
                         "10.0.0.1,1024,10.0.0.2,80,6,2000,2,",
                         0),
            0u)
      << output;
  const std::string lines = ReadFile(closed);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 3) << lines;
  EXPECT_EQ(lines.rfind("{\"earlier\":true}\n{\"src\":\"10.0.0.1\",\"sport\":1024,\"dst\":\"10.0.0.2\",\"dport\":80,"
                        "\"proto\":6,\"bytes\":2000,\"packets\":2,",
                        0),
            0u)
      << lines;
  EXPECT_NE(lines.find("\"bytes\":100,\"packets\":1,"), std::string::npos) << lines;
  int ends = 0;
  for (std::size_t at = 0; (at = lines.find("\"reason\":\"end\"}\n", at)) != std::string::npos; ++at) ++ends;
  EXPECT_EQ(ends, 2) << lines;
}

TEST_F(ReplayTest, ReplayToolLogsEveryReplayedPacket) {
  const std::string path = File("logged.pcap");
  {
    PcapWriter writer(path, DLT_RAW);
    for (int n = 0; n < 3; ++n) writer.Write(Packet(17, 100, 53));
  }
  int exitCode = -1;
  const std::string log = File("packets.csv");
  RunReplay("--log 7 '" + log + "' '" + path + "'", exitCode, File("errors.txt"));
  EXPECT_EQ(exitCode, 0);
  const std::string records = ReadFile(log);
  EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), 3) << records;
}

// The replay takes what the enabled filters of a file accept, any of them,
// as a capture would: checked for the file's link type, a filter that does
// not compile left out.
TEST_F(ReplayTest, ReplayToolAppliesAFileOfFilters) {
  struct Case {
    const char* name;
    int linkType;
    const char* filters;
    const char* connections;
  } cases[] = {
      {"one", DLT_EN10MB, "+udp\r\n-tcp\r\n", "10.0.0.1,1024,10.0.0.2,53,17,100,1\n"},
      {"several", DLT_EN10MB, "+udp port 53\r\n+tcp port 80\r\n+icmp\r\n",
       "10.0.0.1,1024,10.0.0.2,80,6,2000,2\n10.0.0.1,1024,10.0.0.2,53,17,100,1\n"},
      {"none enabled", DLT_EN10MB, "; nothing on\r\n-udp\r\n",
       "10.0.0.1,1024,10.0.0.2,80,6,2000,2\n10.0.0.1,1024,10.0.0.2,53,17,100,1\n"},
      {"none compiles", DLT_EN10MB, "+udp and\r\n",
       "10.0.0.1,1024,10.0.0.2,80,6,2000,2\n10.0.0.1,1024,10.0.0.2,53,17,100,1\n"},
      {"an Ethernet filter on a file without link headers", DLT_RAW, "+ether host 02:00:00:00:00:01\r\n+udp\r\n",
       "10.0.0.1,1024,10.0.0.2,53,17,100,1\n"},
  };
  const std::string errors = File("errors.txt");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = File("filtered.pcap"), filters = File("filters.dat");
    {
      PcapWriter writer(path, c.linkType);
      writer.Write(LinkFrame(c.linkType, Packet(6, 1000)));
      writer.Write(LinkFrame(c.linkType, Packet(17, 100, 53)));
      writer.Write(LinkFrame(c.linkType, Packet(6, 1000)));
    }
    std::FILE* file = std::fopen(filters.c_str(), "wb");
    std::fputs(c.filters, file);
    std::fclose(file);
    int exitCode = -1;
    EXPECT_EQ(RunReplay("--filters '" + filters + "' '" + path + "'", exitCode, errors),
              std::string("src,sport,dst,dport,proto,bytes,packets\n") + c.connections);
    EXPECT_EQ(exitCode, 0) << ReadFile(errors);
  }
  int exitCode = -1;
  EXPECT_EQ(RunReplay("--filters '" + File("none.dat") + "' '" + File("filtered.pcap") + "'", exitCode, errors), "");
  EXPECT_EQ(exitCode, 1) << "a file of filters named but missing is an error, not an empty list";
  EXPECT_NE(ReadFile(errors).find("cannot read " + File("none.dat")), std::string::npos) << ReadFile(errors);
}

// Bytes of a capture file, built by hand where the library would refuse to
// write them.
class FileBytes {
 public:
  FileBytes& U16(std::uint16_t value) { return Add(&value, sizeof value); }
  FileBytes& U32(std::uint32_t value) { return Add(&value, sizeof value); }
  FileBytes& Add(const void* bytes, std::size_t count) {
    const auto* begin = static_cast<const std::uint8_t*>(bytes);
    m_bytes.insert(m_bytes.end(), begin, begin + count);
    return *this;
  }
  FileBytes& Add(const std::vector<std::uint8_t>& bytes) { return Add(bytes.data(), bytes.size()); }
  FileBytes& Cut(std::size_t count) {
    m_bytes.resize(m_bytes.size() - count);
    return *this;
  }
  void Save(const std::string& path) const {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(m_bytes.data(), 1, m_bytes.size(), file);
    std::fclose(file);
  }

 private:
  std::vector<std::uint8_t> m_bytes;
};

constexpr std::size_t kRecordHeaderBytes = 16;

FileBytes PcapFile() { return FileBytes().U32(0xa1b2c3d4).U16(2).U16(4).U32(0).U32(0).U32(262144).U32(DLT_RAW); }

FileBytes& PcapRecord(FileBytes& file, const std::vector<std::uint8_t>& frame, std::uint32_t capturedLength) {
  return file.U32(1).U32(0).U32(capturedLength).U32(static_cast<std::uint32_t>(frame.size())).Add(frame);
}

// The next-generation format: a section, one interface, enhanced packets.
FileBytes PcapngFile(int packets) {
  FileBytes file;
  file.U32(0x0a0d0d0a).U32(28).U32(0x1a2b3c4d).U16(1).U16(0).U32(0xffffffff).U32(0xffffffff).U32(28);
  file.U32(1).U32(20).U16(DLT_RAW).U16(0).U32(262144).U32(20);
  const std::vector<std::uint8_t> frame = Packet(17, 100, 53);  // a multiple of 4 bytes
  const auto blockLength = static_cast<std::uint32_t>(32 + frame.size());
  for (int n = 0; n < packets; ++n) {
    file.U32(6).U32(blockLength).U32(0).U32(0).U32(static_cast<std::uint32_t>(n));
    file.U32(static_cast<std::uint32_t>(frame.size())).U32(static_cast<std::uint32_t>(frame.size()));
    file.Add(frame).U32(blockLength);
  }
  return file;
}

// A damaged file ends the replay at once, with the library's message after
// the summary of what was read, and exit code 1; nothing read is lost and
// nothing damaged passes for a whole file.
TEST_F(ReplayTest, ReplayToolReportsADamagedFileAtOnce) {
  const std::vector<std::uint8_t> frame = Packet(17, 100, 53);
  auto records = [&](int count) {
    FileBytes file = PcapFile();
    for (int n = 0; n < count; ++n) PcapRecord(file, frame, static_cast<std::uint32_t>(frame.size()));
    return file;
  };
  FileBytes hugeLengths = records(2);
  for (int n = 0; n < 600; ++n) hugeLengths.U32(1).U32(0).U32(0x7fffffff).U32(0x7fffffff);
  struct Case {
    const char* name;
    FileBytes bytes;
    int exitCode;
    const char* summary;  // null: none, the file does not open
    const char* message;  // in the line after the summary
  } cases[] = {
      {"whole", records(3), 0, "packets=3 ", nullptr},
      {"bad magic", FileBytes().U32(0x12345678).Add(std::vector<std::uint8_t>(20)), 1, nullptr, "format"},
      {"huge captured lengths", hugeLengths, 1, "packets=2 ", "2147483647"},
      {"cut in a record header", records(3).U32(1).U32(0), 1, "packets=3 ", "truncated dump file"},
      {"cut in a record", records(3).Cut(10), 1, "packets=2 ", "truncated dump file"},
      {"pcapng", PcapngFile(3), 0, "packets=3 ", nullptr},
      {"pcapng cut in a block", PcapngFile(3).Cut(6), 1, "packets=2 ", "truncated"},
  };
  const std::string path = File("damaged.pcap"), errors = File("errors.txt");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.bytes.Save(path);
    int exitCode = -1;
    const auto start = std::chrono::steady_clock::now();
    const std::string connections = RunReplay("'" + path + "'", exitCode, errors);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(exitCode, c.exitCode);
    std::istringstream lines(ReadFile(errors));
    std::string summary, message, more;
    if (c.summary != nullptr) std::getline(lines, summary);
    std::getline(lines, message);
    EXPECT_FALSE(std::getline(lines, more)) << more;
    if (c.summary != nullptr) {
      EXPECT_EQ(summary.rfind(c.summary, 0), 0u) << summary;
      const std::string packets = summary.substr(8, summary.find(' ') - 8);
      EXPECT_NE(summary.find(" records=" + packets), std::string::npos) << summary;
      EXPECT_NE(connections.find("10.0.0.1,1024,10.0.0.2,53,17," + std::to_string(100 * std::stoi(packets))),
                std::string::npos)
          << connections;
    }
    if (c.message == nullptr) {
      EXPECT_EQ(message, "");
      continue;
    }
    EXPECT_EQ(message.rfind("quorvel-replay: ", 0), 0u) << message;
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
  }
}

// Our end of a FIFO that stands for a disk that stalls: the log's writes
// block once the pipe is full, until the FIFO is read. Should anything
// wait for the log after all, the FIFO is read from `kRescueAfter` on, so
// that the test fails instead of hanging; at the end it is read until the
// writer that was given up has finished.
class StalledDisk {
 public:
  static constexpr auto kRescueAfter = std::chrono::seconds(8);

  explicit StalledDisk(const std::string& path) {
    if (mkfifo(path.c_str(), 0600) == 0) m_fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    m_reader = std::thread([this, done = m_done.get_future()] {
      if (done.wait_for(kRescueAfter) == std::future_status::timeout) Drain();
      done.wait();
      Drain();
    });
  }
  ~StalledDisk() {
    m_done.set_value();
    m_reader.join();
    if (m_fd >= 0) close(m_fd);
  }
  bool Ready() const { return m_fd >= 0; }

 private:
  // Until nothing came for a while.
  void Drain() const {
    char bytes[65536];
    pollfd readable = {m_fd, POLLIN, 0};
    while (poll(&readable, 1, 500) > 0 && read(m_fd, bytes, sizeof bytes) > 0) {
    }
  }

  int m_fd = -1;
  std::promise<void> m_done;
  std::thread m_reader;
};

// The log's writes block for good; the capture counts every packet as if
// there were no log, drops the records that do not fit and counts them,
// and the window's Clear and Stop come back at once.
TEST_F(ReplayTest, ALogThatStallsHoldsUpNeitherTheCaptureNorClearNorStop) {
  using Clock = std::chrono::steady_clock;
  constexpr std::uint32_t kPackets = 20000;
  const std::string path = File("many.pcap");
  {
    PcapWriter writer(path, DLT_RAW);
    for (std::uint32_t n = 0; n < kPackets; ++n) writer.Write(Packet(17, 1400, static_cast<std::uint16_t>(n)));
  }
  const std::string logPath = File("stalled.log");
  StalledDisk disk(logPath);
  ASSERT_TRUE(disk.Ready());
  CPacketLog log(Settings(), m_list.TableLock());
  m_list.SetPacketLog(&log);
  m_session.SetPacketLog(&log);
  Settings().uselogfile = 1;
  Settings().logtype = 0;  // a dump of every byte: more than the FIFO and the buffer hold
  std::strcpy(Settings().logfile, logPath.c_str());

  std::string error;
  ASSERT_EQ(m_session.StartReplay(path.c_str(), error), 0) << error;
  const auto start = Clock::now();
  for (;;) {
    std::unique_lock lock(m_list.TableLock());
    if (m_list.Totals().packets == kPackets || Clock::now() - start > StalledDisk::kRescueAfter) break;
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << "the capture waited for the log";

  auto timed = [](auto&& action) {
    const auto before = Clock::now();
    action();
    return Clock::now() - before;
  };
  EXPECT_LT(timed([&] { m_list.RemoveAll(); }), std::chrono::milliseconds(500));
  EXPECT_LT(timed([&] { m_session.StopCapture(); }), std::chrono::milliseconds(500));
  EXPECT_GT(log.LostRecords(), 0u);
  EXPECT_LT(log.LostRecords(), kPackets);
  EXPECT_TRUE(Settings().uselogfile);  // logging stays on for the next capture
  m_session.SetPacketLog(nullptr);
  m_list.SetPacketLog(nullptr);
}

}  // namespace
