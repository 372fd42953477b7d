// BSTR allocation. Memory layout: a 32-bit byte count, the characters, then two NUL bytes (three
// when the byte count is odd, so that a whole NUL character always follows).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "com/bstr.h"

namespace {

constexpr std::uint64_t kMaxBytes = 0x7FFFFFF0u;

std::uint32_t* header_of(BSTR bstr) {
  return reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(bstr) - sizeof(std::uint32_t));
}

// A BSTR of `bytes` bytes copied from `data` (zeroed when null).
BSTR allocate(const void* data, std::uint64_t bytes) {
  if (bytes > kMaxBytes) return nullptr;
  const std::size_t total = sizeof(std::uint32_t) + static_cast<std::size_t>(bytes) + 3;
  char* block = static_cast<char*>(std::malloc(total));
  if (block == nullptr) return nullptr;
  const auto count = static_cast<std::uint32_t>(bytes);
  std::memcpy(block, &count, sizeof count);
  char* chars = block + sizeof count;
  if (data != nullptr) {
    std::memcpy(chars, data, static_cast<std::size_t>(bytes));
  } else {
    std::memset(chars, 0, static_cast<std::size_t>(bytes));
  }
  std::memset(chars + bytes, 0, 3);
  return reinterpret_cast<BSTR>(chars);
}

std::size_t text_length(const OLECHAR* text) {
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

}  // namespace

extern "C" {

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  return allocate(text, std::uint64_t{text_length(text)} * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  return allocate(text, std::uint64_t{length} * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(LPCSTR data, UINT bytes) { return allocate(data, bytes); }

INT SysReAllocStringLen(BSTR* bstr, const OLECHAR* text, UINT length) {
  if (bstr == nullptr) return FALSE;
  // Allocate first: `text` may point into the old string.
  BSTR fresh = allocate(text, std::uint64_t{length} * sizeof(OLECHAR));
  if (fresh == nullptr) return FALSE;
  SysFreeString(*bstr);
  *bstr = fresh;
  return TRUE;
}

INT SysReAllocString(BSTR* bstr, const OLECHAR* text) {
  if (bstr == nullptr) return FALSE;
  if (text == nullptr) {
    static const OLECHAR kEmpty[1] = {0};
    return SysReAllocStringLen(bstr, kEmpty, 0);
  }
  const std::size_t n = text_length(text);
  if (n > kMaxBytes / sizeof(OLECHAR)) return FALSE;
  return SysReAllocStringLen(bstr, text, static_cast<UINT>(n));
}

void SysFreeString(BSTR bstr) {
  if (bstr != nullptr) std::free(header_of(bstr));
}

UINT SysStringByteLen(BSTR bstr) { return bstr == nullptr ? 0 : *header_of(bstr); }

UINT SysStringLen(BSTR bstr) { return SysStringByteLen(bstr) / sizeof(OLECHAR); }

}  // extern "C"
