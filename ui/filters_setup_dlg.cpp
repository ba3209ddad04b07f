#include "ui/filters_setup_dlg.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelection>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <initializer_list>
#include <iterator>
#include <set>

#include "filters/filter_manager.h"
#include "ui/language.h"

namespace {

enum Column { kFilterColumn = 0, kStatusColumn = 1 };

// About the 358 by 261 dialog units it was first drawn at.
constexpr QSize kInitialSize(540, 420);

// Edits an expression in place, no longer than the store keeps.
class ExpressionDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* line = qobject_cast<QLineEdit*>(editor))
      line->setMaxLength(static_cast<int>(CFilterManager::kMaxTextLength));
    return editor;
  }
};

}  // namespace

CFiltersSetupDlg::CFiltersSetupDlg(CFilterManager& filters, std::function<void(const std::string&)> openDocument,
                                   QWidget* parent)
    : QDialog(parent), m_filters(filters), m_openDocument(std::move(openDocument)) {
  setWindowTitle(tr("过滤器设置"));
  BuildControls();
  // Every enabled filter is checked while the rows are filled; the Apply
  // button waits for the user's first change.
  m_filters.FillList(*this);
  EnableApply(false);
  m_list->setFocus();
}

void CFiltersSetupDlg::BuildControls() {
  const char* const texts[] = {
      QT_TR_NOOP("帮助"), QT_TR_NOOP("添加"), QT_TR_NOOP("删除"), QT_TR_NOOP("修改"),
      QT_TR_NOOP("保存"), QT_TR_NOOP("应用"), QT_TR_NOOP("取消"),
  };
  static_assert(std::size(texts) == std::size(decltype(m_buttons){}));
  for (std::size_t i = 0; i < std::size(texts); ++i) m_buttons[i] = new QPushButton(tr(texts[i]));
  QPushButton* save = ButtonOf(Button::kSave);
  save->setDefault(true);
  for (QPushButton* button : m_buttons)
    if (button != save) button->setAutoDefault(false);
  CreateList();
  ArrangeControls();
  ConnectControls();
  resize(kInitialSize.expandedTo(sizeHint()));
}

void CFiltersSetupDlg::CreateList() {
  m_list = new QTreeWidget;
  m_list->setObjectName(QStringLiteral("filterList"));
  m_list->setColumnCount(2);
  m_list->setHeaderLabels({tr("过滤器"), tr("状态")});
  m_list->header()->setSectionsClickable(false);
  m_list->header()->setStretchLastSection(false);
  m_list->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  m_list->setColumnWidth(kFilterColumn, kColumnWidth);
  m_list->setColumnWidth(kStatusColumn, kColumnWidth);
  m_list->setMinimumWidth(2 * kColumnWidth + 2 * m_list->frameWidth() + 4);
  m_list->setRootIsDecorated(false);
  m_list->setItemsExpandable(false);
  m_list->setAllColumnsShowFocus(true);
  m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
  // Only the expression is edited, whichever cell the user points at.
  m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_list->setItemDelegateForColumn(kFilterColumn, new ExpressionDelegate(m_list));
}

// The introduction and Help above the list, the buttons below it; the keys
// go from Help through the list to the buttons, left to right.
void CFiltersSetupDlg::ArrangeControls() {
  auto* intro = new QLabel(tr("在这个窗口您可以设置过滤器. 点击右侧帮助按钮可以了解更多. "));
  intro->setWordWrap(true);
  auto* top = new QHBoxLayout;
  top->addWidget(intro, 1);
  top->addWidget(ButtonOf(Button::kHelp), 0, Qt::AlignTop);
  auto* bottom = new QHBoxLayout;
  for (const Button b : {Button::kAdd, Button::kDelete, Button::kModify}) bottom->addWidget(ButtonOf(b));
  bottom->addStretch(1);
  for (const Button b : {Button::kSave, Button::kApply, Button::kCancel}) bottom->addWidget(ButtonOf(b));
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(m_list, 1);
  layout->addLayout(bottom);
  QWidget* previous = ButtonOf(Button::kHelp);
  for (QWidget* next : std::initializer_list<QWidget*>{m_list, ButtonOf(Button::kAdd), ButtonOf(Button::kDelete),
                                                       ButtonOf(Button::kModify), ButtonOf(Button::kSave),
                                                       ButtonOf(Button::kApply), ButtonOf(Button::kCancel)}) {
    setTabOrder(previous, next);
    previous = next;
  }
}

void CFiltersSetupDlg::ConnectControls() {
  connect(ButtonOf(Button::kHelp), &QPushButton::clicked, this, &CFiltersSetupDlg::OnHelp);
  connect(ButtonOf(Button::kAdd), &QPushButton::clicked, this, &CFiltersSetupDlg::OnAdd);
  connect(ButtonOf(Button::kDelete), &QPushButton::clicked, this, &CFiltersSetupDlg::OnDelete);
  connect(ButtonOf(Button::kModify), &QPushButton::clicked, this, &CFiltersSetupDlg::OnModify);
  connect(ButtonOf(Button::kSave), &QPushButton::clicked, this, &CFiltersSetupDlg::accept);
  connect(ButtonOf(Button::kApply), &QPushButton::clicked, this, &CFiltersSetupDlg::OnApply);
  connect(ButtonOf(Button::kCancel), &QPushButton::clicked, this, &CFiltersSetupDlg::reject);
  connect(m_list, &QTreeWidget::itemChanged, this, &CFiltersSetupDlg::OnItemChanged);
  connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &CFiltersSetupDlg::OnSelectionChanged);
  connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { EditRow(item); });
  m_list->installEventFilter(this);
  // The editor closing ends an edit, kept or cancelled.
  connect(m_list->itemDelegateForColumn(kFilterColumn), &QAbstractItemDelegate::closeEditor, this,
          [this] { EnableApply(true); });
}

