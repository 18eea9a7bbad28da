// The back end on the system's own endpoints. In the test environment these are winepulse's
// default endpoints on a PulseAudio null sink whose monitor is the default capture, and the
// environment gives them "{2}.\\?\SWD#MMDEVAPI#..." paths, as Windows stores them. Wine refuses
// exclusive event-driven streams, so under share mode 1 both directions must end up shared.
#include <core/CaptureAggregator.h>
#include <devices/EndpointBackend.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

const char* ModeName(EndpointStreamMode mode)
{
    return mode == EndpointStreamMode::Exclusive ? "exclusive" : mode == EndpointStreamMode::Shared ? "shared" : "none";
}

void Report(const char* direction, const EndpointStreamInfo& info)
{
    std::printf("%s: %s, buffer %d, period %d, stream latency %d, adapter %d, reported latency %d frames, %lld moved, "
                "%lld discontinuities, %lld underruns, %lld drops\n",
                direction, ModeName(info.mode), info.bufferFrames, info.periodFrames, info.streamLatencyFrames,
                info.adapterFrames, info.latencyFrames, static_cast<long long>(info.frames),
                static_cast<long long>(info.discontinuities), static_cast<long long>(info.underruns),
                static_cast<long long>(info.drops));
}

// Captured packets are counted and measured; each is answered with one packet of a 1 kHz tone,
// as the engine answers every buffer switch with output.
struct CLoopback {
    static constexpr int kFrames = 512;

    CLoopback()
        : blocks(size_t(kCaptureBlockCount) * kCaptureBlockBytes),
          aggregator(&Batch, reinterpret_cast<CMordane*>(this), blocks.data(), sizes),
          tone(size_t(kFrames) * 2)
    {
    }

    static void Batch(const uint8_t* data, const int* sizes, int, const int*, double, CMordane* owner)
    {
        auto* self = reinterpret_cast<CLoopback*>(owner);  // the aggregator only passes its owner on
        ++self->batches;
        int peak = 0;
        const auto* samples = reinterpret_cast<const int16_t*>(data);
        for (int i = 0; i < sizes[0] / 2; ++i) peak = std::max(peak, std::abs(int(samples[i])));
        self->peak = std::max(self->peak.load(), peak);
        if (!self->backend) return;
        for (int f = 0; f < kFrames; ++f) {  // 1 kHz at 48 kHz: 48 frames a cycle
            const auto sample = int16_t(8000 * std::sin(2 * 3.14159265358979 * double(self->phase++ % 48) / 48.0));
            self->tone[2 * f] = self->tone[2 * f + 1] = sample;
        }
        self->backend->DeliverRender(self->tone.data(), kFrames * 4);
    }

    std::vector<uint8_t> blocks;
    int sizes[kCaptureBlockCount] = {};
    CCaptureAggregator aggregator;
    std::vector<int16_t> tone;
    int64_t phase = 0;
    CEndpointBackend* backend = nullptr;
    std::atomic<int> batches{0};
    std::atomic<int> peak{0};
};

TEST(EndpointBackendOnSystemEndpoints, DefaultEndpointsStreamSharedUnderTheDefaultShareMode)
{
    auto backend = CEndpointBackend::Create(SystemDevicePlatform(), false, true, CEndpointBackend::kExclusiveOrShared);
    ASSERT_TRUE(backend);
    std::wstring capturePath, captureName, renderPath, renderName;
    const bool hasCapture = backend->GetDefaultEndpoint(eCapture, capturePath, captureName);
    const bool hasRender = backend->GetDefaultEndpoint(eRender, renderPath, renderName);
    if (!hasCapture && !hasRender) GTEST_SKIP() << "no default endpoint with a device path";
    ASSERT_TRUE(hasCapture && hasRender);
    std::printf("capture %ls: %ls\nrender %ls: %ls\n", captureName.c_str(), capturePath.c_str(), renderName.c_str(),
                renderPath.c_str());

    EndpointFormat format;
    ASSERT_TRUE(backend->ProbeFormats(eCapture, capturePath, format));
    std::printf("capture probe: %d-%d Hz, %d-%d bits, %d channels\n", format.minRate, format.maxRate, format.minBits,
                format.maxBits, format.channels);
    EXPECT_EQ(format.minBits, 16);
    EXPECT_GE(format.channels, 1);

    CLoopback loop;
    loop.backend = backend.get();
    UniqueHandle start(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    _sStreamParams params;
    params.sampleRate = 48000;
    params.framesPerPacket = CLoopback::kFrames;
    _sStreamParams captureParams = params;
    captureParams.captureSink = &loop.aggregator;
    ASSERT_TRUE(backend->OpenAndStart(capturePath, captureParams, renderPath, params, start.get()));
    EXPECT_EQ(backend->captureInfo().mode, EndpointStreamMode::Shared);
    EXPECT_EQ(backend->renderInfo().mode, EndpointStreamMode::Shared);

    // About a second and a half of audio; the wait only bounds a broken stream.
    for (int waited = 0; loop.batches < 140 && waited < 10000; waited += 10) Sleep(10);
    const int batches = loop.batches.load();
    const EndpointStreamInfo captured = backend->captureInfo();
    const EndpointStreamInfo rendered = backend->renderInfo();
    Report("capture", captured);
    Report("render", rendered);
    std::printf("loopback peak %d\n", loop.peak.load());
    EXPECT_GE(batches, 140);
    // Every packet delivered came from the device; the adapter may still hold part of the next.
    EXPECT_GE(captured.frames + captured.adapterFrames, int64_t(batches) * CLoopback::kFrames);
    EXPECT_GT(rendered.frames, 100 * CLoopback::kFrames) << "the render stream consumes what it is given";
    EXPECT_GT(loop.peak.load(), 4000) << "the tone played comes back through the null sink's monitor";
    EXPECT_TRUE(backend->captureActive() && backend->renderActive());

    backend->StopCapture();
    backend->StopRender();
    backend->ReleaseAll();
    EXPECT_FALSE(backend->captureActive() || backend->renderActive());
    EXPECT_EQ(backend->DeliverRender(loop.tone.data(), CLoopback::kFrames * 4), 0);
}

}  // namespace
