// CEndpointRenderStream: the render direction. The engine's blocks queue in an adapter through
// Deliver, on whatever thread completed the capture set; the stream thread moves them into the
// device buffer, whole buffers when exclusive, whole packets as they fit when shared. A device
// streaming more channels than the engine's gets silence on the others. With a render source (a
// port that follows another's clock and only plays) the thread pulls the blocks itself as the
// device wants them, timed by the device's position.
#pragma once

#include "EndpointStream.h"

#include <veloran/CriticalSection.h>

#include <audioclient.h>

#include <atomic>
#include <cstdint>
#include <memory>

class CEndpointRenderStream final : public CEndpointStream {
public:
    CEndpointRenderStream(IDevicePlatform& platform, int shareMode, bool ntSixMode, bool tenOrLater);
    ~CEndpointRenderStream() override;

    // The hand-over opens once the stream has started and closes with the stop request, so that
    // nothing more queues for a stream on its way out.
    void OpenHandOver();
    void AskToStop() override;
    // Queues one block and wakes the stream when the queue overflowed. 1 when the block was
    // taken, 0 while the hand-over is closed.
    int Deliver(const void* block, int bytes);
    // The frames between the buffer switches that hand blocks over (the capture stream's packet);
    // 0 when nothing captures, the device's own periods then pacing them. Kept across opens.
    void PaceBy(int switchGrid) { switchGrid_.store(switchGrid, std::memory_order_relaxed); }

    // Exclusive, the device taking buffers of `buffer` frames every `period`, the switches
    // running every `grid` frames, from a common start: the frames from the first block's
    // hand-over to the period that takes it once no buffer comes short (every later block waits
    // as long), and the periods the first block is held at its first wake-up for that.
    struct Schedule {
        int wait;
        int heldPeriods;
    };
    static Schedule ScheduleOf(int host, int grid, int period, int buffer);

private:
    bool PrepareDirection(bool reinitialised) override;
    void Loop() override;
    void AddLatency(EndpointStreamInfo& info) const override;
    void ReleaseDirection() override;

    bool MakeAdapter();
    void LoopExclusive();
    void LoopShared();
    // Frames of silence queued: frames, or 0 when the buffer refused them.
    UINT32 WriteSilence(UINT32 frames);
    // With a render source: pulls blocks into the adapter until it holds `bytes`. staged: frames
    // taken from the adapter and not yet released to the device.
    void PullUntil(CPacketFifo& adapter, int bytes, UINT32 staged);
    Schedule ExclusiveSchedule() const;

    ComPtr<IAudioRenderClient> service_;
    // Deliver runs on other interfaces' capture threads; this keeps it off a stream that is being
    // stopped or released.
    CCriticalSection handOverLock_;
    bool handOver_ = false;
    std::unique_ptr<CPacketFifo> adapter_;
    std::unique_ptr<uint8_t[]> block_;  // shared: the chunk being written
    std::unique_ptr<uint8_t[]> placed_;  // an engine block among the device's other channels
    std::atomic<int> switchGrid_{0};
    // With a render source: the device's clock, its position units per second, the block being
    // pulled, the frames released to the device since the start (silence too), and the most the
    // device and the adapter hold between a pull and the block's first frame playing.
    ComPtr<IAudioClock> clock_;
    double clockFrequency_ = 0;
    std::unique_ptr<uint8_t[]> pulled_;
    int64_t released_ = 0;
    int queuedFrames_ = 0;
};
