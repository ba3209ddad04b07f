// The view monitoring a real adapter: the capture end of a veth pair in a
// network namespace of the test's own (root only; skipped otherwise).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>

#include <QTest>
#include <string>

#include "capture/capture_session.h"
#include "gui/view_fixture.h"
#include "live/test_network.h"
#include "ui/command_ids.h"
#include "ui/product.h"
#include "ui/sort_header_ctrl.h"

namespace {

class ViewLiveTest : public ViewTest {
 protected:
  void SetUp() override {
    if (!network.Unavailable().empty()) GTEST_SKIP() << network.Unavailable();
    char address[INET_ADDRSTRLEN];
    const std::uint32_t captureAddress = network.CaptureAddress();
    inet_ntop(AF_INET, &captureAddress, address, sizeof address);
    adapterText = std::string(address) + " - test link";
    adapters.push_back({adapterText, network.CaptureInterface()});
  }

  void Start() {
    network.InCaptureNamespace([this] { Frame().ExecuteCommand(ID_CAPTURE_START); });
  }
  bool Send(std::uint8_t protocol, std::uint16_t sourcePort, std::uint16_t totalLength = 300) {
    return network.Send({RawPacket(protocol, network.SenderAddress(), network.CaptureAddress(), sourcePort, 80, totalLength)});
  }
  bool WaitForRows(int rows, int milliseconds = 5000) {
    return QTest::qWaitFor([&] { return view->Model().rowCount() == rows; }, milliseconds);
  }
  bool Enabled(int id) { return Frame().CommandStateOf(id).enabled; }

  TestNetwork network;
  std::string adapterText;
};

// Start, Stop and Pause follow the monitoring state; the title names the
// adapter; rows appear, update and leave; a second Start on the same
// adapter works; Stop leaves the rows.
TEST_F(ViewLiveTest, StartAndStopOnARealAdapter) {
  Settings().idlemsec = 1500;
  OpenWindow();
  EXPECT_TRUE(Enabled(ID_CAPTURE_START));
  EXPECT_FALSE(Enabled(ID_CAPTURE_STOP));
  EXPECT_FALSE(Enabled(ID_CAPTURE_PAUSE));

  Start();
  ASSERT_TRUE(view->Monitoring()) << (messages.texts.empty() ? "" : messages.texts[0]);
  EXPECT_FALSE(Enabled(ID_CAPTURE_START));
  EXPECT_TRUE(Enabled(ID_CAPTURE_STOP));
  EXPECT_TRUE(Enabled(ID_CAPTURE_PAUSE));
  EXPECT_EQ(Frame().windowTitle().toStdString(), std::string(product::kTitle) + " - [" + adapterText + "]");
  EXPECT_EQ(view->HintText().toStdString(), "未发现数据包! 继续搜索中 ...");

  ASSERT_TRUE(Send(IPPROTO_UDP, 5000));
  ASSERT_TRUE(Send(IPPROTO_TCP, 6000));
  ASSERT_TRUE(WaitForRows(2));
  EXPECT_EQ(Frame().StatusText().toStdString(), "All packets: 2, Data: 532 bytes, Total traffic: 600 bytes");
  ASSERT_TRUE(Send(IPPROTO_UDP, 5000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return view->Model().CellText(0, 6) == "2"; }, 3000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Frame().RatesText().startsWith(QStringLiteral("当前: ")); }, 3000));

  Frame().ExecuteCommand(ID_CAPTURE_PAUSE);
  EXPECT_TRUE(Frame().CommandStateOf(ID_CAPTURE_PAUSE).checked);
  Frame().ExecuteCommand(ID_CAPTURE_PAUSE);
  EXPECT_TRUE(WaitForRows(0)) << "idle rows leave the list";

  ASSERT_TRUE(Send(IPPROTO_TCP, 7000));
  ASSERT_TRUE(WaitForRows(1));
  Frame().ExecuteCommand(ID_CAPTURE_PAUSE);
  Frame().ExecuteCommand(ID_CAPTURE_STOP);
  EXPECT_FALSE(view->Monitoring());
  EXPECT_TRUE(Enabled(ID_CAPTURE_START));
  EXPECT_FALSE(Enabled(ID_CAPTURE_STOP));
  EXPECT_FALSE(Enabled(ID_CAPTURE_PAUSE));
  EXPECT_FALSE(Frame().CommandStateOf(ID_CAPTURE_PAUSE).checked);  // a Stop ends the pause
  EXPECT_EQ(Frame().windowTitle().toStdString(), product::kTitle);
  QTest::qWait(300);
  EXPECT_EQ(view->Model().rowCount(), 1);

  Start();
  ASSERT_TRUE(view->Monitoring());
  EXPECT_EQ(view->Model().rowCount(), 0);  // a new capture starts with an empty list
  Frame().ExecuteCommand(ID_CAPTURE_STOP);
  EXPECT_TRUE(messages.texts.empty());
}

// Two monitors on one adapter: each one's Start is refused while the other
// holds it, and goes through once the other has stopped.
TEST_F(ViewLiveTest, SecondMonitorOnTheSameAdapter) {
  OpenWindow();
  {
    OtherMonitor first(network.CaptureInterface());
    ASSERT_TRUE(first.Holding());
    Start();
    EXPECT_FALSE(view->Monitoring());
    QMessageBox* box = ViewMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text().toStdString(), "该网络适配器已被另一个Quorvel的进程占用\n");
    box->close();
  }
  QApplication::processEvents();
  Start();
  EXPECT_TRUE(view->Monitoring());
  EXPECT_FALSE(OtherMonitor(network.CaptureInterface()).Holding());
  Frame().ExecuteCommand(ID_CAPTURE_STOP);
  EXPECT_TRUE(OtherMonitor(network.CaptureInterface()).Holding());
}

