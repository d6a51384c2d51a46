// Nearest-colour searches for x86 processors with AVX2, picked at run time
// so that one binary runs on any of them: a brute force for small palettes
// (in 512-bit vectors where AVX-512 VNNI is there) and, for larger ones,
// answers kept by exact colour in blocks of 64, each filled at once by the
// brute force over the few entries that its colour cell keeps, or, where
// colours seldom repeat, that table of colour cells searched eight entries at
// a time, in bytes.
#include "nearest.h"
#include "test_switch.h"

#if QELEGA_X86_SEARCH
// GCC 12 warns of the placeholder operand inside its own AVX-512 intrinsics.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#include <immintrin.h>
#endif

#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>

#define QELEGA_AVX2 __attribute__((target("avx2")))
#define QELEGA_VNNI __attribute__((target("avx2,avx512f,avx512bw,avx512vnni")))
#define QELEGA_CELLS __attribute__((target("avx2,bmi2")))

namespace bitmap_search {

namespace {

int distance(const palette_entry &e, const palette_entry &c)
{
    return bitmap_search::distance(e, c.red, c.green, c.blue);
}

// Distance and index as one key: the smallest is the nearest entry with the
// lowest index, the one that find_nearest_color picks.
uint32_t key(int distance, int index) { return uint32_t(distance) << 8 | uint32_t(index); }

}  // namespace

bool brute_available() { return __builtin_cpu_supports("avx2"); }

namespace {

// Sixteen colours as two vectors of eight BGR0 words. Packed 24-bit ones
// come four from each twelve bytes, the last four read as bytes 4-15 of a
// load that ends at the sixteenth colour.
QELEGA_AVX2 void load16(const uint8_t *p, size_t stride, __m256i *first, __m256i *second)
{
    if (stride == 4) {
        *first = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
        *second = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 32));
        return;
    }
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i spread_end = _mm_setr_epi8(4, 5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15, -1);
    const auto *at = reinterpret_cast<const __m128i *>(p);  // in steps of 16 bytes
    const __m128i a = _mm_loadu_si128(at), b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 12)),
                  c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 24)), d = _mm_loadu_si128(at + 2);
    *first = _mm256_set_m128i(_mm_shuffle_epi8(b, spread), _mm_shuffle_epi8(a, spread));
    *second = _mm256_set_m128i(_mm_shuffle_epi8(d, spread_end), _mm_shuffle_epi8(c, spread));
}

uint8_t plain_nearest(const uint8_t *bgr, const palette_entry *palette, int entries)
{
    return static_cast<uint8_t>(find_nearest_color(bgr[2], bgr[1], bgr[0], palette, entries));
}

}  // namespace

namespace {

// The brute force compares keys 256 x (|p|^2 - 2 c.p) + index, in 32-bit
// lanes: the squared distance less |c|^2, which all entries share, so the
// smallest key is the nearest entry with the lowest index, and exact. With
// the colour's channels times 4 and each entry's times -128 as 16-bit words,
// c.p is two pairwise products, a multiply-add each. An entry's three words
// are broadcast to every lane where they are used.
struct brute_entry {
    int blue_green, red, base;
};

brute_entry brute_entry_of(const palette_entry &p, int index)
{
    const auto word = [](int channel) { return static_cast<uint32_t>(-128 * channel) & 0xFFFF; };
    return {static_cast<int>(word(p.blue) | word(p.green) << 16), static_cast<int>(word(p.red)),
            256 * distance(p, {0, 0, 0, 0}) + index};
}

// From BGR0 colours: blue and green, then red, four times each, as words.
__m128i spread_blue_green()
{
    return _mm_setr_epi8(0, -1, 1, -1, 4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1);
}
constexpr int red_shift = 14, red_mask = 0xFF << 2;

struct brute_colors {
    __m256i blue_green, red;
};

QELEGA_AVX2 brute_colors brute_colors_of(__m256i bgr0)
{
    const __m256i spread = _mm256_broadcastsi128_si256(spread_blue_green());
    return {_mm256_slli_epi16(_mm256_shuffle_epi8(bgr0, spread), 2),
            _mm256_and_si256(_mm256_srli_epi32(bgr0, red_shift), _mm256_set1_epi32(red_mask))};
}

QELEGA_AVX2 __m256i key(const brute_entry &e, const brute_colors &c)
{
    const __m256i blue_green = _mm256_madd_epi16(c.blue_green, _mm256_set1_epi32(e.blue_green));
    const __m256i red = _mm256_madd_epi16(c.red, _mm256_set1_epi32(e.red));
    return _mm256_add_epi32(_mm256_add_epi32(_mm256_set1_epi32(e.base), blue_green), red);
}

// The low bytes of sixteen keys, in order.
QELEGA_AVX2 void put_indices(__m256i first, __m256i second, uint8_t *out)
{
    const __m256i low = _mm256_set1_epi32(0xFF);
    const __m256i words = _mm256_packus_epi32(_mm256_and_si256(first, low), _mm256_and_si256(second, low));
    const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(words, words),
                                                      _mm256_setr_epi32(0, 4, 1, 5, 0, 4, 1, 5));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm256_castsi256_si128(bytes));
}

struct wide_colors {
    __m512i blue_green, red;
};

QELEGA_VNNI wide_colors wide_colors_of(const uint8_t *p, size_t stride)
{
    __m256i first, second;
    load16(p, stride, &first, &second);
    const __m512i bgr0 = _mm512_inserti64x4(_mm512_castsi256_si512(first), second, 1);
    const __m512i spread = _mm512_broadcast_i32x4(spread_blue_green());
    return {_mm512_slli_epi16(_mm512_shuffle_epi8(bgr0, spread), 2),
            _mm512_and_si512(_mm512_srli_epi32(bgr0, red_shift), _mm512_set1_epi32(red_mask))};
}

