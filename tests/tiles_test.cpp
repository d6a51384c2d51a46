// Tile unpacking, water composition and the recolourings, on small synthetic
// tile files built byte by byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "tiles.h"

namespace {

std::vector<uint8_t> blank_tiles() { return std::vector<uint8_t>(tile_buffer_bytes, 0); }

// Every packed byte of one tile set to `value`.
void fill_tile(std::vector<uint8_t> &tiles, int32_t number, int32_t pixels_per_byte, uint8_t value)
{
    const int32_t first = tile_byte_index(number >> 4, number & 15, 0, 0, pixels_per_byte);
    std::fill_n(tiles.begin() + first, tile_pixels / pixels_per_byte, value);
}

uint8_t canvas_pixel(int32_t number, int32_t y, int32_t x)
{
    return canvas[canvas_index(number >> 4, number & 15, y, x)];
}

TEST(Unpacking, LeftmostPixelTakesTheHighestBits)
{
    auto tiles = blank_tiles();
    tiles[tile_byte_index(0, 0, 0, 0, 2)] = 0x4F;
    draw_tile(tiles.data(), 0, 0, 2, 0);
    EXPECT_EQ(canvas_pixel(0, 0, 0), 4);
    EXPECT_EQ(canvas_pixel(0, 0, 1), 15);

    tiles[tile_byte_index(0, 0, 0, 0, 4)] = 0xE4;
    draw_tile(tiles.data(), 0, 0, 4, 0);
    for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(canvas_pixel(0, 0, x), 3 - x);
}

TEST(Unpacking, TilesStartWhereTheirNumberSays)
{
    EXPECT_EQ(tile_byte_index(1, 1, 0, 0, 2), 2176);
    EXPECT_EQ(tile_byte_index(1, 1, 0, 0, 4), 1088);
    EXPECT_EQ(tile_byte_index(31, 15, 0, 0, 2), 65408);
    EXPECT_EQ(tile_byte_index(31, 15, 0, 0, 4), 32704);
    EXPECT_EQ(tile_byte_index(31, 15, 15, 15, 2), 65535);
    EXPECT_EQ(tile_byte_index(31, 15, 15, 15, 4), 32767);
}

// Each pixel of the sheet must come from its own tile at its own (y, x), and
// drawing one tile must touch only its square.
TEST(Unpacking, EveryPixelLandsInItsTileSquare)
{
    for (const int32_t ppb : {2, 4}) {
        const int32_t bits = 8 / ppb;
        auto tiles = blank_tiles();
        for (size_t i = 0; i < tile_file_bytes(ppb); ++i) tiles[i] = static_cast<uint8_t>(i * 37 + i / 256);
        std::memset(canvas, 0xEE, sizeof canvas);
        draw_tile(tiles.data(), 17 >> 4, 17 & 15, ppb, 0);
        for (int32_t row = 0; row < canvas_height; ++row)
            for (int32_t col = 0; col < canvas_width; ++col) {
                const bool inside = row / 16 == 1 && col / 16 == 1;
                const int32_t y = row % 16, x = col % 16;
                const int32_t pixel = 17 * 256 + y * 16 + x;
                const int shift = 8 - bits * (pixel % ppb + 1);
                const int expected = inside ? (tiles[pixel / ppb] >> shift) & ((1 << bits) - 1) : 0xEE;
                ASSERT_EQ(canvas[row * canvas_width + col], expected) << "ppb " << ppb << " at " << row << "," << col;
            }
    }
}

TEST(WaterComposition, ZeroPixelMask)
{
    EXPECT_EQ(zero_pixel_mask(0x05, 2), 0xF0);
    EXPECT_EQ(zero_pixel_mask(0x00, 2), 0xFF);
    EXPECT_EQ(zero_pixel_mask(0xFF, 2), 0x00);
    EXPECT_EQ(zero_pixel_mask(0x50, 2), 0x0F);
    EXPECT_EQ(zero_pixel_mask(0x13, 4), 0xCC);
    EXPECT_EQ(zero_pixel_mask(0x00, 4), 0xFF);
}

// Own tile 52 (mask 208) and 228 (inverted mask 208) against water tile 3.
TEST(WaterComposition, PlainAndInvertedMasks)
{
    struct row {
        int32_t ppb;
        uint8_t own, water, mask, plain, inverted;
    };
    for (const row r : {row{2, 0x26, 0x19, 0x05, 0x29, 0x16}, row{4, 0xE4, 0x55, 0x13, 0xD5, 0x64}}) {
        auto tiles = blank_tiles();
        fill_tile(tiles, 52, r.ppb, r.own);
        fill_tile(tiles, 228, r.ppb, r.own);
        fill_tile(tiles, plain_water_tile, r.ppb, r.water);
        fill_tile(tiles, 208, r.ppb, r.mask);
        EXPECT_EQ(remake_water_byte(tiles.data(), 3, 4, 5, 6, r.ppb, 3, 208), r.plain);
        EXPECT_EQ(remake_water_byte(tiles.data(), 14, 4, 5, 6, r.ppb, 3, -208), r.inverted);

        // draw_tile looks the mask up itself, and only when asked to remake.
        draw_tile(tiles.data(), 3, 4, r.ppb, 1);
        draw_tile(tiles.data(), 14, 4, r.ppb, 1);
        const int32_t bits = 8 / r.ppb;
        EXPECT_EQ(canvas_pixel(52, 0, 0), r.plain >> (8 - bits));
        EXPECT_EQ(canvas_pixel(228, 15, 0), r.inverted >> (8 - bits));
        draw_tile(tiles.data(), 3, 4, r.ppb, 0);
        EXPECT_EQ(canvas_pixel(52, 0, 0), r.own >> (8 - bits));
    }
}

TEST(WaterComposition, EmptyMaskKeepsPlainTilesAndFloodsInvertedOnes)
{
    auto tiles = blank_tiles();
    fill_tile(tiles, plain_water_tile, 2, 0x99);
    fill_tile(tiles, 96, 2, 0x12);
    fill_tile(tiles, 228, 2, 0x34);
    draw_tile(tiles.data(), 6, 0, 2, 1);   // mask 112 is all zero
    draw_tile(tiles.data(), 14, 4, 2, 1);  // inverted mask 208 is all zero
    EXPECT_EQ(canvas_pixel(96, 7, 0), 1);
    EXPECT_EQ(canvas_pixel(96, 7, 1), 2);
    EXPECT_EQ(canvas_pixel(228, 7, 0), 9);
    EXPECT_EQ(canvas_pixel(228, 7, 1), 9);

    fill_tile(tiles, 112, 2, 0xFF);  // no zero pixel: the opposite
    draw_tile(tiles.data(), 6, 0, 2, 1);
    EXPECT_EQ(canvas_pixel(96, 7, 0), 9);
}

TEST(Tables, WaterMasksAndAttributes)
{
    EXPECT_EQ(water_mask_of(3, 4), 208);     // tile 52
    EXPECT_EQ(water_mask_of(3, 7), 211);     // tile 55
    EXPECT_EQ(water_mask_of(6, 0), 112);     // tile 96
    EXPECT_EQ(water_mask_of(6, 15), 127);    // tile 111
    EXPECT_EQ(water_mask_of(14, 7), -211);   // tile 231, inverted
    EXPECT_EQ(water_mask_of(0, 3), 0);       // the plain water itself
    EXPECT_EQ(water_mask_of(7, 0), 0);       // a mask tile
    EXPECT_EQ(water_mask_of(16 + 3, 4), 0);  // tile 308: no attributes past 255

    int grass = 0, water = 0;
    for (int32_t row = 0; row < sheet_rows; ++row)
        for (int32_t col = 0; col < sheet_columns; ++col) {
            grass += is_grass_tile(row, col);
            water += water_mask_of(row, col) != 0;
        }
    EXPECT_EQ(grass, 35);
    EXPECT_EQ(water, 24);
    EXPECT_EQ(is_grass_tile(0, 5), 1);
    EXPECT_EQ(is_grass_tile(4, 12), 1);  // tile 76
    EXPECT_EQ(is_grass_tile(2, 7), 0);   // tile 39
}

// The EGA colours follow from two bits per channel: 0xAA for the colour bit,
// 0x55 for intensity; brown is the one exception (green halved).
TEST(Tables, PalettesFollowTheHardware)
{
    for (int i = 0; i < 16; ++i) {
        const int intensity = i & 8 ? 0x55 : 0;
        const palette_entry &e = ega_palette[i];
        EXPECT_EQ(e.blue, (i & 1 ? 0xAA : 0) + intensity) << i;
        EXPECT_EQ(e.green, i == 6 ? 0x55 : (i & 2 ? 0xAA : 0) + intensity) << i;
        EXPECT_EQ(e.red, (i & 4 ? 0xAA : 0) + intensity) << i;
        EXPECT_EQ(e.reserved, 0) << i;
    }
    const int cga_as_ega[4] = {0, 3, 5, 7};
    for (int i = 0; i < 16; ++i) {
        const palette_entry expected = i < 4 ? ega_palette[cga_as_ega[i]] : palette_entry{};
        EXPECT_EQ(std::memcmp(&cga_palette[i], &expected, sizeof expected), 0) << i;
    }
}

TEST(Recolouring, GrassOnlyThenMirrorMap)
{
    std::memset(canvas, 2, sizeof canvas);
    recolor_grass(ega_mode.grass_color, ega_mode.dungeon_grass_color);
    EXPECT_EQ(canvas_pixel(5, 0, 0), 4);
    EXPECT_EQ(canvas_pixel(111, 15, 15), 4);
    EXPECT_EQ(canvas_pixel(39, 0, 0), 2);
    EXPECT_EQ(canvas_pixel(256 + 5, 0, 0), 2);  // the lower half is never grass
    remap_colors(ega_mode.mirror_map);
    EXPECT_EQ(canvas_pixel(5, 0, 0), 2);   // 2 -> 4 -> 2
    EXPECT_EQ(canvas_pixel(39, 0, 0), 4);  // 2 -> 4

    for (uint32_t i = 0; i < canvas_bytes; ++i) canvas[i] = static_cast<uint8_t>(i % 4);
    remap_colors(cga_mode.mirror_map);
    const uint8_t swapped[4] = {0, 2, 1, 3};
    for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(canvas[i], swapped[i % 4]);
    recolor_grass(1, 1);
    EXPECT_EQ(canvas[canvas_index(0, 5, 0, 2)], 1);
}

}  // namespace
