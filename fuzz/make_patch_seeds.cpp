// Seed inputs for patch_fuzz: patches of both formats from our own encoder,
// from its fixed source to a few edits of it, each written as patch_fuzz
// takes it: an IPS patch without "PATCH", a BPS patch without "BPS1" and
// without the CRC32s that patch_fuzz makes right, its result's CRC32 last.
//   make_patch_seeds FOLDER
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "patch_source.h"
#include "patches.h"

namespace {

using bytes = std::vector<uint8_t>;

// Edits of the source: a changed byte, a block moved, a run, shorter, longer.
std::vector<bytes> edits(const bytes &source)
{
    bytes changed = source, moved = source, run = source, shorter = source, longer = source;
    changed[17] ^= 0x40;
    std::rotate(moved.begin() + 20, moved.begin() + 60, moved.begin() + 120);
    std::fill_n(run.begin() + 100, 40, 9);
    shorter.resize(150);
    longer.insert(longer.end(), source.begin(), source.begin() + 80);
    return {changed, moved, run, shorter, longer};
}

bool write_seed(const std::string &path, const uint8_t *data, size_t size)
{
    FILE *stream = std::fopen(path.c_str(), "wb");
    if (stream == nullptr) return false;
    const bool written = size == 0 || std::fwrite(data, size, 1, stream) == 1;
    return std::fclose(stream) == 0 && written;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::printf("usage: make_patch_seeds FOLDER\n");
        return 1;
    }
    std::filesystem::create_directories(argv[1]);
    const bytes source = patch_fuzz_source();
    int n = 0;
    for (const bytes &edited : edits(source))
        for (patch_format format : {patch_bps, patch_ips}) {
            uint8_t *patch = nullptr;
            size_t size = 0;
            if (create_patch(format, source.data(), source.size(), edited.data(), edited.size(), &patch, &size) < 0)
                return 1;
            bytes seed(patch + (format == patch_bps ? 4 : 5), patch + size);
            if (format == patch_bps) {  // keep the result's CRC32, drop the other two
                seed.erase(seed.end() - 12, seed.end() - 8);
                seed.resize(seed.size() - 4);
            }
            std::free(patch);
            const std::string path = std::string(argv[1]) + "/" + std::to_string(n++);
            if (!write_seed(path, seed.data(), seed.size())) {
                std::printf("can't write '%s'\n", path.c_str());
                return 1;
            }
        }
    return 0;
}
