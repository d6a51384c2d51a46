// Converter tests: every pairing of bit counts with colours that expose
// swapped channels, wrong shifts and wrong byte order; refusals and buffer
// handling; the library's nearest-colour search against a plain one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "bitmap.h"
#include "test_switch.h"
#include "test_support.h"

namespace {

using qtest::bytes;
using palette = std::vector<palette_entry>;
constexpr int bit_counts[] = {1, 4, 8, 16, 24, 32};

// Colours A, B, A at each of bit_counts: indices into test_palette, then 16,
// 24 and 32 bits. 16 bits hold both exactly; the fourth bytes are set.
const bytes pictures[] = {{1, 0, 1}, {5, 12, 5}, {200, 37, 200}, {0x99, 0x19, 0x83, 0x7A, 0x99, 0x19},
                          {206, 99, 49, 24, 165, 247, 206, 99, 49},
                          {206, 99, 49, 0x5A, 24, 165, 247, 0x5A, 206, 99, 49, 0x5A}};
// What every conversion to 32 bits but the copy gives.
const bytes written32 = {206, 99, 49, 0, 24, 165, 247, 0, 206, 99, 49, 0};

// A and B at the indices of the pictures, a third colour elsewhere; none above 8 bits.
palette test_palette(int format)
{
    palette p(format > 2 ? 0 : size_t{1} << bit_counts[format], palette_entry{10, 20, 30, 0});
    if (format <= 2) p[pictures[format][0]] = {206, 99, 49, 0}, p[pictures[format][1]] = {24, 165, 247, 0};
    return p;
}

// Converts one row twice: into a buffer of the converter's own, and into a
// caller's with a byte to spare, which must be used in place and to its size.
bytes convert(int from, const palette_entry *fp, const bytes &in, int to, const palette_entry *tp,
              int result = 0)
{
    const size_t width = in.size() / ((from + 7) / 8), size = width * ((to + 7) / 8);
    bytes mine(size + 1, 0xEE);
    uint8_t *out = nullptr, *own = mine.data();
    EXPECT_EQ(convert_bitmap_pixels(int(width), 1, from, fp, in.data(), to, tp, &out), result);
    EXPECT_EQ(convert_bitmap_pixels(int(width), 1, from, fp, in.data(), to, tp, &own), result);
    EXPECT_EQ(mine.back(), 0xEE);
    mine.pop_back();
    EXPECT_EQ(bytes(out, out + (out != nullptr ? size : 0)), mine);
    std::free(out);
    return mine;
}

// Without palettes but at 4 bits, so a 1-bit side is black and white. Stray
// index bytes count as the writer takes them: any nonzero 1-bit byte is set,
// a 4-bit byte keeps its low four bits. Bit 15 of a 16-bit word is ignored
// but copied.
const struct { int from; bytes in; int to; bytes out; } worked_cases[] = {
    {24, {200, 100, 50}, 16, {0x99, 0x19}},
    {16, {0xFF, 0x7F, 0x00, 0x80}, 24, {255, 255, 255, 0, 0, 0}},
    {16, {0x99, 0x99}, 16, {0x99, 0x99}},
    {1, {0, 1, 2, 255}, 24, {0, 0, 0, 255, 255, 255, 255, 255, 255, 255, 255, 255}},
    {24, {0, 0, 0, 128, 128, 127, 127, 127, 128}, 1, {0, 1, 0}},
    {4, {0x15, 0xFC}, 24, {206, 99, 49, 24, 165, 247}}};

TEST(converter, every_pairing_keeps_both_colors_there_and_back)
{
    for (int a = 0; a < 6; ++a)
        for (int b = 0; b < 6; ++b) {
            SCOPED_TRACE(testing::Message() << bit_counts[a] << " -> " << bit_counts[b]);
            const palette pa = test_palette(a), pb = test_palette(b);
            const bytes out = convert(bit_counts[a], pa.data(), pictures[a], bit_counts[b], pb.data());
            EXPECT_EQ(out, b == 5 && a != 5 ? written32 : pictures[b]);
            EXPECT_EQ(convert(bit_counts[b], pb.data(), out, bit_counts[a], pa.data()),
                      a == 5 && b != 5 ? written32 : pictures[a]);
        }
    for (const auto &c : worked_cases)
        EXPECT_EQ(convert(c.from, c.from == 4 ? test_palette(1).data() : nullptr, c.in, c.to, nullptr),
                  c.out) << c.from << " -> " << c.to;
}

TEST(converter, refusals_and_buffers)
{
    const bytes in(3, 1);  // three 8-bit pixels
    const palette p = test_palette(2);
    uint8_t *out = nullptr;
    // Null pointers and sizes out of range: refused before anything is allocated.
    EXPECT_EQ(convert_bitmap_pixels(1, 1, 8, p.data(), nullptr, 24, nullptr, &out), -1);
    EXPECT_EQ(convert_bitmap_pixels(1, 1, 8, p.data(), in.data(), 24, nullptr, nullptr), -1);
    for (const auto &[width, height] : {std::pair{-1, 2}, std::pair{2, -1}, std::pair{32768, 32768}})
        EXPECT_EQ(convert_bitmap_pixels(width, height, 8, p.data(), in.data(), 16, nullptr, &out), -1);
    EXPECT_EQ(out, nullptr);
    // Bit counts and palettes are refused after the buffer is obtained and cleared.
    EXPECT_EQ(convert(4, nullptr, in, 32, nullptr, -1), bytes(12, 0));
    EXPECT_EQ(convert(8, p.data(), in, 8, nullptr, -1), bytes(3, 0));
    EXPECT_EQ(convert(2, p.data(), in, 24, nullptr, -1), bytes(9, 0));
    EXPECT_EQ(convert(8, p.data(), in, 2, nullptr, -1), bytes(3, 0));
    EXPECT_EQ(convert(32, nullptr, in, 8, p.data()), bytes{});  // 3 bytes: no whole pixel, width 0
}

// Through the whole library: a 24-bit file read, converted to 8 bits, written
// and read back gives the indices and the palette it was converted to.
TEST(converter, read_convert_write_read)
{
    const palette p = test_palette(2);
    bitmap_header h;
    ASSERT_EQ(init_bitmap_header(&h, 3, 1, 24), 0);
    FILE *first = std::tmpfile(), *second = std::tmpfile();
    ASSERT_EQ(write_bitmap(first, &h, nullptr, pictures[4].data()), 0);
    std::rewind(first);
    uint8_t *direct = nullptr, *indexed = nullptr, *again = nullptr;
    palette_entry *read_back = nullptr;
    EXPECT_EQ(read_bitmap(first, &h, nullptr, &direct, 0), 0);
    EXPECT_EQ(convert_bitmap_pixels(3, 1, 24, nullptr, direct, 8, p.data(), &indexed), 0);
    ASSERT_EQ(init_bitmap_header(&h, 3, 1, 8), 0);
    EXPECT_EQ(write_bitmap(second, &h, p.data(), indexed), 0);
    std::rewind(second);
    EXPECT_EQ(read_bitmap(second, &h, &read_back, &again, 0), 0);
    EXPECT_EQ(bytes(again, again + 3), pictures[2]);
    EXPECT_EQ(std::memcmp(read_back, p.data(), p.size() * sizeof(palette_entry)), 0);
    for (void *buffer : {(void *)direct, (void *)indexed, (void *)again, (void *)read_back}) std::free(buffer);
    std::fclose(first), std::fclose(second);
}

// Each search; the library's own choice as on processors without AVX-512
// VNNI or a fast pext; the cell table without its blocks of answers, and
// with room for only a few.
const test_switch::forced_paths searches[] = {
    {.nearest = test_switch::search::automatic, .avx2_brute = true, .no_pext = true},
    {.nearest = test_switch::search::cached},
    {.nearest = test_switch::search::brute},
    {.nearest = test_switch::search::cells},
    {.nearest = test_switch::search::cells, .no_answers = true},
    {.nearest = test_switch::search::cells, .few_answers = true},
};

// The plain search: the first of the nearest entries.
uint8_t plain_nearest(const uint8_t *bgr, const palette &p)
{
    const auto square = [](int v) { return v * v; };
    int d[256];
    for (size_t i = 0; i < p.size(); ++i)
        d[i] = square(p[i].blue - bgr[0]) + square(p[i].green - bgr[1]) + square(p[i].red - bgr[2]);
    return uint8_t(std::min_element(d, d + p.size()) - d);
}

// Each search against the plain one, with enough pixels that the library
// uses its own wherever it would, and enough colours that answers share
// slots of the cached search's table. 16-bit pictures hold every colour
// twice, the second time with bit 15 set; others, a count that leaves
// tails to the SIMD loops, put channels on the edges of the 8- and 16-wide
// cells or anywhere, often repeating the pixel before. Palettes: anywhere;
// few levels (repeats and ties); huddled in the middle, which leaves most
// cells far from all; huddled by white, so that dark colours are beyond a
// byte's reach of every entry, and the brute force takes over the cells.
TEST(converter, every_search_matches_the_plain_one)
{
    using test_switch::search;
    std::mt19937 rng(1234);
    const auto channel = [&rng] { return uint8_t(rng() & 1 ? rng() : rng() % 32 * 8 + 7 * (rng() & 1)); };
    const auto entry_channel = [&](int kind) {
        const uint8_t from[] = {channel(), uint8_t(rng() % 4 * 85), uint8_t(120 + rng() % 9), uint8_t(200 + rng() % 56)};
        return from[kind];
    };
    EXPECT_EQ(find_nearest_color(9, 9, 9, nullptr, 0), 0);
    for (const test_switch::forced_paths &way : searches)
        for (int from : {8, 16, 24, 32})
            for (int to : {1, 4, 8})
                for (int kind = 0; kind < 4; ++kind) {
                    SCOPED_TRACE(testing::Message() << "search " << int(way.nearest) << (way.no_answers ? " by cells" : way.few_answers ? " few answers" : "") << ", " << from << " -> " << to << " kind " << kind);
                    palette sp(256), dp(size_t{1} << to);
                    for (palette *p : {&sp, &dp})
                        for (palette_entry &e : *p)
                            for (uint8_t *c : {&e.blue, &e.green, &e.red}) *c = entry_channel(p == &sp ? 0 : kind);
                    bytes plain(from == 16 ? 65536 : 16384 + 23), in(plain.size() * from / 8);
                    for (size_t i = 0; i < in.size(); ++i)
                        in[i] = from == 16 ? uint8_t((i / 4 | i / 2 % 2 << 15) >> i % 2 * 8)
                                : i >= 4 && rng() % 2 ? in[i - from / 8] : channel();
                    const bytes bgr = convert(from, sp.data(), in, 24, nullptr);
                    for (size_t i = 0; i < plain.size(); ++i) plain[i] = plain_nearest(&bgr[3 * i], dp);
                    test_switch::force = way;
                    EXPECT_EQ(convert(from, sp.data(), in, to, dp.data()), plain);
                    test_switch::force = {};
                }
}

// Ties on a cell's bound, on every search: a colour at the top corner of its
// cells and blocks of every size is as near to entry `below` (inside, at
// least 8 lower on each channel) as to entry `above` (its mirror outside),
// and `above` comes first. There, `above`'s nearest distance to the cell is
// exactly the farthest of `below`'s, the bound that decides which entries a
// cell keeps: keeping only those strictly within it loses the answer. The
// other entries are white, far from all of it, and repeat `below`.
TEST(converter, ties_on_a_cell_bound_keep_the_lower_index)
{
    using test_switch::search;
    const struct { uint8_t corner; uint8_t offset[3]; int above, below, entries; } cases[] = {
        {.corner = 15, .offset = {15, 15, 15}, .above = 4, .below = 7, .entries = 16},
        {.corner = 15, .offset = {8, 12, 15}, .above = 0, .below = 1, .entries = 256},
        {.corner = 63, .offset = {9, 8, 14}, .above = 37, .below = 200, .entries = 256},
        {.corner = 111, .offset = {15, 8, 8}, .above = 100, .below = 101, .entries = 256},
    };
    for (const auto &c : cases) {
        palette p(size_t(c.entries), palette_entry{255, 255, 255, 0});
        for (int i = c.below; i < c.entries; i += 17) p[size_t(i)] = {uint8_t(c.corner - c.offset[0]), uint8_t(c.corner - c.offset[1]), uint8_t(c.corner - c.offset[2]), 0};
        p[size_t(c.above)] = {uint8_t(c.corner + c.offset[0]), uint8_t(c.corner + c.offset[1]), uint8_t(c.corner + c.offset[2]), 0};
        // The corner many times over, and once beside each of its faces.
        bytes in(3 * 4096, c.corner);
        for (int k = 0; k < 3; ++k) in[3 * (10 + k) + size_t(k)] = uint8_t(c.corner + 1);
        bytes plain(in.size() / 3);
        for (size_t i = 0; i < plain.size(); ++i) plain[i] = plain_nearest(&in[3 * i], p);
        ASSERT_EQ(plain[0], c.above);
        for (const test_switch::forced_paths &way : searches) {
            SCOPED_TRACE(testing::Message() << "search " << int(way.nearest) << (way.no_answers ? " by cells" : way.few_answers ? " few answers" : "") << ", corner " << int(c.corner));
            test_switch::force = way;
            EXPECT_EQ(convert(24, nullptr, in, c.entries == 16 ? 4 : 8, p.data()), plain);
            test_switch::force = {};
        }
    }
}

}  // namespace
