#include "console.h"

#include <sys/stat.h>

#include <cstdio>

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
