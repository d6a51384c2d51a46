// Packing a sheet back into the tile file: the mirror of draw_tile, through
// the same tile_byte_index, so the tile file layout lives in one place; and
// turning an edited picture into the mode's palette indices first.
#include <cstdlib>

#include "tiles.h"

namespace {

// The mode's palette as the search sees it: entries past the mode's colours
// repeat entry 0, and a tie goes to the lower index, so only the mode's
// colours (CGA: 0-3) are ever chosen.
void search_palette(const tile_mode &mode, palette_entry (&out)[16])
{
    const int colors = 1 << (8 / mode.pixels_per_byte);
    for (int i = 0; i < 16; ++i) out[i] = mode.palette[i < colors ? i : 0];
}

uint32_t count_changed(const uint8_t *bgr, const uint8_t *indices, const palette_entry *palette)
{
    uint32_t changed = 0;
    for (uint32_t i = 0; i < canvas_bytes; ++i, bgr += 3) {
        const palette_entry &e = palette[indices[i]];
        if (bgr[0] != e.blue || bgr[1] != e.green || bgr[2] != e.red) ++changed;
    }
    return changed;
}

// Palette indices in canvas layout, through 24 bits so that the pixels that
// were no palette colour can be counted.
int map_to_palette(const bitmap_header &header, const palette_entry *palette,
                   const uint8_t *pixels, const tile_mode &mode, uint8_t *indices,
                   uint32_t *changed)
{
    palette_entry search[16];
    search_palette(mode, search);
    uint8_t *bgr = nullptr;
    int result = convert_bitmap_pixels(canvas_width, canvas_height, header.bit_count, palette,
                                       pixels, 24, nullptr, &bgr);
    if (result >= 0)
        result = convert_bitmap_pixels(canvas_width, canvas_height, 24, nullptr, bgr, 4, search,
                                       &indices);
    if (result >= 0) *changed = count_changed(bgr, indices, search);
    std::free(bgr);
    return result;
}

}  // namespace

void pack_tile(const uint8_t *sheet, uint8_t *tiles, int32_t tile_row, int32_t tile_col,
               int32_t pixels_per_byte)
{
    const int32_t bits = 8 / pixels_per_byte;
    const unsigned pixel_mask = (1u << bits) - 1;
    for (int32_t y = 0; y < tile_size; ++y) {
        const uint8_t *src = sheet + canvas_index(tile_row, tile_col, y, 0);
        for (int32_t x = 0; x < tile_size; x += pixels_per_byte) {
            unsigned packed = 0;
            for (int32_t shift = 8 - bits; shift >= 0; shift -= bits)
                packed |= (*src++ & pixel_mask) << shift;
            tiles[tile_byte_index(tile_row, tile_col, y, x, pixels_per_byte)] =
                static_cast<uint8_t>(packed);
        }
    }
}

void pack_sheet(const uint8_t *sheet, uint8_t *tiles, int32_t pixels_per_byte)
{
    for (int32_t tile_row = 0; tile_row < sheet_rows; ++tile_row)
        for (int32_t tile_col = 0; tile_col < sheet_columns; ++tile_col)
            pack_tile(sheet, tiles, tile_row, tile_col, pixels_per_byte);
}

void composite_on_black(const uint8_t *rgba, uint32_t pixel_count, uint8_t *bgr)
{
    for (uint32_t i = 0; i < pixel_count; ++i, rgba += 4, bgr += 3) {
        const unsigned alpha = rgba[3];
        for (int c = 0; c < 3; ++c)
            bgr[2 - c] = static_cast<uint8_t>((rgba[c] * alpha + 127) / 255);
    }
}

int pack_picture(const bitmap_header &header, const palette_entry *palette, const uint8_t *pixels,
                 const tile_mode &mode, uint8_t *tiles, uint32_t *changed)
{
    if (header.width != canvas_width || header.height != canvas_height) return -1;
    uint8_t *indices = static_cast<uint8_t *>(std::malloc(canvas_bytes));
    if (indices == nullptr) return -2;
    const int result = map_to_palette(header, palette, pixels, mode, indices, changed);
    if (result >= 0) pack_sheet(indices, tiles, mode.pixels_per_byte);
    std::free(indices);
    return result;
}
