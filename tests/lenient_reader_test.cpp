// The lenient BMP reader on the forms other programs save. Pictures come from
// our writer, reshaped byte by byte (header sizes, row order, short palettes,
// gaps, bit fields) or saved again by ImageMagick, and must read back as written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bitmap.h"
#include "test_support.h"

namespace {

using qtest::bytes;

struct result { int status; bitmap_header header; bytes colors, pixels; std::string out; };

// Copies out as many bytes as the record describes (ASan checks the buffers
// are that large) and frees both buffers whatever the outcome.
result read_lenient(bytes file)
{
    result r{};
    palette_entry *colors = nullptr;
    uint8_t *pixels = nullptr;
    FILE *stream = fmemopen(file.data(), file.size(), "rb");
    testing::internal::CaptureStdout();
    r.status = read_bitmap_lenient(stream, &r.header, &colors, &pixels);
    r.out = testing::internal::GetCapturedStdout();
    std::fclose(stream);
    const size_t size = size_t{r.header.width} * r.header.height * ((r.header.bit_count + 7) / 8);
    if (r.status == 0) r.pixels.assign(pixels, pixels + size);
    if (r.status == 0 && colors != nullptr) r.colors.assign(&colors->blue, &colors->blue + (4 << r.header.bit_count));
    std::free(colors), std::free(pixels);
    return r;
}

bytes write_bmp(uint32_t width, uint32_t height, int bits, const bytes &pixels, const bytes &colors = bytes(1024))
{
    bitmap_header header;
    init_bitmap_header(&header, width, height, static_cast<uint16_t>(bits));
    const qtest::temp_dir dir;
    FILE *stream = std::fopen((dir / "written.bmp").c_str(), "wb");
    EXPECT_EQ(write_bitmap(stream, &header, reinterpret_cast<const palette_entry *>(colors.data()), pixels.data()), 0);
    std::fclose(stream);
    return qtest::read_file(dir / "written.bmp");
}

void set32(bytes &f, size_t at, uint32_t v) { put_le32(f.data() + at, v); }

// A form other programs save: info header size, row order, palette cut to half
// its entries (at least 2) as colors_used says, bytes before the pixels, and
// bit-field masks (red, green, blue) after a V3 header or inside a larger one.
struct shape {
    uint32_t info_size; bool top_down = false, short_palette = false; uint32_t gap = 0; std::vector<uint32_t> masks{};
};

// Reshapes a V3 file of our writer.
bytes reshape(bytes f, const shape &s)
{
    const uint32_t offset = get_le32(f.data() + 10, nullptr), height = get_le32(f.data() + 22, nullptr);
    const size_t data = f.size() - offset, row = data / height, kept = std::max((offset - 54) / 8, 2u);
    if (s.top_down) std::reverse(f.begin() + offset, f.end()), set32(f, 22, 0u - height);
    for (size_t at = offset; s.top_down && at < f.size(); at += row) std::reverse(f.begin() + at, f.begin() + at + row);
    f.insert(f.begin() + offset, s.gap, 0);
    if (s.short_palette && offset > 54) f.erase(f.begin() + 54 + 4 * kept, f.begin() + offset), set32(f, 46, kept);
    f.insert(f.begin() + 54, std::max<size_t>(s.info_size - 40, 4 * s.masks.size()), 0);
    for (size_t i = 0; i < s.masks.size(); ++i) set32(f, 54 + 4 * i, s.masks[i]), set32(f, 30, 3);
    set32(f, 14, s.info_size), set32(f, 10, static_cast<uint32_t>(f.size() - data));
    return f;
}

// Every form reads back as the picture written, with the record
// init_bitmap_header makes. Pixels use only the entries a short palette
// keeps; the rest are black, as the reader pads it.
TEST(lenient_reader, every_form_reads_back_the_written_picture)
{
    const shape shapes[] = {{40}, {40, true}, {52, false, true}, {56, true, false, 3}, {108}, {124, true, true, 5}};
    for (int bits : {1, 4, 8, 16, 24, 32})
        for (uint32_t width : {1u, 3u, 33u}) {
            const uint32_t entries = bits <= 8 ? 1u << bits : 0, used = std::max(entries / 2, 2u);
            bytes colors(4 * 256), pixels(width * 5 * ((bits + 7) / 8));
            std::generate_n(colors.begin(), 4 * used, std::rand);
            for (uint8_t &p : pixels) p = uint8_t(entries != 0 ? std::rand() % used : std::rand());
            bitmap_header expected;
            init_bitmap_header(&expected, width, 5, static_cast<uint16_t>(bits));
            for (const shape &s : shapes) {
                SCOPED_TRACE(testing::Message() << bits << " bits, width " << width << ", info " << s.info_size);
                const result r = read_lenient(reshape(write_bmp(width, 5, bits, pixels, colors), s));
                EXPECT_EQ(0, std::memcmp(&r.header, &expected, sizeof expected)) << r.out;
                EXPECT_EQ(r.pixels, pixels);
                EXPECT_EQ(r.colors, bytes(colors.begin(), colors.begin() + 4 * entries));
            }
        }
}

// Each channel is stretched to 8 bits by repeating its bits, wherever the
// masks put it; rows of 3 pixels, the masks inside a 56-byte header.
TEST(lenient_reader, bit_fields_become_24_bit_pixels)
{
    const struct {
        int bits;
        std::vector<uint32_t> masks;  // blue, green, red
        bytes stored, expected;
    } cases[] = {
        {.bits = 16, .masks = {0xF800, 0x07E0, 0x001F}, .stored = {0x00, 0xF8, 0xE0, 0x07, 0x10, 0x84},
         .expected = {0, 0, 255, 0, 255, 0, 132, 130, 132}},
        {.bits = 32, .masks = {0xFF, 0xFF00, 0xFF0000}, .stored = {10, 20, 30, 40, 1, 2, 3, 4, 0, 0, 0, 255},
         .expected = {30, 20, 10, 3, 2, 1, 0, 0, 0}},
    };
    for (const auto &[bits, masks, stored, expected] : cases)
        EXPECT_EQ(read_lenient(reshape(write_bmp(3, 1, bits, stored), {56, true, false, 0, masks})).pixels, expected);
}

// A 4-bit file, or a 5-6-5 one with its masks after the V3 header (54 is the
// red mask), with one field set or cut short: refused with the reason named,
// before anything is allocated.
TEST(lenient_reader, damaged_or_unsupported_files_are_refused)
{
    const bytes files[] = {write_bmp(3, 2, 4, bytes(6, 1)),
                           reshape(write_bmp(3, 1, 16, bytes(6)), {40, false, false, 0, {0xF800, 0x7E0, 0x1F}})};
    const struct {
        int file;
        long field;  // -1: cut the file to `value` bytes
        uint32_t value;
        std::string message;
    } cases[] = {
        {.file = 0, .field = 0, .value = 'X', .message = "not a bmp file"},
        {.file = 0, .field = 14, .value = 64, .message = "info header size 0x40 not supported"},
        {.file = 0, .field = 30, .value = 1, .message = "run-length compression not supported"},
        {.file = 0, .field = 30, .value = 5, .message = "jpeg or png inside bmp not supported"},
        {.file = 0, .field = 30, .value = 3, .message = "bit fields at bit count 0x4 not supported"},
        {.file = 0, .field = 46, .value = 17, .message = "colors used 0x11 > 0x10"},
        {.file = 1, .field = 54, .value = 0x7C01, .message = "bit masks 0x7C01 0x7E0 0x1F not supported"},
        {.file = 0, .field = 10, .value = 117, .message = "offset 0x75 inside the headers"},
        {.file = 0, .field = 22, .value = 0x80000000, .message = "height 0x80000000 not supported"},
        {.file = 0, .field = 18, .value = 0x7FFFFFFF, .message = "size 0x7FFFFFFF x 0x2 too large"},
        {.file = 0, .field = -1, .value = 30, .message = "can't read bitmap header"},
        {.file = 1, .field = -1, .value = 60, .message = "can't read bit masks"},
        {.file = 0, .field = -1, .value = 100, .message = "can't read palette"},
        {.file = 0, .field = -1, .value = 123, .message = "can't read bitmap data"},
    };
    for (const auto &[file, at, value, message] : cases) {
        bytes changed = files[file];
        at < 0 ? changed.resize(value) : set32(changed, at, value);
        const result r = read_lenient(changed);
        EXPECT_EQ(std::pair(r.status, r.out), std::pair(-1, "error: read_bitmap_lenient() - " + message + "\n"));
    }
    EXPECT_EQ(read_bitmap_lenient(nullptr, nullptr, nullptr, nullptr), -3);
}

// ImageMagick's V5 headers with 5-6-5, 4-4-4-4, 1-5-5-5 and 8-8-8-8 bit fields,
// alpha kept; every channel is 0 or 255, which none of them changes.
TEST(lenient_reader, pictures_saved_by_imagemagick)
{
    QTEST_REQUIRE_PROGRAM(qtest::imagemagick_convert);
    const qtest::temp_dir dir;
    bytes pixels(13 * 5 * 3);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = (i * 2654435761u >> 13) % 2 * 255;
    qtest::write_file(dir / "ours.bmp", write_bmp(13, 5, 24, pixels));
    for (const std::string subtype : {"RGB565", "ARGB4444", "ARGB1555", "ARGB8888"}) {
        ASSERT_EQ(qtest::run(qtest::imagemagick_convert, {"ours.bmp", "-define", "bmp:subtype=" + subtype, "-type",
                             subtype[0] == 'A' ? "truecolormatte" : "truecolor", "out.bmp"}, {}, dir.path()).status, 0);
        EXPECT_EQ(read_lenient(qtest::read_file(dir / "out.bmp")).pixels, pixels) << subtype;
    }
}

}  // namespace
