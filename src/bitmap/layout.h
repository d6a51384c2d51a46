// The BMP layout that the writer, the reader and the converter share: header
// field order, palette and row sizes, and the size limit. Internal to the
// library; callers see only bitmap.h.
#pragma once

#include <cstdint>

#include "bitmap.h"

namespace bitmap_layout {

static_assert(sizeof(palette_entry) == 4, "a palette entry is one RGBQUAD");

constexpr uint32_t header_bytes = 54;  // "BM", file header fields, V3 info header
constexpr uint32_t info_header_bytes = 40;
constexpr uint32_t entry_bytes = 4;
constexpr int max_palette_entries = 256;

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

// Every size the record describes (file, pixel data, in-memory buffer) must
// fit the header's 32-bit fields; beyond that the arithmetic would wrap.
constexpr bool sizes_fit(uint64_t width, uint64_t height, uint32_t bit_count)
{
    const uint64_t data = stored_row_bytes(width, bit_count) * height;
    const uint64_t buffer = width * height * buffer_pixel_bytes(bit_count);
    return data + data_offset_for(bit_count) <= UINT32_MAX && buffer <= UINT32_MAX;
}

}  // namespace bitmap_layout