QELEGA_VNNI __m512i key(const brute_entry &e, const wide_colors &c)
{
    const __m512i blue_green = _mm512_dpwssd_epi32(_mm512_set1_epi32(e.base), c.blue_green,
                                                   _mm512_set1_epi32(e.blue_green));
    return _mm512_dpwssd_epi32(blue_green, c.red, _mm512_set1_epi32(e.red));
}

QELEGA_AVX2 void brute_avx2(const brute_entry *e, int keys, const uint8_t *colors, size_t stride, size_t count,
                            const palette_entry *palette, int entries, uint8_t *out)
{
    size_t i = 0;
    for (; count - i >= 16; i += 16) {
        __m256i first, second;
        load16(colors + i * stride, stride, &first, &second);
        const brute_colors a = brute_colors_of(first), b = brute_colors_of(second);
        __m256i best_a = _mm256_set1_epi32(INT_MAX), best_b = best_a;
        for (int k = 0; k < keys; ++k) {
            best_a = _mm256_min_epi32(best_a, key(e[k], a));
            best_b = _mm256_min_epi32(best_b, key(e[k], b));
        }
        put_indices(best_a, best_b, out + i);
    }
    for (; i < count; ++i) out[i] = plain_nearest(colors + i * stride, palette, entries);
}

// Thirty-two colours at a time, in two vectors of sixteen; the rest as above.
QELEGA_VNNI void brute_vnni(const brute_entry *e, int keys, const uint8_t *colors, size_t stride, size_t count,
                            const palette_entry *palette, int entries, uint8_t *out)
{
    size_t i = 0;
    for (; count - i >= 32; i += 32) {
        const wide_colors a = wide_colors_of(colors + i * stride, stride),
                           b = wide_colors_of(colors + (i + 16) * stride, stride);
        __m512i best_a = _mm512_set1_epi32(INT_MAX), best_b = best_a;
        for (int k = 0; k < keys; ++k) {
            best_a = _mm512_min_epi32(best_a, key(e[k], a));
            best_b = _mm512_min_epi32(best_b, key(e[k], b));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm512_cvtepi32_epi8(best_a));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i + 16), _mm512_cvtepi32_epi8(best_b));
    }
    brute_avx2(e, keys, colors + i * stride, stride, count - i, palette, entries, out + i);
}

// Over the n entries of `list` (in index order, holding every entry that can
// be nearest).
void brute_over(const uint8_t *colors, size_t stride, size_t count, const palette_entry *palette,
                int entries, const uint8_t *list, int n, uint8_t *out)
{
    // Not a function-local static: C programs link the library without the
    // C++ runtime's guards, and the check costs a load.
    const bool vnni = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                      __builtin_cpu_supports("avx512vnni");
    const bool avx2 = !vnni || test_switch::force.avx2_brute;
    brute_entry e[256];
    for (int k = 0; k < n; ++k) e[k] = brute_entry_of(palette[list[k]], list[k]);
    (avx2 ? brute_avx2 : brute_vnni)(e, n, colors, stride, count, palette, entries, out);
}

}  // namespace

void brute_nearest(const uint8_t *colors, size_t stride, size_t count,
                   const palette_entry *palette, int entries, uint8_t *out)
{
    uint8_t all[256];
    for (int k = 0; k < entries; ++k) all[k] = static_cast<uint8_t>(k);
    brute_over(colors, stride, count, palette, entries, all, entries, out);
}

namespace {

// Colour space is cut into 32 x 32 x 32 fine cells of 8 values a side,
// grouped into 8 x 8 x 8 coarse ones. A coarse cell lists the entries that
// can be nearest inside it; a fine cell, filled on first use from its coarse
// cell's list, holds the few that can be nearest inside it, in groups of
// eight searched at once.
constexpr int fine_bits = 5, coarse_bits = 3;
constexpr int fine_cells = 1 << 3 * fine_bits, coarse_cells = 1 << 3 * coarse_bits;
constexpr int fine_span = (256 >> fine_bits) - 1, coarse_span = (256 >> coarse_bits) - 1;

// Eight candidates in index order: blue and green interleaved, then red
// interleaved with the candidate's index, as one 32-byte vector. A short
// group repeats its last candidate, which cannot change the answer; a cell
// with one candidate is a group of it alone, so that every colour takes the
// same branch-free way. A cell's candidates are distinct entries, so where
// the last one first appears is where its list ends.
struct alignas(32) group {
    uint8_t blue_green[16], red_index[16];
};

// The channels of a cell's candidates are searched as differences in signed
// bytes, so each must lie within 127 of every colour in the cell; fill()
// leaves a cell with one beyond that to its coarse list.
constexpr int byte_reach = 127;

// A fine cell's first group is kept with the cell, so that one access finds
// it; further groups (a cell with more than eight candidates) come from a
// shared pool. A fine cell's word: 0 until filled, then its count of groups
// in bits 22-29 and where the further ones start in bits 0-21, or bit 31
// alone when the pool ran out or a candidate is beyond a byte's reach, and
// its coarse cell's list is searched instead.
constexpr uint32_t first_mask = (1u << 22) - 1, wide = 1u << 31;
constexpr uint32_t group_limit = 8192;  // 256 KiB of further groups

// A list of entries has room for eight bytes more, which the pruning may
// write past its end; sixteen, so that the channels after it stay on
// 16-byte lines.
constexpr int list_room = 256 + 16;

// A coarse cell's candidates, in index order, with their channels beside
// them for the SIMD pruning; padded to a multiple of sixteen with the last.
struct coarse_list {
    uint8_t index[list_room], blue[256], green[256], red[256];
};

}  // namespace

