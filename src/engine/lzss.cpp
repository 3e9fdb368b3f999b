#include "engine/lzss.h"

#include <array>
#include <cstdint>
#include <memory>

namespace lw {
namespace {

constexpr int kN = int(kLzssRingSize);
constexpr int kF = int(kLzssMaxMatch);
constexpr int kNil = kN;                // "no node"; also the parent of a free position
constexpr int kFirstCodePosition = kN - kF;  // 4078: where coding starts

// Binary search trees over the ring positions, one tree per first byte. Node numbers are ring
// positions; the 256 roots live at kN + 1 + byte in the right-child array. The match found by
// Insert is the longest one met on the way down the tree, the earliest met winning a tie, and a
// full-length match replaces the old node: this is what fixes the output bytes, so it must not
// be "improved".
class MatchTrees {
 public:
  // The ring holds kF - 1 extra bytes mirroring its start, so that a string starting near the
  // end compares without wrapping. Its initial contents matter for short inputs: spaces before
  // the coding start, zeros everywhere else (the mirror included, until input reaches it).
  std::array<uint8_t, kN + kF - 1> ring{};
  int matchPosition = 0;
  int matchLength = 0;

  MatchTrees() {
    for (int i = kN + 1; i <= kN + 256; ++i) right_[i] = kNil;
    for (int i = 0; i < kN; ++i) parent_[i] = kNil;
  }

  void Insert(int r) {
    const uint8_t* key = &ring[r];
    int p = kN + 1 + key[0];
    int cmp = 1;
    right_[r] = left_[r] = kNil;
    matchLength = 0;
    for (;;) {
      if (cmp >= 0) {
        if (right_[p] == kNil) {
          right_[p] = r;
          parent_[r] = p;
          return;
        }
        p = right_[p];
      } else {
        if (left_[p] == kNil) {
          left_[p] = r;
          parent_[r] = p;
          return;
        }
        p = left_[p];
      }
      const uint8_t* other = &ring[p];
      int i = 1;
      for (; i < kF; ++i) {
        cmp = int(key[i]) - int(other[i]);
        if (cmp != 0) break;
      }
      if (i > matchLength) {
        matchPosition = p;
        matchLength = i;
        if (i >= kF) break;
      }
    }
    // Full-length match: r takes p's place in the tree, p leaves it (it is the older string
    // and would be deleted first anyway).
    parent_[r] = parent_[p];
    left_[r] = left_[p];
    right_[r] = right_[p];
    parent_[left_[p]] = r;
    parent_[right_[p]] = r;
    if (right_[parent_[p]] == p)
      right_[parent_[p]] = r;
    else
      left_[parent_[p]] = r;
    parent_[p] = kNil;
  }

  void Delete(int p) {
    if (parent_[p] == kNil) return;
    int q;
    if (right_[p] == kNil) {
      q = left_[p];
    } else if (left_[p] == kNil) {
      q = right_[p];
    } else {
      q = left_[p];
      if (right_[q] != kNil) {
        do q = right_[q];
        while (right_[q] != kNil);
        right_[parent_[q]] = left_[q];
        parent_[left_[q]] = parent_[q];
        left_[q] = left_[p];
        parent_[left_[p]] = q;
      }
      right_[q] = right_[p];
      parent_[right_[p]] = q;
    }
    parent_[q] = parent_[p];
    if (right_[parent_[p]] == p)
      right_[parent_[p]] = q;
    else
      left_[parent_[p]] = q;
    parent_[p] = kNil;
  }

 private:
  // Sized for the roots in both child arrays: a root only ever has a right child, but the
  // replacement code may look at either array with a root's number.
  std::array<int, kN + 257> left_{};
  std::array<int, kN + 257> right_{};
  std::array<int, kN + 1> parent_{};
};

// Collects up to eight items behind their flag byte.
class GroupWriter {
 public:
  explicit GroupWriter(Bytes& out) : out_(out) {}

  void Literal(uint8_t c) {
    group_[0] |= mask_;
    group_[used_++] = c;
    Advance();
  }
  void Reference(int position, int length) {
    group_[used_++] = uint8_t(position);
    group_[used_++] = uint8_t(((position >> 4) & 0xF0) | (length - int(kLzssThreshold + 1)));
    Advance();
  }
  void Finish() {
    if (used_ > 1) out_.insert(out_.end(), group_.begin(), group_.begin() + used_);
  }

