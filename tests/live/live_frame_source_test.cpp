// The live source on its own, over the capture end of a veth pair: the
// frames it hands out through the helper's shared ring, and through the
// capture-file stream it falls back to where no ring can be made, are the
// frames that were sent, whole, in order.
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "source/live_frame_source.h"
#include "test_network.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kEthernetHeader = 14;
constexpr std::size_t kIpHeader = 20;

// What follows the IPv4 header of the test's UDP frames to port 9; other
// frames on the link (address resolution) are left out.
class TestFrames : public FrameSink {
 public:
  void TakeFrame(const pcap_pkthdr& header, const std::uint8_t* frame) override {
    EXPECT_EQ(header.len, header.caplen) << "whole frames";
    const std::size_t transport = kEthernetHeader + kIpHeader;
    if (header.caplen < transport + 4 || frame[12] != 0x08 || frame[13] != 0x00 || frame[23] != IPPROTO_UDP ||
        frame[transport + 2] != 0 || frame[transport + 3] != 9)
      return;
    const std::size_t ipLength = static_cast<std::size_t>(frame[16] << 8 | frame[17]);
    ASSERT_LE(kEthernetHeader + ipLength, header.caplen);
    kept.emplace_back(frame + transport, frame + kEthernetHeader + ipLength);
  }
  std::vector<Bytes> kept;
};

class LiveFrameSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!m_network.Unavailable().empty()) GTEST_SKIP() << m_network.Unavailable();
  }

  // Opens the source, sends `packets` and reads until as many test frames
  // came (or 5 s passed).
  std::vector<Bytes> CaptureThrough(bool sharedRing, const std::vector<Bytes>& packets) {
    LiveFrameSource source;
    LiveFrameSource::Options options;
    options.sharedRing = sharedRing;
    int opened = -1;
    m_network.InCaptureNamespace([&] { opened = source.Open(m_network.CaptureInterface().c_str(), options); });
    EXPECT_EQ(opened, 0);
    if (opened != 0) return {};
    EXPECT_TRUE(m_network.Send(packets));
    TestFrames frames;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (frames.kept.size() < packets.size() && std::chrono::steady_clock::now() < deadline) {
      if (source.ReadFrames(frames, 64) == FrameSource::kEnded) break;
      source.WaitForFrames(50, -1);
    }
    source.Finish();
    return frames.kept;
  }

  TestNetwork m_network;
};

TEST_F(LiveFrameSourceTest, RingAndStreamHandOutEveryFrameWhole) {
  std::vector<Bytes> packets, sent;
  for (std::uint16_t i = 0; i < 200; ++i) {
    // From the smallest to frames of 1400 bytes, each source port its own.
    packets.push_back(RawPacket(IPPROTO_UDP, m_network.SenderAddress(), m_network.CaptureAddress(), 1000 + i, 9,
                                static_cast<std::uint16_t>(28 + i * 7)));
    sent.emplace_back(packets.back().begin() + kIpHeader, packets.back().end());
  }
  for (const bool sharedRing : {true, false}) {
    SCOPED_TRACE(sharedRing ? "shared ring" : "capture-file stream");
    EXPECT_EQ(CaptureThrough(sharedRing, packets), sent);
  }
}

}  // namespace
