#include "link/usb_transport.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <mutex>
#include <set>

#include "link/link_frame.h"

namespace lw {

namespace {
// At most one radio is open in the whole process: the pipes are one shared resource of the
// machine, and two operations on two radios at once are not something the program does.
std::atomic<bool> gDeviceRecordInUse{false};
// Highest number a port can have: the list and Open carry it as one byte.
constexpr int kMaxPortNumber = 255;
// Bound on what the drain at Open swallows, so that a radio that never stops talking cannot
// hold the worker forever.
constexpr size_t kMaxDrainBytes = 16u << 20;
}  // namespace

UsbTransport::UsbTransport(UsbBackend& backend, PortStore* store, LinkOptions options)
    : backend_(backend), store_(store), options_(std::move(options)) {
  request_.resize(kMaxLinkFrameSize);
  answerBody_.resize(kAnswerBodyCapacity);
}

UsbTransport::~UsbTransport() { Close(); }

PortNumberMap UsbTransport::PortMap() const {
  MutexLock lock(mapMutex_);
  return portMap_;
}

uint16_t UsbTransport::Scan(uint8_t* portsOut, int& classFlag) {
  if (classFlag != 0 && classFlag != 1) return 0;
  return ScanClass(portsOut, classFlag, classFlag == 0);
}

UsbOpenFailure UsbTransport::LastOpenFailure() const {
  MutexLock lock(mapMutex_);
  return lastOpenFailure_;
}

namespace {

// Once per number and process: every scan would repeat it.
void WarnUnaddressable(int port, const std::string& path) {
  static std::mutex mutex;
  static std::set<int> warned;
  std::lock_guard lock(mutex);
  if (!warned.insert(port).second) return;
  std::cerr << "Warning: port number " << port << " (" << path << ") in the port map is above " << kMaxPortNumber
            << " and is skipped; the radio gets a number of its own.\n";
}

// The port numbers of the radios in `paths` (`count`: how many different ones there are): a
// radio the store knows keeps its number (the lowest, for a path stored twice); new radios get
// R+1, R+2, ... in enumeration order, R being how many radios the store knows. A number already
// taken in the store (possible only when the file was edited by hand) is skipped rather than
// reused, so that no radio ever takes over another one's number.
PortNumberMap NumberPorts(const std::vector<std::string>& paths, const PortNumberMap& stored, uint16_t& count) {
  std::map<std::string, int> known;  // path -> number
  for (const auto& [port, path] : stored) {
    // A number the port list cannot address (a hand-edited file) is skipped, not cut to a
    // byte, where it would name another port; the line itself stays in the file.
    if (port > kMaxPortNumber) {
      WarnUnaddressable(port, path);
      continue;
    }
    known.emplace(path, port);
  }
  PortNumberMap present;
  std::vector<std::string> fresh;
  std::set<std::string> seen;
  count = 0;
  for (const std::string& path : paths) {
    if (path.empty() || !seen.insert(path).second) continue;
    ++count;
    if (auto it = known.find(path); it != known.end()) {
      present[it->second] = path;
    } else {
      fresh.push_back(path);
    }
  }
  int next = int(known.size()) + 1;
  for (const std::string& path : fresh) {
    while (stored.count(next) || present.count(next)) ++next;
    if (next > kMaxPortNumber) break;  // counted, but it cannot be addressed
    present[next++] = path;
  }
  return present;
}

}  // namespace

uint16_t UsbTransport::ScanClass(uint8_t* portsOut, int& classFlag, bool allowFallback) {
  {
    // A refusal belongs to the radios of the last scan; a new scan starts with a clean slate.
    MutexLock lock(mapMutex_);
    lastOpenFailure_ = {};
  }
  const bool primary = classFlag == 0;
  classFlag = primary ? 1 : 0;
  deviceCount_ = 0;

  const PortNumberMap stored = store_ ? store_->Load() : PortNumberMap{};
  // The map is cleared before the device list is asked for: when the list cannot be had, a
  // number from an earlier scan must not go on opening whatever radio it named then.
  {
    MutexLock lock(mapMutex_);
    portMap_.clear();
  }
  auto paths = backend_.Enumerate(primary ? UsbDeviceClass::Primary : UsbDeviceClass::Fallback);
  if (!paths) return 0;

  uint16_t count = 0;
  const PortNumberMap present = NumberPorts(*paths, stored, count);
  {
    MutexLock lock(mapMutex_);
    portMap_ = present;
  }
  deviceCount_ = count;
  if (portsOut) {
    size_t i = 0;
    for (const auto& entry : present) portsOut[i++] = uint8_t(entry.first);
  }

  if (count == 0 && allowFallback) {
    classFlag = 1;
    return ScanClass(portsOut, classFlag, false);
  }

  // The gate keeps two scans (hot-plug and start-up) from writing the store at once; a scan
  // that finds it taken simply does not write.
  bool expected = true;
  if (store_ && storeGate_.compare_exchange_strong(expected, false)) {
    if (!present.empty()) store_->Save(present);
    storeGate_ = true;
  }
  return count;
}

bool UsbTransport::Open(int port) {
  if (connected_) return true;
  if (!opened_) {
    bool expected = false;
    if (!gDeviceRecordInUse.compare_exchange_strong(expected, true)) return false;
    std::string path;
    {
      MutexLock lock(mapMutex_);
      if (auto it = portMap_.find(port); it != portMap_.end()) path = it->second;
    }
    UsbOpenFailure failure;
    if (!path.empty() && path.size() + 8 <= kMaxDevicePathLength) pipes_ = backend_.OpenExplained(path, failure);
    {
      MutexLock lock(mapMutex_);
      lastOpenFailure_ = pipes_ ? UsbOpenFailure{} : failure;
    }
    if (!pipes_) {
      gDeviceRecordInUse = false;
      return false;
    }
    opened_ = true;
  }
  ReleaseAnswer();
  staleInput_ = false;
  DrainInput(nullptr);
  connected_ = true;
  return true;
}

bool UsbTransport::Close() {
  if (!opened_) return false;
  pipes_.reset();
  opened_ = false;
  connected_ = false;
  gDeviceRecordInUse = false;
  return true;
}

size_t UsbTransport::ReadPipe(uint8_t* buffer, size_t n) {
  if (!pipes_ || n == 0) return 0;
  return pipes_->Read(buffer, n, options_.readTimeoutMs);
}

size_t UsbTransport::WritePipe(const uint8_t* buffer, size_t n) {
  if (!pipes_ || n == 0) return 0;
  return pipes_->Write(buffer, n);
}

void UsbTransport::DrainInput(Bytes* keep) {
  // Until the radio falls silent, but never longer than one answer may take, nor past a stop:
  // a radio that keeps talking would otherwise hold the link here for hours.
  const auto start = std::chrono::steady_clock::now();
  uint8_t scratch[1024];
  size_t total = 0;
  while (total < kMaxDrainBytes && !StopSet() && !Elapsed(start)) {
    size_t got = ReadPipe(scratch, sizeof scratch);
    if (got == 0) break;
    total += got;
    if (keep && keep->size() < 65536) keep->insert(keep->end(), scratch, scratch + got);
  }
}

}  // namespace lw
