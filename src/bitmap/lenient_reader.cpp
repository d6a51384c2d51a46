// Lenient BMP reader for pictures that other programs saved: V3, V4 and V5
// info headers (and the 52- and 56-byte ones between), bottom-up or top-down
// rows, palettes shorter than 2^bit_count, 16- and 32-bit bit fields. It hands
// back what read_bitmap would for the same picture, normalised so that the
// converter takes it: short palettes padded with black, bit-field pixels
// unpacked to 24 bits. Memory stays bounded by the stream's length: the pixel
// data must be there before anything is allocated.
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap.h"
#include "layout.h"

using namespace bitmap_layout;

namespace {

constexpr uint32_t file_header_bytes = 14;
constexpr uint32_t largest_info_bytes = 124;  // V5
constexpr uint32_t mask_bytes = 12;           // red, green and blue masks after a V3 header

// Info header sizes read: V3, V3 with RGB masks, with RGBA masks, V4, V5.
constexpr uint32_t known_info_sizes[] = {40, 52, 56, 108, 124};

// Compression field values.
constexpr uint32_t bi_rgb = 0, bi_rle8 = 1, bi_rle4 = 2, bi_bitfields = 3, bi_jpeg = 4,
                   bi_png = 5;

// One colour channel of a bit-field pixel.
struct channel {
    uint32_t mask;
    int shift, bits;
};

// The header as the file states it, before any normalising.
struct file_info {
    uint32_t data_offset, info_size;
    int32_t width, height;  // a negative height stores the rows top-down
    uint32_t planes, bit_count, compression, colors_used;
    uint32_t masks[3];       // red, green, blue; meaningful with bit fields only
    uint32_t headers_bytes;  // file header, info header and masks
};

// How the stored rows turn into buffer rows.
struct row_format {
    uint32_t width, bit_count;
    bool bitfields;
    channel channels[3];  // red, green, blue
};

[[gnu::format(printf, 1, 2)]] int refuse(const char *format, ...)
{
    std::printf("error: read_bitmap_lenient() - ");
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    return -1;
}

bool known_info_size(uint32_t size)
{
    for (uint32_t known : known_info_sizes)
        if (size == known) return true;
    return false;
}

// A mask is usable when its bits form one run of 1 to 8 inside the pixel.
bool to_channel(uint32_t mask, uint32_t bit_count, channel *out)
{
    if (mask == 0 || (bit_count < 32 && mask >> bit_count != 0)) return false;
    const int shift = std::countr_zero(mask);
    const uint32_t run = mask >> shift;
    if ((run & (run + 1)) != 0 || std::popcount(run) > 8) return false;
    *out = {mask, shift, std::popcount(run)};
    return true;
}

// Stretches a channel value of `bits` bits to 8 by repeating its bits, as the
// converter does for 5-bit channels: 0 stays 0 and the largest value is 255.
uint8_t stretch(uint32_t value, int bits)
{
    uint32_t out = 0;
    for (int shift = 8 - bits; shift > -bits; shift -= bits)
        out |= shift >= 0 ? value << shift : value >> -shift;
    return static_cast<uint8_t>(out);
}

uint64_t row_count(const file_info &f) { return f.height < 0 ? -int64_t{f.height} : f.height; }

// Bit fields become 24-bit pixels; everything else keeps its bit count.
uint32_t buffer_bit_count(const file_info &f)
{
    return f.compression == bi_bitfields ? 24 : f.bit_count;
}

// Entries stored in the file: colors_used when given, else all; none above 8 bits.
uint32_t stored_palette_entries(const file_info &f)
{
    if (!is_indexed(f.bit_count)) return 0;
    return f.colors_used != 0 ? f.colors_used : palette_entries(f.bit_count);
}

int read_block(FILE *stream, uint8_t *dst, size_t size)
{
    return std::fread(dst, 1, size, stream) == size ? 0 : -1;
}

// Reads the file header, the info header and the masks that follow a V3
// header, and parses what the reading needs.
int read_info(FILE *stream, file_info *f)
{
    uint8_t bytes[file_header_bytes + largest_info_bytes + mask_bytes] = {};
    if (read_block(stream, bytes, file_header_bytes + 4) < 0)
        return refuse("can't read bitmap header");
    if (get_le16(bytes, nullptr) != file_magic) return refuse("not a bmp file");
    f->data_offset = get_le32(bytes + 10, nullptr);
    f->info_size = get_le32(bytes + 14, nullptr);
    if (!known_info_size(f->info_size))
        return refuse("info header size 0x%X not supported", f->info_size);
    const uint8_t *info = bytes + file_header_bytes;
    if (read_block(stream, bytes + file_header_bytes + 4, f->info_size - 4) < 0)
        return refuse("can't read bitmap header");
    f->width = static_cast<int32_t>(get_le32(info + 4, nullptr));
    f->height = static_cast<int32_t>(get_le32(info + 8, nullptr));
    f->planes = get_le16(info + 12, nullptr);
    f->bit_count = get_le16(info + 14, nullptr);
    f->compression = get_le32(info + 16, nullptr);
    f->colors_used = get_le32(info + 32, nullptr);
    f->headers_bytes = file_header_bytes + f->info_size;
    if (f->compression == bi_bitfields && f->info_size == 40) {
        if (read_block(stream, bytes + f->headers_bytes, mask_bytes) < 0)
            return refuse("can't read bit masks");
        f->headers_bytes += mask_bytes;
    }
    for (int i = 0; i < 3; ++i) f->masks[i] = get_le32(info + 40 + 4 * i, nullptr);
    return 0;
}

// Everything refused, one check a line, before anything is read past the
// headers or allocated.
int check_info(const file_info &f, row_format *format)
{
    const uint32_t entries = palette_entries(f.bit_count);
    *format = {static_cast<uint32_t>(f.width), f.bit_count, f.compression == bi_bitfields, {}};
    if (f.planes != 1) return refuse("planes 0x%X != 1", f.planes);
    if (f.compression == bi_rle8 || f.compression == bi_rle4)
        return refuse("run-length compression not supported");
    if (f.compression == bi_jpeg || f.compression == bi_png)
        return refuse("jpeg or png inside bmp not supported");
    if (f.compression != bi_rgb && f.compression != bi_bitfields)
        return refuse("compression 0x%X not supported", f.compression);
    if (!supported_bit_count(f.bit_count)) return refuse("bit count 0x%X not supported", f.bit_count);
    if (format->bitfields && f.bit_count != 16 && f.bit_count != 32)
        return refuse("bit fields at bit count 0x%X not supported", f.bit_count);
    if (format->bitfields && !(to_channel(f.masks[0], f.bit_count, &format->channels[0]) &&
                               to_channel(f.masks[1], f.bit_count, &format->channels[1]) &&
                               to_channel(f.masks[2], f.bit_count, &format->channels[2])))
        return refuse("bit masks 0x%X 0x%X 0x%X not supported", f.masks[0], f.masks[1], f.masks[2]);
    if (f.colors_used > entries && entries != 0)
        return refuse("colors used 0x%X > 0x%X", f.colors_used, entries);
    if (f.width <= 0) return refuse("width 0x%X not supported", static_cast<uint32_t>(f.width));
    if (f.height == 0 || f.height == INT32_MIN)
        return refuse("height 0x%X not supported", static_cast<uint32_t>(f.height));
    if (!readable_size(static_cast<uint32_t>(f.width), static_cast<uint32_t>(row_count(f)),
                       f.bit_count) ||
        !readable_size(static_cast<uint32_t>(f.width), static_cast<uint32_t>(row_count(f)),
                       buffer_bit_count(f)))
        return refuse("size 0x%X x 0x%X too large", static_cast<uint32_t>(f.width),
                      static_cast<uint32_t>(row_count(f)));
    if (f.data_offset < f.headers_bytes + entry_bytes * stored_palette_entries(f))
        return refuse("offset 0x%X inside the headers", f.data_offset);
    return 0;
}

// The palette as stored, padded with black entries to 2^bit_count.
int read_padded_palette(FILE *stream, const file_info &f, palette_entry *palette)
{
    std::memset(palette, 0, sizeof(palette_entry) * palette_entries(f.bit_count));
    if (read_block(stream, reinterpret_cast<uint8_t *>(palette),
                   entry_bytes * stored_palette_entries(f)) < 0)
        return refuse("can't read palette");
    return 0;
}

// Bytes from the current position to the end of the stream, or -1.
int64_t bytes_left(FILE *stream)
{
    const long here = std::ftell(stream);
    if (here < 0 || std::fseek(stream, 0, SEEK_END) != 0) return -1;
    const long end = std::ftell(stream);
    if (std::fseek(stream, here, SEEK_SET) != 0 || end < here) return -1;
    return end - here;
}

// Moves to the pixel data, once sure that all of it is there.
int seek_pixel_data(FILE *stream, const file_info &f, uint32_t consumed)
{
    const uint64_t gap = f.data_offset - consumed;
    const uint64_t data = stored_row_bytes(static_cast<uint32_t>(f.width), f.bit_count) * row_count(f);
    const int64_t left = bytes_left(stream);
    if (left < 0) return refuse("can't find the stream's length");
    if (static_cast<uint64_t>(left) < gap + data) return refuse("can't read bitmap data");
    if (std::fseek(stream, static_cast<long>(gap), SEEK_CUR) != 0)
        return refuse("can't read bitmap data");
    return 0;
}

void unpack_bitfields(const uint8_t *stored, uint8_t *out, const row_format &r)
{
    const uint32_t step = r.bit_count / 8;
    for (uint32_t x = 0; x < r.width; ++x, stored += step, out += 3) {
        const uint32_t pixel = step == 2 ? get_le16(stored, nullptr) : get_le32(stored, nullptr);
        for (int c = 0; c < 3; ++c) {  // blue, green, red in the buffer
            const channel &ch = r.channels[2 - c];
            out[c] = stretch((pixel & ch.mask) >> ch.shift, ch.bits);
        }
    }
}

void unpack_stored_row(const uint8_t *stored, uint8_t *out, const row_format &r)
{
    if (r.bitfields)
        unpack_bitfields(stored, out, r);
    else
        unpack_row(stored, out, r.width, r.bit_count);
}

// Allocates `count` items into *where, which then belongs to the caller.
template <class T>
int allocate(T **where, size_t count)
{
    *where = static_cast<T *>(std::malloc(sizeof(T) * count));
    if (*where != nullptr) return 0;
    std::printf("error: memory exhaust!\n");
    return -2;
}

int read_rows(FILE *stream, const file_info &f, const row_format &r, uint8_t *pixels)
{
    const size_t stored_bytes = stored_row_bytes(r.width, r.bit_count);
    const size_t buffer_row = size_t{r.width} * buffer_pixel_bytes(buffer_bit_count(f));
    uint8_t *stored = nullptr;
    if (allocate(&stored, stored_bytes) < 0) return -2;
    int result = 0;
    const uint64_t rows = row_count(f);
    for (uint64_t i = 0; i < rows && result == 0; ++i) {
        const uint64_t y = f.height < 0 ? i : rows - 1 - i;
        if (read_block(stream, stored, stored_bytes) < 0)
            result = refuse("can't read bitmap data");
        else
            unpack_stored_row(stored, pixels + buffer_row * y, r);
    }
    std::free(stored);
    return result;
}

}  // namespace

