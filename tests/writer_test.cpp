// The BMP writer: header fields, palette section, row packing, padding and
// bottom-up order, checked against bytes the test packs by its own rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "bitmap.h"

namespace {

using bytes = std::vector<uint8_t>;

// Writes through a real stream and hands back every byte written.
struct written { int result = 0; std::string out; bytes file; };

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

// One stored row packed the plain way: pixel x at bit offset x * bit_count,
// counted from the top bit of the first byte (any nonzero byte sets a 1-bit
// pixel, a 4-bit one keeps its low nibble), then zeros to a multiple of 4.
bytes pack_row(const uint8_t *row, uint32_t width, uint32_t bit_count)
{
    bytes packed(row, row + (bit_count >= 8 ? width * bit_count / 8 : 0));
    for (uint32_t x = 0, bit = 0; bit_count < 8 && x < width; ++x, bit = x * bit_count % 8) {
        if (bit == 0) packed.push_back(0);
        packed.back() |= (bit_count == 1 ? row[x] != 0 : row[x] & 0x0F) << (8 - bit_count - bit);
    }
    packed.resize((packed.size() + 3) / 4 * 4, 0);
    return packed;
}

class Layout : public testing::TestWithParam<std::tuple<uint16_t, uint32_t, uint32_t>> {};

// Pictures of three rows come without a palette: its section is all zero.
TEST_P(Layout, HeaderPaletteAndBottomUpPaddedRows)
{
    const auto [bit_count, width, height] = GetParam();
    const uint32_t pixel_bytes = (bit_count + 7) / 8;
    bytes pixels(size_t{width} * height * pixel_bytes);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7 + 1);
    std::vector<palette_entry> palette(256);
    for (size_t i = 0; i < 256; ++i) palette[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 3), 0};

    bitmap_header header;
    ASSERT_EQ(init_bitmap_header(&header, width, height, bit_count), 0);
    const written w = write_to_memory(header, height != 3 ? palette.data() : nullptr, pixels.data());
    ASSERT_EQ(w.result, 0);
    EXPECT_EQ(w.out, "");

    // Header fields at their file offsets (planes and bit count as one); all else is zero.
    const uint32_t offset = 54 + (bit_count <= 8 ? 4u << bit_count : 0);
    const uint32_t data_length = (width * bit_count + 31) / 32 * 4 * height;
    bytes expected(offset, 0);
    const uint32_t fields[][2] = {{0, 'B' | 'M' << 8}, {2, offset + data_length}, {10, offset}, {14, 40},
                                  {18, width}, {22, height}, {26, 1u | bit_count << 16}, {34, data_length}};
    for (const auto &[at, value] : fields)
        for (size_t i = 0; i < 4; ++i) expected[at + i] |= static_cast<uint8_t>(value >> 8 * i);
    if (height != 3) std::memcpy(&expected[54], palette.data(), offset - 54);
    for (uint32_t y = height; y-- > 0;) {
        const bytes row = pack_row(pixels.data() + size_t{y} * width * pixel_bytes, width, bit_count);
        expected.insert(expected.end(), row.begin(), row.end());
    }
    EXPECT_EQ(w.file, expected);
    EXPECT_EQ(header.file_length, w.file.size());
}

std::string layout_name(const testing::TestParamInfo<Layout::ParamType> &info)
{
    const auto [bit_count, width, height] = info.param;
    return std::to_string(bit_count) + "bit_" + std::to_string(width) + "x" + std::to_string(height);
}

INSTANTIATE_TEST_SUITE_P(AllBitCounts, Layout,
                         testing::Combine(testing::Values<uint16_t>(1, 4, 8, 16, 24, 32),
                                          testing::Values(0u, 1u, 3u, 5u, 33u), testing::Values(0u, 1u, 3u)),
                         layout_name);

// Refusals set the plain fields but leave the three derived ones alone, and
// write_bitmap refuses the record as it stands, writing nothing.
TEST(Header, RefusedBitCountsAndSizes)
{
    const uint32_t rows[][3] = {{1, 1, 2}, {1, 1, 33}, {65536, 65536, 8}, {0x40000000, 1, 32},
                                {0xFFFFFFFF, 2, 1}, {0x80000000, 0x80000000, 32}};  // the last wraps 64 bits
    for (const auto &[width, height, bit_count] : rows) {
        bitmap_header header{};
        header.file_length = header.data_offset = header.data_length = 0xABCD;
        SCOPED_TRACE(testing::Message() << width << "x" << height << " at " << bit_count);
        EXPECT_EQ(init_bitmap_header(&header, width, height, uint16_t(bit_count)), -1);
        EXPECT_TRUE(header.width == width && header.height == height && header.header_size == 40);
        EXPECT_TRUE(header.file_length == 0xABCD && header.data_offset == 0xABCD &&
                    header.data_length == 0xABCD);
        const uint8_t pixel = 0;
        const written w = write_to_memory(header, nullptr, &pixel);
        EXPECT_EQ(w.result, -1);
        EXPECT_TRUE(w.file.empty() && w.out.empty());
    }
}

TEST(Palette, CountRange)
{
    const palette_entry entries[2] = {};
    FILE *stream = std::tmpfile();
    EXPECT_EQ(write_palette(stream, entries, -1), -1);
    EXPECT_EQ(write_palette(stream, entries, 257), -1);
    EXPECT_EQ(write_palette(stream, entries, 0), 0);
    EXPECT_EQ(std::ftell(stream), 0);
    std::fclose(stream);
}

// Streams with room for part of the header, and for the header only: each
// failed section is reported as such.
TEST(Failures, ShortStreamsReportTheFailingSection)
{
    bitmap_header header;
    init_bitmap_header(&header, 1, 1, 1);
    const uint8_t pixel = 1;
    for (const size_t room : {size_t{10}, size_t{60}}) {
        char buffer[64];
        FILE *stream = fmemopen(buffer, room, "w");
        setvbuf(stream, nullptr, _IONBF, 0);
        testing::internal::CaptureStdout();
        EXPECT_EQ(write_bitmap(stream, &header, nullptr, &pixel), -1);
        const std::string out = testing::internal::GetCapturedStdout();
        std::fclose(stream);
        EXPECT_EQ(out, room < 54 ? "error: write_bitmap() - can't write bitmap header\n"
                                 : "error: write_bitmap() - can't write palette\n");
    }
}

}  // namespace
