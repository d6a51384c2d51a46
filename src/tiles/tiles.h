// Tile sheet rendering: the tile file and canvas layouts, the palettes and
// per-tile tables, and the operations that draw and recolour the sheet.
#pragma once

#include <cstddef>
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

constexpr int32_t bits_per_pixel(int32_t pixels_per_byte) { return 8 / pixels_per_byte; }

// The bits of one pixel: 15 in EGA mode, 3 in CGA mode.
constexpr unsigned pixel_mask(int32_t pixels_per_byte)
{
    return (1u << bits_per_pixel(pixels_per_byte)) - 1;
}

// The colours a mode draws with: 16 in EGA mode, 4 in CGA mode.
constexpr int32_t color_count(int32_t pixels_per_byte)
{
    return static_cast<int32_t>(pixel_mask(pixels_per_byte)) + 1;
}

// The bytes of one tile, which lie together in the tile file.
constexpr int32_t tile_bytes_of(int32_t pixels_per_byte) { return tile_pixels / pixels_per_byte; }

// Canvas: one palette index per byte, row 0 at the top of the picture.
constexpr int32_t canvas_width = sheet_columns * tile_size;
constexpr int32_t canvas_height = sheet_rows * tile_size;
constexpr uint32_t canvas_bytes = canvas_width * canvas_height;

// Canvas byte of pixel (y, x) of tile (tile_row, tile_col).
constexpr int32_t canvas_index(int32_t tile_row, int32_t tile_col, int32_t y, int32_t x)
{
    return (tile_row * tile_size + y) * canvas_width + tile_col * tile_size + x;
}

// Where a tile starts on the canvas, and the tile that holds canvas pixel (x, y).
constexpr int32_t tile_left(int32_t tile) { return tile % sheet_columns * tile_size; }
constexpr int32_t tile_top(int32_t tile) { return tile / sheet_columns * tile_size; }
constexpr int32_t tile_at(int32_t x, int32_t y) { return y / tile_size * sheet_columns + x / tile_size; }

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
extern const char *const ega_color_names[16];
extern const palette_entry cga_palette[16];
extern const char *const cga_color_names[4];
extern const uint8_t ega_mirror_map[16];
extern const uint8_t cga_mirror_map[16];

