// The tile core on its own, in both modes: edits of the stored tiles, the
// tiles an edit redraws, one tile rendered alone, packing a picture back,
// and the rule that lays a transparent sheet on black.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "tiles.h"

namespace {

using bytes = std::vector<uint8_t>;

const tile_mode *const modes[] = {&ega_mode, &cga_mode};

bytes random_tiles(const tile_mode &mode, unsigned seed)
{
    std::mt19937 random(seed);
    bytes tiles(tile_buffer_bytes);
    std::generate_n(tiles.begin(), tile_file_bytes(mode.pixels_per_byte), [&] { return random(); });
    return tiles;
}

// Tile `tile` as the canvas shows it drawn without any option, row by row.
bytes drawn(const bytes &tiles, const tile_mode &mode, int32_t tile)
{
    render_sheet(tiles.data(), mode, {.remake_water = false});
    bytes out;
    for (int32_t y = 0; y < tile_size; ++y)
        for (int32_t x = 0; x < tile_size; ++x)
            out.push_back(canvas[(tile_top(tile) + y) * canvas_width + tile_left(tile) + x]);
    return out;
}

// Each tile's stored bytes, for telling which tiles an action changed.
std::set<int32_t> changed_tiles(const bytes &before, const bytes &after, const tile_mode &mode)
{
    std::set<int32_t> tiles;
    const int32_t size = tile_bytes_of(mode.pixels_per_byte);
    for (int32_t t = 0; t < tile_count; ++t)
        if (!std::equal(&before[t * size], &before[(t + 1) * size], &after[t * size])) tiles.insert(t);
    return tiles;
}

// A pixel set by set_tile_pixel is the pixel that drawing shows, and no
// other pixel or tile moves.
TEST(tiles, set_pixel_is_what_drawing_shows)
{
    for (const tile_mode *mode : modes) {
        bytes tiles = random_tiles(*mode, 1);
        const bytes before = tiles;
        const auto value = [&](int32_t y, int32_t x) { return static_cast<uint8_t>((y * 7 + x * 3) % color_count(mode->pixels_per_byte)); };
        for (int32_t y = 0; y < tile_size; ++y)
            for (int32_t x = 0; x < tile_size; ++x) set_tile_pixel(tiles.data(), 300, y, x, mode->pixels_per_byte, value(y, x));
        const bytes shown = drawn(tiles, *mode, 300);
        for (int32_t y = 0; y < tile_size; ++y)
            for (int32_t x = 0; x < tile_size; ++x) {
                EXPECT_EQ(shown[y * tile_size + x], value(y, x)) << y << ' ' << x;
                EXPECT_EQ(tile_pixel(tiles.data(), 300, y, x, mode->pixels_per_byte), value(y, x));
            }
        EXPECT_EQ(changed_tiles(before, tiles, *mode), std::set<int32_t>{300});
    }
}

// A fill takes the 4-connected area of one colour: it stops at a bar and
// does not leak through a diagonal gap.
TEST(tiles, fill_stays_within_its_area)
{
    for (const tile_mode *mode : modes) {
        const int32_t ppb = mode->pixels_per_byte;
        bytes tiles(tile_buffer_bytes);
        for (int32_t y = 0; y < tile_size; ++y) set_tile_pixel(tiles.data(), 40, y, 8, ppb, 1);  // a bar at x 8
        set_tile_pixel(tiles.data(), 40, 0, 1, ppb, 1);  // (0, 0) touches (1, 1) only at a corner
        set_tile_pixel(tiles.data(), 40, 1, 0, ppb, 1);
        const bytes before = tiles;
        fill_tile(tiles.data(), 40, 5, 3, ppb, 2);
        for (int32_t y = 0; y < tile_size; ++y)
            for (int32_t x = 0; x < tile_size; ++x) {
                const uint8_t was = tile_pixel(before.data(), 40, y, x, ppb);
                const bool inside = x < 8 && was == 0 && !(y == 0 && x == 0);
                EXPECT_EQ(tile_pixel(tiles.data(), 40, y, x, ppb), inside ? 2 : was) << y << ' ' << x;
            }
        EXPECT_EQ(changed_tiles(before, tiles, *mode), std::set<int32_t>{40});
        const bytes filled = tiles;
        fill_tile(tiles.data(), 40, 5, 3, ppb, 2);  // the same colour again changes nothing
        EXPECT_EQ(tiles, filled);
    }
}

TEST(tiles, flips_mirror_one_tile)
{
    for (const tile_mode *mode : modes)
        for (bool horizontally : {true, false}) {
            const int32_t ppb = mode->pixels_per_byte;
            bytes tiles = random_tiles(*mode, 2);
            const bytes before = tiles;
            flip_tile(tiles.data(), 77, ppb, horizontally);
            for (int32_t y = 0; y < tile_size; ++y)
                for (int32_t x = 0; x < tile_size; ++x) {
                    const int32_t my = horizontally ? y : tile_size - 1 - y, mx = horizontally ? tile_size - 1 - x : x;
                    EXPECT_EQ(tile_pixel(tiles.data(), 77, y, x, ppb), tile_pixel(before.data(), 77, my, mx, ppb));
                }
            EXPECT_EQ(changed_tiles(before, tiles, *mode), std::set<int32_t>{77});
        }
}

// Swaps and pastes move whole tiles and touch nothing else: in CGA mode a
// tile is 64 bytes, not the 128 of EGA.
TEST(tiles, swap_and_paste_move_whole_tiles)
{
    for (const tile_mode *mode : modes) {
        const int32_t ppb = mode->pixels_per_byte;
        bytes tiles = random_tiles(*mode, 3);
        const bytes before = tiles;
        swap_tiles(tiles.data(), 5, 510, ppb);
        EXPECT_EQ(drawn(tiles, *mode, 5), drawn(before, *mode, 510));
        EXPECT_EQ(drawn(tiles, *mode, 510), drawn(before, *mode, 5));
        EXPECT_EQ(changed_tiles(before, tiles, *mode), (std::set<int32_t>{5, 510}));

        uint8_t clipboard[tile_bytes_of(2)];
        copy_tile(before.data(), 9, ppb, clipboard);
        tiles = before;
        paste_tile(tiles.data(), 200, ppb, clipboard);
        EXPECT_EQ(drawn(tiles, *mode, 200), drawn(before, *mode, 9));
        EXPECT_EQ(changed_tiles(before, tiles, *mode), std::set<int32_t>{200});
    }
}

// Whether tile `t` of the canvas differs from the same tile of `sheet`.
bool tile_differs(const bytes &sheet, int32_t t)
{
    for (int32_t y = 0; y < tile_size; ++y) {
        const int32_t at = (tile_top(t) + y) * canvas_width + tile_left(t);
        if (std::memcmp(&sheet[at], &canvas[at], tile_size) != 0) return true;
    }
    return false;
}

// Two tile files differ in the tiles and pixels that edits touched, and only
// in the mode's own bytes: a CGA file is half the buffer.
TEST(tiles, comparing_counts_the_tiles_and_pixels_that_differ)
{
    for (const tile_mode *mode : modes) {
        const int32_t ppb = mode->pixels_per_byte;
        const bytes a = random_tiles(*mode, 8);
        bytes b = a;
        set_tile_pixel(b.data(), 0, 0, 0, ppb, static_cast<uint8_t>(tile_pixel(a.data(), 0, 0, 0, ppb) ^ 1));
        set_tile_pixel(b.data(), 511, 15, 15, ppb, static_cast<uint8_t>(tile_pixel(a.data(), 511, 15, 15, ppb) ^ 2));
        set_tile_pixel(b.data(), 511, 15, 14, ppb, static_cast<uint8_t>(tile_pixel(a.data(), 511, 15, 14, ppb) ^ 1));
        b[40000] ^= 0xFF;  // two pixels of EGA tile 312, past the end of a CGA file
        uint8_t changed[tile_count];
        uint32_t pixels = 0;
        const bool cga = mode == &cga_mode;
        EXPECT_EQ(compare_tiles(a.data(), b.data(), ppb, changed, &pixels), 2 + !cga);
        EXPECT_EQ(pixels, cga ? 3u : 5u);
        EXPECT_EQ(std::count(changed, changed + tile_count, 1), 2 + !cga);
        EXPECT_TRUE(changed[0] && changed[511]);
    }
}

// After any tile changes, only the tiles that tiles_drawn_from names show
// anything new, with every option on; the water tiles are among them.
TEST(tiles, an_edit_redraws_the_tiles_drawn_from_it)
{
    const tile_mode &mode = ega_mode;
    const sheet_options all = {.dungeon = true, .mirror_room = true, .remake_water = true};
    bytes tiles = random_tiles(mode, 4);
    render_sheet(tiles.data(), mode, all);
    const bytes before(canvas, canvas + canvas_bytes);
    int32_t listed[tile_count];
    for (int32_t tile = 0; tile < tile_count; ++tile) {
        uint8_t *stored = tile_bytes(tiles.data(), tile, mode.pixels_per_byte);
        for (int32_t i = 0; i < tile_bytes_of(mode.pixels_per_byte); ++i) stored[i] ^= 0x5A;
        render_sheet(tiles.data(), mode, all);
        const std::set<int32_t> redrawn(listed, listed + tiles_drawn_from(tile, listed));
        for (int32_t t = 0; t < tile_count; ++t)
            EXPECT_TRUE(!tile_differs(before, t) || redrawn.count(t)) << "tile " << t << " after an edit of " << tile;
        for (int32_t i = 0; i < tile_bytes_of(mode.pixels_per_byte); ++i) stored[i] ^= 0x5A;
    }
    EXPECT_EQ(tiles_drawn_from(plain_water_tile, listed), 25);  // tile 3 and the 24 water tiles
    EXPECT_EQ(std::set<int32_t>(listed, listed + tiles_drawn_from(208, listed)), (std::set<int32_t>{208, 52, 228}));
}

// render_tile draws one tile as render_sheet draws it, for every option set.
TEST(tiles, one_tile_renders_as_in_the_sheet)
{
    for (const tile_mode *mode : modes)
        for (int options = 0; options < 8; ++options) {
            const sheet_options set = {.dungeon = (options & 1) != 0, .mirror_room = (options & 2) != 0,
                                       .remake_water = (options & 4) != 0};
            const bytes tiles = random_tiles(*mode, 5 + options);
            render_sheet(tiles.data(), *mode, set);
            const bytes sheet(canvas, canvas + canvas_bytes);
            std::memset(canvas, 0xEE, canvas_bytes);
            for (int32_t tile = 0; tile < tile_count; ++tile) render_tile(tiles.data(), *mode, set, tile);
            EXPECT_TRUE(std::equal(sheet.begin(), sheet.end(), canvas)) << mode->pixels_per_byte << ' ' << options;
        }
}

// Each cell of a scene shows its tile as the sheet does; a number past the
// sheet shows tile 0.
TEST(tiles, a_scene_shows_each_tile_as_the_sheet_does)
{
    const bytes tiles = random_tiles(ega_mode, 7);
    render_sheet(tiles.data(), ega_mode, {.dungeon = true});
    const uint16_t cells[3 * 2] = {0, 511, 17, 52, 300, 512};
    bytes scene(3 * 2 * tile_pixels);
    draw_scene(canvas, cells, 3, 2, scene.data());
    for (int32_t cell = 0; cell < 6; ++cell)
        for (int32_t y = 0; y < tile_size; ++y)
            for (int32_t x = 0; x < tile_size; ++x) {
                const int32_t tile = cell == 5 ? 0 : cells[cell];
                const int32_t at = (cell / 3 * tile_size + y) * 3 * tile_size + cell % 3 * tile_size + x;
                ASSERT_EQ(scene[at], canvas[(tile_top(tile) + y) * canvas_width + tile_left(tile) + x]) << cell;
            }
}

// A sheet drawn without remaking packs back into its tile file, from 4 bits
// with the mode's palette or from 24 bits with colours a little off, which
// are counted; a wrong size or a bit count the converter refuses leaves the
// tiles alone.
TEST(tiles, pictures_pack_back_into_tiles)
{
    for (const tile_mode *mode : modes) {
        const bytes tiles = random_tiles(*mode, 6);
        render_sheet(tiles.data(), *mode, {.remake_water = false});
        bitmap_header header;
        init_bitmap_header(&header, canvas_width, canvas_height, 4);
        bytes packed(tile_buffer_bytes, 0xA5);
        uint32_t changed = 99;
        EXPECT_EQ(pack_picture(header, mode->palette, canvas, *mode, packed.data(), &changed), 0);
        EXPECT_EQ(changed, 0u);
        EXPECT_TRUE(std::equal(packed.begin(), packed.begin() + tile_file_bytes(mode->pixels_per_byte), tiles.begin()));

        bytes bgr(canvas_bytes * 3);
        for (uint32_t i = 0; i < canvas_bytes; ++i) {
            const palette_entry &e = mode->palette[canvas[i]];
            const uint8_t off = i % 5 == 0 ? 9 : 0;  // every fifth pixel off by 9 in green
            bgr[3 * i] = e.blue, bgr[3 * i + 1] = static_cast<uint8_t>(e.green < 128 ? e.green + off : e.green - off), bgr[3 * i + 2] = e.red;
        }
        init_bitmap_header(&header, canvas_width, canvas_height, 24);
        std::fill(packed.begin(), packed.end(), 0xA5);
        EXPECT_EQ(pack_picture(header, nullptr, bgr.data(), *mode, packed.data(), &changed), 0);
        EXPECT_EQ(changed, (canvas_bytes + 4) / 5);
        EXPECT_TRUE(std::equal(packed.begin(), packed.begin() + tile_file_bytes(mode->pixels_per_byte), tiles.begin()));

        const bytes untouched(tile_buffer_bytes, 0xA5);
        std::fill(packed.begin(), packed.end(), 0xA5);
        init_bitmap_header(&header, canvas_width, canvas_height - 1, 24);
        EXPECT_EQ(pack_picture(header, nullptr, bgr.data(), *mode, packed.data(), &changed), wrong_sheet_size);
        init_bitmap_header(&header, canvas_width, canvas_height, 24);
        header.bit_count = 2;
        EXPECT_EQ(pack_picture(header, nullptr, bgr.data(), *mode, packed.data(), &changed), -1);
        EXPECT_EQ(packed, untouched);
    }
}

// Each channel becomes (value x alpha + 127) / 255: rounded to nearest, so
// an opaque pixel keeps its colour and a transparent one is black. RGBA in,
// blue, green, red out.
TEST(tiles, transparency_lays_on_black_rounding_to_nearest)
{
    std::vector<uint8_t> rgba, bgr(256 * 256 * 3);
    for (int value = 0; value < 256; ++value)
        for (int alpha = 0; alpha < 256; ++alpha)
            rgba.insert(rgba.end(), {static_cast<uint8_t>(value), static_cast<uint8_t>(255 - value), 7, static_cast<uint8_t>(alpha)});
    composite_on_black(rgba.data(), 256 * 256, bgr.data());
    const auto on_black = [](int value, int alpha) { return std::lround(value * alpha / 255.0); };
    for (int value = 0; value < 256; ++value)
        for (int alpha = 0; alpha < 256; ++alpha) {
            const uint8_t *out = &bgr[3 * (value * 256 + alpha)];
            ASSERT_EQ(out[2], on_black(value, alpha)) << value << ' ' << alpha;
            ASSERT_EQ(out[1], on_black(255 - value, alpha)) << value << ' ' << alpha;
            ASSERT_EQ(out[0], on_black(7, alpha)) << value << ' ' << alpha;
        }
}

}  // namespace
