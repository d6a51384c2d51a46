// A switch for tests: it makes the library take one search or unpacking
// path of several that give the same bytes, so that tests and the fuzz
// targets check each path against the others. Everything else leaves it
// alone, and the library then chooses by processor and picture.
#pragma once

namespace test_switch {

// Nearest-colour searches for direct colour to indexed: the plain full
// search per pixel, the portable cell search with its cache of answers, the
// SIMD brute force and the SIMD cell table.
enum class search { automatic, plain, cached, brute, cells };

struct forced_paths {
    search nearest = search::automatic;
    bool one_row_reads = false;    // read_bitmap's loop without its chunk
    bool portable_unpack = false;  // the table code even where SSE2 is there
    bool avx2_brute = false;       // the brute force without AVX-512 VNNI
    bool no_pext = false;          // the cell search's cell numbers by shifts
    bool no_answers = false;       // the cell search without its blocks of answers, filling a coarse cell at a time
    bool few_answers = false;      // the cell search with room for a few lines of answers of blocks' own
};

inline forced_paths force;

}  // namespace test_switch
