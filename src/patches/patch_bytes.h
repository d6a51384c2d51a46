// What both formats share: one bounds-checked cursor that every read of a
// patch goes through, the growing buffer a patch is written into, the byte
// helpers as mirror pairs, and the lines both formats print. Internal to the
// module; callers see only patches.h.
#pragma once

#include "patches.h"

// A patch read front to back. Sizes and positions are 64-bit everywhere, the
// page's 32-bit size_t included, so no sum of two of them can wrap.
struct patch_cursor {
    const uint8_t *data;
    uint64_t size;
    uint64_t at = 0;
    uint64_t left() const { return size - at; }
};

// A patch being made, in a malloc'ed buffer that grows up to
// patch_size_limit. The first failure sticks and later bytes are dropped, so
// the encoders check once, at the end.
struct patch_sink {
    uint8_t *data = nullptr;
    uint64_t size = 0, capacity = 0;
    int result = patch_done;
};

// `count` bytes at the cursor, which moves past them; -1 after "patch is cut
// short" when fewer are left.
int take_bytes(patch_cursor &c, uint64_t count, const uint8_t **bytes);
void put_bytes(patch_sink &s, const uint8_t *bytes, uint64_t count);

// Unsigned numbers of `count` bytes (1 to 4), big-endian as IPS stores them.
int take_be(patch_cursor &c, int count, uint32_t *value);
void put_be(patch_sink &s, uint32_t value, int count);

// Little-endian 32-bit words, as BPS stores its CRC32s.
int take_le32(patch_cursor &c, uint32_t *value);
void put_le32(patch_sink &s, uint32_t value);

// BPS numbers: seven bits a byte, low bits first, the high bit marking the
// last byte, and one taken off after each byte that is not last, so that
// every number has one encoding. Numbers above 2^32 - 1 are refused ("patch
// has a number over 32 bits"): no file here comes near, and it keeps every
// sum made from them far from overflowing.
int take_number(patch_cursor &c, uint64_t *value);
void put_number(patch_sink &s, uint64_t value);

// Hands the sink's bytes to the caller; a failure prints its line and frees them.
int finish_patch(patch_sink &s, uint8_t **patch, size_t *patch_size);

// A result buffer of `size` bytes (never a null one for an empty file); null
// after "out of memory".
uint8_t *allocate_result(uint64_t size);

// Whether two buffers hold the same bytes; empty ones may be null.
bool same_bytes(const uint8_t *a, uint64_t a_size, const uint8_t *b, uint64_t b_size);

// Prints `line` and a newline; patch_refused.
int refuse(const char *line);
// Prints "patch is cut short"; patch_refused.
int cut_short();
// Prints "out of memory"; patch_out_of_memory.
int out_of_memory();
// Frees a result made and hands out nothing; `code`.
int discard_result(uint8_t **result, size_t *result_size, int code);
// Prints "file is already patched"; patch_already_applied.
int already_applied();
// "patch changes nothing"; the result stays made.
int changes_nothing();

// The two formats, each behind the checks of patches.cpp (sizes within their
// limits, the signature present).
int create_bps(const uint8_t *original, uint64_t original_size, const uint8_t *edited,
               uint64_t edited_size, patch_sink &patch);
int create_ips(const uint8_t *original, uint64_t original_size, const uint8_t *edited,
               uint64_t edited_size, patch_sink &patch);
int apply_bps(const uint8_t *patch, uint64_t patch_size, const uint8_t *original,
              uint64_t original_size, uint8_t **result, size_t *result_size);
int apply_ips(const uint8_t *patch, uint64_t patch_size, const uint8_t *original,
              uint64_t original_size, uint8_t **result, size_t *result_size);

inline constexpr uint8_t bps_signature[] = {'B', 'P', 'S', '1'};
inline constexpr uint8_t ips_signature[] = {'P', 'A', 'T', 'C', 'H'};
