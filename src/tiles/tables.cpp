// Constant tables of the tile sheet: palettes, mirror-room colour maps, the
// per-tile attribute and water-mask tables, and the two modes.
#include "tiles.h"

namespace {
constexpr uint8_t G = grass_attribute;
constexpr uint8_t W = water_attribute;
constexpr uint8_t GW = grass_attribute | water_attribute;
}  // namespace

// Attributes of tiles 0-255, one sheet row of 16 tiles per line.
const uint8_t tile_attributes[256] = {
    0, 0, 0, 0, 0, G, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                  //   0-15
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, G, G,                  //  16-31
    G, G, G, G, G, G, G, 0, 0, 0, 0, 0, 0, 0, 0, 0,                  //  32-47
    G, G, G, G, GW, GW, GW, GW, 0, 0, 0, 0, 0, 0, 0, 0,              //  48-63
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, G, 0, 0, 0,                  //  64-79
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                  //  80-95
    GW, GW, GW, GW, GW, GW, GW, GW, GW, GW, GW, GW, GW, GW, GW, GW,  //  96-111
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                  // 112-127
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                  // 128-143
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                  // 144-159
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                  // 160-175
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                  // 176-191
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                  // 192-207
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                  // 208-223
    0, 0, 0, 0, W, W, W, W, 0, 0, 0, 0, 0, 0, 0, 0,                  // 224-239
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                  // 240-255
};
static_assert(sizeof tile_attributes == 256);

// Mask tile of each water tile (bits 0-7) and its inversion (bit 15), for
// tiles 0-255, one sheet row per line; only water tiles are looked up.
const uint32_t water_masks[256] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  //   0-15
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  //  16-31
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  //  32-47
    0, 0, 0, 0, 0x00D0, 0x00D1, 0x00D2, 0x00D3,      //  48-55
    0, 0, 0, 0, 0, 0, 0, 0,                          //  56-63
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  //  64-79
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  //  80-95
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,  //  96-103
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x007F,  // 104-111
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 112-127
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 128-143
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 144-159
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 160-175
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 176-191
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 192-207
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 208-223
    0, 0, 0, 0, 0x80D0, 0x80D1, 0x80D2, 0x80D3,      // 224-231
    0, 0, 0, 0, 0, 0, 0, 0,                          // 232-239
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 240-255
};
static_assert(sizeof water_masks / sizeof water_masks[0] == 256);

// The standard 16-colour EGA palette: blue, green, red, reserved.
const palette_entry ega_palette[16] = {
    {0x00, 0x00, 0x00, 0},  //  0 black
    {0xAA, 0x00, 0x00, 0},  //  1 blue
    {0x00, 0xAA, 0x00, 0},  //  2 green
    {0xAA, 0xAA, 0x00, 0},  //  3 cyan
    {0x00, 0x00, 0xAA, 0},  //  4 red
    {0xAA, 0x00, 0xAA, 0},  //  5 magenta
    {0x00, 0x55, 0xAA, 0},  //  6 brown
    {0xAA, 0xAA, 0xAA, 0},  //  7 light grey
    {0x55, 0x55, 0x55, 0},  //  8 dark grey
    {0xFF, 0x55, 0x55, 0},  //  9 light blue
    {0x55, 0xFF, 0x55, 0},  // 10 light green
    {0xFF, 0xFF, 0x55, 0},  // 11 light cyan
    {0x55, 0x55, 0xFF, 0},  // 12 light red
    {0xFF, 0x55, 0xFF, 0},  // 13 light magenta
    {0x55, 0xFF, 0xFF, 0},  // 14 yellow
    {0xFF, 0xFF, 0xFF, 0},  // 15 white
};
static_assert(sizeof ega_palette / sizeof ega_palette[0] == 16);

// The names of the EGA colours, by palette index.
const char *const ega_color_names[16] = {
    "black", "blue", "green", "cyan", "red", "magenta", "brown", "light grey",                  //  0-7
    "dark grey", "light blue", "light green", "light cyan", "light red", "light magenta",  //  8-13
    "yellow", "white",                                                                      // 14-15
};
static_assert(sizeof ega_color_names / sizeof ega_color_names[0] == color_count(2));

// CGA palette 1 in low intensity; the sheet is 4-bit, so 12 black entries follow.
const palette_entry cga_palette[16] = {
    {0x00, 0x00, 0x00, 0},  //  0 black
    {0xAA, 0xAA, 0x00, 0},  //  1 cyan
    {0xAA, 0x00, 0xAA, 0},  //  2 magenta
    {0xAA, 0xAA, 0xAA, 0},  //  3 light grey
    {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0},  //  4-7
    {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0},  //  8-11
    {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0},  // 12-15
};
static_assert(sizeof cga_palette / sizeof cga_palette[0] == 16);

// The names of the CGA colours, by palette index; the sheet uses only these four.
const char *const cga_color_names[4] = {"black", "cyan", "magenta", "light grey"};
static_assert(sizeof cga_color_names / sizeof cga_color_names[0] == color_count(4));

// Mirror-room colours: the entry at a canvas value replaces it.
// canvas value:                    0   1   2   3   4   5   6   7   8   9  10  11  12  13  14  15
const uint8_t ega_mirror_map[16] = {0,  5,  4,  4,  2,  1,  2,  7,  8, 12, 12, 12, 10,  9, 14, 15};
const uint8_t cga_mirror_map[16] = {0,  2,  1,  3,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0};
static_assert(sizeof ega_mirror_map == 16 && sizeof cga_mirror_map == 16);

//                     pixels_per_byte  grass  "--dungeon"  "--mirror-room"  palette      names
const tile_mode ega_mode = {2, 2, 4, ega_mirror_map, ega_palette, ega_color_names};
const tile_mode cga_mode = {4, 1, 2, cga_mirror_map, cga_palette, cga_color_names};
