// BMP files made by others, read by our reader: ImageMagick's encoder at the
// depths it writes in our layout, and the BMP Suite corpus, used in place.
// Pixels are compared with what the encoder was given, or with the suite's
// reference PNGs as ImageMagick decodes them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bitmap.h"
#include "test_support.h"

namespace {

using qtest::bytes;
namespace fs = std::filesystem;

const std::string header_line = "error: read_bitmap() - can't read bitmap header\n";

struct decoded {
    int result = 0;
    std::string out;
    int bit_count = 0;
    bytes rgb;  // red, green, blue per pixel, top row first
};

// 16-bit pixels keep their 5 bits per channel in the top bits of each byte;
// compare them with top5() of the 8-bit original.
bytes to_rgb(const bitmap_header &h, const palette_entry *palette, const uint8_t *pixels)
{
    const size_t count = size_t{h.width} * h.height, step = (h.bit_count + 7) / 8;
    bytes rgb;
    for (const uint8_t *p = pixels; p < pixels + count * step; p += step) {
        if (h.bit_count <= 8) {
            rgb.insert(rgb.end(), {palette[*p].red, palette[*p].green, palette[*p].blue});
        } else if (h.bit_count == 16) {
            const unsigned v = p[0] | p[1] << 8;
            for (unsigned shift : {10, 5, 0}) rgb.push_back(uint8_t((v >> shift & 31) << 3));
        } else {
            rgb.insert(rgb.end(), {p[2], p[1], p[0]});
        }
    }
    return rgb;
}

bytes top5(bytes rgb)
{
    for (uint8_t &c : rgb) c &= 0xF8;
    return rgb;
}

// Channels that come to the same 5 bits whether an encoder takes the top
// bits or scales by 31 / 255 and rounds either way.
bytes exact5(bytes rgb)
{
    for (uint8_t &c : rgb) c = uint8_t(((c >> 3) * 255 + 30) / 31);
    return rgb;
}

decoded read_rgb(const fs::path &path)
{
    FILE *stream = std::fopen(path.c_str(), "rb");
    bitmap_header header;
    palette_entry *palette = nullptr;
    uint8_t *pixels = nullptr;
    decoded d;
    testing::internal::CaptureStdout();
    d.result = read_bitmap(stream, &header, &palette, &pixels, 0);
    d.out = testing::internal::GetCapturedStdout();
    std::fclose(stream);
    if (d.result == 0) {
        d.bit_count = header.bit_count;
        d.rgb = to_rgb(header, palette, pixels);
    }
    std::free(palette);
    std::free(pixels);
    return d;
}

// Any picture file as 8-bit RGB, by ImageMagick.
bytes decode_rgb(const fs::path &path)
{
    const std::string out =
        qtest::run(qtest::imagemagick_convert, {path, "-depth", "8", "rgb:-"}).out;
    return bytes(out.begin(), out.end());
}

// 7 x 5 pictures with two, sixteen and thirty-five colours, so that the
// encoder picks 1, 4 and 8 bits.
constexpr uint32_t width = 7, height = 5;

bytes test_picture(int colours)
{
    bytes rgb;
    for (uint32_t i = 0; i < width * height; ++i) {
        const uint32_t k = colours == 2 ? i % 3 == 0 : i % colours;
        rgb.insert(rgb.end(), {uint8_t(k * 71 + 9), uint8_t(250 - k * 13), uint8_t(k * 5 + 1)});
    }
    return rgb;
}

struct encoder_case {
    const char *name;
    int colours;
    std::vector<std::string> options;
    std::string format;
    int bit_count;    // what the encoder must write, when the file is read
    std::string out;  // what the reader prints, when it refuses the file
};

const encoder_case encoder_cases[] = {
    {"1 bit", 2, {"-type", "Palette"}, "BMP3", 1, ""},
    {"4 bits", 16, {"-type", "Palette"}, "BMP3", 4, ""},
    {"8 bits", 35, {"-type", "Palette", "-compress", "None"}, "BMP3", 8, ""},
    {"24 bits", 35, {"-type", "TrueColor"}, "BMP3", 24, ""},
    {"32 bits", 35, {"-alpha", "set", "-define", "bmp3:alpha=true"}, "BMP3", 32, ""},
    {"RLE8",
     35,
     {"-type", "Palette", "-compress", "RLE"},
     "BMP3",
     0,
     "error: check_bitmap_header() - not support compression\n"},
    {"16-bit 5-5-5 as bit fields",
     35,
     {"-define", "bmp:subtype=RGB555"},
     "BMP3",
     0,
     "error: check_bitmap_header() - not support compression\n"},
    {"V5 header",
     35,
     {},
     "BMP",
     0,
     "error: check_bitmap_header() - not supported header type - support only Windows V3\n"},
};

fs::path encode(const qtest::temp_dir &dir, const encoder_case &c, const bytes &picture)
{
    qtest::write_file(dir / "in.rgb", picture);
    std::vector<std::string> args = {"-size", "7x5", "-depth", "8",
                                     "rgb:" + (dir / "in.rgb").string()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(c.format + ":" + (dir / "out.bmp").string());
    EXPECT_EQ(qtest::run(qtest::imagemagick_convert, args).status, 0) << c.name;
    return dir / "out.bmp";
}

TEST(imagemagick_files, read_back_or_are_refused_with_the_right_line)
{
    QTEST_REQUIRE_PROGRAM(qtest::imagemagick_convert);
    for (const encoder_case &c : encoder_cases) {
        qtest::temp_dir dir;
        const decoded d = read_rgb(encode(dir, c, test_picture(c.colours)));
        if (c.out.empty()) {
            EXPECT_EQ(d.result, 0) << c.name << ": " << d.out;
            EXPECT_EQ(d.bit_count, c.bit_count) << c.name;
            EXPECT_EQ(d.rgb, test_picture(c.colours)) << c.name;
        } else {
            EXPECT_EQ(d.result, -1) << c.name;
            EXPECT_EQ(d.out, c.out + header_line) << c.name;
        }
    }
}

// ImageMagick marks its 16-bit files as bit fields but stores no masks, so
// their pixels are in the 5-5-5 layout that uncompressed 16-bit files use.
TEST(imagemagick_files, sixteen_bit_pixels_read_as_5_5_5)
{
    QTEST_REQUIRE_PROGRAM(qtest::imagemagick_convert);
    qtest::temp_dir dir;
    const bytes picture = exact5(test_picture(35));
    const fs::path path = encode(dir, encoder_cases[6], picture);
    bytes file = qtest::read_file(path);
    ASSERT_EQ(file.size(), 54u + bitmap_row_bytes(width, 16) * height);
    file[30] = 0;  // compression
    qtest::write_file(path, file);
    const decoded d = read_rgb(path);
    EXPECT_EQ(d.result, 0) << d.out;
    EXPECT_EQ(d.rgb, top5(picture));
}

const fs::path suite = QELEGA_BMPSUITE_DIR;

// The reference PNG that the suite's table gives for a file, or "" for none.
std::string reference_png(const std::string &table, const std::string &name)
{
    const size_t row = table.find(">" + name + "</td>");
    const size_t row_end = table.find("</tr>", row);
    const size_t img = table.find("<img src=\"", row);
    if (row == std::string::npos || img > row_end) return "";
    const size_t start = img + 10;
    const std::string file = table.substr(start, table.find('"', start) - start);
    return file.starts_with("../") ? "" : file;
}

// Whatever the suite holds, the reader refuses it or reads the pixels of its
// reference picture; never a crash, never a result other than 0 or -1.
TEST(bmpsuite, every_file_is_refused_or_read_right)
{
    if (!fs::exists(suite)) GTEST_SKIP() << "no BMP Suite at " << suite;
    QTEST_REQUIRE_PROGRAM(qtest::imagemagick_convert);
    const bytes html = qtest::read_file(suite / "html" / "bmpsuite.html");
    const std::string table(html.begin(), html.end());
    int compared = 0;
    for (const auto &entry : fs::recursive_directory_iterator(suite)) {
        if (entry.path().extension() != ".bmp") continue;
        const std::string name = fs::relative(entry.path(), suite).string();
        const decoded d = read_rgb(entry.path());
        EXPECT_TRUE(d.result == 0 || d.result == -1) << name << " gave " << d.result;
        const std::string png = reference_png(table, name);
        if (d.result != 0 || png.empty()) continue;
        const bytes expected = decode_rgb(suite / "html" / png);
        EXPECT_EQ(d.rgb, d.bit_count == 16 ? top5(expected) : expected) << name;
        ++compared;
    }
    EXPECT_GE(compared, 9);
}

// Files in our layout are read; the usual reasons for refusing others each
// give their own line.
TEST(bmpsuite, known_files_give_known_results)
{
    if (!fs::exists(suite)) GTEST_SKIP() << "no BMP Suite at " << suite;
    const std::pair<const char *, std::string> cases[] = {
        {"g/pal1.bmp", ""},
        {"g/rgb24.bmp", ""},
        {"g/pal8-0.bmp",
         "warning: check_bitmap_header() - data length is 0 ... corrected: 0x2000\n"},
        {"g/pal8v4.bmp",
         "error: check_bitmap_header() - not supported header type - support only Windows V3\n" +
             header_line},
        {"g/pal8rle.bmp", "error: check_bitmap_header() - not support compression\n" + header_line},
        {"g/pal8topdown.bmp",
         "error: check_bitmap_header() - unsupported size 0x7F x 0xFFFFFFC0\n" + header_line},
        {"g/pal8.bmp", "error: check_bitmap_header() - offset size 0x426 != 0x436\n" + header_line},
        {"b/reallybig.bmp",
         "error: check_bitmap_header() - unsupported size 0x2DC6C0 x 0x1E8480\n" + header_line},
        {"b/shortfile.bmp", "error: read_bitmap() - can't read bitmap data\n"},
    };
    for (const auto &[name, out] : cases) EXPECT_EQ(read_rgb(suite / name).out, out) << name;
}

}  // namespace