// Answers by exact colour: the cube cut into 64 x 64 x 64 blocks of 4 x 4 x
// 4 colours, each block's 64 answers in one cache line, filled whole on its
// first use from its fine cell's candidates. A block with one answer all
// over shares that entry's constant line instead (lines 1 to 256), so that
// lines stay in the cache. A block's word: its line, or 0 until filled.
// Past the limit, colours go to the cells.
constexpr int block_bits = 6;
constexpr int blocks = 1 << 3 * block_bits, block_span = (256 >> block_bits) - 1;
constexpr int constant_lines = 256;
constexpr int answer_limit = 65535;  // 4 MiB of answers
constexpr int few_answers = constant_lines + 8;  // for tests: the lines soon run out

struct alignas(64) answer_block {
    uint8_t index[64];
};

// Memory: 512 KiB of block words and 4 MiB of answers; 512 KiB of coarse
// lists; 128 KiB of cell words, 1 MiB of first groups and 256 KiB of further
// groups. About 6.4 MiB a call, of which the pages that no colour reaches
// are never touched (but for the block and cell words, cleared at the
// start).
struct cell_table {
    const palette_entry *palette;
    uint32_t words[256];  // each entry's blue, green, red and index
    int entries, distinct_count;
    size_t searched, by_coarse;  // colours so far, and those searched by coarse lists
    coarse_list all;  // the first index of each colour, in index order
    uint16_t coarse_count[coarse_cells];  // 0 until filled
    coarse_list coarse[coarse_cells];
    uint16_t *answer_of;
    answer_block *answers;  // answers[0] unused
    int answers_used, answer_limit;
    uint64_t constant_filled[constant_lines / 64];
    bool answering;  // while the blocks pay
    bool whole_coarse;  // fine cells filled a coarse cell at a time
    size_t answered;  // colours so far by the blocks
    size_t filled;  // blocks filled, constant ones too
    uint32_t *fine;
    group *first;  // one a fine cell
    group *groups;
    uint32_t groups_used;
};

constexpr size_t cache_line = 64;
constexpr size_t cell_bytes = sizeof(group) * (fine_cells + group_limit) + sizeof(uint32_t) * fine_cells;
constexpr size_t answer_bytes = sizeof(answer_block) * (answer_limit + 1);
constexpr size_t answer_word_bytes = sizeof(uint16_t) * blocks;
constexpr size_t table_bytes = sizeof(cell_table) + answer_bytes + answer_word_bytes + cell_bytes + 2 * cache_line;
static_assert(table_bytes < (13u << 19), "a call's cell table stays under 6.5 MiB");

namespace {

struct corner {
    int red, green, blue;
};

// Drops each entry that another beats at every colour of the cell (by
// distance, then index). The difference of two squared distances is linear
// in the colour, so beating it at the eight corners is beating it everywhere.
QELEGA_AVX2 int drop_dominated(const palette_entry *palette, uint8_t *list, int n, const corner &lo, int span)
{
    const __m256i blue_at = _mm256_setr_epi32(0, span, 0, span, 0, span, 0, span),
                  green_at = _mm256_setr_epi32(0, 0, span, span, 0, 0, span, span),
                  red_at = _mm256_setr_epi32(0, 0, 0, 0, span, span, span, span);
    __m256i keys[32];
    for (int i = 0; i < n; ++i) {
        const palette_entry &p = palette[list[i]];
        const __m256i b = _mm256_sub_epi32(_mm256_set1_epi32(p.blue - lo.blue), blue_at),
                      g = _mm256_sub_epi32(_mm256_set1_epi32(p.green - lo.green), green_at),
                      r = _mm256_sub_epi32(_mm256_set1_epi32(p.red - lo.red), red_at);
        const __m256i squares = _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(b, b), _mm256_mullo_epi32(g, g)),
                                                 _mm256_mullo_epi32(r, r));
        keys[i] = _mm256_or_si256(_mm256_slli_epi32(squares, 8), _mm256_set1_epi32(list[i]));
    }
    uint8_t kept[32];
    int count = 0;
    for (int j = 0; j < n; ++j) {
        bool beaten = false;
        for (int i = 0; i < n && !beaten; ++i)
            beaten = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(keys[j], keys[i]))) == 0xFF;
        kept[count] = list[j];
        count += !beaten;
    }
    std::memcpy(list, kept, static_cast<size_t>(count));
    return count;
}

int coarse_of(int fine)
{
    constexpr int shift = fine_bits - coarse_bits, mask = (1 << coarse_bits) - 1;
    return (fine >> (2 * fine_bits + shift) & mask) << 2 * coarse_bits |
           (fine >> (fine_bits + shift) & mask) << coarse_bits | (fine >> shift & mask);
}

corner corner_of(int cell, int bits)
{
    const int mask = (1 << bits) - 1, side = 8 - bits;
    return {(cell >> 2 * bits & mask) << side, (cell >> bits & mask) << side, (cell & mask) << side};
}

// The channels beside the list's first n indices, padded.
void set_channels(const palette_entry *palette, coarse_list &l, int n)
{
    for (int i = 0; i < (n + 15) / 16 * 16; ++i) {
        const palette_entry &e = palette[l.index[i < n ? i : n - 1]];
        l.index[i] = l.index[i < n ? i : n - 1];
        l.blue[i] = e.blue, l.green[i] = e.green, l.red[i] = e.red;
    }
}

// Sixteen channel bytes widened to 16-bit lanes.
QELEGA_AVX2 __m256i widen(const uint8_t *bytes)
{
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes)));
}

