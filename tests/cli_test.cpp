// qelega_shapes end to end: the built binary runs in a temporary folder with
// real arguments and standard input; its standard output, exit status and the
// files it leaves are checked. Expected sheets come from a model of the tile
// layout written here, not from the rendering code.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>

#include "bitmap.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using qtest::bytes;

const std::string usage =
    "usage: qelega_shapes [options] TILES OUTPUT.BMP\n"
    "option: --cga               read cga version tiles\n"
    "        --dungeon           change color of grass shapes\n"
    "        --mirror-room       use alternate colors for mirror room\n"
    "        --no-remake-water   do not remake water shapes\n"
    "        --help              print usage\n"
    "\n"
    "support decoded TILES.16 and TILES.4 only\n";

struct mode {
    int pixels_per_byte, grass_from, grass_to;
    std::array<uint8_t, 16> mirror_map;
    std::array<std::array<uint8_t, 3>, 16> palette;  // RGB; distinct, so a colour shows its index
};

const mode ega{2, 2, 4, {0, 5, 4, 4, 2, 1, 2, 7, 8, 12, 12, 12, 10, 9, 14, 15},
               {{{0, 0, 0}, {0, 0, 0xAA}, {0, 0xAA, 0}, {0, 0xAA, 0xAA},
                 {0xAA, 0, 0}, {0xAA, 0, 0xAA}, {0xAA, 0x55, 0}, {0xAA, 0xAA, 0xAA},
                 {0x55, 0x55, 0x55}, {0x55, 0x55, 0xFF}, {0x55, 0xFF, 0x55}, {0x55, 0xFF, 0xFF},
                 {0xFF, 0x55, 0x55}, {0xFF, 0x55, 0xFF}, {0xFF, 0xFF, 0x55}, {0xFF, 0xFF, 0xFF}}}};
const mode cga{4, 1, 2, {0, 2, 1, 3},
               {{{0, 0, 0}, {0, 0xAA, 0xAA}, {0xAA, 0, 0xAA}, {0xAA, 0xAA, 0xAA}}}};

// A conversion that must succeed: its arguments, what the named tile file
// holds (the model reads only as much as the mode needs) and what it asks for.
struct sheet_case {
    std::vector<std::string> args;
    const bytes &tiles;
    const mode &m = ega;
    bool remake = true, dungeon = false, mirror = false;
};

// The mask tile a water tile is remade through, negative when inverted.
int water_mask(int tile)
{
    if (tile >= 96 && tile <= 111) return tile + 16;
    const int mask = 208 + tile % 4;  // for 52-55 and 228-231
    return tile >= 52 && tile <= 55 ? mask : tile >= 228 && tile <= 231 ? -mask : 0;
}

bool is_grass(int tile)
{
    return tile == 5 || (tile >= 30 && tile <= 38) || (tile >= 48 && tile <= 55) || tile == 76 ||
           (tile >= 96 && tile <= 111);
}

// Pixel (y, x) of a tile, the leftmost pixel of a byte in its highest bits.
int tile_pixel(const sheet_case &c, int tile, int y, int x)
{
    const int per_byte = c.m.pixels_per_byte, bits = 8 / per_byte, index = tile * 256 + y * 16 + x;
    return c.tiles[index / per_byte] >> (8 - bits * (index % per_byte + 1)) & ((1 << bits) - 1);
}

// The 256 x 512 sheet as binary PPM: a short header, then RGB bytes from the top row down.
bytes expected_sheet(const sheet_case &c)
{
    const std::string header = "P6\n256 512\n255\n";
    bytes sheet(header.begin(), header.end());
    for (int row = 0; row < 512; ++row)
        for (int col = 0; col < 256; ++col) {
            const int tile = row / 16 * 16 + col / 16, y = row % 16, x = col % 16;
            int v = tile_pixel(c, tile, y, x);
            const int mask = c.remake ? water_mask(tile) : 0;
            if (mask != 0 && (tile_pixel(c, std::abs(mask), y, x) == 0) != (mask > 0))
                v = tile_pixel(c, 3, y, x);
            if (c.dungeon && is_grass(tile) && v == c.m.grass_from) v = c.m.grass_to;
            if (c.mirror) v = c.m.mirror_map[v];
            sheet.insert(sheet.end(), c.m.palette[v].begin(), c.m.palette[v].end());
        }
    return sheet;
}

