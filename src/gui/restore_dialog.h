// The restore list dialog ("Restore Data"): the backups of the backup folder, one row each,
// drawn from the RestoreList model, which holds every rule (which row is ticked, when
// "Restore" and "Delete" are enabled, the delete question). The dialog only draws the model
// and hands the operator's ticks, selections and button presses to it.
#pragma once

#include <QDialog>

#include <optional>
#include <string>

#include "engine/restore_list.h"

class QPushButton;
class QTableWidget;

namespace lw {
class WindowPort;
}

namespace lw::gui {

class RestoreDialog : public QDialog {
  Q_OBJECT

 public:
  // `lastSerial`: the serial number of the radio identified last (its first backup is ticked).
  // `port` asks the delete question and shows the notices.
  RestoreDialog(const std::string& backupDirectory, const std::string& lastSerial, WindowPort& port,
                QWidget* parent = nullptr);

  // The file to restore from once the dialog ended with Accepted.
  const std::optional<std::string>& Chosen() const { return chosen_; }

  const RestoreList& Model() const { return model_; }
  QTableWidget* Table() const { return table_; }
  QPushButton* RestoreButton() const { return restore_; }
  QPushButton* DeleteButton() const { return delete_; }

 private:
  void Fill();
  void SyncTicks();
  void SyncButtons();
  void Restore();
  void Delete();

  RestoreList model_;
  WindowPort& port_;
  QTableWidget* table_ = nullptr;
  QPushButton* restore_ = nullptr;
  QPushButton* delete_ = nullptr;
  std::optional<std::string> chosen_;
  bool filling_ = false;
};

}  // namespace lw::gui
