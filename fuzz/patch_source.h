// The file that patch_fuzz applies every patch to and that its seeds are
// made from: 300 bytes with runs and repeats, so that every kind of copy has
// something to find.
#pragma once

#include <cstdint>
#include <vector>

inline std::vector<uint8_t> patch_fuzz_source()
{
    std::vector<uint8_t> source;
    for (int i = 0; i < 200; ++i) source.push_back(static_cast<uint8_t>(i * 7 % 251));
    source.insert(source.end(), 50, 0);
    source.insert(source.end(), source.begin() + 10, source.begin() + 60);
    return source;
}
