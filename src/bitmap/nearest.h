// Nearest-colour searches that give find_nearest_color's answers (the
// nearest entry, the lowest index on a tie) for many colours at once.
// Internal to the library.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bitmap.h"

#if defined(__x86_64__) || defined(__i386__)
#define QELEGA_X86_SEARCH 1
#else
#define QELEGA_X86_SEARCH 0
#endif

namespace bitmap_search {

inline int distance(const palette_entry &e, int red, int green, int blue)
{
    const int b = e.blue - blue, g = e.green - green, r = e.red - red;
    return b * b + g * g + r * r;
}

// The first index of each colour of the palette, in index order, into
// `out`; their count. Only the first of equal entries can be nearest.
inline int distinct_entries(const palette_entry *palette, int count, uint8_t *out)
{
    int n = 0;
    for (int i = 0; i < count; ++i) {
        bool repeated = false;
        for (int j = 0; j < n && !repeated; ++j)
            repeated = distance(palette[out[j]], palette[i].red, palette[i].green, palette[i].blue) == 0;
        if (!repeated) out[n++] = static_cast<uint8_t>(i);
    }
    return n;
}

// Squared distance along one channel from v to the nearest and to the
// farthest value of [lo, lo + span].
inline int near_axis(int v, int lo, int span)
{
    const int d = v < lo ? lo - v : v > lo + span ? v - lo - span : 0;
    return d * d;
}

inline int far_axis(int v, int lo, int span)
{
    const int d = v - lo > lo + span - v ? v - lo : lo + span - v;
    return d * d;
}

#if QELEGA_X86_SEARCH
// Each writes out[i], the nearest entry for the i-th of `count` colours,
// given as blue, green and red bytes, `stride` (3 or 4) bytes apart.

// AVX2: every entry against sixteen colours at a time; with AVX-512 VNNI,
// thirty-two.
bool brute_available();
void brute_nearest(const uint8_t *colors, size_t stride, size_t count,
                   const palette_entry *palette, int entries, uint8_t *out);

// AVX2 and BMI2: answers kept by exact colour, in blocks of 64 colours
// filled whole, and a table of colour cells, each with the few entries that
// can be nearest inside it. Null when memory runs out.
struct cell_table;
bool cells_available();
cell_table *make_cell_table(const palette_entry *palette, int entries);
void cells_nearest(cell_table *table, const uint8_t *colors, size_t stride, size_t count,
                   uint8_t *out);
void free_cell_table(cell_table *table);
#endif

}  // namespace bitmap_search
