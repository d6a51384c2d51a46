// qelega_patch end to end, and the replacement of files it shares with
// qelega_pack: exact lines and statuses, the files each run leaves, and the
// old file kept through a full disk and through a run killed halfway.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <map>
#include <random>

#include "bitmap.h"
#include "patches.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using qtest::bytes;

const std::string usage =
    "usage: qelega_patch [options] ORIGINAL EDITED PATCH\n"
    "       qelega_patch --apply PATCH ORIGINAL OUTPUT\n"
    "option: --ips      write an IPS patch (BPS otherwise)\n"
    "        --apply    apply PATCH to ORIGINAL, writing OUTPUT\n";


std::string crc(const bytes &b)
{
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", patch_crc32(b.data(), b.size()));
    return digits;
}

const bytes original = [] {
    std::mt19937 random(20);
    bytes b(65536);
    for (uint8_t &byte : b) byte = static_cast<uint8_t>(random());
    return b;
}();
const bytes edited = [] {
    bytes b = original;
    std::fill_n(b.begin() + 128 * 9, 128, 0x77);  // one tile filled
    return b;
}();
const bytes old_content{'o', 'l', 'd'};

class patch_cli : public testing::Test {
protected:
    void SetUp() override
    {
        const std::map<std::string, bytes> files = {
            {"orig.16", original}, {"copy.16", original}, {"edited.16", edited}, {"old.bin", old_content}};
        for (const auto &[name, content] : files) qtest::write_file(dir / name, content);
        fs::create_directory(dir / "folder");
    }

    // Every file in the folder with its content; a folder maps to nothing.
    std::map<std::string, bytes> snapshot() const { return qtest::folder_snapshot(dir.path()); }

    qtest::run_result run(const std::string &program, const std::vector<std::string> &args,
                          const std::string &input = {}, void (*in_child)() = nullptr)
    {
        return qtest::run(program, args, input, dir.path(), in_child);
    }

    qtest::temp_dir dir;
};

// One run after another, each with its lines, its status and the one file it
// may write; every other file stays as it was.
TEST_F(patch_cli, lines_statuses_and_files_left)
{
    struct row {
        std::vector<std::string> args;
        std::string input = {}, out = {};
        int status = 1;
        std::string written = {};
        const bytes *content = nullptr;  // what the written file must hold, when known
    };
    const std::string apply_error = "apply patch error 'new.bps'\n";
    const row rows[] = {
        {.args = {}, .out = "no original file\n"},
        {.args = {"a"}, .out = "no edited file\n"},
        {.args = {"a", "b"}, .out = "no patch file\n"},
        {.args = {"--apply"}, .out = "no patch file\n"},
        {.args = {"p", "--apply", "o"}, .out = "no output file\n"},
        {.args = {"a", "b", "c", "d"}, .out = "unneeded parameter 'd'\n"},
        {.args = {"--bps"}, .out = "unknown option '--bps'\n"},
        {.args = {"a", "--help"}, .out = usage},
        {.args = {"--version"}, .out = "qelega_patch 1.0.0\n", .status = 0},
        {.args = {"none", "edited.16", "new.bps"}, .out = "open error 'none'\nread original file error 'none'\n"},
        {.args = {"orig.16", "folder", "new.bps"}, .out = "read error 'folder'\nread edited file error 'folder'\n"},
        {.args = {"orig.16", "edited.16", "new.bps"}, .status = 0, .written = "new.bps"},
        {.args = {"--apply", "new.bps", "orig.16", "out.16"}, .status = 0, .written = "out.16", .content = &edited},
        {.args = {"--ips", "orig.16", "edited.16", "new.ips"}, .status = 0, .written = "new.ips"},
        {.args = {"new.ips", "orig.16", "--apply", "--ips", "ips.16"}, .status = 0, .written = "ips.16", .content = &edited},
        {.args = {"orig.16", "orig.16", "same.bps"}, .out = "patch changes nothing\n", .status = 0, .written = "same.bps"},
        {.args = {"--apply", "same.bps", "orig.16", "same.16"}, .out = "patch changes nothing\n", .status = 0,
         .written = "same.16", .content = &original},
        {.args = {"--apply", "new.bps", "edited.16", "x"}, .out = "file is already patched\n" + apply_error},
        {.args = {"--apply", "new.bps", "old.bin", "x"},
         .out = "wrong file: patch wants 65536 bytes with crc32 " + crc(original) + ", found 3 bytes with crc32 " +
                crc(old_content) + "\n" + apply_error},
        {.args = {"--apply", "orig.16", "orig.16", "x"}, .out = "not a bps or ips patch\napply patch error 'orig.16'\n"},
        {.args = {"--apply", "new.bps", "orig.16", "old.bin"}, .input = "x\nn",
         .out = qtest::overwrite_prompt("old.bin") + "write output file error 'old.bin'\n"},
        {.args = {"orig.16", "edited.16", "folder"}, .input = "y",
         .out = qtest::overwrite_prompt("folder") + "open error 'folder'\nwrite patch file error 'folder'\n"},
        {.args = {"--apply", "new.bps", "copy.16", "copy.16"}, .input = "y", .out = qtest::overwrite_prompt("copy.16"),
         .status = 0, .written = "copy.16", .content = &edited},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.args));
        auto want = snapshot();
        const qtest::run_result got = run(QELEGA_PATCH_PATH, r.args, r.input);
        EXPECT_EQ(std::pair(got.status, got.out), std::pair(r.status, r.out));
        if (!r.written.empty()) {
            ASSERT_TRUE(fs::exists(dir / r.written));
            want[r.written] = r.content != nullptr ? *r.content : qtest::read_file(dir / r.written);
        }
        EXPECT_TRUE(snapshot() == want) << "files differ from what they should be";
    }
    qtest::write_file(dir / "big.bps", {});
    fs::resize_file(dir / "big.bps", (16 << 20) + 1);
    const qtest::run_result big = run(QELEGA_PATCH_PATH, {"--apply", "big.bps", "orig.16", "x"});
    EXPECT_EQ(std::pair(big.status, big.out),
              std::pair(1, std::string("file is over 16 MiB 'big.bps'\nread patch file error 'big.bps'\n")));
    EXPECT_FALSE(fs::exists(dir / "x"));
}

