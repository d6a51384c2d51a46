// qelega_pack end to end: a sheet that qelega_shapes exported, as it is or
// saved again by other programs, packs back into the tile file it came from;
// command-line failures give their exact messages and status 1.
#include <gtest/gtest.h>

#include <random>

#include "bitmap.h"
#include "test_support.h"
#include "tiles.h"

namespace {

using qtest::bytes;

// Runs a program in `dir`; --cga goes after the names, where both tools take it.
qtest::run_result run(const std::string &program, const qtest::temp_dir &dir, std::vector<std::string> args,
                      bool cga = false, const std::string &input = {})
{
    if (cga) args.push_back("--cga");
    return qtest::run(program, args, input, dir.path());
}

// A random tiles.bin exported as sheet.bmp, without remaking water, as the users will.
bytes export_sheet(const qtest::temp_dir &dir, bool cga)
{
    std::mt19937 random(cga ? 2 : 1);
    bytes tiles(tile_file_bytes(cga ? 4 : 2));
    for (uint8_t &b : tiles) b = static_cast<uint8_t>(random());
    qtest::write_file(dir / "tiles.bin", tiles);
    EXPECT_EQ(run(QELEGA_SHAPES_PATH, dir, {"--no-remake-water", "tiles.bin", "sheet.bmp"}, cga).status, 0);
    return tiles;
}

TEST(pack, export_then_pack_gives_the_tile_file_back)
{
    for (bool cga : {false, true}) {
        const qtest::temp_dir dir;
        const bytes tiles = export_sheet(dir, cga);
        const auto r = run(QELEGA_PACK_PATH, dir, {"sheet.bmp", "packed.bin"}, cga);
        EXPECT_EQ(std::pair(r.status, r.out), std::pair(0, std::string()));
        EXPECT_EQ(qtest::read_file(dir / "packed.bin"), tiles);
    }
}

// Saved again by ImageMagick: PNG with a palette, RGB PNG, 16-bit PNG with no
// gamma chunk (so sRGB, not linear), V5 BMP, and one with every channel raised
// by 2000 / 65535: each pixel that was not white is off its colour, goes back
// to the nearest one and is counted. Pillow's RGB PNG is a second encoder.
TEST(pack, sheets_saved_by_other_programs)
{
    QTEST_REQUIRE_PROGRAM(qtest::imagemagick_convert);
    const std::string python = "/usr/bin/python3";
    if (qtest::run(python, {"-c", "import PIL"}).status != 0) {
        if (qtest::tools_required()) FAIL() << "Pillow missing";
        GTEST_SKIP() << "Pillow not installed";
    }
    struct save {
        std::string program, name;
        std::vector<std::string> args;
    };
    const std::string im = qtest::imagemagick_convert;
    const std::vector<save> saves = {
        {im, "p.png", {"sheet.bmp", "PNG8:p.png"}},
        {im, "rgb.png", {"sheet.bmp", "PNG24:rgb.png"}},
        {im, "rgb16.png", {"sheet.bmp", "-define", "png:exclude-chunks=gAMA,sRGB,cHRM", "PNG48:rgb16.png"}},
        {im, "v5.bmp", {"sheet.bmp", "v5.bmp"}},
        {im, "off.bmp", {"sheet.bmp", "-evaluate", "add", "2000", "BMP3:off.bmp"}},
        {python, "pil.png", {"-c", "from PIL import Image; Image.open('sheet.bmp').convert('RGB').save('pil.png')"}}};
    for (bool cga : {false, true}) {
        const qtest::temp_dir dir;
        const bytes tiles = export_sheet(dir, cga);
        long white = 0;  // EGA colour 15; CGA has no white
        for (uint8_t b : tiles) white += cga ? 0 : (b >> 4 == 15) + ((b & 15) == 15);
        for (const save &s : saves) {
            ASSERT_EQ(run(s.program, dir, s.args).status, 0) << s.name;
            const auto r = run(QELEGA_PACK_PATH, dir, {s.name, s.name + ".bin"}, cga);
            EXPECT_EQ(std::pair(r.status, r.out), std::pair(0, s.name != "off.bmp" ? "" : "changed " + std::to_string(
                canvas_bytes - white) + " pixels to the nearest palette color 'off.bmp'\n"));
            EXPECT_EQ(qtest::read_file(dir / (s.name + ".bin")), tiles) << s.name;
        }
    }
}

// PNG samples are taken as stored (a gAMA chunk changes nothing) and alpha is
// laid on black before the nearest colour is sought: white at alpha 0xAA
// becomes light grey and transparent light green black, both exactly.
TEST(pack, png_alpha_is_composited_on_black)
{
    if (qtest::run("/usr/bin/python3", {"-c", "import PIL"}).status != 0) GTEST_SKIP() << "Pillow not installed";
    const qtest::temp_dir dir;
    bytes tiles = export_sheet(dir, false);
    const char *script =
        "from PIL import Image, PngImagePlugin\n"
        "im = Image.open('sheet.bmp').convert('RGBA')\n"
        "alpha = {(255, 255, 255): 0xAA, (85, 255, 85): 0}\n"
        "im.putdata([p[:3] + (alpha.get(p[:3], 255),) for p in im.getdata()])\n"
        "info = PngImagePlugin.PngInfo()\n"
        "info.add(b'gAMA', (100000).to_bytes(4, 'big'))\n"
        "im.save('alpha.png', pnginfo=info)\n";
    ASSERT_EQ(run("/usr/bin/python3", dir, {"-c", script}).status, 0);
    const auto composited = [](int p) { return p == 15 ? 7 : p == 10 ? 0 : p; };
    for (uint8_t &b : tiles) b = static_cast<uint8_t>(composited(b >> 4) << 4 | composited(b & 15));
    const auto r = run(QELEGA_PACK_PATH, dir, {"alpha.png", "alpha.bin"});
    EXPECT_EQ(std::pair(r.status, r.out), std::pair(0, std::string()));
    EXPECT_EQ(qtest::read_file(dir / "alpha.bin"), tiles);
}

// Failures exit with status 1 and write no tile file; only "y" or "Y" replaces one.
TEST(pack, command_line_messages_and_statuses)
{
    const qtest::temp_dir dir;
    export_sheet(dir, false);
    for (const char *name : {"old.bin", "kept.bin"}) qtest::write_file(dir / name, {1, 2, 3});
    qtest::write_file(dir / "text.bmp", {'h', 'i'});
    bytes small = qtest::read_file(dir / "sheet.bmp");
    put_le32(small.data() + 22, 256);  // height
    qtest::write_file(dir / "small.bmp", small);
    struct row {
        std::vector<std::string> args;
        std::string input = {}, out = {};
        int status = 1;
    };
    const row cases[] = {
        {.args = {}, .out = "no sheet file\n"},
        {.args = {"sheet.bmp"}, .out = "no tiles file\n"},
        {.args = {"a", "b", "c", "--help"}, .out = "unneeded parameter 'c'\n"},
        {.args = {"--CGA", "a", "b"}, .out = "unknown option '--CGA'\n"},
        {.args = {"none.bmp", "new.bin"}, .out = "open error 'none.bmp'\nread sheet file error 'none.bmp'\n"},
        {.args = {"text.bmp", "new.bin"}, .out = "not a bmp or png file 'text.bmp'\nread sheet file error 'text.bmp'\n"},
        {.args = {"small.bmp", "new.bin"}, .out = "sheet is 256 x 256, wanted 256 x 512 'small.bmp'\n"},
        {.args = {"sheet.bmp", "kept.bin"}, .input = "x\nn",
         .out = qtest::overwrite_prompt("kept.bin") + "write tiles file error 'kept.bin'\n"},
        {.args = {"sheet.bmp", "."}, .input = "y",
         .out = qtest::overwrite_prompt(".") + "open error '.'\nwrite tiles file error '.'\n"},
        {.args = {"sheet.bmp", "old.bin"}, .input = "Y", .out = qtest::overwrite_prompt("old.bin"),
         .status = 0},
    };
    for (const row &c : cases) {
        const auto r = run(QELEGA_PACK_PATH, dir, c.args, false, c.input);
        EXPECT_EQ(std::pair(r.status, r.out), std::pair(c.status, c.out));
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "new.bin"));
    EXPECT_EQ(qtest::read_file(dir / "kept.bin"), (bytes{1, 2, 3}));
    EXPECT_EQ(qtest::read_file(dir / "old.bin"), qtest::read_file(dir / "tiles.bin"));
}

}  // namespace
