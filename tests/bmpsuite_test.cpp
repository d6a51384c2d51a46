// Files made by others. ImageMagick's files at every bit count read back as
// the picture it was given, or are refused with the check's line. Both
// readers on the BMP Suite corpus, used in place when it is there: every file
// is refused cleanly or read with the pixels that ImageMagick decodes from it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "bitmap.h"
#include "test_support.h"

namespace {

using qtest::bytes;
namespace fs = std::filesystem;

// Red, green and blue per pixel, top row first; 16-bit pixels keep their
// 5 bits per channel in the top bits of each byte.
bytes to_rgb(const bitmap_header &h, const palette_entry *palette, const uint8_t *pixels)
{
    const size_t step = (h.bit_count + 7) / 8;
    bytes rgb;
    for (const uint8_t *p = pixels; p < pixels + size_t{h.width} * h.height * step; p += step) {
        const unsigned v = h.bit_count == 16 ? p[0] | p[1] << 8 : 0;  // 5-5-5, red highest
        const uint8_t bits16[] = {uint8_t(v << 3), uint8_t(v >> 2 & 0xF8), uint8_t(v >> 7 & 0xF8)};
        const uint8_t *c = h.bit_count <= 8 ? &palette[*p].blue : h.bit_count == 16 ? bits16 : p;
        rgb.insert(rgb.end(), {c[2], c[1], c[0]});  // c: blue, green, red
    }
    return rgb;
}

using reader = int (*)(FILE *, bitmap_header *, palette_entry **, uint8_t **);

int strict(FILE *stream, bitmap_header *h, palette_entry **palette, uint8_t **pixels)
{
    return read_bitmap(stream, h, palette, pixels, 0);
}

struct reading {
    int result;
    std::string out;  // what the reader printed
    bitmap_header header;
    bytes rgb;
};

reading read_with(reader read, const fs::path &path)
{
    FILE *stream = std::fopen(path.c_str(), "rb");
    reading r{};
    palette_entry *palette = nullptr;
    uint8_t *pixels = nullptr;
    testing::internal::CaptureStdout();
    r.result = read(stream, &r.header, &palette, &pixels);
    r.out = testing::internal::GetCapturedStdout();
    std::fclose(stream);
    if (r.result == 0) r.rgb = to_rgb(r.header, palette, pixels);
    std::free(palette), std::free(pixels);
    return r;
}

// Every file is refused with a line of the reader's own last, or read as the
// reference shows it. Each reader names files it must read: else refusing
// all would pass.
void check_corpus(reader read, const std::string &own_prefix, const std::set<std::string> &must_read,
                  int tolerance)
{
    const fs::path suite = QELEGA_BMPSUITE_DIR;
    for (const auto &entry : fs::recursive_directory_iterator(suite)) {
        if (entry.path().extension() != ".bmp") continue;
        const std::string name = fs::relative(entry.path(), suite).string();
        const reading r = read_with(read, entry.path());
        if (r.result != 0) {
            const std::string last_line = r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1);
            EXPECT_TRUE(r.result == -1 && last_line.starts_with(own_prefix)) << name << r.out;
            EXPECT_FALSE(must_read.contains(name)) << name << " refused";
            continue;
        }
        // The suite leaves questionable files open to more than one reading.
        if (name.starts_with("q/")) continue;
        const qtest::run_result decoded = qtest::run(
            qtest::imagemagick_convert, {"-regard-warnings", entry.path(), "-depth", "8", "rgba:-"});
        if (decoded.status != 0) continue;  // a bad file that ImageMagick also refuses or warns about
        ASSERT_EQ(r.rgb.size() / 3 * 4, decoded.out.size()) << name;
        const uint8_t low_bits = r.header.bit_count == 16 ? 0x07 : 0;
        for (size_t i = 0; i < r.rgb.size(); ++i) {
            const auto pixel = decoded.out.data() + i / 3 * 4;
            if (pixel[3] == 0) continue;  // a transparent pixel's colour means nothing
            const int want = static_cast<uint8_t>(pixel[i % 3]) & ~low_bits;
            ASSERT_LE(std::abs(r.rgb[i] - want), tolerance) << name << " byte " << i;
        }
    }
}

