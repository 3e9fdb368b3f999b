// The package held for a run: what was checked is what is burned. A held file keeps reading
// what it opened whatever happens to its path, and notices a change of the file itself; a
// streamed image hands out the same bytes as one read whole; and an upgrade whose package (or
// extern file) is renamed over, rewritten or truncated while it runs either burns the package it
// checked, whole, or ends with report 10 naming the file before a changed byte reaches the radio.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <thread>

#include "common/held_file.h"
#include "engine/binary_image.h"
#include "engine/streamed_image.h"
#include "engine/upgrade_fixture.h"
#include "package/held_package.h"

namespace lw::test {
namespace {

namespace fs = std::filesystem;

// A file as a package maker leaves it: written a while ago. (A rewrite within the same clock
// tick as the file's last change would keep its modification time; see held_file.h.)
void Age(const std::string& path) {
  const timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) - 600, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

void RewriteInPlace(const std::string& path, const Bytes& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
  ::close(fd);
}

void RenameOver(const std::string& path, const Bytes& bytes) {
  std::ofstream(path + ".new", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  fs::rename(path + ".new", path);
}

void Truncate(const std::string& path) { ASSERT_EQ(::truncate(path.c_str(), off_t(fs::file_size(path) / 2)), 0); }

// --- HeldFile ---------------------------------------------------------------------------------

struct FileChange {
  const char* name;
  std::function<void(const std::string& path, const Bytes& other)> apply;
  bool noticed;  // Unchanged() reports it
};

const std::vector<FileChange>& FileChanges() {
  static const std::vector<FileChange> changes = {
      {"renamed over", [](const std::string& p, const Bytes& o) { RenameOver(p, o); }, false},
      {"deleted", [](const std::string& p, const Bytes&) { fs::remove(p); }, false},
      {"rewritten in place", [](const std::string& p, const Bytes& o) { RewriteInPlace(p, o); }, true},
      {"truncated", [](const std::string& p, const Bytes&) { Truncate(p); }, true},
      {"grown",
       [](const std::string& p, const Bytes& o) {
         std::ofstream(p, std::ios::binary | std::ios::app).write(reinterpret_cast<const char*>(o.data()), 10);
       },
       true},
  };
  return changes;
}

TEST(HeldFile, ReadsWhatItOpenedWhateverHappensToThePathAndNoticesAChangeOfTheFile) {
  for (const FileChange& change : FileChanges()) {
    SCOPED_TRACE(change.name);
    TempDir dir;
    const Bytes original = Pattern(100'000, 1), other = Pattern(100'000, 2);
    const std::string path = dir.Write("pkg.fud", original);
    Age(path);
    Result<HeldFile> held = HeldFile::Open(path);
    ASSERT_TRUE(held.ok()) << held.status().message();
    ASSERT_TRUE(held->Unchanged().ok());

    change.apply(path, other);

    const Status same = held->Unchanged();
    EXPECT_EQ(same.ok(), !change.noticed) << same.message();
    if (change.noticed) {
      EXPECT_EQ(same.code(), HeldFile::kChanged);
      EXPECT_NE(same.message().find(path), std::string::npos) << same.message();
      continue;
    }
    Bytes read(original.size());
    ASSERT_TRUE(held->ReadAt(0, read).ok());
    EXPECT_EQ(read, original) << "the held descriptor follows the file it opened, not the path";
  }
}

TEST(HeldFile, AReadPastTheEndOrOfAFolderIsAnError) {
  TempDir dir;
  const std::string path = dir.Write("pkg.fud", Pattern(1000, 1));
  Result<HeldFile> held = HeldFile::Open(path);
  ASSERT_TRUE(held.ok());
  Bytes read(100);
  EXPECT_TRUE(held->ReadAt(900, read).ok());
  const Status past = held->ReadAt(901, read);
  EXPECT_EQ(past.code(), HeldFile::kEndedEarly);
  EXPECT_EQ(held->ReadSome(950, read), 50);

  EXPECT_FALSE(HeldFile::Open(dir.path()).ok()) << "a folder is no file to burn";
  EXPECT_FALSE(HeldFile::Open(dir.File("missing.fud")).ok());
}

// --- StreamedImage --------------------------------------------------------------------------

// The offsets and lengths the loops ask for: the ascending writer's, the descending writer's,
// the read-back's, and a scattered order.
std::vector<std::pair<size_t, size_t>> AccessOrder(const char* order, size_t size) {
  std::vector<std::pair<size_t, size_t>> blocks;
  auto cut = [&](size_t block) {
    for (size_t at = 0; at < size; at += block) blocks.push_back({at, std::min(block, size - at)});
  };
  if (std::string(order) == "ascending") cut(512);
  if (std::string(order) == "descending") {
    cut(512);
    std::reverse(blocks.begin(), blocks.end());
  }
  if (std::string(order) == "read-back") cut(kMaxReadBlock);
  if (std::string(order) == "scattered") {
    cut(333);
    std::shuffle(blocks.begin(), blocks.end(), std::mt19937(7));
  }
  return blocks;
}

TEST(StreamedImage, HandsOutTheBytesOfTheImageReadWholeInEveryOrder) {
  TempDir dir;
  // An odd length across several chunks, behind other bytes as an entry stands in a package.
  const Bytes image = Pattern(3 * kStreamChunk + 12'345, 9);
  Bytes file = Pattern(1001, 4);
  file.insert(file.end(), image.begin(), image.end());
  file.resize(file.size() + 77, 0x11);
  const std::string path = dir.Write("pkg.fud", file);
  Result<HeldFile> held = HeldFile::Open(path);
  ASSERT_TRUE(held.ok());

  for (bool swap : {false, true}) {
    Bytes expected = image;
    if (swap) WordReverse(expected);
    for (const char* order : {"ascending", "descending", "read-back", "scattered"}) {
      SCOPED_TRACE(std::string(order) + (swap ? ", word-swapped" : ""));
      StreamedImage stream(*held, 1001, image.size(), swap);
      ASSERT_EQ(stream.size(), image.size());
      for (auto [offset, n] : AccessOrder(order, image.size())) {
        const uint8_t* bytes = stream.Block(offset, n);
        ASSERT_NE(bytes, nullptr) << stream.failure().message();
        ASSERT_TRUE(std::equal(bytes, bytes + n, expected.begin() + std::ptrdiff_t(offset))) << "at " << offset;
      }
      EXPECT_EQ(stream.Head(104), Bytes(expected.begin(), expected.begin() + 104));
    }
  }
}

TEST(StreamedImage, ABlockOfAFileThatChangedOrEndedIsNeverHandedOut) {
  for (const FileChange& change : FileChanges()) {
    if (!change.noticed) continue;
    SCOPED_TRACE(change.name);
    TempDir dir;
    const std::string path = dir.Write("pkg.fud", Pattern(4 * kStreamChunk, 1));
    Age(path);
    Result<HeldFile> held = HeldFile::Open(path);
    ASSERT_TRUE(held.ok());
    StreamedImage stream(*held, 0, held->size(), false);
    ASSERT_NE(stream.Block(0, 512), nullptr);
    change.apply(path, Pattern(4 * kStreamChunk, 2));
    EXPECT_EQ(stream.Block(3 * kStreamChunk, 512), nullptr);
    EXPECT_FALSE(stream.failure().ok());
    EXPECT_NE(stream.failure().message().find(path), std::string::npos) << stream.failure().message();
  }
}

// --- The upgrade ---------------------------------------------------------------------------

// Firmware kinds read from the package, each checked at the flash area its script gives.
struct KindImage {
  std::string kind;
  size_t size;
  bool swapped;
  uint8_t side;
};

const std::vector<KindImage>& StreamedKinds() {
  // A descending writer, a binary firmware, word-swapped kinds on both sides and a picture
  // package (last: its erase reaches past its own area); sizes that cross the stream's chunks
  // and end in half a word.
  static const std::vector<KindImage> kinds = {
      {"bootloader", 9'001, false, 0},    {"dsp_boot", 40'001, false, 0},        {"dsp_main", 131'073, true, 0},
      {"dsp_main(Rx)", 65'537, true, 16}, {"pic_gif package", 70'001, false, 0},
  };
  return kinds;
}

uint32_t OriginOf(const UpgradeRig& rig, const std::string& kind) {
  return uint32_t(rig.script.LookupValue(kind, "ORIGIN").value_or(0));
}

void UseStreamedKinds(UpgradeRig& rig) {
  rig.profile.radioState = 2;  // a repeater: no picture replacement, and a receive side
  rig.profile.receiveSide = true;
  rig.profile.rxInfoBlock = rig.profile.infoBlock;
  uint8_t seed = 20;
  for (const KindImage& k : StreamedKinds()) rig.package.entries.push_back(PkgEntry(k.kind, Pattern(k.size, seed++)));
}

struct Request {
  uint16_t code;
  Bytes payload;
  bool operator==(const Request&) const = default;
};

std::vector<Request> RequestsOf(const sim::SimulatedRadio& radio) {
  std::vector<Request> out;
  for (const sim::SimRequest& r : radio.Requests()) out.push_back({r.code, r.payload});
  return out;
}

TEST(HeldPackageUpgrade, AStreamedRunSendsTheRequestsOfARunFromMemory) {
  for (bool verify : {false, true}) {
    SCOPED_TRACE(verify ? "with read-back verify" : "without verify");
    std::vector<Request> runs[2];
    for (bool stream : {false, true}) {
      UpgradeRig rig;
      rig.settings.verifyWrites = verify;
      UseStreamedKinds(rig);
      rig.Prepare();
      UpgradeEnvironment env = rig.Environment();
      env.streamImages = stream;
      UpgradeOperation op(env, rig.sink);
      op.Run({});
      ASSERT_EQ(rig.sink.Final().code, ReportCode::Finished);
      for (size_t i = 0; i < StreamedKinds().size(); ++i) {
        const KindImage& k = StreamedKinds()[i];
        Bytes expected = rig.package.entries[2 + i].data;
        if (k.swapped) WordReverse(expected);
        // A picture package without a header of a known layout goes to the upper address.
        const uint32_t origin = k.kind == "pic_gif package" ? 0x600000 : OriginOf(rig, k.kind);
        EXPECT_EQ(rig.Flash(origin, uint32_t(expected.size()), k.side), expected) << k.kind;
      }
      runs[stream] = RequestsOf(*rig.radio);
    }
    ASSERT_EQ(runs[0].size(), runs[1].size());
    EXPECT_TRUE(runs[0] == runs[1]) << "the radio saw other requests when the images were streamed";
  }
}

// What a run may leave in an entry's flash area: the image it checked, or erased flash where it
// stopped. A byte of any other file there is a failure.
void ExpectOnlyTheCheckedBytes(UpgradeRig& rig, size_t entry, const KindImage& k, bool finished) {
  Bytes expected = rig.package.entries[entry].data;
  if (k.swapped) WordReverse(expected);
  const Bytes flash = rig.Flash(OriginOf(rig, k.kind), uint32_t(expected.size()), k.side);
  if (finished) {
    EXPECT_EQ(flash, expected) << k.kind;
    return;
  }
  for (size_t i = 0; i < flash.size(); ++i)
    if (flash[i] != expected[i] && flash[i] != 0xFF) {
      ADD_FAILURE() << k.kind << ": byte " << i << " holds " << int(flash[i]) << ", neither the package's nor erased";
      return;
    }
}

struct PackageChange {
  const char* name;
  bool externFile;  // the change is made to the extern file, not the package
  std::function<void(const std::string& path, const Bytes& other)> apply;
  bool alwaysFinishes;
};

TEST(HeldPackageUpgrade, APackageChangedWhileItIsBurnedIsBurnedAsCheckedOrRefusedNamingTheFile) {
  const std::vector<PackageChange> changes = {
      {"package renamed over", false, [](const std::string& p, const Bytes& o) { RenameOver(p, o); }, true},
      {"package rewritten in place", false, [](const std::string& p, const Bytes& o) { RewriteInPlace(p, o); }, false},
      {"package truncated", false, [](const std::string& p, const Bytes&) { Truncate(p); }, false},
      {"extern file rewritten in place", true, [](const std::string& p, const Bytes& o) { RewriteInPlace(p, o); },
       false},
      {"extern file renamed over", true, [](const std::string& p, const Bytes& o) { RenameOver(p, o); }, true},
  };
  const KindImage user{"user_defined", 300'000, false, 0};
  const KindImage dsp{"dsp_main", 200'000, true, 0};
  const KindImage english{"english language package", 60'000, false, 0};
  std::mt19937 random(20261211);
  for (const PackageChange& change : changes) {
    for (int round = 0; round < 4; ++round) {
      const int delayMs = std::uniform_int_distribution<int>(0, 220)(random);
      SCOPED_TRACE(std::string(change.name) + " " + std::to_string(delayMs) + " ms into the burn");
      UpgradeRig rig;
      // Slow enough that the change lands while entries are being written.
      rig.profile.bytesPerSecond = 4'000'000;
      rig.settings.englishLanguagePackageFile = "english.bin";
      rig.package.entries = {PkgEntry(user.kind, Pattern(user.size, 1)), PkgEntry(dsp.kind, Pattern(dsp.size, 2)),
                             PkgEntry(english.kind, Pattern(english.size, 3)), PkgEntry("rcdb_data", rig.newRcdb)};
      rig.package.entries[2].entry.externFlag = 1;
      rig.package.entries[2].entry.extendName = "V1";
      rig.package.entries[2].entry.dataLength = uint32_t(english.size);
      const Bytes englishBytes = rig.package.entries[2].data;
      rig.package.entries[2].data.clear();
      const std::string externPath = rig.dir.Write("english[V1].bin", englishBytes);
      rig.Prepare();
      Age(rig.PackagePath());
      Age(externPath);
      const std::string target = change.externFile ? externPath : rig.PackagePath();
      const Bytes other = Pattern(fs::file_size(target), 99);

      std::thread changer([&] {
        // The change comes once the run is under way (its first request has gone out).
        while (rig.radio->RequestCount() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        change.apply(target, other);
      });
      const ReportSink::Entry end = rig.Run();
      changer.join();

      const bool finished = end.code == ReportCode::Finished;
      if (change.alwaysFinishes) {
        EXPECT_TRUE(finished) << "a rename does not touch the held file";
      }
      if (!finished) {
        ASSERT_EQ(end.code, ReportCode::PackageError);
        const auto* failure = std::get_if<ImageLoadFailure>(&end.payload);
        ASSERT_NE(failure, nullptr);
        EXPECT_EQ(failure->kind, 1);
        EXPECT_NE(failure->detail.find(target), std::string::npos) << failure->detail;
        EXPECT_TRUE(failure->detail.find("changed while it was being burned") != std::string::npos ||
                    failure->detail.find("ended early while it was being burned") != std::string::npos)
            << failure->detail;
        EXPECT_FALSE(rig.Marked());
      }
      ExpectOnlyTheCheckedBytes(rig, 0, user, finished);
      ExpectOnlyTheCheckedBytes(rig, 1, dsp, finished);
      rig.package.entries[2].data = englishBytes;
      ExpectOnlyTheCheckedBytes(rig, 2, english, finished);
    }
  }
}

TEST(HeldPackageUpgrade, TheRulesCheckedAreThoseOfThePackageHeldNotOfTheOneFirstShown) {
  // The window read the package when it was chosen; another package (for mobiles only) took its
  // place before Upgrade was pressed. The radio is judged by what will be burned.
  UpgradeRig rig;
  rig.Prepare();
  PackageSpec mobileOnly = rig.package;
  mobileOnly.header.forPortable = 0;
  mobileOnly.header.forMobile = 1;
  ASSERT_TRUE(WritePackage(mobileOnly, rig.PackagePath()).ok());
  const ReportSink::Entry end = rig.Run();
  EXPECT_EQ(end.code, ReportCode::RadioTypeBeyond);
  EXPECT_TRUE(rig.radio->Requests(kCmdMemoryErase).empty());
}

}  // namespace
}  // namespace lw::test
