#include "link/port_list.h"

#include <cstdint>

#include "common/text.h"
#include "link/usb_transport.h"

namespace lw {

std::string PortText(int port) { return Format("USB(%03d)", port); }

PortList::PortList(UsbTransport& transport) : transport_(transport) {
  entries_.push_back({kNoPortText, 0});
  selected_ = 0;
}

std::string PortList::SelectedText() const {
  if (selected_ < 0 || selected_ >= int(entries_.size())) return "";
  return entries_[size_t(selected_)].text;
}

int PortList::SelectedPort() const {
  if (selected_ < 0 || selected_ >= int(entries_.size())) return 0;
  return entries_[size_t(selected_)].port;
}

bool PortList::Select(const std::string& text) {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (EqualsIgnoreCase(entries_[i].text, text)) {
      selected_ = int(i);
      return true;
    }
  }
  return false;
}

int PortList::RefreshPortList() { return RefreshPortList(SelectedText()); }

int PortList::RefreshPortList(const std::string& wanted) {
  const std::string previous = wanted;
  entries_.clear();
  entries_.push_back({kNoPortText, 0});
  selected_ = -1;

  uint8_t ports[kPortBufferSize] = {};
  int classFlag = 0;
  const uint16_t found = transport_.Scan(ports, classFlag);
  bool previousPresent = false;
  // The buffer holds the numbers of the radios that got one; a radio counted beyond port 255
  // has none and cannot be listed.
  for (size_t i = 0; i < found && i < kPortBufferSize && ports[i] != 0; ++i) {
    PortListEntry entry{PortText(ports[i]), ports[i]};
    if (!previous.empty() && EqualsIgnoreCase(previous, entry.text)) previousPresent = true;
    entries_.push_back(entry);
  }

  if (previousPresent) {
    Select(previous);
    return classFlag;
  }
  // Probing opens and closes radios; with a radio already open (an operation holds it) an
  // Open would report that radio and the Close would pull it from under the operation.
  for (size_t i = 1; i < entries_.size() && !transport_.IsOpened(); ++i) {
    if (transport_.Open(entries_[i].port)) {
      transport_.Close();
      selected_ = int(i);
      return classFlag;
    }
  }
  Select(kNoPortText);
  return classFlag;
}

}  // namespace lw
