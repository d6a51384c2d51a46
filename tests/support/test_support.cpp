#include "test_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace qtest {

temp_dir::temp_dir()
{
    std::string pattern = (fs::temp_directory_path() / "qelega-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

temp_dir::~temp_dir()
{
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

bytes read_file(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const fs::path &path, const bytes &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(content.data()),
              static_cast<std::streamsize>(content.size()));
}

std::map<std::string, bytes> folder_snapshot(const fs::path &folder)
{
    std::map<std::string, bytes> entries;
    for (const auto &entry : fs::directory_iterator(folder))
        entries[entry.path().filename()] = entry.is_directory() ? bytes{} : read_file(entry.path());
    return entries;
}

namespace {

// The child's side: wire the pipes to standard input and output, then exec.
[[noreturn]] void exec_child(int in_fd, int out_fd, const std::string &program,
                             const std::vector<std::string> &args, const fs::path &cwd,
                             void (*in_child)())
{
    dup2(in_fd, STDIN_FILENO);
    dup2(out_fd, STDOUT_FILENO);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    if (in_child != nullptr) in_child();
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execvp(program.c_str(), argv.data());
    _exit(127);
}

}  // namespace

run_result run(const std::string &program, const std::vector<std::string> &args,
               const std::string &input, const fs::path &cwd, void (*in_child)())
{
    // Input goes through a temporary file so that a program which never
    // reads it cannot block the writer.
    temp_dir scratch;
    const fs::path input_path = scratch / "stdin";
    write_file(input_path, bytes(input.begin(), input.end()));
    const int in_fd = open(input_path.c_str(), O_RDONLY | O_CLOEXEC);
    int out[2];
    if (in_fd < 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");

    const pid_t pid = fork();
    if (pid == 0) exec_child(in_fd, out[1], program, args, cwd, in_child);
    close(in_fd);
    close(out[1]);
    run_result result;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) result.out.append(buffer, n);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
}

bool have_program(const std::string &name)
{
    return std::system(("command -v '" + name + "' >/dev/null 2>&1").c_str()) == 0;
}

bool tools_required()
{
    const char *value = std::getenv("QELEGA_REQUIRE_TOOLS");
    return value != nullptr && std::string(value) == "1";
}

}  // namespace qtest
