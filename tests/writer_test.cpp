// The BMP writer: header fields, palette section, row packing, padding and
// bottom-up order, checked against bytes the test packs by its own rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "bitmap.h"

namespace {

using bytes = std::vector<uint8_t>;

// Writes through a real stream and hands back every byte written.
struct written {
    int result = 0;
    std::string out;
    bytes file;
};

written write_to_memory(const bitmap_header &header, const palette_entry *palette, const uint8_t *pixels)
{
    written w;
    FILE *stream = std::tmpfile();
    testing::internal::CaptureStdout();
    w.result = write_bitmap(stream, &header, palette, pixels);
    w.out = testing::internal::GetCapturedStdout();
    w.file.resize(static_cast<size_t>(std::ftell(stream)));
    std::rewind(stream);
    EXPECT_EQ(std::fread(w.file.data(), 1, w.file.size(), stream), w.file.size());
    std::fclose(stream);
    return w;
}

uint32_t le32(const bytes &b, size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24; }

// One stored row packed the plain way: pixel x at bit offset x * bit_count,
// counted from the top bit of the first byte, then zeros to a multiple of 4.
bytes pack_row(const uint8_t *row, uint32_t width, uint32_t bit_count)
{
    bytes packed;
    if (bit_count >= 8) {
        packed.assign(row, row + width * bit_count / 8);
    } else {
        packed.assign((width * bit_count + 7) / 8, 0);
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t value = bit_count == 1 ? row[x] != 0 : row[x] & 0x0F;
            packed[x * bit_count / 8] |= value << (8 - bit_count - x * bit_count % 8);
        }
    }
    packed.resize((packed.size() + 3) / 4 * 4, 0);
    return packed;
}

struct layout_case {
    uint16_t bit_count;
    uint32_t width, height;
};

class Layout : public testing::TestWithParam<layout_case> {};

TEST_P(Layout, HeaderPaletteAndBottomUpPaddedRows)
{
    const auto [bit_count, width, height] = GetParam();
    const uint32_t pixel_bytes = (bit_count + 7) / 8;
    bytes pixels(size_t{width} * height * pixel_bytes);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7 + 1);
    std::vector<palette_entry> palette(256);
    for (size_t i = 0; i < palette.size(); ++i) palette[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 3), 0};

    bitmap_header header;
    ASSERT_EQ(init_bitmap_header(&header, width, height, bit_count), 0);
    const written w = write_to_memory(header, palette.data(), pixels.data());
    ASSERT_EQ(w.result, 0);
    EXPECT_EQ(w.out, "");

    // Header bytes at their file offsets; everything not named is zero.
    const uint32_t data_length = (width * bit_count + 31) / 32 * 4 * height;
    bytes expected = {'B', 'M'};
    expected.resize(header.data_offset);
    const auto put = [&expected](size_t at, uint32_t value, int size) {
        for (int i = 0; i < size; ++i) expected[at + i] = static_cast<uint8_t>(value >> 8 * i);
    };
    put(2, header.data_offset + data_length, 4);
    put(10, header.data_offset, 4);
    put(14, 40, 4);
    put(18, width, 4);
    put(22, height, 4);
    put(26, 1, 2);
    put(28, bit_count, 2);
    put(34, data_length, 4);
    std::memcpy(&expected[54], palette.data(), header.data_offset - 54);
    for (uint32_t y = height; y-- > 0;) {
        const bytes row = pack_row(pixels.data() + size_t{y} * width * pixel_bytes, width, bit_count);
        expected.insert(expected.end(), row.begin(), row.end());
    }
    EXPECT_EQ(w.file, expected);
    EXPECT_EQ(header.file_length, w.file.size());
}

std::vector<layout_case> layout_cases()
{
    std::vector<layout_case> cases;
    for (const uint16_t bit_count : {1, 4, 8, 16, 24, 32})
        for (const uint32_t width : {0u, 1u, 3u, 5u, 7u, 9u, 31u, 33u})
            for (const uint32_t height : {0u, 1u, 3u}) cases.push_back({bit_count, width, height});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllBitCounts, Layout, testing::ValuesIn(layout_cases()),
                         [](const auto &info) {
                             const layout_case &c = info.param;
                             return std::to_string(c.bit_count) + "bit_" + std::to_string(c.width) + "x" +
                                    std::to_string(c.height);
                         });

