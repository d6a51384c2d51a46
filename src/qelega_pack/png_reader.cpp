// PNG input through libpng, as the file stores its pixels: every colour type
// and bit depth expanded to straight 8-bit RGBA (16-bit samples keep their
// high byte), with no gamma or colour-profile conversion, as paint programs
// show them. The transparency rule is the core's, shared with the page.
#include "png_reader.h"

#include <png.h>

#include <csetjmp>
#include <cstdlib>

#include "tiles.h"

namespace {

// Far above a tile sheet; keeps a forged header from asking for gigabytes,
// since a compressed file's length says nothing about its picture's size.
constexpr uint64_t max_pixels = uint64_t{1} << 24;

int refuse(const char *text)
{
    std::printf("error: read_png() - %s\n", text);
    return -1;
}

void on_error(png_structp png, png_const_charp text)
{
    refuse(text);
    longjmp(png_jmpbuf(png), 1);
}

void on_warning(png_structp, png_const_charp) {}

// Straight 8-bit RGBA whatever the file holds.
void ask_for_rgba(png_structp png, png_infop info)
{
    png_set_expand(png);  // palette to RGB, grey below 8 bits to 8, tRNS to alpha
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
}

// Reads the picture into rows of `rgba`; libpng reports its failures by
// longjmp, so the caller holds every buffer.
int read_rows(png_structp png, png_infop info, FILE *stream, uint8_t **rgba, png_bytep **rows)
{
    if (setjmp(png_jmpbuf(png)) != 0) return -1;
    png_init_io(png, stream);
    png_read_info(png, info);
    const uint32_t width = png_get_image_width(png, info);
    const uint32_t height = png_get_image_height(png, info);
    if (uint64_t{width} * height > max_pixels) return refuse("picture too large");
    ask_for_rgba(png, info);
    *rgba = static_cast<uint8_t *>(std::malloc(size_t{width} * height * 4 + 1));
    *rows = static_cast<png_bytep *>(std::malloc(sizeof(png_bytep) * (height + 1)));
    if (*rgba == nullptr || *rows == nullptr) {
        std::printf("error: memory exhaust!\n");
        return -2;
    }
    for (uint32_t y = 0; y < height; ++y) (*rows)[y] = *rgba + size_t{y} * width * 4;
    png_read_image(png, *rows);
    return 0;
}

}  // namespace

int read_png(FILE *stream, bitmap_header *header, uint8_t **pixels)
{
    *pixels = nullptr;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        std::printf("error: memory exhaust!\n");
        return -2;
    }
    uint8_t *rgba = nullptr;
    png_bytep *rows = nullptr;
    int result = read_rows(png, info, stream, &rgba, &rows);
    const uint32_t width = png_get_image_width(png, info);
    const uint32_t height = png_get_image_height(png, info);
    if (result == 0) result = init_bitmap_header(header, width, height, 24);
    if (result == 0) *pixels = static_cast<uint8_t *>(std::malloc(size_t{width} * height * 3 + 1));
    if (result == 0 && *pixels == nullptr) {
        std::printf("error: memory exhaust!\n");
        result = -2;
    }
    if (result == 0) composite_on_black(rgba, width * height, *pixels);
    png_destroy_read_struct(&png, &info, nullptr);
    std::free(rows);
    std::free(rgba);
    return result;
}
