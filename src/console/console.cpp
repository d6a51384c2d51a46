#include "console.h"

#include <sys/stat.h>

#include <cstdio>
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

int scan_arguments(char **argv, std::span<const flag_option> options, const char *(&paths)[2],
                   const program_text &program)
{
    int positional = 0;
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
        } else if (positional == 2) {
            std::printf("unneeded parameter '%s'\n", a);
            return 1;
        } else {
            paths[positional++] = a;
        }
    }
    return -1;
}
