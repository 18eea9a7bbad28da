#include <core/AdaptiveResampler.h>
#include <core/DriftController.h>
#include <core/ProgressMark.h>

#include "../support/SineFit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

namespace {

using Side = CAdaptiveResampler::DeviceSide;
constexpr double kRate = 48000;
constexpr int kSwitch = 256;  // reference frames per buffer switch
constexpr int kPacket = 480;  // device frames per packet: 10 ms, not a multiple of the switch
constexpr int kDelay = CAdaptiveResampler::kDelayFrames;
constexpr int kCapacity = 1024;
// With both sides stamped the backlog runs smoothly between calls. Whichever side waits for
// the other's next call finds up to a switch or a packet less written than the backlog says,
// and needs the filter's look-ahead beyond what it takes: the set point covers that plus 24
// frames of headroom; the ring holds some 200 frames more. The stream starts there.
constexpr double kSetPoint = kSwitch + kPacket + kDelay + 1 + 24;

// A device clock's rate error (relative) over time: a constant, a slow swing and a step.
struct Clock {
    double error = 0;
    double swing = 0;  // amplitude of a sinusoidal wander with a 15-minute period
    double stepAt = 1e30, step = 0;
    static constexpr double kPeriod = 900;

    double ErrorAt(double t) const
    {
        return error + swing * std::sin(2 * std::numbers::pi * t / kPeriod) + (t >= stepAt ? step : 0);
    }
    // Device frames elapsed after t seconds.
    double FramesAt(double t) const
    {
        const double w = 2 * std::numbers::pi / kPeriod;
        return kRate * (t + error * t + swing * (1 - std::cos(w * t)) / w + step * std::max(0.0, t - stepAt));
    }
};

// The hand-over in frame counts only: what CAdaptiveResampler does with positions and the
// ring's bounds, without the samples. Fast enough for an hour of device time per case.
class FillModel {
public:
    FillModel(int startBacklog, Side side) : start_(startBacklog), side_(side)
    {
        writtenMark_.Publish(double(written_), CProgressMark::kNoStamp, 0);
        readMark_.Publish(double(readFrame_), CProgressMark::kNoStamp, 0);
    }

    bool Write(int frames, double now)
    {
        if (written_ + frames - (readFrame_ - kDelay + 1) > kCapacity) return false;
        written_ += frames;
        writtenMark_.Publish(double(written_), now, frames, InputRate());
        return true;
    }
    void SetRatio(double ratio) { ratio_ = ratio; }
    int Produce(int frames, double now)
    {
        if (!started_ && (started_ = Backlog(now) >= start_)) Advance(Backlog(now) - start_);
        const double before = readFrame_ + fraction_;
        int made = 0;
        const double reach = double(written_ - 1 - kDelay - readFrame_) + 1;
        if (started_) made = std::clamp(int(std::ceil((reach - fraction_) / ratio_)), 0, frames);
        while (made > 0 && fraction_ + (made - 1) * ratio_ >= reach) --made;
        Advance(made * ratio_);
        readMark_.Publish(before, now, made * ratio_, InputRate());
        return made;
    }
    double Backlog(double now) const { return writtenMark_.At(now) - readMark_.At(now); }

private:
    double InputRate() const { return side_ == Side::Producer ? ratio_ : 1; }
    void Advance(double frames)
    {
        const double whole = std::floor(fraction_ + frames);
        fraction_ = fraction_ + frames - whole;
        readFrame_ += (long long)whole;
    }

