// DES (FIPS 46-3) in ECB mode, for enciphering notes in the desktop state file. Written from the
// published standard; checked against its test vectors.
//
// Plain functions over caller buffers; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sx::conduit {

// The 16 round keys of one 64-bit key (parity bits ignored), each as two words: the six key bits of
// the even S-boxes, then of the odd ones, where the rounds need them.
struct DesKeySchedule {
  std::uint32_t round[16][2];
};

DesKeySchedule des_key_schedule(std::uint64_t key);

// One 64-bit block, bits numbered from the most significant as in the standard.
std::uint64_t des_encrypt_block(const DesKeySchedule& key, std::uint64_t block);
std::uint64_t des_decrypt_block(const DesKeySchedule& key, std::uint64_t block);

// ECB over `size` bytes in place; `size` must be a multiple of 8 (a trailing partial block is left
// as it is). Blocks are read big-endian.
void des_ecb_encrypt(const DesKeySchedule& key, std::uint8_t* data, std::size_t size);
void des_ecb_decrypt(const DesKeySchedule& key, std::uint8_t* data, std::size_t size);

}  // namespace sx::conduit
