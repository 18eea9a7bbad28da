// Test data in which lost, repeated or reordered bytes show.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

// Byte index of a long pseudo-random sequence, one sequence per stream.
inline uint8_t CountedByte(int64_t index, int stream = 0)
{
    return uint8_t((uint32_t(index) * 2654435761u + uint32_t(stream) * 40503u) >> 24);
}

// count runs of unit bytes, each filled with its label, the first labelled first.
inline std::vector<uint8_t> Labelled(int first, int count, int unit)
{
    std::vector<uint8_t> bytes(size_t(count) * unit);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(first + i / unit);
    return bytes;
}

// The label of a uniform block, -1 for mixed bytes.
inline int Label(const std::vector<uint8_t>& block)
{
    return std::all_of(block.begin(), block.end(), [&](uint8_t b) { return b == block[0]; }) ? block[0] : -1;
}
