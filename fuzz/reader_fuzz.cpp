// read_bitmap on arbitrary bytes, read through a stream. The last input byte
// picks the call: in bits 0-1, 0 lets read_bitmap read the header and
// allocate, 1 reads the header first and hands in buffers of exactly the size
// it gives, 2 hands in the record as the bytes state it, never checked; bit 2
// skips the palette. A picture that reads whole must come back the same
// through the writer.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap.h"
#include "layout.h"

using namespace bitmap_layout;

namespace {

enum call { read_whole = 0, own_buffers = 1, unchecked_record = 2 };
constexpr unsigned skip_palette = 4;

// Claims between this and the reader's limit are passed over: they take the
// paths that smaller claims take, and ASan would fill shadow memory for each
// buffer, a hundred times the cost of an ordinary input.
constexpr uint64_t largest_claim_run = uint64_t{1} << 20;

uint64_t pixel_bytes(const bitmap_header &h)
{
    return uint64_t{h.width} * h.height * buffer_pixel_bytes(h.bit_count);
}

size_t palette_bytes(const bitmap_header &h) { return entry_bytes * palette_entries(h.bit_count); }

// The record as the 54 header bytes state it: no magic test, no check.
bitmap_header stated_record(const uint8_t *data, size_t size)
{
    bitmap_header header{};
    if (size < header_bytes) return header;
    const uint8_t *p = data + 2;
    for_each_field(header, [&p](auto &field) {
        if constexpr (sizeof field == 4)
            field = get_le32(p, &p);
        else
            field = get_le16(p, &p);
    });
    return header;
}

struct buffers {
    palette_entry *palette = nullptr;
    uint8_t *pixels = nullptr;
    buffers() = default;
    buffers(const buffers &) = delete;
    buffers &operator=(const buffers &) = delete;
    ~buffers()
    {
        std::free(palette);
        std::free(pixels);
    }
};

int read_as(FILE *stream, unsigned option, bitmap_header &header, buffers &b)
{
    palette_entry **palette = (option & skip_palette) != 0 ? nullptr : &b.palette;
    switch (option & 3) {
        case own_buffers:
            if (read_bitmap_header(stream, &header) < 0) return -1;
            b.pixels = static_cast<uint8_t *>(std::malloc(pixel_bytes(header)));
            b.palette = static_cast<palette_entry *>(std::malloc(palette_bytes(header)));
            return read_bitmap(stream, &header, palette, &b.pixels, 1);
        case unchecked_record:
            std::fseek(stream, header_bytes, SEEK_SET);
            return read_bitmap(stream, &header, palette, &b.pixels, 1);
        default:
            return read_bitmap(stream, &header, palette, &b.pixels, 0);
    }
}

// Writes the picture again and reads it back; any difference is a fault.
// Pictures of no bytes are left out: their rows could be many and empty.
void check_round_trip(const bitmap_header &read, const buffers &b, bool have_palette)
{
    bitmap_header header;
    if (pixel_bytes(read) == 0) return;
    if (init_bitmap_header(&header, read.width, read.height, read.bit_count) != 0) std::abort();
    char *file = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&file, &size);
    write_bitmap(out, &header, have_palette ? b.palette : nullptr, b.pixels);
    std::fclose(out);
    FILE *in = fmemopen(file, size, "rb");
    buffers again;
    const int result = read_bitmap(in, &header, &again.palette, &again.pixels, 0);
    std::fclose(in);
    std::free(file);
    if (result != 0 || std::memcmp(b.pixels, again.pixels, pixel_bytes(header)) != 0) std::abort();
    if (have_palette && std::memcmp(b.palette, again.palette, palette_bytes(header)) != 0)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) return 0;
    const unsigned option = data[size - 1];
    bitmap_header header = stated_record(data, size - 1);
    if (readable_size(header.width, header.height, header.bit_count) &&
        pixel_bytes(header) > largest_claim_run)
        return 0;
    FILE *stream = fmemopen(const_cast<uint8_t *>(data), size - 1, "rb");
    if (stream == nullptr) return 0;
    buffers b;
    const int result = read_as(stream, option, header, b);
    std::fclose(stream);
    if (result == 0)
        check_round_trip(header, b, (option & skip_palette) == 0 && palette_bytes(header) > 0);
    return 0;
}
