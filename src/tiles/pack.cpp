// Packing a sheet back into the tile file: the mirror of draw_tile, through
// the same tile_byte_index, so the tile file layout lives in one place.
#include "tiles.h"

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
