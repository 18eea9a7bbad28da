#include <core/AdaptiveResampler.h>

#include "../support/SineFit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

using Side = CAdaptiveResampler::DeviceSide;
constexpr int kDelay = CAdaptiveResampler::kDelayFrames;
constexpr int kBlock = 128;
constexpr double kTwoPi = 2 * std::numbers::pi;

int16_t SineSample(double amplitude, double omega, double position)
{
    return int16_t(std::lround(amplitude * std::sin(omega * position)));
}

// Feeds channel c the sine of omegas[c] in blocks and keeps the backlog just large enough for
// one more output block; returns every output frame of channel `channel`. The first output
// comes when the start backlog is met exactly, so output frame m of a run at a fixed ratio r
// shows input position m × r - kDelay.
std::vector<double> Stream(int channels, const std::vector<double>& omegas, int channel, int blocks,
                           double (*ratioOfBlock)(int))
{
    CAdaptiveResampler resampler(channels, 4096, kDelay + 2 * kBlock, Side::Producer);
    std::vector<int16_t> in(kBlock * channels), out(kBlock * channels);
    std::vector<double> kept;
    long long written = 0;
    for (int b = 0; b < blocks; ++b) {
        for (int i = 0; i < kBlock; ++i)
            for (int c = 0; c < channels; ++c) in[i * channels + c] = SineSample(30000 - 10000 * c, omegas[c], written + i);
        EXPECT_TRUE(resampler.Write(in.data(), kBlock));
        written += kBlock;
        while (resampler.Backlog() >= kBlock * (1 + CAdaptiveResampler::kMaxDeviation) + kDelay + 1) {
            resampler.SetRatio(ratioOfBlock(int(kept.size() / kBlock)));
            EXPECT_EQ(resampler.Produce(out.data(), kBlock), kBlock);
            for (int i = 0; i < kBlock; ++i) kept.push_back(out[i * channels + channel]);
        }
    }
    return kept;
}

constexpr int kSettle = 4096;  // output frames of the start-up transient left out of the fits

TEST(AdaptiveResampler, SinesStayCleanAndOnTimeAtDriftRatios)
{
    // Left 997 Hz, right 5 kHz at 48 kHz: a crossed or mixed channel fails the fit.
    const std::vector<double> omegas = {kTwoPi * 997 / 48000, kTwoPi * 5000 / 48000};
    static double ratio;
    for (double r : {1 + 100e-6, 1 - 100e-6, 1 + 1000e-6, 1 - 1000e-6}) {
        ratio = r;
        for (int channels : {2, 1}) {
            for (int c = 0; c < channels; ++c) {
                const std::vector<double> out = Stream(channels, omegas, c, 600, [](int) { return ratio; });
                const std::vector<double> settled(out.begin() + kSettle, out.end());
                const SineFit fit = FitSine(settled, omegas[c] * r);
                SCOPED_TRACE(testing::Message() << "ratio " << r << ", channels " << channels << ", channel " << c);
                EXPECT_LE(fit.thdPlusNoiseDb, -90);
                EXPECT_NEAR(fit.amplitude, 30000 - 10000 * c, 3);
                // The fitted phase gives the delay: output frame m shows input m × r - kDelay.
                const double expected = omegas[c] * (kSettle * r - kDelay);
                EXPECT_NEAR(std::remainder(fit.phase - expected, kTwoPi) / omegas[c], 0, 0.05);
            }
        }
    }
}

TEST(AdaptiveResampler, RatioChangingEveryBlockKeepsTheWaveformContinuous)
{
    // A new ratio every block across the whole range, and requests beyond it: the output must
    // follow the sine at the read position the ratios add up to, seam after seam.
    const double omega = kTwoPi * 1000 / 48000;
    const auto ratioOfBlock = [](int block) { return 1 + 0.0035 * std::sin(block * 0.9); };
    const std::vector<double> out = Stream(1, {omega}, 0, 400, ratioOfBlock);
    double position = -kDelay, error = 0, power = 0;
    for (size_t m = 0; m < out.size(); ++m) {
        const double ratio = std::clamp(ratioOfBlock(int(m / kBlock)), 1 - CAdaptiveResampler::kMaxDeviation,
                                        1 + CAdaptiveResampler::kMaxDeviation);
        const double expected = 30000 * std::sin(omega * position);
        if (int(m) >= kSettle) {
            error += (out[m] - expected) * (out[m] - expected);
            power += expected * expected;
        }
        position += ratio;
    }
    EXPECT_LE(10 * std::log10(error / power), -90);
}

