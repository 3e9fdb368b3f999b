#include "link/replay_backend.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "common/text.h"

namespace lw {

namespace {

constexpr std::string_view kToRadio = "PC -> Radio(";
constexpr std::string_view kFromRadio = "PC <- Radio(";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// One line without its line end; false when it is not a trace line.
bool ParseLine(std::string_view line, TraceFrame& frame, std::string* why) {
  size_t at = line.find_first_not_of(' ');
  std::string_view rest = at == std::string_view::npos ? std::string_view() : line.substr(at);
  if (StartsWith(rest, kToRadio)) {
    frame.direction = TraceDirection::ToRadio;
  } else if (StartsWith(rest, kFromRadio)) {
    frame.direction = TraceDirection::FromRadio;
  } else {
    *why = "not a \"PC -> Radio\" or \"PC <- Radio\" line";
    return false;
  }
  rest.remove_prefix(kToRadio.size());
  const size_t close = rest.find("):");
  if (close == std::string_view::npos) {
    *why = "no \"):\" after the time stamp";
    return false;
  }
  std::tm tm{};
  const std::string stamp(rest.substr(0, close));
  if (std::sscanf(stamp.c_str(), "%d-%d-%d %d:%d:%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
                  &tm.tm_sec) != 6) {
    *why = "the time stamp \"" + stamp + "\" is not YYYY-MM-DD HH:MM:SS";
    return false;
  }
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  tm.tm_isdst = -1;
  frame.when = std::mktime(&tm);
  rest.remove_prefix(close + 2);
  frame.bytes.clear();
  frame.bytes.reserve(rest.size() / 3);
  size_t i = 0;
  while (i < rest.size()) {
    if (rest[i] == ' ') {
      ++i;
      continue;
    }
    const int hi = HexDigit(rest[i]);
    const int lo = i + 1 < rest.size() ? HexDigit(rest[i + 1]) : -1;
    if (hi < 0 || lo < 0 || (i + 2 < rest.size() && rest[i + 2] != ' ')) {
      *why = Format("\"%s\" is not a byte in hexadecimal", std::string(rest.substr(i, 3)).c_str());
      return false;
    }
    frame.bytes.push_back(uint8_t(hi * 16 + lo));
    i += 2;
  }
  return true;
}

}  // namespace

Result<std::vector<TraceFrame>> ParseTrace(std::string_view text, bool* cutOff) {
  std::vector<TraceFrame> frames;
  if (cutOff) *cutOff = false;
  int number = 0;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    ++number;
    if (end == std::string_view::npos) {
      // Cut off while it was written: not a whole line.
      if (cutOff) *cutOff = true;
      break;
    }
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (Trim(line).empty()) continue;
    TraceFrame frame;
    frame.line = number;
    std::string why;
    if (!ParseLine(line, frame, &why)) return Status::Error(Format("line %d: %s", number, why.c_str()));
    frames.push_back(std::move(frame));
  }
  return frames;
}

// --- The backend -----------------------------------------------------------------------------

class ReplayBackend::Pipes : public UsbPipes {
 public:
  explicit Pipes(ReplayBackend& owner) : owner_(owner) {}
  size_t Read(uint8_t* buffer, size_t n, int) override { return owner_.Read(buffer, n); }
  size_t Write(const uint8_t* buffer, size_t n) override { return owner_.Write(buffer, n); }

 private:
  ReplayBackend& owner_;
};

Result<std::unique_ptr<ReplayBackend>> ReplayBackend::Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Status::Error("cannot read the recorded session " + path);
  std::ostringstream text;
  text << in.rdbuf();
  bool cutOff = false;
  auto frames = ParseTrace(text.str(), &cutOff);
  if (!frames) return Status::Error(path + ": " + frames.status().message());
  auto backend = std::make_unique<ReplayBackend>(std::move(*frames), path, cutOff);
  if (backend->RequestsRecorded() == 0)
    return Status::Error(path + ": no request recorded (was \"CommLog\" on in set.ini?)");
  return backend;
}