// Closing the window while monitoring stops the capture, lets the adapter
// go, empties the table and keeps the widths; the next window comes up idle.
TEST_F(ViewLiveTest, ClosingWhileMonitoring) {
  OpenWindow();
  Start();
  ASSERT_TRUE(view->Monitoring());
  ASSERT_TRUE(Send(IPPROTO_UDP, 5000));
  ASSERT_TRUE(WaitForRows(1));
  view->Header().resizeSection(5, 133);
  CloseWindow();
  EXPECT_EQ(Table().EntryCount(), 0u);
  EXPECT_EQ(Settings().traffic, 133);
  EXPECT_TRUE(OtherMonitor(network.CaptureInterface()).Holding());

  OpenWindow();
  EXPECT_FALSE(view->Monitoring());
  EXPECT_EQ(view->Model().rowCount(), 0);
}

// The helper ended from outside while monitoring: the window says that the
// capture ended and stops monitoring; Start works again.
TEST_F(ViewLiveTest, HelperEndedFromOutside) {
  OpenWindow();
  Start();
  ASSERT_TRUE(view->Monitoring());
  ASSERT_GT(view->Session().HelperProcessId(), 0);
  kill(view->Session().HelperProcessId(), SIGKILL);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !view->Monitoring(); }, 3000));
  ASSERT_EQ(messages.texts.size(), 1u);
  EXPECT_EQ(messages.texts[0], "抓包已意外停止\r\nError message : quorvel-capture ended");
  EXPECT_TRUE(Enabled(ID_CAPTURE_START));
  EXPECT_EQ(Frame().windowTitle().toStdString(), product::kTitle);

  Start();
  ASSERT_TRUE(view->Monitoring());
  ASSERT_TRUE(Send(IPPROTO_UDP, 5000));
  EXPECT_TRUE(WaitForRows(1));
  Frame().ExecuteCommand(ID_CAPTURE_STOP);
}

// A flood into a kernel buffer far too small for it: the drops pane counts
// what was lost and stands out while the count rises; once the flood ends
// it calms down, and the count stays until the next Start.
TEST_F(ViewLiveTest, DropsPaneCountsWhatTheKernelLost) {
  OpenWindow();
  view->Session().SetKernelBufferBytes(1);
  Start();
  ASSERT_TRUE(view->Monitoring());
  EXPECT_EQ(Frame().DropsText(), QString());
  network.StartFlood(RawPacket(IPPROTO_UDP, network.SenderAddress(), network.CaptureAddress(), 7, 9, 512));
  const bool shown = QTest::qWaitFor([&] { return Frame().DropsHighlighted(); }, 8000);
  network.StopFlood();
  ASSERT_TRUE(shown);
  const QString text = Frame().DropsText();
  ASSERT_TRUE(text.startsWith(QStringLiteral("丢包: "))) << text.toStdString();
  EXPECT_GT(text.mid(4).toULongLong(), 0u);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !Frame().DropsHighlighted(); }, 4000)) << "no longer rising";
  EXPECT_FALSE(Frame().DropsText().isEmpty());

  Frame().ExecuteCommand(ID_CAPTURE_STOP);
  EXPECT_FALSE(Frame().DropsText().isEmpty()) << "counted since Start";
  view->Session().SetKernelBufferBytes(CaptureSession::kKernelBufferBytes);
  Start();
  EXPECT_EQ(Frame().DropsText(), QString());
  Frame().ExecuteCommand(ID_CAPTURE_STOP);
}

// The adapter removed while monitoring: the status bar and the empty
// list's hint say so with the library's text; once it is made again the
// window says it is back, and its packets are counted again.
TEST_F(ViewLiveTest, AdapterThatGoesAwayAndComesBack) {
  OpenWindow();
  Start();
  ASSERT_TRUE(view->Monitoring());
  ASSERT_TRUE(network.RemoveCaptureInterface());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Frame().AdapterText().isEmpty(); }, 5000));
  EXPECT_EQ(Frame().AdapterText().toStdString(), "网络适配器出错: The interface disappeared");
  EXPECT_EQ(view->HintText().toStdString(), "网络适配器出错: The interface disappeared\n正在等待它恢复 ...");
  EXPECT_TRUE(view->Monitoring());

  ASSERT_TRUE(network.RestoreCaptureInterface());
  ASSERT_TRUE(QTest::qWaitFor([&] { return Frame().AdapterText().toStdString() == "网络适配器已恢复"; }, 5000))
      << Frame().AdapterText().toStdString();
  EXPECT_EQ(view->HintText().toStdString(), "未发现数据包! 继续搜索中 ...");
  ASSERT_TRUE(Send(IPPROTO_UDP, 5000));
  EXPECT_TRUE(WaitForRows(1));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Frame().AdapterText().isEmpty(); }, 8000)) << "old news after a while";
  EXPECT_TRUE(messages.texts.empty());
  Frame().ExecuteCommand(ID_CAPTURE_STOP);
}

}  // namespace
