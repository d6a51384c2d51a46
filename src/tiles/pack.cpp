// Packing a sheet back into the tile file: the mirror of draw_tile, through
// the same tile_byte_index, so the tile file layout lives in one place; and
// turning an edited picture into the mode's palette indices first.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tiles.h"

namespace {

// The mode's palette as the search sees it: entries past the mode's colours
// repeat entry 0, and a tie goes to the lower index, so only the mode's
// colours (CGA: 0-3) are ever chosen.
void search_palette(const tile_mode &mode, palette_entry (&out)[16])
{
    const int32_t colors = color_count(mode.pixels_per_byte);
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
    const int32_t bits = bits_per_pixel(pixels_per_byte);
    const unsigned mask = pixel_mask(pixels_per_byte);
    for (int32_t y = 0; y < tile_size; ++y) {
        const uint8_t *src = sheet + canvas_index(tile_row, tile_col, y, 0);
        for (int32_t x = 0; x < tile_size; x += pixels_per_byte) {
            unsigned packed = 0;
            for (int32_t shift = 8 - bits; shift >= 0; shift -= bits)
                packed |= (*src++ & mask) << shift;
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

sheet_format sheet_format_of(const uint8_t *head, size_t length)
{
    static const uint8_t png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (length >= sizeof png_signature && std::memcmp(head, png_signature, sizeof png_signature) == 0)
        return sheet_format::png;
    if (length >= 2 && head[0] == 'B' && head[1] == 'M') return sheet_format::bmp;
    return sheet_format::unknown;
}

bool is_sheet_size(uint32_t width, uint32_t height)
{
    return width == static_cast<uint32_t>(canvas_width) && height == static_cast<uint32_t>(canvas_height);
}

int pack_picture(const bitmap_header &header, const palette_entry *palette, const uint8_t *pixels,
                 const tile_mode &mode, uint8_t *tiles, uint32_t *changed)
{
    if (!is_sheet_size(header.width, header.height)) return wrong_sheet_size;
    uint8_t *indices = static_cast<uint8_t *>(std::malloc(canvas_bytes));
    if (indices == nullptr) return -2;
    const int result = map_to_palette(header, palette, pixels, mode, indices, changed);
    if (result >= 0) pack_sheet(indices, tiles, mode.pixels_per_byte);
    std::free(indices);
    return result;
}

namespace {

// " 'NAME'" after a line's words, or nothing without a name.
void end_line(const char *name)
{
    if (name != nullptr) std::printf(" '%s'", name);
    std::printf("\n");
}

}  // namespace

void print_not_a_sheet(const char *name)
{
    std::printf("not a bmp or png file");
    end_line(name);
}

void print_wrong_sheet_size(uint32_t width, uint32_t height, const char *name)
{
    std::printf("sheet is %u x %u, wanted %d x %d", width, height, canvas_width, canvas_height);
    end_line(name);
}

void print_changed_pixels(uint32_t changed, const char *name)
{
    std::printf("changed %u pixels to the nearest palette color", changed);
    end_line(name);
}
