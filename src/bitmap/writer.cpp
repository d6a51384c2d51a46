// BMP writer: fills a header record for a size and bit count, and writes a
// whole file (header, full palette, bottom-up padded rows) from a top-down
// pixel buffer. Allocates nothing.
#include <cstdio>
#include <cstring>

#include "bitmap.h"
#include "layout.h"

using namespace bitmap_layout;

namespace {

// Single-character output: packed 1- and 4-bit rows and all padding go
// through the stream's buffer one byte at a time.
void put_byte(FILE *stream, unsigned value) { std::fputc(static_cast<int>(value & 0xFF), stream); }

// One packed 1-bit byte from up to 8 pixels; any nonzero byte is a set pixel.
unsigned pack_1bit(const uint8_t *pixels, uint32_t count)
{
    unsigned byte = 0;
    for (uint32_t i = 0; i < count; ++i)
        if (pixels[i] != 0) byte |= 0x80u >> i;
    return byte;
}

void write_row_1bit(FILE *stream, const uint8_t *row, uint32_t width)
{
    for (uint32_t x = 0; x + 8 <= width; x += 8) put_byte(stream, pack_1bit(row + x, 8));
    if (width % 8 != 0) put_byte(stream, pack_1bit(row + width / 8 * 8, width % 8));
}

void write_row_4bit(FILE *stream, const uint8_t *row, uint32_t width)
{
    for (uint32_t x = 0; x + 2 <= width; x += 2)
        put_byte(stream, (row[x] & 0x0Fu) << 4 | (row[x + 1] & 0x0Fu));
    if (width % 2 != 0) put_byte(stream, (row[width - 1] & 0x0Fu) << 4);
}

// The palette section: the caller's entries, or 2^bit_count zero entries.
int write_palette_section(FILE *stream, const palette_entry *palette, uint32_t bit_count)
{
    const int count = static_cast<int>(palette_entries(bit_count));
    if (palette != nullptr) return write_palette(stream, palette, count);
    static const uint8_t zero_entry[entry_bytes] = {};
    for (int i = 0; i < count; ++i)
        if (std::fwrite(zero_entry, entry_bytes, 1, stream) != 1) return -1;
    return 0;
}

void write_rows(FILE *stream, const bitmap_header *header, const uint8_t *pixels)
{
    const uint32_t width = header->width, bit_count = header->bit_count;
    const size_t row_buffer_bytes = size_t{width} * buffer_pixel_bytes(bit_count);
    const uint32_t pad = static_cast<uint32_t>(stored_row_bytes(width, bit_count) -
                                               packed_row_bytes(width, bit_count));
    for (uint32_t y = header->height; y-- > 0;) {
        const uint8_t *row = pixels + row_buffer_bytes * y;
        if (bit_count == 1)
            write_row_1bit(stream, row, width);
        else if (bit_count == 4)
            write_row_4bit(stream, row, width);
        else if (row_buffer_bytes != 0)  // a zero-width picture may come with no buffer
            std::fwrite(row, 1, row_buffer_bytes, stream);
        for (uint32_t i = 0; i < pad; ++i) put_byte(stream, 0);
    }
}

}  // namespace

extern "C" {

uint8_t *put_le32(uint8_t *dst, uint32_t value)
{
    dst[0] = static_cast<uint8_t>(value);
    dst[1] = static_cast<uint8_t>(value >> 8);
    dst[2] = static_cast<uint8_t>(value >> 16);
    dst[3] = static_cast<uint8_t>(value >> 24);
    return dst + 4;
}

uint8_t *put_le16(uint8_t *dst, uint16_t value)
{
    dst[0] = static_cast<uint8_t>(value);
    dst[1] = static_cast<uint8_t>(value >> 8);
    return dst + 2;
}

int init_bitmap_header(bitmap_header *header, uint32_t width, uint32_t height, uint16_t bit_count)
{
    header->reserved1 = 0;
    header->reserved2 = 0;
    header->header_size = info_header_bytes;
    header->width = width;
    header->height = height;
    header->planes = 1;
    header->bit_count = bit_count;
    header->compression = 0;
    header->x_pixels_per_meter = 0;
    header->y_pixels_per_meter = 0;
    header->colors_used = 0;
    header->colors_important = 0;
    if (!supported_bit_count(bit_count) || !sizes_fit(width, height, bit_count)) return -1;

    header->data_offset = data_offset_for(bit_count);
    header->data_length = static_cast<uint32_t>(stored_row_bytes(width, bit_count) * height);
    header->file_length = header->data_length + header->data_offset;
    return 0;
}

int write_bitmap_header(FILE *stream, const bitmap_header *header)
{
    uint8_t bytes[header_bytes];
    uint8_t *p = put_le16(bytes, file_magic);
    for_each_field(*header, [&p](auto field) {
        if constexpr (sizeof field == 4)
            p = put_le32(p, field);
        else
            p = put_le16(p, field);
    });
    return std::fwrite(bytes, sizeof bytes, 1, stream) == 1 ? 0 : -1;
}

// A count of 0 writes nothing and succeeds, so an empty palette is not an error.
int write_palette(FILE *stream, const palette_entry *palette, int count)
{
    if (count < 0 || count > max_palette_entries) return -1;
    if (count == 0) return 0;
    uint8_t bytes[max_palette_entries * entry_bytes];
    std::memcpy(bytes, palette, size_t{entry_bytes} * count);
    return std::fwrite(bytes, size_t{entry_bytes} * count, 1, stream) == 1 ? 0 : -1;
}

int write_bitmap(FILE *stream, const bitmap_header *header, const palette_entry *palette,
                 const uint8_t *pixels)
{
    const uint32_t bit_count = header->bit_count;
    // Refuse records whose buffer size would wrap, as init_bitmap_header does.
    if (!supported_bit_count(bit_count) || !sizes_fit(header->width, header->height, bit_count))
        return -1;
    if (write_bitmap_header(stream, header) < 0) {
        std::printf("error: write_bitmap() - can't write bitmap header\n");
        return -1;
    }
    if (is_indexed(bit_count) && write_palette_section(stream, palette, bit_count) < 0) {
        std::printf("error: write_bitmap() - can't write palette\n");
        return -1;
    }
    // The rows' writes are not looked at, deliberately: the writer reports
    // only a failed header or palette, and a caller that must know more asks
    // the stream (ferror, or the result of its close).
    write_rows(stream, header, pixels);
    return 0;
}

}  // extern "C"
