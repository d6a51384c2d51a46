// make_sample_tiles OUTDIR: writes OUTDIR/TILES.16 and OUTDIR/TILES.4, the
// sample tile files of our own.
#include <cstdio>
#include <string>

#include "sample_tiles.h"
#include "tiles.h"

namespace {

uint8_t ega_file[tile_file_bytes(2)];
uint8_t cga_file[tile_file_bytes(4)];

int write_file(const std::string &path, const uint8_t *bytes, size_t size)
{
    FILE *stream = std::fopen(path.c_str(), "wb");
    if (stream == nullptr) {
        std::printf("open error '%s'\n", path.c_str());
        return -1;
    }
    const bool written = std::fwrite(bytes, 1, size, stream) == size;
    if (std::fclose(stream) != 0 || !written) {
        std::printf("write error '%s'\n", path.c_str());
        return -1;
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::printf("usage: make_sample_tiles OUTDIR\n");
        return 1;
    }
    make_sample_tiles(ega_file, cga_file);
    const std::string dir = argv[1];
    if (write_file(dir + "/TILES.16", ega_file, sizeof ega_file) < 0) return 1;
    if (write_file(dir + "/TILES.4", cga_file, sizeof cga_file) < 0) return 1;
    return 0;
}
