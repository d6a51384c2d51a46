// The module's entry points: the limits every file and patch is held to,
// the format a patch's first bytes name, and the CRC32 that BPS checks with.
#include "patches.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "patch_bytes.h"

namespace {

// The CRC32 remainder of each byte value, indexed by that value.
constexpr std::array<uint32_t, 256> crc_table = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < table.size(); ++i) {
        uint32_t remainder = i;
        for (int bit = 0; bit < 8; ++bit)
            remainder = (remainder & 1) != 0 ? 0xEDB88320u ^ remainder >> 1 : remainder >> 1;
        table[i] = remainder;
    }
    return table;
}();
static_assert(crc_table[1] == 0x77073096u && crc_table[255] == 0x2D02EF8Du);

template <size_t n>
bool starts_with(const uint8_t *bytes, size_t size, const uint8_t (&signature)[n])
{
    return size >= n && std::memcmp(bytes, signature, n) == 0;
}

int file_over_limit()
{
    std::printf("file is over %u MiB\n", unsigned{patch_file_limit >> 20});
    return patch_refused;
}

}  // namespace

bool same_bytes(const uint8_t *a, uint64_t a_size, const uint8_t *b, uint64_t b_size)
{
    return a_size == b_size && (a_size == 0 || std::memcmp(a, b, a_size) == 0);
}

uint32_t patch_crc32(const uint8_t *data, size_t size)
{
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i) crc = crc_table[(crc ^ data[i]) & 0xFF] ^ crc >> 8;
    return ~crc;
}

int patch_format_of(const uint8_t *patch, size_t patch_size)
{
    if (starts_with(patch, patch_size, bps_signature)) return patch_bps;
    if (starts_with(patch, patch_size, ips_signature)) return patch_ips;
    return -1;
}

int create_patch(patch_format format, const uint8_t *original, size_t original_size,
                 const uint8_t *edited, size_t edited_size, uint8_t **patch, size_t *patch_size)
{
    *patch = nullptr;
    *patch_size = 0;
    if (format != patch_bps && format != patch_ips) return refuse("unknown patch format");
    if (original_size > patch_file_limit || edited_size > patch_file_limit) return file_over_limit();
    patch_sink sink;
    const int made = format == patch_bps
                         ? create_bps(original, original_size, edited, edited_size, sink)
                         : create_ips(original, original_size, edited, edited_size, sink);
    if (made < 0) {
        std::free(sink.data);
        return made;
    }
    if (const int result = finish_patch(sink, patch, patch_size); result < 0) return result;
    return same_bytes(original, original_size, edited, edited_size) ? changes_nothing() : patch_done;
}

int apply_patch(const uint8_t *patch, size_t patch_size, const uint8_t *original,
                size_t original_size, uint8_t **result, size_t *result_size)
{
    *result = nullptr;
    *result_size = 0;
    if (patch_size > patch_size_limit) {
        std::printf("patch is over %u MiB\n", unsigned{patch_size_limit >> 20});
        return patch_refused;
    }
    if (original_size > patch_file_limit) return file_over_limit();
    switch (patch_format_of(patch, patch_size)) {
    case patch_bps: return apply_bps(patch, patch_size, original, original_size, result, result_size);
    case patch_ips: return apply_ips(patch, patch_size, original, original_size, result, result_size);
    default: return refuse("not a bps or ips patch");
    }
}
