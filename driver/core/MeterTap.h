// A copy of one channel's samples for the control panel's level display: one buffer and one
// auto-reset event per buffer half, so that the meter thread reads what the engine last wrote.
#pragma once

#include <veloran/UniqueHandle.h>

#include <windows.h>
#include <cstdint>
#include <cstring>

class CMeterTap {
public:
    static constexpr int kBytes = 4096;

    CMeterTap()
    {
        for (auto& event : events_) event.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    }

    void Copy(int index, const void* samples, int bytes)
    {
        if (index < 0 || index > 1) return;
        memcpy(buffers_[index], samples, static_cast<size_t>(bytes < kBytes ? bytes : kBytes));
        SetEvent(events_[index].get());
    }

    HANDLE event(int index) const { return events_[index].get(); }
    const uint8_t* buffer(int index) const { return buffers_[index]; }

private:
    UniqueHandle events_[2];
    uint8_t buffers_[2][kBytes] = {};
};
