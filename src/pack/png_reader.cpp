// PNG input through libpng's simplified interface, which converts every
// colour type and bit depth to 8-bit sRGB for us.
#include "png_reader.h"

#include <png.h>

#include <cstdlib>

namespace {

// Far above a tile sheet; keeps a forged header from asking for gigabytes,
// since a compressed file's length says nothing about its picture's size.
constexpr uint64_t max_pixels = uint64_t{1} << 24;

int refuse(const char *text)
{
    std::printf("error: read_png() - %s\n", text);
    return -1;
}

}  // namespace

int read_png(FILE *stream, bitmap_header *header, uint8_t **pixels)
{
    *pixels = nullptr;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_stdio(&image, stream) == 0) return refuse(image.message);
    image.format = PNG_FORMAT_BGR;
    image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;  // editors store sRGB at 16 bits too
    if (uint64_t{image.width} * image.height > max_pixels) {
        png_image_free(&image);
        return refuse("picture too large");
    }
    *pixels = static_cast<uint8_t *>(std::malloc(PNG_IMAGE_SIZE(image)));
    if (*pixels == nullptr) {
        png_image_free(&image);
        std::printf("error: memory exhaust!\n");
        return -2;
    }
    const png_color black = {0, 0, 0};
    if (png_image_finish_read(&image, &black, *pixels, 0, nullptr) == 0)
        return refuse(image.message);
    return init_bitmap_header(header, image.width, image.height, 24);
}
