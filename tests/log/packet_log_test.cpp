#include "log/packet_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/local_time.h"
#include "platform/user_message.h"
#include "support/file_text.h"
#include "support/ip_packet.h"
#include "support/settings_fixture.h"
#include "table/traffic_list.h"

namespace {

using namespace std::string_literals;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uid_t kNobody = 65534;
constexpr platform::LocalTime kClock{2021, 5, 6, 4, 13, 45, 7, 83};

class RecordingSink : public platform::UserMessageSink {
 public:
  void ShowMessage(platform::MessageKind kind, const platform::UserMessage& message) override {
    messages.emplace_back(kind, message.Text());
  }
  std::vector<std::pair<platform::MessageKind, std::string>> messages;
};

void SetLogPath(CSettings& settings, const std::filesystem::path& path) {
  const std::string text = path.string();
  ASSERT_LT(text.size(), sizeof settings.logfile);
  std::strcpy(settings.logfile, text.c_str());
}

// A TCP packet of 52 bytes whose 12 payload bytes hold a line feed, the
// other bytes the character column replaces, and bytes from 0x80 up.
std::vector<std::uint8_t> SamplePacket() {
  IpPacket packet{0x0A000001, 0x0A000007, 80, 2301, 6, 52};
  std::vector<std::uint8_t> bytes = packet.Bytes();
  const std::uint8_t tail[] = {0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x50, 0x18,
                               0x20, 0x00, 0xab, 0xcd, 0x00, 0x00, 'H',  'i',  0x0a, 0x00,
                               0x07, 0x09, 'Z',  0x80, 0xff, 0x7f, 0x0d, '!'};
  std::memcpy(&bytes[24], tail, sizeof tail);
  return bytes;
}

struct Golden {
  int layout;
  std::string record;
};

// The record of SamplePacket() at kClock in each layout.
const std::vector<Golden>& SampleRecords() {
  static const std::vector<Golden> records = {
      {0,
       "\015\012"
       "[2021.05.06 - 13:45:07.083]\015\012"
       "Proto: TCP len: 52 10.0.0.1:80 -> 10.0.0.7:2301 \015\012"
       "\015\012"
       "00000000 45 00 00 34 00 00 00 00 40 06 00 00 0a 00 00 01 E  4    @\006     \001\015\012"
       "00000010 0a 00 00 07 00 50 08 fd 00 00 00 01 00 00 00 00      P \375   \001    \015\012"
       "00000020 50 18 20 00 ab cd 00 00 48 69 0a 00 07 09 5a 80 P\030  \253\315  Hi    Z\200\015\012"
       "00000030 ff 7f 0d 21                                     \377\177 !\015\012"s},
      {1,
       "\015\012"
       "[2021.05.06 - 13:45:07.083]\015\012"
       "Proto: TCP len: 52 10.0.0.1:80 -> 10.0.0.7:2301 \015\012"
       "\015\012"
       "E\000\0004\000\000\000\000@\006\000\000\012\000\000\001\012\000\000\007\000P\010\375"
       "\000\000\000\001\000\000\000\000P\030 \000\253\315\000\000Hi\012\000\007\011Z\200\377\177\015!"s},
      {2,
       "\015\012"
       "[2021.05.06 - 13:45:07.083]\015\012"
       "Proto: TCP len: 52 10.0.0.1:80 -> 10.0.0.7:2301 \015\012"
       "\015\012"
       "00000000 45 00 00 34 00 00 00 00 40 06 00 00 0a 00 00 01\015\012"
       "00000010 0a 00 00 07 00 50 08 fd 00 00 00 01 00 00 00 00\015\012"
       "00000020 50 18 20 00 ab cd 00 00 48 69 0a 00 07 09 5a 80\015\012"
       "00000030 ff 7f 0d 21 \015\012"s},
      {3,
       "\015\012"
       "[2021.05.06 - 13:45:07.083]\015\012"
       "Proto: TCP len: 52 10.0.0.1:80 -> 10.0.0.7:2301 \015\012"
       "\015\012"
       "00000000 48 69 0a 00 07 09 5a 80 ff 7f 0d 21             Hi    Z\200\377\177 !\015\012"s},
      {4,
       "\015\012"
       "[2021.05.06 - 13:45:07.083]\015\012"
       "Proto: TCP len: 52 10.0.0.1:80 -> 10.0.0.7:2301 \015\012"
       "\015\012"
       "Hi\012\000\007\011Z\200\377\177\015!"s},
      {5,
       "\015\012"
       "[2021.05.06 - 13:45:07.083]\015\012"
       "Proto: TCP len: 52 10.0.0.1:80 -> 10.0.0.7:2301 \015\012"
       "\015\012"
       "00000000 48 69 0a 00 07 09 5a 80 ff 7f 0d 21 \015\012"s},
      {6,
       "\015\012"
       "[2021.05.06 - 13:45:07.083]\015\012"
       "Proto: TCP len: 52 10.0.0.1:80 -> 10.0.0.7:2301 \015\012"
       "\015\012"s},
      {7, "2021.05.06;13:45:07.083;TCP;12;10.0.0.1;80;10.0.0.7;2301\015\012"s},
      {8,
       "2021.05.06;13:45:07.083;TCP;12;10.0.0.1;80;10.0.0.7;2301;"
       "48 69 0a 00 07 09 5a 80 ff 7f 0d 21 \015\012"s},
  };
  return records;
}

// What a record shows after its text header: the dump.
std::string DumpOf(const std::string& record) { return record.substr(record.find("\r\n\r\n", 2) + 4); }

class PacketLogTest : public SettingsFixture {
 protected:
  PacketLogTest() {
    platform::SetTestLocalTime(kClock);
    platform::SetUserMessageSink(&m_sink);
    Settings().uselogfile = 1;
    SetLogPath(Settings(), LogPath());
    m_list.SetPacketLog(&m_log);
  }
  ~PacketLogTest() override {
    platform::SetUserMessageSink(nullptr);
    platform::ReleaseTestLocalTime();
  }

