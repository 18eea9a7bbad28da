// Cost of the streaming engine per buffer switch, against a plain memcpy of the bytes a switch
// moves, measured in the same run.
//
// The driver runs on the virtual hardware with its streams started, but the device clocks stand
// still while switches are timed, so that no stream thread runs: what is timed is the batch
// delivery (one capture packet per port, processed into the host's input buffers), the host's
// buffer switch and its outputReady call (render interleaving and the hand-over into each render
// stream's queue). Between timed groups the clocks advance, outside the timed region, so that the
// render streams play the blocks handed over and their queues never overflow.
//
// The cases run one after another, each on fresh virtual hardware; a run takes under a minute.
#include <core/ClockFollower.h>
#include <core/Mordane.h>

#include "../tests/virtual/VirtualHardware.h"
#include <devices/StreamBackend.h>
#include "BenchTiming.h"

#include <veloran/DriverClassId.h>
#include <veloran/UniqueHandle.h>

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using namespace VirtualUsb;

// Switches timed back to back. Each hands one block to every render queue, which holds ten.
constexpr int kGroupSwitches = 8;
constexpr int kGroups = 16;
constexpr int kRuns = 9;
constexpr double kRunSeconds = 0.01;

double MedianUs(auto body) { return MedianSeconds(body, kRunSeconds, kRuns) * 1e6; }
double MemcpyUs(int bytes) { return MemcpySeconds(bytes, kRunSeconds, kRuns) * 1e6; }

// One wait on a signalled auto-reset event and one signal: the render queues' former guard, per
// push and per pop; the reference of earlier figures.
double GuardEventUs()
{
    UniqueHandle guard(CreateEventW(nullptr, FALSE, TRUE, nullptr));
    return MedianUs([&](int n) {
        for (int i = 0; i < n; ++i) {
            WaitForSingleObject(guard.get(), 5000);
            SetEvent(guard.get());
        }
    });
}

// The host: no processing of its own, only the outputReady call inside the switch.
struct BenchHost {
    CMordane* driver = nullptr;
    // Off while the clocks advance, so that only timed switches hand blocks to the render queues.
    std::atomic<bool> callOutputReady{false};
};
BenchHost gHost;

ASIOTime* SwitchTimeInfo(ASIOTime* time, long, ASIOBool)
{
    if (gHost.callOutputReady.load(std::memory_order_relaxed)) gHost.driver->outputReady();
    return time;
}
void BufferSwitch(long index, ASIOBool direct) { SwitchTimeInfo(nullptr, index, direct); }
void RateChanged(ASIOSampleRate) {}
long Message(long selector, long, void*, double*) { return selector == kAsioSupportsTimeInfo ? 1 : 0; }

struct Case {
    int ports;
    int frames;
    int sampleType;
    bool processing;  // DC removal and software gain 80 % on every input channel
    bool meters;      // the control panel's level display open, nobody waiting on its copies
};

struct Result {
    int bytes = 0;
    double usPerSwitch = 0;  // median of the switches, each group's first left out
    double usCapture = 0;    // median over groups of switches without outputReady: the capture side
    double memcpyUs = 0;
    int64_t handedOver = 0;  // render blocks per port that the timed switches handed over
    int64_t played = 0;      // of them, the fewest that any port's device played
};

// Samples with a DC offset, as a capture packet carries them.
void FillCapture(uint8_t* block, int frames, int port)
{
    auto* samples = reinterpret_cast<int16_t*>(block);
    for (int f = 0; f < frames; ++f) {
        const double phase = 2 * 3.14159265358979 * (f + 37 * port) / 96.0;
        samples[2 * f] = int16_t(1500 + 12000 * std::sin(phase));
        samples[2 * f + 1] = int16_t(-800 + 9000 * std::cos(phase));
    }
}

// Non-silent periods in a render endpoint's record.
int64_t PlayedPeriods(const std::vector<uint8_t>& rendered, int periodBytes)
{
    int64_t count = 0;
    for (size_t at = 0; at + periodBytes <= rendered.size(); at += periodBytes)
        count += std::any_of(rendered.begin() + at, rendered.begin() + at + periodBytes, [](uint8_t b) { return b; });
    return count;
}

