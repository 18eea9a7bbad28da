#include "PacketFifo.h"

#include "PacketBytes.h"

#include <climits>
#include <mutex>
#include <new>

CPacketFifo::CPacketFifo(int inputPacket, int chunk, HANDLE notify)
    : inputPacket_(inputPacket), notify_(notify == INVALID_HANDLE_VALUE ? nullptr : notify)
{
    if (chunk <= 0 || chunk > INT_MAX / kChunks) return;
    chunk_ = chunk;
    capacity_ = kChunks * chunk;
    data_.reset(new (std::nothrow) uint8_t[capacity_]);
}

int CPacketFifo::Push(const void* data, int count, int* overflow)
{
    bool dropped = false;
    bool chunkStored = false;
    bool wake = false;
    if (valid() && count >= 0 && (data || count == 0)) {
        std::lock_guard<CCriticalSection> hold(lock_);
        dropped = AppendDroppingNewest(data_.get(), capacity_, fill_, static_cast<const uint8_t*>(data), count);
        chunkStored = fill_ >= chunk_;
        // Once signalled, notify needs no further signal until a short pop resets it: a consumer
        // that took the signal pops (and so finds this chunk) before it sleeps again. An event
        // wait or signal costs a wineserver round trip, once per push otherwise.
        wake = chunkStored && consumerMaySleep_ && notify_;
        if (wake) consumerMaySleep_ = false;
    }
    if (wake) SetEvent(notify_);
    if (overflow) *overflow = dropped ? 1 : 0;
    return chunkStored ? 1 : 0;
}

int CPacketFifo::Fill()
{
    std::lock_guard<CCriticalSection> hold(lock_);
    return fill_;
}

int CPacketFifo::Pop(void* destination)
{
    if (!valid() || !destination) return 0;
    bool taken = false;
    {
        std::lock_guard<CCriticalSection> hold(lock_);
        if (fill_ >= chunk_) {
            TakeFront(data_.get(), fill_, static_cast<uint8_t*>(destination), chunk_);
            taken = true;
        } else if (notify_) {
            // Reset inside the lock: a push that completes a chunk after this point sets it again,
            // so a consumer sleeping on notify cannot miss that chunk.
            ResetEvent(notify_);
            consumerMaySleep_ = true;
        }
    }
    if (taken && notify_) SetEvent(notify_);
    return taken ? chunk_ : 0;
}

void CPacketFifo::Clear()
{
    if (!valid()) return;
    std::lock_guard<CCriticalSection> hold(lock_);
    fill_ = 0;
}
