// Editing the stored tiles: single pixels, fills, flips and swaps, all
// through tile_byte_index, so edits and drawing share one layout.
#include <algorithm>
#include <cstring>

#include "tiles.h"

namespace {

// Bit shift of pixel x within its byte: the leftmost pixel holds the highest bits.
int32_t pixel_shift(int32_t x, int32_t pixels_per_byte)
{
    return 8 - bits_per_pixel(pixels_per_byte) * (x % pixels_per_byte + 1);
}

uint8_t &byte_of(uint8_t *tiles, int32_t tile, int32_t y, int32_t x, int32_t pixels_per_byte)
{
    return tiles[tile_byte_index(tile / sheet_columns, tile % sheet_columns, y, x, pixels_per_byte)];
}

}  // namespace

uint8_t tile_pixel(const uint8_t *tiles, int32_t tile, int32_t y, int32_t x,
                   int32_t pixels_per_byte)
{
    const unsigned mask = pixel_mask(pixels_per_byte);
    const uint8_t packed = tile_byte(tiles, tile / sheet_columns, tile % sheet_columns, y, x, pixels_per_byte);
    return static_cast<uint8_t>((packed >> pixel_shift(x, pixels_per_byte)) & mask);
}

void set_tile_pixel(uint8_t *tiles, int32_t tile, int32_t y, int32_t x, int32_t pixels_per_byte,
                    uint8_t value)
{
    const unsigned mask = pixel_mask(pixels_per_byte);
    const int32_t shift = pixel_shift(x, pixels_per_byte);
    uint8_t &packed = byte_of(tiles, tile, y, x, pixels_per_byte);
    packed = static_cast<uint8_t>((packed & ~(mask << shift)) | ((value & mask) << shift));
}

void fill_tile(uint8_t *tiles, int32_t tile, int32_t y, int32_t x, int32_t pixels_per_byte,
               uint8_t value)
{
    const uint8_t from = tile_pixel(tiles, tile, y, x, pixels_per_byte);
    const unsigned mask = pixel_mask(pixels_per_byte);
    if (from == (value & mask)) return;
    int32_t stack[tile_pixels];  // each pixel is pushed at most once: it changes colour when pushed
    int32_t top = 0;
    stack[top++] = y * tile_size + x;
    set_tile_pixel(tiles, tile, y, x, pixels_per_byte, value);
    while (top > 0) {
        const int32_t at = stack[--top];
        const int32_t py = at / tile_size, px = at % tile_size;
        const int32_t next[4][2] = {{py - 1, px}, {py + 1, px}, {py, px - 1}, {py, px + 1}};
        for (const auto &[ny, nx] : next) {
            if (ny < 0 || nx < 0 || ny >= tile_size || nx >= tile_size) continue;
            if (tile_pixel(tiles, tile, ny, nx, pixels_per_byte) != from) continue;
            set_tile_pixel(tiles, tile, ny, nx, pixels_per_byte, value);
            stack[top++] = ny * tile_size + nx;
        }
    }
}

void flip_tile(uint8_t *tiles, int32_t tile, int32_t pixels_per_byte, bool horizontally)
{
    for (int32_t y = 0; y < tile_size; ++y)
        for (int32_t x = 0; x < tile_size; ++x) {
            const int32_t my = horizontally ? y : tile_size - 1 - y;
            const int32_t mx = horizontally ? tile_size - 1 - x : x;
            if (my * tile_size + mx <= y * tile_size + x) continue;  // each pair once
            const uint8_t a = tile_pixel(tiles, tile, y, x, pixels_per_byte);
            set_tile_pixel(tiles, tile, y, x, pixels_per_byte, tile_pixel(tiles, tile, my, mx, pixels_per_byte));
            set_tile_pixel(tiles, tile, my, mx, pixels_per_byte, a);
        }
}

uint8_t *tile_bytes(uint8_t *tiles, int32_t tile, int32_t pixels_per_byte)
{
    return &byte_of(tiles, tile, 0, 0, pixels_per_byte);
}

namespace {

const uint8_t *tile_bytes(const uint8_t *tiles, int32_t tile, int32_t pixels_per_byte)
{
    return tiles + tile_byte_index(tile / sheet_columns, tile % sheet_columns, 0, 0, pixels_per_byte);
}

}  // namespace

void swap_tiles(uint8_t *tiles, int32_t a, int32_t b, int32_t pixels_per_byte)
{
    uint8_t *first = tile_bytes(tiles, a, pixels_per_byte);
    std::swap_ranges(first, first + tile_bytes_of(pixels_per_byte), tile_bytes(tiles, b, pixels_per_byte));
}

void copy_tile(const uint8_t *tiles, int32_t tile, int32_t pixels_per_byte, uint8_t *out)
{
    std::memcpy(out, tile_bytes(tiles, tile, pixels_per_byte), tile_bytes_of(pixels_per_byte));
}

void paste_tile(uint8_t *tiles, int32_t tile, int32_t pixels_per_byte, const uint8_t *from)
{
    std::memcpy(tile_bytes(tiles, tile, pixels_per_byte), from, tile_bytes_of(pixels_per_byte));
}

int32_t tiles_drawn_from(int32_t tile, int32_t *out)
{
    int32_t count = 0;
    out[count++] = tile;
    for (int32_t water = 0; water < attribute_rows * sheet_columns; ++water) {
        const int32_t mask = water_mask_of(water / sheet_columns, water % sheet_columns);
        if (mask == 0 || water == tile) continue;
        if (tile == plain_water_tile || tile == (mask < 0 ? -mask : mask)) out[count++] = water;
    }
    return count;
}

int32_t compare_tiles(const uint8_t *a, const uint8_t *b, int32_t pixels_per_byte, uint8_t *changed,
                      uint32_t *pixels)
{
    int32_t tiles = 0;
    *pixels = 0;
    for (int32_t tile = 0; tile < tile_count; ++tile) {
        uint32_t differ = 0;
        for (int32_t y = 0; y < tile_size; ++y)
            for (int32_t x = 0; x < tile_size; ++x)
                differ += tile_pixel(a, tile, y, x, pixels_per_byte) != tile_pixel(b, tile, y, x, pixels_per_byte);
        changed[tile] = differ != 0;
        tiles += differ != 0;
        *pixels += differ;
    }
    return tiles;
}