// Squared distance along one axis from sixteen values to the farthest and
// to the nearest point of [lo, hi].
QELEGA_AVX2 __m256i far16(__m256i v, __m256i lo, __m256i hi)
{
    const __m256i d = _mm256_max_epi16(_mm256_sub_epi16(v, lo), _mm256_sub_epi16(hi, v));
    return _mm256_mullo_epi16(d, d);
}

QELEGA_AVX2 __m256i near16(__m256i v, __m256i lo, __m256i hi)
{
    const __m256i d = _mm256_max_epi16(_mm256_max_epi16(_mm256_sub_epi16(lo, v), _mm256_sub_epi16(v, hi)),
                                       _mm256_setzero_si256());
    return _mm256_mullo_epi16(d, d);
}

// For each set of eight lanes, the byte shuffle that moves those lanes to
// the front, in order.
constexpr auto compaction = [] {
    std::array<std::array<uint8_t, 8>, 256> table{};
    for (int set = 0; set < 256; ++set)
        for (int lane = 0, n = 0; lane < 8; ++lane)
            if (set >> lane & 1) table[set][n++] = static_cast<uint8_t>(lane);
    return table;
}();

// Of a list's n entries (in index order), those that can be nearest to some
// colour of the cell from c, span wide: those whose closest point in it is
// no farther than the farthest point of the entry that is best in the worst
// case; sixteen entries at a time, over the list's padding to sixteen.
// Sums saturate: the limit is then exact or 65535, and a limit of 65535
// keeps every entry, which is never wrong, only slower. Writes up to eight
// bytes past the kept ones.
__attribute__((target("avx2,popcnt"))) int prune(const coarse_list &l, int n, const corner &c, int span,
                                                  uint8_t *kept)
{
    const __m256i lo[3] = {_mm256_set1_epi16(short(c.blue)), _mm256_set1_epi16(short(c.green)),
                           _mm256_set1_epi16(short(c.red))};
    const __m256i hi[3] = {_mm256_set1_epi16(short(c.blue + span)), _mm256_set1_epi16(short(c.green + span)),
                           _mm256_set1_epi16(short(c.red + span))};
    __m256i limits = _mm256_set1_epi16(-1);
    for (int i = 0; i < n; i += 16) {
        const __m256i b = widen(l.blue + i), g = widen(l.green + i), r = widen(l.red + i);
        const __m256i far = _mm256_adds_epu16(
            _mm256_adds_epu16(far16(b, lo[0], hi[0]), far16(g, lo[1], hi[1])), far16(r, lo[2], hi[2]));
        limits = _mm256_min_epu16(limits, far);
    }
    const __m128i halves = _mm_min_epu16(_mm256_castsi256_si128(limits), _mm256_extracti128_si256(limits, 1));
    const __m256i limit = _mm256_set1_epi16(static_cast<short>(_mm_cvtsi128_si32(_mm_minpos_epu16(halves))));
    int count = 0;
    for (int i = 0; i < n; i += 16) {
        const __m256i b = widen(l.blue + i), g = widen(l.green + i), r = widen(l.red + i);
        const __m256i near = _mm256_adds_epu16(
            _mm256_adds_epu16(near16(b, lo[0], hi[0]), near16(g, lo[1], hi[1])), near16(r, lo[2], hi[2]));
        const __m256i within = _mm256_cmpeq_epi16(_mm256_min_epu16(near, limit), near);
        auto lanes = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_packs_epi16(_mm256_castsi256_si128(within), _mm256_extracti128_si256(within, 1))));
        if (n - i < 16) lanes &= (1u << (n - i)) - 1;  // not the padding
        for (int h = 0; h < 2; ++h) {
            const unsigned set = lanes >> 8 * h & 0xFF;
            const __m128i indices = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(l.index + i + 8 * h));
            const __m128i order = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(compaction[set].data()));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(kept + count), _mm_shuffle_epi8(indices, order));
            count += __builtin_popcount(set);
        }
    }
    return count;
}

// Whether every channel of the list's entries is within a byte's reach of
// every colour of the fine cell at lo.
bool within_reach(const palette_entry *palette, const uint8_t *list, int n, const corner &lo)
{
    const auto near = [](int v, int low) {
        return v >= low + fine_span - byte_reach && v <= low + byte_reach;
    };
    for (int i = 0; i < n; ++i) {
        const palette_entry &e = palette[list[i]];
        if (!near(e.blue, lo.blue) || !near(e.green, lo.green) || !near(e.red, lo.red)) return false;
    }
    return true;
}

// Eight candidates as one group: each as blue, green, red and index (the
// table's words), then the pairs moved to their halves.
QELEGA_CELLS void put_group(const uint32_t *words, const uint8_t *list, group *out)
{
    const __m256i indices = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(list)));
    const __m256i pairs = _mm256_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15,
                                           0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15);
    const __m256i v = _mm256_shuffle_epi8(_mm256_i32gather_epi32(reinterpret_cast<const int *>(words), indices, 4),
                                          pairs);
    _mm256_store_si256(reinterpret_cast<__m256i *>(out), _mm256_permute4x64_epi64(v, _MM_SHUFFLE(3, 1, 2, 0)));
}

QELEGA_AVX2 const coarse_list &coarse_of_table(cell_table &t, int coarse)
{
    coarse_list &l = t.coarse[coarse];
    if (t.coarse_count[coarse] != 0) return l;
    const int n = prune(t.all, t.distinct_count, corner_of(coarse, coarse_bits), coarse_span, l.index);
    set_channels(t.palette, l, n);
    t.coarse_count[coarse] = static_cast<uint16_t>(n);
    return l;
}

