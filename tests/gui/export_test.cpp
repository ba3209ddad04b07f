// Files of connections written from the window, read back by Python's own
// csv and json readers and compared with the connections.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTabWidget>
#include <fstream>
#include <string>
#include <vector>

#include "gui/view_fixture.h"
#include "support/program_run.h"
#include "support/test_folder.h"
#include "ui/command_ids.h"
#include "ui/history_view.h"
#include "ui/view_export.h"

namespace {

// One line per connection: its endpoints and figures as texts, and whether
// its two times are ISO 8601 times the duration apart.
constexpr char kReadBack[] = R"(
import csv, json, sys
from datetime import datetime
kind, path = sys.argv[1], sys.argv[2]
with open(path, newline='', encoding='utf-8') as f:
    rows = list(csv.DictReader(f)) if kind == 'csv' else [json.loads(line) for line in f]
for row in rows:
    span = datetime.fromisoformat(row['last_seen']) - datetime.fromisoformat(row['first_seen'])
    times = abs(span.total_seconds() - float(row['duration'])) < 0.0005
    keys = ['src', 'sport', 'dst', 'dport', 'proto', 'bytes', 'packets', 'duration', 'reason']
    print(' '.join('-' if row.get(k) in (None, '') else str(row[k]) for k in keys), times)
)";

using Lines = std::vector<std::string>;

class ExportTest : public ViewTableTest {
 protected:
  ExportTest() { platform::SetTestTickCount(1000); }
  ~ExportTest() override {
    CloseWindow();
    platform::ReleaseTestTickCount();
  }

  // Two packets of a TCP connection 2.5 s apart, a UDP one and an ICMP one.
  void ThreeConnections() {
    OpenWindow();
    Account(6, 1, 300);
    platform::SetTestTickCount(3500);
    Account(6, 1, 200);
    Account(17, 2);
    Account(1, 3, 60);
    Pass();
  }

  // Writes the file and waits until it is whole.
  bool Export(CViewExport::Source source, const std::string& name, ExportFormat format) {
    QSignalSpy written(&view->Export().Writer(), &CConnectionExport::written);
    const QString path = QString::fromStdString((folder.Path() / name).string());
    if (!view->Export().ExportTo(source, historyShown, path, format)) return false;
    return written.wait(10000) && written.at(0).at(2).toBool();
  }

  Lines ReadBack(const std::string& name) {
    const auto script = folder.Path() / "read_back.py";
    std::ofstream(script) << kReadBack;
    const std::string kind = name.ends_with(".csv") ? "csv" : "jsonl";
    const ProgramRun run = RunProgram("/usr/bin/python3", {script.string(), kind, (folder.Path() / name).string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    Lines lines;
    std::size_t start = 0;
    for (std::size_t end; (end = run.out.find('\n', start)) != std::string::npos; start = end + 1)
      lines.push_back(run.out.substr(start, end - start));
    return lines;
  }

  TestFolder folder;
  bool historyShown = false;
};

// The list whole, or its selected rows, in either format: the figures the
// table holds, the times the duration apart, no reason (they are open).
TEST_F(ExportTest, ListAndSelectedRowsReadBackAsTheTableHoldsThem) {
  ThreeConnections();
  const Lines all = {"10.0.0.1 7 10.0.0.200 80 6 500 2 2.5 - True",
                     "10.0.0.2 7 10.0.0.200 80 17 100 1 0.0 - True",
                     "10.0.0.3 7 10.0.0.200 80 1 60 1 0.0 - True"};
  ASSERT_TRUE(Export(CViewExport::Source::kList, "list.csv", ExportFormat::kCsv));
  Lines csv = all;
  csv[0] = "10.0.0.1 7 10.0.0.200 80 6 500 2 2.500 - True";
  csv[1] = "10.0.0.2 7 10.0.0.200 80 17 100 1 0.000 - True";
  csv[2] = "10.0.0.3 7 10.0.0.200 80 1 60 1 0.000 - True";
  EXPECT_EQ(ReadBack("list.csv"), csv);

  view->selectionModel()->select(view->model()->index(2, 0),
                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  view->selectionModel()->select(view->model()->index(0, 0),
                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  EXPECT_TRUE(Frame().CommandStateOf(ID_EXPORT_SELECTED).enabled);
  ASSERT_TRUE(Export(CViewExport::Source::kSelectedRows, "selected.jsonl", ExportFormat::kJsonLines));
  EXPECT_EQ(ReadBack("selected.jsonl"), (Lines{all[0], all[2]}));
}

// The history says why each connection left; its selected rows are those
// of its own page when that page is shown.
TEST_F(ExportTest, HistoryAndItsSelectedRowsCarryTheReason) {
  ThreeConnections();
  Frame().ExecuteCommand(ID_HIDE_UDP);
  Frame().ExecuteCommand(ID_EDIT_CLEAR_ALL);
  ASSERT_TRUE(Export(CViewExport::Source::kHistory, "history.jsonl", ExportFormat::kJsonLines));
  EXPECT_EQ(ReadBack("history.jsonl"), (Lines{"10.0.0.2 7 10.0.0.200 80 17 100 1 0.0 hidden True",
                                             "10.0.0.1 7 10.0.0.200 80 6 500 2 2.5 cleared True",
                                             "10.0.0.3 7 10.0.0.200 80 1 60 1 0.0 cleared True"}));

  Frame().Pages()->setCurrentIndex(1);
  historyShown = true;
  QTableView& table = view->History().Table();
  EXPECT_FALSE(Frame().CommandStateOf(ID_EXPORT_SELECTED).enabled);
  table.selectionModel()->select(table.model()->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  EXPECT_TRUE(Frame().CommandStateOf(ID_EXPORT_SELECTED).enabled);
  ASSERT_TRUE(Export(CViewExport::Source::kSelectedRows, "one.csv", ExportFormat::kCsv));
  EXPECT_EQ(ReadBack("one.csv"), (Lines{"10.0.0.1 7 10.0.0.200 80 6 500 2 2.500 cleared True"}));
}

// The menu's command asks for the file; a file that cannot be written is
// said in a message box, with the reason.
TEST_F(ExportTest, CommandAsksForTheFileAndAFailureSaysWhy) {
  ThreeConnections();
  Frame().ExecuteCommand(ID_EXPORT_LIST);
  auto* dialog = view->findChild<QFileDialog*>(QStringLiteral("exportDialog"));
  ASSERT_NE(dialog, nullptr);
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  QSignalSpy written(&view->Export().Writer(), &CConnectionExport::written);
  dialog->selectNameFilter(dialog->nameFilters().at(1));
  dialog->selectFile(QString::fromStdString((folder.Path() / "chosen.jsonl").string()));
  static_cast<QDialog*>(dialog)->accept();  // as the Save button does
  ASSERT_TRUE(written.wait(10000));
  EXPECT_EQ(ReadBack("chosen.jsonl").size(), 3u);

  const QString missing = QString::fromStdString((folder.Path() / "no-such-folder" / "list.csv").string());
  ASSERT_TRUE(view->Export().ExportTo(CViewExport::Source::kList, false, missing, ExportFormat::kCsv));
  ASSERT_TRUE(QTest::qWaitFor([this] { return view->findChild<QMessageBox*>(QStringLiteral("exportFailed")) != nullptr; }, 10000));
  const QString text = view->findChild<QMessageBox*>(QStringLiteral("exportFailed"))->text();
  EXPECT_EQ(text.toStdString(), "无法写入文件 " + missing.toStdString() + ": No such file or directory");
}

}  // namespace
