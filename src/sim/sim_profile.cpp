#include "sim/sim_profile.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
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

// One key line of a profile as its handler sees it. A handler that cannot take the value
// leaves the reason in `problem`.
struct ProfileKey {
  ProfileKey(SimProfile& p, const std::string& dir, const std::string& k, const std::string& v)
      : profile(p), baseDir(dir), key(k), value(v) {}

  SimProfile& profile;
  const std::string& baseDir;
  const std::string& key;
  const std::string& value;
  bool pathGiven = false;
  bool addressGiven = false;
  std::string problem;

  void Bad(const char* what) { problem = Format("%s: %s", key.c_str(), what); }
  std::optional<uint64_t> Number(uint64_t max) {
    auto v = ParseUnsigned(value, max);
    if (!v) Bad("not a number in range");
    return v;
  }
  void Rules(std::vector<FaultRule>& target, bool withDelay) {
    for (const std::string& item : Items(value)) {
      auto rule = ParseFaultRule(item, withDelay);
      if (!rule) return Bad(withDelay ? "expected CODE@N:MS items" : "expected CODE@N items");
      target.push_back(*rule);
    }
  }
};

void ClassKey(ProfileKey& k) {
  std::string c = ToLowerAscii(k.value);
  if (c == "primary")
    k.profile.usbClass = UsbDeviceClass::Primary;
  else if (c == "fallback")
    k.profile.usbClass = UsbDeviceClass::Fallback;
  else
    k.Bad("expected primary or fallback");
}

void BootloaderKey(ProfileKey& k) {
  const std::string& value = k.value;
  bool ok = value.size() == 9 && value[2] == '.' && value[5] == '.';
  for (size_t i = 0; ok && i < value.size(); ++i)
    if (i != 2 && i != 5 && !std::isdigit(static_cast<unsigned char>(value[i]))) ok = false;
  if (ok)
    k.profile.bootloader = value;
  else
    k.Bad("expected the form 01.04.006");
}

void ImageKey(ProfileKey& k) {
  auto items = Items(k.value);
  auto selector = items.size() == 3 ? ParseUnsigned(items[0], 255) : std::nullopt;
  auto address = items.size() == 3 ? ParseUnsigned(items[1], kFlashSize - 1) : std::nullopt;
  if (!selector || !address)
    k.Bad("expected SELECTOR ADDRESS FILE");
  else
    k.profile.images.push_back({uint8_t(*selector), uint32_t(*address), Resolve(k.baseDir, items[2]), {}});
}

void InfoBlockKey(ProfileKey& k) {
  auto bytes = ParseHexBytes(k.value);
  if (!bytes || bytes->size() > kInfoBlockSize)
    k.Bad("expected up to 256 hexadecimal bytes");
  else
    (k.key == "info_block" ? k.profile.infoBlock : k.profile.rxInfoBlock) = *bytes;
}

void GenericCodesKey(ProfileKey& k) {
  for (const std::string& item : Items(k.value)) {
    auto v = ParseUnsigned(item, 0xFFFF);
    if (!v) return k.Bad("expected command codes");
    k.profile.genericCodes.insert(uint16_t(*v));
  }
}

void StuckBitKey(ProfileKey& k) {
  for (const std::string& item : Items(k.value)) {
    const size_t colon = item.find(':');
    auto address = colon == std::string::npos ? std::nullopt : ParseUnsigned(item.substr(0, colon), kFlashSize - 1);
    auto mask = colon == std::string::npos ? std::nullopt : ParseUnsigned(item.substr(colon + 1), 0xFF);
    if (!address || !mask || *mask == 0) return k.Bad("expected ADDRESS:MASK items (a nonzero mask of one byte)");
    k.profile.faults.stuck.push_back({uint32_t(*address), uint8_t(*mask)});
  }
}

// Every key of a profile with what it sets (docs/sim-profile.md lists them for the reader).
using KeyHandler = void (*)(ProfileKey&);
const std::map<std::string, KeyHandler, std::less<>>& ProfileKeys() {
  static const std::map<std::string, KeyHandler, std::less<>> keys = {
      {"name", [](ProfileKey& k) { k.profile.name = k.value; }},
      {"path",
       [](ProfileKey& k) {
         k.profile.path = k.value;
         k.pathGiven = true;
       }},
      {"class", ClassKey},
      {"bootloader", BootloaderKey},
      {"radio_state",
       [](ProfileKey& k) {
         if (auto v = k.Number(255)) k.profile.radioState = int(*v);
       }},
      {"receive_side",
       [](ProfileKey& k) {
         if (auto v = ParseBool(k.value))
           k.profile.receiveSide = *v;
         else
           k.Bad("expected true or false");
       }},
      {"radio_data", [](ProfileKey& k) { k.profile.radioDataFile = Resolve(k.baseDir, k.value); }},
      {"radio_data_address",
       [](ProfileKey& k) {
         if (auto v = k.Number(kFlashSize - 1)) {
           k.profile.radioDataAddress = uint32_t(*v);
           k.addressGiven = true;
         }
       }},
      {"image", ImageKey},
      {"info_block", InfoBlockKey},
      {"rx_info_block", InfoBlockKey},
      {"burn_script", [](ProfileKey& k) { k.profile.burnScript = Resolve(k.baseDir, k.value); }},
      {"generic_codes", GenericCodesKey},
      {"erase_bytes_per_second",
       [](ProfileKey& k) {
         if (auto v = k.Number(UINT64_MAX)) k.profile.eraseBytesPerSecond = *v;
       }},
      {"bytes_per_second",
       [](ProfileKey& k) {
         if (auto v = k.Number(UINT64_MAX)) k.profile.bytesPerSecond = *v;
       }},
      {"latency_us",
       [](ProfileKey& k) {
         if (auto v = k.Number(10000000)) k.profile.latencyUs = int(*v);
       }},
      {"no_answer", [](ProfileKey& k) { k.Rules(k.profile.faults.noAnswer, false); }},
      {"garble", [](ProfileKey& k) { k.Rules(k.profile.faults.garble, false); }},
      {"short_answer", [](ProfileKey& k) { k.Rules(k.profile.faults.shortAnswer, false); }},
      {"delay", [](ProfileKey& k) { k.Rules(k.profile.faults.delay, true); }},
      {"refuse_write", [](ProfileKey& k) { k.Rules(k.profile.faults.refuse, false); }},
      {"drop_write", [](ProfileKey& k) { k.Rules(k.profile.faults.drop, false); }},
      {"stuck_bit", StuckBitKey},
      {"babble",
       [](ProfileKey& k) {
         if (auto v = k.Number(UINT64_MAX)) k.profile.faults.babbleBytesPerSecond = *v;
       }},
      {"unplug_after",
       [](ProfileKey& k) {
         if (auto v = k.Number(0xFFFFFFFF)) k.profile.faults.unplugAfter = uint32_t(*v);
       }},
  };
  return keys;
}

