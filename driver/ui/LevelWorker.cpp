#include "LevelWorker.h"

#include "MixaraLikeLevelMeter.h"

#include <algorithm>

int CLevelWorker::PeakLevel(const int16_t* samples, int count, int stride)
{
    int peak = 0;
    for (int i = 0; i < count; ++i) peak = std::max(peak, std::abs(int(samples[i * stride])));
    return std::min(peak, 32767) * 100 / 32767;
}

bool CLevelWorker::Start(std::vector<Route> routes, int frames, std::shared_ptr<void> owner)
{
    if (running()) return true;
    auto state = std::make_unique<State>();
    state->routes = std::move(routes);
    state->frames = frames;
    state->owner = std::move(owner);
    state->stop.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!state->stop.valid()) return false;
    thread_.Reset(CreateThread(nullptr, 0, &Run, state.get(), CREATE_SUSPENDED, nullptr));
    if (!thread_.valid()) return false;
    SetThreadPriority(thread_.get(), THREAD_PRIORITY_LOWEST);
    state_ = std::move(state);
    ResumeThread(thread_.get());
    return true;
}

bool CLevelWorker::Stop()
{
    if (!running()) return true;
    SetEvent(state_->stop.get());
    const bool joined = WaitForSingleObject(thread_.get(), kStopWaitMs) == WAIT_OBJECT_0;
    // A thread still inside its loop uses its state and the meters it holds: those are left to it
    // for good.
    if (!joined) static_cast<void>(state_.release());
    state_.reset();
    thread_.Reset();
    return joined;
}

DWORD WINAPI CLevelWorker::Run(void* context)
{
    const State& state = *static_cast<const State*>(context);
    const std::vector<Route>& routes = state.routes;
    // Each route's copy counts of both halves as last shown.
    std::vector<uint32_t> seen(routes.size() * 2);
    for (size_t r = 0; r < routes.size(); ++r)
        for (int half = 0; half < 2; ++half) seen[r * 2 + half] = routes[r].tap->copies(half);
    const int bytesPerSample = sizeof(int16_t);

    for (int waitHalf = 0;; waitHalf ^= 1) {
        const DWORD stop = WaitForSingleObject(state.stop.get(), routes.empty() ? INFINITE : 0);
        if (stop != WAIT_TIMEOUT) break;  // asked to stop, or the wait failed
        // Both halves alternate: a bounded wait on one of the first route's halves paces the
        // loop, and the other routes are looked at either way.
        routes.front().tap->WaitForCopy(waitHalf, seen[waitHalf], kCopyWaitMs);
        for (size_t r = 0; r < routes.size(); ++r) {
            const Route& route = routes[r];
            for (int half = 0; half < 2; ++half) {
                const uint32_t copies = route.tap->copies(half);
                if (copies == seen[r * 2 + half]) continue;
                seen[r * 2 + half] = copies;
                const int count = std::min(state.frames, CMeterTap::kBytes / bytesPerSample / route.stride);
                const auto* samples = reinterpret_cast<const int16_t*>(route.tap->buffer(half)) + route.offset;
                int level = PeakLevel(samples, count, route.stride);
                if (route.scale) level = MulDiv(level, route.scale->load(), 100);
                route.shown->store(level);
                route.meter->SetLevel(level);
            }
        }
    }
    return 0;
}
