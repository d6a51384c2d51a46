// The BMP layout that the writer, the readers and the converter share: header
// field order, palette and row sizes, the size limit, and how stored rows
// unpack. Internal to the library; callers see only bitmap.h.
#pragma once

#include <cstdint>
#include <cstring>

#include "bitmap.h"

namespace bitmap_layout {

static_assert(sizeof(palette_entry) == 4, "a palette entry is one RGBQUAD");

constexpr uint32_t header_bytes = 54;  // "BM", file header fields, V3 info header
constexpr uint32_t info_header_bytes = 40;
constexpr uint32_t entry_bytes = 4;
constexpr int max_palette_entries = 256;
constexpr uint16_t file_magic = 0x4D42;  // "BM" read as a little-endian word

// Visits the fifteen header fields in file order. Writer and reader both walk
// this one list, so the field order lives in a single place.
template <class Header, class Visit>
void for_each_field(Header &h, Visit visit)
{
    visit(h.file_length);
    visit(h.reserved1);
    visit(h.reserved2);
    visit(h.data_offset);
    visit(h.header_size);
    visit(h.width);
    visit(h.height);
    visit(h.planes);
    visit(h.bit_count);
    visit(h.compression);
    visit(h.data_length);
    visit(h.x_pixels_per_meter);
    visit(h.y_pixels_per_meter);
    visit(h.colors_used);
    visit(h.colors_important);
}

constexpr bool supported_bit_count(uint32_t bit_count)
{
    return bit_count == 1 || bit_count == 4 || bit_count == 8 || bit_count == 16 ||
           bit_count == 24 || bit_count == 32;
}

constexpr bool is_indexed(uint32_t bit_count)
{
    return bit_count == 1 || bit_count == 4 || bit_count == 8;
}

// Entries in the palette section: 2^bit_count for indexed pictures, else none.
constexpr uint32_t palette_entries(uint32_t bit_count)
{
    return is_indexed(bit_count) ? uint32_t{1} << bit_count : 0;
}

constexpr uint32_t data_offset_for(uint32_t bit_count)
{
    return header_bytes + entry_bytes * palette_entries(bit_count);
}

// Bytes of one pixel in the in-memory buffer.
constexpr uint32_t buffer_pixel_bytes(uint32_t bit_count) { return (bit_count + 7) / 8; }

// Bytes of the packed pixels of one stored row, before padding.
constexpr uint64_t packed_row_bytes(uint64_t width, uint32_t bit_count)
{
    return (width * bit_count + 7) / 8;
}

// Bytes of one stored row, padded to a multiple of 4.
constexpr uint64_t stored_row_bytes(uint64_t width, uint32_t bit_count)
{
    return (packed_row_bytes(width, bit_count) + 3) & ~uint64_t{3};
}

// The largest picture a reader takes: 256 MiB each for the pixel buffer, the
// stored rows and one stored row. read_bitmap allocates the whole buffer
// before the rows arrive, so this caps what a header that lies about its size
// can make it allocate; it also keeps every size within 32 bits and an int.
constexpr uint64_t max_read_bytes = uint64_t{1} << 28;

// Width and height are signed in the file, so values above INT32_MAX stand
// for negative ones (top-down files), which are not read. Below 2^31 each,
// the products here stay within 64 bits.
constexpr bool readable_size(uint32_t width, uint32_t height, uint32_t bit_count)
{
    const uint64_t rows = height > 0 ? height : 1;  // one row buffer even with no rows
    return width <= INT32_MAX && height <= INT32_MAX &&
           stored_row_bytes(width, bit_count) * rows <= max_read_bytes &&
           uint64_t{width} * buffer_pixel_bytes(bit_count) * rows <= max_read_bytes;
}

// a * b <= limit, asked without forming the product, which can pass 64 bits.
constexpr bool product_within(uint64_t a, uint64_t b, uint64_t limit)
{
    return b == 0 || a <= limit / b;
}

// Every size the record describes (file, pixel data, in-memory buffer) must
// fit the header's 32-bit fields; beyond that the arithmetic would wrap.
constexpr bool sizes_fit(uint64_t width, uint64_t height, uint32_t bit_count)
{
    return product_within(stored_row_bytes(width, bit_count), height,
                          UINT32_MAX - data_offset_for(bit_count)) &&
           product_within(width * buffer_pixel_bytes(bit_count), height, UINT32_MAX);
}

// One stored row into its buffer row, one byte per pixel at 1 and 4 bits;
// above 4 bits the bytes are copied.
void unpack_row(const uint8_t *stored, uint8_t *row, uint32_t width, uint32_t bit_count);

}  // namespace bitmap_layout
