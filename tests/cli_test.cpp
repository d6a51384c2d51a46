// qelega_shapes end to end: the built binary runs in a temporary folder with
// real arguments and standard input; its standard output, exit status and the
// files it leaves are checked. Expected sheets come from a model of the tile
// layout written here, not from the rendering code.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <map>
#include <random>
#include <regex>

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

const bytes old_content{'o', 'l', 'd'};

using rgb = std::array<uint8_t, 3>;

struct mode {
    int pixels_per_byte;
    uint8_t grass_from, grass_to;
    std::array<uint8_t, 16> mirror_map;
    std::array<rgb, 16> palette;
};

// EGA's sixteen RGBI colours; brown (6) has its green dimmed.
std::array<rgb, 16> ega_colors()
{
    std::array<rgb, 16> colors{};
    for (int i = 0; i < 16; ++i) {
        const int low = i & 8 ? 0x55 : 0;
        colors[i] = {uint8_t((i & 4 ? 0xAA : 0) + low), uint8_t((i & 2 ? 0xAA : 0) + low),
                     uint8_t((i & 1 ? 0xAA : 0) + low)};
    }
    colors[6][1] = 0x55;
    return colors;
}

const mode ega{2, 2, 4, {0, 5, 4, 4, 2, 1, 2, 7, 8, 12, 12, 12, 10, 9, 14, 15}, ega_colors()};
const mode cga{4, 1, 2, {0, 2, 1, 3},
               {{{0, 0, 0}, {0, 0xAA, 0xAA}, {0xAA, 0, 0xAA}, {0xAA, 0xAA, 0xAA}}}};

struct sheet_options {
    const mode *m = &ega;
    bool remake = true, dungeon = false, mirror = false;
};

const sheet_options ega_all{&ega, true, true, true};

// Pixel (y, x) of a tile, the leftmost pixel of a byte in its highest bits.
int tile_pixel(const bytes &tiles, int tile, int y, int x, int per_byte)
{
    const int bits = 8 / per_byte;
    const int index = tile * 256 + y * 16 + x;
    return tiles[index / per_byte] >> (8 - bits * (index % per_byte + 1)) & ((1 << bits) - 1);
}

// The mask tile a water tile is remade through, negative when inverted.
int water_mask(int tile)
{
    if (tile >= 52 && tile <= 55) return 208 + tile - 52;
    if (tile >= 96 && tile <= 111) return tile + 16;
    if (tile >= 228 && tile <= 231) return -(208 + tile - 228);
    return 0;
}

bool is_grass(int tile)
{
    return tile == 5 || (tile >= 30 && tile <= 38) || (tile >= 48 && tile <= 55) || tile == 76 ||
           (tile >= 96 && tile <= 111);
}

// The 256 x 512 picture, top row first, one palette index per byte.
bytes expected_canvas(const bytes &tiles, const sheet_options &o)
{
    const int per_byte = o.m->pixels_per_byte;
    bytes canvas(256 * 512);
    for (int tile = 0; tile < 512; ++tile)
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                int v = tile_pixel(tiles, tile, y, x, per_byte);
                const int mask = o.remake ? water_mask(tile) : 0;
                const bool mask_zero = tile_pixel(tiles, std::abs(mask), y, x, per_byte) == 0;
                if (mask != 0 && mask_zero != (mask > 0)) v = tile_pixel(tiles, 3, y, x, per_byte);
                if (o.dungeon && is_grass(tile) && v == o.m->grass_from) v = o.m->grass_to;
                if (o.mirror) v = o.m->mirror_map[v];
                canvas[(tile / 16 * 16 + y) * 256 + tile % 16 * 16 + x] = uint8_t(v);
            }
    return canvas;
}

