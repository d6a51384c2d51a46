// The sample tile files: tile files of our own that show every effect of
// qelega_shapes. Every tile shows its number; tile 3 is water, the mask tiles
// hold shoreline shapes, the water tiles are land that remaking floods, the
// grass tiles carry the grass colour, and the other tiles spread all 16
// colours over two-colour patterns.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include "sample_tiles.h"

#include "tiles.h"

namespace {

// A colour by the name the palette's table gives it; a name that is not
// there is a mistake in this file.
uint8_t color(const char *name, const tile_mode &mode = ega_mode)
{
    for (int32_t i = 0; i < color_count(mode.pixels_per_byte); ++i)
        if (std::strcmp(mode.color_names[i], name) == 0) return static_cast<uint8_t>(i);
    std::abort();
}

// The CGA colour of each EGA colour. Dark colours keep their hue as far as
// CGA palette 1 has it: green and cyan to cyan (so grass stays the grass
// colour), red, magenta and brown to magenta, blue and dark grey to black.
// Light colours become light grey, its one light colour, so a dark and a
// light colour stay apart and water (blue, light blue, white) is black and grey.
constexpr const char *cga_of[16][2] = {
    {"black", "black"},               //  0
    {"blue", "black"},                //  1
    {"green", "cyan"},                //  2
    {"cyan", "cyan"},                 //  3
    {"red", "magenta"},               //  4
    {"magenta", "magenta"},           //  5
    {"brown", "magenta"},             //  6
    {"light grey", "light grey"},     //  7
    {"dark grey", "black"},           //  8
    {"light blue", "light grey"},     //  9
    {"light green", "light grey"},    // 10
    {"light cyan", "light grey"},     // 11
    {"light red", "light grey"},      // 12
    {"light magenta", "light grey"},  // 13
    {"yellow", "light grey"},         // 14
    {"white", "light grey"},          // 15
};

// Digits of 3 x 5 pixels, one glyph per line, rows separated by spaces.
constexpr const char *digit_font[10] = {
    "### #.# #.# #.# ###",  // 0
    ".#. ##. .#. .#. ###",  // 1
    "### ..# ### #.. ###",  // 2
    "### ..# .## ..# ###",  // 3
    "#.# #.# ### ..# ..#",  // 4
    "### #.. ### ..# ###",  // 5
    "### #.. ### #.# ###",  // 6
    "### ..# .#. .#. .#.",  // 7
    "### #.# ### #.# ###",  // 8
    "### #.# ### ..# ###",  // 9
};
constexpr int label_width = 11;  // three digits with a pixel between them
constexpr int label_height = 5;

// Shoreline shapes of the mask tiles, on a grid of half pixels (pixel x has
// its centre at 2x + 1, so 0 and 32 are the tile's edges). Mask tiles get
// them in rising tile number. Every shape leaves room for a label on land
// and one on water, so numbers stay readable after remaking.
enum shore_kind { water_side, water_oval, land_oval };
struct shore {
    shore_kind kind;
    // water_side: water where a*X + b*Y + d*wave < c.
    // ovals: centre (a, b), half-widths c across and d down.
    int a, b, c, d;
};
constexpr shore shores[] = {
    {water_side, 0, 1, 14, 0},      // water along the top
    {water_side, 0, -1, -18, 0},    // water along the bottom
    {water_side, 1, 2, 44, 0},      // water on the upper left
    {water_side, -1, 2, 12, 0},     // water on the upper right
    {water_side, 1, -2, -14, 0},    // water on the lower left
    {water_side, -1, -2, -46, 0},   // water on the lower right
    {water_oval, 0, 0, 32, 18},     // pool in the upper left corner
    {water_oval, 32, 0, 32, 18},    // pool in the upper right corner
    {water_oval, 0, 32, 32, 18},    // pool in the lower left corner
    {water_oval, 32, 32, 32, 18},   // pool in the lower right corner
    {land_oval, 0, 0, 32, 18},      // land in the upper left corner
    {land_oval, 32, 0, 32, 18},     // land in the upper right corner
    {land_oval, 0, 32, 32, 18},     // land in the lower left corner
    {land_oval, 32, 32, 32, 18},    // land in the lower right corner
    {water_oval, 16, 0, 20, 20},    // bay from the top
    {water_oval, 16, 32, 20, 20},   // bay from the bottom
    {land_oval, 16, 0, 20, 20},     // cape from the top
    {land_oval, 16, 32, 20, 20},    // cape from the bottom
    {water_side, 0, 1, 14, 1},      // waves along the top
    {water_side, 0, -1, -16, 1},    // waves along the bottom
};
constexpr int shore_count = sizeof shores / sizeof shores[0];

// One period of a wave, in half pixels, indexed by pixel column.
constexpr int wave[8] = {0, 2, 3, 2, 0, -2, -3, -2};

// Two-colour patterns of the ordinary tiles, one per sheet row, repeating.
using pattern = bool (*)(int y, int x);
constexpr pattern patterns[] = {
    [](int y, int x) { return (x / 4 + y / 4) % 2 != 0; },                  // checks
    [](int y, int x) { return y % 4 == 3 || (x + y / 4 % 2 * 4) % 8 == 0; },  // bricks
    [](int y, int x) { return (x + y) / 3 % 2 != 0; },                      // stripes
    [](int y, int x) { return x % 4 == 1 && y % 4 == 1; },                  // dots
    [](int y, int x) { return (std::abs(2 * x - 15) + std::abs(2 * y - 15)) % 12 >= 6; },  // diamonds
    [](int y, int x) { return (x + y) % 2 != 0; },                          // fine checks
    [](int y, int) { return y / 2 % 2 != 0; },                              // bars
    [](int y, int x) { return (x - y + 16) / 3 % 2 != 0; },                 // back stripes
};
constexpr int pattern_count = sizeof patterns / sizeof patterns[0];

// Dither thresholds: a pixel takes the second colour when its level is above.
constexpr int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

// Speckled ground and the ink of a label on it.
struct ground {
    uint8_t base, speck, ink;
};
ground sand() { return {color("yellow"), color("brown"), color("black")}; }

ground grass() { return {ega_mode.grass_color, color("light green"), color("white")}; }

struct spot {
    int y, x;
};

constexpr int attribute_tiles = attribute_rows * sheet_columns;  // only these can be masks

uint8_t sheet[canvas_bytes];           // the picture in EGA colours, laid out as the tool draws it
int shore_of_tile[attribute_tiles];    // index into shores, -1 for no mask tile

void put(int tile, int y, int x, uint8_t color)
{
    sheet[canvas_index(tile / sheet_columns, tile % sheet_columns, y, x)] = color;
}

int32_t mask_of(int tile) { return water_mask_of(tile / sheet_columns, tile % sheet_columns); }

bool is_grass(int tile) { return is_grass_tile(tile / sheet_columns, tile % sheet_columns) != 0; }

// Fills the rectangle, clipped to the tile.
void fill(int tile, spot at, int height, int width, uint8_t color)
{
    for (int y = std::max(at.y, 0); y < std::min(at.y + height, tile_size); ++y)
        for (int x = std::max(at.x, 0); x < std::min(at.x + width, tile_size); ++x)
            put(tile, y, x, color);
}

void draw_number(int tile, spot at, uint8_t ink)
{
    const int digits[3] = {tile / 100, tile / 10 % 10, tile % 10};
    for (int i = 0; i < 3; ++i)
        for (int y = 0; y < label_height; ++y)
            for (int x = 0; x < 3; ++x)
                if (digit_font[digits[i]][y * 4 + x] == '#')
                    put(tile, at.y + y, at.x + i * 4 + x, ink);
}

// A label with a pixel of plate around it, so no pattern runs into the digits.
void draw_label(int tile, spot at, uint8_t ink, uint8_t plate)
{
    fill(tile, {at.y - 1, at.x - 1}, label_height + 2, label_width + 2, plate);
    draw_number(tile, at, ink);
}

bool is_water(const shore &s, int y, int x)
{
    const int px = 2 * x + 1, py = 2 * y + 1;
    if (s.kind == water_side) return s.a * px + s.b * py + s.d * wave[x % 8] < s.c;
    const int dx = px - s.a, dy = py - s.b;
    const bool inside = dx * dx * s.d * s.d + dy * dy * s.c * s.c < s.c * s.c * s.d * s.d;
    return s.kind == water_oval ? inside : !inside;
}

// Whether the label at `at`, with a pixel of margin where the tile allows,
// lies wholly on water (or wholly on land).
bool label_fits(const shore &s, spot at, bool water, int margin)
{
    for (int y = at.y - margin; y < at.y + label_height + margin; ++y)
        for (int x = at.x - margin; x < at.x + label_width + margin; ++x)
            if (y >= 0 && y < tile_size && x >= 0 && x < tile_size && is_water(s, y, x) != water)
                return false;
    return true;
}

// The first place, from the top left, where a label fits on water or land.
// The outer columns and the last row stay free, so neighbours' labels never touch.
spot label_spot(const shore &s, bool water)
{
    for (int margin = 1; margin >= 0; --margin)
        for (int y = 0; y + label_height < tile_size; ++y)
            for (int x = 1; x + label_width < tile_size; ++x)
                if (label_fits(s, {y, x}, water, margin)) return {y, x};
    return {1, 1};  // not reached: every shape has room on both sides
}

// Mask tiles in rising number take the shoreline shapes in order.
void find_mask_tiles()
{
    bool is_mask[attribute_tiles] = {};
    for (int tile = 0; tile < attribute_tiles; ++tile) is_mask[std::abs(mask_of(tile))] = true;
    is_mask[0] = false;  // 0 stands for no mask
    int next = 0;
    for (int tile = 0; tile < attribute_tiles; ++tile)
        shore_of_tile[tile] = is_mask[tile] ? next++ % shore_count : -1;
}

const shore &shore_of_mask(int mask_tile) { return shores[shore_of_tile[mask_tile]]; }

void draw_plain_water(int tile)
{
    for (int y = 0; y < tile_size; ++y)
        for (int x = 0; x < tile_size; ++x) {
            const int crest = (2 * y + wave[x % 8] + 16) % 8;
            put(tile, y, x, crest == 0 ? color("white") : crest < 3 ? color("light blue") : color("blue"));
        }
    draw_label(tile, {1, 1}, color("cyan"), color("blue"));
}

// Black (0) on the shape's land, where a plain mask keeps the water tile's
// own pixels; the label sits on the water side, nonzero, so the shape holds.
void draw_mask(int tile)
{
    const shore &s = shore_of_mask(tile);
    for (int y = 0; y < tile_size; ++y)
        for (int x = 0; x < tile_size; ++x) put(tile, y, x, is_water(s, y, x) ? color("cyan") : color("black"));
    draw_number(tile, label_spot(s, true), color("white"));
}

void draw_ground(int tile, const ground &g)
{
    for (int y = 0; y < tile_size; ++y)
        for (int x = 0; x < tile_size; ++x)
            put(tile, y, x, (x * 5 + y * 3) % 7 == 0 && y % 3 != 2 ? g.speck : g.base);
}

// Ground all over; remaking floods it where its mask says. The label goes
// where the tile keeps its own pixels: on the mask's land, or on its water
// when the mask is inverted.
void draw_water_tile(int tile, int mask)
{
    const ground g = is_grass(tile) ? grass() : sand();
    draw_ground(tile, g);
    draw_label(tile, label_spot(shore_of_mask(std::abs(mask)), mask < 0), g.ink, g.base);
}

void draw_grass(int tile)
{
    draw_ground(tile, grass());
    draw_label(tile, {1, 1}, color("white"), color("black"));
}

// Each column has one colour; the upper half of the sheet shows it in
// patterns with its light or dark partner, the lower half fades it into
// the other colours.
bool second_color(int tile, int y, int x)
{
    const int row = tile / sheet_columns;
    if (row < attribute_rows) return patterns[row % pattern_count](y, x);
    const int level = row % 4 == 0 ? y : row % 4 == 1 ? x : row % 4 == 2 ? (x + y) / 2 : 15 - y;
    return bayer[y % 4][x % 4] < level;
}

void draw_ordinary(int tile)
{
    const int column = tile % sheet_columns;
    const int row = tile / sheet_columns;
    const uint8_t first = static_cast<uint8_t>(column);
    // Light meets dark in every tile, so the CGA reduction keeps the patterns.
    const int hue = row < attribute_rows ? column : column + row;
    const uint8_t second = static_cast<uint8_t>((hue % 8) | ((column & 8) ^ 8));
    for (int y = 0; y < tile_size; ++y)
        for (int x = 0; x < tile_size; ++x)
            put(tile, y, x, second_color(tile, y, x) ? second : first);
    draw_label(tile, {1, 1}, color("white"), color("black"));
}

void draw_tile_picture(int tile)
{
    const int32_t mask = mask_of(tile);
    if (tile == plain_water_tile)
        draw_plain_water(tile);
    else if (tile < attribute_tiles && shore_of_tile[tile] >= 0)
        draw_mask(tile);
    else if (mask != 0)
        draw_water_tile(tile, mask);
    else if (is_grass(tile))
        draw_grass(tile);
    else
        draw_ordinary(tile);
}

uint8_t cga_sheet[canvas_bytes];

}  // namespace

void make_sample_tiles(uint8_t *ega_file, uint8_t *cga_file)
{
    find_mask_tiles();
    for (int tile = 0; tile < tile_count; ++tile) draw_tile_picture(tile);
    pack_sheet(sheet, ega_file, ega_mode.pixels_per_byte);
    uint8_t to_cga[16];
    for (const auto &[ega, cga] : cga_of) to_cga[color(ega)] = color(cga, cga_mode);
    for (uint32_t i = 0; i < canvas_bytes; ++i) cga_sheet[i] = to_cga[sheet[i]];
    pack_sheet(cga_sheet, cga_file, cga_mode.pixels_per_byte);
}
