// The persistent map of port numbers to radio paths. A radio keeps the small number it got when
// it was first seen, across restarts and re-plugging: support staff and test stations address
// radios as "USB(003)". The map only grows; entries are never deleted.
//
// On disk (IniPortStore) it is a text file, by default $XDG_CONFIG_HOME/loftwise/ports.ini
// (~/.config/loftwise/ports.ini without XDG_CONFIG_HOME):
//
//   [Ports]
//   1=usb:1-1.4:7A01C2
//   2=usb:3-2
//
// one line per radio ever seen: the number in decimal as the key, the path as the value.
#pragma once

#include <map>
#include <string>

namespace lw {

using PortNumberMap = std::map<int, std::string>;  // port number -> device path

class PortStore {
 public:
  virtual ~PortStore() = default;
  // Every stored number and path. Empty when nothing has been stored yet or the store cannot be
  // read; lines that are not "number=path" with a number of 1 to 65535 are skipped.
  virtual PortNumberMap Load() = 0;
  // Adds or replaces these entries; entries of other numbers stay as they are. False when the
  // store cannot be written.
  virtual bool Save(const PortNumberMap& entries) = 0;
};

// The ports.ini file.
class IniPortStore : public PortStore {
 public:
  explicit IniPortStore(std::string path) : path_(std::move(path)) {}
  PortNumberMap Load() override;
  bool Save(const PortNumberMap& entries) override;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A map that lives as long as the object: for simulated radios, whose numbers should not mix
// with those of real radios in the user's file.
class MemoryPortStore : public PortStore {
 public:
  PortNumberMap Load() override { return entries_; }
  bool Save(const PortNumberMap& entries) override;

 private:
  PortNumberMap entries_;
};

// $XDG_CONFIG_HOME/loftwise/ports.ini, or $HOME/.config/loftwise/ports.ini.
std::string DefaultPortStorePath();

}  // namespace lw
