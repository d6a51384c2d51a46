/* Bitmap library: uncompressed Windows BMP files with the 40-byte V3 info
 * header at 1, 4, 8, 16, 24 and 32 bits per pixel.
 *
 * Pixel buffers are top-down with no row padding: one byte per pixel at 1, 4
 * and 8 bits (a palette index), bit_count / 8 bytes per pixel above, already
 * in file byte order. Streams are opened and closed by the caller. Results are
 * signed: 0 success, -1 format, argument or I/O failure, -2 out of memory,
 * -3 no place for the pixel-buffer pointer. Usable from C and C++. */
#ifndef QELEGA_BITMAP_H
#define QELEGA_BITMAP_H

#include <stdint.h>
#include <stdio.h>

/* The functions a shared build exports; it hides everything else. */
#if defined(__GNUC__)
#define QELEGA_BITMAP_API __attribute__((visibility("default")))
#else
#define QELEGA_BITMAP_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* BMP file header and V3 info header, without the two magic bytes. */
typedef struct bitmap_header {
    uint32_t file_length;
    uint16_t reserved1, reserved2;
    uint32_t data_offset, header_size, width, height;
    uint16_t planes, bit_count;
    uint32_t compression, data_length, x_pixels_per_meter, y_pixels_per_meter,
        colors_used, colors_important;
} bitmap_header;

/* One RGBQUAD, with the same byte order in memory as in the file. */
typedef struct palette_entry {
    uint8_t blue, green, red, reserved;
} palette_entry;

/* Writer */
QELEGA_BITMAP_API uint8_t *put_le32(uint8_t *dst, uint32_t value);
QELEGA_BITMAP_API uint8_t *put_le16(uint8_t *dst, uint16_t value);
QELEGA_BITMAP_API int init_bitmap_header(bitmap_header *header, uint32_t width, uint32_t height,
                                         uint16_t bit_count);
QELEGA_BITMAP_API int write_bitmap_header(FILE *stream, const bitmap_header *header);
QELEGA_BITMAP_API int write_palette(FILE *stream, const palette_entry *palette, int count);
QELEGA_BITMAP_API int write_bitmap(FILE *stream, const bitmap_header *header,
                                   const palette_entry *palette, const uint8_t *pixels);

/* Reader */
QELEGA_BITMAP_API uint32_t get_le32(const uint8_t *src, const uint8_t **next);
QELEGA_BITMAP_API uint16_t get_le16(const uint8_t *src, const uint8_t **next);
QELEGA_BITMAP_API int bitmap_row_bytes(int width, int bit_count);
QELEGA_BITMAP_API int check_bitmap_header(bitmap_header *header);
QELEGA_BITMAP_API int read_bitmap_header(FILE *stream, bitmap_header *header);
QELEGA_BITMAP_API int read_palette(FILE *stream, palette_entry *palette, int count);
QELEGA_BITMAP_API int read_bitmap(FILE *stream, bitmap_header *header, palette_entry **palette,
                                  uint8_t **pixels, int header_read);

/* Converter */
QELEGA_BITMAP_API int find_nearest_color(int red, int green, int blue,
                                         const palette_entry *palette, int count);
QELEGA_BITMAP_API int convert_bitmap_pixels(int width, int height, int source_bit_count,
                                            const palette_entry *source_palette,
                                            const uint8_t *source_pixels,
                                            int destination_bit_count,
                                            const palette_entry *destination_palette,
                                            uint8_t **destination);

/* Lenient reader, for pictures saved by other programs. Reads 40-, 52-, 56-,
 * 108- and 124-byte info headers, bottom-up and top-down rows, palettes of
 * colors_used entries, and 16- and 32-bit bit fields whose masks are runs of
 * 1 to 8 bits; refuses run-length, JPEG and PNG compression. It hands back a
 * V3 record that describes the buffers, as init_bitmap_header makes it, and
 * the palette and top-down pixels as read_bitmap would: a short palette is
 * padded with black to 2^bit_count entries, and bit-field pixels become
 * 24-bit. Always allocates: *palette (null above 8 bits, or when `palette` is
 * null) and *pixels belong to the caller on every path, failures included.
 * The stream must be seekable: the pixel data must all be there before the
 * buffers are allocated. 0, -1 refused or unreadable, -2 out of memory,
 * -3 `pixels` null. */
QELEGA_BITMAP_API int read_bitmap_lenient(FILE *stream, bitmap_header *header,
                                          palette_entry **palette, uint8_t **pixels);

#ifdef __cplusplus
}
#endif

#endif
