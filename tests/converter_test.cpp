// Converter tests: every pairing of bit counts with colours that expose
// swapped channels, wrong shifts and wrong byte order; refusals and buffer
// handling; the library's nearest-colour search against a plain per-pixel one.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "bitmap.h"
#include "test_support.h"

namespace {

using qtest::bytes;
using palette = std::vector<palette_entry>;
constexpr int bit_counts[] = {1, 4, 8, 16, 24, 32};

// Two colours that 16 bits hold exactly, in each format of bit_counts: their
// index in test_palette, the 16-bit word as stored, 24 and 32 bits.
const bytes colour_a[] = {{1}, {5}, {200}, {0x99, 0x19}, {206, 99, 49}, {206, 99, 49, 0}};
const bytes colour_b[] = {{0}, {12}, {37}, {0x83, 0x7A}, {24, 165, 247}, {24, 165, 247, 0}};

palette test_palette(int format)
{
    if (format > 2) return {};
    palette p(size_t{1} << bit_counts[format], palette_entry{10, 20, 30, 0});
    for (const bytes *c : {colour_a, colour_b}) p[c[format][0]] = {c[4][0], c[4][1], c[4][2], 0};
    return p;
}

// A, B, A at one format; a 32-bit source's fourth bytes are not 0.
bytes test_picture(int format, uint8_t fourth)
{
    bytes out;
    for (const bytes *c : {colour_a, colour_b, colour_a}) {
        out.insert(out.end(), c[format].begin(), c[format].end());
        if (format == 5) out.back() = fourth;
    }
    return out;
}

// Converts a picture of one row into an allocated buffer and returns `size`
// bytes of it.
bytes convert(int from, const palette_entry *from_palette, const bytes &in, int to,
              const palette_entry *to_palette, size_t size, int result = 0)
{
    const int width = static_cast<int>(in.size()) / ((from + 7) / 8);
    uint8_t *out = nullptr;
    EXPECT_EQ(convert_bitmap_pixels(width, 1, from, from_palette, in.data(), to, to_palette, &out),
              result);
    bytes kept(out, out + (out != nullptr ? size : 0));
    std::free(out);
    return kept;
}

TEST(converter, every_pairing_keeps_both_colours)
{
    for (int from = 0; from < 6; ++from)
        for (int to = 0; to < 6; ++to) {
            SCOPED_TRACE(testing::Message() << bit_counts[from] << " -> " << bit_counts[to]);
            const palette fp = test_palette(from), tp = test_palette(to);
            const bytes expected = test_picture(to, from == 5 ? 0x5A : 0);
            EXPECT_EQ(convert(bit_counts[from], fp.data(), test_picture(from, 0x5A), bit_counts[to],
                              tp.data(), expected.size()),
                      expected);
        }
}

// Without palettes, so a 1-bit side is black and white. Stray index bytes
// count as the writer takes them: any nonzero 1-bit byte is set, a 4-bit
// byte keeps its low four bits.
const struct {
    int from;
    bytes in;
    int to;
    bytes out;
} worked_cases[] = {
    {24, {200, 100, 50}, 16, {0x99, 0x19}},
    {32, {200, 100, 50, 7}, 16, {0x99, 0x19}},
    {16, {0x99, 0x19, 0xFF, 0x7F, 0x00, 0x80}, 24, {206, 99, 49, 255, 255, 255, 0, 0, 0}},
    {16, {0x99, 0x99}, 16, {0x99, 0x99}},
    {1, {0, 1, 2, 255}, 24, {0, 0, 0, 255, 255, 255, 255, 255, 255, 255, 255, 255}},
    {1, {0, 1, 2, 255}, 1, {0, 1, 1, 1}},
    {24, {0, 0, 0, 128, 128, 127, 127, 127, 128}, 1, {0, 1, 0}},
    {4, {0x15, 0xFC}, 24, {206, 99, 49, 24, 165, 247}},
};

TEST(converter, worked_values)
{
    const palette p4 = test_palette(1);
    for (const auto &c : worked_cases) {
        SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to);
        EXPECT_EQ(convert(c.from, c.from == 4 ? p4.data() : nullptr, c.in, c.to, nullptr, c.out.size()),
                  c.out);
    }
}

TEST(converter, nearest_colour_keeps_the_lowest_index)
{
    const palette p = {{0, 0, 0, 0}, {10, 10, 10, 0}, {20, 20, 20, 0}, {10, 10, 10, 0}};
    EXPECT_EQ(find_nearest_color(15, 15, 15, p.data(), 4), 1);  // 1 and 2 as near
    EXPECT_EQ(find_nearest_color(10, 10, 10, p.data(), 4), 1);  // 1 and 3 equal
    EXPECT_EQ(find_nearest_color(9, 9, 9, p.data(), 0), 0);
    // Entries 0 to 4 of this palette repeat one colour; 37 and 200 differ.
    const palette own = test_palette(2);
    EXPECT_EQ(convert(8, own.data(), {0, 4, 37, 200}, 8, own.data(), 4), (bytes{0, 0, 37, 200}));

    // With enough pixels for the library's own search: (15, 15, 15) is 675
    // from entries 4 and 7, and the two stand on either side of a corner.
    palette q(16, palette_entry{255, 255, 255, 0});
    q[4] = {30, 30, 30, 0};
    q[7] = {0, 0, 0, 0};
    EXPECT_EQ(convert(24, nullptr, bytes(3 * 4096, 15), 4, q.data(), 4096), bytes(4096, 4));
}

