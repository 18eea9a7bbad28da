#include "ClockFollower.h"

#include "CaptureAggregator.h"

#include "../devices/DevicePlatform.h"
#include "../devices/StreamBackend.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

// The backlog each hand-over keeps: the side that waits for the other's next block may find up
// to a host buffer and `late` frames less than the figure says, the filter needs its delay and
// one frame beyond, and 24 frames of headroom absorb a 500 ppm step.
constexpr int kHeadroom = 24;
int SetPoint(int frames, int late) { return frames + late + CAdaptiveResampler::kDelayFrames + 1 + kHeadroom; }
// How long after its time a block may reach the follower: a device period of up to about 40 ms,
// whose packets the stream regroups into host-sized blocks.
constexpr int kLateFrames = 2048;
// How far behind its stamps a capture stream's delivery may be when a switch pulls: a packet the
// size of the host buffer, or a device packet regrouped into host-sized blocks, which waits for
// the device packet that completes it (up to a host buffer more) and is then a packet late.
int CaptureLate(int frames, int packetFrames)
{
    return packetFrames == frames ? frames : std::min(packetFrames + frames, kLateFrames + frames);
}
// Room for the set point of the latest stream, the filter's history, and as many blocks again as
// the aggregator keeps for a port whose other side is held up (a host's switch running long).
int Capacity(int frames)
{
    return SetPoint(frames, CaptureLate(frames, kLateFrames)) + CPolyphaseFilter::kTaps +
           CCaptureAggregator::kSourcePackets * frames;
}

}  // namespace

CClockFollower::CClockFollower(CCaptureAggregator& aggregator, IDevicePlatform& clock, double sampleRate, int frames,
                               int captureChannels, int renderChannels)
    : aggregator_(aggregator), clock_(clock), sampleRate_(sampleRate), origin_(clock.Seconds()), frames_(frames),
      captureChannels_(captureChannels), renderChannels_(renderChannels),
      captureLoop_(sampleRate, frames, SetPoint(frames, frames)), renderLoop_(sampleRate, frames, SetPoint(frames, frames))
{
    if (captureChannels > 0)
        capture_.reset(new (std::nothrow) CAdaptiveResampler(captureChannels, Capacity(frames), SetPoint(frames, frames),
                                                             CAdaptiveResampler::DeviceSide::Producer));
    if (renderChannels > 0) {
        render_.reset(new (std::nothrow) CAdaptiveResampler(renderChannels, Capacity(frames), SetPoint(frames, frames),
                                                            CAdaptiveResampler::DeviceSide::Consumer));
        renderBlock_.reset(new (std::nothrow) int16_t[size_t(frames) * renderChannels]);
    }
}

bool CClockFollower::valid() const
{
    const bool framesFit = frames_ > 0 && frames_ <= CAdaptiveResampler::kMaxBlock;
    const bool captureReady = captureChannels_ == 0 || (capture_ && capture_->valid());
    const bool renderReady = renderChannels_ == 0 || (render_ && render_->valid() && renderBlock_);
    return framesFit && (captureChannels_ > 0 || renderChannels_ > 0) && captureReady && renderReady;
}

double CClockFollower::Frames(double seconds) const
{
    return ((std::isnan(seconds) ? clock_.Seconds() : seconds) - origin_) * sampleRate_;
}

int CClockFollower::RegisterSource(const void* stream, int packetBytes, int nominalBytes)
{
    const int frameBytes = 2 * captureChannels_;
    if (!valid() || !captures() || !stream || stream_ || nominalBytes != frames_ * frameBytes) return 0;
    if (packetBytes <= 0 || packetBytes % frameBytes) return 0;
    // The stream is not running yet: the capture side may wait for its own set point.
    const int setPoint = SetPoint(frames_, CaptureLate(frames_, packetBytes / frameBytes));
    capture_->Reset(setPoint);
    captureLoop_.Reset(setPoint);
    // The render hand-over is pulled as the stream's packets come, a packet at a time.
    if (render_) {
        render_->Reset(setPoint);
        renderLoop_.Reset(setPoint);
    }
    captureFlowing_ = false;
    if (!aggregator_.RegisterPulledSource(this, nominalBytes)) return 0;
    stream_ = stream;
    return 1;
}

