#include "sim/sim_profile.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/text.h"
#include "config/burn_script.h"
#include "config/line_reader.h"
#include "sim/sim_memory_map.h"

namespace lw::sim {

namespace {

std::optional<uint64_t> ParseUnsigned(const std::string& text, uint64_t max) {
  std::string t = Trim(text);
  if (t.empty() || t[0] == '-' || t[0] == '+') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  unsigned long long value = std::strtoull(t.c_str(), &end, 0);
  if (errno || end != t.c_str() + t.size() || value > max) return std::nullopt;
  return value;
}

std::optional<bool> ParseBool(const std::string& text) {
  std::string t = ToLowerAscii(Trim(text));
  if (t == "true" || t == "yes" || t == "1") return true;
  if (t == "false" || t == "no" || t == "0") return false;
  return std::nullopt;
}

std::optional<Bytes> ParseHexBytes(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == ',') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    digits += c;
  }
  if (digits.size() % 2) return std::nullopt;
  Bytes out;
  for (size_t i = 0; i < digits.size(); i += 2) out.push_back(uint8_t(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return out;
}

std::vector<std::string> Items(const std::string& text) {
  std::string t = text;
  for (char& c : t)
    if (c == ',' || c == '\t' || c == ';') c = ' ';
  std::vector<std::string> items;
  for (const std::string& s : Split(t, ' '))
    if (!Trim(s).empty()) items.push_back(Trim(s));
  return items;
}

std::optional<FaultRule> ParseFaultRule(const std::string& item, bool withDelay) {
  FaultRule rule;
  auto at = item.find('@');
  if (at == std::string::npos) return std::nullopt;
  std::string code = item.substr(0, at), rest = item.substr(at + 1);
  if (code == "*") {
    rule.code = -1;
  } else if (auto value = ParseUnsigned(code, 0xFFFF)) {
    rule.code = int(*value);
  } else {
    return std::nullopt;
  }
  if (withDelay) {
    auto colon = rest.find(':');
    if (colon == std::string::npos) return std::nullopt;
    auto ms = ParseUnsigned(rest.substr(colon + 1), 3600000);
    if (!ms) return std::nullopt;
    rule.delayMs = int(*ms);
    rest = rest.substr(0, colon);
  }
  if (!rest.empty() && rest.back() == '+') {
    rule.onward = true;
    rest.pop_back();
  }
  auto nth = ParseUnsigned(rest, 0xFFFFFFFF);
  if (!nth || *nth == 0) return std::nullopt;
  rule.nth = uint32_t(*nth);
  return rule;
}

bool ReadWholeFile(const std::string& path, Bytes& out) {
  // Only a regular file that fits in the flash: a folder opens as a stream that throws when
  // read, and a device such as /dev/zero never ends.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  const uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > kFlashSize) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.resize(size_t(size));
  if (size > 0 && !in.read(reinterpret_cast<char*>(out.data()), std::streamsize(size))) return false;
  return !in.bad();
}

std::string Resolve(const std::string& baseDir, const std::string& file) {
  std::filesystem::path p(NormalizeSeparators(file));
  if (p.is_absolute() || baseDir.empty()) return p.string();
  return (std::filesystem::path(baseDir) / p).lexically_normal().string();
}

}  // namespace

bool FaultRule::Matches(uint16_t requestCode, uint32_t countOfCode, uint32_t countOfAll) const {
  if (code >= 0 && code != requestCode) return false;
  const uint32_t count = code >= 0 ? countOfCode : countOfAll;
  return onward ? count >= nth : count == nth;
}

SimProfile DefaultSimProfile(const std::string& name) {
  SimProfile profile;
  profile.name = name;
  profile.path = "sim:" + name;
  profile.radioDataAddress = kDefaultRadioDataAddress;
  return profile;
}

std::optional<SimProfile> ParseSimProfile(std::string_view text, const std::string& baseDir,
                                          const std::string& defaultName, std::string* error) {
  SimProfile profile = DefaultSimProfile(defaultName);
  bool pathGiven = false, addressGiven = false;
  std::string section;
  std::string problem;
  int lineNumber = 0;

  std::istringstream in{std::string(text)};
  std::string raw;
  while (problem.empty() && std::getline(in, raw)) {
    ++lineNumber;
    ConfigLine line = ParseConfigLine(raw);
    if (line.type == ConfigLineType::Comment) continue;
    if (line.type == ConfigLineType::Section) {
      section = ToLowerAscii(line.name);
      if (section != "radio" && section != "link" && section != "faults")
        problem = "unknown section [" + line.name + "]";
      continue;
    }
    const std::string& key = line.key;
    const std::string& value = line.value;
    auto bad = [&](const char* what) { problem = Format("%s: %s", key.c_str(), what); };
    auto number = [&](uint64_t max) -> std::optional<uint64_t> {
      auto v = ParseUnsigned(value, max);
      if (!v) bad("not a number in range");
      return v;
    };
    auto rules = [&](std::vector<FaultRule>& target, bool withDelay) {
      for (const std::string& item : Items(value)) {
        auto rule = ParseFaultRule(item, withDelay);
        if (!rule) return bad(withDelay ? "expected CODE@N:MS items" : "expected CODE@N items");
        target.push_back(*rule);
      }
    };

    if (key == "name") {
      profile.name = value;
    } else if (key == "path") {
      profile.path = value;
      pathGiven = true;
    } else if (key == "class") {
      std::string c = ToLowerAscii(value);
      if (c == "primary") profile.usbClass = UsbDeviceClass::Primary;
      else if (c == "fallback") profile.usbClass = UsbDeviceClass::Fallback;
      else bad("expected primary or fallback");
    } else if (key == "bootloader") {
      bool ok = value.size() == 9 && value[2] == '.' && value[5] == '.';
      for (size_t i = 0; ok && i < value.size(); ++i)
        if (i != 2 && i != 5 && !std::isdigit(static_cast<unsigned char>(value[i]))) ok = false;
      if (ok) profile.bootloader = value;
      else bad("expected the form 01.04.006");
    } else if (key == "radio_state") {
      if (auto v = number(255)) profile.radioState = int(*v);
    } else if (key == "receive_side") {
      if (auto v = ParseBool(value)) profile.receiveSide = *v;
      else bad("expected true or false");
    } else if (key == "radio_data") {
      profile.radioDataFile = Resolve(baseDir, value);
    } else if (key == "radio_data_address") {
      if (auto v = number(kFlashSize - 1)) {
        profile.radioDataAddress = uint32_t(*v);
        addressGiven = true;
      }
    } else if (key == "image") {
      auto items = Items(value);
      auto selector = items.size() == 3 ? ParseUnsigned(items[0], 255) : std::nullopt;
      auto address = items.size() == 3 ? ParseUnsigned(items[1], kFlashSize - 1) : std::nullopt;
      if (!selector || !address) bad("expected SELECTOR ADDRESS FILE");
      else profile.images.push_back({uint8_t(*selector), uint32_t(*address), Resolve(baseDir, items[2]), {}});
    } else if (key == "info_block" || key == "rx_info_block") {
      auto bytes = ParseHexBytes(value);
      if (!bytes || bytes->size() > kInfoBlockSize) bad("expected up to 256 hexadecimal bytes");
      else (key == "info_block" ? profile.infoBlock : profile.rxInfoBlock) = *bytes;
    } else if (key == "burn_script") {
      profile.burnScript = Resolve(baseDir, value);
    } else if (key == "generic_codes") {
      for (const std::string& item : Items(value)) {
        auto v = ParseUnsigned(item, 0xFFFF);
        if (!v) {
          bad("expected command codes");
          break;
        }
        profile.genericCodes.insert(uint16_t(*v));
      }
    } else if (key == "bytes_per_second") {
      if (auto v = number(UINT64_MAX)) profile.bytesPerSecond = *v;
    } else if (key == "latency_us") {
      if (auto v = number(10000000)) profile.latencyUs = int(*v);
    } else if (key == "no_answer") {
      rules(profile.faults.noAnswer, false);
    } else if (key == "garble") {
      rules(profile.faults.garble, false);
    } else if (key == "short_answer") {
      rules(profile.faults.shortAnswer, false);
    } else if (key == "delay") {
      rules(profile.faults.delay, true);
    } else if (key == "refuse_write") {
      rules(profile.faults.refuse, false);
    } else if (key == "drop_write") {
      rules(profile.faults.drop, false);
    } else if (key == "stuck_bit") {
      for (const std::string& item : Items(value)) {
        const size_t colon = item.find(':');
        auto address = colon == std::string::npos ? std::nullopt : ParseUnsigned(item.substr(0, colon), kFlashSize - 1);
        auto mask = colon == std::string::npos ? std::nullopt : ParseUnsigned(item.substr(colon + 1), 0xFF);
        if (!address || !mask || *mask == 0) {
          bad("expected ADDRESS:MASK items (a nonzero mask of one byte)");
          break;
        }
        profile.faults.stuck.push_back({uint32_t(*address), uint8_t(*mask)});
      }
    } else if (key == "unplug_after") {
      if (auto v = number(0xFFFFFFFF)) profile.faults.unplugAfter = uint32_t(*v);
    } else {
      problem = "unknown key \"" + key + "\"";
    }
  }
  if (!problem.empty()) {
    if (error) *error = Format("line %d: %s", lineNumber, problem.c_str());
    return std::nullopt;
  }
  if (!pathGiven) profile.path = "sim:" + profile.name;

  if (!profile.burnScript.empty()) {
    BurnScript script;
    if (!script.LoadBurnScript(profile.burnScript)) {
      if (error) *error = "cannot read the burn script " + profile.burnScript;
      return std::nullopt;
    }
    for (const DefinedValue& v : script.DefinedValues())
      if (v.section == kCommDefineSection && v.value >= 0 && v.value <= 0xFFFF)
        profile.genericCodes.insert(uint16_t(v.value));
    if (!addressGiven)
      if (const ScriptEntry* entry = script.FindEntry("read_rcdb"))
        if (!Trim(entry->origin).empty()) profile.radioDataAddress = ParseNumber(entry->origin) % kFlashSize;
  }

  auto load = [&](const std::string& file, Bytes& data, uint32_t address) -> bool {
    if (!ReadWholeFile(file, data)) {
      if (error) *error = "cannot read " + file;
      return false;
    }
    if (!InBounds(kFlashSize, address, data.size())) {
      if (error) *error = Format("%s does not fit in the flash at 0x%06X", file.c_str(), address);
      return false;
    }
    return true;
  };
  if (!profile.radioDataFile.empty() && !load(profile.radioDataFile, profile.radioData, profile.radioDataAddress))
    return std::nullopt;
  for (SimImage& image : profile.images)
    if (!load(image.file, image.data, image.address)) return std::nullopt;
  return profile;
}

std::optional<SimProfile> LoadSimProfile(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot read the radio profile " + path;
    return std::nullopt;
  }
  std::stringstream text;
  text << in.rdbuf();
  std::filesystem::path p(path);
  std::string inner;
  auto profile = ParseSimProfile(text.str(), p.parent_path().string(), p.stem().string(), &inner);
  if (!profile && error) *error = path + ": " + inner;
  return profile;
}

}  // namespace lw::sim
