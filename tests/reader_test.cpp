// Reader tests: round trips through the writer, every header refusal with its
// exact line, files cut at every byte, the size guards, and the tool's own
// output read back.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bitmap.h"
#include "test_support.h"
#include "tiles.h"

#if defined(__SANITIZE_ADDRESS__)
#define READER_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define READER_TEST_ASAN 1
#endif
#endif

// Field by field and byte by byte: the records have no padding.
static bool operator==(const bitmap_header &a, const bitmap_header &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}
static bool operator==(const palette_entry &a, const palette_entry &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

namespace {

using qtest::bytes;
using file_ptr = std::unique_ptr<FILE, int (*)(FILE *)>;
using palette = std::vector<palette_entry>;

const std::string header_line = "error: read_bitmap() - can't read bitmap header\n";
const std::string palette_line = "error: read_bitmap() - can't read palette\n";
const std::string data_line = "error: read_bitmap() - can't read bitmap data\n";

file_ptr stream_of(const bytes &content)
{
    file_ptr stream(std::tmpfile(), &std::fclose);
    if (!content.empty()) std::fwrite(content.data(), 1, content.size(), stream.get());
    std::rewind(stream.get());
    return stream;
}

// Everything that `write` puts on a stream.
bytes written(const std::function<void(FILE *)> &write)
{
    char *data = nullptr;
    size_t size = 0;
    FILE *stream = open_memstream(&data, &size);
    write(stream);
    std::fclose(stream);
    bytes out(data, data + size);
    std::free(data);
    return out;
}

bytes file_of(const bitmap_header &header, const palette_entry *entries, const uint8_t *pixels)
{
    return written([&](FILE *s) { write_bitmap(s, &header, entries, pixels); });
}

// Distinct blue, green and red in every entry, so swapped channels show.
palette test_palette(int count)
{
    palette entries;
    for (int i = 0; i < count; ++i)
        entries.push_back({uint8_t(i), uint8_t(255 - i), uint8_t(i * 7), 0});
    return entries;
}

// A picture whose bytes differ by row, column and channel; at 1 bit every
// third byte is 0 and the rest are assorted nonzero values.
bytes test_pixels(uint32_t width, uint32_t height, int bit_count)
{
    const uint32_t row = width * ((bit_count + 7) / 8);
    bytes pixels(size_t{row} * height);
    for (size_t i = 0; i < pixels.size(); ++i) {
        const auto value = uint8_t((i % row * 7 + i / row * 13) * 29 % 251);
        pixels[i] = bit_count == 1 && value % 3 == 0 ? 0 : value;
    }
    return pixels;
}

// What the reader gives back for pixels the writer was given.
bytes as_read(bytes pixels, int bit_count)
{
    for (uint8_t &p : pixels) p = bit_count == 1 ? p != 0 : bit_count == 4 ? p & 0x0F : p;
    return pixels;
}

struct read_result {
    int result;
    std::string out;
    bitmap_header header;
    palette entries;
    bytes pixels;
};

// read_bitmap with buffers it allocates, copied out and released here;
// without `want_palette` the palette is skipped.
read_result read_all(const bytes &file, bool want_palette = true)
{
    file_ptr stream = stream_of(file);
    read_result r{};
    palette_entry *entries = nullptr;
    uint8_t *pixels = nullptr;
    testing::internal::CaptureStdout();
    r.result = read_bitmap(stream.get(), &r.header, want_palette ? &entries : nullptr, &pixels, 0);
    r.out = testing::internal::GetCapturedStdout();
    if (r.result == 0) {
        const int bit_count = r.header.bit_count;
        if (entries != nullptr) r.entries.assign(entries, entries + (1 << bit_count));
        r.pixels.assign(pixels,
                        pixels + size_t{r.header.width} * r.header.height * ((bit_count + 7) / 8));
    }
    std::free(entries);
    std::free(pixels);
    return r;
}

class round_trip : public testing::TestWithParam<std::tuple<int, uint32_t>> {};

TEST_P(round_trip, reads_back_what_was_written)
{
    const auto [bit_count, width] = GetParam();
    const palette entries = test_palette(bit_count <= 8 ? 1 << bit_count : 0);
    for (uint32_t height : {0u, 1u, 3u}) {
        bitmap_header header;
        ASSERT_EQ(init_bitmap_header(&header, width, height, uint16_t(bit_count)), 0);
        const bytes pixels = test_pixels(width, height, bit_count);
        const bytes file = file_of(header, entries.data(), pixels.data());
        const read_result r = read_all(file);
        // No rows means a data length of 0, which the check corrects to 0.
        const std::string warning =
            height == 0 ? "warning: check_bitmap_header() - data length is 0 ... corrected: 0x0\n"
                        : "";
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.out, warning);
        EXPECT_TRUE(r.header == header);
        EXPECT_EQ(r.entries, entries);
        EXPECT_EQ(r.pixels, as_read(pixels, bit_count)) << "height " << height;
        EXPECT_EQ(read_all(file, false).pixels, r.pixels) << "palette skipped";

        // The header first, then the caller's own buffers.
        file_ptr stream = stream_of(file);
        bitmap_header checked;
        testing::internal::CaptureStdout();
        ASSERT_EQ(read_bitmap_header(stream.get(), &checked), height == 0 ? 1 : 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), warning);
        palette own_entries(256);
        bytes own_pixels(r.pixels.size());
        palette_entry *entries_at = own_entries.data();
        uint8_t *pixels_at = own_pixels.data();
        EXPECT_EQ(read_bitmap(stream.get(), &checked, &entries_at, &pixels_at, 1), 0);
        if (own_pixels.empty()) std::free(pixels_at);  // a null pointer: read_bitmap allocated
        EXPECT_EQ(own_pixels, r.pixels);
        EXPECT_TRUE(std::equal(entries.begin(), entries.end(), own_entries.begin()));
    }
}