// A sheet as our reader takes it, laid out as expected_sheet lays it out.
bytes decoded_sheet(const fs::path &path)
{
    FILE *sheet = std::fopen(path.c_str(), "rb");
    bitmap_header header;
    palette_entry *palette = nullptr;
    uint8_t *pixels = nullptr;
    testing::internal::CaptureStdout();
    const int result = read_bitmap(sheet, &header, &palette, &pixels, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "no warning";
    std::fclose(sheet);
    const std::string ppm_header = "P6\n256 512\n255\n";
    bytes rgb(ppm_header.begin(), ppm_header.end());
    for (size_t i = 0; result == 0 && i < size_t{header.width} * header.height; ++i) {
        const palette_entry &e = palette[pixels[i]];
        rgb.insert(rgb.end(), {e.red, e.green, e.blue});
    }
    std::free(palette);
    std::free(pixels);
    return rgb;
}

// Random tiles differ from each other everywhere, so a tile that is misplaced,
// flipped or unpacked in the wrong bit order changes the sheet. The EGA and
// CGA files are the starts of one longer file.
const bytes long_tiles = [] {
    std::mt19937 generator(16);
    bytes b(66536);
    for (uint8_t &byte : b) byte = uint8_t(generator());
    return b;
}();
const bytes ega_tiles(long_tiles.begin(), long_tiles.begin() + 65536);
const bytes cga_tiles(long_tiles.begin(), long_tiles.begin() + 32768), old_content{'o', 'l', 'd'};

std::string tiles_error(const std::string &kind, const std::string &path)
{
    return kind + " error '" + path + "'\nread tiles file error '" + path + "'\n";
}
std::string write_error(std::string p) { return "write bitmap file error '" + p + "'\n"; }

class cli : public testing::Test {
protected:
    void SetUp() override
    {
        const std::map<std::string, bytes> files = {
            {"tiles.16", ega_tiles}, {"tiles.4", cga_tiles}, {"long.16", long_tiles},
            {"short.16", bytes(ega_tiles.begin(), ega_tiles.end() - 1)},
            {"old.bmp", old_content}};
        for (const auto &[name, content] : files) qtest::write_file(dir / name, content);
        fs::create_directory(dir / "folder");
    }

    std::map<std::string, bytes> snapshot() const { return qtest::folder_snapshot(dir.path()); }

    qtest::temp_dir dir;
};

// Each run: its standard output and status, and the files it leaves: all as
// they were, but for old.bmp replaced by a fresh sheet when the run succeeds.
TEST_F(cli, console_lines_status_and_files_left)
{
    struct row {
        std::vector<std::string> args;
        std::string input = {}, out = {};
        int status = 1;
    };
    const std::vector<std::string> old{"tiles.16", "old.bmp"};
    const std::string nowhere = "no/such/out.bmp", no = qtest::overwrite_prompt("old.bmp") + write_error("old.bmp");
    const std::vector<row> cases = {
        {.args = {}, .out = "no tiles file\n"},
        {.args = {"tiles.16"}, .out = "no output bitmap file\n"},
        {.args = {"--help"}, .out = usage},
        {.args = {"tiles.16", "old.bmp", "--help"}, .out = usage},
        {.args = {"tiles.16", "old.bmp", "third", "--help"}, .out = "unneeded parameter 'third'\n"},
        {.args = {"-x", "--help"}, .out = "unknown option '-x'\n"},
        {.args = {"-"}, .out = "unknown option '-'\n"},
        {.args = {"--"}, .out = "unknown option '--'\n"},
        {.args = {"--CGA"}, .out = "unknown option '--CGA'\n"},
        // The tile file is read before the output is looked at: no prompt.
        {.args = {"", "old.bmp"}, .input = "y", .out = tiles_error("open", "")},
        {.args = {"missing.16", "old.bmp"}, .input = "y", .out = tiles_error("open", "missing.16")},
        {.args = {"short.16", "old.bmp"}, .input = "y", .out = tiles_error("read", "short.16")},
        {.args = {"tiles.16", nowhere}, .out = "open error '" + nowhere + "'\n" + write_error(nowhere)},
        {.args = {"tiles.16", "folder"}, .input = "y",
         .out = qtest::overwrite_prompt("folder") + "open error 'folder'\n" + write_error("folder")},
        {.args = {"tiles.16", "folder"}, .input = "ny", .out = qtest::overwrite_prompt("folder") + write_error("folder")},
        // The first y or n answers; anything else before it is skipped.
        {.args = old, .input = "Y", .out = qtest::overwrite_prompt("old.bmp"), .status = 0},
        {.args = old, .input = "x \r\ny", .out = qtest::overwrite_prompt("old.bmp"), .status = 0},
        {.args = old, .input = "Ny", .out = no},
        {.args = old, .input = "", .out = no},  // end of input means no
    };
    ASSERT_EQ(qtest::run(QELEGA_SHAPES_PATH, {"tiles.16", "fresh.bmp"}, "", dir.path()).status, 0);
    const auto before = snapshot();
    for (const row &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args) + " input " + testing::PrintToString(c.input));
        qtest::write_file(dir / "old.bmp", old_content);
        const qtest::run_result r = qtest::run(QELEGA_SHAPES_PATH, c.args, c.input, dir.path());
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status);
        auto want = before;
        if (c.status == 0) want["old.bmp"] = want["fresh.bmp"];
        EXPECT_TRUE(snapshot() == want) << "files differ from what they should be";
    }
}

