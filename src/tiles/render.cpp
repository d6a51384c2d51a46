// Drawing the tile file into the canvas: unpacking, water remaking through
// mask tiles, grass recolouring and the colour remap.
#include "tiles.h"

#include <cstring>

uint8_t canvas[canvas_bytes];

namespace {

// The attribute tables cover tiles 0-255; the rest of the sheet has none.
uint8_t attributes_of(int32_t tile_row, int32_t tile_col)
{
    return tile_row < attribute_rows ? tile_attributes[tile_row * sheet_columns + tile_col] : 0;
}

}  // namespace

int32_t tile_byte_index(int32_t tile_row, int32_t tile_col, int32_t y, int32_t x,
                        int32_t pixels_per_byte)
{
    return (((tile_row * sheet_columns + tile_col) * tile_size + y) * tile_size + x) /
           pixels_per_byte;
}

uint8_t tile_byte(const uint8_t *tiles, int32_t tile_row, int32_t tile_col, int32_t y, int32_t x,
                  int32_t pixels_per_byte)
{
    return tiles[tile_byte_index(tile_row, tile_col, y, x, pixels_per_byte)];
}

uint8_t zero_pixel_mask(uint8_t packed, int32_t pixels_per_byte)
{
    const int32_t bits = bits_per_pixel(pixels_per_byte);
    unsigned result = 0;
    for (int32_t shift = 0; shift <= 7; shift += bits) {
        const unsigned pixel = pixel_mask(pixels_per_byte) << shift;
        if ((packed & pixel) == 0) result |= pixel;
    }
    return static_cast<uint8_t>(result);
}

int32_t water_mask_of(int32_t tile_row, int32_t tile_col)
{
    if ((attributes_of(tile_row, tile_col) & water_attribute) == 0) return 0;
    const uint32_t entry = water_masks[tile_row * sheet_columns + tile_col];
    const auto mask_tile = static_cast<int32_t>(entry & mask_tile_bits);
    return (entry & mask_inverted_bit) != 0 ? -mask_tile : mask_tile;
}

uint8_t remake_water_byte(const uint8_t *tiles, int32_t tile_row, int32_t tile_col, int32_t y,
                          int32_t x, int32_t pixels_per_byte, int32_t water_tile,
                          int32_t mask_tile)
{
    const unsigned water = tile_byte(tiles, water_tile >> 4, water_tile & 15, y, x, pixels_per_byte);
    const unsigned own = tile_byte(tiles, tile_row, tile_col, y, x, pixels_per_byte);
    const bool inverted = mask_tile < 0;
    const int32_t mask_number = inverted ? -mask_tile : mask_tile;
    const uint8_t mask = tile_byte(tiles, mask_number >> 4, mask_number & 15, y, x, pixels_per_byte);
    const unsigned zero = zero_pixel_mask(mask, pixels_per_byte);
    // A plain mask keeps the tile where the mask is 0; an inverted one keeps it elsewhere.
    const unsigned keep = inverted ? ~zero & 0xFFu : zero;
    return static_cast<uint8_t>((keep & own) | (~keep & water));
}

int32_t draw_tile(const uint8_t *tiles, int32_t tile_row, int32_t tile_col,
                  int32_t pixels_per_byte, int32_t remake_water)
{
    const int32_t bits = bits_per_pixel(pixels_per_byte);
    const unsigned mask_of_pixel = pixel_mask(pixels_per_byte);
    const int32_t mask = remake_water != 0 ? water_mask_of(tile_row, tile_col) : 0;
    for (int32_t y = 0; y < tile_size; ++y) {
        uint8_t *dst = canvas + canvas_index(tile_row, tile_col, y, 0);
        for (int32_t x = 0; x < tile_size; x += pixels_per_byte) {
            const unsigned packed =
                mask != 0 ? remake_water_byte(tiles, tile_row, tile_col, y, x, pixels_per_byte,
                                              plain_water_tile, mask)
                          : tile_byte(tiles, tile_row, tile_col, y, x, pixels_per_byte);
            for (int32_t shift = 8 - bits; shift >= 0; shift -= bits)
                *dst++ = static_cast<uint8_t>((packed >> shift) & mask_of_pixel);
        }
    }
    return 0;
}

int32_t is_grass_tile(int32_t tile_row, int32_t tile_col)
{
    return (attributes_of(tile_row, tile_col) & grass_attribute) != 0 ? 1 : 0;
}

namespace {

void recolor_tile_grass(int32_t tile_row, int32_t tile_col, uint8_t from_color, uint8_t to_color)
{
    if (is_grass_tile(tile_row, tile_col) == 0) return;
    for (int32_t y = 0; y < tile_size; ++y) {
        uint8_t *row = canvas + canvas_index(tile_row, tile_col, y, 0);
        for (int32_t x = 0; x < tile_size; ++x)
            if (row[x] == from_color) row[x] = to_color;
    }
}

void remap_tile(int32_t tile_row, int32_t tile_col, const uint8_t *map)
{
    for (int32_t y = 0; y < tile_size; ++y) {
        uint8_t *row = canvas + canvas_index(tile_row, tile_col, y, 0);
        for (int32_t x = 0; x < tile_size; ++x) row[x] = map[row[x]];
    }
}

}  // namespace

void recolor_grass(uint8_t from_color, uint8_t to_color)
{
    for (int32_t tile_row = 0; tile_row < sheet_rows; ++tile_row)
        for (int32_t tile_col = 0; tile_col < sheet_columns; ++tile_col)
            recolor_tile_grass(tile_row, tile_col, from_color, to_color);
}

void remap_colors(const uint8_t *map)
{
    for (uint8_t &pixel : canvas) pixel = map[pixel];
}

void render_sheet(const uint8_t *tiles, const tile_mode &mode, const sheet_options &options)
{
    std::memset(canvas, 0, sizeof canvas);
    for (int32_t tile_row = 0; tile_row < sheet_rows; ++tile_row)
        for (int32_t tile_col = 0; tile_col < sheet_columns; ++tile_col)
            draw_tile(tiles, tile_row, tile_col, mode.pixels_per_byte, options.remake_water ? 1 : 0);
    if (options.dungeon) recolor_grass(mode.grass_color, mode.dungeon_grass_color);
    if (options.mirror_room) remap_colors(mode.mirror_map);
}

// Every step works within one tile, so one tile redrawn this way equals the
// same tile of render_sheet; an editor redraws only what an edit touched.
void render_tile(const uint8_t *tiles, const tile_mode &mode, const sheet_options &options,
                 int32_t tile)
{
    const int32_t tile_row = tile / sheet_columns, tile_col = tile % sheet_columns;
    draw_tile(tiles, tile_row, tile_col, mode.pixels_per_byte, options.remake_water ? 1 : 0);
    if (options.dungeon)
        recolor_tile_grass(tile_row, tile_col, mode.grass_color, mode.dungeon_grass_color);
    if (options.mirror_room) remap_tile(tile_row, tile_col, mode.mirror_map);
}

void draw_scene(const uint8_t *sheet, const uint16_t *cells, int32_t columns, int32_t rows, uint8_t *out)
{
    const int32_t width = columns * tile_size;
    for (int32_t row = 0; row < rows; ++row)
        for (int32_t column = 0; column < columns; ++column) {
            const int32_t tile = cells[row * columns + column] < tile_count ? cells[row * columns + column] : 0;
            for (int32_t y = 0; y < tile_size; ++y)
                std::memcpy(out + (row * tile_size + y) * width + column * tile_size,
                            sheet + canvas_index(tile / sheet_columns, tile % sheet_columns, y, 0), tile_size);
        }
}
