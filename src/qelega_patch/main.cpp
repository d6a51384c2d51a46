// qelega_patch: makes the BPS or IPS patch that turns an original tile file
// into an edited one, or applies such a patch, so that a modder can share an
// edit without sharing the game's own pictures. The formats live in the
// patches module, which prints the reasons for what it refuses.
#include <cstdio>
#include <cstdlib>

#include "console.h"
#include "patches.h"

namespace {

// What the three file names stand for, in command-line order.
constexpr const char *make_roles[3] = {"original", "edited", "patch"};
constexpr const char *apply_roles[3] = {"patch", "original", "output"};

struct run_settings {
    const char *paths[3] = {nullptr, nullptr, nullptr};
    bool ips = false, apply = false;
    const char *const *roles() const { return apply ? apply_roles : make_roles; }
};

// A whole file's bytes, from read_whole_file or the patches module; ours to free.
struct file_bytes {
    uint8_t *data = nullptr;
    size_t size = 0;
    file_bytes() = default;
    file_bytes(const file_bytes &) = delete;
    file_bytes &operator=(const file_bytes &) = delete;
    ~file_bytes() { std::free(data); }
};

void print_usage()
{
    std::printf("usage: qelega_patch [options] ORIGINAL EDITED PATCH\n"
                "       qelega_patch --apply PATCH ORIGINAL OUTPUT\n"
                "option: --ips      write an IPS patch (BPS otherwise)\n"
                "        --apply    apply PATCH to ORIGINAL, writing OUTPUT\n");
}

int read_input(const run_settings &settings, int index, size_t limit, file_bytes &file)
{
    const char *path = settings.paths[index];
    if (read_whole_file(path, limit, &file.data, &file.size) == 0) return 0;
    std::printf("read %s file error '%s'\n", settings.roles()[index], path);
    return -1;
}

// The last file name is the one written; the exit status.
int write_output(const run_settings &settings, const file_bytes &file)
{
    const char *path = settings.paths[2];
    if (may_replace(path) != 0 && replace_file(path, file.data, file.size) == 0) return 0;
    std::printf("write %s file error '%s'\n", settings.roles()[2], path);
    return 1;
}

int make(const run_settings &settings)
{
    file_bytes original, edited, patch;
    if (read_input(settings, 0, patch_file_limit, original) < 0 ||
        read_input(settings, 1, patch_file_limit, edited) < 0)
        return 1;
    if (create_patch(settings.ips ? patch_ips : patch_bps, original.data, original.size, edited.data,
                     edited.size, &patch.data, &patch.size) < 0) {
        std::printf("make patch error '%s'\n", settings.paths[2]);
        return 1;
    }
    return write_output(settings, patch);
}

int apply(const run_settings &settings)
{
    file_bytes patch, original, result;
    if (read_input(settings, 0, patch_size_limit, patch) < 0 ||
        read_input(settings, 1, patch_file_limit, original) < 0)
        return 1;
    if (apply_patch(patch.data, patch.size, original.data, original.size, &result.data,
                    &result.size) < 0) {
        std::printf("apply patch error '%s'\n", settings.paths[0]);
        return 1;
    }
    return write_output(settings, result);
}

}  // namespace

int main(int, char **argv)
{
    run_settings settings;
    const flag_option options[] = {{"--ips", &settings.ips, true}, {"--apply", &settings.apply, true}};
    const program_text program = {"qelega_patch", print_usage};
    if (const int status = scan_arguments(argv, options, settings.paths, program); status >= 0)
        return status;
    for (int i = 0; i < 3; ++i)
        if (settings.paths[i] == nullptr) {
            std::printf("no %s file\n", settings.roles()[i]);
            return 1;
        }
    return settings.apply ? apply(settings) : make(settings);
}
