// qelega_pack: packing against drawing, the round trip through both real
// programs on random tile files, sheets saved by ImageMagick and Pillow, and
// the messages and exit statuses of the command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "test_support.h"
#include "tiles.h"

namespace {

using qtest::bytes;
namespace fs = std::filesystem;

bytes random_tiles(int pixels_per_byte, unsigned seed)
{
    std::mt19937 random(seed);
    bytes tiles(tile_file_bytes(pixels_per_byte));
    for (uint8_t &b : tiles) b = static_cast<uint8_t>(random());
    return tiles;
}

qtest::run_result pack(const std::vector<std::string> &args, const fs::path &cwd,
                       const std::string &input = {})
{
    return qtest::run(QELEGA_PACK_PATH, args, input, cwd);
}

// Exports tiles.bin as sheet.bmp, without remaking water, as the users will.
bytes export_sheet(const qtest::temp_dir &dir, int pixels_per_byte, unsigned seed)
{
    const bytes tiles = random_tiles(pixels_per_byte, seed);
    qtest::write_file(dir / "tiles.bin", tiles);
    std::vector<std::string> args = {"--no-remake-water", "tiles.bin", "sheet.bmp"};
    if (pixels_per_byte == 4) args.insert(args.begin(), "--cga");
    EXPECT_EQ(qtest::run(QELEGA_SHAPES_PATH, args, {}, dir.path()).status, 0);
    return tiles;
}

TEST(pack, packing_reverses_drawing)
{
    for (int pixels_per_byte : {2, 4}) {
        const bytes tiles = random_tiles(pixels_per_byte, 7);
        for (int32_t row = 0; row < sheet_rows; ++row)
            for (int32_t col = 0; col < sheet_columns; ++col)
                draw_tile(tiles.data(), row, col, pixels_per_byte, 0);
        bytes packed(tiles.size());
        pack_sheet(canvas, packed.data(), pixels_per_byte);
        EXPECT_EQ(packed, tiles) << pixels_per_byte;
    }
}

TEST(pack, export_then_pack_gives_the_tile_file_back)
{
    for (int pixels_per_byte : {2, 4})
        for (unsigned seed : {1u, 2u}) {
            qtest::temp_dir dir;
            const bytes tiles = export_sheet(dir, pixels_per_byte, seed);
            std::vector<std::string> args = {"sheet.bmp", "packed.bin"};
            if (pixels_per_byte == 4) args.push_back("--cga");  // options after the names too
            const auto r = pack(args, dir.path());
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(qtest::read_file(dir / "packed.bin"), tiles);
        }
}

// Pillow's saves of sheet.bmp, and a 16-bit grey picture whose tile column c
// holds the grey 0x5555 * (c mod 4).
const char *pillow_script = R"(
import sys
from PIL import Image
sheet = Image.open('sheet.bmp')
sheet.save('pil-p.png'); sheet.save('pil-p.bmp')
sheet.convert('RGB').save('pil-rgb.png'); sheet.convert('RGBA').save('pil-rgba.png')
grey = Image.new('I;16', (256, 512))
grey.putdata([0x5555 * (x // 16 % 4) for y in range(512) for x in range(256)])
grey.save('pil-grey16.png')
)";

TEST(pack, sheets_saved_by_other_programs)
{
    QTEST_REQUIRE_PROGRAM(qtest::imagemagick_convert);
    QTEST_REQUIRE_PROGRAM("/usr/bin/python3");
    for (int pixels_per_byte : {2, 4}) {
        qtest::temp_dir dir;
        const bytes tiles = export_sheet(dir, pixels_per_byte, 3);
        const std::vector<std::vector<std::string>> im_saves = {
            {"PNG8:im-p.png"}, {"PNG24:im-rgb.png"}, {"im-v5.bmp"},
            {"-type", "truecolor", "BMP3:im-24.bmp"},
            {"-flip", "-type", "truecolor", "BMP3:im-top-down.bmp"},
            {"-alpha", "on", "-type", "truecolormatte", "im-32.bmp"},
            {"-type", "truecolor", "-define", "bmp:subtype=RGB565", "im-565.bmp"},
            {"-evaluate", "add", "2000", "-type", "truecolor", "BMP3:im-off.bmp"}};
        for (std::vector<std::string> args : im_saves) {
            args.insert(args.begin(), "sheet.bmp");
            ASSERT_EQ(qtest::run(qtest::imagemagick_convert, args, {}, dir.path()).status, 0);
        }
        // Rows stored top-down: the picture flipped, its height negated.
        bytes top_down = qtest::read_file(dir / "im-top-down.bmp");
        put_le32(top_down.data() + 22, static_cast<uint32_t>(-canvas_height));
        qtest::write_file(dir / "im-top-down.bmp", top_down);
        ASSERT_EQ(qtest::run("/usr/bin/python3", {"-c", pillow_script}, {}, dir.path()).status, 0);

        const bool cga = pixels_per_byte == 4;
        // Every pixel that is not white is moved off its palette colour.
        long white = 0;
        for (uint8_t b : tiles) white += cga ? 0 : (b >> 4 == 15) + ((b & 15) == 15);
        const std::string off = "changed " + std::to_string(canvas_bytes - white) +
                                " pixels to the nearest palette color 'im-off.bmp'\n";
        for (const char *name : {"im-p.png", "im-rgb.png", "im-v5.bmp", "im-24.bmp", "im-top-down.bmp",
                                 "im-32.bmp", "im-565.bmp", "im-off.bmp", "pil-p.png", "pil-p.bmp",
                                 "pil-rgb.png", "pil-rgba.png"}) {
            const auto r = pack(cga ? std::vector<std::string>{"--cga", name, "out.bin"}
                                    : std::vector<std::string>{name, "out.bin"},
                                dir.path(), "y");
            EXPECT_EQ(r.status, 0) << name << ": " << r.out;
            EXPECT_EQ(qtest::read_file(dir / "out.bin"), tiles) << name;
            if (std::string(name) == "im-off.bmp") {
                EXPECT_NE(r.out.find(off), std::string::npos) << r.out;
            }
        }
        if (cga) continue;
        // Black, dark grey, light grey and white: EGA colours 0, 8, 7 and 15.
        bytes grey(tiles.size());
        for (size_t i = 0; i < grey.size(); ++i) grey[i] = bytes{0x00, 0x88, 0x77, 0xFF}[i / 128 % 4];
        EXPECT_EQ(pack({"pil-grey16.png", "grey.bin"}, dir.path()).status, 0);
        EXPECT_EQ(qtest::read_file(dir / "grey.bin"), grey);
    }
}

TEST(pack, command_line_messages_and_statuses)
{
    const std::string usage = "usage: qelega_pack [options] SHEET TILES\n"
                              "option: --cga               write cga version tiles\n"
                              "        --help              print usage\n"
                              "\n"
                              "support 256 x 512 bmp and png sheets, decoded TILES.16 and TILES.4 only\n";
    qtest::temp_dir dir;
    export_sheet(dir, 2, 4);
    qtest::write_file(dir / "old.bin", {1, 2, 3});
    qtest::write_file(dir / "text.bmp", {'h', 'i'});
    bitmap_header header;
    init_bitmap_header(&header, 16, 16, 8);
    FILE *small = std::fopen((dir / "small.bmp").c_str(), "wb");
    write_bitmap(small, &header, nullptr, bytes(256, 0).data());
    std::fclose(small);

    const struct {
        std::vector<std::string> args;
        std::string input, out;
        int status;
    } cases[] = {
        {{}, "", "no sheet file\n", 1},
        {{"sheet.bmp"}, "", "no tiles file\n", 1},
        {{"--help"}, "", usage, 1},
        {{"a", "b", "c", "--help"}, "", "unneeded parameter 'c'\n", 1},
        {{"-", "--help"}, "", "unknown option '-'\n", 1},
        {{"--CGA", "a", "b"}, "", "unknown option '--CGA'\n", 1},
        {{"none.bmp", "new.bin"}, "", "open error 'none.bmp'\nread sheet file error 'none.bmp'\n", 1},
        {{"text.bmp", "new.bin"}, "", "not a bmp or png file 'text.bmp'\nread sheet file error 'text.bmp'\n", 1},
        {{"small.bmp", "new.bin"}, "", "sheet is 16 x 16, wanted 256 x 512 'small.bmp'\n", 1},
        {{"sheet.bmp", "old.bin"}, "x\nn",
         "already exists 'old.bin'\noverwrite ? (Y or N): write tiles file error 'old.bin'\n", 1},
        {{"sheet.bmp", "."}, "y",
         "already exists '.'\noverwrite ? (Y or N): open error '.'\nwrite tiles file error '.'\n", 1},
    };
    for (const auto &c : cases) {
        const auto r = pack(c.args, dir.path(), c.input);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status) << c.out;
    }
    EXPECT_FALSE(fs::exists(dir / "new.bin"));
    EXPECT_EQ(qtest::read_file(dir / "old.bin"), (bytes{1, 2, 3}));
    const auto yes = pack({"sheet.bmp", "old.bin"}, dir.path(), "Y");
    EXPECT_EQ(yes.out, "already exists 'old.bin'\noverwrite ? (Y or N): ");
    EXPECT_EQ(yes.status, 0);
    EXPECT_EQ(qtest::read_file(dir / "old.bin"), qtest::read_file(dir / "tiles.bin"));
}

}  // namespace
