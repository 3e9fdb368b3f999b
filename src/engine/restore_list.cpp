#include "engine/restore_list.h"

#include <algorithm>
#include <filesystem>

#include "common/text.h"
#include "engine/backup_store.h"
#include "ui/translate.h"

namespace lw {
namespace fs = std::filesystem;

const std::array<RestoreColumn, 5>& RestoreColumns() {
  static const std::array<RestoreColumn, 5> columns = {{
      {TextKey("Restore"), 55, true},
      {TextKey("Serial Number"), 92, false},
      {TextKey("Backup Date"), 130, false},
      {TextKey("File Name"), 225, false},
      {TextKey("Path"), 360, false},
  }};
  return columns;
}

RestoreList::RestoreList(const std::string& backupDirectory, const std::string& lastSerial) {
  std::string folder = backupDirectory;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();

  std::error_code ec;
  fs::directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (it->is_directory(typeError)) continue;
    std::string name = it->path().filename().string();
    if (!IsBackupFileName(name)) continue;
    rows_.push_back({folder, name, BackupSerialOf(name), BackupDateOf(name), false});
  }
  // The directory search order is arbitrary here; sorted rows keep a radio's backups together
  // and oldest first, as the operator expects.
  std::sort(rows_.begin(), rows_.end(),
            [](const RestoreRow& a, const RestoreRow& b) { return a.fileName < b.fileName; });

  if (!lastSerial.empty()) {
    auto match = std::find_if(rows_.begin(), rows_.end(),
                              [&](const RestoreRow& r) { return r.serial == lastSerial; });
    if (match != rows_.end()) match->ticked = true;
  }
}

void RestoreList::Select(std::optional<size_t> row) {
  selected_ = (row && *row < rows_.size()) ? row : std::nullopt;
}

void RestoreList::SetTicked(size_t row, bool ticked) {
  if (row >= rows_.size()) return;
  if (ticked)
    for (auto& r : rows_) r.ticked = false;
  rows_[row].ticked = ticked;
}

bool RestoreList::RestoreEnabled() const {
  return std::any_of(rows_.begin(), rows_.end(), [](const RestoreRow& r) { return r.ticked; });
}

std::optional<std::string> RestoreList::ChosenFile() const {
  for (const auto& r : rows_)
    if (r.ticked) return r.FullPath();
  return std::nullopt;
}

std::string RestoreList::DeleteQuestion(size_t row) const {
  const RestoreRow& r = rows_.at(row);
  return FillPlaceholders(
      Translate("Delete the selected file [SN+ %s, Date+%s] ?Warning: sure to restore this radio "
                "from the file before delete it!"),
      {r.serial, r.date});
}

RestoreList::DeleteOutcome RestoreList::DeleteSelected(WindowPort& port) {
  if (!selected_) {
    port.ShowNotice(Translate("Please select a record to delete!"), false);
    return DeleteOutcome::NothingSelected;
  }
  size_t row = *selected_;
  // No is preselected: the file may be the only copy of the radio's data.
  if (!port.AskYesNo(DeleteQuestion(row), false)) return DeleteOutcome::Declined;
  if (Status deleted = BackupStore::DeleteBackup(rows_[row].FullPath()); !deleted.ok()) {
    port.ShowNotice(deleted.message(), true);
    return DeleteOutcome::Failed;
  }
  rows_.erase(rows_.begin() + std::ptrdiff_t(row));
  selected_.reset();
  return DeleteOutcome::Deleted;
}

}  // namespace lw