bool CClockFollower::DeliverSource(const void* stream, const void* data, int count, double capturedAt)
{
    const int frameBytes = 2 * captureChannels_;
    if (stream != stream_ || !stream_ || count < 0 || count % frameBytes || (!data && count > 0)) return false;
    const int frames = count / frameBytes;
    const double captured = Frames(capturedAt);
    // Blocks beyond the resampler's size (a device packet larger than any host buffer) go in parts.
    for (int done = 0; done < frames;) {
        const int part = std::min(frames - done, CAdaptiveResampler::kMaxBlock);
        const auto* from = static_cast<const int16_t*>(data) + size_t(done) * captureChannels_;
        if (!capture_->Write(from, part, captured - (frames - done - part), kLateFrames)) Fault();
        done += part;
    }
    // What this packet's time plays: the render hand-over is pulled on the port's own clock.
    if (!render_ || !renderTarget_) return true;
    for (int done = 0; done < frames;) {
        const int part = std::min(frames - done, frames_);
        const int made = render_->Produce(renderBlock_.get(), part, captured, kLateFrames);
        if (made > 0) renderFlowing_.store(true, std::memory_order_relaxed);
        if (made < part && renderFlowing_.load(std::memory_order_relaxed)) Fault();
        renderTarget_->DeliverRender(renderBlock_.get(), part * 2 * renderChannels_);
        done += part;
    }
    return true;
}

int CClockFollower::UnregisterSource(const void* stream)
{
    if (stream != stream_ || !stream_) return 0;
    return aggregator_.UnregisterSource(this);
}

void CClockFollower::PullCapture(uint8_t* block, int bytes, double capturedAt)
{
    const int frames = std::min(bytes / (2 * captureChannels_), frames_);
    const double now = Frames(capturedAt);
    switchTime_.store(now, std::memory_order_relaxed);
    const int made = capture_->Produce(reinterpret_cast<int16_t*>(block), frames, now);
    captureFlowing_ = captureFlowing_ || made > 0;
    if (!captureFlowing_) return;  // the loop learns from the flow only
    if (made < frames) Fault();
    capture_->SetRatio(captureLoop_.Update(capture_->Backlog(now)));
}

void CClockFollower::MarkSwitch(double capturedAt)
{
    switchTime_.store(Frames(capturedAt), std::memory_order_relaxed);
}

void CClockFollower::PushRender(const void* block, int bytes)
{
    if (!render_) return;
    const int frames = std::min(bytes / (2 * renderChannels_), frames_);
    const double now = switchTime_.load(std::memory_order_relaxed);
    if (!render_->Write(static_cast<const int16_t*>(block), frames, now, kLateFrames)) Fault();
    if (renderFlowing_.load(std::memory_order_relaxed)) render_->SetRatio(renderLoop_.Update(render_->Backlog(now)));
}

void CClockFollower::PullRender(void* block, int bytes, double dueAt)
{
    if (!render_ || !block || bytes <= 0) return;
    const int frameBytes = 2 * renderChannels_;
    const int frames = std::min(bytes / frameBytes, frames_);
    const int made = render_->Produce(static_cast<int16_t*>(block), frames, Frames(dueAt), kLateFrames);
    if (made > 0) renderFlowing_.store(true, std::memory_order_relaxed);
    if (made < frames && renderFlowing_.load(std::memory_order_relaxed)) Fault();
    std::memset(static_cast<uint8_t*>(block) + frames * frameBytes, 0, size_t(bytes - frames * frameBytes));
}

int CClockFollower::Delay(int frames, int packetFrames)
{
    return SetPoint(frames, CaptureLate(frames, packetFrames > 0 ? packetFrames : frames)) - frames;
}
