// Cost of one resampled port direction per buffer switch: the producer's write of a block, the
// consumer's resampled read of a block, one backlog reading and one step of the control loop;
// against a plain memcpy of the same bytes (the engine's own per-port cost is about that),
// measured in the same run. Stereo 16-bit; the ratio alternates between 1 ± 500 ppm, so that
// every block reads at a fresh fractional position and the backlog stays put.
#include <core/AdaptiveResampler.h>
#include <core/DriftController.h>

#include "BenchTiming.h"

#include <windows.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRuns = 9;
constexpr double kRunSeconds = 0.1;

void Port(int frames)
{
    CAdaptiveResampler resampler(2, 4096, frames + CAdaptiveResampler::kDelayFrames + 64,
                                 CAdaptiveResampler::DeviceSide::Producer);
    CDriftController controller(48000, frames, frames + CAdaptiveResampler::kDelayFrames + 64);
    std::vector<int16_t> in(size_t(frames) * 2), out(size_t(frames) * 2);
    for (size_t i = 0; i < in.size(); ++i) in[i] = int16_t(20000 * std::sin(0.01 * double(i)));
    resampler.Write(in.data(), frames);
    double now = 0;
    const double seconds = MedianSeconds(
        [&](int n) {
            for (int i = 0; i < n; ++i) {
                now += frames;
                resampler.Write(in.data(), frames, now);
                resampler.Produce(out.data(), frames, now);
                controller.Update(resampler.Backlog(now));
                resampler.SetRatio(i & 1 ? 1.0005 : 0.9995);
                Touch(out.data());
            }
        },
        kRunSeconds, kRuns);
    const double copy = MemcpySeconds(frames * 4, kRunSeconds, kRuns);
    std::printf("%6d %10.2f %10.3f %8.1f\n", frames, seconds * 1e6, copy * 1e6, seconds / copy);
}

}  // namespace

int main()
{
    // Fewer interruptions from the scheduler while timing.
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    std::printf("resampled port direction per switch, stereo: median of %d runs of ~%.0f ms\n", kRuns,
                kRunSeconds * 1000);
    std::printf("%6s %10s %10s %8s\n", "frames", "us/switch", "memcpy us", "ratio");
    for (const int frames : {128, 512}) Port(frames);
    return 0;
}