// F2 edits the current row's expression, whichever of its cells is current.
bool CFiltersSetupDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_list && event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F2 &&
      static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
    EditRow(m_list->currentItem());
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

QPushButton* CFiltersSetupDlg::ButtonOf(Button button) const { return m_buttons[static_cast<int>(button)]; }

void CFiltersSetupDlg::DeleteAllRows() { m_list->clear(); }

void CFiltersSetupDlg::AppendRow(const std::string& expression, bool enabled) {
  auto* item = new QTreeWidgetItem;
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable | Qt::ItemIsUserCheckable |
                 Qt::ItemNeverHasChildren);
  item->setText(kFilterColumn, QString::fromStdString(expression));
  item->setCheckState(kFilterColumn, enabled ? Qt::Checked : Qt::Unchecked);
  m_list->addTopLevelItem(item);
  RefreshStatus(item);
  EnableApply(true);
}

int CFiltersSetupDlg::RowCount() const { return m_list->topLevelItemCount(); }

std::string CFiltersSetupDlg::RowExpression(int row) const {
  return m_list->topLevelItem(row)->text(kFilterColumn).toStdString();
}

bool CFiltersSetupDlg::RowEnabled(int row) const {
  return m_list->topLevelItem(row)->checkState(kFilterColumn) == Qt::Checked;
}

void CFiltersSetupDlg::OnAdd() {
  AppendRow(tr("enter your filter").toStdString(), false);
  EditRow(m_list->topLevelItem(RowCount() - 1));
  EnableApply(true);
}

void CFiltersSetupDlg::OnDelete() {
  const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
  for (QTreeWidgetItem* item : selected) delete item;
  EnableApply(true);
}

// The first selected row in the list's order, not in the order of selecting.
void CFiltersSetupDlg::OnModify() {
  QTreeWidgetItem* first = nullptr;
  for (int row = 0; row < RowCount() && first == nullptr; ++row)
    if (m_list->topLevelItem(row)->isSelected()) first = m_list->topLevelItem(row);
  if (first != nullptr) EditRow(first);
  EnableApply(true);
}

void CFiltersSetupDlg::EditRow(QTreeWidgetItem* item) {
  if (item == nullptr) return;
  m_list->setFocus();
  m_list->setCurrentItem(item, kFilterColumn);
  m_list->editItem(item, kFilterColumn);
}

void CFiltersSetupDlg::StoreRows() {
  m_filters.RebuildFromList(*this);
  m_filters.Save();
}

void CFiltersSetupDlg::OnApply() {
  StoreRows();
  EnableApply(false);
}

void CFiltersSetupDlg::accept() {
  StoreRows();
  QDialog::accept();
}

void CFiltersSetupDlg::OnHelp() { m_openDocument(HelpPagePath(kHelpPage)); }

// A change of the check box or of the expression; the Status column is the
// dialog's own writing.
void CFiltersSetupDlg::OnItemChanged(QTreeWidgetItem* item, int column) {
  if (column != kFilterColumn) return;
  RefreshStatus(item);
  EnableApply(true);
}

void CFiltersSetupDlg::OnSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
  std::set<int> rows;
  for (const QItemSelection* change : {&selected, &deselected})
    for (const QModelIndex& index : change->indexes()) rows.insert(index.row());
  for (const int row : rows)
    if (QTreeWidgetItem* item = m_list->topLevelItem(row)) RefreshStatus(item);
  EnableApply(true);
}

// An unchecked row shows nothing; a checked one whether it compiles.
void CFiltersSetupDlg::RefreshStatus(QTreeWidgetItem* item) {
  const QString status = item->checkState(kFilterColumn) == Qt::Checked ? StatusOf(item->text(kFilterColumn)) : QString();
  if (item->text(kStatusColumn) == status) return;
  item->setText(kStatusColumn, status);
  // A library's message is often longer than the column.
  item->setToolTip(kStatusColumn, status);
}

// Compiling looks up the names an expression holds, which may take the
// name service a while: each expression is checked once while the dialog
// is open, not again on every selection of its row.
QString CFiltersSetupDlg::StatusOf(const QString& expression) {
  const auto known = m_statuses.constFind(expression);
  if (known != m_statuses.constEnd()) return *known;
  const std::string result = m_filters.Validate(expression.toStdString());
  const QString status = result == CFilterManager::kNoError ? tr("没有错误") : QString::fromStdString(result);
  m_statuses.insert(expression, status);
  return status;
}

void CFiltersSetupDlg::EnableApply(bool enable) { ButtonOf(Button::kApply)->setEnabled(enable); }