// Everything that differs between the EGA and the CGA tile file.
struct tile_mode {
    int32_t pixels_per_byte;
    uint8_t grass_color;          // replaced by "--dungeon"
    uint8_t dungeon_grass_color;  // what it becomes
    const uint8_t *mirror_map;
    const palette_entry *palette;
    const char *const *color_names;  // color_count(pixels_per_byte) of them
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

// How a sheet is drawn: the tool's options, which the page offers too.
struct sheet_options {
    bool dungeon = false;
    bool mirror_room = false;
    bool remake_water = true;
};

// The whole sheet into the canvas, in the tool's order: clear, draw every
// tile, recolour the grass, then the mirror-room map.
void render_sheet(const uint8_t *tiles, const tile_mode &mode, const sheet_options &options);
// One tile of the canvas as render_sheet draws it.
void render_tile(const uint8_t *tiles, const tile_mode &mode, const sheet_options &options,
                 int32_t tile);

// A scene: tiles laid out on a grid, `columns` x `rows` tile numbers row
// by row, each side 1 to max_scene_tiles. Drawn from `sheet`, a rendered
// canvas, into `out`: columns * tile_size by rows * tile_size palette
// indices, row 0 at the top, each tile as the sheet shows it. A number past
// the sheet's tiles draws as tile 0.
constexpr int32_t max_scene_tiles = 64;
void draw_scene(const uint8_t *sheet, const uint16_t *cells, int32_t columns, int32_t rows, uint8_t *out);

// Editing the stored tiles, pixel by pixel in the tile file layout; tiles are
// named by number (0-511), y and x are 0-15, values are palette indices.
uint8_t tile_pixel(const uint8_t *tiles, int32_t tile, int32_t y, int32_t x,
                   int32_t pixels_per_byte);
void set_tile_pixel(uint8_t *tiles, int32_t tile, int32_t y, int32_t x, int32_t pixels_per_byte,
                    uint8_t value);
// Sets the 4-connected area of equal pixels around (y, x), within the tile.
void fill_tile(uint8_t *tiles, int32_t tile, int32_t y, int32_t x, int32_t pixels_per_byte,
               uint8_t value);
void flip_tile(uint8_t *tiles, int32_t tile, int32_t pixels_per_byte, bool horizontally);
void swap_tiles(uint8_t *tiles, int32_t a, int32_t b, int32_t pixels_per_byte);
// A tile's bytes are contiguous: tile_bytes_of(pixels_per_byte) of them.
uint8_t *tile_bytes(uint8_t *tiles, int32_t tile, int32_t pixels_per_byte);
// A tile as stored, out to a buffer of tile_bytes_of(pixels_per_byte) and back.
void copy_tile(const uint8_t *tiles, int32_t tile, int32_t pixels_per_byte, uint8_t *out);
void paste_tile(uint8_t *tiles, int32_t tile, int32_t pixels_per_byte, const uint8_t *from);
// Where two tile files of a mode differ: `changed` gets a flag for each of
// the tile_count tiles, 1 where the stored tiles differ, and `pixels` the
// number of pixels that differ. The number of tiles that differ.
int32_t compare_tiles(const uint8_t *a, const uint8_t *b, int32_t pixels_per_byte, uint8_t *changed,
                      uint32_t *pixels);
// The tiles whose picture shows pixels of `tile`, so an editor redraws them
// after an edit of it: the tile itself, and the water tiles made from it
// (the plain water is in every one, a mask tile in its own). Into `out`,
// with room for tile_count; their count.
int32_t tiles_drawn_from(int32_t tile, int32_t *out);

// Packing, the reverse of drawing: `sheet` has the canvas layout (one palette
// index per byte, only the low 8 / pixels_per_byte bits count) and `tiles`
// receives tile_file_bytes(pixels_per_byte) bytes.
void pack_tile(const uint8_t *sheet, uint8_t *tiles, int32_t tile_row, int32_t tile_col,
               int32_t pixels_per_byte);
void pack_sheet(const uint8_t *sheet, uint8_t *tiles, int32_t pixels_per_byte);

// Straight (not premultiplied) RGBA, as PNG stores it, to 24-bit blue, green,
// red laid on black: each channel becomes (c * alpha + 127) / 255, so a
// transparent pixel is black and an opaque one keeps its colour. The pack
// program and the page both read PNG sheets through this one rule.
void composite_on_black(const uint8_t *rgba, uint32_t pixel_count, uint8_t *bgr);

// An edited sheet is a picture of canvas size, told apart as BMP or PNG by
// its first bytes (PNG's 8-byte signature, BMP's "BM"), not by its name.
enum class sheet_format { unknown, bmp, png };
sheet_format sheet_format_of(const uint8_t *head, size_t length);
bool is_sheet_size(uint32_t width, uint32_t height);

// Result of pack_picture for a picture that is not of canvas size, apart
// from the library's -1 to -3.
constexpr int wrong_sheet_size = -4;

// Packs an edited sheet, a picture at any bit count the converter takes,
// into `tiles`: every pixel becomes the nearest colour of the mode's
// palette. `changed` counts the pixels that were no palette colour. 0,
// wrong_sheet_size, -1 for a picture that the converter refuses, -2 out of
// memory; `tiles` is written only on success.
int pack_picture(const bitmap_header &header, const palette_entry *palette, const uint8_t *pixels,
                 const tile_mode &mode, uint8_t *tiles, uint32_t *changed);

// The lines that qelega_pack and the page both show; `name` is the sheet's
// file name, or null for none.
void print_not_a_sheet(const char *name);
void print_wrong_sheet_size(uint32_t width, uint32_t height, const char *name);
void print_changed_pixels(uint32_t changed, const char *name);