ReplayBackend::ReplayBackend(std::vector<TraceFrame> frames, std::string name, bool cutOff)
    : frames_(std::move(frames)), name_(std::move(name)), path_(std::string(kPathPrefix) + name_), cutOff_(cutOff) {
  for (const TraceFrame& f : frames_)
    if (f.direction == TraceDirection::ToRadio) ++recordedRequests_;
}

std::optional<std::vector<std::string>> ReplayBackend::Enumerate(UsbDeviceClass cls) {
  std::lock_guard lock(mutex_);
  if (cls != UsbDeviceClass::Primary || gone_) return std::vector<std::string>{};
  return std::vector<std::string>{path_};
}

std::unique_ptr<UsbPipes> ReplayBackend::Open(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (path != path_ || gone_) return nullptr;
  return std::make_unique<Pipes>(*this);
}

void ReplayBackend::SetHotplugCallback(std::function<void()> callback) {
  std::lock_guard lock(mutex_);
  hotplug_ = std::move(callback);
}

void ReplayBackend::Gone(std::unique_lock<std::mutex>& lock) {
  gone_ = true;
  pending_.clear();
  pendingAt_ = 0;
  auto hotplug = hotplug_;
  lock.unlock();
  if (hotplug) hotplug();
}

size_t ReplayBackend::Write(const uint8_t* buffer, size_t n) {
  std::unique_lock lock(mutex_);
  if (gone_) return 0;
  // Answer lines with no request before them (or left unread) belong to no request of ours.
  while (next_ < frames_.size() && frames_[next_].direction != TraceDirection::ToRadio) ++next_;
  if (next_ == frames_.size()) {
    exhausted_ = true;
    Gone(lock);
    return 0;
  }
  const TraceFrame& recorded = frames_[next_];
  ByteView sent(buffer, n);
  if (!std::equal(sent.begin(), sent.end(), recorded.bytes.begin(), recorded.bytes.end())) {
    size_t at = 0;
    while (at < n && at < recorded.bytes.size() && sent[at] == recorded.bytes[at]) ++at;
    std::string expected = at < recorded.bytes.size() ? Format("%02X", recorded.bytes[at]) : "nothing (end of request)";
    std::string got = at < n ? Format("%02X", sent[at]) : "nothing (end of request)";
    divergence_ = Format("replay diverged at request %zu (line %d of %s): byte %zu differs, expected %s, sent %s",
                         replayed_ + 1, recorded.line, name_.c_str(), at, expected.c_str(), got.c_str());
    Gone(lock);
    return 0;
  }
  ++replayed_;
  ++next_;
  pending_.clear();
  pendingAt_ = 0;
  for (; next_ < frames_.size() && frames_[next_].direction == TraceDirection::FromRadio; ++next_) {
    const Bytes& body = frames_[next_].bytes;
    const size_t length = body.size() + 2;
    pending_.push_back(uint8_t(length));
    pending_.push_back(uint8_t(length >> 8));
    pending_.insert(pending_.end(), body.begin(), body.end());
  }
  if (cutOff_ && next_ == frames_.size() && pending_.empty()) {
    // The log was cut off after this request: the radio is pulled out right here, so that the
    // run ends as a radio unplugged at this point would end it.
    exhausted_ = true;
    Gone(lock);
  }
  return n;
}

size_t ReplayBackend::Read(uint8_t* buffer, size_t n) {
  std::lock_guard lock(mutex_);
  const size_t left = pending_.size() - pendingAt_;
  const size_t take = std::min(n, left);
  std::copy_n(pending_.begin() + long(pendingAt_), take, buffer);
  pendingAt_ += take;
  return take;
}

std::string ReplayBackend::Divergence() const {
  std::lock_guard lock(mutex_);
  return divergence_;
}

bool ReplayBackend::Exhausted() const {
  std::lock_guard lock(mutex_);
  return exhausted_;
}

size_t ReplayBackend::RequestsReplayed() const {
  std::lock_guard lock(mutex_);
  return replayed_;
}

size_t ReplayBackend::RequestsRecorded() const { return recordedRequests_; }

std::time_t ReplayBackend::RecordedStart() const { return frames_.empty() ? 0 : frames_.front().when; }

}  // namespace lw
