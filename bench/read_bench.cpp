// Reader speed on a 4096 x 4096 file at 1, 4, 8 and 24 bits, written by our
// writer into a temporary folder, beside one plain fread of the whole file
// into memory: the floor that any reader of a stream stands on. Both report
// file bytes per second; after the runs, the ratio of their times for each
// bit count is printed.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
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

// Into a buffer of the caller's too, for the same reason.
void fread_whole(benchmark::State &state)
{
    const std::string &path = bench_file(static_cast<int>(state.range(0)));
    std::vector<uint8_t> whole(static_cast<size_t>(file_bytes(path)));
    for (auto _ : state) {
        FILE *stream = std::fopen(path.c_str(), "rb");
        if (std::fread(whole.data(), 1, whole.size(), stream) != whole.size())
            state.SkipWithError("fread came short");
        std::fclose(stream);
        benchmark::DoNotOptimize(whole.data());
    }
    state.SetBytesProcessed(state.iterations() * file_bytes(path));
}

BENCHMARK(read_file)->Arg(1)->Arg(4)->Arg(8)->Arg(24)->Unit(benchmark::kMillisecond);
BENCHMARK(fread_whole)->Arg(1)->Arg(4)->Arg(8)->Arg(24)->Unit(benchmark::kMillisecond);

// Keeps each run's time per iteration by name, to print the ratios.
class ratio_reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void print_ratios() const
    {
        for (const char *bits : {"1", "4", "8", "24"}) {
            const auto ours = times_.find(std::string("read_file/") + bits);
            const auto plain = times_.find(std::string("fread_whole/") + bits);
            if (ours != times_.end() && plain != times_.end())
                std::printf("read_bitmap / fread at %2s bits: %.2f\n", bits, ours->second / plain->second);
        }
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios();
    benchmark::Shutdown();
    return 0;
}
