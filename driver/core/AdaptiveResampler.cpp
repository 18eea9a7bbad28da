#include "AdaptiveResampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include <xmmintrin.h>

namespace {

constexpr int kTaps = CPolyphaseFilter::kTaps;
constexpr int kHalf = kTaps / 2;
// Input frames one Produce can touch: its span at the highest ratio plus the filter's width.
constexpr int kStagedFrames = int(CAdaptiveResampler::kMaxBlock * (1 + CAdaptiveResampler::kMaxDeviation)) + kTaps + 2;

int16_t ToSample(float value)
{
    const float rounded = value + (value >= 0 ? 0.5f : -0.5f);
    if (rounded >= 32767.0f) return 32767;
    if (rounded <= -32768.0f) return -32768;
    return int16_t(rounded);
}

}  // namespace

CAdaptiveResampler::CAdaptiveResampler(int channels, int capacityFrames, int startBacklog, DeviceSide deviceSide)
    : channels_(channels == 1 ? 1 : 2), startBacklog_(startBacklog), deviceSide_(deviceSide),
      filter_(CPolyphaseFilter::Shared())
{
    if ((channels != 1 && channels != 2) || capacityFrames <= kTaps || capacityFrames > (1 << 24)) return;
    capacity_ = 1;
    while (capacity_ < capacityFrames) capacity_ *= 2;
    staged_.reset(new (std::nothrow) float[size_t(kStagedFrames) * channels_]);
    if (staged_) ring_.reset(new (std::nothrow) int16_t[size_t(capacity_) * channels_]);
    if (ring_) Reset();
}

void CAdaptiveResampler::Reset()
{
    if (!valid()) return;
    // 2 × kHalf - 1 silent frames: the first output then reads frame kHalf - 1 with its whole
    // history in place, and needs exactly one input frame beyond them.
    constexpr int silent = kTaps - 1;
    std::memset(ring_.get(), 0, sizeof(int16_t) * silent * channels_);
    readFrame_ = kHalf - 1;
    readFraction_ = 0;
    ratio_.store(1, std::memory_order_relaxed);
    started_ = false;
    retainedFrom_.store(0, std::memory_order_relaxed);
    writtenFrames_.store(silent, std::memory_order_release);
    written_.Publish(silent, kNoStamp, 0);
    read_.Publish(double(readFrame_), kNoStamp, 0);
}

void CAdaptiveResampler::Reset(int startBacklog)
{
    startBacklog_ = startBacklog;
    Reset();
}

bool CAdaptiveResampler::Write(const int16_t* in, int frames, double now, int lateFrames)
{
    if (!valid() || frames < 0 || frames > kMaxBlock || (frames && !in)) return false;
    const int64_t written = writtenFrames_.load(std::memory_order_relaxed);
    if (written + frames - retainedFrom_.load(std::memory_order_acquire) > capacity_) return false;
    const int64_t start = written & (capacity_ - 1);
    const int64_t first = std::min<int64_t>(frames, capacity_ - start);
    std::memcpy(ring_.get() + start * channels_, in, sizeof(int16_t) * first * channels_);
    std::memcpy(ring_.get(), in + first * channels_, sizeof(int16_t) * (frames - first) * channels_);
    writtenFrames_.store(written + frames, std::memory_order_release);
    written_.Publish(double(written + frames), now, frames + std::max(lateFrames, 0), InputRate());
    return true;
}

double CAdaptiveResampler::InputRate() const
{
    // Input on the device's clock runs at the ratio the consumer has locked on to; taking the
    // nominal rate instead would make the backlog saw by up to a packet × the clock error.
    return deviceSide_ == DeviceSide::Producer ? ratio_.load(std::memory_order_relaxed) : 1.0;
}

void CAdaptiveResampler::SetRatio(double ratio)
{
    if (std::isnan(ratio)) return;
    ratio_.store(std::clamp(ratio, 1 - kMaxDeviation, 1 + kMaxDeviation), std::memory_order_relaxed);
}

int CAdaptiveResampler::Available(int64_t written, int frames, double ratio) const
{
    // Output m reads input up to readFrame_ + floor(readFraction_ + m × ratio) + kHalf.
    const int64_t last = written - 1 - kHalf - readFrame_;
    if (last < 0) return 0;
    const double reach = double(std::min<int64_t>(last, kStagedFrames)) + 1;
    int count = std::min(frames, int(std::ceil((reach - readFraction_) / ratio)));
    while (count > 0 && readFraction_ + (count - 1) * ratio >= reach) --count;
    return std::max(count, 0);
}

