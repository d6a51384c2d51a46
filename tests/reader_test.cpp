// Reader tests: round trips through the writer, header refusals with their
// exact lines, files cut anywhere, and the size and argument guards.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bitmap.h"
#include "test_switch.h"

namespace {

using bytes = std::vector<uint8_t>;
using outcome = std::pair<int, std::string>;  // a result and what was printed

const std::string header_line = "error: read_bitmap() - can't read bitmap header\n";
const std::string cant_read = "error: read_bitmap() - can't read ";
const std::string error = "error: check_bitmap_header() - ";
const std::string zero_length = "warning: check_bitmap_header() - data length is 0 ... corrected: ";

// A stream that reads `content`, which must outlive it.
std::unique_ptr<FILE, int (*)(FILE *)> stream_of(const bytes &content)
{
    return {fmemopen(const_cast<uint8_t *>(content.data()), content.size(), "rb"), &std::fclose};
}

// The file that the writer makes; with neither palette nor pixels only the
// header, which may be one that write_bitmap refuses.
bytes file_of(const bitmap_header &header, const bytes &palette = {},
              const uint8_t *pixels = nullptr)
{
    char *data = nullptr;
    size_t size = 0;
    FILE *stream = open_memstream(&data, &size);
    const auto *entries = reinterpret_cast<const palette_entry *>(palette.data());
    (palette.empty() && pixels == nullptr) ? write_bitmap_header(stream, &header)
                                           : write_bitmap(stream, &header, entries, pixels);
    std::fclose(stream);
    bytes out(data, data + size);
    std::free(data);
    return out;
}

// Bytes that differ from row to row, every third one 0 (which matters at 1 bit).
bytes test_pixels(size_t count)
{
    bytes pixels(count);
    for (size_t i = 0; i < count; ++i) pixels[i] = i % 3 != 0 ? uint8_t(i * 37 % 251) : 0;
    return pixels;
}

// read_bitmap on `file`, from just past its header when `header_read`.
outcome read(const bytes &file, bitmap_header &header, palette_entry **palette, uint8_t **pixels,
             int header_read = 0)
{
    const auto stream = stream_of(file);
    std::fseek(stream.get(), header_read * 54, SEEK_SET);
    testing::internal::CaptureStdout();
    const int result = read_bitmap(stream.get(), &header, palette, pixels, header_read);
    return {result, testing::internal::GetCapturedStdout()};
}

// The same into buffers that read_bitmap allocates: the pixels it read are
// copied out when it succeeds, and both buffers released here.
std::pair<outcome, bytes> read_all(const bytes &file, bitmap_header &header,
                                   bool want_palette = true, int header_read = 0)
{
    palette_entry *palette = nullptr;
    uint8_t *pixels = nullptr;
    const outcome r = read(file, header, want_palette ? &palette : nullptr, &pixels, header_read);
    const size_t size = size_t{header.width} * header.height * ((header.bit_count + 7) / 8);
    const bytes copy = r.first == 0 ? bytes(pixels, pixels + size) : bytes();
    std::free(palette);
    std::free(pixels);
    return {r, copy};
}

TEST(read_bitmap, reads_back_what_the_writer_wrote)
{
    for (int bit_count : {1, 4, 8, 16, 24, 32})
        for (uint32_t width : {1u, 3u, 7u, 8u, 9u, 31u, 33u})
            for (uint32_t height : {0u, 1u, 3u}) {
                SCOPED_TRACE(testing::Message() << width << " x " << height << " at " << bit_count << " bits");
                bitmap_header header;
                ASSERT_EQ(init_bitmap_header(&header, width, height, uint16_t(bit_count)), 0);
                const bytes pixels = test_pixels(size_t{width} * height * ((bit_count + 7) / 8));
                const bytes file = file_of(header, bytes(1024), pixels.data());
                bytes expected = pixels;  // the bits that the file keeps, one pixel a byte
                for (uint8_t &p : expected) p = bit_count == 1 ? p != 0 : bit_count == 4 ? p & 15 : p;
                bitmap_header read_header;
                // No rows store a data length of 0, which the check corrects aloud.
                const std::string said = height == 0 ? zero_length + "0x0\n" : "";
                EXPECT_EQ(read_all(file, read_header), std::pair(outcome(0, said), expected));
                EXPECT_EQ(std::memcmp(&read_header, &header, sizeof header), 0);
                EXPECT_EQ(read_all(file, header, false, 1).second, expected) << "header first";
            }
}

// A good 3 x 2 8-bit header (data length 8, offset 0x436, file length 0x43E)
// changed; the check's result and its exact lines.
const std::pair<std::function<void(bitmap_header &)>, outcome> header_cases[] = {
    {[](auto &h) { h.header_size = 108; },
     {-1, error + "not supported header type - support only Windows V3\n"}},
    {[](auto &h) { h.planes = 2; }, {-1, ""}},
    {[](auto &h) { h.compression = 1; }, {-1, error + "not support compression\n"}},
    {[](auto &h) { h.bit_count = 2; }, {-1, error + "unknown bit count\n"}},
    {[](auto &h) { h.width = 16384, h.height = 16385; },  // just over 256 MiB
     {-1, error + "unsupported size 0x4000 x 0x4001\n"}},
    {[](auto &h) { h.data_offset = 118; }, {-1, error + "offset size 0x76 != 0x436\n"}},
    {[](auto &h) { h.data_length = 12; }, {-1, error + "data length 0xC != 0x8\n"}},
    {[](auto &h) { h.height = h.data_length = 0, h.file_length = 1078; },
     {1, zero_length + "0x0\n"}},
    {[](auto &h) { h.file_length += 4, h.data_length = 0; },
     {2, zero_length + "0x8\nwarning: check_bitmap_header() - file length 0x442 > 0x43E\n"}},
    {[](auto &h) { h.file_length -= 1, h.data_length = 0; },  // the correction stays
     {-1, zero_length + "0x8\n" + error + "file length 0x43D < 0x43E\n"}},
};

TEST(check_bitmap_header, refuses_or_warns_with_its_exact_line)
{
    bitmap_header good;
    init_bitmap_header(&good, 3, 2, 8);
    const bytes rest = file_of(good, bytes(1024), test_pixels(6).data());
    for (const auto &[change, said] : header_cases) {
        bitmap_header header = good, parsed;
        change(header);
        bytes file = file_of(header);
        file.insert(file.end(), rest.begin() + 54, rest.end());
        testing::internal::CaptureStdout();
        EXPECT_EQ(read_bitmap_header(stream_of(file).get(), &parsed), said.first);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), said.second);
        EXPECT_EQ(parsed.data_length, header.data_length ? header.data_length : 4 * header.height);
        const std::string out = said.second + (said.first < 0 ? header_line : "");
        EXPECT_EQ(read_all(file, parsed).first, outcome(std::min(said.first, 0), out));
    }
}

