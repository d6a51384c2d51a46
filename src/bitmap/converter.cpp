// Pixel format converter: rewrites a whole picture from one bit count and
// palette to another, in the buffer layout that the reader fills and the
// writer takes. Direct colour to indexed does not search the whole palette for
// every pixel: it picks, by palette size and processor, a search that gives
// the answers of find_nearest_color at a fraction of the cost. No C++ runtime
// is needed: memory comes from malloc, and nothing throws.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap.h"
#include "layout.h"
#include "nearest.h"
#include "test_switch.h"

using namespace bitmap_layout;
using bitmap_search::distance;
using bitmap_search::far_axis;
using bitmap_search::near_axis;
using search_path = test_switch::search;

namespace {

// Stands in for a missing palette on a 1-bit side.
constexpr palette_entry black_and_white[2] = {
    {0, 0, 0, 0},        // 0: black
    {255, 255, 255, 0},  // 1: white
};

// Above the largest distance that channels of 0 to 255 can give, 3 x 255 x 255.
constexpr int no_distance = 0x30000;

// 8-bit channels to the 5 bits of a 16-bit pixel and back; the expansion
// repeats the top bits, so 0 stays 0 and 31 becomes 255.
constexpr unsigned reduce5(unsigned v) { return v >> 3; }
constexpr uint8_t expand5(unsigned v) { return static_cast<uint8_t>(v << 3 | v >> 2); }

// A colour as a 16-bit pixel's word: red in bits 10-14, green 5-9, blue 0-4.
constexpr unsigned word_of(const palette_entry &c)
{
    return reduce5(c.red) << 10 | reduce5(c.green) << 5 | reduce5(c.blue);
}

constexpr uint32_t key_of(const palette_entry &c)
{
    return uint32_t{c.red} << 16 | uint32_t{c.green} << 8 | c.blue;
}

// A direct-colour pixel's colour. 16-bit pixels are little-endian words with
// blue in bits 0-4, green in 5-9, red in 10-14; bit 15 is ignored.
template <int BitCount>
palette_entry load(const uint8_t *p)
{
    if constexpr (BitCount == 16) {
        const unsigned word = p[0] | p[1] << 8;
        return {expand5(word & 31), expand5(word >> 5 & 31), expand5(word >> 10 & 31), 0};
    } else {
        return {p[0], p[1], p[2], 0};
    }
}

template <int BitCount>
void store(const palette_entry &color, uint8_t *p)
{
    if constexpr (BitCount == 16) {
        const unsigned word = word_of(color);
        p[0] = static_cast<uint8_t>(word);
        p[1] = static_cast<uint8_t>(word >> 8);
    } else {
        p[0] = color.blue;
        p[1] = color.green;
        p[2] = color.red;
        if constexpr (BitCount == 32) p[3] = 0;
    }
}

// One side of a conversion once its bit count and palette are accepted.
struct side {
    int bit_count;
    int entries;  // 0 for direct colour
    const palette_entry *palette;
};

// False for an unsupported bit count, or a 4- or 8-bit side without palette.
bool classify(int bit_count, const palette_entry *palette, side *out)
{
    if (!supported_bit_count(static_cast<uint32_t>(bit_count))) return false;
    if (bit_count == 1 && palette == nullptr) palette = black_and_white;
    if (is_indexed(bit_count) && palette == nullptr) return false;
    *out = {bit_count, static_cast<int>(palette_entries(bit_count)), palette};
    return true;
}

// The source entry that an indexed pixel byte stands for. Values past the
// entry count follow the writer (any nonzero 1-bit byte is set, a 4-bit byte
// keeps its low four bits), so they never reach past a palette or the map.
unsigned source_entry(unsigned value, int bit_count)
{
    if (bit_count == 1) return value != 0;
    if (bit_count == 4) return value & 0x0F;
    return value;
}

// The buffer size in bytes, refused (false) when width or height is negative
// or the size leaves the signed 32-bit range that the size is counted in.
// Bit counts are not checked yet: the buffer is obtained before they are.
bool buffer_size(int width, int height, int bit_count, int *size)
{
    if (width < 0 || height < 0) return false;
    const int64_t pixels = int64_t{width} * height;
    const int64_t pixel_bytes = (int64_t{bit_count} + 7) / 8;
    if (pixels != 0 && (pixel_bytes < 0 || pixel_bytes > INT_MAX / pixels)) return false;
    *size = static_cast<int>(pixels * pixel_bytes);
    return true;
}

// Gives find_nearest_color's answer over one palette for many colours.
//
// Answers already found are kept: the last one, since neighbouring pixels
// often share a colour, and others by colour in a direct-mapped table, where
// each of the 32768 colours of a 16-bit source has a slot of its own.
//
// Other colours go to their cell: colour space is cut into 16 x 16 x 16
// cells, and a cell lists, in index order, only the entries that can be
// nearest to some colour inside it: those whose closest point in the cell is
// no farther than the farthest point of the entry that is best in the worst
// case. A repeated colour is listed once, at its first index, as only that
// one can win. Cells are filled on first use.
//
// Memory per call: 8 bytes a cell (32 KiB), at most 256 list bytes a cell
// (1 MiB), and 5 bytes a table slot (160 KiB). This is the portable search;
// x86 processors get those of nearest_x86.cpp.
class nearest_search {
public:
    nearest_search() = default;
    nearest_search(const nearest_search &) = delete;
    nearest_search &operator=(const nearest_search &) = delete;
    ~nearest_search() { std::free(memory_); }

