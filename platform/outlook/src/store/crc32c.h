// CRC32C (Castagnoli), the checksum of store records. Pure and thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sx::outlook {

// CRC32C of `size` bytes at `data`, continuing from `crc` (0 to start).
std::uint32_t crc32c_extend(std::uint32_t crc, const void* data, std::size_t size);
inline std::uint32_t crc32c(const void* data, std::size_t size) {
  return crc32c_extend(0, data, size);
}

}  // namespace sx::outlook
