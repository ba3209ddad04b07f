// The filter dialog, driven as a user drives it: with the keys where the
// keys are what matters.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "filters/filter_manager.h"
#include "filters/filter_store_fakes.h"
#include "filters/filters_file.h"
#include "gui/frame_fixture.h"
#include "platform/app_files.h"
#include "ui/filters_setup_dlg.h"

namespace {

using Button = CFiltersSetupDlg::Button;

struct Row {
  std::string text;
  bool checked;
  std::string status;
  bool operator==(const Row&) const = default;
};

void PrintTo(const Row& row, std::ostream* out) {
  *out << '{' << row.text << ", " << row.checked << ", " << row.status << '}';
}

class FiltersDialogTest : public FrameTest {
 protected:
  FiltersDialogTest() { m_store.SetCapture(&m_capture); }
  ~FiltersDialogTest() override { m_dialog.reset(); }

  std::string FiltersPath() const { return m_file.Path(); }
  void WriteFilters(const std::string& content) const { m_file.Write(content); }
  std::string ReadFilters() const { return m_file.Read(); }

  CFiltersSetupDlg& Open() {
    m_dialog = std::make_unique<CFiltersSetupDlg>(
        m_store, [this](const std::string& path) { openedDocuments.push_back(path); });
    m_dialog->show();
    return *m_dialog;
  }

  std::vector<Row> Rows() const { return RowsOf(*m_dialog); }
  // A status is also its cell's tip, whole however narrow the column: a
  // tip that differs is shown after the status.
  static std::vector<Row> RowsOf(const CFiltersSetupDlg& dialog) {
    std::vector<Row> rows;
    const QTreeWidget& list = *dialog.List();
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
      const QTreeWidgetItem& item = *list.topLevelItem(i);
      std::string status = item.text(1).toStdString();
      if (item.toolTip(1) != item.text(1)) status += " [tip: " + item.toolTip(1).toStdString() + "]";
      rows.push_back({item.text(0).toStdString(), item.checkState(0) == Qt::Checked, status});
    }
    return rows;
  }

  bool ApplyEnabled() const { return m_dialog->ButtonOf(Button::kApply)->isEnabled(); }
  QLineEdit* Editor() const { return m_dialog->List()->findChild<QLineEdit*>(); }
  void Click(Button button) { QTest::mouseClick(m_dialog->ButtonOf(button), Qt::LeftButton); }
  // The editor hands its text over once the event loop gets to it.
  void PressInEditor(Qt::Key key) {
    QTest::keyClick(Editor(), key);
    QApplication::processEvents();
  }

  FiltersFile m_file{folder_};
  FakeFilterCapture m_capture;
  CFilterManager m_store{FiltersPath()};
  std::unique_ptr<CFiltersSetupDlg> m_dialog;
};

const char kSyntaxError[] = "can't parse filter expression: syntax error";

TEST_F(FiltersDialogTest, OpensWithTheFilesFiltersEachChecked) {
  WriteFilters("+tcp\r\n-udp and\r\n+udp and\r\n+ether host 02:00:00:00:00:01\r\n");
  CFiltersSetupDlg& dialog = Open();
  EXPECT_EQ(dialog.windowTitle().toStdString(), "过滤器设置");
  EXPECT_NE(dialog.findChild<QLabel*>()->text().toStdString().find("点击右侧帮助按钮可以了解更多. "), std::string::npos);
  const std::vector<std::pair<Button, const char*>> buttons = {
      {Button::kHelp, "帮助"}, {Button::kAdd, "添加"},   {Button::kDelete, "删除"}, {Button::kModify, "修改"},
      {Button::kSave, "保存"}, {Button::kApply, "应用"}, {Button::kCancel, "取消"}};
  for (const auto& [button, text] : buttons) EXPECT_EQ(dialog.ButtonOf(button)->text().toStdString(), text);
  EXPECT_TRUE(dialog.ButtonOf(Button::kSave)->isDefault());
  // Tab goes from Help through the list to the buttons, left to right.
  std::vector<QWidget*> tabOrder;
  QWidget* w = dialog.ButtonOf(Button::kHelp);
  for (int step = 0; step < 100 && tabOrder.size() < 8; ++step, w = w->nextInFocusChain())
    if ((w->focusPolicy() & Qt::TabFocus) != 0 && w->isVisibleTo(&dialog)) tabOrder.push_back(w);
  EXPECT_EQ(tabOrder, (std::vector<QWidget*>{dialog.ButtonOf(Button::kHelp), dialog.List(),
                                             dialog.ButtonOf(Button::kAdd), dialog.ButtonOf(Button::kDelete),
                                             dialog.ButtonOf(Button::kModify), dialog.ButtonOf(Button::kSave),
                                             dialog.ButtonOf(Button::kApply), dialog.ButtonOf(Button::kCancel)}));

  const QTreeWidget& list = *dialog.List();
  EXPECT_EQ(list.headerItem()->text(0).toStdString(), "过滤器");
  EXPECT_EQ(list.headerItem()->text(1).toStdString(), "状态");
  EXPECT_EQ(list.columnWidth(0), 240);
  EXPECT_EQ(list.columnWidth(1), 240);
  EXPECT_FALSE(list.header()->sectionsClickable());
  EXPECT_EQ(Rows(), (std::vector<Row>{{"tcp", true, "没有错误"},
                                      {"udp and", false, ""},
                                      {"udp and", true, kSyntaxError},
                                      {"ether host 02:00:00:00:00:01", true, "没有错误"}}))
      << "an Ethernet expression is fine before any capture";
  EXPECT_FALSE(ApplyEnabled());
}

