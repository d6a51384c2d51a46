// Console and file helpers shared by the command-line programs: messages go
// to standard output as short lowercase phrases with the path in quotes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Reads exactly `size` bytes from the start of the file; a longer file is
// fine. 0, or -1 after printing "open error" or "read error".
int read_file(const char *path, uint8_t *destination, size_t size);

// Reads a whole file of at most `limit` bytes into a malloc'ed buffer, the
// caller's to free (never null, even for an empty file). 0, or -1 after
// printing "open error", "read error", "out of memory" or "file is over %u
// MiB" with the path, nothing kept.
int read_whole_file(const char *path, size_t limit, uint8_t **data, size_t *size);

// Replaces the file at `path` (or makes it) without ever leaving half of one:
// the bytes go into a new file beside it, which is renamed over it only once
// all is written, flushed and closed. A symbolic link keeps pointing to the
// file it names, which is replaced; the old file's permission bits carry
// over, and a new file gets 0666 less the umask. 0, or -1 after printing
// "open error" (no new file could be made, or what is there is not a regular
// file we may write) or "write error", with the old file as it was and the
// new one removed.
int replace_file(const char *path, const uint8_t *data, size_t size);

// Prints "QUESTION (Y or N): " and reads characters until y, Y, n or N.
// 1 for yes, 0 for no; end of input is a no, so the prompt never hangs.
int ask_yes_no(const char *question);

// 1 when nothing exists at the path, or the user agrees to replace it after
// "already exists"; 0 otherwise.
int may_replace(const char *path);

// An option that sets a flag when it is given; compared with the whole argument.
struct flag_option {
    const char *name;
    bool *flag;
    bool value;
};

// What a program tells about itself: "--version" prints the name and the
// project version, "--help" calls print_usage.
struct program_text {
    const char *name;
    void (*print_usage)();
};

// Scans the arguments after the program name: "--help" and "--version", then
// the options in table order for each argument that begins with "-", and as
// many file names as `paths` holds. Returns -1 when the run goes on, otherwise
// the status to exit with at once: 0 after "--version"; 1 after "--help",
// "unknown option '%s'" or "unneeded parameter '%s'".
int scan_arguments(char **argv, std::span<const flag_option> options, std::span<const char *> paths,
                   const program_text &program);