TEST(AdaptiveResampler, StarvedOrFullRingLosesNoFrameUnnoticed)
{
    // Ratio 1: every output frame is an input frame, kDelay frames late. A slow sine, so the
    // filter's flat pass band leaves each frame within a step of its input.
    const double omega = kTwoPi * 200 / 48000;
    CAdaptiveResampler resampler(1, 256, kDelay + kBlock, Side::Producer);
    long long written = 0, played = 0;
    std::vector<int16_t> block(kBlock), out(kBlock);
    const auto write = [&](int frames) {
        for (int i = 0; i < frames; ++i) block[i] = SineSample(20000, omega, written + i);
        const bool stored = resampler.Write(block.data(), frames);
        if (stored) written += frames;
        return stored;
    };
    // Frames produced must continue the input exactly where the previous call stopped.
    const auto produce = [&](int frames) {
        const int made = resampler.Produce(out.data(), frames);
        for (int i = 0; i < made; ++i, ++played) {
            // The first frames still mix in the silent history.
            if (played < 2 * kDelay) continue;
            EXPECT_NEAR(out[i], SineSample(20000, omega, played - kDelay), 1) << played;
        }
        for (int i = made; i < frames; ++i) EXPECT_EQ(out[i], 0);
        return made;
    };

    write(64);
    EXPECT_EQ(produce(64), 0);  // below the start backlog: silence, nothing taken
    write(64);
    EXPECT_EQ(produce(64), 64);
    EXPECT_EQ(produce(64), 64);
    EXPECT_EQ(produce(64), 0);  // starved: silence, the read position waits for input
    write(32);
    EXPECT_EQ(produce(64), 32);  // what came is played, no more
    EXPECT_DOUBLE_EQ(resampler.Backlog(), kDelay);

    // Fill up: the packet that does not fit is refused whole and nothing is overwritten.
    int stored = 0;
    while (write(64)) ++stored;
    EXPECT_EQ(stored, 3);  // 256 frames hold the filter's 15 of history, 16 of look-ahead and 3 packets
    while (resampler.Backlog() >= 64 + kDelay + 1) EXPECT_EQ(produce(64), 64);
    EXPECT_TRUE(write(64));  // the refused packet, sent again, follows on
    EXPECT_EQ(produce(64), 64);
}

TEST(AdaptiveResampler, StampedBacklogIsTheSameWhicheverSideReadsIt)
{
    // A follower's render hand-over: the switch writes blocks stamped with the reference's times,
    // the device side reads them at its own stamps, which run ahead of the switch's by a fixed
    // offset (another stream's timing). From the start on, the backlog must hold the start
    // backlog whether measured at the writer's stamp or the reader's, or the loop steering it
    // would be fed an offset that moves with the timing, and would start the stream long.
    constexpr int kStart = kDelay + 3 * kBlock;
    constexpr double kAhead = 100;
    CAdaptiveResampler resampler(2, 4096, kStart, Side::Consumer);
    std::vector<int16_t> block(kBlock * 2, 1000), out(kBlock * 2);
    bool started = false;
    for (int k = 0; k < 40; ++k) {
        const double written = kBlock * (k + 1.0);
        ASSERT_TRUE(resampler.Write(block.data(), kBlock, written, kBlock));
        const int made = resampler.Produce(out.data(), kBlock, written + kAhead, kBlock);
        if (!started && made == 0) continue;
        started = true;
        EXPECT_EQ(made, kBlock) << k;
        EXPECT_NEAR(resampler.Backlog(written), kStart, 1) << k;
        EXPECT_NEAR(resampler.Backlog(written + kAhead), kStart, 1) << k;
    }
    EXPECT_TRUE(started);
}

}  // namespace
