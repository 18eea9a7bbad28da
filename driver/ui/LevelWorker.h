// CLevelWorker: the control panel's meter thread. It reads the engine's meter copies and hands
// each buffer's peak to a meter through the meter's own thread-safe SetLevel. It runs at the
// lowest priority, blocks while there is nothing to show, and never writes driver data.
#pragma once

#include "../core/MeterTap.h"

#include <veloran/UniqueHandle.h>

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class CMixaraLikeLevelMeter;

class CLevelWorker {
public:
    static constexpr DWORD kStopWaitMs = 1000;
    // How long one wait for a copy lasts before the stop request is looked at again.
    static constexpr DWORD kCopyWaitMs = 50;

    // One meter fed by one channel of 16-bit samples. With stride 2 the tap holds interleaved
    // pairs and offset picks the side; scale, when set, is the fader in percent the peak follows;
    // shown receives every level given to the meter.
    struct Route {
        const CMeterTap* tap = nullptr;
        int stride = 1;
        int offset = 0;
        CMixaraLikeLevelMeter* meter = nullptr;
        const std::atomic<int>* scale = nullptr;
        std::atomic<int>* shown = nullptr;
    };

    CLevelWorker() = default;
    ~CLevelWorker() { Stop(); }
    CLevelWorker(const CLevelWorker&) = delete;
    CLevelWorker& operator=(const CLevelWorker&) = delete;

    // frames: samples per channel in one copy; owner keeps what the routes point to alive for as
    // long as the thread may use it. False when the thread could not be made; a worker already
    // running keeps its routes.
    bool Start(std::vector<Route> routes, int frames, std::shared_ptr<void> owner);
    // Joins the thread, waiting at most kStopWaitMs. A thread that outlives the wait keeps its
    // state, which is then never freed. False in that case.
    bool Stop();
    bool running() const { return thread_.valid(); }

    // The peak magnitude of count samples taken every stride, as a level 0..100.
    static int PeakLevel(const int16_t* samples, int count, int stride);

private:
    struct State {
        std::vector<Route> routes;
        int frames = 0;
        std::shared_ptr<void> owner;
        UniqueHandle stop;
    };
    static DWORD WINAPI Run(void* state);

    std::unique_ptr<State> state_;
    UniqueHandle thread_;
};
