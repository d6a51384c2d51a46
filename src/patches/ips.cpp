// IPS: "PATCH", then records of a 3-byte big-endian offset and a 2-byte size
// followed by that many bytes, or by a 2-byte count and one value for a run
// (size 0); then "EOF", and after it, when the result is shorter than the
// original, its 3-byte size. The format checks nothing of the file it is
// applied to.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "patch_bytes.h"

namespace {

constexpr uint32_t eof_offset = 0x454F46;  // "EOF" read as an offset: no record may start there
constexpr uint8_t eof_marker[] = {'E', 'O', 'F'};
constexpr uint64_t target_limit = uint64_t{1} << 24;  // a 3-byte offset's reach
constexpr uint32_t record_limit = 0xFFFF;             // a 2-byte size's reach
// A record's offset and size cost 5 bytes: fewer unchanged bytes between two
// changes are written again rather than starting another record.
constexpr uint64_t record_head_bytes = 5;
// A run record costs 8 bytes, and the plain record after it 5 more.
constexpr uint64_t shortest_run = 14;
// What a patch can reach stays within the file limit, so results need no check of their own.
static_assert(target_limit + record_limit <= patch_file_limit);

// One record: `size` bytes at `offset`, from the patch or, for a run, `value` repeated.
struct ips_record {
    uint32_t offset = 0, size = 0;
    const uint8_t *bytes = nullptr;  // null for a run
    uint8_t value = 0;
};

// What the records add up to: how far they reach, how many there are, and
// the size given after "EOF", if any.
struct ips_summary {
    uint64_t reach = 0, records = 0;
    bool truncates = false;
    uint32_t truncated_size = 0;
};

// The next record; 1 for a record, 0 at "EOF", -1 refused.
int take_record(patch_cursor &c, ips_record &r)
{
    if (take_be(c, 3, &r.offset) < 0) return -1;
    if (r.offset == eof_offset) return 0;
    if (take_be(c, 2, &r.size) < 0) return -1;
    r.bytes = nullptr;
    if (r.size > 0) return take_bytes(c, r.size, &r.bytes) < 0 ? -1 : 1;
    const uint8_t *value;
    if (take_be(c, 2, &r.size) < 0 || take_bytes(c, 1, &value) < 0) return -1;
    if (r.size == 0) return refuse("patch has a run of no bytes");
    r.value = *value;
    return 1;
}

// Reads every record, writing each into `result` unless it is null (the
// checking pass, which learns the size `result` needs).
int walk_records(patch_cursor c, ips_summary &sum, uint8_t *result)
{
    ips_record r;
    int got;
    while ((got = take_record(c, r)) > 0) {
        sum.reach = std::max(sum.reach, uint64_t{r.offset} + r.size);
        ++sum.records;
        if (result != nullptr && r.bytes != nullptr) std::memcpy(result + r.offset, r.bytes, r.size);
        if (result != nullptr && r.bytes == nullptr) std::memset(result + r.offset, r.value, r.size);
    }
    if (got < 0 || c.left() == 0) return got;
    if (c.left() > 3) return refuse("patch has bytes after its end");
    sum.truncates = true;
    return take_be(c, 3, &sum.truncated_size);
}

// The two files being compared, byte by byte.
struct file_pair {
    const uint8_t *original;
    uint64_t original_size;
    const uint8_t *edited;
    uint64_t edited_size;
    bool differs(uint64_t at) const { return at >= original_size || original[at] != edited[at]; }
};

// The end of the change starting at `start`: changes closer together than a
// record head are one.
uint64_t change_end(const file_pair &f, uint64_t start)
{
    uint64_t end = start + 1;
    for (uint64_t at = end; at < f.edited_size && at - end < record_head_bytes; ++at)
        if (f.differs(at)) end = at + 1;
    return end;
}

// Records starting at the offset that spells "EOF" start a byte earlier instead.
void put_plain(patch_sink &s, const uint8_t *edited, uint64_t start, uint64_t end)
{
    for (uint64_t at = start; at < end;) {
        const uint64_t from = at == eof_offset ? at - 1 : at;
        const uint32_t size = static_cast<uint32_t>(std::min<uint64_t>(end - from, record_limit));
        put_be(s, static_cast<uint32_t>(from), 3);
        put_be(s, size, 2);
        put_bytes(s, edited + from, size);
        at = from + size;
    }
}

void put_run(patch_sink &s, const uint8_t *edited, uint64_t start, uint64_t end)
{
    for (uint64_t at = start; at < end;) {
        if (at == eof_offset) {  // its first byte goes with the byte before
            put_plain(s, edited, at - 1, at + 1);
            ++at;
            continue;
        }
        const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(end - at, record_limit));
        put_be(s, static_cast<uint32_t>(at), 3);
        put_be(s, 0, 2);
        put_be(s, count, 2);
        put_bytes(s, edited + at, 1);
        at += count;
    }
}

// One change: its long runs of one value as run records, the rest as plain ones.
void put_change(patch_sink &s, const uint8_t *edited, uint64_t start, uint64_t end)
{
    uint64_t plain = start;  // the first byte not yet in a record
    for (uint64_t at = start, run; at < end; at += run) {
        for (run = 1; at + run < end && edited[at + run] == edited[at];) ++run;
        if (run < shortest_run) continue;
        put_plain(s, edited, plain, at);
        put_run(s, edited, at, at + run);
        plain = at + run;
    }
    put_plain(s, edited, plain, end);
}

}  // namespace

int create_ips(const uint8_t *original, uint64_t original_size, const uint8_t *edited,
               uint64_t edited_size, patch_sink &patch)
{
    if (edited_size >= target_limit) {
        std::printf("file of %u MiB or more cannot be an ips target\n", unsigned{target_limit >> 20});
        return patch_refused;
    }
    const file_pair files{original, original_size, edited, edited_size};
    put_bytes(patch, ips_signature, sizeof ips_signature);
    for (uint64_t at = 0; at < edited_size;) {
        if (!files.differs(at)) {
            ++at;
            continue;
        }
        const uint64_t end = change_end(files, at);
        put_change(patch, edited, at, end);
        at = end;
    }
    put_bytes(patch, eof_marker, sizeof eof_marker);
    if (edited_size < original_size) put_be(patch, static_cast<uint32_t>(edited_size), 3);
    return patch_done;
}

int apply_ips(const uint8_t *patch, uint64_t patch_size, const uint8_t *original,
              uint64_t original_size, uint8_t **result, size_t *result_size)
{
    const patch_cursor records{patch, patch_size, sizeof ips_signature};
    ips_summary sum;
    if (walk_records(records, sum, nullptr) < 0) return patch_refused;
    const uint64_t made = std::max(original_size, sum.reach);
    if (sum.truncates && sum.truncated_size > made)
        return refuse("patch truncates past the end of the file");
    uint8_t *out = allocate_result(made);
    if (out == nullptr) return patch_out_of_memory;
    *result = out;
    *result_size = sum.truncates ? sum.truncated_size : made;
    if (original_size > 0) std::memcpy(out, original, original_size);
    std::memset(out + original_size, 0, made - original_size);  // records may start past the end
    ips_summary again;
    if (walk_records(records, again, out) < 0)
        return discard_result(result, result_size, patch_refused);
    if (!same_bytes(out, *result_size, original, original_size)) return patch_done;
    // Without checks of its own, a patch whose records change nothing here
    // has been applied before.
    if (sum.records == 0 && !sum.truncates) return changes_nothing();
    return discard_result(result, result_size, already_applied());
}
