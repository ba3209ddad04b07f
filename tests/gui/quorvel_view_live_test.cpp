// The view monitoring a real adapter: the capture end of a veth pair in a
// network namespace of the test's own (root only; skipped otherwise).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_session.h"
#include "filters/filter_manager.h"
#include "filters/filters_file.h"
#include "gui/view_fixture.h"
#include "live/test_network.h"
#include "ui/command_ids.h"
#include "ui/filters_setup_dlg.h"
#include "ui/product.h"
#include "ui/rate_chart.h"
#include "ui/settings_dlg.h"
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
  EXPECT_EQ(Frame().StatusText().toStdString(), "全部数据包: 2, 数据: 532 bytes, 总流量: 600 bytes");
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
  EXPECT_EQ(Frame().StatusText().toStdString(), "全部数据包: 0, 数据: 0 bytes, 总流量: 0 bytes");
  // The rows that went idle are in the history, and the stopped capture's
  // row joined them as this Start emptied the list.
  const CHistoryModel& history = view->History().Model();
  ASSERT_EQ(history.rowCount(), 3);
  const auto historyRow = [&history](int row) {
    std::vector<std::string> cells;
    for (int column : {CHistoryModel::kSourcePort, CHistoryModel::kTraffic, CHistoryModel::kPackets,
                       CHistoryModel::kReason})
      cells.push_back(history.CellText(row, column));
    return cells;
  };
  EXPECT_EQ(historyRow(0), (std::vector<std::string>{"5000", "600", "2", "空闲超时"}));
  EXPECT_EQ(historyRow(1), (std::vector<std::string>{"6000", "300", "1", "空闲超时"}));
  EXPECT_EQ(historyRow(2), (std::vector<std::string>{"7000", "300", "1", "已停止"}));
  Frame().ExecuteCommand(ID_CAPTURE_STOP);
  EXPECT_TRUE(messages.texts.empty());
}

// The empty list says what is true: packets counted whose rows went idle,
// a pause, and the protocols hidden while their packets flow; the status
// bar says "paused" while it lasts.
TEST_F(ViewLiveTest, EmptyListSaysWhyItIsEmpty) {
  Settings().idlemsec = 1000;
  OpenWindow();
  Start();
  ASSERT_TRUE(view->Monitoring());
  ASSERT_TRUE(Send(IPPROTO_UDP, 5000));
  ASSERT_TRUE(WaitForRows(1));
  ASSERT_TRUE(WaitForRows(0));
  EXPECT_EQ(view->HintText().toStdString(), "已统计数据包: 1。它们的连接已空闲超时或已被清空。继续搜索中 ...");

  Frame().ExecuteCommand(ID_HIDE_TCP);
  ASSERT_TRUE(Send(IPPROTO_TCP, 6000));
  QTest::qWait(300);
  EXPECT_EQ(view->Model().rowCount(), 0);
  EXPECT_EQ(view->HintText().toStdString(),
            "已统计数据包: 1。它们的连接已空闲超时或已被清空。继续搜索中 ...\n隐藏的协议既不显示也不计数: TCP");
  Frame().ExecuteCommand(ID_HIDE_TCP);

  const QLabel* pause = Frame().findChild<QLabel*>(QStringLiteral("pausePane"));
  ASSERT_NE(pause, nullptr);
  EXPECT_TRUE(pause->isHidden());
  Frame().ExecuteCommand(ID_CAPTURE_PAUSE);
  ASSERT_TRUE(Send(IPPROTO_UDP, 7000));
  QTest::qWait(300);
  EXPECT_EQ(view->Model().rowCount(), 0) << "no new connection while paused";
  EXPECT_EQ(view->HintText().toStdString(), "监控已暂停: 继续后才会显示新的连接 (已统计数据包: 2)。");
  EXPECT_FALSE(pause->isHidden());
  EXPECT_EQ(pause->text().toStdString(), "已暂停");
  Frame().ExecuteCommand(ID_CAPTURE_STOP);
  EXPECT_TRUE(pause->isHidden()) << "a Stop ends the pause";
}

