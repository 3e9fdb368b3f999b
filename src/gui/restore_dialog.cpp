#include "gui/restore_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "common/window_port.h"
#include "ui/translate.h"

namespace lw::gui {
namespace {

QString Tr(const char* text) { return QString::fromStdString(Translate(text)); }
QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

RestoreDialog::RestoreDialog(const std::string& backupDirectory, const std::string& lastSerial, WindowPort& port,
                             QWidget* parent)
    : QDialog(parent), model_(backupDirectory, lastSerial), port_(port) {
  setWindowTitle(Tr(kRestoreDialogTitle));
  // A dialog does not take the window's font by itself; the window's font follows the
  // interface language (a CJK face for Chinese).
  if (parent) setFont(parent->font());
  // The window's style sheet colours labels for the skin (light text on the dark skin); a
  // dialog has the platform's light face whatever the skin.
  setStyleSheet("QLabel { color: #1E2A38; }");
  auto* layout = new QVBoxLayout(this);

  table_ = new QTableWidget(this);
  const auto& columns = RestoreColumns();
  table_->setColumnCount(int(columns.size()));
  QStringList titles;
  for (const RestoreColumn& c : columns) titles << Tr(c.title);
  table_->setHorizontalHeaderLabels(titles);
  int width = 0;
  for (size_t i = 0; i < columns.size(); ++i) {
    table_->setColumnWidth(int(i), columns[i].width);
    width += columns[i].width;
  }
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->verticalHeader()->hide();
  table_->setShowGrid(true);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setWordWrap(false);
  // The column widths are fixed in pixels; a compact face keeps a full date within its column.
  QFont compact = font();
  compact.setPixelSize(11);
  table_->setFont(compact);
  table_->setMinimumSize(width + 4, 220);
  layout->addWidget(table_);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  restore_ = new QPushButton(Tr(kRestoreButtonText), this);
  delete_ = new QPushButton(Tr(kDeleteButtonText), this);
  restore_->setAutoDefault(false);
  delete_->setAutoDefault(false);
  buttons->addWidget(restore_);
  buttons->addWidget(delete_);
  layout->addLayout(buttons);

  connect(restore_, &QPushButton::clicked, this, [this] { Restore(); });
  connect(delete_, &QPushButton::clicked, this, [this] { Delete(); });
  connect(table_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    if (filling_ || item->column() != 0) return;
    model_.SetTicked(size_t(item->row()), item->checkState() == Qt::Checked);
    SyncTicks();
    SyncButtons();
  });
  connect(table_, &QTableWidget::itemSelectionChanged, this, [this] {
    if (filling_) return;
    const QList<QTableWidgetSelectionRange> ranges = table_->selectedRanges();
    model_.Select(ranges.isEmpty() ? std::nullopt : std::optional<size_t>(size_t(ranges.first().topRow())));
    SyncButtons();
  });
  Fill();
}

void RestoreDialog::Fill() {
  filling_ = true;
  table_->clearSelection();
  table_->setRowCount(int(model_.rows().size()));
  for (size_t i = 0; i < model_.rows().size(); ++i) {
    const RestoreRow& row = model_.rows()[i];
    auto* tick = new QTableWidgetItem;
    tick->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    table_->setItem(int(i), 0, tick);
    const std::string cells[] = {row.serial, row.date, row.fileName, row.path};
    for (int c = 0; c < 4; ++c) {
      auto* item = new QTableWidgetItem(Q(cells[c]));
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
      item->setToolTip(Q(cells[c]));  // the columns are narrower than a long path
      table_->setItem(int(i), c + 1, item);
    }
  }
  filling_ = false;
  SyncTicks();
  SyncButtons();
}

void RestoreDialog::SyncTicks() {
  filling_ = true;
  for (size_t i = 0; i < model_.rows().size(); ++i)
    table_->item(int(i), 0)->setCheckState(model_.rows()[i].ticked ? Qt::Checked : Qt::Unchecked);
  filling_ = false;
}

void RestoreDialog::SyncButtons() {
  restore_->setEnabled(model_.RestoreEnabled());
  delete_->setEnabled(model_.DeleteEnabled());
}

void RestoreDialog::Restore() {
  chosen_ = model_.ChosenFile();
  if (chosen_) accept();
}

void RestoreDialog::Delete() {
  if (model_.DeleteSelected(port_) == RestoreList::DeleteOutcome::Deleted) Fill();
  SyncButtons();
}

}  // namespace lw::gui