extern "C" {

int read_bitmap_lenient(FILE *stream, bitmap_header *header, palette_entry **palette,
                        uint8_t **pixels)
{
    if (pixels == nullptr) return -3;
    *pixels = nullptr;
    if (palette != nullptr) *palette = nullptr;
    file_info f{};
    row_format format{};
    if (read_info(stream, &f) < 0 || check_info(f, &format) < 0) return -1;

    palette_entry file_palette[max_palette_entries];
    const uint32_t entries = palette_entries(f.bit_count);
    if (entries != 0 && read_padded_palette(stream, f, file_palette) < 0) return -1;
    const uint32_t consumed = f.headers_bytes + entry_bytes * stored_palette_entries(f);
    if (seek_pixel_data(stream, f, consumed) < 0) return -1;

    const uint32_t bit_count = buffer_bit_count(f);
    init_bitmap_header(header, static_cast<uint32_t>(f.width), static_cast<uint32_t>(row_count(f)),
                       static_cast<uint16_t>(bit_count));
    if (palette != nullptr && entries != 0) {
        if (allocate(palette, entries) < 0) return -2;
        std::memcpy(*palette, file_palette, sizeof file_palette[0] * entries);
    }
    if (allocate(pixels, size_t{header->width} * header->height * buffer_pixel_bytes(bit_count)) < 0)
        return -2;
    return read_rows(stream, f, format, *pixels);
}

}  // extern "C"