// Writes of more than 4 KiB fail as on a full disk, or kill the program.
void full_disk()
{
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, SIG_IGN);
}

void killed_when_full()
{
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, SIG_DFL);
}

// Both programs that replace a file: the old one survives a full disk with
// nothing left beside it, and survives a run killed halfway, which may leave
// its new file beside it (and nothing else).
TEST_F(patch_cli, a_failed_or_killed_run_leaves_the_old_file)
{
    FILE *sheet = std::fopen((dir / "sheet.bmp").c_str(), "wb");
    bitmap_header header;
    const palette_entry palette[16] = {};
    const bytes pixels(256 * 512, 0);
    ASSERT_EQ(init_bitmap_header(&header, 256, 512, 4), 0);
    ASSERT_EQ(write_bitmap(sheet, &header, palette, pixels.data()), 0);
    std::fclose(sheet);
    ASSERT_EQ(run(QELEGA_PATCH_PATH, {"orig.16", "edited.16", "new.bps"}).status, 0);
    const struct {
        std::string program;
        std::vector<std::string> args;
        std::string role;
    } programs[] = {
        {QELEGA_PATCH_PATH, {"--apply", "new.bps", "orig.16", "old.bin"}, "output"},
        {QELEGA_PACK_PATH, {"sheet.bmp", "old.bin"}, "tiles"},
    };
    for (const auto &p : programs) {
        SCOPED_TRACE(p.program);
        const auto before = snapshot();
        const qtest::run_result full = run(p.program, p.args, "y", full_disk);
        EXPECT_EQ(std::pair(full.status, full.out),
                  std::pair(1, qtest::overwrite_prompt("old.bin") + "write error 'old.bin'\nwrite " + p.role + " file error 'old.bin'\n"));
        EXPECT_TRUE(snapshot() == before) << "the old file as it was, nothing beside it";

        const qtest::run_result killed = run(p.program, p.args, "y", killed_when_full);
        EXPECT_EQ(std::pair(killed.signal, killed.out), std::pair(SIGXFSZ, qtest::overwrite_prompt("old.bin")));
        auto after = snapshot();
        for (auto file = after.begin(); file != after.end();)
            file = file->first.starts_with("old.bin.new-") && file->second.size() == 4096 ? after.erase(file) : ++file;
        EXPECT_TRUE(after == before) << "the old file as it was, at most a new file of 4 KiB beside it";
        for (const auto &entry : fs::directory_iterator(dir.path()))
            if (entry.path().filename().string().starts_with("old.bin.new-")) fs::remove(entry.path());
    }
}

// A link keeps pointing where it did and the file it names is replaced with
// its permission bits; a new file gets 0666 less the umask.
TEST_F(patch_cli, links_and_permission_bits_are_kept)
{
    ASSERT_EQ(run(QELEGA_PATCH_PATH, {"orig.16", "edited.16", "new.bps"}).status, 0);
    fs::create_directory(dir / "real");
    qtest::write_file(dir / "real" / "tiles.16", old_content);
    fs::permissions(dir / "real" / "tiles.16", fs::perms(0640));
    fs::create_symlink("real/tiles.16", dir / "link.16");
    const std::vector<std::string> args{"--apply", "new.bps", "orig.16", "link.16"};
    EXPECT_EQ(run(QELEGA_PATCH_PATH, args, "y").status, 0);
    EXPECT_EQ(fs::read_symlink(dir / "link.16"), "real/tiles.16");
    EXPECT_EQ(qtest::read_file(dir / "real" / "tiles.16"), edited);
    EXPECT_EQ(fs::status(dir / "real" / "tiles.16").permissions(), fs::perms(0640));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "real"), {}), 1) << "nothing left beside it";

    const auto umask_027 = [] { umask(027); };
    EXPECT_EQ(run(QELEGA_PATCH_PATH, {"--apply", "new.bps", "orig.16", "fresh.16"}, "", umask_027).status, 0);
    EXPECT_EQ(fs::status(dir / "fresh.16").permissions(), fs::perms(0640));
}

}  // namespace
