// Byte backlogs kept oldest first at the front of a fixed buffer, shared by CPacketFifo and the
// capture aggregator's sources. Neither function allocates.
#pragma once

#include <cstdint>
#include <cstring>

// Appends count bytes. When fill + count reaches capacity, the newest stored bytes make room:
// fill first drops by count (not below 0). A block longer than the whole buffer keeps only its
// newest capacity bytes. Returns whether stored bytes were dropped.
inline bool AppendDroppingNewest(uint8_t* buffer, int capacity, int& fill, const uint8_t* data, int count)
{
    if (count <= 0) return false;
    if (count < capacity - fill) {
        std::memcpy(buffer + fill, data, count);
        fill += count;
        return false;
    }
    if (count >= capacity) {
        std::memcpy(buffer, data + (count - capacity), capacity);
        fill = capacity;
        return true;
    }
    fill = fill > count ? fill - count : 0;
    std::memcpy(buffer + fill, data, count);
    fill += count;
    return true;
}

// Moves the oldest count bytes (count <= fill) to destination and the rest to the front.
inline void TakeFront(uint8_t* buffer, int& fill, uint8_t* destination, int count)
{
    std::memcpy(destination, buffer, count);
    fill -= count;
    std::memmove(buffer, buffer + count, fill);
}
