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
    guard_.Reset(CreateEventW(nullptr, FALSE, TRUE, nullptr));
}

void CPacketFifo::TakeGuard()
{
    lastWaitResult_ = static_cast<int>(WaitForSingleObject(guard_.get(), kGuardWaitMs));
}

int CPacketFifo::Push(const void* data, int count, int* overflow)
{
    bool dropped = false;
    bool chunkStored = false;
    if (valid() && count >= 0 && (data || count == 0)) {
        {
            std::lock_guard<CCriticalSection> hold(lock_);
            TakeGuard();
            dropped = AppendDroppingNewest(data_.get(), capacity_, fill_, static_cast<const uint8_t*>(data), count);
            chunkStored = fill_ >= chunk_;
        }
        if (chunkStored && notify_) SetEvent(notify_);
        SetEvent(guard_.get());
    }
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
        TakeGuard();
        if (fill_ >= chunk_) {
            TakeFront(data_.get(), fill_, static_cast<uint8_t*>(destination), chunk_);
            taken = true;
        } else if (notify_) {
            // Reset inside the lock: a push that completes a chunk after this point sets it again,
            // so a consumer sleeping on notify cannot miss that chunk.
            ResetEvent(notify_);
        }
    }
    if (taken && notify_) SetEvent(notify_);
    SetEvent(guard_.get());
    return taken ? chunk_ : 0;
}

void CPacketFifo::Clear()
{
    if (!valid()) return;
    {
        std::lock_guard<CCriticalSection> hold(lock_);
        TakeGuard();
        fill_ = 0;
    }
    SetEvent(guard_.get());
}