    // False when memory runs out; the caller then searches the plain way.
    bool init(const palette_entry *palette, int count);

    template <int From>
    uint8_t find(const palette_entry &color)
    {
        const uint32_t key = key_of(color);
        if (key == last_key_) return last_answer_;
        const uint32_t slot = From == 16 ? word_of(color) : key * 0x9E3779B1u >> 17;
        if (keys_[slot] != key) {
            keys_[slot] = key;
            answers_[slot] = search(color);
        }
        last_key_ = key;
        return last_answer_ = answers_[slot];
    }

private:
    static constexpr int cell_bits = 4, axis_bits = 8 - cell_bits;
    static constexpr int cells = 1 << 3 * axis_bits;
    static constexpr uint32_t slots = 1 << 15, no_key = UINT32_MAX;

    uint8_t search(const palette_entry &color)
    {
        const int cell = color.red >> cell_bits << 2 * axis_bits |
                         color.green >> cell_bits << axis_bits | color.blue >> cell_bits;
        if (end_[cell] == 0) fill(cell);
        // Distance and index as one key: the smallest is the nearest entry
        // with the lowest index, the one that find_nearest_color picks.
        int best = INT_MAX;
        for (uint32_t i = begin_[cell]; i < end_[cell]; ++i) {
            const int d = distance(palette_[lists_[i]], color.red, color.green, color.blue);
            const int k = d << 8 | lists_[i];
            best = k < best ? k : best;
        }
        return static_cast<uint8_t>(best);
    }

    void fill(int cell);

