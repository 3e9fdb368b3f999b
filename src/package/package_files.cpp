#include "package/package_files.h"

#include <filesystem>
#include <fstream>

#include "common/bytes.h"
#include "common/program_dir.h"
#include "common/text.h"

namespace lw {

std::string KindFileSetting(const ProgramSettings& s, const std::string& kindName) {
  const std::pair<const char*, const std::string*> table[] = {
      {"arm_main", &s.armMainFile},
      {"dsp_boot", &s.dspBootFile},
      {"dsp_main", &s.dspMainFile},
      {"cps_data", &s.cpsDataFile},
      {"rcdb_data", &s.rcdbDataFile},
      {"voice notify package", &s.voiceNotifyPackageFile},
      {"english language package", &s.englishLanguagePackageFile},
      {"gif package", &s.gifPackageFile},
      {"pic_gif package", &s.picGifPackageFile},
      {"fpga_code", &s.fpgaCodeFile},
      {"other language package", &s.otherLanguagePackageFile},
      {"arm_main(Rx)", &s.armMainRxFile},
      {"dsp_main(Rx)", &s.dspMainRxFile},
      {"dsp_boot(Rx)", &s.dspBootRxFile},
      {"bootloader", &s.bootloaderFile},
  };
  for (const auto& [kind, file] : table)
    if (kindName == kind) return *file;
  return {};
}

std::string ExternFilePath(const std::string& packagePath, const std::string& kindName,
                           const std::string& extendName, const ProgramSettings& settings) {
  std::string path = NormalizeSeparators(packagePath);
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  std::string base;
  for (char c : NormalizeSeparators(KindFileSetting(settings, kindName))) {
    if (c == '.') base += "[" + extendName + "].";
    else base += c;
  }
  return folder + "/" + base;
}

std::string FindMissingExternFile(const std::string& packagePath, const std::vector<DirectoryEntry>& entries,
                                  const ProgramSettings& settings) {
  for (const auto& e : entries) {
    if (e.externFlag != 1) continue;
    std::string path = ExternFilePath(packagePath, e.kindName, e.extendName, settings);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return path;
  }
  return {};
}

std::string AdjustModelForRules(const std::string& modelNumber, const ProgramSettings& settings) {
  std::string m = modelNumber;
  auto set = [&m](size_t i, char c) {
    if (i < m.size()) m[i] = c;
  };
  bool kw = StartsWith(m, "KW");
  if (!kw) set(4, '0');
  set(6, '0');
  if (Contains(settings.digitalType, "DMR") && m.size() > 12 && m[12] == '0') m[12] = 'P';
  if (kw) {
    m[1] = 'X';
    set(4, '0');
    set(12, '0');
  }
  if (Contains(settings.encryptLen, "40") || Contains(settings.encryptLen, "Forbidden")) set(17, '0');
  return m;
}

std::string PackageForModel(const std::string& modelNumber, const ProgramSettings& settings,
                            const std::vector<UpgradeRule>& rules, const std::string& programDir) {
  std::string adjusted = AdjustModelForRules(modelNumber, settings);
  for (const auto& rule : rules)
    if (rule.pattern == adjusted) return JoinPath(programDir, "UpgradeFile/" + rule.file);
  return {};
}

PictureHeader PictureHeaderInfo(std::span<const uint8_t> image) {
  PictureHeader h;
  if (image.size() < kPictureHeaderSize) return h;
  switch (Le32(image.data() + 12)) {
    case 0:
    case 3: h.layoutKind = 0; break;
    case 1: h.layoutKind = 1; break;
    case 2: h.layoutKind = 2; break;
    default: h.layoutKind = -1;
  }
  std::string version = Utf16LeToUtf8(image.data() + 32, 32);
  if (!version.empty() && !(version[0] >= '0' && version[0] <= '9')) version = version.substr(1, 4);
  std::string lower = ToLowerAscii(version);
  if (lower == "4.00") h.versionCode = 40;
  else if (lower == "4.05") h.versionCode = 45;
  else if (lower >= "5.00") h.versionCode = 50;
  else h.versionCode = -1;
  h.valid = h.layoutKind != -1 && h.versionCode != -1;
  return h;
}

PictureHeader PictureHeaderInfoFromFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<uint8_t> head(kPictureHeaderSize, 0);
  file.read(reinterpret_cast<char*>(head.data()), std::streamsize(head.size()));
  if (file.gcount() != std::streamsize(head.size())) return PictureHeader{};
  return PictureHeaderInfo(head);
}

}  // namespace lw
