// BPS: "BPS1"; the original's size, the result's and the metadata's as BPS
// numbers, then the metadata; actions that build the result from the
// original, from the patch and from what is already built; then the CRC32s
// of the original, of the result and of the patch itself (all but its last
// four bytes), little-endian.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "patch_bytes.h"

namespace {

// An action is `kind | (length - 1) << 2`.
enum bps_action : uint64_t {
    source_read,  // the original's bytes at the same place
    target_read,  // bytes stored in the patch
    source_copy,  // the original's bytes from elsewhere
    target_copy,  // bytes of the result already built, a run when they overlap
};
constexpr uint64_t footer_bytes = 12;  // three CRC32s

struct bps_header {
    uint64_t source_size = 0, target_size = 0;
    uint32_t source_crc = 0, target_crc = 0;
    patch_cursor actions{};  // after the metadata, up to the CRC32s
};

// The patch's own CRC32 first, then its sizes, the metadata skipped.
int read_header(const uint8_t *patch, uint64_t patch_size, bps_header &h)
{
    if (patch_size < sizeof bps_signature + footer_bytes) return cut_short();
    patch_cursor footer{patch, patch_size, patch_size - footer_bytes};
    uint32_t stored = 0;
    if (take_le32(footer, &h.source_crc) < 0 || take_le32(footer, &h.target_crc) < 0 ||
        take_le32(footer, &stored) < 0)
        return patch_refused;
    if (const uint32_t crc = patch_crc32(patch, patch_size - 4); crc != stored) {
        std::printf("patch is damaged: crc32 %08X, stored %08X\n", crc, stored);
        return patch_refused;
    }
    patch_cursor c{patch, patch_size - footer_bytes, sizeof bps_signature};
    uint64_t metadata_size = 0;
    const uint8_t *metadata;
    if (take_number(c, &h.source_size) < 0 || take_number(c, &h.target_size) < 0 ||
        take_number(c, &metadata_size) < 0 || take_bytes(c, metadata_size, &metadata) < 0)
        return patch_refused;
    if (h.target_size > patch_file_limit) {
        std::printf("patch makes a file over %u MiB\n", unsigned{patch_file_limit >> 20});
        return patch_refused;
    }
    h.actions = c;
    return patch_done;
}

// The original must be the one the patch was made from; the patch's result
// is already patched.
int check_original(const bps_header &h, const uint8_t *original, uint64_t original_size)
{
    const uint32_t crc = patch_crc32(original, original_size);
    if (original_size == h.source_size && crc == h.source_crc) return patch_done;
    if (original_size == h.target_size && crc == h.target_crc) return already_applied();
    std::printf("wrong file: patch wants %llu bytes with crc32 %08X, found %llu bytes with crc32 %08X\n",
                static_cast<unsigned long long>(h.source_size), h.source_crc,
                static_cast<unsigned long long>(original_size), crc);
    return patch_refused;
}

// A result being built: where its bytes come from, and the offsets the
// copies move from, as the decoder keeps them.
struct bps_build {
    const uint8_t *source;
    uint64_t source_size;
    uint8_t *target;  // null while the actions are only checked
    uint64_t target_size;
    uint64_t made = 0;
    int64_t source_from = 0, target_from = 0;
};

// Moves a copy's offset by the number at the cursor: its distance, with the
// sign in the low bit. Both stay within 2^33 of zero, so nothing wraps.
int take_offset(patch_cursor &c, int64_t &from)
{
    uint64_t number;
    if (take_number(c, &number) < 0) return -1;
    const int64_t distance = static_cast<int64_t>(number >> 1);
    from += (number & 1) != 0 ? -distance : distance;
    return 0;
}

int outside_original() { return refuse("patch reads outside the original"); }

int source_read_bytes(bps_build &b, uint64_t length)
{
    if (b.made + length > b.source_size) return outside_original();
    if (b.target != nullptr) std::memcpy(b.target + b.made, b.source + b.made, length);
    return 0;
}

int target_read_bytes(patch_cursor &c, bps_build &b, uint64_t length)
{
    const uint8_t *bytes;
    if (take_bytes(c, length, &bytes) < 0) return -1;
    if (b.target != nullptr) std::memcpy(b.target + b.made, bytes, length);
    return 0;
}

int source_copy_bytes(patch_cursor &c, bps_build &b, uint64_t length)
{
    if (take_offset(c, b.source_from) < 0) return -1;
    if (b.source_from < 0 || static_cast<uint64_t>(b.source_from) + length > b.source_size)
        return outside_original();
    if (b.target != nullptr) std::memcpy(b.target + b.made, b.source + b.source_from, length);
    b.source_from += length;
    return 0;
}

// Each byte is read before the one after it is written: an overlapping copy repeats.
int target_copy_bytes(patch_cursor &c, bps_build &b, uint64_t length)
{
    if (take_offset(c, b.target_from) < 0) return -1;
    if (b.target_from < 0 || static_cast<uint64_t>(b.target_from) >= b.made)
        return refuse("patch copies from outside what it has made");
    for (uint64_t i = 0; b.target != nullptr && i < length; ++i)
        b.target[b.made + i] = b.target[b.target_from + i];
    b.target_from += length;
    return 0;
}

int take_action(patch_cursor &c, bps_build &b)
{
    uint64_t action;
    if (take_number(c, &action) < 0) return -1;
    const uint64_t length = (action >> 2) + 1;
    if (length > b.target_size - b.made) return refuse("patch writes past the end of its result");
    int result = -1;
    switch (action & 3) {
    case source_read: result = source_read_bytes(b, length); break;
    case target_read: result = target_read_bytes(c, b, length); break;
    case source_copy: result = source_copy_bytes(c, b, length); break;
    case target_copy: result = target_copy_bytes(c, b, length); break;
    }
    b.made += length;
    return result;
}

int build(patch_cursor actions, bps_build &b)
{
    while (actions.left() > 0)
        if (take_action(actions, b) < 0) return -1;
    if (b.made != b.target_size) return refuse("patch ends before its result is complete");
    return 0;
}

// Copies are found through the positions of their first four bytes, kept in
// buckets by a hash: the latest eight positions a bucket. Each file gets a
// bucket for every four of its bytes, up to 2^20 buckets: 512 KiB for a
// 64 KiB tile file, 32 MiB at most.
constexpr uint64_t match_bytes = 4;
// A SourceRead costs no offset: two bytes already pay for it.
constexpr uint64_t shortest_read = 2;
constexpr uint64_t bucket_ways = 8;
constexpr int most_bucket_bits = 20;

struct match_index {
    uint32_t *slots = nullptr;  // bucket_ways a bucket; a position + 1, 0 for none
    uint32_t bucket_mask = 0;
    int bucket_bits = 0;
};

int make_index(match_index &index, uint64_t file_size)
{
    while (index.bucket_bits < most_bucket_bits && uint64_t{1} << index.bucket_bits < file_size / 4)
        ++index.bucket_bits;
    index.bucket_mask = (uint32_t{1} << index.bucket_bits) - 1;
    index.slots = static_cast<uint32_t *>(
        std::calloc(size_t{bucket_ways} << index.bucket_bits, sizeof *index.slots));
    return index.slots == nullptr ? out_of_memory() : 0;
}

uint32_t *bucket_of(const match_index &index, const uint8_t *bytes)
{
    uint32_t key = 0;
    for (uint64_t i = 0; i < match_bytes; ++i) key |= uint32_t{bytes[i]} << 8 * i;
    const uint32_t hash = (key * 2654435761u) >> (32 - most_bucket_bits);
    return index.slots + (hash & index.bucket_mask) * bucket_ways;
}

void remember(match_index &index, const uint8_t *file, uint64_t at)
{
    uint32_t *bucket = bucket_of(index, file + at);
    std::memmove(bucket + 1, bucket, (bucket_ways - 1) * sizeof *bucket);
    bucket[0] = static_cast<uint32_t>(at + 1);
}

uint64_t match_length(const uint8_t *a, const uint8_t *b, uint64_t most)
{
    uint64_t n = 0;
    while (n < most && a[n] == b[n]) ++n;
    return n;
}

struct match {
    bps_action kind = target_read;
    uint64_t from = 0, length = 0;
};

// The encoder's view: both files, an index of each, and the decoder's copy
// offsets, kept as the decoder will keep them.
struct bps_encoder {
    const uint8_t *source;
    uint64_t source_size;
    const uint8_t *target;
    uint64_t target_size;
    match_index source_index, target_index;
    int64_t source_from = 0, target_from = 0;
    uint64_t stored_from = 0;  // the first byte of the TargetRead being gathered
};

// The longest copy in one index, where it beats `best`; `size` bounds where
// a copy may read from (the result's copies may overlap what they make).
void longer_copy(const bps_encoder &e, const match_index &index, const uint8_t *file,
                 uint64_t size, bps_action kind, uint64_t at, match &best)
{
    const uint32_t *bucket = bucket_of(index, e.target + at);
    for (uint64_t way = 0; way < bucket_ways && bucket[way] != 0; ++way) {
        const uint64_t from = bucket[way] - 1;
        const uint64_t most = std::min(size - from, e.target_size - at);
        if (const uint64_t length = match_length(file + from, e.target + at, most); length > best.length)
            best = {kind, from, length};
    }
}

// The longest way to go on at `at`, the cheapest kind first on a tie.
match best_match(const bps_encoder &e, uint64_t at)
{
    match best;
    if (at < e.source_size)
        best = {source_read, at,
                match_length(e.source + at, e.target + at, std::min(e.source_size, e.target_size) - at)};
    if (e.target_size - at < match_bytes) return best;
    if (e.source_size >= match_bytes)
        longer_copy(e, e.source_index, e.source, e.source_size, source_copy, at, best);
    longer_copy(e, e.target_index, e.target, e.target_size, target_copy, at, best);
    return best;
}

void put_action(patch_sink &s, bps_action kind, uint64_t length)
{
    put_number(s, kind | (length - 1) << 2);
}

// A copy's distance from where the last one of its kind ended, which it then moves past.
void put_offset(patch_sink &s, int64_t &from, const match &m)
{
    const int64_t distance = static_cast<int64_t>(m.from) - from;
    put_number(s, static_cast<uint64_t>(distance < 0 ? -distance : distance) << 1 | (distance < 0));
    from = static_cast<int64_t>(m.from + m.length);
}

// The bytes gathered since the last copy, as one TargetRead.
void put_stored(patch_sink &s, bps_encoder &e, uint64_t end)
{
    if (end == e.stored_from) return;
    put_action(s, target_read, end - e.stored_from);
    put_bytes(s, e.target + e.stored_from, end - e.stored_from);
}

void put_match(patch_sink &s, bps_encoder &e, uint64_t at, const match &m)
{
    put_stored(s, e, at);
    e.stored_from = at + m.length;
    put_action(s, m.kind, m.length);
    if (m.kind == source_copy) put_offset(s, e.source_from, m);
    if (m.kind == target_copy) put_offset(s, e.target_from, m);
}

// Greedy: at each place the longest copy, when it is long enough to pay for
// itself, else one byte more for the patch to store.
void put_actions(patch_sink &s, bps_encoder &e)
{
    for (uint64_t at = 0; at < e.target_size;) {
        const match m = best_match(e, at);
        const bool worth = m.length >= (m.kind == source_read ? shortest_read : match_bytes);
        const uint64_t step = worth ? m.length : 1;
        if (worth) put_match(s, e, at, m);
        for (const uint64_t end = at + step; at < end; ++at)
            if (e.target_size - at >= match_bytes) remember(e.target_index, e.target, at);
    }
    put_stored(s, e, e.target_size);
}

}  // namespace