INSTANTIATE_TEST_SUITE_P(bit_counts_and_odd_widths, round_trip,
                         testing::Combine(testing::Values(1, 4, 8, 16, 24, 32),
                                          testing::Values(1u, 3u, 7u, 9u, 31u, 33u)));

// A good 3 x 2 8-bit file: data length 8, offset 0x436, file length 0x43E.
struct header_case {
    const char *name;
    std::function<void(bitmap_header &)> change;
    int result;
    std::string out;
};

const header_case header_cases[] = {
    {"V4 header", [](bitmap_header &h) { h.header_size = 108; }, -1,
     "error: check_bitmap_header() - not supported header type - support only Windows V3\n"},
    {"V5 header", [](bitmap_header &h) { h.header_size = 124; }, -1,
     "error: check_bitmap_header() - not supported header type - support only Windows V3\n"},
    {"no planes", [](bitmap_header &h) { h.planes = 0; }, -1, ""},
    {"two planes", [](bitmap_header &h) { h.planes = 2; }, -1, ""},
    {"RLE8", [](bitmap_header &h) { h.compression = 1; }, -1,
     "error: check_bitmap_header() - not support compression\n"},
    {"RLE4", [](bitmap_header &h) { h.compression = 2; }, -1,
     "error: check_bitmap_header() - not support compression\n"},
    {"2 bits", [](bitmap_header &h) { h.bit_count = 2; }, -1,
     "error: check_bitmap_header() - unknown bit count\n"},
    {"top-down", [](bitmap_header &h) { h.height = uint32_t(-2); }, -1,
     "error: check_bitmap_header() - unsupported size 0x3 x 0xFFFFFFFE\n"},
    {"negative width", [](bitmap_header &h) { h.width = uint32_t(-3); }, -1,
     "error: check_bitmap_header() - unsupported size 0xFFFFFFFD x 0x2\n"},
    {"65535 x 65535 at 32 bits",
     [](bitmap_header &h) { h.width = h.height = 65535, h.bit_count = 32; }, -1,
     "error: check_bitmap_header() - unsupported size 0xFFFF x 0xFFFF\n"},
    {"just over 256 MiB", [](bitmap_header &h) { h.width = 16384, h.height = 16385; }, -1,
     "error: check_bitmap_header() - unsupported size 0x4000 x 0x4001\n"},
    {"16-entry palette", [](bitmap_header &h) { h.colors_used = 16, h.data_offset = 118; }, -1,
     "error: check_bitmap_header() - offset size 0x76 != 0x436\n"},
    {"data length 0", [](bitmap_header &h) { h.data_length = 0; }, 1,
     "warning: check_bitmap_header() - data length is 0 ... corrected: 0x8\n"},
    {"data length too long", [](bitmap_header &h) { h.data_length = 12; }, -1,
     "error: check_bitmap_header() - data length 0xC != 0x8\n"},
    {"file length too long", [](bitmap_header &h) { h.file_length += 1; }, 1,
     "warning: check_bitmap_header() - file length 0x43F > 0x43E\n"},
    {"both warnings", [](bitmap_header &h) { h.file_length += 4, h.data_length = 0; }, 2,
     "warning: check_bitmap_header() - data length is 0 ... corrected: 0x8\n"
     "warning: check_bitmap_header() - file length 0x442 > 0x43E\n"},
    {"file length too short", [](bitmap_header &h) { h.file_length -= 1; }, -1,
     "error: check_bitmap_header() - file length 0x43D < 0x43E\n"},
    {"correction kept on failure", [](bitmap_header &h) { h.file_length -= 1, h.data_length = 0; },
     -1,
     "warning: check_bitmap_header() - data length is 0 ... corrected: 0x8\n"
     "error: check_bitmap_header() - file length 0x43D < 0x43E\n"},
};

