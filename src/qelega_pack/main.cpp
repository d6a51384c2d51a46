// qelega_pack: puts an edited 256 x 512 tile sheet, BMP or PNG, back into a
// decoded EGA or CGA tile file. Every pixel becomes the nearest colour of the
// mode's palette; the reverse of qelega_shapes --no-remake-water.
#include <cstdio>
#include <cstdlib>

#include "bitmap.h"
#include "console.h"
#include "png_reader.h"
#include "tiles.h"

namespace {

uint8_t tile_buffer[tile_buffer_bytes];

struct run_settings {
    const char *paths[2] = {nullptr, nullptr};  // sheet, tile file
    bool cga = false;
    const char *sheet_path() const { return paths[0]; }
    const char *tiles_path() const { return paths[1]; }
};

// A picture as the bitmap library hands it back; the buffers are ours.
struct picture {
    bitmap_header header{};
    palette_entry *palette = nullptr;
    uint8_t *pixels = nullptr;
    picture() = default;
    picture(const picture &) = delete;
    picture &operator=(const picture &) = delete;
    ~picture()
    {
        std::free(palette);
        std::free(pixels);
    }
};

void print_usage()
{
    std::printf("usage: qelega_pack [options] SHEET TILES\n"
                "option: --cga               write cga version tiles\n"
                "        --help              print usage\n"
                "\n"
                "support 256 x 512 bmp and png sheets, decoded TILES.16 and TILES.4 only\n");
}

// Picks the reader by the file's first bytes, not by its name.
int read_picture(FILE *stream, const char *path, picture &p)
{
    uint8_t head[8] = {};
    const size_t got = std::fread(head, 1, sizeof head, stream);
    std::rewind(stream);
    switch (sheet_format_of(head, got)) {
    case sheet_format::png:
        return read_png(stream, &p.header, &p.pixels);
    case sheet_format::bmp:
        return read_bitmap_lenient(stream, &p.header, &p.palette, &p.pixels);
    default:
        print_not_a_sheet(path);
        return -1;
    }
}

int load_sheet(const char *path, picture &p)
{
    FILE *stream = std::fopen(path, "rb");
    if (stream == nullptr) {
        std::printf("open error '%s'\n", path);
        return -1;
    }
    const int result = read_picture(stream, path, p);
    std::fclose(stream);
    return result;
}

// A failed run leaves the user's tile file as it was.
int save_tiles_file(const char *path, const uint8_t *tiles, size_t size)
{
    if (may_replace(path) == 0) return -1;
    return replace_file(path, tiles, size);
}

// Reads the sheet and packs it into tile_buffer; the exit status on failure.
int pack(const run_settings &settings, const tile_mode &mode)
{
    picture sheet;
    if (load_sheet(settings.sheet_path(), sheet) < 0) {
        std::printf("read sheet file error '%s'\n", settings.sheet_path());
        return 1;
    }
    uint32_t changed = 0;
    const int result = pack_picture(sheet.header, sheet.palette, sheet.pixels, mode, tile_buffer, &changed);
    if (result == wrong_sheet_size)
        print_wrong_sheet_size(sheet.header.width, sheet.header.height, settings.sheet_path());
    else if (result < 0)
        std::printf("convert sheet error '%s'\n", settings.sheet_path());
    if (result < 0) return 1;
    if (changed != 0) print_changed_pixels(changed, settings.sheet_path());
    return 0;
}

}  // namespace

int main(int, char **argv)
{
    run_settings settings;
    const flag_option options[] = {{"--cga", &settings.cga, true}};
    const program_text program = {"qelega_pack", print_usage};
    if (const int status = scan_arguments(argv, options, settings.paths, program); status >= 0)
        return status;
    if (settings.sheet_path() == nullptr) {
        std::printf("no sheet file\n");
        return 1;
    }
    if (settings.tiles_path() == nullptr) {
        std::printf("no tiles file\n");
        return 1;
    }
    const tile_mode &mode = settings.cga ? cga_mode : ega_mode;
    if (pack(settings, mode) != 0) return 1;
    if (save_tiles_file(settings.tiles_path(), tile_buffer, tile_file_bytes(mode.pixels_per_byte)) < 0) {
        std::printf("write tiles file error '%s'\n", settings.tiles_path());
        return 1;
    }
    return 0;
}
