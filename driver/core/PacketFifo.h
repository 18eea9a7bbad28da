// CPacketFifo: a byte FIFO of ten consumer chunks between one producer and one consumer thread,
// with its own lock. All memory is taken at construction; push, pop and clear never allocate.
#pragma once

#include <veloran/CriticalSection.h>

#include <windows.h>
#include <cstdint>
#include <memory>

class CPacketFifo {
public:
    static constexpr int kChunks = 10;

    // inputPacket is the producer's packet size (recorded only), chunk the consumer's. notify, when
    // not null, is signalled as chunks come and go; it is not owned and must outlive the FIFO. A
    // consumer sleeps on it only after a Pop found less than a chunk.
    CPacketFifo(int inputPacket, int chunk, HANDLE notify);
    CPacketFifo(const CPacketFifo&) = delete;
    CPacketFifo& operator=(const CPacketFifo&) = delete;

    // False when chunk is unusable or the buffer could not be made; every operation is then a
    // no-op that returns 0.
    bool valid() const { return data_ != nullptr; }

    // Appends count bytes. When they would reach the capacity, the newest stored bytes make room
    // and *overflow (when given) is set to 1, else 0. Returns 1 when at least one chunk is stored.
    int Push(const void* data, int count, int* overflow = nullptr);
    // Moves the oldest chunk to destination. Returns chunk, or 0 when less than a chunk is stored.
    int Pop(void* destination);
    void Clear();

    // Bytes stored now.
    int Fill();
    int capacity() const { return capacity_; }
    int inputPacket() const { return inputPacket_; }
    int chunk() const { return chunk_; }

private:
    CCriticalSection lock_;
    int capacity_ = 0;
    int inputPacket_ = 0;
    int chunk_ = 0;
    std::unique_ptr<uint8_t[]> data_;
    int fill_ = 0;
    HANDLE notify_ = nullptr;
    // Set when a short pop reset notify, so that a consumer may be asleep on it; cleared by the
    // push that signals it again.
    bool consumerMaySleep_ = true;
};
