// read_bitmap_lenient on arbitrary bytes, read through a stream. The seeds are
// V3 files from our writer, so the last input byte first reshapes the rest into
// the forms other programs write: bit 0 asks for no palette, bit 1 negates the
// height (top-down rows), bit 2 grows the info header to V5, bit 3 adds 5-6-5
// bit fields. A picture that reads must have the record init_bitmap_header
// makes, a palette exactly when one was asked for and is due, and buffers as
// large as the record says, which writing it out reads through (ASan). Both
// buffers are freed on every path (LeakSanitizer).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) return 0;
    const unsigned option = data[size - 1];
    std::vector<uint8_t> file(data, data + size - 1);
    if (file.size() >= 54 && (option & 2) != 0) put_le32(&file[22], 0u - get_le32(&file[22], nullptr));
    if (file.size() >= 54 && (option & 12) != 0) {
        const uint32_t extra = (option & 4) != 0 ? 124 - 40 : 12, masks[] = {0xF800, 0x07E0, 0x001F};
        file.insert(file.begin() + 54, extra, 0);  // room for the masks after a V3 header, or a V5 one
        put_le32(&file[10], get_le32(&file[10], nullptr) + extra);
        if ((option & 4) != 0) put_le32(&file[14], 124);
        if ((option & 8) != 0) put_le32(&file[30], 3);
        for (int i = 0; i < 3 && (option & 8) != 0; ++i) put_le32(&file[54 + 4 * i], masks[i]);
    }
    FILE *stream = fmemopen(file.data(), file.size(), "rb");
    if (stream == nullptr) return 0;
    bitmap_header header{}, record{};
    palette_entry *palette = nullptr;
    uint8_t *pixels = nullptr;
    const int result = read_bitmap_lenient(stream, &header, (option & 1) != 0 ? nullptr : &palette, &pixels);
    std::fclose(stream);
    if (result != 0 && result != -1 && result != -2) std::abort();
    if (result == 0) {
        static FILE *sink = std::fopen("/dev/null", "wb");
        init_bitmap_header(&record, header.width, header.height, header.bit_count);
        const bool palette_due = (option & 1) == 0 && header.bit_count <= 8;
        if ((palette != nullptr) != palette_due || std::memcmp(&record, &header, sizeof record) != 0 ||
            write_bitmap(sink, &header, palette, pixels) != 0)
            std::abort();
    }
    std::free(palette);
    std::free(pixels);
    return 0;
}