  std::filesystem::path LogPath() const { return Folder() / "packets.log"; }

  void Account(const std::vector<std::uint8_t>& bytes) { m_list.AccountPacket(bytes.data(), bytes.size()); }

  // A fresh log holding the records of `packets` in `layout`.
  std::string LogOf(int layout, const std::vector<std::vector<std::uint8_t>>& packets) {
    std::filesystem::remove(LogPath());
    Settings().logtype = layout;
    m_log.OpenLog("a+");
    for (const auto& packet : packets) Account(packet);
    m_log.CloseLog();
    return ReadWholeText(LogPath());
  }

  RecordingSink m_sink;
  CTrafficList m_list{Settings()};
  CPacketLog m_log{Settings(), m_list.TableLock()};
};

TEST_F(PacketLogTest, EachLayoutWritesItsRecordByteForByte) {
  for (const Golden& golden : SampleRecords()) {
    SCOPED_TRACE(golden.layout);
    EXPECT_EQ(LogOf(golden.layout, {SamplePacket()}), golden.record);
  }
  EXPECT_TRUE(m_sink.messages.empty());
}

TEST_F(PacketLogTest, EveryLayoutOutsideOneToEightIsLayoutZero) {
  const std::string& layoutZero = SampleRecords()[0].record;
  for (int layout : {0, -1, 9, 1000}) {
    SCOPED_TRACE(layout);
    EXPECT_EQ(LogOf(layout, {SamplePacket()}), layoutZero);
  }
}

// ICMP has no assumed header, so its payload is the whole packet.
TEST_F(PacketLogTest, DumpsEndLinesAtSixteenBytes) {
  struct Case {
    std::uint16_t totalLength;
    int layout;
    std::string dump;
  };
  const Case cases[] = {
      {20, 3,
       "00000000 45 00 00 14 00 00 00 00 40 01 00 00 0a 00 00 01 E  \024    @\001     \001\015\012"
       "00000010 0a 00 00 02                                        \002\015\012"s},
      {20, 5,
       "00000000 45 00 00 14 00 00 00 00 40 01 00 00 0a 00 00 01\015\012"
       "00000010 0a 00 00 02 \015\012"s},
      {32, 3,
       "00000000 45 00 00 20 00 00 00 00 40 01 00 00 0a 00 00 01 E       @\001     \001\015\012"
       "00000010 0a 00 00 02 04 00 00 50 00 00 00 00 00 00 00 00    \002\004  P        \015\012"s},
      {32, 5,
       "00000000 45 00 00 20 00 00 00 00 40 01 00 00 0a 00 00 01\015\012"
       "00000010 0a 00 00 02 04 00 00 50 00 00 00 00 00 00 00 00\015\012"s},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.totalLength << " bytes, layout " << c.layout);
    IpPacket icmp{0x0A000001, 0x0A000002, 1024, 80, 1, c.totalLength};
    EXPECT_EQ(DumpOf(LogOf(c.layout, {icmp.Bytes()})), c.dump);
  }
  IpPacket icmp{0x0A000001, 0x0A000002, 1024, 80, 1, 32};
  EXPECT_EQ(LogOf(7, {icmp.Bytes()}), "2021.05.06;13:45:07.083;ICMP;32;10.0.0.1;1024;10.0.0.2;80\r\n");
}