// An echo request from the other end and this machine's answer, 84 bytes
// each, reach the rate chart as received and as sent: the window reads
// its adapter's own address where the capture starts. Each byte reaches
// one second's bar, as bytes over the time that tick really took.
TEST_F(ViewLiveTest, RateChartTellsSentFromReceived) {
  OpenWindow();
  Start();
  ASSERT_TRUE(view->Monitoring());
  ASSERT_TRUE(network.Send({EchoRequest(network.SenderAddress(), network.CaptureAddress(), 84)}));
  const CRateChart& chart = *Frame().RateChart();
  const auto seconds = [&chart](std::uint64_t RateSample::*way) {
    std::vector<std::uint64_t> rates;
    for (const RateSample& second : chart.Samples())
      if (second.*way != 0) rates.push_back(second.*way);
    return rates;
  };
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return !seconds(&RateSample::received).empty() && !seconds(&RateSample::sent).empty(); }, 4000));
  QTest::qWait(1500);  // nothing else moves on the link
  for (std::uint64_t RateSample::*way : {&RateSample::received, &RateSample::sent}) {
    const std::vector<std::uint64_t> rates = seconds(way);
    ASSERT_EQ(rates.size(), 1u);
    // 84 bytes in a tick of 0.6 to 1.4 s.
    EXPECT_GE(rates[0], 60u);
    EXPECT_LE(rates[0], 140u);
  }
  Frame().ExecuteCommand(ID_CAPTURE_STOP);
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

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A new log file named in the settings while monitoring takes the records
// from the next packet on; the old one is closed with all of its own.
TEST_F(ViewLiveTest, NewLogFileInTheSettingsWhileMonitoring) {
  const std::filesystem::path oldLog = folder_ / "old.log", newLog = folder_ / "new.log";
  Store("[log]\nuselogfile=1\nlogtype=7\nlogfile=" + oldLog.string() + "\n");
  OpenWindow();
  Start();
  ASSERT_TRUE(view->Monitoring());
  ASSERT_TRUE(Send(IPPROTO_UDP, 5001));
  ASSERT_TRUE(WaitForRows(1));

  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<CSettingsDlg*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->Ui().logFile->setText(QString::fromStdString(newLog.string()));
    QTest::mouseClick(dialog->Ui().ok, Qt::LeftButton);
  });
  Frame().ExecuteCommand(ID_SETTINGS);
  EXPECT_EQ(std::string(Settings().logfile), newLog.string());
  ASSERT_TRUE(Send(IPPROTO_UDP, 5002));
  ASSERT_TRUE(WaitForRows(2));
  Frame().ExecuteCommand(ID_CAPTURE_STOP);

  const std::string before = ReadFile(oldLog), after = ReadFile(newLog);
  EXPECT_NE(before.find(";UDP;272;"), std::string::npos);
  EXPECT_NE(before.find(";5001;"), std::string::npos) << before;
  EXPECT_EQ(before.find(";5002;"), std::string::npos) << before;
  EXPECT_EQ(after.find(";5001;"), std::string::npos) << after;
  EXPECT_NE(after.find(";5002;"), std::string::npos) << after;
  EXPECT_TRUE(messages.texts.empty());
}

// Where no lock can be made (here: the runtime folder is gone) monitoring
// goes ahead, and the status bar says that it is unguarded.
TEST_F(ViewLiveTest, StartWithoutAnyLockSaysSo) {
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  const std::string previous = runtime != nullptr ? runtime : "";
  const std::string missing = (folder_ / "no-such-runtime-folder").string();
  setenv("XDG_RUNTIME_DIR", missing.c_str(), 1);
  OpenWindow();
  Start();
  EXPECT_TRUE(view->Monitoring());
  const std::string notice = Frame().statusBar()->currentMessage().toStdString();
  EXPECT_EQ(notice.rfind("无法建立网络适配器锁 " + missing + "/qv_" + network.CaptureInterface(), 0), 0u) << notice;
  Frame().ExecuteCommand(ID_CAPTURE_STOP);
  if (runtime != nullptr)
    setenv("XDG_RUNTIME_DIR", previous.c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");
}

// The window's filters reach its captures: the file's at the start, the
// dialog's on Apply; expressions are checked for the adapter's link layer.
TEST_F(ViewLiveTest, FiltersFromTheFileAndTheDialog) {
  const FiltersFile file(folder_);
  file.Write("+udp\r\n-tcp\r\n");
  CFilterManager store(file.Path());
  filters = &store;
  // The window stops its capture, which clears the store, when it closes:
  // it goes first, also when an assertion ends the test early.
  const std::shared_ptr<void> closeFirst(nullptr, [this](void*) { CloseWindow(); });
  OpenWindow();
  const auto filterReplies = [&](std::uint64_t replies) {
    return QTest::qWaitFor([&] { return view->Session().Health().filterReplies >= replies; }, 3000);
  };
  Start();
  ASSERT_TRUE(view->Monitoring());
  ASSERT_TRUE(filterReplies(1));
  ASSERT_TRUE(Send(IPPROTO_TCP, 6000));
  ASSERT_TRUE(Send(IPPROTO_UDP, 5000));
  ASSERT_TRUE(WaitForRows(1));
  QTest::qWait(300);
  EXPECT_EQ(view->Model().rowCount(), 1) << "the TCP packet was not read";

  {
    CFiltersSetupDlg dialog(store, [](const std::string&) {}, &Frame());
    dialog.List()->topLevelItem(1)->setCheckState(0, Qt::Checked);
    dialog.List()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    EXPECT_EQ(store.Validate("ether host 02:00:00:00:00:01"), "no error") << "a veth pair carries Ethernet";
    dialog.OnApply();
  }
  ASSERT_TRUE(filterReplies(2));
  ASSERT_TRUE(Send(IPPROTO_TCP, 6000));
  ASSERT_TRUE(Send(IPPROTO_UDP, 5001));
  ASSERT_TRUE(WaitForRows(2));
  QTest::qWait(300);
  EXPECT_EQ(view->Model().rowCount(), 2) << "now the TCP packet only";
  EXPECT_EQ(file.Read(), "-udp\r\n+tcp\r\n");
  Frame().ExecuteCommand(ID_CAPTURE_STOP);
  EXPECT_TRUE(store.Entries().empty()) << "a stop empties the store";
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
  // The link may be seen going down before the read that finds it gone.
  const std::string gone = "网络适配器出错: The interface disappeared";
  ASSERT_TRUE(QTest::qWaitFor([&] { return Frame().AdapterText().toStdString() == gone; }, 5000))
      << Frame().AdapterText().toStdString();
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
