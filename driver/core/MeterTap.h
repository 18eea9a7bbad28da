// A copy of one channel's samples for the control panel's level display: one buffer per buffer
// half, so that the meter thread reads what the engine last wrote. Each half counts its copies;
// the engine signals the half's event only while the reader announced that it waits, so that no
// copy costs a kernel call while nobody looks.
#pragma once

#include <veloran/UniqueHandle.h>

#include <windows.h>
#include <atomic>
#include <cstdint>

class CMeterTap {
public:
    static constexpr int kBytes = 4096;

    CMeterTap();

    // Engine side: copies up to kBytes into half index (0 or 1).
    void Copy(int index, const void* samples, int bytes);

    // Reader side, one reader at a time. copies() counts the copies into a half; WaitForCopy
    // returns true once that count differs from seen, false when timeoutMs passed first.
    uint32_t copies(int index) const;
    bool WaitForCopy(int index, uint32_t seen, DWORD timeoutMs) const;
    const uint8_t* buffer(int index) const { return halves_[index].bytes; }

private:
    struct Half {
        UniqueHandle copied;  // auto-reset
        std::atomic<uint32_t> copies{0};
        mutable std::atomic<bool> readerWaits{false};
        uint8_t bytes[kBytes] = {};
    };
    Half halves_[2];
};
