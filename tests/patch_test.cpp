// The patches module: its numbers and CRC32 against their published
// encodings, hand-made patches decoded as the formats describe them, round
// trips over edited tile files, and each refusal with its line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "patch_bytes.h"
#include "patches.h"

namespace {

using bytes = std::vector<uint8_t>;

bytes text(const std::string &s) { return bytes(s.begin(), s.end()); }

bytes random_bytes(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    bytes b(size);
    for (uint8_t &byte : b) byte = static_cast<uint8_t>(random());
    return b;
}

bytes operator+(bytes a, const bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
uint32_t crc(const bytes &b) { return patch_crc32(b.data(), b.size()); }

// A BPS patch of the listed bytes, closed with the CRC32s of the two files and of itself.
bytes bps(const bytes &body, const bytes &original, const bytes &result)
{
    const bytes patch = body + le32(crc(original)) + le32(crc(result));
    return patch + le32(crc(patch));
}

bytes number(uint64_t value)
{
    patch_sink sink;
    put_number(sink, value);
    const bytes b(sink.data, sink.data + sink.size);
    std::free(sink.data);
    return b;
}

std::string hex(uint32_t value)
{
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", value);
    return digits;
}

// What a call returned, made and printed.
struct outcome {
    int result;
    bytes made;
    std::string out;
};

// Runs `call` with a place for the buffer it makes; a refusal must hand out nothing.
template <class Call>
outcome capture(Call call)
{
    uint8_t *made = nullptr;
    size_t size = 1;
    testing::internal::CaptureStdout();
    const int result = call(&made, &size);
    outcome o{result, made != nullptr ? bytes(made, made + size) : bytes{}, testing::internal::GetCapturedStdout()};
    EXPECT_TRUE(result >= 0 || (made == nullptr && size == 0)) << "a refusal hands out nothing";
    std::free(made);
    return o;
}

outcome applying(const bytes &patch, const bytes &original)
{
    return capture([&](uint8_t **made, size_t *size) {
        return apply_patch(patch.data(), patch.size(), original.data(), original.size(), made, size);
    });
}

outcome making(patch_format format, const bytes &original, const bytes &edited)
{
    return capture([&](uint8_t **made, size_t *size) {
        return create_patch(format, original.data(), original.size(), edited.data(), edited.size(), made, size);
    });
}

TEST(patches, numbers_have_one_encoding_each_and_stop_at_32_bits)
{
    const struct {
        uint64_t value;
        bytes encoded;
    } numbers[] = {
        {0, {0x80}}, {127, {0xFF}}, {128, {0x00, 0x80}}, {16511, {0x7F, 0xFF}},
        {16512, {0x00, 0x00, 0x80}}, {UINT32_MAX, {0x7F, 0x7E, 0x7E, 0x7E, 0x8E}},
    };
    for (const auto &n : numbers) {
        EXPECT_EQ(number(n.value), n.encoded) << n.value;
        patch_cursor cursor{n.encoded.data(), n.encoded.size()};
        uint64_t value = 0;
        EXPECT_EQ(take_number(cursor, &value), 0);
        EXPECT_EQ(std::pair(value, cursor.left()), std::pair(n.value, uint64_t{0}));
    }
    const struct {
        bytes encoded;
        std::string out;
    } refused[] = {
        {{0x00, 0x7F, 0x7E, 0x7E, 0x8E}, "patch has a number over 32 bits\n"},  // 2^32
        {bytes(64, 0x00), "patch has a number over 32 bits\n"},               // never ends
        {{0x00, 0x00}, "patch is cut short\n"},
    };
    for (const auto &r : refused) {
        patch_cursor cursor{r.encoded.data(), r.encoded.size()};
        uint64_t value = 0;
        testing::internal::CaptureStdout();
        EXPECT_LT(take_number(cursor, &value), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), r.out);
    }
    EXPECT_EQ(crc(text("123456789")), 0xCBF43926u);  // the CRC32 check value
}

const bytes letters = text("ABCDEFGH");

// Each action as BPS describes it: relative offsets with the sign in the low
// bit, a TargetCopy overlapping what it writes, metadata skipped.
const bytes hand_made_bps = bps({'B', 'P', 'S', '1', 0x88, 0x8F, 0x83, 'm', 'e', 't',  // 8 to 15 bytes
                                 0x84,                 // SourceRead 2: AB
                                 0x89, 'x', 'y', 'z',  // TargetRead 3
                                 0x86, 0x8C,           // SourceCopy 2 from +6: GH
                                 0x86, 0x91,           // SourceCopy 2 from -8: AB
                                 0x8F, 0x90,           // TargetCopy 4 from +8, overlapping: BBBB
                                 0x87, 0x95},          // TargetCopy 2 from -10: xy
                                letters, text("ABxyzGHABBBBBxy"));

TEST(patches, hand_made_patches_use_every_action_and_record)
{
    const bytes digits = text("0123456789abcdef");
    const bytes ips = text("PATCH") + bytes{0, 0, 2, 0, 3, 'x', 'y', 'z',  // 3 bytes at 2
                                            0, 0, 8, 0, 0, 0, 4, 'R',      // a run of 4 at 8
                                            0, 0, 20, 0, 2, 'a', 'b'} +    // past the end
                      text("EOF");
    const bytes ips_result = text("01xyz567RRRRcdef") + bytes(4, 0) + text("ab");
    // A record just before the offset that reads "EOF".
    const bytes zeros(0x454F48, 0), near_eof = text("PATCH") + bytes{0x45, 0x4F, 0x45, 0, 3, 1, 2, 3} + text("EOF");
    bytes near_eof_result = zeros;
    std::copy_n(bytes{1, 2, 3}.begin(), 3, near_eof_result.end() - 3);
    const struct {
        const bytes &patch, &original;
        bytes result;
    } cases[] = {
        {hand_made_bps, letters, text("ABxyzGHABBBBBxy")},
        {ips, digits, ips_result},
        {ips + bytes{0, 0, 10}, digits, text("01xyz567RR")},  // cut after "EOF"
        {near_eof, zeros, near_eof_result},
    };
    for (const auto &c : cases) {
        const outcome o = applying(c.patch, c.original);
        EXPECT_EQ(std::pair(o.result, o.out), std::pair(patch_done, std::string()));
        EXPECT_TRUE(o.made == c.result);
    }
}

// Edits a modder makes to an EGA tile file of 512 tiles of 128 bytes.
constexpr size_t tile = 128;
const bytes tiles = random_bytes(512 * tile, 16);

struct edit_case {
    const char *name;
    bytes edited;
    size_t bps_under = 0, ips_under = 0;  // a patch size promised, where there is one
};

bytes edited(void (*edit)(bytes &))
{
    bytes b = tiles;
    edit(b);
    return b;
}

const edit_case edits[] = {
    {"pixels", edited([](bytes &b) { b[5] ^= 0x10, b[30000] ^= 0x01, b[65535] ^= 0x30; })},
    {"one tile", edited([](bytes &b) { std::ranges::copy(random_bytes(tile, 1), b.begin() + 77 * tile); }), 200},
    {"swapped tiles", edited([](bytes &b) {
         std::swap_ranges(b.begin() + 3 * tile, b.begin() + 4 * tile, b.begin() + 300 * tile); }), tile},
    {"filled tile", edited([](bytes &b) { std::fill_n(b.begin() + 40 * tile, tile, 0x99); }), 64, 64},
    {"everything", random_bytes(tiles.size(), 2)},
    {"shorter", edited([](bytes &b) { b.resize(b.size() / 2); }), 64, 64},
    {"longer", tiles + random_bytes(1000, 3)},
};

// Applied to the original, each patch makes the edited file; applied to the
// edited file, it finds it already patched.
TEST(patches, round_trips_over_edited_tile_files)
{
    for (const edit_case &e : edits)
        for (patch_format format : {patch_bps, patch_ips}) {
            SCOPED_TRACE(std::string(e.name) + (format == patch_bps ? " bps" : " ips"));
            const outcome made = making(format, tiles, e.edited);
            EXPECT_EQ(std::pair(made.result, made.out), std::pair(patch_done, std::string()));
            const size_t under = format == patch_bps ? e.bps_under : e.ips_under;
            EXPECT_TRUE(under == 0 || made.made.size() < under) << made.made.size() << " bytes";
            const outcome applied = applying(made.made, tiles);
            EXPECT_EQ(std::pair(applied.result, applied.out), std::pair(patch_done, std::string()));
            EXPECT_TRUE(applied.made == e.edited);
            const outcome again = applying(made.made, e.edited);
            EXPECT_EQ(std::pair(again.result, again.out),
                      std::pair(patch_already_applied, std::string("file is already patched\n")));
        }
}

// Small files of random sizes, edited by runs, copies from anywhere and new
// bytes, reach every end and every kind of copy; and IPS records that would
// start at the offset reading "EOF" start elsewhere.
TEST(patches, round_trips_at_the_edges)
{
    const auto round_trip = [](const bytes &original, const bytes &e, bool bps_too = true) {
        for (patch_format format : {patch_ips, patch_bps}) {
            if (format == patch_bps && !bps_too) continue;
            const outcome made = making(format, original, e);
            const outcome applied = applying(made.made, original);
            ASSERT_TRUE(applied.result >= 0 && applied.made == e)
                << made.out << applied.out << original.size() << " to " << e.size() << " bytes, format " << format;
        }
    };
    round_trip({}, {});
    round_trip({}, letters);
    round_trip(letters, {});
    std::mt19937 random(7);
    for (int i = 0; i < 300; ++i) {
        const bytes original = random_bytes(random() % 300, random());
        bytes e;
        for (size_t parts = random() % 8; parts-- > 0;) {
            const size_t from = original.empty() ? 0 : random() % original.size(), n = random() % 40;
            if (random() % 3 == 0) e.insert(e.end(), n, uint8_t(random()));
            else if (random() % 2 == 0) e = e + random_bytes(n % 6, random());
            else e.insert(e.end(), original.begin() + from, original.begin() + std::min(from + n, original.size()));
        }
        round_trip(original, e);
    }
    constexpr size_t eof = 0x454F46;
    const bytes zeros(eof + 0x20000, 0);
    for (auto [from, count] : {std::pair<size_t, size_t>{eof, 1}, {eof, 20}, {eof - 0xFFFF, 0xFFFF + 5},
                               {eof - 2 * 0xFFFF, 2 * 0xFFFF + 3}}) {
        bytes run = zeros, plain = zeros;
        std::fill_n(run.begin() + from, count, 7);
        for (size_t i = 0; i < count; ++i) plain[from + i] = uint8_t(i | 1);
        round_trip(zeros, run, false);
        round_trip(zeros, plain, false);
    }
}

// Each refusal: its result and its line; a BPS patch's CRC32s made right so
// that the fault checked is the one reached.
TEST(patches, refusals_name_their_reason)
{
    const bytes eight = {'B', 'P', 'S', '1', 0x88}, big(patch_file_limit + 1, 0), wrong = text("ABCDEFGX");
    bytes damaged = hand_made_bps;
    damaged[12] ^= 1;
    const struct {
        const char *name;
        bytes patch, original;
        int result;
        std::string out;
    } cases[] = {
        {"empty", {}, letters, -1, "not a bps or ips patch\n"},
        {"no footer", eight + bytes{0x88, 0x80}, letters, -1, "patch is cut short\n"},
        {"damaged", damaged, letters, -1, "patch is damaged: crc32 " + hex(crc(bytes(damaged.begin(), damaged.end() - 4))) +
                                          ", stored " + hex(crc(bytes(hand_made_bps.begin(), hand_made_bps.end() - 4))) + "\n"},
        {"wrong file", hand_made_bps, wrong, -1, "wrong file: patch wants 8 bytes with crc32 " + hex(crc(letters)) +
                                                  ", found 8 bytes with crc32 " + hex(crc(wrong)) + "\n"},
        {"already", hand_made_bps, text("ABxyzGHABBBBBxy"), -3, "file is already patched\n"},
        {"source read", bps(eight + bytes{0x89, 0x80, 0xA0}, letters, {}), letters, -1, "patch reads outside the original\n"},
        {"copy before", bps(eight + bytes{0x81, 0x80, 0x82, 0x83}, letters, {}), letters, -1, "patch reads outside the original\n"},
        {"copy after", bps(eight + bytes{0x82, 0x80, 0x86, 0x8E}, letters, {}), letters, -1, "patch reads outside the original\n"},
        {"copy ahead", bps(eight + bytes{0x81, 0x80, 0x83, 0x80}, letters, {}), letters, -1, "patch copies from outside what it has made\n"},
        {"copy behind", bps(eight + bytes{0x82, 0x80, 0x81, 'x', 0x83, 0x83}, letters, {}), letters, -1,
         "patch copies from outside what it has made\n"},
        {"too long", bps(eight + bytes{0x82, 0x80, 0x89, 'x', 'y', 'z'}, letters, {}), letters, -1,
         "patch writes past the end of its result\n"},
        {"too short", bps(eight + bytes{0x83, 0x80, 0x85, 'x', 'y'}, letters, {}), letters, -1,
         "patch ends before its result is complete\n"},
        {"stored cut", bps(eight + bytes{0x82, 0x80, 0x85, 'x'}, letters, {}), letters, -1, "patch is cut short\n"},
        {"number", bps(text("BPS1") + bytes{0x00, 0x7F, 0x7E, 0x7E, 0x8E}, letters, {}), letters, -1,
         "patch has a number over 32 bits\n"},
        {"too big", bps(eight + number(patch_file_limit + 1) + bytes{0x80}, letters, {}), letters, -1,
         "patch makes a file over 64 MiB\n"},
        {"result", bps(eight + bytes{0x88, 0x80, 0x9C}, letters, wrong), letters, -1,
         "patch is damaged: result crc32 " + hex(crc(letters)) + ", wanted " + hex(crc(wrong)) + "\n"},
        {"no eof", text("PATCH") + bytes{0, 0, 2, 0, 3, 'x'}, letters, -1, "patch is cut short\n"},
        {"empty run", text("PATCH") + bytes{0, 0, 1, 0, 0, 0, 0, 'r'} + text("EOF"), letters, -1, "patch has a run of no bytes\n"},
        {"after eof", text("PATCHEOF") + bytes{0, 0, 1, 2}, letters, -1, "patch has bytes after its end\n"},
        {"cut past", text("PATCHEOF") + bytes{0, 0, 9}, letters, -1, "patch truncates past the end of the file\n"},
        {"huge patch", text("PATCHEOF") + bytes(patch_size_limit, 0), letters, -1, "patch is over 16 MiB\n"},
        {"huge file", text("PATCHEOF"), big, -1, "file is over 64 MiB\n"},
    };
    for (const auto &c : cases) {
        const outcome o = applying(c.patch, c.original);
        EXPECT_EQ(std::pair(o.result, o.out), std::pair(c.result, c.out)) << c.name;
    }
    const bytes ips_limit(16 << 20, 1);
    const struct {
        patch_format format;
        const bytes &original, &edited;
        int result;
        std::string out;
    } made[] = {
        {patch_ips, letters, ips_limit, -1, "file of 16 MiB or more cannot be an ips target\n"},
        {patch_ips, {}, random_bytes(ips_limit.size() - 1, 5), -1, "patch would be over 16 MiB\n"},
        {patch_bps, letters, big, -1, "file is over 64 MiB\n"},
        {patch_format(2), letters, letters, -1, "unknown patch format\n"},
    };
    for (const auto &m : made) {
        const outcome o = making(m.format, m.original, m.edited);
        EXPECT_EQ(std::pair(o.result, o.out), std::pair(m.result, m.out));
    }
}

}  // namespace