int create_bps(const uint8_t *original, uint64_t original_size, const uint8_t *edited,
               uint64_t edited_size, patch_sink &patch)
{
    bps_encoder e{original, original_size, edited, edited_size, {}, {}};
    int result = make_index(e.source_index, original_size);
    if (result == 0) result = make_index(e.target_index, edited_size);
    for (uint64_t at = 0; result == 0 && at + match_bytes <= original_size; ++at)
        remember(e.source_index, original, at);
    if (result == 0) {
        put_bytes(patch, bps_signature, sizeof bps_signature);
        put_number(patch, original_size);
        put_number(patch, edited_size);
        put_number(patch, 0);  // no metadata
        put_actions(patch, e);
        put_le32(patch, patch_crc32(original, original_size));
        put_le32(patch, patch_crc32(edited, edited_size));
        put_le32(patch, patch_crc32(patch.data, patch.size));
    }
    std::free(e.source_index.slots);
    std::free(e.target_index.slots);
    return result;
}

int apply_bps(const uint8_t *patch, uint64_t patch_size, const uint8_t *original,
              uint64_t original_size, uint8_t **result, size_t *result_size)
{
    bps_header h;
    if (read_header(patch, patch_size, h) < 0) return patch_refused;
    if (const int checked = check_original(h, original, original_size); checked < 0) return checked;
    bps_build check{original, original_size, nullptr, h.target_size};
    if (build(h.actions, check) < 0) return patch_refused;
    bps_build b{original, original_size, allocate_result(h.target_size), h.target_size};
    if (b.target == nullptr) return patch_out_of_memory;
    *result = b.target;
    *result_size = h.target_size;
    if (build(h.actions, b) < 0) return discard_result(result, result_size, patch_refused);
    if (const uint32_t crc = patch_crc32(b.target, h.target_size); crc != h.target_crc) {
        std::printf("patch is damaged: result crc32 %08X, wanted %08X\n", crc, h.target_crc);
        return discard_result(result, result_size, patch_refused);
    }
    return same_bytes(b.target, h.target_size, original, original_size) ? changes_nothing() : patch_done;
}
