// The page's entry points into the core: plain byte buffers in and out,
// results by sign, and nothing here that the programs do not share. The page
// copies a file into a buffer, calls one of these, and reads the result out;
// what the core prints (its refusals and reports) the page shows.
#include <emscripten.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap.h"
#include "patches.h"
#include "sample_tiles.h"
#include "tiles.h"

namespace {

uint8_t tile_buffer[tile_buffer_bytes];
uint8_t sample_cga[tile_file_bytes(4)];
// A written sheet: header, palette and rows, the same bytes qelega_shapes
// writes, and a byte more for the NUL that the C library's fmemopen keeps.
uint8_t bitmap_file[54 + 16 * 4 + canvas_bytes / 2 + 1];
uint8_t clipboard[tile_bytes_of(2)];  // one copied tile, as stored
int32_t drawn_from[tile_count];      // the last answer of core_tiles_drawn_from
constexpr int32_t max_scene_side = max_scene_tiles * tile_size;
uint8_t scene_picture[max_scene_side * max_scene_side];
uint32_t rgba_picture[max_scene_side * max_scene_side];  // the last answer of core_rgba
uint8_t changed_tiles[tile_count];  // the last answer of core_compare_tiles
uint32_t changed_pixels;
uint8_t *made = nullptr;  // the last patch or patched file, for the page to copy out
size_t made_size = 0;

const tile_mode &mode_of(int cga) { return cga != 0 ? cga_mode : ega_mode; }

sheet_options options_of(int dungeon, int mirror_room, int remake_water)
{
    return {dungeon != 0, mirror_room != 0, remake_water != 0};
}

// Packs into a scratch buffer first, so that a refused sheet leaves the
// current tile file as it was. The pixels changed, or negative.
int pack_into_tiles(const bitmap_header &header, const palette_entry *palette,
                    const uint8_t *pixels, int cga, const char *name)
{
    static uint8_t packed[tile_buffer_bytes];
    uint32_t changed = 0;
    const int result = pack_picture(header, palette, pixels, mode_of(cga), packed, &changed);
    if (result == wrong_sheet_size) print_wrong_sheet_size(header.width, header.height, name);
    if (result < 0) return result;
    std::memcpy(tile_buffer, packed, tile_file_bytes(mode_of(cga).pixels_per_byte));
    if (changed != 0) print_changed_pixels(changed, nullptr);
    return static_cast<int>(changed);
}

// Keeps what the patches module made until the next call.
int keep_made(int result, uint8_t *buffer, size_t size)
{
    std::free(made);
    made = buffer;
    made_size = size;
    return result;
}

}  // namespace

