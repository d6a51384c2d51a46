// apply_patch on arbitrary bytes, applied to a fixed source as a patch of
// each format: the bytes as they are (the format told by their first bytes),
// after "PATCH" as IPS, and after "BPS1" as BPS with the source's CRC32 and
// the patch's own made right, so that the actions are reached (the input's
// last four bytes stand for the result's CRC32). A refusal hands out
// nothing; a result is as long as it says (ASan reads its last byte), and
// made into a patch of each format again, it must come back the same.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "patch_source.h"
#include "patches.h"

namespace {

using bytes = std::vector<uint8_t>;

void put_le32(bytes &b, uint32_t value)
{
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(value >> 8 * i));
}

// Results a tile file could be are made into patches again; bigger ones cost
// the fuzzer more than they teach it.
void round_trip(const bytes &source, const uint8_t *result, size_t size)
{
    for (patch_format format : {patch_bps, patch_ips}) {
        uint8_t *patch = nullptr, *again = nullptr;
        size_t patch_size = 0, again_size = 0;
        if (create_patch(format, source.data(), source.size(), result, size, &patch, &patch_size) < 0 ||
            apply_patch(patch, patch_size, source.data(), source.size(), &again, &again_size) < 0 ||
            again_size != size || (size > 0 && std::memcmp(again, result, size) != 0))
            std::abort();
        std::free(patch);
        std::free(again);
    }
}

void try_patch(const bytes &patch, const bytes &source)
{
    uint8_t *result = nullptr;
    size_t size = 0;
    if (apply_patch(patch.data(), patch.size(), source.data(), source.size(), &result, &size) < 0) {
        if (result != nullptr || size != 0) std::abort();
        return;
    }
    [[maybe_unused]] volatile uint8_t last = size > 0 ? result[size - 1] : 0;
    if (size <= 65536) round_trip(source, result, size);
    std::free(result);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bytes source = patch_fuzz_source();
    const bytes input(data, data + size);
    try_patch(input, source);

    bytes ips = {'P', 'A', 'T', 'C', 'H'};
    ips.insert(ips.end(), input.begin(), input.end());
    try_patch(ips, source);

    const size_t body = size >= 4 ? size - 4 : size;
    bytes bps = {'B', 'P', 'S', '1'};
    bps.insert(bps.end(), input.begin(), input.begin() + body);
    put_le32(bps, patch_crc32(source.data(), source.size()));
    bps.insert(bps.end(), input.begin() + body, input.end());
    bps.resize(bps.size() + (size >= 4 ? 0 : 4));
    put_le32(bps, patch_crc32(bps.data(), bps.size()));
    try_patch(bps, source);
    return 0;
}
