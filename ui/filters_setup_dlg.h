#pragma once

#include <QDialog>
#include <QHash>
#include <QString>
#include <functional>
#include <string>

#include "filters/filter_rows.h"

class CFilterManager;
class QItemSelection;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The dialog in which the user edits the capture filters: adds, edits and
// deletes expressions, switches each on or off, sees whether each enabled
// one compiles, applies the list to a running capture and saves it. The
// rows are the dialog's own until Apply or Save; Cancel discards them.
class CFiltersSetupDlg : public QDialog, public FilterRows {
  Q_OBJECT

 public:
  static constexpr int kColumnWidth = 240;
  static constexpr char kHelpPage[] = "group__language.html";

  enum class Button { kHelp, kAdd, kDelete, kModify, kSave, kApply, kCancel };

  // `openDocument` shows the help page.
  CFiltersSetupDlg(CFilterManager& filters, std::function<void(const std::string&)> openDocument,
                   QWidget* parent = nullptr);

  void DeleteAllRows() override;
  void AppendRow(const std::string& expression, bool enabled) override;
  int RowCount() const override;
  std::string RowExpression(int row) const override;
  bool RowEnabled(int row) const override;

  QTreeWidget* List() const { return m_list; }
  QPushButton* ButtonOf(Button button) const;

  // The handlers of the buttons, as a click runs them.
  void OnAdd();
  void OnDelete();
  void OnModify();
  void OnApply();
  void OnHelp();

 protected:
  // Save: the rows become the filters, given to a running capture and
  // written to the file; then the dialog closes.
  void accept() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void CreateList();
  void ArrangeControls();
  void ConnectControls();
  void StoreRows();
  void EditRow(QTreeWidgetItem* item);
  void OnItemChanged(QTreeWidgetItem* item, int column);
  void OnSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
  void RefreshStatus(QTreeWidgetItem* item);
  QString StatusOf(const QString& expression);
  void EnableApply(bool enable);

  CFilterManager& m_filters;
  std::function<void(const std::string&)> m_openDocument;
  QTreeWidget* m_list = nullptr;
  QPushButton* m_buttons[7] = {};
  QHash<QString, QString> m_statuses;  // by expression
};