// Null when measured, else what went wrong.
const char* Measure(const Case& c, const CSettingsKey& hostKey, const CSettingsKey& defaultKey, Result& result)
{
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, hostKey.KeyPath().c_str());
    hostKey.WriteDword(L"Language", 9);
    hostKey.WriteDword(L"Resolution", c.sampleType == ASIOSTInt16LSB ? 16 : 32);

    CVirtualHardware hardware;
    std::vector<int> captures, renders;
    for (int i = 0; i < c.ports; ++i) {
        // The Lumo A2 has no hardware input volume: its input level is the engine's software gain.
        const VirtualInterface lumo = hardware.AddInterface(kLumoA2);
        for (const int endpoint : {lumo.capture, lumo.render})
            // Periods down to 1 ms: 128-frame buffers stream exclusively, one device buffer per host buffer.
            hardware.audio.SetPeriods(endpoint, 100000, 10000, 5000000);
        captures.push_back(lumo.capture);
        renders.push_back(lumo.render);
    }

    HRESULT created = S_OK;
    auto driver = std::make_unique<CMordane>(nullptr, &created, hostKey, defaultKey, hardware);
    if (FAILED(created)) return "driver not created";
    driver->init(nullptr);
    driver->setSampleRate(48000.0);
    if (driver->portCount() != c.ports) return "not every interface became a port";
    std::vector<_sPort> ports(driver->ports(), driver->ports() + c.ports);
    for (_sPort& port : ports) {
        if (port.hasInputVolume) return "a port has hardware input volume: no software gain";
        // Every channel of every port, past the 16 per direction that port loading keeps enabled.
        port.input.enabled = port.output.enabled = 1;
        for (int ch = 0; ch < 2; ++ch) {
            port.input.dcRemoval[ch] = c.processing;
            port.input.level[ch] = c.processing ? 80 : 100;
        }
    }
    if (!driver->InstallPorts(ports.data(), c.ports)) return "ports not installed";

    std::vector<ASIOBufferInfo> buffers;
    for (long ch = 0; ch < 2 * c.ports; ++ch) {
        buffers.push_back({ASIOTrue, ch, {}});
        buffers.push_back({ASIOFalse, ch, {}});
    }
    ASIOCallbacks callbacks = {BufferSwitch, RateChanged, Message, SwitchTimeInfo};
    if (driver->createBuffers(buffers.data(), long(buffers.size()), c.frames, &callbacks) != ASE_OK)
        return "createBuffers failed";
    const int hostBytes = HostBytesPerSample(c.sampleType);
    // Outputs carry a ramp in their upper 16 bits, so that every block played is audible.
    for (const ASIOBufferInfo& info : buffers) {
        if (info.isInput) continue;
        for (void* half : info.buffers) {
            auto* bytes = static_cast<uint8_t*>(half);
            for (int f = 0; f < c.frames; ++f) {
                const auto value = uint16_t(1000 + f + 3 * info.channelNum);
                std::memset(bytes + size_t(f) * hostBytes, 0, hostBytes);
                std::memcpy(bytes + size_t(f) * hostBytes + hostBytes - 2, &value, 2);
            }
        }
    }

    driver->SetPanelMetering(c.meters);
    gHost.driver = driver.get();
    gHost.callOutputReady = false;
    if (driver->start() != ASE_OK) return "start failed";
    for (const int endpoint : captures)
        if (!hardware.audio.WaitUntilStreaming(endpoint)) return "a capture stream did not start";
    for (const int endpoint : renders)
        if (!hardware.audio.WaitUntilStreaming(endpoint)) return "a render stream did not start";
    hardware.audio.Advance(2 * c.frames);
    if (!hardware.audio.WaitUntilServed()) return "a stream stalled";

    std::vector<uint8_t> blocks(size_t(kCaptureBlockCount) * kCaptureBlockBytes);
    int sizes[kCaptureBlockCount] = {};
    int portList[kCaptureBlockCount] = {};
    for (int i = 0; i < c.ports; ++i) {
        FillCapture(blocks.data() + size_t(i) * kCaptureBlockBytes, c.frames, i);
        sizes[i] = c.frames * 4;
        portList[i] = i;
    }

    std::vector<double> perSwitch, captureOnly;
    // Group 0 warms up and is not counted; in every group the first switch, after the virtual
    // devices ran, warms the caches again.
    for (int group = 0; group <= kGroups; ++group) {
        double stamps[kGroupSwitches + 1];
        gHost.callOutputReady = true;
        stamps[0] = Now();
        for (int s = 0; s < kGroupSwitches; ++s) {
            CMordane::BatchDelivery(blocks.data(), sizes, c.ports, portList, kCapturedNow, driver.get());
            stamps[s + 1] = Now();
        }
        // The same switches without outputReady hand nothing over.
        gHost.callOutputReady = false;
        const double captureStart = Now();
        for (int s = 0; s < kGroupSwitches; ++s)
            CMordane::BatchDelivery(blocks.data(), sizes, c.ports, portList, kCapturedNow, driver.get());
        const double captureEnd = Now();
        if (group > 0) {
            for (int s = 1; s < kGroupSwitches; ++s) perSwitch.push_back((stamps[s + 1] - stamps[s]) * 1e6);
            // Too short to time one by one.
            captureOnly.push_back((captureEnd - captureStart) * 1e6 / kGroupSwitches);
        }
        // Not timed: each render stream plays what the group handed over. The capture streams
        // deliver and switch as well, without outputReady.
        hardware.audio.Advance(int64_t(kGroupSwitches) * c.frames);
        if (!hardware.audio.WaitUntilServed()) return "a stream stalled";
    }
    // A render stream plays a block one period after it takes it.
    hardware.audio.Advance(c.frames);
    if (!hardware.audio.WaitUntilServed()) return "a stream stalled";
    driver->stop();
    driver->disposeBuffers();
    driver.reset();

    result.bytes = c.ports * c.frames * (2 * 2 * hostBytes + 2 * 4);
    result.usPerSwitch = Median(perSwitch);
    result.usCapture = Median(captureOnly);
    result.memcpyUs = MemcpyUs(result.bytes);
    result.handedOver = int64_t(kGroups + 1) * kGroupSwitches;
    result.played = result.handedOver;
    for (const int endpoint : renders)
        result.played = std::min(result.played, PlayedPeriods(hardware.audio.Rendered(endpoint), c.frames * 4));
    return nullptr;
}