// A frame cut short by the snap length: the header and the CSV line give
// the packet's own lengths, the dumps only the bytes that were captured.
TEST_F(PacketLogTest, FrameCutShortDumpsOnlyWhatWasCaptured) {
  IpPacket tcp{0x0A000001, 0x0A000007, 80, 2301, 6, 100};
  std::vector<std::uint8_t> whole = tcp.Bytes();
  for (std::size_t i = 24; i < whole.size(); ++i) whole[i] = static_cast<std::uint8_t>(i);
  // Exactly as long as the capture: a read past it is a read past the buffer.
  const std::vector<std::uint8_t> cut44(whole.begin(), whole.begin() + 44);
  const std::vector<std::uint8_t> cut22(whole.begin(), whole.begin() + 22);

  EXPECT_EQ(DumpOf(LogOf(2, {cut44})),
            "00000000 45 00 00 64 00 00 00 00 40 06 00 00 0a 00 00 01\r\n"
            "00000010 0a 00 00 07 00 50 08 fd 18 19 1a 1b 1c 1d 1e 1f\r\n"
            "00000020 20 21 22 23 24 25 26 27 28 29 2a 2b \r\n");
  EXPECT_EQ(DumpOf(LogOf(5, {cut44})), "00000000 28 29 2a 2b \r\n");
  EXPECT_EQ(LogOf(1, {cut44}).size(), LogOf(6, {cut44}).size() + 44);
  EXPECT_EQ(LogOf(8, {cut44}),
            "2021.05.06;13:45:07.083;TCP;60;10.0.0.1;80;10.0.0.7;2301;28 29 2a 2b \r\n");

  // Not even the ports were all captured: the missing bytes read as zero,
  // and nothing of the payload is there to dump.
  EXPECT_EQ(LogOf(5, {cut22}),
            "\r\n[2021.05.06 - 13:45:07.083]\r\n"
            "Proto: TCP len: 100 10.0.0.1:80 -> 10.0.0.7:0 \r\n\r\n");
}

TEST_F(PacketLogTest, OnlyCountedPacketsAreLogged) {
  IpPacket bareAck{0x0A000001, 0x0A000007, 80, 2301, 6, 40};
  IpPacket hiddenUdp{0x0A000001, 0x0A000007, 53, 53, 17, 60};
  IpPacket newWhilePaused{0x0A000001, 0x0A000007, 81, 2301, 6, 41};
  Settings().filterudp = 1;
  Settings().paused = 1;
  EXPECT_EQ(LogOf(7, {bareAck.Bytes(), hiddenUdp.Bytes(), newWhilePaused.Bytes()}),
            "2021.05.06;13:45:07.083;TCP;1;10.0.0.1;81;10.0.0.7;2301\r\n");
}

