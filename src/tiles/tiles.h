// Tile sheet rendering: the tile file and canvas layouts, the palettes and
// per-tile tables, and the operations that draw and recolour the sheet.
#pragma once

#include <cstdint>

#include "bitmap.h"

// Tile file: 512 tiles of 16 x 16 pixels in tile-number order, packed
// pixels_per_byte to a byte with the leftmost pixel in the highest bits.
constexpr int32_t tile_size = 16;
constexpr int32_t tile_pixels = tile_size * tile_size;
constexpr int32_t sheet_columns = 16;  // tiles across the sheet
constexpr int32_t sheet_rows = 32;     // tiles down the sheet
constexpr int32_t tile_count = sheet_columns * sheet_rows;
constexpr int32_t attribute_rows = 16;  // tables cover tiles 0-255 only
constexpr int32_t plain_water_tile = 3;  // the water laid into water tiles

constexpr uint32_t tile_file_bytes(int32_t pixels_per_byte)
{
    return static_cast<uint32_t>(tile_count * tile_pixels / pixels_per_byte);
}

constexpr uint32_t tile_buffer_bytes = tile_file_bytes(2);

// Canvas: one palette index per byte, row 0 at the top of the picture.
constexpr int32_t canvas_width = sheet_columns * tile_size;
constexpr int32_t canvas_height = sheet_rows * tile_size;
constexpr uint32_t canvas_bytes = canvas_width * canvas_height;

// Canvas byte of pixel (y, x) of tile (tile_row, tile_col).
constexpr int32_t canvas_index(int32_t tile_row, int32_t tile_col, int32_t y, int32_t x)
{
    return (tile_row * tile_size + y) * canvas_width + tile_col * tile_size + x;
}

extern uint8_t canvas[canvas_bytes];

// Attribute bits of tile_attributes.
constexpr uint8_t grass_attribute = 0x01;
constexpr uint8_t water_attribute = 0x02;
// Fields of a water_masks entry.
constexpr uint32_t mask_tile_bits = 0x00FF;
constexpr uint32_t mask_inverted_bit = 0x8000;

extern const uint8_t tile_attributes[256];
extern const uint32_t water_masks[256];
extern const palette_entry ega_palette[16];
extern const palette_entry cga_palette[16];
extern const uint8_t ega_mirror_map[16];
extern const uint8_t cga_mirror_map[16];

// Everything that differs between the EGA and the CGA tile file.
struct tile_mode {
    int32_t pixels_per_byte;
    uint8_t grass_color;          // replaced by "--dungeon"
    uint8_t dungeon_grass_color;  // what it becomes
    const uint8_t *mirror_map;
    const palette_entry *palette;
};

extern const tile_mode ega_mode;
extern const tile_mode cga_mode;

int32_t tile_byte_index(int32_t tile_row, int32_t tile_col, int32_t y, int32_t x,
                        int32_t pixels_per_byte);
uint8_t tile_byte(const uint8_t *tiles, int32_t tile_row, int32_t tile_col, int32_t y, int32_t x,
                  int32_t pixels_per_byte);
uint8_t zero_pixel_mask(uint8_t packed, int32_t pixels_per_byte);
int32_t water_mask_of(int32_t tile_row, int32_t tile_col);
uint8_t remake_water_byte(const uint8_t *tiles, int32_t tile_row, int32_t tile_col, int32_t y,
                          int32_t x, int32_t pixels_per_byte, int32_t water_tile,
                          int32_t mask_tile);
int32_t draw_tile(const uint8_t *tiles, int32_t tile_row, int32_t tile_col,
                  int32_t pixels_per_byte, int32_t remake_water);
int32_t is_grass_tile(int32_t tile_row, int32_t tile_col);
void recolor_grass(uint8_t from_color, uint8_t to_color);
void remap_colors(const uint8_t *map);

// Packing, the reverse of drawing: `sheet` has the canvas layout (one palette
// index per byte, only the low 8 / pixels_per_byte bits count) and `tiles`
// receives tile_file_bytes(pixels_per_byte) bytes.
void pack_tile(const uint8_t *sheet, uint8_t *tiles, int32_t tile_row, int32_t tile_col,
               int32_t pixels_per_byte);
void pack_sheet(const uint8_t *sheet, uint8_t *tiles, int32_t pixels_per_byte);
