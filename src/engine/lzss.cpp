#include "engine/lzss.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
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
// be "improved". What is tuned here is only how the same walk is done: 16-bit links, a node's
// two children side by side (the trees and the ring fit the first-level cache together), and
// key comparisons eight bytes at a time.
class MatchTrees {
 public:
  // The ring holds kF - 1 extra bytes mirroring its start, so that a string starting near the
  // end compares without wrapping. Its initial contents matter for short inputs: spaces before
  // the coding start, zeros everywhere else (the mirror included, until input reaches it).
  std::array<uint8_t, kN + kF - 1> ring{};
  int matchPosition = 0;
  int matchLength = 0;

  MatchTrees() {
    // Only what the walk reads before writing: the roots and the parents (the mark of a
    // position that is in no tree). A node's children are set when it is inserted.
    for (int i = kN + 1; i <= kN + 256; ++i) Child(i, 1) = kNil;
    for (int i = 0; i < kN; ++i) parent_[i] = kNil;
  }

  void Insert(int r) {
    const uint8_t* key = &ring[r];
    // The key as two big-endian words and a byte: comparing those as numbers orders the
    // strings as the byte-wise comparison does, and the first differing byte comes from the
    // leading zeros of their difference.
    const uint64_t key1 = Load8BigEndian(key + 1), key2 = Load8BigEndian(key + 9);
    const int key3 = key[17];
    int p = kN + 1 + key[0];
    Child(r, 0) = Child(r, 1) = kNil;
    int next = Child(p, 1);
    if (next == kNil) {
      Child(p, 1) = Link(r);
      parent_[r] = Link(p);
      matchLength = 0;
      return;
    }
    int length = 0, position = 0;
    // A first word that differs from the key's gives a longer match than `length` exactly when
    // the difference stays at or below this bound (its leading bytes agree): no count of the
    // leading zeros on the common way down.
    uint64_t longerBelow = ~uint64_t{0};
    uint64_t word = FirstWord(next);
    for (;;) {
      p = next;
      // Both children and their first words are fetched before the way down is known: the
      // walk then waits for one load per level instead of three in a row.
      const int left = Child(p, 0), right = Child(p, 1);
      const uint64_t leftWord = FirstWord(left), rightWord = FirstWord(right);
      bool goRight;
      if (const uint64_t diff = key1 ^ word; diff != 0) {
        goRight = key1 > word;
        if (diff <= longerBelow) {
          position = p;
          length = 1 + (__builtin_clzll(diff) >> 3);
          longerBelow = length >= 8 ? 0 : ~uint64_t{0} >> (8 * length);
        }
      } else {
        int i;
        if (const uint64_t other2 = Load8BigEndian(&ring[p + 9]); other2 != key2) {
          i = 9 + (__builtin_clzll(key2 ^ other2) >> 3);
          goRight = key2 > other2;
        } else if (const int other3 = ring[p + 17]; other3 != key3) {
          i = 17;
          goRight = key3 > other3;
        } else {
          i = kF;
          goRight = false;
        }
        if (i > length) {
          position = p;
          length = i;
          longerBelow = 0;  // no first word that differs can match longer
          if (i >= kF) break;
        }
      }
      // Chosen by arithmetic, not by a branch: the way down is a coin toss on most data.
      const int pick = -int(goRight);
      next = left ^ ((left ^ right) & pick);
      if (next == kNil) {
        Child(p, goRight) = Link(r);
        parent_[r] = Link(p);
        matchLength = length;
        matchPosition = position;
        return;
      }
      word = leftWord ^ ((leftWord ^ rightWord) & uint64_t(int64_t(pick)));
    }
    matchLength = length;
    matchPosition = position;
    // Full-length match: r takes p's place in the tree, p leaves it (it is the older string
    // and would be deleted first anyway).
    const int up = parent_[p];
    parent_[r] = Link(up);
    Child(r, 0) = Child(p, 0);
    Child(r, 1) = Child(p, 1);
    parent_[Child(p, 0)] = Link(r);
    parent_[Child(p, 1)] = Link(r);
    Child(up, Child(up, 1) == p) = Link(r);
    parent_[p] = kNil;
  }

