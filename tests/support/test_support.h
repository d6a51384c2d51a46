// Helpers shared by the tests: temporary folders, whole-file I/O, and running
// programs with arguments and standard input.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace qtest {

namespace fs = std::filesystem;
using bytes = std::vector<uint8_t>;

// A fresh folder under the system's temporary folder, removed with the object.
class temp_dir {
public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir &) = delete;
    temp_dir &operator=(const temp_dir &) = delete;
    const fs::path &path() const { return path_; }
    fs::path operator/(const std::string &name) const { return path_ / name; }

private:
    fs::path path_;
};

bytes read_file(const fs::path &path);
void write_file(const fs::path &path, const bytes &content);

// Every entry of a folder by name, with a file's content; a folder maps to
// nothing. Two snapshots compare equal when a run left the folder as it was.
std::map<std::string, bytes> folder_snapshot(const fs::path &folder);

struct run_result {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    int signal = 0;   // the signal that ended it, if one did
    std::string out;  // everything written to standard output
};

// Runs a program with its standard input fed from `input` (then closed) and
// its standard output captured; standard error is left alone. `cwd` empty
// keeps the current folder. `in_child`, when given, runs in the child just
// before the program starts, to set its limits or signals.
run_result run(const std::string &program, const std::vector<std::string> &args,
               const std::string &input = {}, const fs::path &cwd = {},
               void (*in_child)() = nullptr);

// ImageMagick's convert under its Debian name: a plain "convert" earlier on
// PATH may be something else.
inline const std::string imagemagick_convert = "convert-im6.q16";

// What the programs print before they replace a file: "already exists 'PATH'"
// and the overwrite question.
inline std::string overwrite_prompt(const std::string &path)
{
    return "already exists '" + path + "'\noverwrite ? (Y or N): ";
}

// Whether a program of this name is on PATH.
bool have_program(const std::string &name);

// Interop tools may be absent on a developer's machine; CI installs them and
// sets QELEGA_REQUIRE_TOOLS=1 so that a missing one fails instead of skipping.
bool tools_required();

}  // namespace qtest

// Skips the test when an outside program is missing, unless CI requires it.
#define QTEST_REQUIRE_PROGRAM(name)                                                   \
    do {                                                                              \
        if (!qtest::have_program(name)) {                                             \
            if (qtest::tools_required()) FAIL() << "required program missing: " << name; \
            GTEST_SKIP() << "program not installed: " << name;                       \
        }                                                                             \
    } while (0)
