// Seed inputs for the fuzz targets: small bitmaps from our own writer at
// every bit count and a few odd sizes, each written once per option byte
// given on the command line (as a trailing byte), or once as it is.
//   make_fuzz_seeds FOLDER [OPTION_BYTE...]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bitmap.h"

namespace {

struct picture_size {
    uint32_t width, height;
};

bool write_seed(const std::string &path, int bit_count, picture_size s, int option)
{
    bitmap_header header;
    if (init_bitmap_header(&header, s.width, s.height, static_cast<uint16_t>(bit_count)) != 0)
        return false;
    std::vector<palette_entry> palette(256);
    for (size_t i = 0; i < palette.size(); ++i)
        palette[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7), 0};
    std::vector<uint8_t> pixels(size_t{s.width} * s.height * ((bit_count + 7) / 8));
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 37 % 251);
    FILE *stream = std::fopen(path.c_str(), "wb");
    if (stream == nullptr) return false;
    const bool ok = write_bitmap(stream, &header, palette.data(), pixels.data()) == 0 &&
                    (option < 0 || std::fputc(option, stream) != EOF);
    return std::fclose(stream) == 0 && ok;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::printf("usage: make_fuzz_seeds FOLDER [OPTION_BYTE...]\n");
        return 1;
    }
    std::filesystem::create_directories(argv[1]);
    std::vector<int> options;
    for (int i = 2; i < argc; ++i) options.push_back(std::atoi(argv[i]) & 0xFF);
    if (options.empty()) options.push_back(-1);
    for (int bit_count : {1, 4, 8, 16, 24, 32})
        for (picture_size s : {picture_size{3, 2}, picture_size{9, 5}})
            for (int option : options) {
                const std::string path = std::string(argv[1]) + "/" + std::to_string(bit_count) +
                                         "bit-" + std::to_string(s.width) + "x" +
                                         std::to_string(s.height) + "-" + std::to_string(option);
                if (!write_seed(path, bit_count, s, option)) {
                    std::printf("can't write '%s'\n", path.c_str());
                    return 1;
                }
            }
    return 0;
}
