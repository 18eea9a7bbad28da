#include <core/StampFilter.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kRate = 48000;
constexpr int kPacket = 480;

struct Line {
    double earliest = 1e9, latest = -1e9;  // filtered minus true times after settling, in frames
    double rate = 0;                       // measured at the end
};

// 20 s of packets of a device 300 ppm fast; `given` turns the time a packet's last frame was
// captured into the time the system gives for it.
template <typename Given>
Line Follow(Given given, double settleSeconds)
{
    const double deviceRate = kRate * (1 + 300e-6);
    CStampFilter filter;
    filter.Restart(kRate);
    Line line;
    for (uint64_t end = kPacket; end < uint64_t(20 * kRate); end += kPacket) {
        const double captured = 1000 + end / deviceRate;
        const double error = (filter.Filter(end, given(captured)) - captured) * kRate;
        if (captured - 1000 < settleSeconds) continue;
        line.earliest = std::min(line.earliest, error);
        line.latest = std::max(line.latest, error);
    }
    line.rate = filter.rate();
    return line;
}

TEST(StampFilter, ExactTimesPassAndTimesOfReadsBecomeASteadyLine)
{
    // Windows' times: the device's own, with its rate.
    const Line exact = Follow([](double captured) { return captured; }, 1);
    EXPECT_LE(std::max(-exact.earliest, exact.latest), 0.01);
    EXPECT_NEAR(exact.rate / kRate - 1, 300e-6, 1e-6);

    // A system that times packets when a timer of its own reads them, every 15.5 ms, two at a
    // time now and then: late by 0 to 15 ms, a different amount every packet (740 frames of
    // jitter). The line may be late by their mean, but must move by a tenth of that at most.
    const Line read = Follow([](double captured) { return std::ceil(captured / 0.0155) * 0.0155; }, 5);
    std::printf("  times of reads: the line moves within %.1f frames once settled\n", read.latest - read.earliest);
    EXPECT_LE(read.latest - read.earliest, 74);
    EXPECT_NEAR(read.rate / kRate - 1, 300e-6, 150e-6);
}

}  // namespace
