// The restore list: the backups in the backup directory as rows an operator ticks to restore
// from or selects to delete. This is the model without widgets; the window draws it as a
// dialog and the console lists it (loftwise-cli backups).
//
// Rules: one row per backup file, sorted by file name; the first row whose serial number is
// the serial number of the radio identified last is ticked when the list opens. At most one
// row is ticked (ticking one unticks the others). "Restore" is enabled while a row is ticked,
// "Delete" while a row is selected.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "common/window_port.h"
#include "common/text.h"

namespace lw {

// Texts of the dialog (English keys, translated when shown).
inline constexpr const char* kRestoreDialogTitle = TextKey("Restore Data");
inline constexpr const char* kRestoreButtonText = TextKey("Restore");
inline constexpr const char* kDeleteButtonText = TextKey("Delete");

struct RestoreColumn {
  const char* title;  // English key
  int width;          // in pixels at 100 % scaling
  bool checkBoxOnly;  // the column shows only the row's check box
};
// "Restore" (55), "Serial Number" (92), "Backup Date" (130), "File Name" (225), "Path" (360).
const std::array<RestoreColumn, 5>& RestoreColumns();

struct RestoreRow {
  std::string path;      // folder of the file, without a trailing '/'
  std::string fileName;  // name without the folder
  std::string serial;    // name up to the first "[" (empty when there is none)
  std::string date;      // "2016-05-04 13:45:10"
  bool ticked = false;

  std::string FullPath() const { return path + "/" + fileName; }
};

class RestoreList {
 public:
  // Reads the backups of `backupDirectory`; `lastSerial` is the serial number of the radio
  // identified last (may be empty: then nothing is ticked).
  RestoreList(const std::string& backupDirectory, const std::string& lastSerial);

  const std::vector<RestoreRow>& rows() const { return rows_; }
  bool empty() const { return rows_.empty(); }

  std::optional<size_t> selected() const { return selected_; }
  // Selects a row (nullopt clears the selection); a row number outside the list clears it too.
  void Select(std::optional<size_t> row);
  // Ticking a row unticks every other one; unticking leaves the others as they are.
  void SetTicked(size_t row, bool ticked);

  bool RestoreEnabled() const;
  bool DeleteEnabled() const { return selected_.has_value(); }

  // The "Restore" button: the full path of the ticked row, nullopt when none is ticked.
  std::optional<std::string> ChosenFile() const;

  // The confirmation question for deleting `row` (translated, serial and date filled in).
  std::string DeleteQuestion(size_t row) const;

  enum class DeleteOutcome { NothingSelected, Declined, Deleted, Failed };
  // The "Delete" button. Without a selected row the operator is told to select one. Otherwise
  // the question is asked; on yes the file is deleted and its row removed, and the selection
  // is cleared (so "Delete" turns off). A file that cannot be deleted keeps its row and the
  // operator is told why: removing the row would suggest a deletion that did not happen.
  DeleteOutcome DeleteSelected(WindowPort& port);

 private:
  std::vector<RestoreRow> rows_;
  std::optional<size_t> selected_;
};

}  // namespace lw