// Cut after every byte, into buffers of the caller's: the rows read so far
// are in place and nothing else is touched; the whole file reads whole.
TEST(read_bitmap, file_cut_anywhere_keeps_the_rows_read_so_far)
{
    bitmap_header header;
    init_bitmap_header(&header, 3, 3, 4);  // 118 bytes before 3 rows of 4
    const bytes palette = test_pixels(64);
    bytes file = file_of(header, palette, test_pixels(9).data());
    const bytes whole = read_all(file, header).second;
    for (size_t cut = 0; cut <= file.size(); ++cut) {
        const bytes cut_file(file.begin(), file.begin() + cut);
        bytes own_palette(64, 0xEE), own_pixels(9, 0xEE), expected = own_pixels;
        auto *palette_at = reinterpret_cast<palette_entry *>(own_palette.data());
        uint8_t *pixels_at = own_pixels.data();
        const char *what = cut < 54 ? "bitmap header\n" : cut < 118 ? "palette\n" : "bitmap data\n";
        EXPECT_EQ(read(cut_file, header, &palette_at, &pixels_at),
                  cut < file.size() ? outcome(-1, cant_read + what) : outcome(0, ""));
        EXPECT_EQ(own_palette, cut < 118 ? bytes(64, 0xEE) : palette) << cut;
        const size_t read_bytes = cut < 118 ? 0 : (cut - 118) / 4 * 3;
        std::copy(whole.end() - read_bytes, whole.end(), expected.end() - read_bytes);
        EXPECT_EQ(own_pixels, expected) << cut;
    }
    file[1] = 'm';  // "Bm", then "bM": a wrong magic draws no line from the check
    EXPECT_EQ(read_all(file, header).first, outcome(-1, header_line));
    file[0] = 'b', file[1] = 'M';
    EXPECT_EQ(read_all(file, header).first, outcome(-1, header_line));
}