QELEGA_CELLS uint32_t fill(cell_table &t, int cell)
{
    const int coarse = coarse_of(cell);
    const corner lo = corner_of(cell, fine_bits);
    const coarse_list &candidates = coarse_of_table(t, coarse);  // fills the count too
    uint8_t list[list_room];
    int n = prune(candidates, t.coarse_count[coarse], lo, fine_span, list);
    // Dominance only pays where it saves a group: one group costs the same
    // whatever it holds.
    if (n > 8 && n <= 32) n = drop_dominated(t.palette, list, n, lo, fine_span);
    const auto needed = static_cast<uint32_t>(n + 7) / 8;
    if (group_limit - t.groups_used < needed - 1 || !within_reach(t.palette, list, n, lo))
        return t.fine[cell] = wide;
    std::memset(list + n, list[n - 1], 8);  // a short group repeats its last
    put_group(t.words, list, t.first + cell);
    for (int i = 8; i < n; i += 8) put_group(t.words, list + i, t.groups + t.groups_used + (i / 8 - 1));
    t.fine[cell] = needed << 22 | t.groups_used;
    t.groups_used += needed - 1;
    return t.fine[cell];
}

// Eight bytes, each in a 32-bit lane.
QELEGA_CELLS __m256i widen32(const uint8_t *bytes)
{
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(bytes)));
}

// The square of each lane's difference, which fits the lane's low half.
QELEGA_CELLS __m256i square32(__m256i a, __m256i b)
{
    const __m256i d = _mm256_abs_epi32(_mm256_sub_epi32(a, b));
    return _mm256_madd_epi16(d, d);
}

// The nearest of a list's n entries, eight at a time in full 32-bit keys.
QELEGA_CELLS uint8_t scan_list(const coarse_list &l, int n, uint32_t bgr)
{
    const __m256i b = _mm256_set1_epi32(static_cast<int>(bgr & 0xFF)),
                  g = _mm256_set1_epi32(static_cast<int>(bgr >> 8 & 0xFF)),
                  r = _mm256_set1_epi32(static_cast<int>(bgr >> 16 & 0xFF));
    __m256i best = _mm256_set1_epi32(-1);
    for (int i = 0; i < n; i += 8) {
        const __m256i d = _mm256_add_epi32(_mm256_add_epi32(square32(widen32(l.blue + i), b),
                                                            square32(widen32(l.green + i), g)),
                                           square32(widen32(l.red + i), r));
        best = _mm256_min_epu32(best, _mm256_or_si256(_mm256_slli_epi32(d, 8), widen32(l.index + i)));
    }
    __m128i m = _mm_min_epu32(_mm256_castsi256_si128(best), _mm256_extracti128_si256(best, 1));
    m = _mm_min_epu32(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(1, 0, 3, 2)));
    m = _mm_min_epu32(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<uint8_t>(_mm_cvtsi128_si32(m));
}

// A colour's blue and green over the low half, its red over the high one.
QELEGA_CELLS __m256i color_of(uint32_t bgr)
{
    const __m256i spread = _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1,
                                            2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2);
    return _mm256_shuffle_epi8(_mm256_set1_epi32(static_cast<int>(bgr)), spread);
}

// The distances of a colour to a group's eight candidates, and their lowest,
// at the lowest lane that has it: distance in word 0, lane in word 1. Each
// difference is within a byte's reach, so the squares and sums are exact:
// the pairwise sums within 16 signed bits, the total within 3 x 127^2.
QELEGA_CELLS __m128i group_minimum(const group &x, __m256i color)
{
    const __m256i keep = _mm256_setr_epi16(-1, -1, -1, -1, -1, -1, -1, -1, 0xFF, 0xFF, 0xFF, 0xFF,
                                           0xFF, 0xFF, 0xFF, 0xFF);  // not the indices
    const __m256i candidates = _mm256_load_si256(reinterpret_cast<const __m256i *>(&x));
    const __m256i d = _mm256_abs_epi8(_mm256_sub_epi8(color, candidates));  // within 127
    const __m256i squares = _mm256_maddubs_epi16(d, _mm256_and_si256(d, keep));
    const __m128i sums = _mm_add_epi16(_mm256_castsi256_si128(squares), _mm256_extracti128_si256(squares, 1));
    return _mm_minpos_epu16(sums);
}

// The index at a group minimum's lane.
QELEGA_CELLS uint8_t index_at(const group &x, __m128i minimum)
{
    return x.red_index[2 * static_cast<size_t>(_mm_extract_epi16(minimum, 1)) + 1];
}

QELEGA_CELLS uint32_t key_of(const group &x, __m128i minimum)
{
    return key(_mm_cvtsi128_si32(minimum) & 0xFFFF, index_at(x, minimum));
}

// The first group, then n - 1 further ones.
QELEGA_CELLS uint8_t search_groups(const group &first, const group *further, uint32_t n, uint32_t bgr)
{
    const __m256i c = color_of(bgr);
    uint32_t best = key_of(first, group_minimum(first, c));
    for (uint32_t k = 1; k < n; ++k) {
        const uint32_t found = key_of(further[k - 1], group_minimum(further[k - 1], c));
        best = found < best ? found : best;
    }
    return static_cast<uint8_t>(best);
}

// Blue, green and red in bits 0-23; the fourth byte is not read, so that
// the last of packed 24-bit colours is not read past.
uint32_t bgr_of(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16; }

