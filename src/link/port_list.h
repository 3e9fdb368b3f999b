// The port list the operator picks a radio from, as a model without any toolkit: the window
// (or the console) shows Entries() and reads SelectedPort().
//
// Entries: "None" (port 0), then "USB(%03d)" for each present radio, ascending. A refresh keeps
// the operator's choice when it is still present (compared without case), otherwise selects
// the first radio that actually opens, otherwise "None".
#pragma once

#include <string>
#include <vector>

#include "common/text.h"

namespace lw {

class UsbTransport;

struct PortListEntry {
  std::string text;
  int port = 0;  // the item data: 0 for "None", else the port number
};

inline constexpr const char* kNoPortText = TextKey("None");

std::string PortText(int port);  // "USB(007)"

class PortList {
 public:
  explicit PortList(UsbTransport& transport);

  // Rebuilds the list from a scan (primary class first) and selects as described above.
  // Returns the class flag of the scan: 1 when the radios were found under the primary class.
  // Call it on the user-interface thread at start-up and after every hot-plug event, never
  // while an operation holds the radio (probing opens and closes radios).
  int RefreshPortList();
  // The same, but when the radio of `wanted` (an entry text such as "USB(003)") is present it
  // is selected without probing any radio: a process told which radio to use must not open
  // the others, which other processes may be using.
  int RefreshPortList(const std::string& wanted);

  const std::vector<PortListEntry>& Entries() const { return entries_; }
  int SelectedIndex() const { return selected_; }
  std::string SelectedText() const;
  // The port number of the selection, 0 for "None" or no selection.
  int SelectedPort() const;
  // Selects the first entry whose text equals `text` (without case); false when there is none.
  bool Select(const std::string& text);

 private:
  UsbTransport& transport_;
  std::vector<PortListEntry> entries_;
  int selected_ = -1;
};

}  // namespace lw
