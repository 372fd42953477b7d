#include "des.h"

namespace sx::conduit {
namespace {

// The standard's tables, 1-based bit positions counted from the most significant bit.
constexpr std::uint8_t kIP[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                                  62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                                  57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                                  61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
constexpr std::uint8_t kFP[64] = {40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
                                  38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
                                  36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
                                  34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};
constexpr std::uint8_t kE[48] = {32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
                                 12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
                                 22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};
constexpr std::uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                 2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
constexpr std::uint8_t kPC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                                   10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                                   63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                                   14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr std::uint8_t kPC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
                                   23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
                                   41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
                                   44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr std::uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
constexpr std::uint8_t kS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,  0, 15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5,  3,  8,  4,  1,  14, 8,  13, 6, 2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2,  4,  9,  1,  7,  5,  11, 3,  14, 10, 0, 6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9,  11, 5, 0,  14, 7,  11, 10, 4, 13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1,  3,  15, 4, 2,  11, 6,  7,  12, 0, 5,  14, 9},
    {10, 0,  9,  14, 6,  3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,  13, 7, 0,  9,  3, 4,
     6,  10, 2,  8,  5,  14, 12, 11, 15, 1,  13, 6,  4,  9,  8,  15, 3, 0, 11, 1, 2, 12,
     5,  10, 14, 7,  1,  10, 13, 0,  6,  9,  8,  7,  4,  15, 14, 3, 11, 5, 2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8,  5,  11, 12, 4,  15, 13, 8,  11, 5,  6,  15,
     0,  3,  4,  7, 2,  12, 1,  10, 14, 9, 10, 6,  9,  0,  12, 11, 7, 13, 15, 1,  3,  14,
     5,  2,  8,  4, 3,  15, 0,  6,  10, 1, 13, 8,  9,  4,  5,  11, 12, 7, 2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0, 14, 9,  14, 11, 2,  12, 4, 7,
     13, 1,  5,  0,  15, 10, 3,  9,  8,  6,  4,  2,  1,  11, 10, 13, 7, 8,  15, 9,  12, 5,
     6,  3,  0,  14, 11, 8,  12, 7,  1,  14, 2,  13, 6, 15, 0,  9,  10, 4, 5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11, 10, 15, 4,  2,  7,  12,
     9,  5,  6,  1,  13, 14, 0,  11, 3,  8,  9,  14, 15, 5,  2,  8,  12, 3, 7,  0,  4,  10,
     1,  13, 11, 6,  4,  3,  2,  12, 9,  5,  15, 10, 11, 14, 1, 7,  6,  0, 8,  13},
    {4,  11, 2,  14, 15, 0, 8,  13, 3,  12, 9, 7,  5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1,  10, 14, 3,  5,  12, 2,  15, 8,  6,  1, 4,  11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0,  5,  9,  2,  6,  11, 13, 8,  1,  4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2,  8,  4, 6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7, 1,  15, 13, 8,  10, 3,
     7,  4,  12, 5, 6,  11, 0,  14, 9,  2,  7,  11, 4,  1,  9,  12, 14, 2, 0,  6,  10, 13,
     15, 3,  5,  8, 2,  1,  14, 7,  4,  10, 8,  13, 15, 12, 9,  0,  3,  5, 6,  11}};

// Picks `count` bits of `in` (a `width`-bit value) by the 1-based positions of `table`.
std::uint64_t permute(std::uint64_t in, const std::uint8_t* table, int count, int width) {
  std::uint64_t out = 0;
  for (int i = 0; i < count; ++i) out = (out << 1) | ((in >> (width - table[i])) & 1u);
  return out;
}

// The fixed permutations as byte tables, the S-boxes with P as 8 tables of 64 words, built once:
// a block then costs table lookups instead of bit-by-bit permutations.
struct Tables {
  std::uint64_t ip[8][256];
  std::uint64_t fp[8][256];
  std::uint32_t sp[8][64];
  Tables() {
    for (int byte = 0; byte < 8; ++byte) {
      for (int v = 0; v < 256; ++v) {
        const std::uint64_t in = static_cast<std::uint64_t>(v) << (56 - 8 * byte);
        ip[byte][v] = permute(in, kIP, 64, 64);
        fp[byte][v] = permute(in, kFP, 64, 64);
      }
    }
    for (int box = 0; box < 8; ++box) {
      for (int six = 0; six < 64; ++six) {
        const int row = ((six & 0x20) >> 4) | (six & 1);
        const int column = (six >> 1) & 0xF;
        const std::uint32_t value = kS[box][row * 16 + column];
        const std::uint32_t placed = value << (28 - 4 * box);
        sp[box][six] = static_cast<std::uint32_t>(permute(placed, kP, 32, 32));
      }
    }
  }
};

const Tables& tables() {
  static const Tables t;
  return t;
}

std::uint64_t by_bytes(const std::uint64_t (&table)[8][256], std::uint64_t in) {
  std::uint64_t out = 0;
  for (int byte = 0; byte < 8; ++byte) out |= table[byte][(in >> (56 - 8 * byte)) & 0xFF];
  return out;
}

std::uint32_t rotl(std::uint32_t v, int n) {
  n &= 31;
  return n == 0 ? v : (v << n) | (v >> (32 - n));
}

// E, the round key, the S-boxes and P. The six input bits of box i are bits 4i..4i+5 of E's
// input (1-based, wrapping), i.e. the top six bits of the input rotated left by 4i-1.
std::uint32_t feistel(const Tables& t, std::uint32_t right, std::uint64_t round_key) {
  std::uint32_t out = 0;
  for (int box = 0; box < 8; ++box) {
    const std::uint32_t six = rotl(right, 4 * box - 1) >> 26;
    const auto key_six = static_cast<std::uint32_t>(round_key >> (42 - 6 * box)) & 0x3F;
    out |= t.sp[box][six ^ key_six];
  }
  return out;
}

std::uint64_t crypt(const DesKeySchedule& key, std::uint64_t block, bool decrypt) {
  const Tables& t = tables();
  const std::uint64_t permuted = by_bytes(t.ip, block);
  auto left = static_cast<std::uint32_t>(permuted >> 32);
  auto right = static_cast<std::uint32_t>(permuted);
  for (int i = 0; i < 16; ++i) {
    const std::uint32_t next = left ^ feistel(t, right, key.round[decrypt ? 15 - i : i]);
    left = right;
    right = next;
  }
  return by_bytes(t.fp, (static_cast<std::uint64_t>(right) << 32) | left);
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
    schedule.round[i] = permute((static_cast<std::uint64_t>(c) << 28) | d, kPC2, 48, 56);
  }
  return schedule;
}

std::uint64_t des_encrypt_block(const DesKeySchedule& key, std::uint64_t block) {
  return crypt(key, block, false);
}

std::uint64_t des_decrypt_block(const DesKeySchedule& key, std::uint64_t block) {
  return crypt(key, block, true);
}

void des_ecb_encrypt(const DesKeySchedule& key, std::uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i + 8 <= size; i += 8) store(crypt(key, load(data + i), false), data + i);
}

void des_ecb_decrypt(const DesKeySchedule& key, std::uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i + 8 <= size; i += 8) store(crypt(key, load(data + i), true), data + i);
}

}  // namespace sx::conduit