    const int start_;
    const Side side_;
    long long written_ = 2 * kDelay - 1;  // the resampler's silent history
    long long readFrame_ = kDelay - 1;
    double fraction_ = 0;
    double ratio_ = 1;
    bool started_ = false;
    CProgressMark writtenMark_, readMark_;
};

// The real resampler carrying a sine of `hertz`, made by whichever side writes, kept as it
// comes out of the other.
class AudioHandOver {
public:
    AudioHandOver(int startBacklog, Side side, double writerRate, double readerRate, double hertz)
        : readOmega(2 * std::numbers::pi * hertz / readerRate),
          resampler_(2, kCapacity, startBacklog, side),
          writeOmega_(2 * std::numbers::pi * hertz / writerRate)
    {
    }
    bool Write(int frames, double now)
    {
        for (int i = 0; i < frames; ++i)
            block_[2 * i] = block_[2 * i + 1] = int16_t(std::lround(30000 * std::sin(writeOmega_ * double(written_ + i))));
        const bool stored = resampler_.Write(block_, frames, now);
        if (stored) written_ += frames;
        return stored;
    }
    void SetRatio(double ratio) { resampler_.SetRatio(ratio); }
    int Produce(int frames, double now)
    {
        const int made = resampler_.Produce(block_, frames, now);
        for (int i = 0; i < frames; ++i) out.push_back(block_[2 * i]);
        return made;
    }
    double Backlog(double now) const { return resampler_.Backlog(now); }