extern "C" {

// The sheet's geometry and the modes' facts, as the core defines them.
EMSCRIPTEN_KEEPALIVE int core_canvas_width() { return canvas_width; }
EMSCRIPTEN_KEEPALIVE int core_canvas_height() { return canvas_height; }
EMSCRIPTEN_KEEPALIVE int core_tile_size() { return tile_size; }
EMSCRIPTEN_KEEPALIVE int core_sheet_columns() { return sheet_columns; }
EMSCRIPTEN_KEEPALIVE int core_tile_count() { return tile_count; }
EMSCRIPTEN_KEEPALIVE int core_tile_left(int tile) { return tile_left(tile); }
EMSCRIPTEN_KEEPALIVE int core_tile_top(int tile) { return tile_top(tile); }
EMSCRIPTEN_KEEPALIVE int core_tile_at(int x, int y) { return tile_at(x, y); }

EMSCRIPTEN_KEEPALIVE int core_tile_file_bytes(int cga)
{
    return static_cast<int>(tile_file_bytes(mode_of(cga).pixels_per_byte));
}

EMSCRIPTEN_KEEPALIVE int core_color_count(int cga) { return color_count(mode_of(cga).pixels_per_byte); }
EMSCRIPTEN_KEEPALIVE const char *core_color_name(int index, int cga) { return mode_of(cga).color_names[index]; }
EMSCRIPTEN_KEEPALIVE const palette_entry *core_palette(int cga) { return mode_of(cga).palette; }
EMSCRIPTEN_KEEPALIVE int core_wrong_sheet_size() { return wrong_sheet_size; }
EMSCRIPTEN_KEEPALIVE int core_max_scene_tiles() { return max_scene_tiles; }

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

// The tiles to redraw after an edit of `tile`, at core_drawn_from(); their count.
EMSCRIPTEN_KEEPALIVE int core_tiles_drawn_from(int tile) { return tiles_drawn_from(tile, drawn_from); }
EMSCRIPTEN_KEEPALIVE const int32_t *core_drawn_from() { return drawn_from; }

// Buffers for the page to copy into; at least one byte, since malloc(0) may
// answer null, which is no shortage of memory.
EMSCRIPTEN_KEEPALIVE uint8_t *core_alloc(int size)
{
    return size >= 0 ? static_cast<uint8_t *>(std::malloc(size > 0 ? static_cast<size_t>(size) : 1)) : nullptr;
}

EMSCRIPTEN_KEEPALIVE void core_free(uint8_t *buffer) { std::free(buffer); }

// ---- the tile file and the sheet

EMSCRIPTEN_KEEPALIVE uint8_t *core_tiles() { return tile_buffer; }

EMSCRIPTEN_KEEPALIVE void core_load_sample() { make_sample_tiles(tile_buffer, sample_cga); }

EMSCRIPTEN_KEEPALIVE const uint8_t *core_render(int cga, int dungeon, int mirror_room,
                                                int remake_water)
{
    render_sheet(tile_buffer, mode_of(cga), options_of(dungeon, mirror_room, remake_water));
    return canvas;
}

EMSCRIPTEN_KEEPALIVE const uint8_t *core_render_tile(int tile, int cga, int dungeon,
                                                     int mirror_room, int remake_water)
{
    render_tile(tile_buffer, mode_of(cga), options_of(dungeon, mirror_room, remake_water), tile);
    return canvas;
}

// The scene's picture from the sheet as last rendered; null for a size out of range.
EMSCRIPTEN_KEEPALIVE const uint8_t *core_draw_scene(const uint16_t *cells, int columns, int rows)
{
    if (columns < 1 || rows < 1 || columns > max_scene_tiles || rows > max_scene_tiles) return nullptr;
    draw_scene(canvas, cells, columns, rows, scene_picture);
    return scene_picture;
}

// Palette indices (the low four bits of each byte) as the canvas's RGBA
// words through `words`, 16 of them: a large picture's colours without a loop
// in JavaScript, which is slow until it is compiled. Null when too large.
EMSCRIPTEN_KEEPALIVE const uint32_t *core_rgba(const uint8_t *indices, int count, const uint32_t *words)
{
    if (count < 0 || static_cast<size_t>(count) > sizeof rgba_picture / sizeof rgba_picture[0]) return nullptr;
    for (int i = 0; i < count; ++i) rgba_picture[i] = words[indices[i] & 15];
    return rgba_picture;
}

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

// ---- packing an edited sheet

// 1 for BMP, 2 for PNG; 0 after printing that it is neither.
EMSCRIPTEN_KEEPALIVE int core_sheet_format(const uint8_t *head, int length, const char *name)
{
    const sheet_format format = sheet_format_of(head, static_cast<size_t>(length));
    if (format == sheet_format::unknown) print_not_a_sheet(name);
    return static_cast<int>(format);
}

// 0, or wrong_sheet_size after saying so: a PNG's size is looked at before
// its pixels are decoded.
EMSCRIPTEN_KEEPALIVE int core_check_sheet_size(uint32_t width, uint32_t height, const char *name)
{
    if (is_sheet_size(width, height)) return 0;
    print_wrong_sheet_size(width, height, name);
    return wrong_sheet_size;
}

// An edited sheet saved as BMP, read as qelega_pack reads it. The pixels
// changed to the nearest palette colour, or negative when refused.
EMSCRIPTEN_KEEPALIVE int core_pack_bitmap(uint8_t *file, int size, int cga, const char *name)
{
    FILE *stream = fmemopen(file, static_cast<size_t>(size), "rb");
    if (stream == nullptr) return -1;
    bitmap_header header{};
    palette_entry *palette = nullptr;
    uint8_t *pixels = nullptr;
    int result = read_bitmap_lenient(stream, &header, &palette, &pixels);
    std::fclose(stream);
    if (result >= 0) result = pack_into_tiles(header, palette, pixels, cga, name);
    std::free(palette);
    std::free(pixels);
    return result;
}

// A PNG sheet as the page decoded it: straight 8-bit RGBA, top-down, laid on
// black by the rule qelega_pack uses.
EMSCRIPTEN_KEEPALIVE int core_pack_rgba(const uint8_t *rgba, uint32_t width, uint32_t height, int cga,
                                        const char *name)
{
    if (core_check_sheet_size(width, height, name) < 0) return wrong_sheet_size;
    static uint8_t bgr[canvas_bytes * 3];
    composite_on_black(rgba, canvas_bytes, bgr);
    bitmap_header header;
    init_bitmap_header(&header, canvas_width, canvas_height, 24);
    return pack_into_tiles(header, nullptr, bgr, cga, name);
}

// ---- patches and what changed

// The tiles that differ from `original` (the file as loaded): their count,
// with a flag a tile at core_changed_tiles() and the pixels at core_changed_pixels().
EMSCRIPTEN_KEEPALIVE int core_compare_tiles(const uint8_t *original, int cga)
{
    return compare_tiles(original, tile_buffer, mode_of(cga).pixels_per_byte, changed_tiles, &changed_pixels);
}

EMSCRIPTEN_KEEPALIVE const uint8_t *core_changed_tiles() { return changed_tiles; }
EMSCRIPTEN_KEEPALIVE uint32_t core_changed_pixels() { return changed_pixels; }

EMSCRIPTEN_KEEPALIVE int core_patch_bps() { return patch_bps; }
EMSCRIPTEN_KEEPALIVE int core_patch_ips() { return patch_ips; }
EMSCRIPTEN_KEEPALIVE int core_patch_format_of(const uint8_t *head, int length)
{
    return patch_format_of(head, static_cast<size_t>(length));
}

// The patch from `original` to the tile file as it is now, at core_made(): a
// result of create_patch.
EMSCRIPTEN_KEEPALIVE int core_create_patch(int format, const uint8_t *original, int original_size, int cga)
{
    uint8_t *patch = nullptr;
    size_t size = 0;
    const int result = create_patch(static_cast<patch_format>(format), original, static_cast<size_t>(original_size),
                                    tile_buffer, tile_file_bytes(mode_of(cga).pixels_per_byte), &patch, &size);
    return keep_made(result, patch, size);
}

// A patch applied to the tile file as it is now; the file it makes at
// core_made(), which the page checks before it takes it. A result of apply_patch.
EMSCRIPTEN_KEEPALIVE int core_apply_patch(const uint8_t *patch, int size, int cga)
{
    uint8_t *file = nullptr;
    size_t file_size = 0;
    const int result = apply_patch(patch, static_cast<size_t>(size), tile_buffer,
                                   tile_file_bytes(mode_of(cga).pixels_per_byte), &file, &file_size);
    return keep_made(result, file, file_size);
}

EMSCRIPTEN_KEEPALIVE const uint8_t *core_made() { return made; }
EMSCRIPTEN_KEEPALIVE int core_made_size() { return static_cast<int>(made_size); }

// ---- edits of the stored tiles, for the page's editor

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
    copy_tile(tile_buffer, tile, mode_of(cga).pixels_per_byte, clipboard);
}

EMSCRIPTEN_KEEPALIVE void core_paste_tile(int tile, int cga)
{
    paste_tile(tile_buffer, tile, mode_of(cga).pixels_per_byte, clipboard);
}

}  // extern "C"
