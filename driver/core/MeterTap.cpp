#include "MeterTap.h"

#include <algorithm>
#include <cstring>

CMeterTap::CMeterTap()
{
    for (Half& half : halves_) half.copied.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
}

void CMeterTap::Copy(int index, const void* samples, int bytes)
{
    if (index < 0 || index > 1) return;
    Half& half = halves_[index];
    std::memcpy(half.bytes, samples, static_cast<size_t>(std::clamp(bytes, 0, kBytes)));
    // Counted before the announcement is read, while the reader announces before it reads the
    // count: a copy that the reader's check misses finds the reader announced, and signals.
    half.copies.fetch_add(1);
    if (half.readerWaits.load()) SetEvent(half.copied.get());
}

uint32_t CMeterTap::copies(int index) const
{
    return index < 0 || index > 1 ? 0 : halves_[index].copies.load();
}

bool CMeterTap::WaitForCopy(int index, uint32_t seen, DWORD timeoutMs) const
{
    if (index < 0 || index > 1) return false;
    const Half& half = halves_[index];
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        half.readerWaits.store(true);
        if (half.copies.load() != seen) {
            half.readerWaits.store(false);
            return true;
        }
        const ULONGLONG now = GetTickCount64();
        const DWORD left = timeoutMs == INFINITE ? INFINITE : now < deadline ? DWORD(deadline - now) : 0;
        const DWORD woken = WaitForSingleObject(half.copied.get(), left);
        half.readerWaits.store(false);
        if (woken != WAIT_OBJECT_0) return false;
        // A signal left from a copy the reader had already counted wakes it early: it waits again.
        if (half.copies.load() != seen) return true;
    }
}
