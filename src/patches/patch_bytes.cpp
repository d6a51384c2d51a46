// The cursor, the sink and the byte helpers both formats read and write
// through; each reader beside the writer it mirrors.
#include "patch_bytes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int refuse(const char *line)
{
    std::printf("%s\n", line);
    return patch_refused;
}

int out_of_memory()
{
    std::printf("out of memory\n");
    return patch_out_of_memory;
}

int cut_short() { return refuse("patch is cut short"); }

int take_bytes(patch_cursor &c, uint64_t count, const uint8_t **bytes)
{
    if (count > c.left()) return cut_short();
    *bytes = c.data + c.at;
    c.at += count;
    return 0;
}

void put_bytes(patch_sink &s, const uint8_t *bytes, uint64_t count)
{
    if (s.result < 0 || count == 0) return;
    if (count > patch_size_limit - s.size) {
        s.result = patch_refused;
        return;
    }
    if (s.size + count > s.capacity) {
        const uint64_t wanted = std::max({s.capacity * 2, s.size + count, uint64_t{4096}});
        const uint64_t capacity = std::min(wanted, uint64_t{patch_size_limit});
        auto *grown = static_cast<uint8_t *>(std::realloc(s.data, capacity));
        if (grown == nullptr) {
            s.result = patch_out_of_memory;
            return;
        }
        s.data = grown;
        s.capacity = capacity;
    }
    std::memcpy(s.data + s.size, bytes, count);
    s.size += count;
}

int take_be(patch_cursor &c, int count, uint32_t *value)
{
    const uint8_t *bytes;
    if (take_bytes(c, count, &bytes) < 0) return -1;
    *value = 0;
    for (int i = 0; i < count; ++i) *value = *value << 8 | bytes[i];
    return 0;
}

void put_be(patch_sink &s, uint32_t value, int count)
{
    uint8_t bytes[4];
    for (int i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(value >> 8 * (count - 1 - i));
    put_bytes(s, bytes, count);
}

int take_le32(patch_cursor &c, uint32_t *value)
{
    const uint8_t *bytes;
    if (take_bytes(c, 4, &bytes) < 0) return -1;
    *value = 0;
    for (int i = 0; i < 4; ++i) *value |= uint32_t{bytes[i]} << 8 * i;
    return 0;
}

void put_le32(patch_sink &s, uint32_t value)
{
    uint8_t bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> 8 * i);
    put_bytes(s, bytes, 4);
}

int take_number(patch_cursor &c, uint64_t *value)
{
    // Checked after every byte: the sum stays below 2^40, far from wrapping.
    uint64_t number = 0, weight = 1;
    for (const uint8_t *byte;;) {
        if (take_bytes(c, 1, &byte) < 0) return -1;
        number += (*byte & 0x7F) * weight;
        if ((*byte & 0x80) != 0) break;
        weight <<= 7;
        number += weight;
        if (number > UINT32_MAX) break;
    }
    if (number > UINT32_MAX) return refuse("patch has a number over 32 bits");
    *value = number;
    return 0;
}

void put_number(patch_sink &s, uint64_t value)
{
    for (;;) {
        const uint8_t low = value & 0x7F;
        value >>= 7;
        if (value == 0) {
            const uint8_t last = low | 0x80;
            put_bytes(s, &last, 1);
            return;
        }
        put_bytes(s, &low, 1);
        --value;
    }
}

int finish_patch(patch_sink &s, uint8_t **patch, size_t *patch_size)
{
    if (s.result == patch_refused)
        std::printf("patch would be over %u MiB\n", unsigned{patch_size_limit >> 20});
    if (s.result == patch_out_of_memory) out_of_memory();
    if (s.result < 0) {
        std::free(s.data);
        return s.result;
    }
    *patch = s.data;
    *patch_size = s.size;
    return patch_done;
}

uint8_t *allocate_result(uint64_t size)
{
    auto *result = static_cast<uint8_t *>(std::malloc(std::max(size, uint64_t{1})));
    if (result == nullptr) out_of_memory();
    return result;
}

int discard_result(uint8_t **result, size_t *result_size, int code)
{
    std::free(*result);
    *result = nullptr;
    *result_size = 0;
    return code;
}

int already_applied()
{
    std::printf("file is already patched\n");
    return patch_already_applied;
}

int changes_nothing()
{
    std::printf("patch changes nothing\n");
    return patch_changes_nothing;
}