void CAdaptiveResampler::Stage(int64_t first, int count)
{
    const int16_t* ring = ring_.get();
    for (int c = 0; c < channels_; ++c) {
        float* to = staged_.get() + size_t(c) * kStagedFrames;
        for (int i = 0; i < count; ++i) to[i] = ring[((first + i) & (capacity_ - 1)) * channels_ + c];
    }
}

template <int kChannels>
void CAdaptiveResampler::Filter(int16_t* out, int made, double ratio)
{
    static_assert(kTaps % 8 == 0);
    for (int m = 0; m < made; ++m) {
        const double position = readFraction_ + m * ratio;
        const int whole = int(position);
        const CPolyphaseFilter::Span span = filter_.At(position - whole);
        const __m128 between = _mm_set1_ps(span.between);
        const float* in[kChannels];
        __m128 sums[kChannels][2];
        for (int c = 0; c < kChannels; ++c) {
            in[c] = staged_.get() + size_t(c) * kStagedFrames + whole;
            sums[c][0] = sums[c][1] = _mm_setzero_ps();
        }
        // Coefficients interpolated four at a time in registers, shared by the channels.
        for (int k = 0; k < kTaps; k += 8) {
            const __m128 t0 = _mm_add_ps(_mm_load_ps(span.coefficients + k),
                                         _mm_mul_ps(between, _mm_load_ps(span.slopes + k)));
            const __m128 t1 = _mm_add_ps(_mm_load_ps(span.coefficients + k + 4),
                                         _mm_mul_ps(between, _mm_load_ps(span.slopes + k + 4)));
            for (int c = 0; c < kChannels; ++c) {
                sums[c][0] = _mm_add_ps(sums[c][0], _mm_mul_ps(t0, _mm_loadu_ps(in[c] + k)));
                sums[c][1] = _mm_add_ps(sums[c][1], _mm_mul_ps(t1, _mm_loadu_ps(in[c] + k + 4)));
            }
        }
        for (int c = 0; c < kChannels; ++c) {
            __m128 sum = _mm_add_ps(sums[c][0], sums[c][1]);
            sum = _mm_add_ps(sum, _mm_movehl_ps(sum, sum));
            sum = _mm_add_ss(sum, _mm_shuffle_ps(sum, sum, 1));
            out[m * kChannels + c] = ToSample(_mm_cvtss_f32(sum));
        }
    }
}

void CAdaptiveResampler::Advance(double frames)
{
    const double advanced = readFraction_ + frames;
    const double whole = std::floor(advanced);
    readFrame_ += int64_t(whole);
    readFraction_ = advanced - whole;
    retainedFrom_.store(readFrame_ - kHalf + 1, std::memory_order_release);
}

int CAdaptiveResampler::Produce(int16_t* out, int frames, double now, int lateFrames)
{
    if (!valid() || !out || frames <= 0 || frames > kMaxBlock) return 0;
    if (!started_) {
        const double backlog = Backlog(now);
        started_ = backlog >= startBacklog_;
        // Never past what is written: the part of the backlog a device has yet to deliver stays.
        const double stored =
            double(writtenFrames_.load(std::memory_order_acquire)) - (double(readFrame_) + readFraction_);
        if (started_) Advance(std::clamp(backlog - startBacklog_, 0.0, std::max(0.0, stored)));
    }
    const double before = double(readFrame_) + readFraction_;
    const double ratio = ratio_.load(std::memory_order_relaxed);
    const int made = started_ ? Available(writtenFrames_.load(std::memory_order_acquire), frames, ratio) : 0;
    if (made > 0) {
        const int reach = int(readFraction_ + (made - 1) * ratio);
        Stage(readFrame_ - kHalf + 1, reach + kTaps);
        if (channels_ == 2) Filter<2>(out, made, ratio);
        else Filter<1>(out, made, ratio);
        Advance(made * ratio);
    }
    std::memset(out + made * channels_, 0, sizeof(int16_t) * (frames - made) * channels_);
    // Stamped, these frames are used from now on; unstamped, they are gone. A side still waiting
    // for its start backlog reads nothing until its next call.
    if (std::isnan(now)) read_.Publish(double(readFrame_) + readFraction_, kNoStamp, 0);
    else read_.Publish(before, now, started_ ? (made + std::max(lateFrames, 0)) * ratio : 0, InputRate());
    return made;
}