uint32_t le32(const bytes &b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

// Canvas pixel (row from the top, column) as stored: rows bottom-up after the
// 118 bytes of header and palette, two pixels to a byte.
int stored_pixel(const bytes &file, int row, int col)
{
    const uint8_t byte = file[118 + size_t(511 - row) * 128 + col / 2];
    return col % 2 == 0 ? byte >> 4 : byte & 15;
}

bytes random_bytes(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    bytes b(size);
    for (uint8_t &byte : b) byte = uint8_t(generator());
    return b;
}

// Random tiles differ from each other everywhere, so a tile that is misplaced,
// flipped or unpacked in the wrong bit order changes the sheet.
class cli : public testing::Test {
protected:
    void SetUp() override
    {
        ega_tiles = random_bytes(65536, 16);
        // Colour 2 at pixel (0, 0) of grass tile 5 and of plain tile 6.
        ega_tiles[5 * 128] = uint8_t(0x20 | (ega_tiles[5 * 128] & 0x0F));
        ega_tiles[6 * 128] = uint8_t(0x20 | (ega_tiles[6 * 128] & 0x0F));
        cga_tiles = random_bytes(32768, 4);
        long_tiles = ega_tiles;
        for (uint8_t byte : random_bytes(1000, 99)) long_tiles.push_back(byte);
        qtest::write_file(dir / "tiles.16", ega_tiles);
        qtest::write_file(dir / "tiles.4", cga_tiles);
        qtest::write_file(dir / "long.16", long_tiles);
        qtest::write_file(dir / "short.16", bytes(ega_tiles.begin(), ega_tiles.end() - 1));
        qtest::write_file(dir / "short.4", bytes(cga_tiles.begin(), cga_tiles.end() - 1));
        qtest::write_file(dir / "old.bmp", old_content);
        fs::create_directory(dir / "folder");
    }

    qtest::run_result shapes(const std::vector<std::string> &args, const std::string &input = {})
    {
        return qtest::run(QELEGA_SHAPES_PATH, args, input, dir.path());
    }

    // Every file in the folder with its content; a folder maps to nothing.
    std::map<std::string, bytes> snapshot() const
    {
        std::map<std::string, bytes> files;
        for (const auto &entry : fs::directory_iterator(dir.path()))
            files[entry.path().filename()] =
                entry.is_directory() ? bytes{} : qtest::read_file(entry.path());
        return files;
    }

    qtest::temp_dir dir;
    bytes ega_tiles, cga_tiles, long_tiles;
};

std::string tiles_error(const std::string &kind, const std::string &path)
{
    return kind + " error '" + path + "'\nread tiles file error '" + path + "'\n";
}

std::string write_error(const std::string &path)
{
    return "write bitmap file error '" + path + "'\n";
}

std::string overwrite_prompt(const std::string &path)
{
    return "already exists '" + path + "'\noverwrite ? (Y or N): ";
}

TEST_F(cli, refusals_print_exact_lines_and_leave_files_alone)
{
    struct refusal {
        std::vector<std::string> args;
        std::string input, out;
    };
    const std::string nowhere = "no/such/out.bmp";
    const std::vector<refusal> cases = {
        {{}, "", "no tiles file\n"},
        {{"tiles.16"}, "", "no output bitmap file\n"},
        {{"--help"}, "", usage},
        {{"tiles.16", "old.bmp", "--help"}, "", usage},
        {{"tiles.16", "old.bmp", "third", "--help"}, "", "unneeded parameter 'third'\n"},
        {{"-x", "--help"}, "", "unknown option '-x'\n"},
        {{"tiles.16", "old.bmp", "--nope"}, "", "unknown option '--nope'\n"},
        {{"-", "tiles.16", "old.bmp"}, "", "unknown option '-'\n"},
        {{"--", "tiles.16", "old.bmp"}, "", "unknown option '--'\n"},
        {{"--CGA", "tiles.16", "old.bmp"}, "", "unknown option '--CGA'\n"},
        // The tile file is read before the output is looked at: no prompt.
        {{"", "old.bmp"}, "y", tiles_error("open", "")},
        {{"missing.16", "old.bmp"}, "y", tiles_error("open", "missing.16")},
        {{"folder", "old.bmp"}, "y", tiles_error("read", "folder")},
        {{"short.16", "old.bmp"}, "y", tiles_error("read", "short.16")},
        {{"--cga", "short.4", "old.bmp"}, "y", tiles_error("read", "short.4")},
        {{"tiles.4", "old.bmp"}, "y", tiles_error("read", "tiles.4")},
        {{"tiles.16", nowhere}, "", "open error '" + nowhere + "'\n" + write_error(nowhere)},
        {{"tiles.16", "folder"}, "y",
         overwrite_prompt("folder") + "open error 'folder'\n" + write_error("folder")},
        {{"tiles.16", "folder"}, "n", overwrite_prompt("folder") + write_error("folder")},
    };
    const auto before = snapshot();
    for (const refusal &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args) + " input " + testing::PrintToString(c.input));
        const qtest::run_result r = shapes(c.args, c.input);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(snapshot() == before) << "a file was written or changed";
    }
}

