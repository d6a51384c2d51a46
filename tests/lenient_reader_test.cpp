// The lenient BMP reader on files in the forms other programs save: each
// picture is written by our writer, then reshaped byte by byte (top-down
// rows, V4 and V5 headers, short palettes, gaps, bit fields) and must read
// back the same. Refusals are named one per row; damaged files are swept.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <vector>

#include <png.h>

#include "bitmap.h"
#include "test_support.h"

namespace {

using bytes = std::vector<uint8_t>;
using palette = std::vector<palette_entry>;

struct result {
    int status = 0;
    bitmap_header header{};
    palette colors;
    bytes pixels;
    std::string out;
};

// Reads through fmemopen so that the FILE* path is the one tested.
result read_lenient(bytes file)
{
    result r;
    FILE *stream = fmemopen(file.data(), file.size(), "rb");
    palette_entry *colors = nullptr;
    uint8_t *pixels = nullptr;
    testing::internal::CaptureStdout();
    r.status = read_bitmap_lenient(stream, &r.header, &colors, &pixels);
    r.out = testing::internal::GetCapturedStdout();
    std::fclose(stream);
    if (r.status == 0) {
        const size_t size = size_t{r.header.width} * r.header.height * ((r.header.bit_count + 7) / 8);
        r.pixels.assign(pixels, pixels + size);
        if (colors != nullptr) r.colors.assign(colors, colors + (size_t{1} << r.header.bit_count));
    }
    std::free(colors);
    std::free(pixels);
    return r;
}

bytes write_bmp(uint32_t width, uint32_t height, uint16_t bit_count, const palette_entry *colors,
                const bytes &pixels)
{
    bitmap_header header;
    init_bitmap_header(&header, width, height, bit_count);
    bytes file(header.file_length);
    FILE *stream = std::tmpfile();  // fmemopen would keep the last byte for a terminator
    write_bitmap(stream, &header, colors, pixels.data());
    std::rewind(stream);
    EXPECT_EQ(std::fread(file.data(), 1, file.size(), stream), file.size());
    std::fclose(stream);
    return file;
}

uint32_t get32(const bytes &f, size_t at) { return get_le32(f.data() + at, nullptr); }
void set32(bytes &f, size_t at, uint32_t v) { put_le32(f.data() + at, v); }
void set16(bytes &f, size_t at, uint16_t v) { put_le16(f.data() + at, v); }

// Inserts `count` zero bytes at `at`, moving the pixel data that far on.
void insert_at(bytes &f, size_t at, size_t count)
{
    f.insert(f.begin() + static_cast<long>(at), count, 0);
    set32(f, 10, get32(f, 10) + static_cast<uint32_t>(count));
}

void to_info_size(bytes &f, uint32_t size)
{
    insert_at(f, 54, size - 40);
    set32(f, 14, size);
}

void to_top_down(bytes &f)
{
    const uint32_t offset = get32(f, 10), height = get32(f, 22);
    const size_t row = (f.size() - offset) / height;
    std::vector<bytes> rows;
    for (uint32_t y = 0; y < height; ++y)
        rows.emplace_back(f.begin() + offset + y * row, f.begin() + offset + (y + 1) * row);
    for (uint32_t y = 0; y < height; ++y)
        std::copy(rows[height - 1 - y].begin(), rows[height - 1 - y].end(), f.begin() + offset + y * row);
    set32(f, 22, static_cast<uint32_t>(-static_cast<int32_t>(height)));
}

// Keeps the first `count` palette entries of a V3 file and says so in colors_used.
void to_short_palette(bytes &f, uint32_t count)
{
    const uint32_t dropped = (get32(f, 10) - 54) / 4 - count;
    f.erase(f.begin() + 54 + 4 * count, f.begin() + 54 + 4 * (count + dropped));
    set32(f, 10, get32(f, 10) - 4 * dropped);
    set32(f, 46, count);
}

struct shape {
    const char *name;
    std::function<void(bytes &)> change;
};

const std::vector<shape> shapes = {
    {"as written", [](bytes &) {}},
    {"top-down", to_top_down},
    {"V4 header", [](bytes &f) { to_info_size(f, 108); }},
    {"V5 header, top-down", [](bytes &f) { to_info_size(f, 124), to_top_down(f); }},
    {"gap before the pixels", [](bytes &f) { insert_at(f, get32(f, 10), 5); }},
    {"short palette", [](bytes &f) {
         if (get32(f, 10) > 54) to_short_palette(f, (get32(f, 10) - 54) / 8);
     }},
};

class lenient_shapes : public testing::TestWithParam<std::tuple<int, int>> {};

// Every shape of the same picture reads back as the picture that was
// written, with the record init_bitmap_header makes. Palette entries past
// half are black, so that a short palette padded with black is the same.
TEST_P(lenient_shapes, every_shape_reads_back_the_written_picture)
{
    const auto [bit_count, width] = GetParam();
    const uint32_t height = 5, pixel_bytes = (bit_count + 7) / 8;
    const int entries = bit_count <= 8 ? 1 << bit_count : 0;
    std::mt19937 random(static_cast<unsigned>(bit_count * 100 + width));
    palette colors(std::max(entries, 1), palette_entry{});
    for (int i = 0; i < entries / 2; ++i)
        colors[i] = {uint8_t(random()), uint8_t(random()), uint8_t(random()), 0};
    bytes pixels(width * height * pixel_bytes);
    for (uint8_t &p : pixels) p = static_cast<uint8_t>(entries != 0 ? random() % std::max(entries / 2, 1) : random());
    bitmap_header expected;
    init_bitmap_header(&expected, width, height, static_cast<uint16_t>(bit_count));
    const bytes file = write_bmp(width, height, static_cast<uint16_t>(bit_count), colors.data(), pixels);

    for (const shape &s : shapes) {
        bytes changed = file;
        s.change(changed);
        const result r = read_lenient(changed);
        ASSERT_EQ(r.status, 0) << s.name << "\n" << r.out;
        EXPECT_EQ(0, std::memcmp(&r.header, &expected, sizeof expected)) << s.name;
        EXPECT_EQ(r.pixels, pixels) << s.name;
        if (entries != 0) {
            EXPECT_EQ(0, std::memcmp(r.colors.data(), colors.data(), 4 * entries)) << s.name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(bit_counts_and_widths, lenient_shapes,
                         testing::Combine(testing::Values(1, 4, 8, 16, 24, 32),
                                          testing::Values(1, 3, 7, 9, 31, 33)));

// A bit-field file: pixels given as stored, masks after a V3 header or inside
// a V5 one. Both must give the same 24-bit pixels.
struct bitfield_case {
    const char *name;
    uint16_t bit_count;
    uint32_t masks[3];  // red, green, blue
    bytes stored;       // one row of 3 pixels, as in the file
    bytes expected;     // blue, green, red of each pixel
};

bytes bitfield_file(const bitfield_case &c, bool v5)
{
    bytes file = write_bmp(3, 1, c.bit_count, nullptr, bytes(3 * c.bit_count / 8, 0));
    std::copy(c.stored.begin(), c.stored.end(), file.begin() + 54);
    set32(file, 30, 3);
    to_info_size(file, v5 ? 124 : 52);
    if (!v5) set32(file, 14, 40);  // V3: the masks follow the header
    for (int i = 0; i < 3; ++i) set32(file, 54 + 4 * i, c.masks[i]);
    return file;
}

TEST(lenient_reader, bit_fields_become_24_bit_pixels)
{
    const bitfield_case cases[] = {
        {"5-6-5", 16, {0xF800, 0x07E0, 0x001F}, {0x00, 0xF8, 0xE0, 0x07, 0x10, 0x84},
         {0, 0, 255, 0, 255, 0, 132, 130, 132}},
        {"5-5-5, bit 15 ignored", 16, {0x7C00, 0x03E0, 0x001F}, {0x00, 0x7C, 0x10, 0xC2, 0x00, 0x80},
         {0, 0, 255, 132, 132, 132, 0, 0, 0}},
        {"4-4-4", 16, {0x0F00, 0x00F0, 0x000F}, {0x80, 0x0F, 0x0F, 0x00, 0x00, 0xF0},
         {0, 136, 255, 255, 0, 0, 0, 0, 0}},
        {"8-8-8-8", 32, {0xFF0000, 0xFF00, 0xFF}, {10, 20, 30, 40, 1, 2, 3, 4, 0, 0, 0, 255},
         {10, 20, 30, 1, 2, 3, 0, 0, 0}},
        {"red and blue swapped", 32, {0xFF, 0xFF00, 0xFF0000}, {10, 20, 30, 40, 1, 2, 3, 4, 0, 0, 0, 255},
         {30, 20, 10, 3, 2, 1, 0, 0, 0}},
    };
    for (const bitfield_case &c : cases)
        for (bool v5 : {false, true}) {
            const result r = read_lenient(bitfield_file(c, v5));
            ASSERT_EQ(r.status, 0) << c.name << "\n" << r.out;
            EXPECT_EQ(r.header.bit_count, 24) << c.name;
            EXPECT_EQ(r.pixels, c.expected) << c.name << (v5 ? " V5" : " V3");
        }
}

// A 4-bit, 3 x 2 file as our writer makes it.
bytes small_file()
{
    static const palette_entry colors[16] = {};
    return write_bmp(3, 2, 4, colors, bytes(6, 1));
}

TEST(lenient_reader, refusals_name_their_reason)
{
    const char *prefix = "error: read_bitmap_lenient() - ";
    const struct {
        std::function<void(bytes &)> change;
        std::string message;
    } cases[] = {
        {[](bytes &f) { f[0] = 'X'; }, "not a bmp file"},
        {[](bytes &f) { f.resize(30); }, "can't read bitmap header"},
        {[](bytes &f) { set32(f, 14, 12); }, "info header size 0xC not supported"},
        {[](bytes &f) { set32(f, 14, 64); }, "info header size 0x40 not supported"},
        {[](bytes &f) { set16(f, 26, 2); }, "planes 0x2 != 1"},
        {[](bytes &f) { set32(f, 30, 1); }, "run-length compression not supported"},
        {[](bytes &f) { set32(f, 30, 2); }, "run-length compression not supported"},
        {[](bytes &f) { set32(f, 30, 4); }, "jpeg or png inside bmp not supported"},
        {[](bytes &f) { set32(f, 30, 5); }, "jpeg or png inside bmp not supported"},
        {[](bytes &f) { set32(f, 30, 6); }, "compression 0x6 not supported"},
        {[](bytes &f) { set16(f, 28, 2); }, "bit count 0x2 not supported"},
        {[](bytes &f) { set32(f, 30, 3); }, "bit fields at bit count 0x4 not supported"},
        {[](bytes &f) { set32(f, 46, 17); }, "colors used 0x11 > 0x10"},
        {[](bytes &f) { set32(f, 18, 0); }, "width 0x0 not supported"},
        {[](bytes &f) { set32(f, 18, 0xFFFFFFFD); }, "width 0xFFFFFFFD not supported"},
        {[](bytes &f) { set32(f, 22, 0); }, "height 0x0 not supported"},
        {[](bytes &f) { set32(f, 22, 0x80000000); }, "height 0x80000000 not supported"},
        {[](bytes &f) { set32(f, 18, 0x7FFFFFFF), set32(f, 22, 0x7FFFFFFF); },
         "size 0x7FFFFFFF x 0x7FFFFFFF too large"},
        {[](bytes &f) { set32(f, 10, 117); }, "offset 0x75 inside the headers"},
        {[](bytes &f) { f.pop_back(); }, "can't read bitmap data"},
        {[](bytes &f) { set32(f, 22, 3); }, "can't read bitmap data"},
    };
    for (const auto &c : cases) {
        bytes file = small_file();
        c.change(file);
        const result r = read_lenient(file);
        EXPECT_EQ(r.status, -1) << c.message;
        EXPECT_EQ(r.out, prefix + c.message + "\n");
    }
    const struct {
        uint32_t masks[3];
    } bad_masks[] = {{{0x7C01, 0x03E0, 0x001F}}, {{0, 0x03E0, 0x001F}}, {{0x1FF00, 0xE0, 0x1F}}};
    for (const auto &m : bad_masks) {
        const result r = read_lenient(bitfield_file({"", 16, {m.masks[0], m.masks[1], m.masks[2]}, {}, {}}, true));
        EXPECT_EQ(r.status, -1);
        EXPECT_NE(r.out.find("bit masks"), std::string::npos) << r.out;
    }
    bitmap_header header;
    EXPECT_EQ(read_bitmap_lenient(nullptr, &header, nullptr, nullptr), -3);
}

// Flips every header byte and cuts the file at every length: the reader
// gives 0 or -1, never crashes, and what it accepts is a consistent picture
// that the writer can write out (ASan checks the buffer sizes).
TEST(lenient_reader, damaged_files_never_crash)
{
    bitfield_case five_six_five{"", 16, {0xF800, 0x07E0, 0x001F}, bytes(6, 0x5A), {}};
    bytes short_palette = write_bmp(5, 3, 8, nullptr, bytes(15, 2));
    to_short_palette(short_palette, 3);
    bytes top_down = bitfield_file(five_six_five, true);
    to_top_down(top_down);
    testing::internal::CaptureStdout();
    for (const bytes &good : {small_file(), top_down, short_palette}) {
        const size_t header_end = get32(good, 10);
        std::vector<bytes> damaged;
        for (size_t at = 0; at < header_end; ++at) {
            bytes values = {0, 255, static_cast<uint8_t>(~good[at])};
            for (int bit = 0; bit < 8; ++bit) values.push_back(static_cast<uint8_t>(good[at] ^ 1 << bit));
            for (uint8_t v : values) {
                damaged.push_back(good);
                damaged.back()[at] = v;
            }
        }
        for (size_t length = 0; length < good.size(); ++length)
            damaged.emplace_back(good.begin(), good.begin() + static_cast<long>(length));
        for (bytes &file : damaged) {
            FILE *stream = fmemopen(file.data(), file.size(), "rb");
            bitmap_header header{};
            palette_entry *colors = nullptr;
            uint8_t *pixels = nullptr;
            const int status = stream != nullptr ? read_bitmap_lenient(stream, &header, &colors, &pixels) : -1;
            EXPECT_TRUE(status == 0 || status == -1) << status;
            if (status == 0) {
                FILE *sink = std::tmpfile();
                EXPECT_EQ(write_bitmap(sink, &header, colors, pixels), 0);
                std::fclose(sink);
            }
            if (stream != nullptr) std::fclose(stream);
            std::free(colors);
            std::free(pixels);
        }
    }
    testing::internal::GetCapturedStdout();
}

// The suite's description page names each file's reference picture: the
// first PNG in the file's table row.
std::map<std::string, std::string> suite_references(const std::filesystem::path &suite)
{
    const bytes page = qtest::read_file(suite / "html" / "bmpsuite.html");
    const std::string html(page.begin(), page.end());
    std::map<std::string, std::string> references;
    for (size_t row = html.find("<tr"); row != std::string::npos;) {
        const size_t next = html.find("<tr", row + 1);
        const std::string cells = html.substr(row, next - row);
        const size_t name_end = cells.find(".bmp</td>"), image = cells.find("<img src=\"");
        const size_t image_end = cells.find(".png\"", image);
        if (name_end != std::string::npos && image != std::string::npos && image_end != std::string::npos) {
            const size_t name = cells.rfind('>', name_end) + 1;
            references[cells.substr(name, name_end + 4 - name)] =
                cells.substr(image + 10, image_end + 4 - image - 10);
        }
        row = next;
    }
    return references;
}

// A reference picture as blue, green, red, alpha, read by libpng itself.
bytes reference_pixels(const std::filesystem::path &path, uint32_t *width, uint32_t *height)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return {};
    image.format = PNG_FORMAT_BGRA;
    bytes pixels(PNG_IMAGE_SIZE(image));
    *width = image.width;
    *height = image.height;
    if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) == 0) return {};
    return pixels;
}

// References that no reader without colour management or pixel aspect can meet.
const std::set<std::string> unmatched = {
    "g/pal8nonsquare.bmp",  // stretched to square pixels
    "q/rgb24prof2.bmp",     // its colour profile swaps red and green back
};

// Every suite file is read or refused with one line, never a crash; every
// file read matches its reference picture where that is opaque, within 1 per
// channel (the suite rounds channels of under 8 bits, we repeat their bits).
TEST(lenient_reader, bmp_suite_files_match_their_references)
{
    const std::filesystem::path suite = QELEGA_BMPSUITE_DIR;
    if (!std::filesystem::exists(suite)) GTEST_SKIP() << "no BMP suite at " << suite;
    const auto references = suite_references(suite);
    int compared = 0;
    for (const char *folder : {"g", "q", "b", "x"})
        for (const auto &entry : std::filesystem::directory_iterator(suite / folder)) {
            const std::string name = std::string(folder) + "/" + entry.path().filename().string();
            const result r = read_lenient(qtest::read_file(entry.path()));
            if (r.status != 0) {
                EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << name << ": " << r.out;
                continue;
            }
            const auto reference = references.find(name);
            if (reference == references.end() || unmatched.count(name) != 0) continue;
            uint32_t width = 0, height = 0;
            const bytes expected = reference_pixels(suite / "html" / reference->second, &width, &height);
            ASSERT_EQ(width, r.header.width) << name;
            ASSERT_EQ(height, r.header.height) << name;
            uint8_t *bgr = nullptr;
            ASSERT_EQ(convert_bitmap_pixels(int(width), int(height), r.header.bit_count,
                                            r.colors.empty() ? nullptr : r.colors.data(),
                                            r.pixels.data(), 24, nullptr, &bgr), 0);
            int off = 0;
            for (size_t i = 0; i < size_t{width} * height; ++i)
                for (int c = 0; c < 3 && expected[4 * i + 3] == 255; ++c)
                    off += std::abs(bgr[3 * i + c] - expected[4 * i + c]) > 1;
            std::free(bgr);
            EXPECT_EQ(off, 0) << name << " against " << reference->second;
            ++compared;
        }
    EXPECT_GE(compared, 30);
}

}  // namespace
