/* The library's header used from C: the records through their typedefs and
 * a small bitmap written through the C interface. */
#include <stdio.h>

#include "bitmap.h"

int main(void)
{
    static const uint8_t pixels[3 * 2] = {1, 0, 1, 0, 1, 0};
    static const palette_entry palette[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    bitmap_header header;
    FILE *stream = tmpfile();
    if (stream == NULL || init_bitmap_header(&header, 3, 2, 1) != 0) return 1;
    if (write_bitmap(stream, &header, palette, pixels) != 0) return 1;
    /* 54 header bytes, 8 palette bytes, 2 rows of 4 bytes */
    if (ftell(stream) != 70 || header.file_length != 70) return 1;
    fclose(stream);
    return 0;
}
