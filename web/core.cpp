// The page's entry points into the core: plain byte buffers in and out,
// results by sign, and nothing here that the programs do not share. The page
// copies a file into a buffer, calls one of these, and reads the result out.
#include <emscripten.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap.h"
#include "sample_tiles.h"
#include "tiles.h"

namespace {

uint8_t tile_buffer[tile_buffer_bytes];
uint8_t sample_cga[tile_file_bytes(4)];
// A written sheet: header, palette and rows, the same bytes qelega_shapes
// writes, and a byte more for the NUL that the C library's fmemopen keeps.
uint8_t bitmap_file[54 + 16 * 4 + canvas_bytes / 2 + 1];
uint32_t last_width, last_height;  // of the last picture offered for packing
uint8_t clipboard[tile_pixels / 2];  // one copied tile, as stored

const tile_mode &mode_of(int cga) { return cga != 0 ? cga_mode : ega_mode; }

// Packs into a scratch buffer first, so that a refused sheet leaves the
// current tile file as it was.
int pack_into_tiles(const bitmap_header &header, const palette_entry *palette,
                    const uint8_t *pixels, int cga)
{
    static uint8_t packed[tile_buffer_bytes];
    last_width = header.width;
    last_height = header.height;
    uint32_t changed = 0;
    const int result = pack_picture(header, palette, pixels, mode_of(cga), packed, &changed);
    if (result < 0) return result;
    std::memcpy(tile_buffer, packed, tile_file_bytes(mode_of(cga).pixels_per_byte));
    return static_cast<int>(changed);
}

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE int core_canvas_width() { return canvas_width; }
EMSCRIPTEN_KEEPALIVE int core_canvas_height() { return canvas_height; }
EMSCRIPTEN_KEEPALIVE int core_tile_size() { return tile_size; }

EMSCRIPTEN_KEEPALIVE uint8_t *core_tiles() { return tile_buffer; }

EMSCRIPTEN_KEEPALIVE int core_tile_file_bytes(int cga)
{
    return static_cast<int>(tile_file_bytes(mode_of(cga).pixels_per_byte));
}

EMSCRIPTEN_KEEPALIVE void core_load_sample() { make_sample_tiles(tile_buffer, sample_cga); }

EMSCRIPTEN_KEEPALIVE const uint8_t *core_render(int cga, int dungeon, int mirror_room,
                                                int remake_water)
{
    render_sheet(tile_buffer, mode_of(cga), {dungeon != 0, mirror_room != 0, remake_water != 0});
    return canvas;
}

EMSCRIPTEN_KEEPALIVE const palette_entry *core_palette(int cga) { return mode_of(cga).palette; }

// Writes the canvas as qelega_shapes does; the length written, or -1.
EMSCRIPTEN_KEEPALIVE int core_write_bitmap(int cga)
{
    FILE *stream = fmemopen(bitmap_file, sizeof bitmap_file, "wb");
    if (stream == nullptr) return -1;
    bitmap_header header;
    init_bitmap_header(&header, canvas_width, canvas_height, 4);
    int result = write_bitmap(stream, &header, mode_of(cga).palette, canvas);
    if (result >= 0) result = static_cast<int>(std::ftell(stream));
    std::fclose(stream);
    return result;
}

EMSCRIPTEN_KEEPALIVE const uint8_t *core_bitmap_file() { return bitmap_file; }

EMSCRIPTEN_KEEPALIVE int core_is_grass(int tile)
{
    return is_grass_tile(tile / sheet_columns, tile % sheet_columns);
}

EMSCRIPTEN_KEEPALIVE int core_plain_water_tile() { return plain_water_tile; }

// The mask tile of a water tile, negative when inverted; 0 for other tiles.
EMSCRIPTEN_KEEPALIVE int core_water_mask(int tile)
{
    return water_mask_of(tile / sheet_columns, tile % sheet_columns);
}

EMSCRIPTEN_KEEPALIVE uint8_t *core_alloc(int size)
{
    return size >= 0 ? static_cast<uint8_t *>(std::malloc(static_cast<size_t>(size) + 1)) : nullptr;
}

EMSCRIPTEN_KEEPALIVE void core_free(uint8_t *buffer) { std::free(buffer); }

// An edited sheet saved as BMP, read as qelega_pack reads it. The pixels
// changed to the nearest palette colour, or negative when refused.
EMSCRIPTEN_KEEPALIVE int core_pack_bitmap(uint8_t *file, int size, int cga)
{
    last_width = last_height = 0;
    FILE *stream = fmemopen(file, static_cast<size_t>(size), "rb");
    if (stream == nullptr) return -1;
    bitmap_header header{};
    palette_entry *palette = nullptr;
    uint8_t *pixels = nullptr;
    int result = read_bitmap_lenient(stream, &header, &palette, &pixels);
    std::fclose(stream);
    if (result >= 0) result = pack_into_tiles(header, palette, pixels, cga);
    std::free(palette);
    std::free(pixels);
    return result;
}

// A PNG sheet as the page decoded it: straight 8-bit RGBA, top-down.
EMSCRIPTEN_KEEPALIVE int core_pack_rgba(const uint8_t *rgba, int width, int height, int cga)
{
    if (width != canvas_width || height != canvas_height) {
        last_width = static_cast<uint32_t>(width);
        last_height = static_cast<uint32_t>(height);
        return -1;
    }
    static uint8_t bgr[canvas_bytes * 3];
    composite_on_black(rgba, canvas_bytes, bgr);
    bitmap_header header;
    init_bitmap_header(&header, canvas_width, canvas_height, 24);
    return pack_into_tiles(header, nullptr, bgr, cga);
}

// Edits of the stored tiles, for the page's editor.
EMSCRIPTEN_KEEPALIVE int core_tile_pixel(int tile, int y, int x, int cga)
{
    return tile_pixel(tile_buffer, tile, y, x, mode_of(cga).pixels_per_byte);
}

EMSCRIPTEN_KEEPALIVE void core_set_pixel(int tile, int y, int x, int value, int cga)
{
    set_tile_pixel(tile_buffer, tile, y, x, mode_of(cga).pixels_per_byte, static_cast<uint8_t>(value));
}

EMSCRIPTEN_KEEPALIVE void core_fill(int tile, int y, int x, int value, int cga)
{
    fill_tile(tile_buffer, tile, y, x, mode_of(cga).pixels_per_byte, static_cast<uint8_t>(value));
}

EMSCRIPTEN_KEEPALIVE void core_flip(int tile, int horizontally, int cga)
{
    flip_tile(tile_buffer, tile, mode_of(cga).pixels_per_byte, horizontally != 0);
}

EMSCRIPTEN_KEEPALIVE void core_swap(int a, int b, int cga)
{
    swap_tiles(tile_buffer, a, b, mode_of(cga).pixels_per_byte);
}

EMSCRIPTEN_KEEPALIVE void core_copy_tile(int tile, int cga)
{
    const int32_t ppb = mode_of(cga).pixels_per_byte;
    std::memcpy(clipboard, tile_bytes(tile_buffer, tile, ppb), tile_pixels / ppb);
}

EMSCRIPTEN_KEEPALIVE void core_paste_tile(int tile, int cga)
{
    const int32_t ppb = mode_of(cga).pixels_per_byte;
    std::memcpy(tile_bytes(tile_buffer, tile, ppb), clipboard, tile_pixels / ppb);
}

EMSCRIPTEN_KEEPALIVE const uint8_t *core_render_tile(int tile, int cga, int dungeon,
                                                     int mirror_room, int remake_water)
{
    render_tile(tile_buffer, mode_of(cga), {dungeon != 0, mirror_room != 0, remake_water != 0}, tile);
    return canvas;
}

EMSCRIPTEN_KEEPALIVE uint32_t core_sheet_width() { return last_width; }
EMSCRIPTEN_KEEPALIVE uint32_t core_sheet_height() { return last_height; }

}  // extern "C"
