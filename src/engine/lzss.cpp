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
// positions; the 256 roots live at kN + 1 + byte (a root only ever has a right child). The match
// found by Insert is the longest one met on the way down the tree, the earliest met winning a
// tie, and a full-length match replaces the old node: this is what fixes the output bytes, so
// it must not be "improved". What is tuned here is only how the same walk is done.
//
// Each node holds its two child links and, beside them, the child's bytes 1 and 2. A match of
// two bytes or less is never used (it is sent as a literal), so wherever those two bytes differ
// from the key's, they alone say which way to go, and the walk reads no string at all: one
// eight-byte node load per level, which is what random data mostly sees. Only where they agree
// are the strings compared, eight bytes at a time. The bytes of a string that is in a tree do
// not change while it is there (the ring is only written ahead of the newest string), so what a
// node keeps of its children stays true.
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
    for (int i = kN + 1; i <= kN + 256; ++i) nodes_[i] = Node{{kNil, kNil}, {0, 0}};
    for (int i = 0; i < kN; ++i) parent_[i] = kNil;
  }

  void Insert(int r) {
    const uint8_t* key = &ring[r];
    const unsigned keyPrefix = Prefix(r);
    int p = kN + 1 + key[0];
    nodes_[r].child[0] = nodes_[r].child[1] = kNil;
    int next = nodes_[p].child[1];
    if (next == kNil) {
      SetChild(p, 1, r, keyPrefix);
      parent_[r] = Link(p);
      matchLength = 0;
      return;
    }
    unsigned prefix = nodes_[p].prefix[1];
    // The key as two big-endian words and a byte, for the strings whose bytes 1 and 2 agree:
    // comparing those as numbers orders the strings as the byte-wise comparison does, and the
    // first differing byte comes from the leading zeros of their difference.
    const uint64_t key1 = Load8BigEndian(key + 1), key2 = Load8BigEndian(key + 9);
    const int key3 = key[17];
    int length = 0, position = 0;
    for (;;) {
      p = next;
      const uint64_t node = NodeWord(p);
      bool goRight;
      if (prefix != keyPrefix) {
        goRight = keyPrefix > prefix;
      } else {
        int i;
        if (const uint64_t other1 = Load8BigEndian(&ring[p + 1]); other1 != key1) {
          i = 1 + (__builtin_clzll(key1 ^ other1) >> 3);
          goRight = key1 > other1;
        } else if (const uint64_t other2 = Load8BigEndian(&ring[p + 9]); other2 != key2) {
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
          if (i >= kF) break;
        }
      }
      // The child and its bytes come out of the node by shifts, not through memory.
      const unsigned shift = 16 * unsigned(goRight);
      next = int16_t(node >> shift);
      if (next == kNil) {
        SetChild(p, goRight, r, keyPrefix);
        parent_[r] = Link(p);
        matchLength = length;
        matchPosition = position;
        return;
      }
      prefix = uint16_t(node >> (32 + shift));
    }
    matchLength = length;
    matchPosition = position;
    // Full-length match: r takes p's place in the tree, p leaves it (it is the older string
    // and would be deleted first anyway). Its children's links and bytes move with it.
    const int up = parent_[p];
    parent_[r] = Link(up);
    nodes_[r] = nodes_[p];
    parent_[nodes_[p].child[0]] = Link(r);
    parent_[nodes_[p].child[1]] = Link(r);
    SetChild(up, nodes_[up].child[1] == p, r, keyPrefix);
    parent_[p] = kNil;
  }

  void Delete(int p) {
    if (parent_[p] == kNil) return;
    // q takes p's place; what p's parent keeps of q's bytes comes from the links, not the ring.
    const Node gone = nodes_[p];
    const int left = gone.child[0], right = gone.child[1];
    int q;
    unsigned qPrefix;
    if (right == kNil) {
      q = left;
      qPrefix = gone.prefix[0];
    } else if (left == kNil) {
      q = right;
      qPrefix = gone.prefix[1];
    } else {
      q = left;
      qPrefix = gone.prefix[0];
      if (nodes_[q].child[1] != kNil) {
        do {
          qPrefix = nodes_[q].prefix[1];
          q = nodes_[q].child[1];
        } while (nodes_[q].child[1] != kNil);
        const int qUp = parent_[q], qLeft = nodes_[q].child[0];
        SetChild(qUp, 1, qLeft, nodes_[q].prefix[0]);
        parent_[qLeft] = Link(qUp);
        SetChild(q, 0, left, gone.prefix[0]);
        parent_[left] = Link(q);
      }
      SetChild(q, 1, right, gone.prefix[1]);
      parent_[right] = Link(q);
    }
    const int up = parent_[p];
    parent_[q] = Link(up);
    SetChild(up, nodes_[up].child[1] == p, q, qPrefix);
    parent_[p] = kNil;
  }

 private:
  using Index = int16_t;  // ring positions, kNil and the roots all fit
  static_assert(kN + 257 <= INT16_MAX);
  // The left (0) and right (1) child of a node, and bytes 1 and 2 of each child's string.
  struct Node {
    Index child[2];
    uint16_t prefix[2];
  };
  static Index Link(int n) { return Index(n); }
  static_assert(sizeof(Node) == 8);

  // A node as one word: the left link in the low 16 bits, then the right link, the left
  // child's bytes and the right child's.
  uint64_t NodeWord(int n) const {
    const Node& node = nodes_[n];
    if constexpr (std::endian::native == std::endian::little) {
      uint64_t word;
      std::memcpy(&word, &node, sizeof word);
      return word;
    } else {
      return uint64_t(uint16_t(node.child[0])) | uint64_t(uint16_t(node.child[1])) << 16 |
             uint64_t(node.prefix[0]) << 32 | uint64_t(node.prefix[1]) << 48;
    }
  }

  // Bytes 1 and 2 of the string at ring position n, the first the more significant. kNil (just
  // past the ring) reads the mirror bytes: harmless, an absent child's bytes are never used.
  unsigned Prefix(int n) const { return unsigned(ring[size_t(n) + 1]) << 8 | ring[size_t(n) + 2]; }

  void SetChild(int n, int right, int child, unsigned childPrefix) {
    nodes_[n].child[right] = Link(child);
    nodes_[n].prefix[right] = uint16_t(childPrefix);
  }

  static uint64_t Load8BigEndian(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
  }

  // Room for kNil's links too: the walk never follows them, but the replacement code may set
  // them. Not cleared: every entry is written before it is read (see the constructor).
  Node nodes_[kN + 257];
  Index parent_[kN + 1];
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