// A render route that takes every block and plays nothing.
class CNullRender final : public IStreamBackend {
public:
    bool OpenAndStart(const std::wstring&, const _sStreamParams&, const std::wstring&, const _sStreamParams&,
                      HANDLE) override
    {
        return true;
    }
    void RequestStop() override {}
    bool Stop(DWORD) override { return true; }
    int DeliverRender(const void* block, int) override
    {
        Touch(block);
        return 1;
    }
    uint64_t faultCount() const override { return 0; }
    bool lost() const override { return false; }
};

// What "ClockSync" adds per followed port and switch: the port's capture packet into its
// resampler and a render block out of the other (its capture thread), the switch's block out of
// the capture resampler with its loop step, and outputReady's block into the render resampler
// with its loop step. Stereo 16-bit.
double FollowerUs(int frames)
{
    CVirtualHardware clock;
    std::vector<uint8_t> blocks(size_t(kCaptureBlockCount) * kCaptureBlockBytes);
    int sizes[kCaptureBlockCount] = {};
    CCaptureAggregator aggregator(nullptr, nullptr, blocks.data(), sizes);
    CClockFollower follower(aggregator, clock, 48000, frames, 2, 2);
    CNullRender render;
    follower.SetRenderTarget(&render);
    const int bytes = frames * 4;
    if (!follower.valid() || !follower.RegisterSource(&render, bytes, bytes)) return -1;
    std::vector<int16_t> in(size_t(frames) * 2), out(size_t(frames) * 2);
    for (size_t i = 0; i < in.size(); ++i) in[i] = int16_t(12000 * std::sin(0.01 * double(i)));
    int64_t switches = 0;
    return MedianUs([&](int n) {
        for (int i = 0; i < n; ++i, ++switches) {
            const double seconds = double(switches) * frames / 48000;
            follower.DeliverSource(&render, in.data(), bytes, seconds);
            follower.PullCapture(reinterpret_cast<uint8_t*>(out.data()), bytes, seconds);
            follower.PushRender(in.data(), bytes);
            Touch(out.data());
        }
    });
}

}  // namespace

