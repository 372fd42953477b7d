// Bitmaps made from a module's bitmap resources, at their own size or stretched.
#include "../window/resource_table.h"
#include "objects.h"

namespace sx::gdi {
namespace {

// The value of pixel (x, y) of a bottom-up bitmap, whatever its bit count.
std::uint32_t pixel(const std::vector<BYTE>& bits, int row_bytes, int x, int y, int bit_count) {
  const std::size_t bit = static_cast<std::size_t>(x) * static_cast<std::size_t>(bit_count);
  const BYTE* row = bits.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(row_bytes);
  if (bit_count < 8) {
    const int shift = 8 - bit_count - static_cast<int>(bit % 8);
    return (row[bit / 8] >> shift) & ((1u << bit_count) - 1u);
  }
  std::uint32_t value = 0;
  for (int i = 0; i < bit_count / 8; ++i) value |= std::uint32_t{row[bit / 8 + i]} << (8 * i);
  return value;
}

void set_pixel(std::vector<BYTE>& bits, int row_bytes, int x, int y, int bit_count,
               std::uint32_t value) {
  const std::size_t bit = static_cast<std::size_t>(x) * static_cast<std::size_t>(bit_count);
  BYTE* row = bits.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(row_bytes);
  if (bit_count < 8) {
    const int shift = 8 - bit_count - static_cast<int>(bit % 8);
    const BYTE mask = static_cast<BYTE>(((1u << bit_count) - 1u) << shift);
    row[bit / 8] = static_cast<BYTE>((row[bit / 8] & ~mask) | ((value << shift) & mask));
    return;
  }
  for (int i = 0; i < bit_count / 8; ++i) row[bit / 8 + i] = static_cast<BYTE>(value >> (8 * i));
}

}  // namespace

HBITMAP create_bitmap(const sx::window::BitmapResource& source, int cx, int cy, bool dib) {
  auto bitmap = std::make_shared<Bitmap>();
  bitmap->width = cx > 0 ? cx : source.width;
  bitmap->height = cy > 0 ? cy : source.height;
  bitmap->bit_count = source.bit_count;
  bitmap->dib = dib;
  bitmap->colours = source.colours;
  const int bits = source.bit_count;
  const int row_bytes = sx::window::dib_row_bytes(bitmap->width, bits);
  bitmap->bits.assign(
      static_cast<std::size_t>(row_bytes) * static_cast<std::size_t>(bitmap->height), 0);
  if (!source.bits.empty()) {
    // Nearest neighbour: each target pixel takes the source pixel it falls on.
    const int source_row_bytes = sx::window::dib_row_bytes(source.width, bits);
    for (int y = 0; y < bitmap->height; ++y) {
      const int sy =
          static_cast<int>(static_cast<std::int64_t>(y) * source.height / bitmap->height);
      for (int x = 0; x < bitmap->width; ++x) {
        const int sx =
            static_cast<int>(static_cast<std::int64_t>(x) * source.width / bitmap->width);
        set_pixel(bitmap->bits, row_bytes, x, y, bits,
                  pixel(source.bits, source_row_bytes, sx, sy, bits));
      }
    }
  }
  Guard guard = lock();
  return static_cast<HBITMAP>(insert_locked(std::move(bitmap)));
}

}  // namespace sx::gdi