TEST(converter, refusals_and_buffers)
{
    const bytes in(64, 1);
    const palette p = test_palette(2);
    uint8_t *out = nullptr;
    EXPECT_EQ(convert_bitmap_pixels(2, 2, 8, p.data(), nullptr, 24, nullptr, &out), -1);
    EXPECT_EQ(convert_bitmap_pixels(2, 2, 8, p.data(), in.data(), 24, nullptr, nullptr), -1);
    EXPECT_EQ(convert_bitmap_pixels(-1, 2, 8, p.data(), in.data(), 24, nullptr, &out), -1);
    EXPECT_EQ(convert_bitmap_pixels(2, -1, 8, p.data(), in.data(), 24, nullptr, &out), -1);
    EXPECT_EQ(convert_bitmap_pixels(32768, 32768, 8, p.data(), in.data(), 16, nullptr, &out), -1);
    EXPECT_EQ(out, nullptr);
    // A refused bit count or palette leaves the buffer obtained and cleared.
    EXPECT_EQ(convert(8, p.data(), bytes(3, 1), 2, nullptr, 3, -1), bytes(3, 0));

    bytes mine(13, 0xEE);
    out = mine.data();
    EXPECT_EQ(convert_bitmap_pixels(3, 1, 4, nullptr, in.data(), 32, nullptr, &out), -1);
    EXPECT_EQ(mine, (bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xEE}));
    mine.assign(13, 0xEE);
    EXPECT_EQ(convert_bitmap_pixels(2, 1, 24, nullptr, test_picture(4, 0).data(), 16, nullptr, &out), 0);
    EXPECT_EQ(out, mine.data());
    EXPECT_EQ(bytes(mine.begin(), mine.begin() + 5), (bytes{0x99, 0x19, 0x83, 0x7A, 0xEE}));
    EXPECT_EQ(convert_bitmap_pixels(0, 5, 4, p.data(), in.data(), 32, nullptr, &out), 0);
    EXPECT_EQ(mine[0], 0x99);
}

// A 512 x 512 picture: a smooth gradient (long runs, near repeats) or noise.
bytes direct_picture(int bit_count, bool noise, std::mt19937 &rng)
{
    const size_t pixel_bytes = bit_count / 8;
    bytes out(512 * 512 * pixel_bytes);
    for (size_t i = 0; i < out.size(); ++i) {
        const size_t x = i / pixel_bytes % 512, y = i / pixel_bytes / 512;
        out[i] = static_cast<uint8_t>(noise ? rng() : (x * (i % pixel_bytes + 1) + y) / 4);
    }
    return out;
}

TEST(converter, direct_to_indexed_matches_the_plain_search)
{
    std::mt19937 rng(1234);
    for (int from : {16, 24, 32})
        for (int to : {1, 4, 8})
            for (int kind = 0; kind < 4; ++kind) {
                SCOPED_TRACE(testing::Message() << from << " -> " << to << " kind " << kind);
                const bytes in = direct_picture(from, kind & 1, rng);
                // Palettes of few levels are full of repeats and ties.
                palette p(size_t{1} << to);
                for (palette_entry &e : p)
                    for (uint8_t *c : {&e.blue, &e.green, &e.red})
                        *c = static_cast<uint8_t>(kind & 2 ? rng() % 4 * 85 : rng());
                const size_t pixels = in.size() / (from / 8);
                const bytes bgr = convert(from, nullptr, in, 24, nullptr, pixels * 3);
                bytes plain(pixels);
                for (size_t i = 0; i < pixels; ++i)
                    plain[i] = static_cast<uint8_t>(find_nearest_color(
                        bgr[i * 3 + 2], bgr[i * 3 + 1], bgr[i * 3], p.data(), 1 << to));
                EXPECT_EQ(convert(from, nullptr, in, to, p.data(), pixels), plain);
            }
}

// Writes a one-row picture to a file and reads it back: the pixels, and the
// palette when asked.
bytes write_and_read(int bit_count, const palette_entry *colours, const bytes &pixels,
                     palette *read_palette = nullptr)
{
    bitmap_header header;
    FILE *file = std::tmpfile();
    if (file == nullptr) return {};
    EXPECT_EQ(init_bitmap_header(&header, pixels.size() / ((bit_count + 7) / 8), 1, bit_count), 0);
    EXPECT_EQ(write_bitmap(file, &header, colours, pixels.data()), 0);
    std::rewind(file);
    palette_entry *p = nullptr;
    uint8_t *read = nullptr;
    EXPECT_EQ(read_bitmap(file, &header, &p, &read, 0), 0);
    std::fclose(file);
    const bytes out(read, read + (read != nullptr ? pixels.size() : 0));
    if (read_palette != nullptr && p != nullptr) read_palette->assign(p, p + (1 << bit_count));
    std::free(p);
    std::free(read);
    return out;
}

TEST(converter, round_trip_through_files)
{
    const bytes picture24 = test_picture(4, 0), picture4 = test_picture(1, 0);
    const palette p4 = test_palette(1);
    const bytes read24 = write_and_read(24, nullptr, picture24);
    palette read_palette;
    EXPECT_EQ(write_and_read(4, p4.data(), convert(24, nullptr, read24, 4, p4.data(), 3), &read_palette),
              picture4);
    EXPECT_EQ(convert(4, read_palette.data(), picture4, 24, nullptr, 9), picture24);
}

}  // namespace
