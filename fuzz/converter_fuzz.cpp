// convert_bitmap_pixels on arbitrary sizes, bit counts, palettes and pixels.
// The first four input bytes pick the call:
//   0  width; 1  height (low six bits)
//   2  source bit count (bits 0-2 index `bit_counts`), bit 3 no source palette,
//      bit 4 negative width, bit 5 a size past the signed 32-bit range
//   3  destination bit count (bits 0-2), bit 3 no destination palette,
//      bit 4 a caller-supplied buffer, bits 5-7 the nearest-colour search
//      (the order of test_switch::search, the library's own choice first;
//      just past it, that choice as without AVX-512 VNNI or a fast pext;
//      then the cell table without its blocks of answers, and with room
//      for only a few)
// The rest, repeated as needed, fills both palettes and then the pixels, so a
// short input still makes a large picture. Checks: the result follows from
// the size, bit counts and palettes, a caller's buffer is written to its size
// and no further, and every index written is find_nearest_color's answer for
// the pixel's colour, which the fast search for direct colour must give too.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "bitmap.h"
#include "layout.h"
#include "test_switch.h"

using namespace bitmap_layout;

constexpr int bit_counts[8] = {1, 4, 8, 16, 24, 32, 2, 0};  // six supported, two refused
constexpr palette_entry black_and_white[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};

static void check(bool ok) { if (!ok) std::abort(); }

static bool accepted(uint32_t bit_count, const palette_entry *palette)
{
    return supported_bit_count(bit_count) && (palette || bit_count == 1 || !is_indexed(bit_count));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4) return 0;
    const uint8_t how_from = data[2], how_to = data[3];
    using test_switch::search;
    const int path = how_to >> 5, last = static_cast<int>(search::cells);
    test_switch::force = {};
    test_switch::force.nearest = path <= last ? static_cast<search>(path) : path == last + 1 ? search::automatic : search::cells;
    test_switch::force.avx2_brute = test_switch::force.no_pext = path == last + 1;
    test_switch::force.no_answers = path == last + 2;
    test_switch::force.few_answers = path == last + 3;
    int width = how_from & 0x10 ? -1 - data[0] : data[0], height = data[1] & 63;
    if (how_from & 0x20) width = height = 65536 + width;
    const int from = bit_counts[how_from & 7], to = bit_counts[how_to & 7];
    const bool sized = width >= 0 && int64_t{width} * height <= 64 * 256, own = how_to & 0x10;
    const size_t pixels = sized ? size_t(width) * size_t(height) : 0;

    std::vector<uint8_t> in(2 * 256 * entry_bytes + pixels * 4 + 1);
    for (size_t i = 0; i < in.size(); ++i) in[i] = size > 4 ? data[4 + i % (size - 4)] : 0;
    const auto *palettes = reinterpret_cast<const palette_entry *>(in.data());
    const palette_entry *from_palette = how_from & 8 ? nullptr : palettes;
    const palette_entry *to_palette = how_to & 8 ? nullptr : palettes + 256;
    // The pixels in a buffer of their own, exactly sized (one byte when
    // there are none), so that a read past them is caught.
    const uint8_t *first_pixel = in.data() + 2 * 256 * entry_bytes;
    const size_t in_bytes = std::max<size_t>(pixels * buffer_pixel_bytes(from), 1);
    const std::vector<uint8_t> pixels_in(first_pixel, first_pixel + in_bytes);
    const uint8_t *source = pixels_in.data();
    const size_t out_bytes = pixels * buffer_pixel_bytes(to);
    std::vector<uint8_t> mine(out_bytes + 16, 0xA5);
    uint8_t *out = own ? mine.data() : nullptr;
    const int result =
        convert_bitmap_pixels(width, height, from, from_palette, source, to, to_palette, &out);

    check(result == (sized && accepted(from, from_palette) && accepted(to, to_palette) ? 0 : -1));
    // Sizes out of range are refused before anything is allocated, unless
    // bit count 0 makes the buffer size 0 whatever they are.
    check(own || (out != nullptr) == (sized || (to == 0 && width >= 0)));
    for (size_t i = out_bytes; own && i < mine.size(); ++i) check(out == mine.data() && mine[i] == 0xA5);
    if (result == 0 && is_indexed(to)) {
        uint8_t *bgr = nullptr;
        check(convert_bitmap_pixels(width, height, from, from_palette, source, 24, nullptr, &bgr) == 0);
        const palette_entry *p = to_palette != nullptr ? to_palette : black_and_white;
        for (size_t i = 0; i < pixels; ++i)
            check(out[i] == find_nearest_color(bgr[3 * i + 2], bgr[3 * i + 1], bgr[3 * i], p,
                                               static_cast<int>(palette_entries(to))));
        std::free(bgr);
    }
    if (!own) std::free(out);
    return 0;
}
