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

// AVX2: every entry against sixteen colours at a time.
bool brute_available();
void brute_nearest(const uint8_t *colours, size_t stride, size_t count,
                   const palette_entry *palette, int entries, uint8_t *out);

// SSE4.1: a table of colour cells, each with the few entries that can be
// nearest inside it. Null when memory runs out.
struct cell_table;
bool cells_available();
cell_table *make_cell_table(const palette_entry *palette, int entries);
void cells_nearest(cell_table *table, const uint8_t *colours, size_t stride, size_t count,
                   uint8_t *out);
void free_cell_table(cell_table *table);
#endif

}  // namespace bitmap_search