  void Delete(int p) {
    if (parent_[p] == kNil) return;
    int q;
    if (Child(p, 1) == kNil) {
      q = Child(p, 0);
    } else if (Child(p, 0) == kNil) {
      q = Child(p, 1);
    } else {
      q = Child(p, 0);
      if (Child(q, 1) != kNil) {
        do q = Child(q, 1);
        while (Child(q, 1) != kNil);
        Child(parent_[q], 1) = Child(q, 0);
        parent_[Child(q, 0)] = parent_[q];
        Child(q, 0) = Child(p, 0);
        parent_[Child(p, 0)] = Link(q);
      }
      Child(q, 1) = Child(p, 1);
      parent_[Child(p, 1)] = Link(q);
    }
    const int up = parent_[p];
    parent_[q] = Link(up);
    Child(up, Child(up, 1) == p) = Link(q);
    parent_[p] = kNil;
  }

 private:
  using Node = int16_t;  // ring positions, kNil and the roots all fit
  static_assert(kN + 257 <= INT16_MAX);
  static Node Link(int n) { return Node(n); }
  // The left (0) or right (1) child of node n; a node's two links lie side by side.
  Node& Child(int n, int right) { return child_[2 * n + right]; }

  // Bytes 1 to 8 of the string at ring position n, as a big-endian word. kNil (just past the
  // ring) reads the mirror bytes: harmless, the word of an absent child is never used.
  uint64_t FirstWord(int n) const { return Load8BigEndian(&ring[size_t(n) + 1]); }

  static uint64_t Load8BigEndian(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
  }

  // Room for the roots' links too: a root only ever has a right child, but the replacement
  // code may look at either side of a root. Not cleared: every entry is written before it is
  // read (see the constructor).
  Node child_[2 * (kN + 257)];
  Node parent_[kN + 1];
};

// Collects up to eight items behind their flag byte, straight into an output buffer sized for
// the worst case (every byte a literal: nine bytes for eight), so that no item is checked for
// room. Plain members in one small object: the compiler keeps them in registers.
class GroupWriter {
 public:
  explicit GroupWriter(uint8_t* out) : out_(out), flags_(out), at_(out + 1) { *flags_ = 0; }

  void Literal(uint8_t c) {
    *flags_ |= mask_;
    *at_++ = c;
    Advance();
  }
  void Reference(int position, int length) {
    at_[0] = uint8_t(position);
    at_[1] = uint8_t(((position >> 4) & 0xF0) | (length - int(kLzssThreshold + 1)));
    at_ += 2;
    Advance();
  }
  // The bytes written; a last group without items is left out.
  size_t Finish() const { return size_t((at_ == flags_ + 1 ? flags_ : at_) - out_); }

 private:
  void Advance() {
    mask_ = uint8_t(mask_ << 1);
    if (mask_ == 0) {
      flags_ = at_++;
      *flags_ = 0;
      mask_ = 1;
    }
  }

  uint8_t* out_;
  uint8_t* flags_;  // the flag byte of the group being filled
  uint8_t* at_;     // where its next item goes
  uint8_t mask_ = 1;
};

}  // namespace

Bytes LzssCompress(ByteView input) {
  if (input.empty()) return {};
  // Neither buffer is cleared: the trees set only what they read (a short input is mostly
  // set-up), and the output is written before it is read.
  const size_t worst = input.size() + input.size() / 8 + 2;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[worst]);
  std::unique_ptr<MatchTrees> trees(new MatchTrees);
  auto& ring = trees->ring;
  GroupWriter writer(buffer.get());
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
  return Bytes(buffer.get(), buffer.get() + writer.Finish());
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
