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
    const int32_t bytes = tile_pixels / pixels_per_byte;
    std::fill_n(tiles.begin() + number * bytes, bytes, value);
}

uint8_t canvas_pixel(int32_t number, int32_t y, int32_t x)
{
    return canvas[canvas_index(number >> 4, number & 15, y, x)];
}

// Each pixel of a drawn tile comes from its own place in the file, the
// leftmost of a byte from its highest bits, and lands in the tile's own
// square; nothing else changes. Tile 35 is not its own mirror image across
// the diagonal; 511 ends the file.
TEST(tiles, every_pixel_lands_in_its_tile_square)
{
    for (const int32_t ppb : {2, 4})
        for (const int32_t number : {35, 511}) {
            const int32_t bits = 8 / ppb;
            auto tiles = blank_tiles();
            for (size_t i = 0; i < tile_file_bytes(ppb); ++i) tiles[i] = uint8_t(i * 37 + i / 256);
            std::memset(canvas, 0xEE, sizeof canvas);
            draw_tile(tiles.data(), number >> 4, number & 15, ppb, 0);
            for (int32_t y = 0; y < canvas_height; ++y)
                for (int32_t x = 0; x < canvas_width; ++x) {
                    const int32_t pixel = number * 256 + y % 16 * 16 + x % 16;
                    const int shift = 8 - bits * (pixel % ppb + 1);
                    const bool inside = y / 16 * 16 + x / 16 == number;
                    const int expected = inside ? tiles[pixel / ppb] >> shift & ((1 << bits) - 1) : 0xEE;
                    ASSERT_EQ(canvas[y * canvas_width + x], expected) << ppb << ": " << y << "," << x;
                }
        }
}

TEST(tiles, zero_pixel_mask_marks_the_zero_pixels)
{
    EXPECT_EQ(zero_pixel_mask(0x05, 2), 0xF0);
    EXPECT_EQ(zero_pixel_mask(0x50, 2), 0x0F);
    EXPECT_EQ(zero_pixel_mask(0xFF, 2), 0x00);
    EXPECT_EQ(zero_pixel_mask(0x13, 4), 0xCC);
    EXPECT_EQ(zero_pixel_mask(0x00, 4), 0xFF);
}

// Own tile 52 (mask 208) and 228 (inverted mask 208) against water tile 3.
TEST(tiles, water_keeps_the_tile_where_the_mask_says)
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

        // draw_tile looks the mask up itself, and only when asked to remake;
        // the second pixel of a byte tells the three apart.
        const auto second = [bits = 8 / r.ppb](uint8_t v) { return v >> (8 - 2 * bits) & ((1 << bits) - 1); };
        draw_tile(tiles.data(), 3, 4, r.ppb, 1);
        draw_tile(tiles.data(), 14, 4, r.ppb, 1);
        EXPECT_EQ(canvas_pixel(52, 0, 1), second(r.plain));
        EXPECT_EQ(canvas_pixel(228, 15, 1), second(r.inverted));
        draw_tile(tiles.data(), 3, 4, r.ppb, 0);
        EXPECT_EQ(canvas_pixel(52, 0, 1), second(r.own));
    }
}

TEST(tiles, empty_mask_keeps_plain_tiles_and_floods_inverted_ones)
{
    auto tiles = blank_tiles();
    fill_tile(tiles, plain_water_tile, 2, 0x99);
    fill_tile(tiles, 96, 2, 0x12);
    fill_tile(tiles, 228, 2, 0x34);
    draw_tile(tiles.data(), 6, 0, 2, 1);   // mask 112 is all zero
    draw_tile(tiles.data(), 14, 4, 2, 1);  // inverted mask 208 is all zero
    EXPECT_EQ(canvas_pixel(96, 7, 1), 2);
    EXPECT_EQ(canvas_pixel(228, 7, 1), 9);
    fill_tile(tiles, 112, 2, 0xFF);  // no zero pixel: the opposite
    draw_tile(tiles.data(), 6, 0, 2, 1);
    EXPECT_EQ(canvas_pixel(96, 7, 1), 9);
}

// Key entries, and nothing read past the tables' 256 tiles.
TEST(tiles, water_and_grass_tables)
{
    const int32_t water[][2] = {{52, 208}, {55, 211}, {96, 112}, {111, 127}, {231, -211},
                                {3, 0}, {112, 0}, {256 + 52, 0}, {511, 0}};
    for (const auto &[t, mask] : water) EXPECT_EQ(water_mask_of(t >> 4, t & 15), mask) << t;
    const int32_t grass[][2] = {{5, 1}, {76, 1}, {111, 1}, {39, 0}, {256 + 5, 0}};
    for (const auto &[t, is_grass] : grass) EXPECT_EQ(is_grass_tile(t >> 4, t & 15), is_grass) << t;
}

TEST(tiles, grass_recolours_only_grass_then_the_mirror_map_applies_everywhere)
{
    std::memset(canvas, 2, sizeof canvas);
    canvas[canvas_index(0, 5, 3, 3)] = 7;  // grass tiles keep their other colours
    recolor_grass(ega_mode.grass_color, ega_mode.dungeon_grass_color);
    EXPECT_EQ(canvas_pixel(5, 0, 0), 4);
    EXPECT_EQ(canvas_pixel(5, 3, 3), 7);
    EXPECT_EQ(canvas_pixel(111, 15, 15), 4);
    EXPECT_EQ(canvas_pixel(39, 0, 0), 2);
    EXPECT_EQ(canvas_pixel(256 + 5, 0, 0), 2);  // the lower half is never grass
    remap_colors(ega_mode.mirror_map);
    EXPECT_EQ(canvas_pixel(5, 0, 0), 2);   // 2 -> 4 -> 2
    EXPECT_EQ(canvas_pixel(39, 0, 0), 4);  // 2 -> 4
    EXPECT_EQ(canvas[canvas_bytes - 1], 4);
}

}  // namespace
