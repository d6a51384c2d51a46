// Converter speed on a 4096 x 4096 picture: every pairing of bit counts, the
// plain per-pixel nearest-colour search beside the library's direct-colour to
// indexed path, and ImageMagick's remap of the same picture to the same
// palette. Figures are megapixels per second ("Mpx").
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bitmap.h"

namespace {

constexpr int side_pixels = 4096;
constexpr size_t picture_pixels = size_t{side_pixels} * side_pixels;
constexpr int bit_counts[] = {1, 4, 8, 16, 24, 32};

struct lcg {
    uint32_t state;
    uint32_t next() { return (state = state * 1664525u + 1013904223u) >> 8; }
};

// Many distinct colours with the locality of a real picture: smooth
// gradients with a little noise on each channel.
std::vector<uint8_t> photo_picture()
{
    std::vector<uint8_t> bytes(picture_pixels * 3);
    lcg rng{7};
    uint8_t *p = bytes.data();
    for (int y = 0; y < side_pixels; ++y)
        for (int x = 0; x < side_pixels; ++x, p += 3) {
            const int noise = static_cast<int>(rng.next() % 9) - 4;
            p[0] = static_cast<uint8_t>(std::clamp((x + y) / 32 + noise, 0, 255));
            p[1] = static_cast<uint8_t>(std::clamp(y / 16 + noise, 0, 255));
            p[2] = static_cast<uint8_t>(std::clamp(x / 16 - noise, 0, 255));
        }
    return bytes;
}

// The worst case for any memory of past answers: every pixel random.
std::vector<uint8_t> noise_picture()
{
    std::vector<uint8_t> bytes(picture_pixels * 3);
    lcg rng{11};
    for (uint8_t &b : bytes) b = static_cast<uint8_t>(rng.next());
    return bytes;
}

std::vector<palette_entry> random_palette(int count)
{
    std::vector<palette_entry> palette(count);
    lcg rng{static_cast<uint32_t>(count)};
    for (palette_entry &e : palette) {
        const uint32_t v = rng.next();
        e = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16), 0};
    }
    return palette;
}

const palette_entry *palette_for(int bit_count)
{
    static const std::vector<palette_entry> palettes[] = {random_palette(2), random_palette(16),
                                                          random_palette(256)};
    if (bit_count > 8) return nullptr;
    return palettes[bit_count == 1 ? 0 : bit_count == 4 ? 1 : 2].data();
}

std::vector<uint8_t> convert(const std::vector<uint8_t> &photo24, int bit_count)
{
    uint8_t *out = nullptr;
    convert_bitmap_pixels(side_pixels, side_pixels, 24, nullptr, photo24.data(), bit_count,
                          palette_for(bit_count), &out);
    std::vector<uint8_t> bytes(out, out + picture_pixels * ((bit_count + 7) / 8));
    std::free(out);
    return bytes;
}

// The photo at every bit count, made once and kept for all runs.
const std::vector<uint8_t> &photo(int bit_count)
{
    static std::map<int, std::vector<uint8_t>> pictures;
    auto found = pictures.find(bit_count);
    if (found != pictures.end()) return found->second;
    static const std::vector<uint8_t> photo24 = photo_picture();
    if (bit_count == 24) return photo24;
    return pictures.emplace(bit_count, convert(photo24, bit_count)).first->second;
}

void count_pixels(benchmark::State &state)
{
    state.counters["Mpx"] = benchmark::Counter(
        static_cast<double>(state.iterations() * picture_pixels) / 1e6, benchmark::Counter::kIsRate);
}

void bm_convert(benchmark::State &state)
{
    const int from = static_cast<int>(state.range(0)), to = static_cast<int>(state.range(1));
    const std::vector<uint8_t> &source = photo(from);
    std::vector<uint8_t> out(picture_pixels * ((to + 7) / 8));
    uint8_t *dst = out.data();
    for (auto _ : state) {
        convert_bitmap_pixels(side_pixels, side_pixels, from, palette_for(from), source.data(), to,
                              palette_for(to), &dst);
        benchmark::DoNotOptimize(dst);
    }
    count_pixels(state);
}

const std::vector<uint8_t> &noise()
{
    static const std::vector<uint8_t> picture = noise_picture();
    return picture;
}

// 24 bits to indexed. Args: picture (0 photo, 1 noise), destination bit count.
void direct_to_indexed(benchmark::State &state, bool plain)
{
    const std::vector<uint8_t> &source = state.range(0) == 0 ? photo(24) : noise();
    const int to = static_cast<int>(state.range(1));
    const palette_entry *palette = palette_for(to);
    std::vector<uint8_t> out(picture_pixels);
    uint8_t *dst = out.data();
    for (auto _ : state) {
        if (plain) {
            for (size_t i = 0; i < picture_pixels; ++i) {
                const uint8_t *p = &source[i * 3];
                out[i] = static_cast<uint8_t>(find_nearest_color(p[2], p[1], p[0], palette, 1 << to));
            }
        } else {
            convert_bitmap_pixels(side_pixels, side_pixels, 24, nullptr, source.data(), to, palette,
                                  &dst);
        }
        benchmark::DoNotOptimize(out.data());
    }
    count_pixels(state);
}

void bm_plain_search(benchmark::State &state) { direct_to_indexed(state, true); }
void bm_library_search(benchmark::State &state) { direct_to_indexed(state, false); }

// ImageMagick remapping the photo to the 256-entry palette, given as a 16 x 16
// picture of its colours; the time includes reading and writing the files.
void bm_imagemagick_remap(benchmark::State &state)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / "qelega-convert-bench";
    fs::create_directories(dir);
    const auto save = [&](const std::string &name, int size, const uint8_t *pixels) {
        bitmap_header header;
        init_bitmap_header(&header, size, size, 24);
        FILE *f = std::fopen((dir / name).c_str(), "wb");
        if (f == nullptr) return false;
        const bool ok = write_bitmap(f, &header, nullptr, pixels) == 0;
        return std::fclose(f) == 0 && ok;
    };
    std::vector<uint8_t> swatches;
    for (int i = 0; i < 256; ++i) {
        const palette_entry &e = palette_for(8)[i];
        swatches.insert(swatches.end(), {e.blue, e.green, e.red});
    }
    if (!save("in.bmp", side_pixels, photo(24).data()) || !save("palette.bmp", 16, swatches.data())) {
        state.SkipWithError("cannot write the pictures");
        return;
    }
    const std::string command = "cd '" + dir.string() +
                                "' && convert-im6.q16 in.bmp +dither -remap palette.bmp out.bmp";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("convert-im6.q16 failed");
    fs::remove_all(dir);
    count_pixels(state);
}

void all_pairings(benchmark::internal::Benchmark *b)
{
    for (int from : bit_counts)
        for (int to : bit_counts) b->Args({from, to});
}

}  // namespace

BENCHMARK(bm_convert)->Apply(all_pairings)->ArgNames({"from", "to"})->Unit(benchmark::kMillisecond);
BENCHMARK(bm_plain_search)->ArgNames({"noise", "to"})->Args({0, 1})->Args({0, 4})->Args({1, 1})->Args({1, 4})->Unit(benchmark::kMillisecond);
BENCHMARK(bm_plain_search)->ArgNames({"noise", "to"})->Args({0, 8})->Args({1, 8})->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(bm_library_search)->ArgNames({"noise", "to"})->ArgsProduct({{0, 1}, {1, 4, 8}})->Unit(benchmark::kMillisecond);
BENCHMARK(bm_imagemagick_remap)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