TEST(check_bitmap_header, refuses_or_warns_with_its_exact_line)
{
    bitmap_header good;
    init_bitmap_header(&good, 3, 2, 8);
    const bytes pixels = test_pixels(3, 2, 8);
    for (const header_case &c : header_cases) {
        bitmap_header header = good;
        c.change(header);
        bytes file = written([&](FILE *s) { write_bitmap_header(s, &header); });
        const bytes rest = file_of(good, nullptr, pixels.data());
        file.insert(file.end(), rest.begin() + 54, rest.end());

        bitmap_header parsed;
        testing::internal::CaptureStdout();
        EXPECT_EQ(read_bitmap_header(stream_of(file).get(), &parsed), c.result) << c.name;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out) << c.name;
        EXPECT_EQ(parsed.data_length, header.data_length == 0 ? 8 : header.data_length) << c.name;

        const read_result r = read_all(file);
        EXPECT_EQ(r.result, c.result < 0 ? -1 : 0) << c.name;
        EXPECT_EQ(r.out, c.result < 0 ? c.out + header_line : c.out) << c.name;
    }
}

// A wrong magic is refused with no line of the header reader's own, and
// the record is left as it was.
TEST(read_bitmap_header, refuses_a_wrong_magic_silently)
{
    bitmap_header header;
    init_bitmap_header(&header, 3, 2, 8);
    for (size_t at : {0, 1}) {
        bytes file = file_of(header, nullptr, test_pixels(3, 2, 8).data());
        file[at] ^= 0x20;  // "bM", "Bm"
        bitmap_header untouched{};
        testing::internal::CaptureStdout();
        EXPECT_EQ(read_bitmap_header(stream_of(file).get(), &untouched), -1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_TRUE(untouched == bitmap_header{});
        const read_result r = read_all(file);
        EXPECT_EQ(r.result, -1);
        EXPECT_EQ(r.out, header_line);
    }
}

// Cut after every byte, into buffers of the caller's: the rows read so far
// are in place and nothing else is touched.
TEST(read_bitmap, file_cut_anywhere_keeps_the_rows_read_so_far)
{
    constexpr uint32_t width = 3, height = 3, offset = 118, row = 4;
    bitmap_header header;
    init_bitmap_header(&header, width, height, 4);
    const palette entries = test_palette(16);
    const bytes pixels = test_pixels(width, height, 4);
    const bytes file = file_of(header, entries.data(), pixels.data());
    const bytes expected = as_read(pixels, 4);
    for (size_t cut = 0; cut < file.size(); ++cut) {
        palette own_entries(16, {0xEE, 0xEE, 0xEE, 0xEE});
        bytes own_pixels(expected.size(), 0xEE);
        palette_entry *entries_at = own_entries.data();
        uint8_t *pixels_at = own_pixels.data();
        bitmap_header read;
        testing::internal::CaptureStdout();
        const bytes cut_file(file.begin(), file.begin() + cut);
        EXPECT_EQ(read_bitmap(stream_of(cut_file).get(), &read, &entries_at, &pixels_at, 0), -1);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out, cut < 54 ? header_line : cut < offset ? palette_line : data_line) << cut;
        EXPECT_EQ(own_entries[0].blue, cut < offset ? 0xEE : 0) << cut;
        const size_t rows_read = cut < offset ? 0 : (cut - offset) / row;
        for (size_t y = 0; y < height; ++y) {
            const bool is_read = y >= height - rows_read;
            const auto at = expected.begin() + y * width;
            EXPECT_EQ(bytes(own_pixels.begin() + y * width, own_pixels.begin() + (y + 1) * width),
                      is_read ? bytes(at, at + width) : bytes(width, 0xEE))
                << "cut " << cut << " row " << y;
        }
        // Buffers that read_bitmap allocates stay the caller's on failure too.
        palette_entry *new_entries = nullptr;
        uint8_t *new_pixels = nullptr;
        testing::internal::CaptureStdout();
        read_bitmap(stream_of(cut_file).get(), &read, &new_entries, &new_pixels, 0);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(new_pixels != nullptr, cut >= 54) << cut;
        std::free(new_entries);
        std::free(new_pixels);
    }
}

