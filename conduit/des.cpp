#include "des.h"

namespace sx::conduit {
namespace {

// The standard's tables, 1-based bit positions counted from the most significant bit. The initial
// and final permutations and the expansion E need no table: see initial_permutation() and
// feistel().
constexpr std::uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                 2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
constexpr std::uint8_t kPC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                                   10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                                   63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                                   14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr std::uint8_t kPC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                                   26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                                   51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr std::uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
constexpr std::uint8_t kS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11}};

// Picks `count` bits of `in` (a `width`-bit value) by the 1-based positions of `table`.
std::uint64_t permute(std::uint64_t in, const std::uint8_t* table, int count, int width) {
  std::uint64_t out = 0;
  for (int i = 0; i < count; ++i) out = (out << 1) | ((in >> (width - table[i])) & 1u);
  return out;
}

// The S-boxes merged with P (sp[box][six] is P of the box's output in its place), built once:
// 2 KiB, so they stay in the first-level cache.
struct Tables {
  std::uint32_t sp[8][64];
  Tables() {
    for (int box = 0; box < 8; ++box) {
      for (int six = 0; six < 64; ++six) {
        const int row = ((six & 0x20) >> 4) | (six & 1);
        const int column = (six >> 1) & 0xF;
        const std::uint32_t value = kS[box][row * 16 + column];
        sp[box][six] = static_cast<std::uint32_t>(permute(value << (28 - 4 * box), kP, 32, 32));
      }
    }
  }
};

const Tables& tables() {
  static const Tables t;
  return t;
}

#define SX_DES_INLINE inline __attribute__((always_inline))

// Exchanges the bits of `a` selected by `mask` << `shift` with the bits of `b` selected by `mask`.
SX_DES_INLINE void swap_bits(std::uint32_t& a, std::uint32_t& b, int shift, std::uint32_t mask) {
  const std::uint32_t t = ((a >> shift) ^ b) & mask;
  b ^= t;
  a ^= t << shift;
}

// IP of the block `left`:`right` as five exchanges of bit groups; final_permutation() undoes them
// in the reverse order (each exchange is its own inverse), which is IP's inverse, FP.
SX_DES_INLINE void initial_permutation(std::uint32_t& left, std::uint32_t& right) {
  swap_bits(left, right, 4, 0x0F0F0F0Fu);
  swap_bits(left, right, 16, 0x0000FFFFu);
  swap_bits(right, left, 2, 0x33333333u);
  swap_bits(right, left, 8, 0x00FF00FFu);
  swap_bits(left, right, 1, 0x55555555u);
}

SX_DES_INLINE void final_permutation(std::uint32_t& left, std::uint32_t& right) {
  swap_bits(left, right, 1, 0x55555555u);
  swap_bits(right, left, 8, 0x00FF00FFu);
  swap_bits(right, left, 2, 0x33333333u);
  swap_bits(left, right, 16, 0x0000FFFFu);
  swap_bits(left, right, 4, 0x0F0F0F0Fu);
}

