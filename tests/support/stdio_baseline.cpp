// The runtime calls of one conversion run and nothing else: read the tile
// file, ask when the output exists, write a sheet-sized file. Run under
// valgrind, its heap use is what the stdio streams cost by themselves, the
// floor that qelega_shapes is held to.
#include <sys/stat.h>

#include <cstdio>

int main(int argc, char **argv)
{
    static unsigned char tiles[65536];
    static unsigned char sheet[65654];
    if (argc != 3) return 2;
    FILE *in = std::fopen(argv[1], "rb");
    if (in == nullptr || std::fread(tiles, sizeof tiles, 1, in) != 1) return 1;
    std::fclose(in);
    struct stat status;
    if (stat(argv[2], &status) == 0) {
        std::printf("already exists '%s'\n", argv[2]);
        std::printf("%s (Y or N): ", "overwrite ?");
        std::fflush(stdout);
        if (std::getchar() != 'y') return 1;
    }
    FILE *out = std::fopen(argv[2], "wb");
    if (out == nullptr) return 1;
    for (unsigned char byte : sheet) std::fputc(byte, out);
    std::fclose(out);
    return 0;
}
