#include "console.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int read_file(const char *path, uint8_t *destination, size_t size)
{
    FILE *stream = std::fopen(path, "rb");
    if (stream == nullptr) {
        std::printf("open error '%s'\n", path);
        return -1;
    }
    int result = 0;
    if (std::fread(destination, size, 1, stream) != 1) {
        std::printf("read error '%s'\n", path);
        result = -1;
    }
    std::fclose(stream);
    return result;
}

int read_whole_file(const char *path, size_t limit, uint8_t **data, size_t *size)
{
    *data = nullptr;
    *size = 0;
    FILE *stream = std::fopen(path, "rb");
    if (stream == nullptr) {
        std::printf("open error '%s'\n", path);
        return -1;
    }
    // Blocks that double, up to one byte past the limit: a file too big is
    // told without reading it all.
    uint8_t *buffer = nullptr;
    size_t capacity = 0, got = 0, last = 1;
    bool no_memory = false;
    while (last > 0 && got <= limit) {
        if (got == capacity) {
            capacity = std::min(std::max(capacity * 2, size_t{1} << 16), limit + 1);
            auto *grown = static_cast<uint8_t *>(std::realloc(buffer, capacity));
            if ((no_memory = grown == nullptr)) break;
            buffer = grown;
        }
        last = std::fread(buffer + got, 1, capacity - got, stream);
        got += last;
    }
    const char *failure = no_memory ? "out of memory" : std::ferror(stream) ? "read error" : nullptr;
    std::fclose(stream);
    if (failure != nullptr) std::printf("%s '%s'\n", failure, path);
    else if (got > limit) std::printf("file is over %u MiB '%s'\n", unsigned(limit >> 20), path);
    if (failure != nullptr || got > limit) {
        std::free(buffer);
        return -1;
    }
    *data = buffer;
    *size = got;
    return 0;
}

namespace {

// The file that `path` names once its symbolic links are followed, into
// `file`; it may not exist yet. A loop of links ends on a link, which is not
// replaced. -1 when a name is longer than the system takes.
int linked_file(const char *path, char (&file)[PATH_MAX])
{
    if (std::strlen(path) >= sizeof file) return -1;
    std::strcpy(file, path);
    for (int hops = 0; hops < 40; ++hops) {  // as many as the system follows
        char target[PATH_MAX];
        const ssize_t length = readlink(file, target, sizeof target);
        if (length <= 0) break;  // not a link
        const char *slash = std::strrchr(file, '/');
        const size_t folder = target[0] == '/' || slash == nullptr ? 0 : slash + 1 - file;
        if (folder + length >= sizeof file) return -1;
        std::memcpy(file + folder, target, length);
        file[folder + length] = '\0';
    }
    return 0;
}

// The permission bits the new file gets: the old file's, or those of a fresh
// file. -1 when what is there may not be replaced: not a regular file, or
// one we may not write.
int replacement_mode(const char *file, mode_t &mode)
{
    struct stat status;
    if (lstat(file, &status) != 0) {
        const bool missing = errno == ENOENT;
        const mode_t mask = umask(0);  // only read: umask has no other way
        umask(mask);
        mode = 0666 & ~mask;
        return missing ? 0 : -1;
    }
    if (!S_ISREG(status.st_mode) || access(file, W_OK) != 0) return -1;
    mode = status.st_mode & 0777;
    return 0;
}

// A file being replaced, and the new file beside it: a rename within one
// folder is atomic.
struct replacement {
    char file[PATH_MAX];
    char temporary[PATH_MAX + 16];
    mode_t mode;
};

// Opens the new file; its descriptor, or -1.
int make_beside(const char *path, replacement &r)
{
    if (linked_file(path, r.file) < 0 || replacement_mode(r.file, r.mode) < 0) return -1;
    std::snprintf(r.temporary, sizeof r.temporary, "%s.new-XXXXXX", r.file);
    return mkostemp(r.temporary, O_CLOEXEC);
}

int write_all(int fd, const uint8_t *data, size_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return -1;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return 0;
}

}  // namespace

int replace_file(const char *path, const uint8_t *data, size_t size)
{
    replacement r;
    const int fd = make_beside(path, r);
    if (fd < 0) {
        std::printf("open error '%s'\n", path);
        return -1;
    }
    bool written = write_all(fd, data, size) == 0 && fchmod(fd, r.mode) == 0 && fsync(fd) == 0;
    written = close(fd) == 0 && written;
    if (written && std::rename(r.temporary, r.file) == 0) return 0;
    unlink(r.temporary);
    std::printf("write error '%s'\n", path);
    return -1;
}

int ask_yes_no(const char *question)
{
    std::printf("%s (Y or N): ", question);
    std::fflush(stdout);
    for (int c; (c = std::getchar()) != EOF;) {
        if (c == 'y' || c == 'Y') return 1;
        if (c == 'n' || c == 'N') return 0;
    }
    return 0;
}

int may_replace(const char *path)
{
    struct stat status;
    if (stat(path, &status) != 0) return 1;  // anything there, a folder too, needs a yes
    std::printf("already exists '%s'\n", path);
    return ask_yes_no("overwrite ?") > 0 ? 1 : 0;
}

namespace {

// True when `arg` is an option of the table, after setting its flag.
bool set_option(const char *arg, std::span<const flag_option> options)
{
    for (const flag_option &option : options)
        if (std::strcmp(arg, option.name) == 0) {
            *option.flag = option.value;
            return true;
        }
    return false;
}

}  // namespace

int scan_arguments(char **argv, std::span<const flag_option> options, std::span<const char *> paths,
                   const program_text &program)
{
    size_t positional = 0;
    for (char **arg = argv[0] != nullptr ? argv + 1 : argv; *arg != nullptr; ++arg) {
        const char *a = *arg;
        if (a[0] == '-') {
            if (std::strcmp(a, "--help") == 0) {
                program.print_usage();
                return 1;
            }
            if (std::strcmp(a, "--version") == 0) {
                std::printf("%s %s\n", program.name, QELEGA_VERSION);
                return 0;
            }
            if (!set_option(a, options)) {
                std::printf("unknown option '%s'\n", a);
                return 1;
            }
        } else if (positional == paths.size()) {
            std::printf("unneeded parameter '%s'\n", a);
            return 1;
        } else {
            paths[positional++] = a;
        }
    }
    return -1;
}