TEST_F(cli, overwrite_question_takes_the_first_y_or_n)
{
    struct answer {
        std::string input;
        bool replaced;
    };
    const std::vector<answer> cases = {
        {"Y", true},  {"y\n", true},  {"x\ny", true},  {" \r\nYes", true},
        {"n", false}, {"N\n", false}, {"x\nn", false}, {"ny", false},
        {"", false},  {"\n\n", false},  // end of input means no
    };
    ASSERT_EQ(shapes({"tiles.16", "fresh.bmp"}).status, 0);
    const bytes fresh = qtest::read_file(dir / "fresh.bmp");
    for (const answer &c : cases) {
        SCOPED_TRACE("input " + testing::PrintToString(c.input));
        qtest::write_file(dir / "old.bmp", old_content);
        const qtest::run_result r = shapes({"tiles.16", "old.bmp"}, c.input);
        EXPECT_EQ(r.out, overwrite_prompt("old.bmp") + (c.replaced ? "" : write_error("old.bmp")));
        EXPECT_EQ(r.status, c.replaced ? 0 : 1);
        EXPECT_TRUE(qtest::read_file(dir / "old.bmp") == (c.replaced ? fresh : old_content));
    }
}

struct sheet_case {
    std::vector<std::string> args;
    const bytes *tiles;  // what the named tile file holds
    sheet_options options;
};

// Header, palette and every pixel of the written file against the model.
TEST_F(cli, sheet_holds_every_tile_in_place)
{
    const std::vector<sheet_case> cases = {
        {{"tiles.16", "out.bmp"}, &ega_tiles, {}},
        {{"--no-remake-water", "tiles.16", "out.bmp"}, &ega_tiles, {&ega, false}},
        {{"--dungeon", "tiles.16", "out.bmp"}, &ega_tiles, {&ega, true, true}},
        {{"--mirror-room", "tiles.16", "out.bmp"}, &ega_tiles, {&ega, true, false, true}},
        {{"tiles.16", "out.bmp", "--mirror-room", "--dungeon"}, &ega_tiles, ega_all},
        {{"long.16", "--no-remake-water", "--dungeon", "--dungeon", "out.bmp"}, &long_tiles,
         {&ega, false, true}},
        {{"--cga", "tiles.4", "out.bmp"}, &cga_tiles, {&cga}},
        {{"tiles.4", "out.bmp", "--cga", "--no-remake-water"}, &cga_tiles, {&cga, false}},
        {{"--cga", "--dungeon", "--mirror-room", "tiles.4", "out.bmp"}, &cga_tiles,
         {&cga, true, true, true}},
        {{"--cga", "tiles.16", "out.bmp"}, &ega_tiles, {&cga}},  // only the first half is read
    };
    // The options must show in this data, or the table proves nothing.
    ASSERT_NE(expected_canvas(ega_tiles, {}), expected_canvas(ega_tiles, {&ega, false}));
    ASSERT_NE(expected_canvas(ega_tiles, {}), expected_canvas(ega_tiles, {&ega, true, true}));
    const std::vector<std::pair<size_t, uint32_t>> fields = {
        {2, 65654}, {6, 0},  {10, 118}, {14, 40}, {18, 256}, {22, 512}, {26, 1 | 4 << 16},
        {30, 0},    {34, 65536}, {38, 0}, {42, 0},  {46, 0},   {50, 0}};

    for (const sheet_case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        fs::remove(dir / "out.bmp");
        const qtest::run_result r = shapes(c.args);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.status, 0);
        const bytes file = qtest::read_file(dir / "out.bmp");
        ASSERT_EQ(file.size(), 65654u);
        EXPECT_EQ(file[0], 'B');
        EXPECT_EQ(file[1], 'M');
        for (const auto &[at, value] : fields) EXPECT_EQ(le32(file, at), value) << "offset " << at;
        for (int i = 0; i < 16; ++i) {
            const rgb &color = c.options.m->palette[i];
            EXPECT_EQ(bytes(file.begin() + 54 + 4 * i, file.begin() + 58 + 4 * i),
                      (bytes{color[2], color[1], color[0], 0}))
                << "palette entry " << i;
        }
        const bytes want = expected_canvas(*c.tiles, c.options);
        int wrong = 0;
        for (int row = 0; row < 512; ++row)
            for (int col = 0; col < 256; ++col) {
                const int got = stored_pixel(file, row, col), expected = want[row * 256 + col];
                if (got == expected || ++wrong > 3) continue;
                ADD_FAILURE() << "tile " << row / 16 * 16 + col / 16 << " pixel (" << row % 16
                              << ", " << col % 16 << "): " << got << ", expected " << expected;
            }
        EXPECT_EQ(wrong, 0);
    }
}

