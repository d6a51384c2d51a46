// Patches for tile files: BPS and IPS, made and applied in memory, so that a
// modder can share an edit without sharing the file it edits. Buffers come in
// as pointer and size; a buffer made here comes from malloc and is the
// caller's to free. Every message (a refusal, the CRC32s a BPS patch wants
// and finds, "file is already patched", "patch changes nothing") is printed
// here, one line on standard output, so the programs and the page word them
// alike. Results by sign: 0 done, 1 done with nothing changed, negative
// nothing made.
#pragma once

#include <cstddef>
#include <cstdint>

enum patch_format : int {
    patch_bps = 0,  // "BPS1": checks that it is applied to the right file
    patch_ips = 1,  // "PATCH": the old format, no checks
};

inline constexpr int patch_done = 0;
inline constexpr int patch_changes_nothing = 1;   // made or applied; the result is the original
inline constexpr int patch_refused = -1;          // the line printed says why
inline constexpr int patch_out_of_memory = -2;
inline constexpr int patch_already_applied = -3;  // the original already is the patch's result

// The largest original, edited or patched file: the page's own limit on the
// files it takes (a tile file is 64 KiB).
inline constexpr size_t patch_file_limit = size_t{64} << 20;
// The largest patch taken or made.
inline constexpr size_t patch_size_limit = size_t{16} << 20;

// Makes the patch that turns `original` into `edited`. On 0 or
// patch_changes_nothing, *patch holds *patch_size bytes; otherwise it is null.
int create_patch(patch_format format, const uint8_t *original, size_t original_size,
                 const uint8_t *edited, size_t edited_size, uint8_t **patch, size_t *patch_size);

// Applies a patch of either format, told by its first bytes, to `original`.
// Everything is checked before the result is made: on 0 or
// patch_changes_nothing, *result holds *result_size bytes; otherwise it is
// null and nothing was made.
int apply_patch(const uint8_t *patch, size_t patch_size, const uint8_t *original,
                size_t original_size, uint8_t **result, size_t *result_size);

// The format a patch's first bytes name, or -1 (printing nothing).
int patch_format_of(const uint8_t *patch, size_t patch_size);

// The CRC32 that BPS and zip use (reflected, polynomial 0xEDB88320).
uint32_t patch_crc32(const uint8_t *data, size_t size);
