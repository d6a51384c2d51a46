// BMP reader: parses and checks the 54-byte header, reads the full palette and
// the bottom-up padded rows into a top-down buffer, many rows a read,
// unpacking 1- and 4-bit rows to one byte per pixel. Buffers it allocates
// are the caller's at once.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap.h"
#include "layout.h"
#include "test_switch.h"

using namespace bitmap_layout;

namespace {

// malloc(0) may give null; an empty picture still gets a pointer to release.
void *allocate(size_t bytes) { return std::malloc(bytes > 0 ? bytes : 1); }

// The checks that come before any size is worked out, in their fixed order.
int check_format(const bitmap_header *header)
{
    if (header->header_size != info_header_bytes) {
        std::printf(
            "error: check_bitmap_header() - not supported header type - support only Windows V3\n");
        return -1;
    }
    if (header->planes != 1) return -1;
    if (header->compression != 0) {
        std::printf("error: check_bitmap_header() - not support compression\n");
        return -1;
    }
    if (!supported_bit_count(header->bit_count)) {
        std::printf("error: check_bitmap_header() - unknown bit count\n");
        return -1;
    }
    if (!readable_size(header->width, header->height, header->bit_count)) {
        std::printf("error: check_bitmap_header() - unsupported size 0x%X x 0x%X\n", header->width,
                    header->height);
        return -1;
    }
    return 0;
}

// What read_bitmap needs of a record that the check may not have seen: a bit
// count it knows and a size it can allocate.
bool record_readable(const bitmap_header *header)
{
    return supported_bit_count(header->bit_count) &&
           readable_size(header->width, header->height, header->bit_count);
}

// The palette section at 1, 4 and 8 bits, skipped when the caller wants none.
// The skip's result is not looked at: a short file fails at its rows.
int read_palette_section(FILE *stream, uint32_t bit_count, palette_entry **palette)
{
    const int count = static_cast<int>(palette_entries(bit_count));
    if (count == 0) return 0;
    if (palette == nullptr) {
        std::fseek(stream, long{entry_bytes} * count, SEEK_CUR);
        return 0;
    }
    if (*palette == nullptr && (*palette = static_cast<palette_entry *>(
                                    allocate(size_t{entry_bytes} * count))) == nullptr) {
        std::printf("error: memory exhaust!\n");
        return -2;
    }
    if (read_palette(stream, *palette, count) < 0) {
        std::printf("error: read_bitmap() - can't read palette\n");
        return -1;
    }
    return 0;
}

// Rows at most this many bytes apart are read in one call. Reading row by
// row costs a system call per row once rows outgrow the stream's buffer; a
// chunk this size stays in the processor's cache while it is unpacked.
constexpr size_t chunk_bytes = size_t{128} << 10;

// Unpacks `rows` stored rows, bottom row first, into the top-down buffer,
// the first of them into buffer row `top`.
void unpack_rows(const uint8_t *stored, size_t stored_bytes, uint32_t rows, uint8_t *pixels,
                 uint32_t top, const bitmap_header *header)
{
    const size_t row_bytes = size_t{header->width} * buffer_pixel_bytes(header->bit_count);
    for (uint32_t i = 0; i < rows; ++i)
        unpack_row(stored + stored_bytes * i, pixels + row_bytes * (top - i), header->width,
                   header->bit_count);
}

// Reads the rows into `block`, `block_rows` at a time, never past the last
// row. On a short file the rows that arrived whole are in place.
int read_rows_in(FILE *stream, const bitmap_header *header, uint8_t *pixels, uint8_t *block,
                 size_t stored_bytes, uint32_t block_rows)
{
    for (uint32_t left = header->height; left > 0;) {
        const uint32_t rows = left < block_rows ? left : block_rows;
        const auto whole = static_cast<uint32_t>(std::fread(block, 1, stored_bytes * rows, stream) /
                                                 stored_bytes);
        unpack_rows(block, stored_bytes, whole, pixels, left - 1, header);
        if (whole < rows) {
            std::printf("error: read_bitmap() - can't read bitmap data\n");
            return -1;
        }
        left -= rows;
    }
    return 0;
}

// Whether the stream still holds `bytes` bytes; streams that cannot seek
// say no. The position is put back as it was.
bool holds(FILE *stream, uint64_t bytes)
{
    const long here = std::ftell(stream);
    if (here < 0 || std::fseek(stream, 0, SEEK_END) != 0) return false;
    const long end = std::ftell(stream);
    return std::fseek(stream, here, SEEK_SET) == 0 && end >= here &&
           static_cast<uint64_t>(end - here) >= bytes;
}

// Swaps the first of `count` rows with the last, and so on inwards.
void turn_upside_down(uint8_t *rows, size_t row_bytes, uint32_t count)
{
    uint8_t piece[4096];
    for (uint32_t a = 0, b = count - 1; a < b; ++a, --b)
        for (size_t at = 0; at < row_bytes; at += sizeof piece) {
            const size_t n = row_bytes - at < sizeof piece ? row_bytes - at : sizeof piece;
            uint8_t *top = rows + row_bytes * a + at, *bottom = rows + row_bytes * b + at;
            std::memcpy(piece, top, n);
            std::memcpy(top, bottom, n);
            std::memcpy(bottom, piece, n);
        }
}

// Rows stored as they are kept (8 bits and more, no padding) are read
// straight into their places, a chunk at a time, each chunk then turned
// upside down while it is still in the cache: this saves copying every row
// once more. Only when all the rows are known to be there, as a short read
// would leave part of a row in the caller's buffer.
int read_rows_in_place(FILE *stream, const bitmap_header *header, uint8_t *pixels,
                       size_t row_bytes, uint32_t block_rows)
{
    for (uint32_t left = header->height; left > 0;) {
        const uint32_t rows = left < block_rows ? left : block_rows;
        uint8_t *first = pixels + row_bytes * (left - rows);
        if (std::fread(first, 1, row_bytes * rows, stream) != row_bytes * rows) {
            std::printf("error: read_bitmap() - can't read bitmap data\n");
            return -1;
        }
        turn_upside_down(first, row_bytes, rows);
        left -= rows;
    }
    return 0;
}

// Stored rows come bottom row first, as many whole ones a read as fit in a
// chunk; one at a time when the chunk cannot be had.
int read_rows(FILE *stream, const bitmap_header *header, uint8_t *pixels)
{
    const auto stored_bytes = static_cast<size_t>(
        bitmap_row_bytes(static_cast<int>(header->width), static_cast<int>(header->bit_count)));
    if (header->height == 0 || stored_bytes == 0) return 0;  // nothing to read
    const size_t fit = chunk_bytes / stored_bytes;
    uint32_t block_rows = fit < header->height ? static_cast<uint32_t>(fit) : header->height;
    if (block_rows == 0 || test_switch::force.one_row_reads) block_rows = 1;
    const bool as_kept = header->bit_count >= 8 &&
                         stored_bytes == size_t{header->width} * buffer_pixel_bytes(header->bit_count);
    if (as_kept && block_rows > 1 && holds(stream, uint64_t{stored_bytes} * header->height))
        return read_rows_in_place(stream, header, pixels, stored_bytes, block_rows);
    auto *block = static_cast<uint8_t *>(std::malloc(stored_bytes * block_rows));
    if (block == nullptr && block_rows > 1)
        block = static_cast<uint8_t *>(std::malloc(stored_bytes)), block_rows = 1;
    if (block == nullptr) {
        std::printf("error: memory exhaust!\n");
        return -2;
    }
    const int result = read_rows_in(stream, header, pixels, block, stored_bytes, block_rows);
    std::free(block);
    return result;
}

}  // namespace