// Dungeon grass turns 2 into 4, the mirror map turns 4 back into 2; outside
// the grass only the mirror map acts, turning 2 into 4.
TEST_F(cli, dungeon_recolours_before_the_mirror_map)
{
    ASSERT_EQ(shapes({"--mirror-room", "--dungeon", "tiles.16", "out.bmp"}).status, 0);
    const bytes file = qtest::read_file(dir / "out.bmp");
    ASSERT_EQ(file.size(), 65654u);
    EXPECT_EQ(stored_pixel(file, 0, 5 * 16), 2);  // grass tile 5
    EXPECT_EQ(stored_pixel(file, 0, 6 * 16), 4);  // tile 6
}

// ImageMagick decodes the sheet on its own; every pixel must show the colour
// the tile file gives it.
TEST_F(cli, imagemagick_sees_the_colours_of_the_tile_file)
{
    QTEST_REQUIRE_PROGRAM(qtest::imagemagick_convert);
    const std::vector<sheet_case> cases = {
        {{"--dungeon", "--mirror-room", "tiles.16", "out.bmp"}, &ega_tiles, ega_all},
        {{"--cga", "tiles.4", "out.bmp"}, &cga_tiles, {&cga}},
    };
    for (const sheet_case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        fs::remove(dir / "out.bmp");
        ASSERT_EQ(shapes(c.args).status, 0);
        const qtest::run_result decoded = qtest::run(
            qtest::imagemagick_convert, {"out.bmp", "-depth", "8", "rgb:-"}, "", dir.path());
        ASSERT_EQ(decoded.status, 0);
        ASSERT_EQ(decoded.out.size(), 256u * 512 * 3);
        const bytes want = expected_canvas(*c.tiles, c.options);
        int wrong = 0;
        for (size_t i = 0; i < want.size(); ++i) {
            const rgb &color = c.options.m->palette[want[i]];
            wrong += !std::equal(color.begin(), color.end(), decoded.out.begin() + 3 * i,
                                 [](uint8_t a, char b) { return a == uint8_t(b); });
        }
        EXPECT_EQ(wrong, 0) << "pixels unlike their palette colour";
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
    // The "total heap usage" line of valgrind's report, or all of the report
    // when the program failed.
    const auto heap_usage = [&](const std::string &program, const std::string &input) {
        fs::remove(dir / "out.bmp");
        if (!input.empty()) qtest::write_file(dir / "out.bmp", old_content);
        const std::string log = (dir / "valgrind.log").string();
        const qtest::run_result r = qtest::run(
            "valgrind", {"--tool=memcheck", "--log-file=" + log, program, "tiles.16", "out.bmp"},
            input, dir.path());
        const bytes text = qtest::read_file(log);
        const std::string report(text.begin(), text.end());
        std::smatch line;
        const bool found = std::regex_search(report, line, std::regex("total heap usage: [^\n]*"));
        return r.status == 0 && found ? line.str() : report;
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