// Every pixel of each sheet must show the colour the tile file and the
// options give it. The writer's bytes are checked by their own rules, and
// other programs read these sheets in the pack test, so our reader decodes.
TEST_F(cli, sheet_shows_every_tile_file_pixel_in_place)
{
    const sheet_case cases[] = {
        {.args = {"tiles.16", "out.bmp"}, .tiles = ega_tiles},
        {.args = {"--no-remake-water", "tiles.16", "out.bmp"}, .tiles = ega_tiles, .remake = false},
        {.args = {"--dungeon", "tiles.16", "out.bmp"}, .tiles = ega_tiles, .dungeon = true},
        {.args = {"--mirror-room", "tiles.16", "out.bmp"}, .tiles = ega_tiles, .mirror = true},
        // Grass 2 turns 4 and the mirror map turns that back to 2: the order shows.
        {.args = {"tiles.16", "out.bmp", "--mirror-room", "--dungeon"}, .tiles = ega_tiles, .dungeon = true,
         .mirror = true},
        {.args = {"long.16", "--dungeon", "--dungeon", "out.bmp"}, .tiles = long_tiles, .dungeon = true},
        {.args = {"--cga", "tiles.4", "out.bmp"}, .tiles = cga_tiles, .m = cga},
        // Only the first half of an EGA-sized file is read.
        {.args = {"--cga", "--dungeon", "--mirror-room", "tiles.16", "out.bmp"}, .tiles = ega_tiles, .m = cga,
         .dungeon = true, .mirror = true},
    };
    for (const sheet_case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        fs::remove(dir / "out.bmp");
        const qtest::run_result r = qtest::run(QELEGA_SHAPES_PATH, c.args, "", dir.path());
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.status, 0);
        // 54 bytes of header, 16 palette entries, 512 rows of 128 bytes.
        EXPECT_EQ(fs::file_size(dir / "out.bmp"), 65654u);
        const bytes got = decoded_sheet(dir / "out.bmp"), want = expected_sheet(c);
        const auto at = std::ranges::mismatch(got, want).in1 - got.begin();
        EXPECT_TRUE(got == want) << "first wrong byte " << at;
    }
}

#if defined(__SANITIZE_ADDRESS__)
#define QTEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QTEST_UNDER_ASAN 1
#endif
#endif

// The run allocates nothing of its own: under valgrind its heap use equals
// that of a program making only the same stdio calls (FILE records and their
// buffers), with and without the overwrite question.
TEST_F(cli, heap_use_is_only_what_stdio_needs)
{
#ifdef QTEST_UNDER_ASAN
    GTEST_SKIP() << "valgrind cannot run sanitized binaries";
#endif
    QTEST_REQUIRE_PROGRAM("valgrind");
    // Valgrind's "total heap usage" line, or all of its report when the program failed.
    const auto heap_usage = [&](const std::string &program, const std::string &input) {
        qtest::write_file(dir / "out.bmp", old_content);
        if (input.empty()) fs::remove(dir / "out.bmp");
        const std::vector<std::string> args{"--log-fd=1", program, "tiles.16", "out.bmp"};
        const qtest::run_result r = qtest::run("valgrind", args, input, dir.path());
        const size_t at = r.status == 0 ? r.out.find("total heap usage: ") : std::string::npos;
        return at == std::string::npos ? r.out : r.out.substr(at, r.out.find('\n', at) - at);
    };
    for (const std::string input : {"", "y"}) {
        SCOPED_TRACE("input " + testing::PrintToString(input));
        const std::string tool = heap_usage(QELEGA_SHAPES_PATH, input);
        // Valgrind 3.19 gives up on the DWARF 5 that clang 14 writes.
        if (tool.find("debuginfo reader") != std::string::npos)
            GTEST_SKIP() << "valgrind cannot read this build's debug information";
        EXPECT_TRUE(tool.starts_with("total heap usage: ")) << tool;
        EXPECT_EQ(tool, heap_usage(QELEGA_STDIO_BASELINE_PATH, input));
    }
}

}  // namespace