// A 7 x 5 picture of `colors` colors whose channels keep their top five
// bits through 5-bit storage, whether the encoder rounds or truncates.
bytes test_picture(int colors)
{
    const auto channel = [](unsigned v) { return uint8_t((v % 32 * 255 + 30) / 31); };
    bytes rgb;
    for (unsigned i = 0; i < 35; ++i) {
        const unsigned k = colors == 2 ? i % 3 == 0 : i % colors;
        rgb.insert(rgb.end(), {channel(k * 7 + 3), channel(30 - k), channel(k * 5 + 1)});
    }
    return rgb;
}

TEST(imagemagick_files, read_back_or_refused_with_the_right_line)
{
    QTEST_REQUIRE_PROGRAM(qtest::imagemagick_convert);
    const std::string check = "error: check_bitmap_header() - ";
    const std::string refused = "error: read_bitmap() - can't read bitmap header\n";
    struct encoding {
        int colors, bit_count;
        std::vector<std::string> options;  // the last one names the format
        std::string out;                   // when the reader refuses the file
    };
    const encoding encodings[] = {
        {2, 1, {"-type", "Palette", "BMP3"}, ""},
        {16, 4, {"-type", "Palette", "BMP3"}, ""},
        {35, 8, {"-type", "Palette", "-compress", "None", "BMP3"}, ""},
        {35, 24, {"-type", "TrueColor", "BMP3"}, ""},
        {35, 32, {"-alpha", "set", "-define", "bmp3:alpha=true", "BMP3"}, ""},
        // ImageMagick marks 16-bit files as bit fields with no masks stored:
        // refused as they are, read as 5-5-5 once marked uncompressed.
        {35, 16, {"-define", "bmp:subtype=RGB555", "BMP3"}, check + "not support compression\n" + refused},
        {35, 16, {"-define", "bmp:subtype=RGB555", "BMP3"}, ""},
    };
    bool marked = false;
    for (const encoding &e : encodings) {
        const qtest::temp_dir dir;
        bytes picture = test_picture(e.colors);
        qtest::write_file(dir / "in.rgb", picture);
        std::vector<std::string> args = {"-size", "7x5", "-depth", "8", "rgb:" + (dir / "in.rgb").string()};
        args.insert(args.end(), e.options.begin(), e.options.end());
        args.back() += ":" + (dir / "out.bmp").string();
        ASSERT_EQ(qtest::run(qtest::imagemagick_convert, args).status, 0) << args.back();
        if (e.bit_count == 16 && e.out.empty()) {
            bytes file = qtest::read_file(dir / "out.bmp");
            file[30] = 0;  // compression
            qtest::write_file(dir / "out.bmp", file);
            marked = true;
        }
        const reading r = read_with(strict, dir / "out.bmp");
        EXPECT_EQ(r.out, e.out) << args.back();
        if (!e.out.empty()) continue;
        EXPECT_EQ(r.header.bit_count, e.bit_count);
        for (uint8_t &c : picture) c &= e.bit_count == 16 ? 0xF8 : 0xFF;
        EXPECT_EQ(r.rgb, picture) << args.back();
    }
    EXPECT_TRUE(marked);
}

class bmpsuite : public testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(QELEGA_BMPSUITE_DIR)) GTEST_SKIP() << "no BMP Suite at " << QELEGA_BMPSUITE_DIR;
        QTEST_REQUIRE_PROGRAM(qtest::imagemagick_convert);
    }
};

TEST_F(bmpsuite, strict_reader)
{
    check_corpus(strict, "error: read_bitmap() - ",
                 {"g/pal1.bmp", "g/pal8-0.bmp", "g/rgb16.bmp", "g/rgb24.bmp", "g/rgb32.bmp"},
                 0);
}

TEST_F(bmpsuite, lenient_reader)
{
    check_corpus(read_bitmap_lenient, "error: read_bitmap_lenient() - ",
                 {"g/pal1.bmp", "g/pal4.bmp", "g/pal8.bmp", "g/pal8topdown.bmp", "g/pal8v4.bmp",
                  "g/pal8v5.bmp", "g/pal8w124.bmp", "g/rgb16-565.bmp", "g/rgb16bfdef.bmp",
                  "g/rgb24.bmp", "g/rgb32bf.bmp", "g/rgb32bfdef.bmp"},
                 1);  // short channels are stretched by repeating bits, not by rounding
}

}  // namespace