// The fine cells of a coarse cell not yet filled, all at once: where colours
// seldom repeat, most of them soon will be, and the branch that finds one
// unfilled costs as much as filling it. Only for the cells' part of a large
// picture, so that the cells filled for nothing (at most all 32768) cost
// less than its search.
constexpr size_t whole_coarse_pixels = size_t{1} << 20;
QELEGA_CELLS void fill_coarse(cell_table &t, int coarse)
{
    const corner lo = corner_of(coarse, coarse_bits);
    const auto fine = [](int channel) { return channel >> (8 - fine_bits); };
    constexpr int side = 1 << (fine_bits - coarse_bits);
    for (int red = 0; red < side; ++red)
        for (int green = 0; green < side; ++green)
            for (int blue = 0; blue < side; ++blue) {
                const int cell = (fine(lo.red) + red) << 2 * fine_bits | (fine(lo.green) + green) << fine_bits |
                                 (fine(lo.blue) + blue);
                if (t.fine[cell] == 0) fill(t, cell);
            }
}

// A cell not yet filled, with several groups, or searched by its coarse list.
__attribute__((noinline)) QELEGA_CELLS uint8_t cell_nearest_rest(cell_table &t, int cell, uint32_t bgr)
{
    if (t.fine[cell] == 0) {
        if (t.whole_coarse)
            fill_coarse(t, coarse_of(cell));
        else
            fill(t, cell);
    }
    const uint32_t word = t.fine[cell];
    if (word != wide) return search_groups(t.first[cell], t.groups + (word & first_mask), word >> 22, bgr);
    const int coarse = coarse_of(cell);
    ++t.by_coarse;
    return scan_list(t.coarse[coarse], t.coarse_count[coarse], bgr);
}


// The answers of a block's 64 colours, by the brute force over the entries
// that can be nearest inside it. Each colour's key against an entry is
// 256 x (|lo - p|^2 - 2 d.(p - lo)) + index, with lo the block's corner and
// d the colour's offset from it (0 to 3 a channel): its squared distance
// less |d|^2, which every entry shares. Answer j has offsets blue j & 3,
// green j >> 2 & 3, red j >> 4: eight vectors of eight, each vector u with
// blue 0 to 3 and green 0 or 1 across its lanes, plus green 2 (u & 1) and
// red u >> 1.
QELEGA_AVX2 void fill_answers(const palette_entry *palette, const corner &lo, const uint8_t *list, int n,
                              answer_block *out)
{
    const __m256i offsets = _mm256_setr_epi32(0, 1, 2, 3, 0x10000, 0x10001, 0x10002, 0x10003);
    __m256i best[8];
    for (__m256i &b : best) b = _mm256_set1_epi32(INT_MAX);
    for (int k = 0; k < n; ++k) {
        const palette_entry &p = palette[list[k]];
        const int blue = p.blue - lo.blue, green = p.green - lo.green, red = p.red - lo.red;
        const auto words = (static_cast<uint32_t>(blue) & 0xFFFF) | static_cast<uint32_t>(green) << 16;
        const __m256i across = _mm256_slli_epi32(_mm256_madd_epi16(offsets, _mm256_set1_epi32(int(words))), 9);
        __m256i row = _mm256_sub_epi32(_mm256_set1_epi32(int(key(blue * blue + green * green + red * red, list[k]))),
                                       across);
        const __m256i green2 = _mm256_set1_epi32(1024 * green), red1 = _mm256_set1_epi32(512 * red);
        for (int r = 0; r < 8; r += 2, row = _mm256_sub_epi32(row, red1)) {
            best[r] = _mm256_min_epi32(best[r], row);
            best[r + 1] = _mm256_min_epi32(best[r + 1], _mm256_sub_epi32(row, green2));
        }
    }
    for (int u = 0; u < 8; u += 2) put_indices(best[u], best[u + 1], out->index + 8 * u);
}

// The entries that can be nearest inside a block: its fine cell's, read
// back from the cell's groups (whose padding repeats the last), or where the
// cell goes to its coarse list, that list narrowed to the block.
QELEGA_CELLS int block_candidates(cell_table &t, int block, uint8_t *list)
{
    const corner lo = corner_of(block, block_bits);
    const int cell = (block >> 1 & 0x1F) | (block >> 2 & 0x3E0) | (block >> 3 & 0x7C00);
    uint32_t word = t.fine[cell];
    if (word == 0) word = fill(t, cell);  // fills the coarse list too
    if (word == wide) {
        const int coarse = coarse_of(cell);
        return prune(t.coarse[coarse], t.coarse_count[coarse], lo, block_span, list);
    }
    const uint32_t groups = word >> 22;
    const __m128i indices = _mm_setr_epi8(1, 3, 5, 7, 9, 11, 13, 15, -1, -1, -1, -1, -1, -1, -1, -1);
    __m128i last = _mm_setzero_si128();
    for (uint32_t g = 0; g < groups; ++g) {
        const group &x = g == 0 ? t.first[cell] : t.groups[(word & first_mask) + g - 1];
        last = _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const __m128i *>(x.red_index)), indices);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(list + 8 * g), last);
    }
    // The last group's padding repeats its last candidate, whose first place ends the list.
    const __m128i repeats = _mm_cmpeq_epi8(last, _mm_shuffle_epi8(last, _mm_set1_epi8(7)));
    return static_cast<int>(8 * (groups - 1)) + __builtin_ctz(static_cast<unsigned>(_mm_movemask_epi8(repeats))) + 1;
}

}  // namespace

bool cells_available()
{
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
}

// On cache lines, so that no group or block of answers is split between two.
void *on_cache_line(void *memory)
{
    return reinterpret_cast<void *>((reinterpret_cast<uintptr_t>(memory) + cache_line - 1) &
                                    ~uintptr_t{cache_line - 1});
}

