// Console and file helpers shared by the command-line programs: messages go
// to standard output as short lowercase phrases with the path in quotes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Reads exactly `size` bytes from the start of the file; a longer file is
// fine. 0, or -1 after printing "open error" or "read error".
int read_file(const char *path, uint8_t *destination, size_t size);

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
// the options in table order for each argument that begins with "-", and up
// to two file names into `paths`. Returns -1 when the run goes on, otherwise
// the status to exit with at once: 0 after "--version"; 1 after "--help",
// "unknown option '%s'" or "unneeded parameter '%s'".
int scan_arguments(char **argv, std::span<const flag_option> options, const char *(&paths)[2],
                   const program_text &program);