TEST_F(PacketLogTest, FirstRecordPastTheLimitStartsTheFileAfresh) {
  Settings().mbdelete = 1;
  Settings().UpdateLogSizeLimit();
  Settings().logtype = 7;
  const std::string atTheLimit(1048576, 'x');
  std::ofstream(LogPath(), std::ios::binary) << atTheLimit;
  IpPacket first{0x0A000001, 0x0A000007, 80, 1, 17, 45};
  IpPacket second{0x0A000001, 0x0A000007, 80, 2, 17, 45};

  m_log.OpenLog("a+");
  Account(first.Bytes());  // the file is at the limit, not past it: appended
  m_log.CloseLog();
  const std::string firstLine = "2021.05.06;13:45:07.083;UDP;17;10.0.0.1;80;10.0.0.7;1\r\n";
  EXPECT_EQ(ReadWholeText(LogPath()), atTheLimit + firstLine);

  m_log.OpenLog("a+");  // the next capture carries on in the same file
  Account(second.Bytes());
  Account(first.Bytes());
  m_log.CloseLog();
  EXPECT_EQ(ReadWholeText(LogPath()), "2021.05.06;13:45:07.083;UDP;17;10.0.0.1;80;10.0.0.7;2\r\n" + firstLine);
  EXPECT_TRUE(m_sink.messages.empty());
}

std::string OpenFailureText(const std::filesystem::path& path) {
  return "无法打开日志文件 \"" + path.string() +
         "\" !\r\n日志记录功能将会失败.\r\n您可以在设置窗口重新启用日志功能.";
}

TEST_F(PacketLogTest, FolderThatDoesNotExistWarnsOnceAndSwitchesLoggingOff) {
  const std::filesystem::path settingsFile = Folder() / "own.dat";
  const std::filesystem::path missing = Folder() / "missing" / "packets.log";
  {
    CSettings settings(settingsFile.string());
    settings.uselogfile = 1;
    SetLogPath(settings, missing);
    CTrafficList list(settings);
    CPacketLog log(settings, list.TableLock());
    list.SetPacketLog(&log);

    log.OpenLog("a+");  // capture start
    IpPacket packet;
    const auto bytes = packet.Bytes();
    list.AccountPacket(bytes.data(), bytes.size());
    log.OpenLog("a+");  // the next capture start
    list.AccountPacket(bytes.data(), bytes.size());

    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(settings.uselogfile, 0);
    EXPECT_EQ(list.Totals().packets, 2u);  // the capture went on
    ASSERT_EQ(m_sink.messages.size(), 1u);
    EXPECT_EQ(m_sink.messages[0].first, platform::MessageKind::kWarning);
    EXPECT_EQ(m_sink.messages[0].second, OpenFailureText(missing));
  }
  CSettings reloaded(settingsFile.string());
  EXPECT_EQ(reloaded.uselogfile, 0);
  EXPECT_EQ(std::string(reloaded.logfile), missing.string());
}

// The size restart empties the file that is open, whatever its name leads
// to by then: here the log was moved away, and another user's link or
// nothing put in its place.
TEST_F(PacketLogTest, RestartEmptiesTheOpenFileNeverOneFoundByName) {
  const std::filesystem::path moved = Folder() / "moved.log", other = Folder() / "other";
  std::ofstream(other, std::ios::binary) << "not a log";
  Settings().logtype = 7;
  IpPacket packet;
  const std::string line = "2021.05.06;13:45:07.083;TCP;60;10.0.0.1;1024;10.0.0.2;80\r\n";
  for (const bool linkInPlace : {true, false}) {
    SCOPED_TRACE(linkInPlace ? "a link in its place" : "nothing in its place");
    std::ofstream(LogPath(), std::ios::binary) << std::string(1048577, 'x');
    m_log.OpenLog("a+");
    std::filesystem::rename(LogPath(), moved);
    if (linkInPlace) std::filesystem::create_symlink(other, LogPath());
    Account(packet.Bytes());
    Account(packet.Bytes());
    EXPECT_TRUE(m_log.IsOpen());
    m_log.CloseLog();
    EXPECT_EQ(ReadWholeText(moved), line + line);
    EXPECT_EQ(ReadWholeText(other), "not a log");
    std::filesystem::remove(LogPath());
  }
  EXPECT_EQ(Settings().uselogfile, 1);
  EXPECT_TRUE(m_sink.messages.empty());
}

