// CAdaptiveResampler: the hand-over of one port direction between two clocks. A producer
// writes 16-bit frames of its clock into a ring; a consumer pulls exactly the frames its own
// clock asks for, read at `ratio` input frames per output frame through a windowed-sinc
// polyphase filter. One producer thread and one consumer thread, no lock: the ring's two ends
// are atomics. All memory is taken at construction; Write and Produce never allocate or block.
//
// Each output frame is the input interpolated at the read position, which advances by the
// ratio; the filter needs kDelayFrames of input beyond it, its group delay. The backlog (frames
// written minus the read position) is the delay a frame spends in the hand-over: in lock-step
// at ratio 1 with nothing buffered beyond the filter's need, input frame n comes out as output
// frame n + kDelayFrames.
#pragma once

#include "PolyphaseFilter.h"
#include "ProgressMark.h"

#include <atomic>
#include <cstdint>
#include <memory>

class CAdaptiveResampler {
public:
    static constexpr int kMaxBlock = 2048;          // frames of one Write or Produce
    static constexpr double kMaxDeviation = 0.002;  // ratio within 1 ± this
    static constexpr int kDelayFrames = CPolyphaseFilter::kTaps / 2;
    static constexpr double kNoStamp = CProgressMark::kNoStamp;

    // Which side runs on the device's clock (the other on the reference's): a capture stream's
    // producer, a render stream's consumer.
    enum class DeviceSide { Producer, Consumer };

    // channels 1 or 2. capacityFrames bounds what the ring holds (written frames not yet read,
    // plus the filter's history); it is rounded up to a power of two. Produce outputs silence
    // until the backlog first reaches startBacklog, then skips what was written beyond it, so
    // that the stream starts with exactly that delay.
    CAdaptiveResampler(int channels, int capacityFrames, int startBacklog, DeviceSide deviceSide);
    CAdaptiveResampler(const CAdaptiveResampler&) = delete;
    CAdaptiveResampler& operator=(const CAdaptiveResampler&) = delete;

    bool valid() const { return ring_ != nullptr; }
    int channels() const { return channels_; }

    // Empties the ring (leaving the filter's history silent), ratio 1, waiting for startBacklog
    // again, or for a new one. Neither side may run meanwhile.
    void Reset();
    void Reset(int startBacklog);

    // Producer. Stores frames (at most kMaxBlock) whole, or nothing when they do not fit: false
    // is a dropped packet. now: when the call happens (for a capturing device, when the last of
    // these frames was captured). lateFrames: how long after its frames' time the next call may
    // come as well (a stream that regroups device packets hands a block over up to a device
    // period after its last frame); the side counts as going on for that long too.
    bool Write(const int16_t* in, int frames, double now = kNoStamp, int lateFrames = 0);

    // Either side. Input frames per output frame, clamped to 1 ± kMaxDeviation; the next
    // Produce reads at it.
    void SetRatio(double ratio);
    double ratio() const { return ratio_.load(std::memory_order_relaxed); }

    // Consumer. Writes `frames` (at most kMaxBlock) frames to out. Returns how many came from
    // input: the rest, on an underrun, is silence and the read position stops where the input
    // ends; while waiting for the start backlog all of it is silence and 0 is returned. now: when
    // the call happens (for a rendering device, when the first of these frames plays).
    int Produce(int16_t* out, int frames, double now = kNoStamp, int lateFrames = 0);

    // Any thread. Frames written minus the read position at `now`: the delay a frame spends in
    // the hand-over. `now` and the stamps of Write and Produce are times in frames of the
    // reference clock (the reference device's position, read against the performance counter).
    // A stamped side counts as going on steadily after its last call, by at most that call's
    // frames (a stalled side does not), so the figure neither jumps with packets nor depends on
    // when it is read; unstamped calls count at once.
    double Backlog(double now = kNoStamp) const { return written_.At(now) - read_.At(now); }

private:
    // Output frames that the input written so far can make at ratio, at most `frames`.
    int Available(int64_t written, int frames, double ratio) const;
    void Advance(double frames);
    // Input frames per reference frame while a side goes on between its calls.
    double InputRate() const;
    // Copies input frames first .. first + count - 1 to staged_ as float, one channel at a time.
    void Stage(int64_t first, int count);
    // The first `made` output frames from the staged input.
    template <int kChannels>
    void Filter(int16_t* out, int made, double ratio);

    const int channels_;
    int startBacklog_;
    const DeviceSide deviceSide_;
    int capacity_ = 0;  // frames, a power of two
    std::unique_ptr<int16_t[]> ring_;
    std::unique_ptr<float[]> staged_;  // one channel after the other, kStagedFrames each
    const CPolyphaseFilter& filter_;

    std::atomic<int64_t> writtenFrames_{0};  // by the producer: frames in the ring so far
    std::atomic<int64_t> retainedFrom_{0};   // by the consumer: oldest frame it still needs

    // Consumer's state: read position = readFrame_ + readFraction_.
    int64_t readFrame_ = 0;
    double readFraction_ = 0;
    std::atomic<double> ratio_{1};  // set by either side
    bool started_ = false;

    CProgressMark written_;
    CProgressMark read_;
};