    const palette_entry *palette_ = nullptr;
    void *memory_ = nullptr;  // every array below
    uint8_t distinct_[max_palette_entries];  // first index of each colour, in index order
    int distinct_count_ = 0;
    uint32_t *begin_ = nullptr, *end_ = nullptr;  // end 0: not filled yet
    uint8_t *lists_ = nullptr;
    uint32_t list_size_ = 0;
    uint32_t *keys_ = nullptr;
    uint8_t *answers_ = nullptr;
    uint32_t last_key_ = no_key;
    uint8_t last_answer_ = 0;
};

bool nearest_search::init(const palette_entry *palette, int count)
{
    palette_ = palette;
    distinct_count_ = bitmap_search::distinct_entries(palette, count, distinct_);
    const size_t ends = sizeof(uint32_t) * cells, keys = sizeof(uint32_t) * slots;
    auto *memory = static_cast<uint8_t *>(
        std::malloc(2 * ends + keys + slots + size_t{cells} * distinct_count_));
    if (memory == nullptr) return false;
    memory_ = memory;
    begin_ = reinterpret_cast<uint32_t *>(memory);
    end_ = reinterpret_cast<uint32_t *>(memory + ends);
    keys_ = reinterpret_cast<uint32_t *>(memory + 2 * ends);
    answers_ = memory + 2 * ends + keys;
    lists_ = answers_ + slots;
    std::memset(end_, 0, ends);
    std::memset(keys_, 0xFF, keys);  // every slot no_key
    return true;
}

void nearest_search::fill(int cell)
{
    constexpr int span = (1 << cell_bits) - 1, mask = (1 << axis_bits) - 1;
    const int red = (cell >> 2 * axis_bits & mask) << cell_bits;
    const int green = (cell >> axis_bits & mask) << cell_bits;
    const int blue = (cell & mask) << cell_bits;
    const auto near = [&](const palette_entry &e) {
        return near_axis(e.red, red, span) + near_axis(e.green, green, span) +
               near_axis(e.blue, blue, span);
    };
    const auto far = [&](const palette_entry &e) {
        return far_axis(e.red, red, span) + far_axis(e.green, green, span) +
               far_axis(e.blue, blue, span);
    };
    int limit = INT_MAX;
    for (int i = 0; i < distinct_count_; ++i) {
        const int d = far(palette_[distinct_[i]]);
        limit = d < limit ? d : limit;
    }
    begin_[cell] = list_size_;
    for (int i = 0; i < distinct_count_; ++i)
        if (near(palette_[distinct_[i]]) <= limit) lists_[list_size_++] = distinct_[i];
    end_[cell] = list_size_;
}

// Conversion paths. Each reads `pixels` source pixels and writes as many
// destination pixels, strictly in sequence.
using path = void (*)(const uint8_t *src, uint8_t *dst, size_t pixels, const side &from,
                      const side &to);

void indexed_to_indexed(const uint8_t *src, uint8_t *dst, size_t pixels, const side &from,
                        const side &to)
{
    uint8_t map[max_palette_entries];
    for (int i = 0; i < from.entries; ++i) {
        const palette_entry &e = from.palette[i];
        map[i] = static_cast<uint8_t>(
            find_nearest_color(e.red, e.green, e.blue, to.palette, to.entries));
    }
    for (int v = from.entries; v < max_palette_entries; ++v)
        map[v] = map[source_entry(v, from.bit_count)];
    for (size_t i = 0; i < pixels; ++i) dst[i] = map[src[i]];
}

template <int To>
void indexed_to_direct(const uint8_t *src, uint8_t *dst, size_t pixels, const side &from,
                       const side &)
{
    constexpr size_t out = buffer_pixel_bytes(To);
    uint8_t pixel_of[max_palette_entries][out];
    for (unsigned v = 0; v < max_palette_entries; ++v)
        store<To>(from.palette[source_entry(v, from.bit_count)], pixel_of[v]);
    for (size_t i = 0; i < pixels; ++i, dst += out) std::memcpy(dst, pixel_of[src[i]], out);
}

template <int From, int To>
void direct_to_direct(const uint8_t *src, uint8_t *dst, size_t pixels, const side &, const side &)
{
    constexpr size_t in = buffer_pixel_bytes(From), out = buffer_pixel_bytes(To);
    if constexpr (From == To) {
        std::memcpy(dst, src, pixels * in);
    } else {
        for (size_t i = 0; i < pixels; ++i) store<To>(load<From>(src + i * in), dst + i * out);
    }
}

template <int From>
void direct_to_indexed_plain(const uint8_t *src, uint8_t *dst, size_t pixels, const side &to)
{
    constexpr size_t in = buffer_pixel_bytes(From);
    for (size_t i = 0; i < pixels; ++i, src += in) {
        const palette_entry c = load<From>(src);
        dst[i] = static_cast<uint8_t>(
            find_nearest_color(c.red, c.green, c.blue, to.palette, to.entries));
    }
}

template <int From>
void direct_to_indexed_cached(const uint8_t *src, uint8_t *dst, size_t pixels, const side &to)
{
    constexpr size_t in = buffer_pixel_bytes(From);
    nearest_search finder;
    if (!finder.init(to.palette, to.entries))
        return direct_to_indexed_plain<From>(src, dst, pixels, to);
    for (size_t i = 0; i < pixels; ++i, src += in) dst[i] = finder.find<From>(load<From>(src));
}

#if QELEGA_X86_SEARCH
// The SIMD searches read 24- and 32-bit pixels where they are; 16-bit ones
// go to them a block at a time, widened to BGR0.
template <int From, class Find>
void as_bgr(const uint8_t *src, uint8_t *dst, size_t pixels, Find find)
{
    if constexpr (From != 16) {
        find(src, buffer_pixel_bytes(From), pixels, dst);
    } else {
        constexpr size_t block = 256;
        palette_entry colors[block];
        for (size_t done = 0; done < pixels; done += block) {
            const size_t n = pixels - done < block ? pixels - done : block;
            for (size_t i = 0; i < n; ++i) colors[i] = load<16>(src + (done + i) * 2);
            find(&colors[0].blue, sizeof colors[0], n, dst + done);
        }
    }
}

template <int From>
void direct_to_indexed_brute(const uint8_t *src, uint8_t *dst, size_t pixels, const side &to)
{
    as_bgr<From>(src, dst, pixels, [&to](const uint8_t *bgr, size_t stride, size_t n, uint8_t *out) {
        bitmap_search::brute_nearest(bgr, stride, n, to.palette, to.entries, out);
    });
}

template <int From>
void direct_to_indexed_cells(const uint8_t *src, uint8_t *dst, size_t pixels, const side &to)
{
    bitmap_search::cell_table *table = bitmap_search::make_cell_table(to.palette, to.entries);
    if (table == nullptr) return direct_to_indexed_cached<From>(src, dst, pixels, to);
    as_bgr<From>(src, dst, pixels, [table](const uint8_t *bgr, size_t stride, size_t n, uint8_t *out) {
        bitmap_search::cells_nearest(table, bgr, stride, n, out);
    });
    bitmap_search::free_cell_table(table);
}
#endif

bool available(search_path s)
{
#if QELEGA_X86_SEARCH
    if (s == search_path::brute) return bitmap_search::brute_available();
    if (s == search_path::cells) return bitmap_search::cells_available();
#endif
    return s == search_path::plain || s == search_path::cached;
}

// Up to 16 entries the brute force beats any table; above, the cell table,
// once the picture is large enough to win back its setup (about as much as
// the brute force takes for this many distances). Without either, the cached search
// pays off once its setup, about as much as this many distances, is won
// back, and above two entries for 24 and 32 bits, as two entries are
// compared faster than a cache of colours is read.
search_path choose(int from, size_t pixels, int entries)
{
    constexpr size_t cell_setup = size_t{1} << 22, setup_cost = size_t{1} << 16;
    const search_path forced = test_switch::force.nearest;
    if (forced != search_path::automatic && available(forced)) return forced;
    const size_t distances = pixels * size_t(entries);
    if ((entries <= 16 || distances < cell_setup) && available(search_path::brute)) return search_path::brute;
    if (available(search_path::cells)) return search_path::cells;
    if ((from != 16 && entries <= 2) || distances < setup_cost) return search_path::plain;
    return search_path::cached;
}

template <int From>
void direct_to_indexed(const uint8_t *src, uint8_t *dst, size_t pixels, const side &,
                       const side &to)
{
    switch (choose(From, pixels, to.entries)) {
#if QELEGA_X86_SEARCH
    case search_path::brute:
        return direct_to_indexed_brute<From>(src, dst, pixels, to);
    case search_path::cells:
        return direct_to_indexed_cells<From>(src, dst, pixels, to);
#endif
    case search_path::cached:
        return direct_to_indexed_cached<From>(src, dst, pixels, to);
    default:
        return direct_to_indexed_plain<From>(src, dst, pixels, to);
    }
}

// Paths by source and destination kind: indexed (1, 4, 8 bits), 16, 24, 32.
constexpr path paths[4][4] = {
    {indexed_to_indexed, indexed_to_direct<16>, indexed_to_direct<24>,
     indexed_to_direct<32>},  // from indexed
    {direct_to_indexed<16>, direct_to_direct<16, 16>, direct_to_direct<16, 24>,
     direct_to_direct<16, 32>},  // from 16
    {direct_to_indexed<24>, direct_to_direct<24, 16>, direct_to_direct<24, 24>,
     direct_to_direct<24, 32>},  // from 24
    {direct_to_indexed<32>, direct_to_direct<32, 16>, direct_to_direct<32, 24>,
     direct_to_direct<32, 32>},  // from 32
};

int kind(int bit_count) { return is_indexed(bit_count) ? 0 : bit_count / 8 - 1; }

}  // namespace