// Run as root with the log in a shared folder such as /tmp: a link that
// another user planted there leads the log only where the kernel's
// protected_symlinks rule would let it.
TEST_F(PacketLogTest, LinksInASharedFolderAreFollowedOnlyWhenTrusted) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to own links as another user";
  const std::filesystem::path secret = Folder() / "secret";
  const std::filesystem::path shared = Folder() / "shared", plain = Folder() / "plain";
  const struct {
    const char* name;
    std::filesystem::path folder;
    mode_t folderMode;
    uid_t folderOwner, linkOwner;
    bool followed;
  } cases[] = {
      {"another user's link in a sticky shared folder", shared, 01777, 0, kNobody, false},
      {"our own link there", shared, 01777, 0, 0, true},
      {"the folder owner's link there", shared, 01777, kNobody, kNobody, true},
      {"another user's link in a folder that is not sticky", plain, 0777, 0, kNobody, true},
      {"another user's link in a sticky folder only its owner writes", plain, 01755, 0, kNobody, true},
  };
  Settings().logtype = 7;
  IpPacket packet;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(c.folder);
    std::filesystem::create_directory(c.folder);
    ASSERT_EQ(chmod(c.folder.c_str(), c.folderMode), 0);
    ASSERT_EQ(chown(c.folder.c_str(), c.folderOwner, c.folderOwner), 0);
    std::ofstream(secret, std::ios::binary) << "root only";
    std::filesystem::permissions(secret, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    // Straight to the file, and through a folder link on the way.
    for (const bool throughFolder : {false, true}) {
      const std::filesystem::path link = c.folder / (throughFolder ? "dir" : "packets.log");
      std::filesystem::create_symlink(throughFolder ? Folder() : secret, link);
      ASSERT_EQ(lchown(link.c_str(), c.linkOwner, c.linkOwner), 0);
      SetLogPath(Settings(), throughFolder ? link / "secret" : link);
      Settings().uselogfile = 1;
      m_sink.messages.clear();
      m_log.OpenLog("a+");
      Account(packet.Bytes());
      m_log.CloseLog();
      const std::string written = ReadWholeText(secret);
      EXPECT_EQ(written.rfind("root only", 0), 0u) << throughFolder;
      EXPECT_EQ(written.size() > 9, c.followed) << throughFolder;
      EXPECT_EQ(m_sink.messages.size(), c.followed ? 0u : 1u) << throughFolder;
      std::filesystem::remove(link);
      std::ofstream(secret, std::ios::binary) << "root only";
    }
  }
}

TEST_F(PacketLogTest, ReplacementDuringACaptureTakesOverTheLog) {
  Settings().logtype = 7;
  const std::filesystem::path next = Folder() / "next.log";
  IpPacket first{0x0A000001, 0x0A000007, 80, 1, 17, 45};
  IpPacket second{0x0A000001, 0x0A000007, 80, 2, 17, 45};
  const std::string firstLine = "2021.05.06;13:45:07.083;UDP;17;10.0.0.1;80;10.0.0.7;1\r\n";
  const std::string secondLine = "2021.05.06;13:45:07.083;UDP;17;10.0.0.1;80;10.0.0.7;2\r\n";
  // Past the limit already: the restart must empty the new file, not the old one.
  std::ofstream(next, std::ios::binary) << std::string(1048577, 'x');

  m_log.OpenLog("a+");
  Account(first.Bytes());
  EXPECT_EQ(m_log.ReplaceLog((Folder() / "missing" / "x.log").string().c_str(), true), 1);
  EXPECT_EQ(std::string(Settings().logfile), LogPath().string());
  EXPECT_EQ(m_log.ReplaceLog(next.string().c_str(), true), 0);
  EXPECT_EQ(std::string(Settings().logfile), next.string());
  Account(second.Bytes());
  m_log.CloseLog();

  EXPECT_EQ(ReadWholeText(LogPath()), firstLine);
  EXPECT_EQ(ReadWholeText(next), secondLine);
  EXPECT_TRUE(m_sink.messages.empty());  // the dialog speaks for a failed replacement
}