// Which keys the lines gave, for the defaults that depend on them.
struct KeysGiven {
  bool path = false;
  bool radioDataAddress = false;
};

// The profile's lines, key by key; the error names the line.
Status ReadProfileLines(std::string_view text, const std::string& baseDir, SimProfile& profile, KeysGiven& given) {
  std::istringstream in{std::string(text)};
  std::string raw;
  for (int lineNumber = 1; std::getline(in, raw); ++lineNumber) {
    ConfigLine line = ParseConfigLine(raw);
    if (line.type == ConfigLineType::Comment) continue;
    std::string problem;
    if (line.type == ConfigLineType::Section) {
      const std::string section = ToLowerAscii(line.name);
      if (section != "radio" && section != "link" && section != "faults")
        problem = "unknown section [" + line.name + "]";
    } else if (auto handler = ProfileKeys().find(line.key); handler != ProfileKeys().end()) {
      ProfileKey key(profile, baseDir, line.key, line.value);
      handler->second(key);
      given.path = given.path || key.pathGiven;
      given.radioDataAddress = given.radioDataAddress || key.addressGiven;
      problem = key.problem;
    } else {
      problem = "unknown key \"" + line.key + "\"";
    }
    if (!problem.empty()) return Status::Error(Format("line %d: %s", lineNumber, problem.c_str()));
  }
  return Status::Ok();
}

// The generic commands the burn script defines, and the radio data's address when the
// profile does not give it.
Status ApplyBurnScript(SimProfile& profile, bool addressGiven) {
  BurnScript script;
  if (!script.LoadBurnScript(profile.burnScript))
    return Status::Error("cannot read the burn script " + profile.burnScript);
  for (const DefinedValue& v : script.DefinedValues())
    if (v.section == kCommDefineSection && v.value >= 0 && v.value <= 0xFFFF)
      profile.genericCodes.insert(uint16_t(v.value));
  if (!addressGiven)
    if (const ScriptEntry* entry = script.FindEntry("read_rcdb"))
      if (!Trim(entry->origin).empty()) profile.radioDataAddress = ParseNumber(entry->origin) % kFlashSize;
  return Status::Ok();
}

Status LoadIntoFlash(const std::string& file, Bytes& data, uint32_t address) {
  if (!ReadWholeFile(file, data)) return Status::Error("cannot read " + file);
  if (!InBounds(kFlashSize, address, data.size()))
    return Status::Error(Format("%s does not fit in the flash at 0x%06X", file.c_str(), address));
  return Status::Ok();
}

// The radio data and the further images, read from their files.
Status LoadProfileFiles(SimProfile& profile) {
  if (!profile.radioDataFile.empty()) {
    if (Status loaded = LoadIntoFlash(profile.radioDataFile, profile.radioData, profile.radioDataAddress); !loaded.ok())
      return loaded;
  }
  for (SimImage& image : profile.images)
    if (Status loaded = LoadIntoFlash(image.file, image.data, image.address); !loaded.ok()) return loaded;
  return Status::Ok();
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

Result<SimProfile> ParseSimProfile(std::string_view text, const std::string& baseDir, const std::string& defaultName) {
  SimProfile profile = DefaultSimProfile(defaultName);
  KeysGiven given;
  if (Status read = ReadProfileLines(text, baseDir, profile, given); !read.ok()) return read;
  if (!given.path) profile.path = "sim:" + profile.name;
  if (!profile.burnScript.empty()) {
    if (Status applied = ApplyBurnScript(profile, given.radioDataAddress); !applied.ok()) return applied;
  }
  if (Status loaded = LoadProfileFiles(profile); !loaded.ok()) return loaded;
  return profile;
}

Result<SimProfile> LoadSimProfile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Status::Error("cannot read the radio profile " + path);
  std::stringstream text;
  text << in.rdbuf();
  std::filesystem::path p(path);
  auto profile = ParseSimProfile(text.str(), p.parent_path().string(), p.stem().string());
  if (!profile) return Status::Error(path + ": " + profile.status().message());
  return profile;
}

}  // namespace lw::sim