// Many rows a read against one a read, and SIMD unpacking against the
// tables, on files cut at and next to every row boundary: the same result,
// lines, buffers and stream position. Rows of about 4100 bytes at every bit
// count make 31 rows a chunk, so 70 rows take three reads, the last one
// short. Odd widths end 1- and 4-bit rows in part of a SIMD group and pad
// 24-bit rows; rows without padding are read in place when whole.
TEST(read_bitmap, chunked_reads_and_simd_unpacking_match_the_plain_loop)
{
    const std::pair<int, uint32_t> widths[] = {{1, 32771}, {4, 8195}, {8, 4100}, {16, 2050}, {24, 1366}, {32, 1025}};
    for (const auto &[bit_count, width] : widths) {
        bitmap_header header;
        ASSERT_EQ(init_bitmap_header(&header, width, 70, uint16_t(bit_count)), 0);
        const size_t size = size_t{width} * 70 * ((bit_count + 7) / 8);
        const bytes file = file_of(header, test_pixels(1024), test_pixels(size).data());
        const size_t data = header.data_offset, row = (file.size() - data) / 70;
        // What one configuration leaves: the outcome, both buffers, the position.
        const auto read_with = [&](const bytes &cut, bool one_row, bool portable) {
            test_switch::force.one_row_reads = one_row, test_switch::force.portable_unpack = portable;
            bytes colors(1024, 0xEE), pixels(size, 0xEE);
            auto *palette_at = reinterpret_cast<palette_entry *>(colors.data());
            uint8_t *pixels_at = pixels.data();
            const auto stream = stream_of(cut);
            bitmap_header h;
            testing::internal::CaptureStdout();
            const int result = read_bitmap(stream.get(), &h, &palette_at, &pixels_at, 0);
            const std::string said = testing::internal::GetCapturedStdout();
            test_switch::force = {};
            return std::tuple(result, said, colors, pixels, std::ftell(stream.get()));
        };
        for (size_t rows = 0; rows <= 70; ++rows)
            for (size_t end : {data + rows * row - 1, data + rows * row, data + rows * row + 1}) {
                const bytes cut(file.begin(), file.begin() + std::min(end, file.size()));
                SCOPED_TRACE(testing::Message() << bit_count << " bits, cut at " << cut.size());
                const auto plain = read_with(cut, true, true);
                EXPECT_EQ(read_with(cut, false, false), plain);
                EXPECT_EQ(read_with(cut, true, false), plain) << "SIMD unpacking";
            }
    }
}

// At the 256 MiB limit a claim costs one allocation, which stays the caller's
// when the file then runs out; a record that the check never saw is refused
// before anything is allocated.
TEST(read_bitmap, limits_and_unchecked_records)
{
    const std::string unchecked = "error: read_bitmap() - bad bit count or size in header\n";
    const struct {
        uint32_t side;
        int bits, header_read;
        std::string out;
    } cases[] = {
        {.side = 8192, .bits = 32, .header_read = 0, .out = cant_read + "bitmap data\n"},
        {.side = 65535, .bits = 32, .header_read = 1, .out = unchecked},
        {.side = 3, .bits = 2, .header_read = 1, .out = unchecked},
    };
    for (const auto &[side, bits, header_read, out] : cases) {
        bitmap_header header;
        init_bitmap_header(&header, 8192, 8192, 32);
        header.width = header.height = side, header.bit_count = uint16_t(bits);
        uint8_t *pixels = nullptr;
        EXPECT_EQ(read(file_of(header), header, nullptr, &pixels, header_read), outcome(-1, out));
        EXPECT_EQ(pixels != nullptr, header_read == 0);
        std::free(pixels);
    }
    EXPECT_EQ(read_bitmap(nullptr, nullptr, nullptr, nullptr, 0), -3);  // reads nothing
    palette_entry entries[257];  // more than the reader's block holds
    EXPECT_EQ(read_palette(stream_of(bytes(1028)).get(), entries, 257), -1);
    EXPECT_EQ(read_palette(stream_of(bytes()).get(), entries, 0), 0);  // as write_palette writes 0
    EXPECT_EQ(bitmap_row_bytes(INT_MAX, 32), -1);  // more than an int holds
}

}  // namespace