SX_DES_INLINE std::uint32_t rotl(std::uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

// One round's f(R, K). Box i reads bits 4i..4i+5 of R (1-based, bit 0 being bit 32). In R rotated
// right by one those are bits 4i+1..4i+6, so the even boxes sit at shifts 26, 18, 10 and 2; rotated
// left by four more, the odd boxes sit at the same shifts. The round key is stored the same way
// (DesKeySchedule), so E and the key cost two rotations and two exclusive ors.
SX_DES_INLINE std::uint32_t feistel(const Tables& t, std::uint32_t right,
                                    const std::uint32_t key[2]) {
  const std::uint32_t even = rotl(right, 31) ^ key[0];
  const std::uint32_t odd = rotl(right, 3) ^ key[1];
  return t.sp[0][even >> 26] ^ t.sp[2][(even >> 18) & 0x3F] ^ t.sp[4][(even >> 10) & 0x3F] ^
         t.sp[6][(even >> 2) & 0x3F] ^ t.sp[1][odd >> 26] ^ t.sp[3][(odd >> 18) & 0x3F] ^
         t.sp[5][(odd >> 10) & 0x3F] ^ t.sp[7][(odd >> 2) & 0x3F];
}

// N independent blocks at once (ECB): their rounds interleave, so the table lookups of one block
// wait for those of another instead of for the previous round.
template <int N>
SX_DES_INLINE void crypt(const DesKeySchedule& key, bool decrypt, std::uint64_t* blocks) {
  const Tables& t = tables();
  std::uint32_t left[N], right[N];
  for (int j = 0; j < N; ++j) {
    left[j] = static_cast<std::uint32_t>(blocks[j] >> 32);
    right[j] = static_cast<std::uint32_t>(blocks[j]);
    initial_permutation(left[j], right[j]);
  }
  for (int i = 0; i < 16; ++i) {
    const std::uint32_t* round = key.round[decrypt ? 15 - i : i];
    for (int j = 0; j < N; ++j) {
      const std::uint32_t next = left[j] ^ feistel(t, right[j], round);
      left[j] = right[j];
      right[j] = next;
    }
  }
  for (int j = 0; j < N; ++j) {
    // The halves leave the last round swapped back: R16 L16.
    final_permutation(right[j], left[j]);
    blocks[j] = (static_cast<std::uint64_t>(right[j]) << 32) | left[j];
  }
}

std::uint64_t load(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}

void store(std::uint64_t v, std::uint8_t* p) {
  for (int i = 7; i >= 0; --i) {
    p[i] = static_cast<std::uint8_t>(v);
    v >>= 8;
  }
}

template <int N>
void ecb_blocks(const DesKeySchedule& key, bool decrypt, std::uint8_t* data) {
  std::uint64_t blocks[N];
  for (int j = 0; j < N; ++j) blocks[j] = load(data + 8 * j);
  crypt<N>(key, decrypt, blocks);
  for (int j = 0; j < N; ++j) store(blocks[j], data + 8 * j);
}

void ecb(const DesKeySchedule& key, bool decrypt, std::uint8_t* data, std::size_t size) {
  std::size_t i = 0;
  for (; i + 32 <= size; i += 32) ecb_blocks<4>(key, decrypt, data + i);
  switch ((size - i) / 8) {
    case 3:
      ecb_blocks<3>(key, decrypt, data + i);
      break;
    case 2:
      ecb_blocks<2>(key, decrypt, data + i);
      break;
    case 1:
      ecb_blocks<1>(key, decrypt, data + i);
      break;
    default:
      break;
  }
}

}  // namespace

DesKeySchedule des_key_schedule(std::uint64_t key) {
  DesKeySchedule schedule{};
  const std::uint64_t cd = permute(key, kPC1, 56, 64);
  auto c = static_cast<std::uint32_t>(cd >> 28) & 0x0FFFFFFFu;
  auto d = static_cast<std::uint32_t>(cd) & 0x0FFFFFFFu;
  for (int i = 0; i < 16; ++i) {
    for (int s = 0; s < kShifts[i]; ++s) {
      c = ((c << 1) | (c >> 27)) & 0x0FFFFFFFu;
      d = ((d << 1) | (d >> 27)) & 0x0FFFFFFFu;
    }
    const std::uint64_t k = permute((static_cast<std::uint64_t>(c) << 28) | d, kPC2, 48, 56);
    // Six key bits per box, placed where feistel() finds that box's input bits.
    for (int box = 0; box < 8; ++box) {
      const auto six = static_cast<std::uint32_t>(k >> (42 - 6 * box)) & 0x3F;
      schedule.round[i][box % 2] |= six << (26 - 4 * (box - box % 2));
    }
  }
  return schedule;
}

std::uint64_t des_encrypt_block(const DesKeySchedule& key, std::uint64_t block) {
  crypt<1>(key, false, &block);
  return block;
}

std::uint64_t des_decrypt_block(const DesKeySchedule& key, std::uint64_t block) {
  crypt<1>(key, true, &block);
  return block;
}

void des_ecb_encrypt(const DesKeySchedule& key, std::uint8_t* data, std::size_t size) {
  ecb(key, false, data, size);
}

void des_ecb_decrypt(const DesKeySchedule& key, std::uint8_t* data, std::size_t size) {
  ecb(key, true, data, size);
}

}  // namespace sx::conduit