 private:
  void Advance() {
    mask_ = uint8_t(mask_ << 1);
    if (mask_ == 0) {
      out_.insert(out_.end(), group_.begin(), group_.begin() + used_);
      group_[0] = 0;
      used_ = 1;
      mask_ = 1;
    }
  }

  Bytes& out_;
  std::array<uint8_t, 17> group_{};
  size_t used_ = 1;
  uint8_t mask_ = 1;
};

}  // namespace

Bytes LzssCompress(ByteView input) {
  Bytes out;
  if (input.empty()) return out;
  out.reserve(input.size() + input.size() / 8 + 2);

  auto trees = std::make_unique<MatchTrees>();
  auto& ring = trees->ring;
  GroupWriter writer(out);
  size_t next = 0;  // next input byte
  int s = 0;        // oldest ring position (next to be replaced)
  int r = kFirstCodePosition;
  for (int i = 0; i < r; ++i) ring[i] = ' ';

  int len = 0;  // bytes of look-ahead in the ring from r on
  for (; len < kF && next < input.size(); ++len) ring[r + len] = input[next++];

  // The strings of spaces before the coding start go in first, nearest last, which keeps the
  // trees from degenerating; then the look-ahead itself.
  for (int i = 1; i <= kF; ++i) trees->Insert(r - i);
  trees->Insert(r);

  do {
    if (trees->matchLength > len) trees->matchLength = len;  // may run past the end of input
    if (trees->matchLength <= int(kLzssThreshold)) {
      trees->matchLength = 1;
      writer.Literal(ring[r]);
    } else {
      writer.Reference(trees->matchPosition, trees->matchLength);
    }
    const int consumed = trees->matchLength;
    int i = 0;
    for (; i < consumed && next < input.size(); ++i) {
      const uint8_t c = input[next++];
      trees->Delete(s);
      ring[s] = c;
      if (s < kF - 1) ring[s + kN] = c;
      s = (s + 1) & (kN - 1);
      r = (r + 1) & (kN - 1);
      trees->Insert(r);
    }
    // Input exhausted: slide over what is left of the match; the ring keeps its old bytes.
    for (; i < consumed; ++i) {
      trees->Delete(s);
      s = (s + 1) & (kN - 1);
      r = (r + 1) & (kN - 1);
      if (--len) trees->Insert(r);
    }
  } while (len > 0);
  writer.Finish();
  return out;
}

std::optional<Bytes> LzssDecompress(ByteView input, size_t maxOutput) {
  std::array<uint8_t, kN> ring{};
  for (int i = 0; i < kFirstCodePosition; ++i) ring[i] = ' ';
  int r = kFirstCodePosition;
  Bytes out;
  size_t pos = 0;
  while (pos < input.size()) {
    const uint8_t flags = input[pos++];
    for (int bit = 0; bit < 8 && pos < input.size(); ++bit) {
      if (flags & (1u << bit)) {
        if (out.size() >= maxOutput) return std::nullopt;
        const uint8_t c = input[pos++];
        out.push_back(c);
        ring[r] = c;
        r = (r + 1) & (kN - 1);
      } else {
        if (pos + 1 >= input.size()) return std::nullopt;  // reference cut in half
        const int lo = input[pos];
        const int hi = input[pos + 1];
        pos += 2;
        const int position = lo | ((hi & 0xF0) << 4);
        const int length = (hi & 0x0F) + int(kLzssThreshold) + 1;
        if (out.size() + size_t(length) > maxOutput) return std::nullopt;
        for (int k = 0; k < length; ++k) {
          const uint8_t c = ring[(position + k) & (kN - 1)];
          out.push_back(c);
          ring[r] = c;
          r = (r + 1) & (kN - 1);
        }
      }
    }
  }
  return out;
}

std::optional<Bytes> CompressImage(std::string_view kindName, ByteView data) {
  if (kindName.empty() || data.empty()) return std::nullopt;
  Bytes packed = LzssCompress(data);
  if (packed.empty()) return std::nullopt;
  return packed;
}

}  // namespace lw
