#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QTest>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "config/temp_settings_file.h"
#include "platform/user_message.h"
#include "resolve/ns_cashe.h"
#include "platform/tick_count.h"
#include "resolve/services_parser.h"
#include "table/refresh_pass.h"
#include "table/traffic_list.h"
#include "ui/main_frame.h"
#include "ui/quorvel_view.h"

// Keeps what the capture side would have shown the user.
class RecordedMessages : public platform::UserMessageSink {
 public:
  void ShowMessage(platform::MessageKind, const platform::UserMessage& message) override {
    texts.push_back(message.Text());
  }
  std::vector<std::string> texts;
};

// The main window with the real traffic view, over objects of the test's
// own: settings in a temporary file, a table, name tables that resolve
// nothing, and the adapter list the test sets.
class ViewTest : public TempSettingsFile {
 protected:
  ViewTest() { platform::SetUserMessageSink(&messages); }
  ~ViewTest() override {
    CloseWindow();
    platform::SetUserMessageSink(nullptr);
  }

  CSettings& Settings() {
    if (!settings_) settings_.emplace(path_);
    return *settings_;
  }
  CTrafficList& Table() {
    if (!table_) table_.emplace(Settings());
    return *table_;
  }

  CQuorvelView& OpenWindow() {
    AppContext context{Table(), nameCache, services, Settings()};
    context.findAdapters = [this] { return adapters; };
    context.openDocument = [](const std::string&) {};
    context.filters = filters;
    frame_ = std::make_unique<CMainFrame>(context);
    view = new CQuorvelView(context, *frame_);
    frame_->SetView(view, view);
    frame_->show();
    return *view;
  }
  CMainFrame& Frame() { return *frame_; }

  // Ends the window as the program does at exit; settings and table stay.
  void CloseWindow() {
    frame_.reset();
    view = nullptr;
  }

  // A row as the refresh pass writes it, brought into the list.
  void AddRow(const ConnectionKey& key, const std::vector<std::string>& cells) {
    TrafficDisplay& display = *Table().Display();
    TrafficEntry entry;
    entry.key = key;
    const int row = display.InsertRow(display.ItemCount(), cells[0].c_str(), entry, Ipv4EndpointsOf(key));
    for (int column = 1; column < static_cast<int>(cells.size()); ++column)
      display.SetCellText(row, column, cells[column].c_str());
    view->Drain();
  }

  // The message box the view opened over itself, if any.
  QMessageBox* ViewMessageBox() const { return view != nullptr ? view->findChild<QMessageBox*>() : nullptr; }

  std::vector<AdapterItem> adapters;
  RecordedMessages messages;
  CNSCashe nameCache;
  CServicesParser services{""};
  CFilterManager* filters = nullptr;  // the window's filter store, if any
  CQuorvelView* view = nullptr;  // owned by the frame

 private:
  std::optional<CSettings> settings_;
  std::optional<CTrafficList> table_;
  std::unique_ptr<CMainFrame> frame_;
};

// The capture's table behind the list: real entries, shown by a pass.
class ViewTableTest : public ViewTest {
 protected:
  // A packet of 10.0.0.<sourceHost> port 7 to 10.0.0.200 port 80.
  void Account(std::uint8_t protocol, int sourceHost, std::uint16_t totalLength = 100) {
    std::uint8_t ip[40] = {0x45, 0, static_cast<std::uint8_t>(totalLength >> 8), static_cast<std::uint8_t>(totalLength)};
    ip[9] = protocol;
    ip[12] = 10, ip[15] = static_cast<std::uint8_t>(sourceHost);
    ip[16] = 10, ip[19] = 200;
    ip[21] = 7, ip[23] = 80;
    Table().AccountPacket(ip, sizeof ip);
  }
  // A full pass, as the capture thread runs it, brought into the list.
  void Pass() {
    schedule.running = 1;
    CRefreshPass pass(Table(), Settings(), nameCache, services, schedule);
    pass.RefreshPass(true);
    schedule.previousPassTick = platform::TickCount();
    view->Drain();
  }

  PassSchedule schedule;
};

// Another monitor process holding an adapter's lock, until Release().
class OtherMonitor {
 public:
  explicit OtherMonitor(const std::string& device) {
    m_process.start(QStringLiteral(QUORVEL_ADAPTER_LOCK_HOLDER), {QString::fromStdString(device)});
    m_holding = m_process.waitForReadyRead(10000) && m_process.readLine().trimmed() == "held";
  }
  ~OtherMonitor() { Release(); }
  bool Holding() const { return m_holding; }
  void Release() {
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.closeWriteChannel();
    m_process.waitForFinished(10000);
  }

 private:
  QProcess m_process;
  bool m_holding = false;
};
