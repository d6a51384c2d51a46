// read_bitmap on arbitrary bytes. The last input byte picks the call: with
// bits 0-1 at 0 read_bitmap reads the header and allocates; with bit 1 set it
// is handed the record as the bytes state it, never checked; with only bit 0
// the header is read first and buffers of exactly the size it states handed
// in. Bit 2 skips the palette. Bit 3 reads one row a call and bit 4 unpacks
// with the table code alone, the paths the library keeps beside its own. On success the buffers must reach as far as
// the record says (ASan watches the reads) and 1- and 4-bit pixels must be
// indices; on any path the caller frees what it holds and LeakSanitizer finds
// anything else left allocated.
#include <cstdio>
#include <cstdlib>

#include "bitmap.h"
#include "layout.h"
#include "test_switch.h"

using namespace bitmap_layout;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) return 0;
    const unsigned option = data[--size];
    test_switch::force.one_row_reads = (option & 8) != 0;
    test_switch::force.portable_unpack = (option & 16) != 0;
    // Readable claims above 1 MiB take the paths that smaller ones take, at a
    // hundred times the cost under ASan.
    const uint32_t width = size >= header_bytes ? get_le32(data + 18, nullptr) : 0;
    const uint32_t height = size >= header_bytes ? get_le32(data + 22, nullptr) : 0;
    const uint16_t bits = size >= header_bytes ? get_le16(data + 28, nullptr) : 0;
    if (readable_size(width, height, bits) &&
        uint64_t{width} * height * buffer_pixel_bytes(bits) > (1u << 20))
        return 0;
    FILE *stream = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (stream == nullptr) return 0;
    bitmap_header h{};
    palette_entry *palette = nullptr, **wanted = (option & 4) != 0 ? nullptr : &palette;
    uint8_t *pixels = nullptr;
    int result = -1;
    if ((option & 3) == 0) {
        result = read_bitmap(stream, &h, wanted, &pixels, 0);
    } else {
        const bool checked = read_bitmap_header(stream, &h) >= 0;
        if (checked && (option & 2) == 0) {
            pixels = static_cast<uint8_t *>(
                std::malloc(size_t{h.width} * h.height * buffer_pixel_bytes(h.bit_count)));
            palette = static_cast<palette_entry *>(
                std::malloc(entry_bytes * palette_entries(h.bit_count)));
        }
        if (checked || (option & 2) != 0) result = read_bitmap(stream, &h, wanted, &pixels, 1);
    }
    std::fclose(stream);
    if (result == 0) {  // the buffers reach as far as the record says
        const size_t pixel_bytes = size_t{h.width} * h.height * buffer_pixel_bytes(h.bit_count);
        const uint32_t entries = palette_entries(h.bit_count);
        [[maybe_unused]] volatile uint8_t last = pixel_bytes > 0 ? pixels[pixel_bytes - 1] : 0;
        if (wanted != nullptr && entries > 0) last = palette[entries - 1].reserved;
        for (size_t i = 0; h.bit_count < 8 && i < pixel_bytes; ++i)
            if (pixels[i] >> h.bit_count != 0) std::abort();  // not an index
    }
    std::free(palette);
    std::free(pixels);
    return 0;
}