cell_table *make_cell_table(const palette_entry *palette, int entries)
{
    // One allocation, so that an allocator that gives large ones back to the
    // system at once does it for all of them together.
    auto *t = static_cast<cell_table *>(std::malloc(table_bytes));
    if (t == nullptr) return nullptr;
    auto *memory = reinterpret_cast<uint8_t *>(t);
    t->palette = palette;
    for (int i = 0; i < entries; ++i)
        t->words[i] = palette[i].blue | palette[i].green << 8 | palette[i].red << 16 | uint32_t(i) << 24;
    t->entries = entries;
    t->searched = t->by_coarse = 0;
    t->distinct_count = distinct_entries(palette, entries, t->all.index);
    set_channels(palette, t->all, t->distinct_count);
    std::memset(t->coarse_count, 0, sizeof t->coarse_count);
    t->answers = static_cast<answer_block *>(on_cache_line(memory + sizeof(cell_table)));
    t->answer_of = reinterpret_cast<uint16_t *>(t->answers + answer_limit + 1);
    std::memset(t->answer_of, 0, answer_word_bytes);
    t->answers_used = constant_lines;
    std::memset(t->constant_filled, 0, sizeof t->constant_filled);
    t->answer_limit = test_switch::force.few_answers ? few_answers : answer_limit;
    t->answering = !test_switch::force.no_answers;
    t->whole_coarse = test_switch::force.no_answers;
    t->answered = t->filled = 0;
    t->first = static_cast<group *>(on_cache_line(t->answer_of + blocks));
    t->groups = t->first + fine_cells;
    t->fine = reinterpret_cast<uint32_t *>(t->groups + group_limit);
    std::memset(t->fine, 0, sizeof(uint32_t) * fine_cells);
    t->groups_used = 0;
    return t;
}

namespace {

// The cell of a colour: five high bits of each channel, red's, green's,
// blue's. Where pext is slow (microcode on AMD before Zen 3), by shifts.
template <bool Pext>
__attribute__((always_inline)) inline QELEGA_CELLS int cell_of(uint32_t bgr)
{
    if constexpr (Pext) return static_cast<int>(_pext_u32(bgr, 0xF8F8F8));
    return static_cast<int>((bgr >> 3 & 0x1F) | (bgr >> 6 & 0x3E0) | (bgr >> 9 & 0x7C00));
}

bool pext_is_fast()
{
    return !test_switch::force.no_pext && !__builtin_cpu_is("amdfam15h") && !__builtin_cpu_is("amdfam17h");
}

// Nearly every colour finds its cell filled with one group; the rest go the
// longer way.
template <bool Pext>
__attribute__((always_inline)) inline QELEGA_CELLS uint8_t cell_nearest(cell_table &t, const uint32_t *fine,
                                                                         const group *first, uint32_t bgr)
{
    const int cell = cell_of<Pext>(bgr);
    if (__builtin_expect(fine[cell] >> 22 != 1, 0)) return cell_nearest_rest(t, cell, bgr);
    return index_at(first[cell], group_minimum(first[cell], color_of(bgr)));
}

// The block of a colour: six high bits of each channel, red's, green's,
// blue's; and the colour's place in it: the two low bits of each.
template <bool Pext>
__attribute__((always_inline)) inline QELEGA_CELLS int block_of(uint32_t bgr)
{
    if constexpr (Pext) return static_cast<int>(_pext_u32(bgr, 0xFCFCFC));
    return static_cast<int>((bgr >> 2 & 0x3F) | (bgr >> 4 & 0xFC0) | (bgr >> 6 & 0x3F000));
}

template <bool Pext>
__attribute__((always_inline)) inline QELEGA_CELLS int within_block(uint32_t bgr)
{
    if constexpr (Pext) return static_cast<int>(_pext_u32(bgr, 0x030303));
    return static_cast<int>((bgr & 3) | (bgr >> 6 & 0xC) | (bgr >> 12 & 0x30));
}

// A line just filled whose answers are all one entry gives its place back
// for that entry's constant line; the line that the block takes.
QELEGA_AVX2 int share_constant(cell_table &t, int at)
{
    const uint8_t *line = t.answers[at].index;
    const __m256i first = _mm256_set1_epi8(static_cast<char>(line[0]));
    const __m256i low = _mm256_load_si256(reinterpret_cast<const __m256i *>(line)),
                  high = _mm256_load_si256(reinterpret_cast<const __m256i *>(line + 32));
    const __m256i same = _mm256_and_si256(_mm256_cmpeq_epi8(low, first), _mm256_cmpeq_epi8(high, first));
    if (_mm256_movemask_epi8(same) != -1) return at;
    --t.answers_used;
    uint64_t &constant_bits = t.constant_filled[line[0] / 64];
    const uint64_t bit = uint64_t{1} << line[0] % 64;
    if ((constant_bits & bit) == 0) std::memcpy(t.answers[1 + line[0]].index, line, sizeof(answer_block));
    constant_bits |= bit;
    return 1 + line[0];
}

// A colour whose block is not filled: the block is filled while there is
// room; after, its coarse list answers (the loop soon leaves the blocks).
template <bool Pext>
__attribute__((noinline)) QELEGA_CELLS uint8_t answer_rest(cell_table &t, uint32_t bgr)
{
    const int block = block_of<Pext>(bgr);
    if (t.answers_used >= t.answer_limit) {
        const int coarse = coarse_of(cell_of<Pext>(bgr));
        const coarse_list &l = coarse_of_table(t, coarse);  // before its count is read
        return scan_list(l, t.coarse_count[coarse], bgr);
    }
    const int at = ++t.answers_used;
    ++t.filled;
    uint8_t list[list_room];
    const int n = block_candidates(t, block, list);
    fill_answers(t.palette, corner_of(block, block_bits), list, n, &t.answers[at]);
    const int line = share_constant(t, at);
    t.answer_of[block] = static_cast<uint16_t>(line);
    return t.answers[line].index[within_block<Pext>(bgr)];
}

template <bool Pext>
__attribute__((always_inline)) inline QELEGA_CELLS uint8_t nearest(cell_table &t, const uint16_t *answer_of,
                                                                    const answer_block *answers, uint32_t bgr)
{
    const int at = answer_of[block_of<Pext>(bgr)];
    if (__builtin_expect(at == 0, 0)) return answer_rest<Pext>(t, bgr);
    return answers[at].index[within_block<Pext>(bgr)];
}

// Sixteen colors' blocks and places in their blocks, worked out in vectors
// as block_of and within_block do one at a time: each channel's high six
// bits, or low two, weighed by multiply-adds.
__attribute__((always_inline)) inline QELEGA_CELLS void places16(const uint8_t *colors, size_t stride,
                                                                 uint32_t *block, uint32_t *place)
{
    __m256i bgr0[2];
    load16(colors, stride, &bgr0[0], &bgr0[1]);
    const __m256i high = _mm256_set1_epi32(0x3F3F3F), low = _mm256_set1_epi32(0x030303);
    const __m256i block_bytes = _mm256_set1_epi32(0x00014001), block_words = _mm256_set1_epi32(0x10000001);
    const __m256i place_bytes = _mm256_set1_epi32(0x00100401), place_words = _mm256_set1_epi32(0x00010001);
    for (int h = 0; h < 2; ++h) {
        const __m256i v = bgr0[h];
        const __m256i b = _mm256_and_si256(_mm256_srli_epi32(v, 2), high);
        const __m256i p = _mm256_and_si256(v, low);
        _mm256_store_si256(reinterpret_cast<__m256i *>(block + 8 * h),
                           _mm256_madd_epi16(_mm256_maddubs_epi16(b, block_bytes), block_words));
        _mm256_store_si256(reinterpret_cast<__m256i *>(place + 8 * h),
                           _mm256_madd_epi16(_mm256_maddubs_epi16(p, place_bytes), place_words));
    }
}

template <bool Pext>
QELEGA_CELLS void answers_loop(cell_table *t, const uint8_t *colors, size_t stride, size_t count, uint8_t *out)
{
    const uint16_t *answer_of = t->answer_of;  // kept in registers across the stores to out
    const answer_block *answers = t->answers;
    size_t i = 0;
    for (; count - i >= 16; i += 16, colors += 16 * stride) {
        alignas(32) uint32_t block[16], place[16];
        places16(colors, stride, block, place);
#pragma GCC unroll 16
        for (int k = 0; k < 16; ++k) {
            const unsigned at = answer_of[block[k]];
            out[i + k] = __builtin_expect(at != 0, 1) ? answers[at].index[place[k]]
                                                      : answer_rest<Pext>(*t, bgr_of(colors + k * stride));
        }
    }
    if (i == count) return;
    // Four bytes at once wherever a fourth is there to read.
    for (; i + 1 < count; ++i, colors += stride) {
        uint32_t bgr;
        std::memcpy(&bgr, colors, 4);
        out[i] = nearest<Pext>(*t, answer_of, answers, bgr);  // the fourth byte is not looked at
    }
    out[count - 1] = nearest<Pext>(*t, answer_of, answers, bgr_of(colors));
}

template <bool Pext>
QELEGA_CELLS void cells_loop(cell_table *t, const uint8_t *colors, size_t stride, size_t count, uint8_t *out)
{
    const uint32_t *fine = t->fine;
    const group *first = t->first;
    for (size_t i = 0; i + 1 < count; ++i, colors += stride) {
        uint32_t bgr;
        std::memcpy(&bgr, colors, 4);
        out[i] = cell_nearest<Pext>(*t, fine, first, bgr);
    }
    out[count - 1] = cell_nearest<Pext>(*t, fine, first, bgr_of(colors));
}

}  // namespace

