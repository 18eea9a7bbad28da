// CClockFollower: one port whose interface runs on a clock of its own while the buffer switch
// follows another port's capture (the reference). Its capture stream hands packets here instead
// of to the aggregator, which pulls a block per switch through a resampler whose ratio tracks
// the port's clock; the host's outputs reach its render stream the same way, pulled at the pace
// of the port's own capture, which runs on the clock its outputs play on. A port that only plays
// has no capture to tell its clock: its render stream pulls its blocks itself, at its device's
// pace, stamped with the device's position.
//
// Threads: the port's capture thread writes capture and pulls render (a port that only plays:
// its render thread pulls render); the switch pulls capture (under the aggregator's lock) or
// marks its time; outputReady writes render. Each hand-over has one producer and one consumer and
// no lock; each loop is updated by the reference side only, once per switch.
#pragma once

#include "AdaptiveResampler.h"
#include "CaptureSink.h"
#include "DriftController.h"
#include "RenderSource.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>

class CCaptureAggregator;
class IDevicePlatform;
class IStreamBackend;

class CClockFollower final : public ICaptureSink, public IRenderSource {
public:
    // frames: the host buffer, which is also the streams' nominal packet. captureChannels 0 (the
    // port only plays), 1 or 2; renderChannels 0 (the port plays nothing), 1 or 2.
    CClockFollower(CCaptureAggregator& aggregator, IDevicePlatform& clock, double sampleRate, int frames,
                   int captureChannels, int renderChannels);
    CClockFollower(const CClockFollower&) = delete;
    CClockFollower& operator=(const CClockFollower&) = delete;

    bool valid() const;

    bool captures() const { return captureChannels_ > 0; }

    // Where the render blocks go when the port captures; set before the streams start.
    void SetRenderTarget(IStreamBackend* render) { renderTarget_ = render; }

    // The port's capture stream. Registering enters the port in the aggregator's sets as a
    // source it pulls from; the stream's packet size sets the backlog its hand-over keeps.
    int RegisterSource(const void* stream, int packetBytes, int nominalBytes) override;
    bool DeliverSource(const void* stream, const void* data, int count, double capturedAt = kCapturedNow) override;
    int UnregisterSource(const void* stream) override;

    // The switch: the port's capture block of `bytes` (a whole number of frames). capturedAt:
    // when the reference's block that brought the switch was captured.
    void PullCapture(uint8_t* block, int bytes, double capturedAt);
    // The switch of a port that does not capture: when the reference's block was captured.
    void MarkSwitch(double capturedAt);
    // outputReady: the host's render block for the port, counted as handed over when the switch
    // it belongs to began.
    void PushRender(const void* block, int bytes);
    // The render stream of a port that only plays, on its own thread.
    void PullRender(void* block, int bytes, double dueAt) override;

    // Frames each hand-over adds to the way through it: what it holds beyond the block in transit,
    // which grows with the capture stream's packets once it has registered.
    int delay() const { return int(std::lround(captureLoop_.setPoint())) - frames_; }
    // The same for a follower of that host buffer whose capture stream brings packets of
    // packetFrames (0: none, or the host buffer's), known before one is made.
    static int Delay(int frames, int packetFrames);
    // Packets refused and blocks pulled short since the flow began.
    uint64_t faultCount() const { return faults_.load(std::memory_order_relaxed); }

private:
    // A time on the platform's clock (now for kCapturedNow), in frames at the nominal rate.
    double Frames(double seconds) const;
    void Fault() { faults_.fetch_add(1, std::memory_order_relaxed); }

    CCaptureAggregator& aggregator_;
    IDevicePlatform& clock_;
    const double sampleRate_;
    const double origin_;
    const int frames_;
    const int captureChannels_;
    const int renderChannels_;
    std::unique_ptr<CAdaptiveResampler> capture_;
    CDriftController captureLoop_;
    std::unique_ptr<CAdaptiveResampler> render_;
    CDriftController renderLoop_;
    IStreamBackend* renderTarget_ = nullptr;
    const void* stream_ = nullptr;
    bool captureFlowing_ = false;  // the switch's side
    std::atomic<bool> renderFlowing_{false};  // set by the render stream's side
    std::atomic<uint64_t> faults_{0};
    std::atomic<double> switchTime_{0};  // of the last switch's block, set by PullCapture
    std::unique_ptr<int16_t[]> renderBlock_;
};
