// Reader speed on a 4096 x 4096 file at 1, 4, 8 and 24 bits, written by our
// writer into a temporary folder, beside a plain loop of 64 KiB freads over
// the same file: the floor that any reader of a stream stands on. Both report
// file bytes per second.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bitmap.h"

namespace {

constexpr uint32_t side_pixels = 4096;

std::string file_path(int bit_count)
{
    return (std::filesystem::temp_directory_path() /
            ("qelega-read-bench-" + std::to_string(getpid()) + "-" + std::to_string(bit_count) +
             ".bmp"))
        .string();
}

// The file for a bit count, written on first use and removed at exit.
const std::string &bench_file(int bit_count)
{
    struct file {
        std::string path;
        ~file() { std::filesystem::remove(path); }
    };
    static file files[33];
    file &f = files[bit_count];
    if (!f.path.empty()) return f.path;
    bitmap_header header;
    init_bitmap_header(&header, side_pixels, side_pixels, static_cast<uint16_t>(bit_count));
    std::vector<uint8_t> pixels(size_t{side_pixels} * side_pixels * ((bit_count + 7) / 8));
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    f.path = file_path(bit_count);
    FILE *stream = std::fopen(f.path.c_str(), "wb");
    write_bitmap(stream, &header, nullptr, pixels.data());
    std::fclose(stream);
    return f.path;
}

int64_t file_bytes(const std::string &path)
{
    return static_cast<int64_t>(std::filesystem::file_size(path));
}

// Into buffers of the caller's, so that allocation and first-touch page
// faults are not timed.
void read_file(benchmark::State &state)
{
    const int bit_count = static_cast<int>(state.range(0));
    const std::string &path = bench_file(bit_count);
    std::vector<uint8_t> pixels(size_t{side_pixels} * side_pixels * ((bit_count + 7) / 8));
    std::vector<palette_entry> palette(256);
    for (auto _ : state) {
        FILE *stream = std::fopen(path.c_str(), "rb");
        bitmap_header header;
        uint8_t *pixels_at = pixels.data();
        palette_entry *palette_at = palette.data();
        if (read_bitmap(stream, &header, &palette_at, &pixels_at, 0) != 0)
            state.SkipWithError("read_bitmap failed");
        std::fclose(stream);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetBytesProcessed(state.iterations() * file_bytes(path));
}

void fread_blocks(benchmark::State &state)
{
    const std::string &path = bench_file(static_cast<int>(state.range(0)));
    std::vector<uint8_t> block(64 * 1024);
    for (auto _ : state) {
        FILE *stream = std::fopen(path.c_str(), "rb");
        while (std::fread(block.data(), 1, block.size(), stream) == block.size()) {
        }
        std::fclose(stream);
        benchmark::DoNotOptimize(block.data());
    }
    state.SetBytesProcessed(state.iterations() * file_bytes(path));
}

BENCHMARK(read_file)->Arg(1)->Arg(4)->Arg(8)->Arg(24)->Unit(benchmark::kMillisecond);
BENCHMARK(fread_blocks)->Arg(1)->Arg(4)->Arg(8)->Arg(24)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
