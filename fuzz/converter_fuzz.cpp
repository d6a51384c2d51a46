// convert_bitmap_pixels on arbitrary sizes, bit counts, palettes and pixels.
// The first four input bytes pick the call:
//   0  width; 1  height (low six bits)
//   2  source bit count (bits 0-2 index `bit_counts`), bit 3 no source palette,
//      bit 4 negative width, bit 5 a size past the signed 32-bit range
//   3  destination bit count (bits 0-2), bit 3 no destination palette,
//      bit 4 a caller-supplied buffer
// The rest, repeated as needed, fills both palettes and then the pixels, so a
// short input still makes a large picture. Checks: the result follows from
// the bit counts and palettes, a caller's buffer is written to its size and
// no further, and direct colour to indexed equals a plain per-pixel search.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bitmap.h"
#include "layout.h"

using namespace bitmap_layout;

namespace {

// The six supported bit counts and two that are refused.
constexpr int bit_counts[8] = {1, 4, 8, 16, 24, 32, 2, 0};
constexpr size_t canary_bytes = 16;
constexpr uint8_t canary = 0xA5;

void check(bool ok)
{
    if (!ok) std::abort();
}

std::vector<uint8_t> cycled(const uint8_t *data, size_t size, size_t &at, size_t count)
{
    std::vector<uint8_t> out(count);
    for (uint8_t &b : out) b = size == 0 ? 0 : data[at++ % size];
    return out;
}

bool accepted(int bit_count, bool palette)
{
    return supported_bit_count(static_cast<uint32_t>(bit_count)) &&
           (palette || bit_count == 1 || !is_indexed(static_cast<uint32_t>(bit_count)));
}

// Direct colour to indexed against find_nearest_color on each pixel, the
// colours taken through the library's 24-bit conversion.
void check_against_plain_search(int pixels, int from, const uint8_t *source, int to,
                                const palette_entry *palette, const uint8_t *result)
{
    uint8_t *bgr = nullptr;
    check(convert_bitmap_pixels(pixels, 1, from, nullptr, source, 24, nullptr, &bgr) == 0);
    const int entries = static_cast<int>(palette_entries(static_cast<uint32_t>(to)));
    for (int i = 0; i < pixels; ++i)
        check(result[i] ==
              find_nearest_color(bgr[3 * i + 2], bgr[3 * i + 1], bgr[3 * i], palette, entries));
    std::free(bgr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4) return 0;
    const uint8_t how_from = data[2], how_to = data[3];
    int width = data[0];
    int height = data[1] & 63;
    if (how_from & 0x10) width = -1 - width;
    if (how_from & 0x20) width = height = 65536 + width;
    const int from = bit_counts[how_from & 7], to = bit_counts[how_to & 7];
    const bool from_palette = !(how_from & 8), to_palette = !(how_to & 8);
    const bool own_buffer = how_to & 0x10;

    data += 4, size -= 4;
    size_t at = 0;
    const std::vector<uint8_t> palettes = cycled(data, size, at, 2 * 256 * entry_bytes);
    const auto *source_palette = reinterpret_cast<const palette_entry *>(palettes.data());
    const palette_entry *destination_palette = source_palette + 256;
    const bool sized = width >= 0 && height >= 0 && int64_t{width} * height <= 64 * 256;
    const size_t pixels = sized ? size_t(width) * size_t(height) : 0;
    const std::vector<uint8_t> source =
        cycled(data, size, at, pixels * buffer_pixel_bytes(from > 0 ? from : 1) + 1);
    const size_t out_bytes = pixels * size_t((to + 7) / 8);

    std::vector<uint8_t> mine(out_bytes + canary_bytes, canary);
    uint8_t *out = own_buffer ? mine.data() : nullptr;
    const int result =
        convert_bitmap_pixels(width, height, from, from_palette ? source_palette : nullptr,
                              source.data(), to, to_palette ? destination_palette : nullptr, &out);

    if (!sized) {
        // Refused before any allocation, unless pixels of bit count 0 make
        // the buffer size 0 whatever the width and height.
        check(result == -1);
        if (width < 0 || to > 0)
            check(out == (own_buffer ? mine.data() : nullptr));
        else if (!own_buffer)
            std::free(out);
        return 0;
    }
    check(result == (accepted(from, from_palette) && accepted(to, to_palette) ? 0 : -1));
    check(out != nullptr && (out == mine.data()) == own_buffer);
    if (own_buffer)
        for (size_t i = out_bytes; i < mine.size(); ++i) check(mine[i] == canary);
    if (result == 0 && is_indexed(static_cast<uint32_t>(to)))
        for (size_t i = 0; i < pixels; ++i) check(out[i] < palette_entries(static_cast<uint32_t>(to)));
    static const palette_entry black_and_white[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    if (result == 0 && !is_indexed(static_cast<uint32_t>(from)) && is_indexed(static_cast<uint32_t>(to)))
        check_against_plain_search(width * height, from, source.data(), to,
                                   to_palette ? destination_palette : black_and_white, out);
    if (!own_buffer) std::free(out);
    return 0;
}
