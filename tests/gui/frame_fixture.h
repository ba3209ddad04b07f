#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/settings.h"
#include "config/temp_settings_file.h"
#include "resolve/ns_cashe.h"
#include "resolve/services_parser.h"
#include "table/traffic_list.h"
#include "ui/main_frame.h"
#include "ui/view_commands.h"

// A list view that only records the commands it is given and reports the
// state the test sets.
class FakeView : public QWidget, public ViewCommands {
 public:
  bool Monitoring() const override { return monitoring; }
  bool SortColumnSet() const override { return sortColumnSet; }
  bool RowsSelected() const override { return rowsSelected; }
  void OnCommand(CommandId id) override { commands.push_back(id); }
  void Search(const QString& text) override { searches.push_back(text); }

  bool monitoring = false;
  bool sortColumnSet = false;
  bool rowsSelected = false;
  std::vector<int> commands;
  std::vector<QString> searches;
};

// A main window over objects of the test's own: settings in a temporary
// file, an adapter list the test supplies, and a document opener that only
// records what it was asked to open.
class FrameTest : public TempSettingsFile {
 protected:
  // The settings as the file holds them now; Store() first to pre-set keys.
  CSettings& Settings() {
    if (!settings_) settings_.emplace(path_);
    return *settings_;
  }

  CMainFrame& OpenFrame() {
    CSettings& settings = Settings();
    if (!trafficList_) trafficList_.emplace(settings);
    AppContext context{*trafficList_, nameCache_, services_, settings};
    context.findAdapters = [this] { return adapters; };
    context.openDocument = [this](const std::string& path) { openedDocuments.push_back(path); };
    context.filters = filters;
    frame_ = std::make_unique<CMainFrame>(std::move(context));
    view = new FakeView;
    frame_->SetView(view, view);
    return *frame_;
  }

  // Shown and active, so that its keys work.
  CMainFrame& ShowFrame() {
    CMainFrame& frame = frame_ ? *frame_ : OpenFrame();
    frame.show();
    frame.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&frame));
    return frame;
  }

  // Ends the window and the settings object, which writes the file; the
  // next Settings() or OpenFrame() reads the file again.
  void Restart() {
    frame_.reset();
    trafficList_.reset();
    settings_.reset();
  }

  CSettings& ReloadSettings() {
    Restart();
    return Settings();
  }

  std::vector<AdapterItem> adapters;
  std::vector<std::string> openedDocuments;
  CFilterManager* filters = nullptr;  // the window's filter store, if any
  FakeView* view = nullptr;  // owned by the frame
  CNSCashe nameCache_;
  CServicesParser services_{""};

 private:
  std::optional<CSettings> settings_;
  std::optional<CTrafficList> trafficList_;
  std::unique_ptr<CMainFrame> frame_;
};
