// The library's choices between implementations that give the same bytes.
// Tests and the fuzz target force each one so that it is checked against the
// others; everything else leaves the choice to the library.
#pragma once

namespace bitmap_paths {

// Nearest-colour searches for direct colour to indexed: the plain full
// search per pixel, the portable cell search with its cache of answers, the
// SIMD brute force and the SIMD cell table.
enum class search { automatic, plain, cached, brute, cells };

struct forcing {
    search nearest = search::automatic;
    bool one_row_reads = false;    // read_bitmap's loop without its chunk
    bool portable_unpack = false;  // the table code even where SSE2 is there
    bool avx2_brute = false;       // the brute force without AVX-512 VNNI
    bool no_pext = false;          // the cell search's cell numbers by shifts
};

inline forcing forced;

}  // namespace bitmap_paths