extern "C" {

int find_nearest_color(int red, int green, int blue, const palette_entry *palette, int count)
{
    // Ties keep the lower index; an exact match ends the search.
    int best = 0, best_distance = no_distance;
    for (int i = 0; i < count; ++i) {
        const int d = distance(palette[i], red, green, blue);
        if (d == 0) return i;
        if (d < best_distance) {
            best = i;
            best_distance = d;
        }
    }
    return best;
}

int convert_bitmap_pixels(int width, int height, int source_bit_count,
                          const palette_entry *source_palette, const uint8_t *source_pixels,
                          int destination_bit_count, const palette_entry *destination_palette,
                          uint8_t **destination)
{
    if (source_pixels == nullptr || destination == nullptr) return -1;
    int size = 0;
    if (!buffer_size(width, height, destination_bit_count, &size)) return -1;
    if (*destination == nullptr) {
        // At least one byte, so an empty picture never looks like exhaustion.
        *destination = static_cast<uint8_t *>(std::malloc(size > 0 ? size_t(size) : 1));
        if (*destination == nullptr) {
            std::printf("error: memory exhaust!\n");
            return -2;
        }
    }
    // Every path writes every byte of the buffer, so only a refusal shows
    // it cleared.
    side from{}, to{};
    if (!classify(source_bit_count, source_palette, &from) ||
        !classify(destination_bit_count, destination_palette, &to)) {
        std::memset(*destination, 0, static_cast<size_t>(size));
        return -1;
    }
    paths[kind(source_bit_count)][kind(destination_bit_count)](
        source_pixels, *destination, size_t(width) * size_t(height), from, to);
    return 0;
}

}  // extern "C"