extern "C" {

uint32_t get_le32(const uint8_t *src, const uint8_t **next)
{
    if (next != nullptr) *next = src + 4;
    return uint32_t{src[0]} | uint32_t{src[1]} << 8 | uint32_t{src[2]} << 16 |
           uint32_t{src[3]} << 24;
}

uint16_t get_le16(const uint8_t *src, const uint8_t **next)
{
    if (next != nullptr) *next = src + 2;
    return static_cast<uint16_t>(src[0] | src[1] << 8);
}

// Negative widths and rows too long for an int have no size: -1, as for an
// unknown bit count.
int bitmap_row_bytes(int width, int bit_count)
{
    if (width < 0 || !supported_bit_count(static_cast<uint32_t>(bit_count))) return -1;
    const uint64_t bytes =
        stored_row_bytes(static_cast<uint64_t>(width), static_cast<uint32_t>(bit_count));
    return bytes <= INT_MAX ? static_cast<int>(bytes) : -1;
}

int check_bitmap_header(bitmap_header *header)
{
    if (check_format(header) < 0) return -1;
    const uint32_t offset = data_offset_for(header->bit_count);
    const auto row =
        static_cast<uint32_t>(bitmap_row_bytes(static_cast<int>(header->width), header->bit_count));
    const uint32_t length = header->height * row;
    const uint32_t file_length = length + offset;
    if (header->data_offset != offset) {
        std::printf("error: check_bitmap_header() - offset size 0x%X != 0x%X\n",
                    header->data_offset, offset);
        return -1;
    }
    int warnings = 0;
    if (header->data_length == 0) {
        header->data_length = length;
        std::printf("warning: check_bitmap_header() - data length is 0 ... corrected: 0x%X\n",
                    length);
        ++warnings;
    }
    if (header->data_length != length) {
        std::printf("error: check_bitmap_header() - data length 0x%X != 0x%X\n",
                    header->data_length, length);
        return -1;
    }
    if (header->file_length < file_length) {
        std::printf("error: check_bitmap_header() - file length 0x%X < 0x%X\n", header->file_length,
                    file_length);
        return -1;
    }
    if (header->file_length > file_length) {
        std::printf("warning: check_bitmap_header() - file length 0x%X > 0x%X\n",
                    header->file_length, file_length);
        ++warnings;
    }
    return warnings;
}

int read_bitmap_header(FILE *stream, bitmap_header *header)
{
    uint8_t bytes[header_bytes];
    if (std::fread(bytes, sizeof bytes, 1, stream) != 1) return -1;
    const uint8_t *p = bytes;
    if (get_le16(p, &p) != file_magic) return -1;
    for_each_field(*header, [&p](auto &field) {
        if constexpr (sizeof field == 4)
            field = get_le32(p, &p);
        else
            field = get_le16(p, &p);
    });
    return check_bitmap_header(header);
}

// A count of 0 reads nothing and succeeds, as write_palette writes nothing.
int read_palette(FILE *stream, palette_entry *palette, int count)
{
    if (count < 0 || count > max_palette_entries) return -1;
    if (count == 0) return 0;
    uint8_t bytes[max_palette_entries * entry_bytes];
    if (std::fread(bytes, size_t{entry_bytes} * count, 1, stream) != 1) return -1;
    std::memcpy(palette, bytes, size_t{entry_bytes} * count);
    return 0;
}

int read_bitmap(FILE *stream, bitmap_header *header, palette_entry **palette, uint8_t **pixels,
                int header_read)
{
    if (pixels == nullptr) return -3;
    if (header_read == 0 && read_bitmap_header(stream, header) < 0) {
        std::printf("error: read_bitmap() - can't read bitmap header\n");
        return -1;
    }
    if (header_read != 0 && !record_readable(header)) {
        std::printf("error: read_bitmap() - bad bit count or size in header\n");
        return -1;
    }
    const size_t buffer_bytes =
        size_t{header->width} * header->height * buffer_pixel_bytes(header->bit_count);
    if (*pixels == nullptr &&
        (*pixels = static_cast<uint8_t *>(allocate(buffer_bytes))) == nullptr) {
        std::printf("error: memory exhaust!\n");
        return -2;
    }
    const int palette_result = read_palette_section(stream, header->bit_count, palette);
    if (palette_result < 0) return palette_result;
    return read_rows(stream, header, *pixels);
}

}  // extern "C"