    const double readOmega;  // of the sine as it comes out
    std::vector<double> out;

private:
    CAdaptiveResampler resampler_;
    const double writeOmega_;
    long long written_ = 0;
    int16_t block_[2 * kPacket];
};

struct Outcome {
    int dropped = 0;   // packets that found the hand-over full
    int starved = 0;   // calls that got fewer frames than asked, once started
    double worst = 0;  // largest |delay - set point| from 10 s on, leaving out 10 s after a step
    double worstAfterStep = 0;
    std::vector<double> backlogs;  // measured at every switch, when asked for
};

// Switches at the reference rate, packets at the device's; every call carries the time it
// happens, the device's with a deterministic jitter of up to ±jitterFrames. The delay checked is
// the true one: the device's frame position at the switch against the read position.
template <class HandOver>
Outcome Simulate(HandOver& handOver, Side device, const Clock& clock, double seconds, double jitterFrames,
                 bool keepBacklogs = false)
{
    const double setPoint = kSetPoint;
    CDriftController controller(kRate, kSwitch, setPoint);
    Outcome outcome;
    long long deviceCalls = 0, readerStarted = 0;
    double ratio = 1;
    unsigned noise = 12345;
    const auto jitter = [&] {
        noise = noise * 1664525u + 1013904223u;
        return jitterFrames * (2.0 * (noise >> 8) / double(1 << 24) - 1.0);
    };
    const long long switches = (long long)(seconds * kRate / kSwitch);
    for (long long k = 1; k <= switches; ++k) {
        const double now = double(k * kSwitch);  // in reference frames
        const double t = now / kRate;
        const double deviceFrames = clock.FramesAt(t);
        const double deviceRate = 1 + clock.ErrorAt(t);
        double truth;
        if (device == Side::Producer) {
            // Each packet written when its last frame is captured, then the switch takes a block.
            for (; double(deviceCalls + 1) * kPacket <= deviceFrames; ++deviceCalls) {
                const double when = now - (deviceFrames - double(deviceCalls + 1) * kPacket) / deviceRate + jitter();
                if (!handOver.Write(kPacket, when)) ++outcome.dropped;
            }
            const int made = handOver.Produce(kSwitch, now);
            if (made) readerStarted = 1;
            if (readerStarted && made < kSwitch) ++outcome.starved;
            // Frames captured but not yet delivered belong to the delay.
            truth = handOver.Backlog(CProgressMark::kNoStamp) + (deviceFrames - double(deviceCalls) * kPacket);
        } else {
            // Each packet pulled when it starts to play, then the switch writes a block.
            for (; double(deviceCalls) * kPacket <= deviceFrames; ++deviceCalls) {
                const double when = now - (deviceFrames - double(deviceCalls) * kPacket) / deviceRate + jitter();
                const int made = handOver.Produce(kPacket, when);
                if (made) readerStarted = 1;
                if (readerStarted && made < kPacket) ++outcome.starved;
            }
            if (!handOver.Write(kSwitch, now)) ++outcome.dropped;
            // Frames of the last pull already played have left.
            const double played = (deviceFrames - double(deviceCalls - 1) * kPacket) * ratio;
            truth = handOver.Backlog(CProgressMark::kNoStamp) - played;
        }
        const double backlog = handOver.Backlog(now);
        ratio = controller.Update(backlog);
        handOver.SetRatio(ratio);
        if (keepBacklogs) outcome.backlogs.push_back(backlog);
        const double off = std::fabs(truth - setPoint);
        if (t >= clock.stepAt && t < clock.stepAt + 10) outcome.worstAfterStep = std::max(outcome.worstAfterStep, off);
        else if (t >= 10) outcome.worst = std::max(outcome.worst, off);
    }
    return outcome;
}

TEST(DriftController, HoldsTheDelayForAnHourOfDeviceTimeWithoutLosingAFrame)
{
    Clock drifting;
    drifting.error = 200e-6;
    drifting.swing = 500e-6;  // 200 ± 500 ppm, changing by up to 3.5 ppm a second
    Clock stepping;
    stepping.error = -300e-6;
    stepping.stepAt = 1800;
    stepping.step = 500e-6;  // re-clocked half-way through
    const struct {
        const char* name;
        Clock clock;
    } cases[] = {{"+100 ppm", {100e-6}}, {"+1000 ppm", {1000e-6}}, {"-1000 ppm", {-1000e-6}},
                 {"drifting", drifting}, {"500 ppm step", stepping}};
    for (const auto& c : cases) {
        for (Side device : {Side::Producer, Side::Consumer}) {
            SCOPED_TRACE(testing::Message() << c.name << (device == Side::Producer ? ", capture" : ", render"));
            FillModel handOver(int(kSetPoint), device);
            // Stamps within ±2 frames (40 µs): taken from the device's position, not from when a
            // thread woke up.
            const Outcome outcome = Simulate(handOver, device, c.clock, 3600, 2);
            EXPECT_EQ(outcome.dropped, 0);
            EXPECT_EQ(outcome.starved, 0);
            EXPECT_LE(outcome.worst, 2);           // settled within 10 s, and held
            EXPECT_LE(outcome.worstAfterStep, 12);  // a step moves it a little, within the headroom
        }
    }
}

TEST(DriftController, RealAudioFollowsTheFillModelAndStaysClean)
{
    // 30 s of a 1 kHz sine through the real resampler at 1000 ppm, each way, with exact stamps
    // as on the virtual hardware: the backlog the controller sees matches the fill model's
    // switch for switch, and the sine comes out clean at the rate of the side that reads it
    // once the loop has settled.
    const Clock clock{1000e-6};
    for (Side device : {Side::Producer, Side::Consumer}) {
        SCOPED_TRACE(device == Side::Producer ? "capture" : "render");
        const double deviceRate = kRate * (1 + clock.error);
        FillModel model(int(kSetPoint), device);
        AudioHandOver audio(int(kSetPoint), device, device == Side::Producer ? deviceRate : kRate,
                            device == Side::Producer ? kRate : deviceRate, 1000);
        const Outcome modelled = Simulate(model, device, clock, 30, 0, true);
        const Outcome real = Simulate(audio, device, clock, 30, 0, true);
        EXPECT_EQ(real.dropped + real.starved, 0);
        ASSERT_EQ(real.backlogs.size(), modelled.backlogs.size());
        double apart = 0;
        for (size_t i = 0; i < real.backlogs.size(); ++i)
            apart = std::max(apart, std::fabs(real.backlogs[i] - modelled.backlogs[i]));
        EXPECT_LT(apart, 1e-6);

        const std::vector<double> settled(audio.out.end() - 10 * int(kRate), audio.out.end());
        EXPECT_LE(FitSine(settled, audio.readOmega).thdPlusNoiseDb, -90);
    }
}

}  // namespace