// A full disk: the user hears of it once for the file, and the capture,
// and the writing of what may still fit, go on.
TEST_F(PacketLogTest, AWriteErrorIsToldOnceAndTheCaptureGoesOn) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  SetLogPath(Settings(), "/dev/full");
  Settings().logtype = 0;
  constexpr std::uint32_t kPackets = 5000;  // several times the stream's buffer
  m_log.OpenLog("a+");
  ASSERT_TRUE(m_log.IsOpen());
  for (std::uint32_t n = 0; n < kPackets; ++n) Account(SamplePacket());
  m_log.CloseLog();
  EXPECT_EQ(m_list.Totals().packets, kPackets);
  EXPECT_EQ(Settings().uselogfile, 1);
  ASSERT_EQ(m_sink.messages.size(), 1u);
  EXPECT_EQ(m_sink.messages[0].first, platform::MessageKind::kWarning);
  EXPECT_NE(m_sink.messages[0].second.find("\"/dev/full\""), std::string::npos) << m_sink.messages[0].second;
  EXPECT_NE(m_sink.messages[0].second.find(std::strerror(ENOSPC)), std::string::npos) << m_sink.messages[0].second;
  EXPECT_EQ(m_log.LostRecords(), kPackets) << "every record the disk refused is counted";
}

// While the log stays open, a record is in the file within a second of
// its packet, one alone (`tail -f` on a quiet link shows it) or one of many.
TEST_F(PacketLogTest, RecordsReachTheFileWithinASecondWhileTheLogStaysOpen) {
  Settings().logtype = 7;
  const std::string line = "2021.05.06;13:45:07.083;TCP;60;10.0.0.1;1024;10.0.0.2;80\r\n";
  m_log.OpenLog("a+");
  std::size_t records = 0;
  for (const std::size_t count : {1, 3000}) {
    SCOPED_TRACE(count);
    for (std::size_t n = 0; n < count; ++n) Account(IpPacket{}.Bytes());
    records += count;
    const Clock::time_point deadline = Clock::now() + 1s;
    while (std::filesystem::file_size(LogPath()) < records * line.size() && Clock::now() < deadline)
      std::this_thread::sleep_for(5ms);
    EXPECT_EQ(std::filesystem::file_size(LogPath()), records * line.size());
  }
  EXPECT_TRUE(m_log.IsOpen());
  m_log.CloseLog();
}

// A FIFO or a device in a shared folder is planted as easily as a link,
// and is judged as a link is: another user's is not opened (a FIFO they
// never read would stall the log), our own or the folder owner's is.
TEST_F(PacketLogTest, FifosAndDevicesInASharedFolderAreUsedOnlyWhenTrusted) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to make devices and own files as another user";
  const std::filesystem::path shared = Folder() / "shared", planted = shared / "packets.log";
  std::filesystem::create_directory(shared);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  const struct {
    const char* name;
    mode_t type;
    uid_t owner;
    bool used;
  } cases[] = {
      {"another user's FIFO", S_IFIFO, kNobody, false},
      {"our own FIFO", S_IFIFO, 0, true},
      {"another user's device", S_IFCHR, kNobody, false},
      {"our own device", S_IFCHR, 0, true},
  };
  SetLogPath(Settings(), planted);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The device is another /dev/null.
    ASSERT_EQ(mknod(planted.c_str(), c.type | 0666, c.type == S_IFCHR ? makedev(1, 3) : 0), 0);
    ASSERT_EQ(lchown(planted.c_str(), c.owner, c.owner), 0);
    Settings().uselogfile = 1;
    m_sink.messages.clear();
    m_log.OpenLog("a+");
    EXPECT_EQ(m_log.IsOpen(), c.used);
    EXPECT_EQ(m_sink.messages.size(), c.used ? 0u : 1u);
    m_log.CloseLog();
    std::filesystem::remove(planted);
  }
}

TEST_F(PacketLogTest, ReplacementWithoutACaptureOnlyCreatesTheFile) {
  const std::filesystem::path next = Folder() / "next.log";
  EXPECT_EQ(m_log.ReplaceLog(next.string().c_str(), false), 0);
  EXPECT_TRUE(std::filesystem::exists(next));
  EXPECT_FALSE(m_log.IsOpen());
  const std::string tooLong(sizeof Settings().logfile, 'a');
  EXPECT_EQ(m_log.ReplaceLog(tooLong.c_str(), false), 1);
  EXPECT_EQ(std::string(Settings().logfile), next.string());
}

}  // namespace