TEST(Header, TheToolsSheet)
{
    bitmap_header header;
    ASSERT_EQ(init_bitmap_header(&header, 256, 512, 4), 0);
    EXPECT_EQ(header.data_offset, 118u);
    EXPECT_EQ(header.data_length, 65536u);
    EXPECT_EQ(header.file_length, 65654u);
    EXPECT_EQ(header.colors_used, 0u);
}

// Refusals set the plain fields but leave the three derived ones alone.
TEST(Header, RefusedBitCountsAndSizes)
{
    struct row {
        uint32_t width, height;
        uint16_t bit_count;
    };
    for (const row r : {row{1, 1, 0}, row{1, 1, 2}, row{1, 1, 33}, row{1, 1, 40}, row{65536, 65536, 8},
                        row{0x40000000, 1, 32}, row{0xFFFFFFFF, 2, 1}, row{1, 0xFFFFFFFF, 24},
                        // products that pass 64 bits must not wrap back into range
                        row{0x80000000, 0x80000000, 32}, row{0xFFFFFFFF, 0xFFFFFFFF, 32}}) {
        bitmap_header header{};
        header.file_length = header.data_offset = header.data_length = 0xABCD;
        EXPECT_EQ(init_bitmap_header(&header, r.width, r.height, r.bit_count), -1) << r.width << "x" << r.height;
        EXPECT_EQ(header.width, r.width);
        EXPECT_EQ(header.header_size, 40u);
        EXPECT_EQ(header.file_length, 0xABCDu);
        EXPECT_EQ(header.data_offset, 0xABCDu);
        EXPECT_EQ(header.data_length, 0xABCDu);
    }
    bitmap_header header;
    init_bitmap_header(&header, 1, 1, 8);
    header.bit_count = 2;
    const uint8_t pixel = 0;
    const written w = write_to_memory(header, nullptr, &pixel);
    EXPECT_EQ(w.result, -1);
    EXPECT_TRUE(w.file.empty());
    EXPECT_EQ(w.out, "");
}

TEST(Packing, AnyNonzeroByteIsASetBitAndOnlyLowNibblesCount)
{
    const uint8_t ones[4] = {1, 0x80, 255, 0};
    bitmap_header header;
    init_bitmap_header(&header, 4, 1, 1);
    EXPECT_EQ(write_to_memory(header, nullptr, ones).file.at(62), 0xE0);

    const uint8_t nibbles[3] = {0x1F, 0x23, 0xF4};
    init_bitmap_header(&header, 3, 1, 4);
    const bytes file = write_to_memory(header, nullptr, nibbles).file;
    EXPECT_EQ(bytes(file.begin() + 118, file.end()), (bytes{0xF3, 0x40, 0, 0}));
}

TEST(Palette, NullPaletteWritesZeroEntries)
{
    const uint8_t pixel = 5;
    bitmap_header header;
    init_bitmap_header(&header, 1, 1, 8);
    const bytes file = write_to_memory(header, nullptr, &pixel).file;
    ASSERT_EQ(file.size(), 1082u);
    EXPECT_EQ(bytes(file.begin() + 54, file.begin() + 1078), bytes(1024, 0));
    EXPECT_EQ(le32(file, 1078), 5u);
}

TEST(Palette, CountRange)
{
    const palette_entry entries[2] = {{1, 2, 3, 4}, {5, 6, 7, 8}};
    FILE *stream = std::tmpfile();
    EXPECT_EQ(write_palette(stream, entries, -1), -1);
    EXPECT_EQ(write_palette(stream, entries, 257), -1);
    EXPECT_EQ(write_palette(stream, entries, 0), 0);
    EXPECT_EQ(std::ftell(stream), 0);
    EXPECT_EQ(write_palette(stream, entries, 2), 0);
    EXPECT_EQ(std::ftell(stream), 8);
    std::fclose(stream);
}

// A stream with room for the header only: the palette write must be caught.
TEST(Failures, ShortStreamsReportTheFailingSection)
{
    for (const size_t room : {size_t{10}, size_t{60}}) {
        char buffer[64];
        FILE *stream = fmemopen(buffer, room, "w");
        setvbuf(stream, nullptr, _IONBF, 0);
        bitmap_header header;
        init_bitmap_header(&header, 1, 1, 1);
        const uint8_t pixel = 1;
        testing::internal::CaptureStdout();
        EXPECT_EQ(write_bitmap(stream, &header, nullptr, &pixel), -1);
        const std::string out = testing::internal::GetCapturedStdout();
        std::fclose(stream);
        EXPECT_EQ(out, room < 54 ? "error: write_bitmap() - can't write bitmap header\n"
                                 : "error: write_bitmap() - can't write palette\n");
    }
}

}  // namespace
