// Stored 1- and 4-bit rows to one byte per pixel. Where the compiler targets
// SSE2, sixteen stored bytes go at a time; the table code does the rest of a
// row, and all of it elsewhere (WebAssembly) or when a test asks for it.
#include <cstring>

#include "layout.h"
#include "test_switch.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace bitmap_layout {

namespace {

// Each stored byte as its pixels, one byte each, leftmost first: 8 pixels
// at 1 bit, 2 at 4 bits. Copying a table entry per stored byte is several
// times faster than shifting out each pixel.
struct unpack_tables {
    uint8_t bits1[256][8];
    uint8_t bits4[256][2];
};

constexpr unpack_tables make_unpack_tables()
{
    unpack_tables t{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        for (unsigned i = 0; i < 8; ++i) t.bits1[byte][i] = byte >> (7 - i) & 1;
        t.bits4[byte][0] = static_cast<uint8_t>(byte >> 4);
        t.bits4[byte][1] = byte & 0x0F;
    }
    return t;
}

constexpr unpack_tables unpacking = make_unpack_tables();

void table_1bit(const uint8_t *stored, uint8_t *row, uint32_t width)
{
    const uint32_t whole = width / 8;
    for (uint32_t i = 0; i < whole; ++i) std::memcpy(row + 8 * i, unpacking.bits1[stored[i]], 8);
    if (width % 8 != 0) std::memcpy(row + 8 * whole, unpacking.bits1[stored[whole]], width % 8);
}

void table_4bit(const uint8_t *stored, uint8_t *row, uint32_t width)
{
    const uint32_t whole = width / 2;
    for (uint32_t i = 0; i < whole; ++i) std::memcpy(row + 2 * i, unpacking.bits4[stored[i]], 2);
    if (width % 2 != 0) row[width - 1] = stored[whole] >> 4;
}

// Each function below unpacks the row's leading whole groups of sixteen
// stored bytes and returns the pixels it wrote, which fill whole bytes.
#if defined(__SSE2__)
uint32_t sse2_1bit(const uint8_t *stored, uint8_t *row, uint32_t width)
{
    // Lane i of each run of eight tests bit 7 - i, the order pixels are stored in.
    const __m128i bits = _mm_set_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
    const __m128i one = _mm_set1_epi8(1);
    uint32_t done = 0;
    for (; width - done >= 128; done += 128, stored += 16, row += 128) {
        // Each byte copied to 2, then 4, then 8 lanes: four runs of 16 pixels a half.
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(stored));
        const __m128i pairs[2] = {_mm_unpacklo_epi8(v, v), _mm_unpackhi_epi8(v, v)};
        for (int h = 0; h < 2; ++h) {
            const __m128i quads[2] = {_mm_unpacklo_epi16(pairs[h], pairs[h]),
                                      _mm_unpackhi_epi16(pairs[h], pairs[h])};
            for (int q = 0; q < 2; ++q) {
                const __m128i eights[2] = {_mm_unpacklo_epi32(quads[q], quads[q]),
                                           _mm_unpackhi_epi32(quads[q], quads[q])};
                for (int e = 0; e < 2; ++e) {
                    const __m128i set = _mm_cmpeq_epi8(_mm_and_si128(eights[e], bits), bits);
                    _mm_storeu_si128(reinterpret_cast<__m128i *>(row + 64 * h + 32 * q + 16 * e),
                                     _mm_and_si128(set, one));
                }
            }
        }
    }
    return done;
}

uint32_t sse2_4bit(const uint8_t *stored, uint8_t *row, uint32_t width)
{
    const __m128i nibble = _mm_set1_epi8(0x0F);
    uint32_t done = 0;
    for (; width - done >= 32; done += 32, stored += 16, row += 32) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(stored));
        const __m128i high = _mm_and_si128(_mm_srli_epi16(v, 4), nibble);
        const __m128i low = _mm_and_si128(v, nibble);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(row), _mm_unpacklo_epi8(high, low));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(row + 16), _mm_unpackhi_epi8(high, low));
    }
    return done;
}
#else
uint32_t sse2_1bit(const uint8_t *, uint8_t *, uint32_t) { return 0; }
uint32_t sse2_4bit(const uint8_t *, uint8_t *, uint32_t) { return 0; }
#endif

}  // namespace

void unpack_row(const uint8_t *stored, uint8_t *row, uint32_t width, uint32_t bit_count)
{
    const bool simd = !test_switch::force.portable_unpack;
    if (bit_count == 1) {
        const uint32_t done = simd ? sse2_1bit(stored, row, width) : 0;
        table_1bit(stored + done / 8, row + done, width - done);
    } else if (bit_count == 4) {
        const uint32_t done = simd ? sse2_4bit(stored, row, width) : 0;
        table_4bit(stored + done / 2, row + done, width - done);
    } else {
        std::memcpy(row, stored, size_t{width} * buffer_pixel_bytes(bit_count));
    }
}

}  // namespace bitmap_layout