// A 60-byte file claiming a picture: beyond the limit it is refused before
// anything is allocated; at the limit it costs one allocation and fails.
TEST(read_bitmap, huge_claims_in_a_60_byte_file)
{
    struct claim {
        uint32_t side;
        std::string out;
    };
    const claim claims[] = {
        {65535, "error: check_bitmap_header() - unsupported size 0xFFFF x 0xFFFF\n" + header_line},
        {8192, data_line},  // 256 MiB at 32 bits
    };
    for (const claim &c : claims) {
        bitmap_header header, read;
        init_bitmap_header(&header, 8192, 8192, 32);
        header.width = header.height = c.side;
        bytes file = written([&](FILE *s) { write_bitmap_header(s, &header); });
        file.resize(60);
        uint8_t *pixels = nullptr;
        testing::internal::CaptureStdout();
        EXPECT_EQ(read_bitmap(stream_of(file).get(), &read, nullptr, &pixels, 0), -1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
        EXPECT_EQ(pixels != nullptr, c.side == 8192);
        std::free(pixels);
    }
}

// A record handed in unchecked is refused when its bit count or size could
// not be read safely; nothing is allocated.
TEST(read_bitmap, refuses_an_unchecked_record_it_cannot_read)
{
    bitmap_header bad_bits, too_big;
    init_bitmap_header(&bad_bits, 3, 2, 8);
    bad_bits.bit_count = 2;
    init_bitmap_header(&too_big, 3, 2, 32);
    too_big.width = too_big.height = 65535;
    for (bitmap_header *header : {&bad_bits, &too_big}) {
        uint8_t *pixels = nullptr;
        testing::internal::CaptureStdout();
        EXPECT_EQ(read_bitmap(stream_of(bytes(100)).get(), header, nullptr, &pixels, 1), -1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "error: read_bitmap() - bad bit count or size in header\n");
        EXPECT_EQ(pixels, nullptr);
    }
}

TEST(read_bitmap, no_place_for_pixels_reads_nothing)
{
    const file_ptr stream = stream_of(bytes(100));
    bitmap_header header;
    testing::internal::CaptureStdout();
    EXPECT_EQ(read_bitmap(stream.get(), &header, nullptr, nullptr, 0), -3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(std::ftell(stream.get()), 0);
}

// Reads a 256 MiB picture with the address space capped 64 MiB above what
// the process uses: the pixel buffer cannot be had.
bool runs_out_of_memory(const bytes &file)
{
    size_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t cap = pages * sysconf(_SC_PAGESIZE) + (rlim_t{64} << 20);
    const rlimit limit{cap, cap};
    setrlimit(RLIMIT_AS, &limit);
    bitmap_header header;
    uint8_t *pixels = nullptr;
    testing::internal::CaptureStdout();
    const int result = read_bitmap(stream_of(file).get(), &header, nullptr, &pixels, 0);
    return result == -2 && pixels == nullptr &&
           testing::internal::GetCapturedStdout() == "error: memory exhaust!\n";
}

TEST(read_bitmap, reports_memory_exhaust)
{
#ifdef READER_TEST_ASAN
    GTEST_SKIP() << "the sanitizer's allocator does not return null";
#endif
    bitmap_header header;
    init_bitmap_header(&header, 8192, 8192, 32);
    const bytes file = written([&](FILE *s) { write_bitmap_header(s, &header); });
    EXPECT_EXIT(std::exit(runs_out_of_memory(file) ? 0 : 1), testing::ExitedWithCode(0), "");
}

TEST(get_le, reads_little_endian_and_steps_past)
{
    const uint8_t b[] = {0x78, 0x56, 0x34, 0x12, 0xCD, 0xAB};
    const uint8_t *next = nullptr;
    EXPECT_EQ(get_le32(b, &next), 0x12345678u);
    EXPECT_EQ(get_le16(next, &next), 0xABCDu);
    EXPECT_EQ(next, b + 6);
    EXPECT_EQ(get_le32(b + 2, nullptr), 0xABCD1234u);
}

TEST(bitmap_row_bytes, gives_stored_row_sizes)
{
    struct row {
        int width, bit_count, bytes;
    };
    const row rows[] = {{1, 1, 4},  {9, 1, 4},  {33, 1, 8},  {3, 4, 4},        {9, 4, 8},
                        {3, 8, 4},  {1, 16, 4}, {5, 24, 16}, {3, 32, 12},      {0, 24, 0},
                        {3, 2, -1}, {3, 0, -1}, {-1, 8, -1}, {INT_MAX, 32, -1}};
    for (const row &r : rows)
        EXPECT_EQ(bitmap_row_bytes(r.width, r.bit_count), r.bytes)
            << r.width << " at " << r.bit_count;
}

// A count of 0 reads nothing and succeeds, as write_palette writes nothing.
TEST(read_palette, takes_0_to_256_entries_read_whole)
{
    const file_ptr stream = stream_of(bytes{1, 2, 3, 4, 5, 6, 7});
    palette_entry entries[2] = {{9, 9, 9, 9}, {9, 9, 9, 9}};
    EXPECT_EQ(read_palette(stream.get(), nullptr, 0), 0);
    EXPECT_EQ(write_palette(stream.get(), nullptr, 0), 0);
    EXPECT_EQ(read_palette(stream.get(), entries, -1), -1);
    EXPECT_EQ(read_palette(stream.get(), entries, 257), -1);
    EXPECT_EQ(std::ftell(stream.get()), 0);
    EXPECT_EQ(read_palette(stream.get(), entries, 2), -1);  // 7 bytes of 8
    EXPECT_EQ(entries[0].blue, 9);
}

// The tool's own sheet reads back with no warning and writes out again byte
// for byte.
TEST(read_bitmap, reads_the_tools_sheet_back)
{
    qtest::temp_dir dir;
    bytes tiles(65536);
    for (size_t i = 0; i < tiles.size(); ++i) tiles[i] = uint8_t(i * 37 >> 3);
    qtest::write_file(dir / "TILES.16", tiles);
    const auto tool = qtest::run(QELEGA_SHAPES_PATH, {dir / "TILES.16", dir / "sheet.bmp"});
    ASSERT_EQ(tool.status, 0) << tool.out;
    const bytes file = qtest::read_file(dir / "sheet.bmp");
    const read_result r = read_all(file);
    bitmap_header expected;
    init_bitmap_header(&expected, 256, 512, 4);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.header == expected);
    EXPECT_TRUE(std::equal(r.entries.begin(), r.entries.end(), ega_palette));
    EXPECT_EQ(file_of(r.header, r.entries.data(), r.pixels.data()), file);
}

}  // namespace
