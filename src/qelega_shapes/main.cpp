// qelega_shapes: turns a decoded EGA or CGA tile file into one 256 x 512,
// 4-bit BMP tile sheet. One pass over two fixed buffers; nothing on the heap.
#include <cstdio>

#include "bitmap.h"
#include "console.h"
#include "tiles.h"

namespace {

uint8_t tile_buffer[tile_buffer_bytes];

struct run_settings {
    const char *paths[2] = {nullptr, nullptr};  // tile file, output bitmap
    bool cga = false;
    sheet_options sheet;
};

void print_usage()
{
    std::printf("usage: qelega_shapes [options] TILES OUTPUT.BMP\n"
                "option: --cga               read cga version tiles\n"
                "        --dungeon           change color of grass shapes\n"
                "        --mirror-room       use alternate colors for mirror room\n"
                "        --no-remake-water   do not remake water shapes\n"
                "        --help              print usage\n"
                "\n"
                "support decoded TILES.16 and TILES.4 only\n");
}

int save_bitmap_file(const char *path, int bit_count, const palette_entry *palette,
                     const uint8_t *pixels)
{
    if (may_replace(path) == 0) return -1;
    FILE *stream = std::fopen(path, "wb");
    if (stream == nullptr) {
        std::printf("open error '%s'\n", path);
        return -1;
    }
    bitmap_header header;
    init_bitmap_header(&header, canvas_width, canvas_height, static_cast<uint16_t>(bit_count));
    int result = 0;
    if (write_bitmap(stream, &header, palette, pixels) < 0) {
        std::printf("write error '%s'\n", path);
        result = -1;
    }
    std::fclose(stream);  // deliberately unchecked: the tool reports what write_bitmap reports
    return result;
}

}  // namespace

int main(int, char **argv)
{
    run_settings settings;
    const flag_option options[] = {
        {"--cga", &settings.cga, true},
        {"--dungeon", &settings.sheet.dungeon, true},
        {"--mirror-room", &settings.sheet.mirror_room, true},
        {"--no-remake-water", &settings.sheet.remake_water, false},
    };
    const program_text program = {"qelega_shapes", print_usage};
    if (const int status = scan_arguments(argv, options, settings.paths, program); status >= 0)
        return status;
    const char *tiles_path = settings.paths[0], *output_path = settings.paths[1];
    if (tiles_path == nullptr) {
        std::printf("no tiles file\n");
        return 1;
    }
    if (output_path == nullptr) {
        std::printf("no output bitmap file\n");
        return 1;
    }
    const tile_mode &mode = settings.cga ? cga_mode : ega_mode;
    if (read_file(tiles_path, tile_buffer, tile_file_bytes(mode.pixels_per_byte)) < 0) {
        std::printf("read tiles file error '%s'\n", tiles_path);
        return 1;
    }
    render_sheet(tile_buffer, mode, settings.sheet);
    if (save_bitmap_file(output_path, 4, mode.palette, canvas) < 0) {
        std::printf("write bitmap file error '%s'\n", output_path);
        return 1;
    }
    return 0;
}
