// Times convert_bitmap_pixels on a 24-bit BMP to the palette of an 8-bit
// BMP (its first ENTRIES entries) and writes the indices as an 8-bit BMP.
// bench/peer_bench.py runs it beside Pillow on the same picture and palette.
//
// usage: convert_peer PICTURE.BMP PALETTE.BMP ENTRIES OUT.BMP RUNS
// prints the best of RUNS, in milliseconds.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "bitmap.h"

namespace {

int read_file(const char *path, bitmap_header *header, palette_entry **palette, uint8_t **pixels)
{
    FILE *f = std::fopen(path, "rb");
    if (f == nullptr) return -1;
    const int result = read_bitmap(f, header, palette, pixels, 0);
    std::fclose(f);
    return result;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 6) return 2;
    bitmap_header picture, swatch;
    palette_entry *palette = nullptr;
    uint8_t *pixels = nullptr, *swatch_pixels = nullptr, *out = nullptr;
    if (read_file(argv[1], &picture, nullptr, &pixels) != 0 || picture.bit_count != 24 ||
        read_file(argv[2], &swatch, &palette, &swatch_pixels) != 0 || swatch.bit_count != 8)
        return 1;
    const int entries = std::atoi(argv[3]), runs = std::atoi(argv[5]);
    const int bits = entries <= 2 ? 1 : entries <= 16 ? 4 : 8;
    double best = 1e30;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        if (convert_bitmap_pixels(int(picture.width), int(picture.height), 24, nullptr, pixels, bits,
                                  palette, &out) != 0)
            return 1;
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        best = took.count() < best ? took.count() : best;
    }
    bitmap_header header;
    init_bitmap_header(&header, picture.width, picture.height, 8);
    palette_entry full[256] = {};
    for (int i = 0; i < 256; ++i) full[i] = palette[i];
    FILE *f = std::fopen(argv[4], "wb");
    const int written = f != nullptr ? write_bitmap(f, &header, full, out) : -1;
    if (f != nullptr) std::fclose(f);
    std::printf("%.4f\n", best);
    std::free(out), std::free(pixels), std::free(swatch_pixels), std::free(palette);
    return written == 0 ? 0 : 1;
}
