// read_bitmap_lenient on arbitrary bytes, read through a stream. The seeds are
// V3 files from our writer, so the last input byte reshapes the rest before
// reading, to start the search from the forms other programs write: bit 0
// asks for no palette, bit 1 negates the height (top-down rows), bit 2 grows
// the info header to V5, bit 3 adds 5-6-5 bit fields. A picture that reads
// must be a consistent one: the writer writes it and the strict reader reads
// the same pixels back.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bitmap.h"

namespace {

constexpr unsigned no_palette = 1, top_down = 2, v5_header = 4, bit_fields = 8;
constexpr size_t info_start = 14, info_end = 54;

using bytes = std::vector<uint8_t>;

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

// Inserts `extra` bytes after the V3 info header and moves the data offset on.
void grow_headers(bytes &file, size_t extra)
{
    file.insert(file.begin() + info_end, extra, 0);
    put_le32(file.data() + 10, get_le32(file.data() + 10, nullptr) + static_cast<uint32_t>(extra));
}

bytes reshape(const uint8_t *data, size_t size, unsigned option)
{
    bytes file(data, data + size);
    if (file.size() < info_end) return file;
    if ((option & top_down) != 0)
        put_le32(file.data() + 22, 0u - get_le32(file.data() + 22, nullptr));
    if ((option & (v5_header | bit_fields)) == 0) return file;
    grow_headers(file, (option & v5_header) != 0 ? 124 - 40 : 12);
    if ((option & v5_header) != 0) put_le32(file.data() + info_start, 124);
    if ((option & bit_fields) != 0) {
        put_le32(file.data() + 30, 3);
        put_le32(file.data() + info_end, 0xF800);
        put_le32(file.data() + info_end + 4, 0x07E0);
        put_le32(file.data() + info_end + 8, 0x001F);
    }
    return file;
}

size_t pixel_bytes(const bitmap_header &h)
{
    return size_t{h.width} * h.height * ((h.bit_count + 7u) / 8);
}

void check_picture(const bitmap_header &read, const buffers &b, bool palette_wanted)
{
    const bool indexed = read.bit_count <= 8;
    if ((b.palette != nullptr) != (palette_wanted && indexed)) std::abort();
    char *file = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&file, &size);
    if (write_bitmap(out, &read, b.palette, b.pixels) != 0) std::abort();
    std::fclose(out);
    FILE *in = fmemopen(file, size, "rb");
    bitmap_header again_header;
    buffers again;
    const int result = read_bitmap(in, &again_header, nullptr, &again.pixels, 0);
    std::fclose(in);
    std::free(file);
    if (result != 0 || std::memcmp(b.pixels, again.pixels, pixel_bytes(read)) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) return 0;
    const unsigned option = data[size - 1];
    bytes file = reshape(data, size - 1, option);
    FILE *stream = fmemopen(file.data(), file.size(), "rb");
    if (stream == nullptr) return 0;
    bitmap_header header{};
    buffers b;
    const bool palette_wanted = (option & no_palette) == 0;
    const int result =
        read_bitmap_lenient(stream, &header, palette_wanted ? &b.palette : nullptr, &b.pixels);
    std::fclose(stream);
    if (result != 0 && result != -1 && result != -2) std::abort();
    if (result == 0) check_picture(header, b, palette_wanted);
    return 0;
}