// Colours go to the blocks of answers while they pay, judged every 4096
// colours: while at most one colour in 32 has filled a block, besides the
// first 512 blocks (a photograph, where colours repeat, or a crowded palette
// whose blocks cost much but serve many). Where they don't (a plasma, noise),
// and once the blocks run out, colours go to the cells for the rest of the
// call. Where a quarter of the colours go to coarse lists (a palette far from
// the picture's colours, or the pool spent), the brute force over the
// distinct entries is faster, and takes over the rest.
void cells_nearest(cell_table *t, const uint8_t *colors, size_t stride, size_t count, uint8_t *out)
{
    const bool pext = pext_is_fast();
    const auto by_answers = pext ? answers_loop<true> : answers_loop<false>;
    const auto by_cells = pext ? cells_loop<true> : cells_loop<false>;
    constexpr size_t block = size_t{1} << 14, trial = 4096;
    for (size_t done = 0; done < count;) {
        if (t->searched >= block && t->by_coarse > t->searched / 4) {
            brute_over(colors + done * stride, stride, count - done, t->palette, t->entries, t->all.index,
                       t->distinct_count, out + done);
            return;
        }
        size_t n = count - done < block ? count - done : block;
        if (t->answering) {
            n = n < trial ? n : trial;
            by_answers(t, colors + done * stride, stride, n, out + done);
            t->answered += n;
            t->answering = t->filled <= t->answered / 32 + 512 && t->answers_used < t->answer_limit;
            t->whole_coarse = !t->answering && count - done >= whole_coarse_pixels;
        } else {
            by_cells(t, colors + done * stride, stride, n, out + done);
        }
        t->searched += n;
        done += n;
    }
}

void free_cell_table(cell_table *table)
{
    std::free(table);
}

}  // namespace bitmap_search

#endif