int main()
{
    // Fewer interruptions from the scheduler while timing.
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);

    const CSettingsKey hostKey{kVeloranDriverClsid, L"C:\\EngineBench.exe"};
    const CSettingsKey defaultKey{kVeloranDriverClsid, L""};

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::printf("engine cost per buffer switch, QueryPerformanceCounter at %lld Hz\n",
                static_cast<long long>(frequency.QuadPart));
    std::printf("per case: median of %d groups of %d switches; memcpy: median of %d runs of ~%.0f ms\n", kGroups,
                kGroupSwitches, kRuns, kRunSeconds * 1000);
    std::printf("%5s %6s %5s %10s %6s %7s %10s %10s %11s %10s %7s\n", "ports", "frames", "host", "processing",
                "meters", "bytes", "us/switch", "capture us", "render/port", "memcpy us", "ratio");

    std::vector<Case> cases;
    for (const int ports : {1, 4, 16})
        for (const int frames : {128, 512})
            for (const int type : {ASIOSTInt16LSB, ASIOSTInt32LSB})
                for (const bool processing : {false, true}) cases.push_back({ports, frames, type, processing, false});
    for (const int ports : {1, 4, 16}) cases.push_back({ports, 128, ASIOSTInt16LSB, false, true});

    bool allPlayed = true;
    const double started = Now();
    double plainPortUs[2] = {};  // per port and switch, 4 ports, int16, no processing: 128 and 512 frames
    for (const Case& c : cases) {
        std::printf("%5d %6d %5s %10s %6s ", c.ports, c.frames, c.sampleType == ASIOSTInt16LSB ? "int16" : "int32",
                    c.processing ? "dc+gain" : "off", c.meters ? "open" : "-");
        Result r;
        if (const char* failure = Measure(c, hostKey, defaultKey, r)) {
            std::printf("  not measured: %s\n", failure);
            allPlayed = false;
            continue;
        }
        std::printf("%7d %10.2f %10.2f %11.2f %10.3f %7.0f\n", r.bytes, r.usPerSwitch, r.usCapture,
                    (r.usPerSwitch - r.usCapture) / c.ports, r.memcpyUs, r.usPerSwitch / r.memcpyUs);
        if (c.ports == 4 && c.sampleType == ASIOSTInt16LSB && !c.processing && !c.meters)
            plainPortUs[c.frames == 128 ? 0 : 1] = r.usPerSwitch / c.ports;
        if (r.played != r.handedOver) {
            std::printf("      render queues dropped blocks: %lld of %lld played\n", static_cast<long long>(r.played),
                        static_cast<long long>(r.handedOver));
            allPlayed = false;
        }
    }
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, hostKey.KeyPath().c_str());
    std::printf("\nClockSync, per followed port and switch, against the engine's per-port cost above (4 ports,\n"
                "int16, no processing):\n%6s %12s %12s %7s\n", "frames", "follower us", "engine/port", "ratio");
    for (int k = 0; k < 2; ++k) {
        const int frames = k == 0 ? 128 : 512;
        const double follower = FollowerUs(frames);
        std::printf("%6d %12.2f %12.2f %7.2f\n", frames, follower, plainPortUs[k],
                    plainPortUs[k] > 0 ? follower / plainPortUs[k] : 0.0);
    }
    std::printf("reference: one event wait+signal (the former guard of every render queue push and pop) %.2f us\n",
                GuardEventUs());

    std::printf(
        "\nus/switch: one buffer switch as the engine runs it on a capture thread: for each port, the\n"
        "capture packet split, processed (gain, DC removal) and written to the host's two input buffers;\n"
        "the host's bufferSwitchTimeInfo, which only calls outputReady; the host's outputs read into\n"
        "16-bit render blocks and pushed into each port's render queue. The aggregator's collection and\n"
        "the devices' simulation are not in it. capture us: the same switch when the host does not call\n"
        "outputReady (capture side only). render/port: the difference, per port: outputReady's\n"
        "interleaving and hand-over. bytes: host input and output samples plus the 16-bit capture and\n"
        "render blocks of all ports; ratio: us/switch over a memcpy of that many bytes. Every channel\n"
        "of every port is active (16 ports: 32 inputs and 32 outputs). meters open: every switch also\n"
        "copies each port's samples for the level display.\n");
    std::printf("render queues: %s\n", allPlayed ? "every block handed over was played, none dropped"
                                                 : "see the lines above");
    std::printf("total %.1f s\n", Now() - started);
    return 0;
}
