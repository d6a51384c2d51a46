/* A program of another project, built against the installed library only:
 * writes a 4-bit BMP, reads it back, converts it to 24 bits and checks every
 * step. Usage: consumer OUTPUT.BMP; exit status 0 when all came back. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <bitmap.h>

enum { width = 3, height = 2 };

static int check_copy(const char *path, const palette_entry *palette, const uint8_t *pixels)
{
    bitmap_header header;
    palette_entry *read_palette = NULL;
    uint8_t *read_pixels = NULL, *bgr = NULL;
    FILE *stream = fopen(path, "rb");
    int result = stream != NULL ? read_bitmap(stream, &header, &read_palette, &read_pixels, 0) : -1;
    if (result == 0 && (header.width != width || header.height != height ||
                        memcmp(read_pixels, pixels, width * height) != 0 ||
                        memcmp(read_palette, palette, 16 * sizeof *palette) != 0))
        result = -1;
    if (result == 0)
        result = convert_bitmap_pixels(width, height, 4, read_palette, read_pixels, 24, NULL, &bgr);
    /* pixel 1 has index 5: blue, green, red of palette entry 5 */
    if (result == 0 && (bgr[3] != palette[5].blue || bgr[4] != palette[5].green ||
                        bgr[5] != palette[5].red))
        result = -1;
    if (stream != NULL) fclose(stream);
    free(bgr);
    free(read_pixels);
    free(read_palette);
    return result;
}

int main(int argc, char **argv)
{
    static const uint8_t pixels[width * height] = {1, 5, 15, 0, 9, 2};
    palette_entry palette[16];
    bitmap_header header;
    FILE *stream;
    int i, result;
    if (argc != 2) return 2;
    for (i = 0; i < 16; ++i) {
        palette[i].blue = (uint8_t)(i * 16);
        palette[i].green = (uint8_t)(255 - i);
        palette[i].red = (uint8_t)(i * 7);
        palette[i].reserved = 0;
    }
    stream = fopen(argv[1], "wb");
    if (stream == NULL || init_bitmap_header(&header, width, height, 4) != 0) return 1;
    result = write_bitmap(stream, &header, palette, pixels);
    if (fclose(stream) != 0 || result != 0) return 1;
    return check_copy(argv[1], palette, pixels) == 0 ? 0 : 1;
}