// A row whose expression does not compile shows why while it is checked,
// and nothing once it is unchecked; the space key toggles the box.
TEST_F(FiltersDialogTest, StatusFollowsTheCheckBox) {
  WriteFilters("-tcp and\r\n");
  Open();
  QTreeWidget& list = *m_dialog->List();
  list.setFocus();
  list.setCurrentItem(list.topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
  ASSERT_FALSE(ApplyEnabled());
  QTest::keyClick(&list, Qt::Key_Space);
  EXPECT_EQ(Rows(), (std::vector<Row>{{"tcp and", true, kSyntaxError}}));
  EXPECT_TRUE(ApplyEnabled());
  QTest::keyClick(&list, Qt::Key_Space);
  EXPECT_EQ(Rows(), (std::vector<Row>{{"tcp and", false, ""}}));
}

// F2 edits, Enter keeps, Escape cancels; an edit re-checks the row.
TEST_F(FiltersDialogTest, EditsInPlaceFromTheKeyboard) {
  WriteFilters("+tcp\r\n");
  Open();
  QTreeWidget& list = *m_dialog->List();
  list.setFocus();
  list.setCurrentItem(list.topLevelItem(0));
  QTest::keyClick(&list, Qt::Key_F2);
  ASSERT_NE(Editor(), nullptr);
  Editor()->selectAll();
  QTest::keyClicks(Editor(), "udp and");
  PressInEditor(Qt::Key_Return);
  EXPECT_EQ(Rows(), (std::vector<Row>{{"udp and", true, kSyntaxError}}));

  m_dialog->OnApply();
  ASSERT_FALSE(ApplyEnabled());
  QTest::keyClick(&list, Qt::Key_F2);
  ASSERT_NE(Editor(), nullptr);
  QTest::keyClicks(Editor(), "x");
  PressInEditor(Qt::Key_Escape);
  EXPECT_EQ(Rows(), (std::vector<Row>{{"udp and", true, kSyntaxError}}));
  EXPECT_TRUE(ApplyEnabled()) << "an edit that ended, kept or not";
  EXPECT_TRUE(Editor() == nullptr || !Editor()->isVisible());
}

TEST_F(FiltersDialogTest, AddThenEscapeIsSavedAsADisabledFilter) {
  Open();
  m_dialog->OnAdd();
  ASSERT_NE(Editor(), nullptr);
  EXPECT_EQ(Editor()->text().toStdString(), "enter your filter");
  PressInEditor(Qt::Key_Escape);
  EXPECT_EQ(Rows(), (std::vector<Row>{{"enter your filter", false, ""}}));
  Click(Button::kSave);
  EXPECT_EQ(m_dialog->result(), QDialog::Accepted);
  EXPECT_EQ(ReadFilters(), "-enter your filter\r\n");
}

TEST_F(FiltersDialogTest, AddThenClearedIsDroppedOnApply) {
  WriteFilters("+tcp\r\n");
  Open();
  m_dialog->OnAdd();
  ASSERT_NE(Editor(), nullptr);
  Editor()->clear();
  PressInEditor(Qt::Key_Enter);
  EXPECT_EQ(Rows(), (std::vector<Row>{{"tcp", true, "没有错误"}, {"", false, ""}}));
  ASSERT_TRUE(ApplyEnabled());
  Click(Button::kApply);
  EXPECT_FALSE(ApplyEnabled());
  EXPECT_EQ(ReadFilters(), "+tcp\r\n");
  EXPECT_EQ(m_store.Entries().size(), 1u);
}

TEST_F(FiltersDialogTest, DeleteRemovesEverySelectedRow) {
  WriteFilters("+tcp\r\n-udp\r\n+icmp\r\n-arp\r\n");
  Open();
  QTreeWidget& list = *m_dialog->List();
  list.topLevelItem(0)->setSelected(true);
  list.topLevelItem(2)->setSelected(true);
  list.topLevelItem(3)->setSelected(true);
  Click(Button::kDelete);
  EXPECT_EQ(Rows(), (std::vector<Row>{{"udp", false, ""}}));
  Click(Button::kSave);
  EXPECT_EQ(ReadFilters(), "-udp\r\n");
}

TEST_F(FiltersDialogTest, ModifyEditsTheFirstSelectedRowOnly) {
  WriteFilters("+tcp\r\n-udp\r\n-icmp\r\n");
  Open();
  Click(Button::kModify);
  EXPECT_EQ(Editor(), nullptr) << "nothing selected, nothing edited";
  EXPECT_TRUE(ApplyEnabled());

  QTreeWidget& list = *m_dialog->List();
  list.topLevelItem(2)->setSelected(true);
  list.topLevelItem(1)->setSelected(true);
  Click(Button::kModify);
  ASSERT_NE(Editor(), nullptr);
  EXPECT_EQ(Editor()->text().toStdString(), "udp");
}

// Cancel leaves the store, the file and the capture as they were; what an
// earlier Apply gave stays in force.
TEST_F(FiltersDialogTest, CancelDiscardsTheRowsOnly) {
  WriteFilters("+tcp\r\n");
  m_capture.monitoring = true;
  Open();
  m_dialog->List()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
  m_dialog->OnAdd();
  PressInEditor(Qt::Key_Escape);
  Click(Button::kCancel);
  EXPECT_EQ(m_dialog->result(), QDialog::Rejected);
  ASSERT_EQ(m_store.Entries().size(), 1u);
  EXPECT_EQ(m_store.Entries()[0].text, "tcp");
  EXPECT_TRUE(m_store.Entries()[0].enabled);
  EXPECT_EQ(ReadFilters(), "+tcp\r\n");
  EXPECT_TRUE(m_capture.installed.empty());
}

// During a capture Apply gives it the checked filters at once; the dialog
// stays open.
TEST_F(FiltersDialogTest, ApplyDuringACaptureInstallsAndSaves) {
  WriteFilters("-tcp\r\n-udp port 53\r\n");
  m_capture.monitoring = true;
  Open();
  for (int row = 0; row < 2; ++row) m_dialog->List()->topLevelItem(row)->setCheckState(0, Qt::Checked);
  Click(Button::kApply);
  EXPECT_EQ(m_capture.installed, std::vector<std::string>{"(tcp) or (udp port 53)"});
  EXPECT_EQ(ReadFilters(), "+tcp\r\n+udp port 53\r\n");
  EXPECT_TRUE(m_dialog->isVisible());
}

TEST_F(FiltersDialogTest, HelpOpensTheLanguagePageBesideTheProgram) {
  Open();
  Click(Button::kHelp);
  const std::string page = platform::HelpFolderPath() + "/group__language.html";
  EXPECT_EQ(openedDocuments, std::vector<std::string>{page});
  EXPECT_GT(std::filesystem::file_size(page), 1000u) << "the build puts the page there";
}

// Ctrl+E opens the dialog over the window, on the window's filter store.
TEST_F(FiltersDialogTest, FilterCommandOpensTheDialog) {
  WriteFilters("+tcp\r\n");
  filters = &m_store;
  CMainFrame& frame = ShowFrame();
  std::vector<Row> seen;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<CFiltersSetupDlg*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    seen = RowsOf(*dialog);
    dialog->reject();
  });
  QTest::keyClick(&frame, Qt::Key_E, Qt::ControlModifier);
  EXPECT_EQ(seen, (std::vector<Row>{{"tcp", true, "没有错误"}}));
}

}  // namespace
