// Cost of the stream hand-over objects, each against a plain memcpy of the same bytes measured in
// the same run. Every figure is the median of several timed runs of many iterations.
#include <core/CaptureAggregator.h>
#include <core/MeterTap.h>
#include <core/PacketFifo.h>

#include "BenchTiming.h"

#include <veloran/UniqueHandle.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int kRuns = 9;
constexpr double kRunSeconds = 0.1;

double MedianNs(auto body) { return MedianSeconds(body, kRunSeconds, kRuns) * 1e9; }
double MemcpyNs(int bytes) { return MemcpySeconds(bytes, kRunSeconds, kRuns) * 1e9; }

void Report(const char* what, int bytes, double ns)
{
    const double copy = MemcpyNs(bytes);
    std::printf("%-48s %6d %10.1f %10.1f %8.1f\n", what, bytes, ns, copy, ns / copy);
}

void FifoPushPop(int chunk, bool withNotify)
{
    UniqueHandle notify(withNotify ? CreateEventW(nullptr, FALSE, FALSE, nullptr) : nullptr);
    CPacketFifo fifo(chunk, chunk, notify.valid() ? notify.get() : nullptr);
    std::vector<uint8_t> in(chunk, 1), out(chunk);
    const double ns = MedianNs([&](int n) {
        for (int i = 0; i < n; ++i) {
            fifo.Push(in.data(), chunk);
            fifo.Pop(out.data());
            Touch(out.data());
        }
    });
    char what[64];
    std::snprintf(what, sizeof(what), "FIFO push+pop, chunk %d%s", chunk, withNotify ? ", notify" : "");
    Report(what, chunk, ns);
}

// One wait on a signalled auto-reset event and one signal: the FIFO's former guard, per push and
// per pop; the reference of earlier figures.
void GuardEvent()
{
    UniqueHandle guard(CreateEventW(nullptr, FALSE, TRUE, nullptr));
    const double ns = MedianNs([&](int n) {
        for (int i = 0; i < n; ++i) {
            WaitForSingleObject(guard.get(), 5000);
            SetEvent(guard.get());
        }
    });
    std::printf("%-48s %6s %10.1f\n", "reference: guard event wait+signal", "-", ns);
}

// A level display's copy of one channel per buffer switch, while its reader does not wait.
void MeterCopy(int bytes)
{
    CMeterTap tap;
    std::vector<uint8_t> samples(bytes, 1);
    const double ns = MedianNs([&](int n) {
        for (int i = 0; i < n; ++i) {
            tap.Copy(i & 1, samples.data(), bytes);
            Touch(tap.buffer(i & 1));
        }
    });
    Report("meter tap copy, no reader waiting", bytes, ns);
}

void CountBatch(const uint8_t* blocks, const int*, int, const int*, double, CMordane* owner)
{
    ++*reinterpret_cast<int*>(owner);
    Touch(blocks);
}

void AggregatorDelivery(int sources, int nominal)
{
    std::vector<uint8_t> blocks(size_t(kCaptureBlockCount) * kCaptureBlockBytes);
    int sizes[kCaptureBlockCount] = {};
    int streams[kCaptureBlockCount] = {};
    int batches = 0;
    CCaptureAggregator aggregator(&CountBatch, reinterpret_cast<CMordane*>(&batches), blocks.data(), sizes);
    for (int s = 0; s < sources; ++s) {
        aggregator.RegisterSource(&streams[s], nominal, nominal);
        aggregator.AddPort(s);
    }
    std::vector<uint8_t> packet(nominal, 1);
    // One operation is a full set: a delivery per source, the last one completing the batch.
    const double nsPerSet = MedianNs([&](int n) {
        for (int i = 0; i < n; ++i)
            for (int s = 0; s < sources; ++s) aggregator.DeliverSource(&streams[s], packet.data(), nominal);
    });
    char what[64];
    std::snprintf(what, sizeof(what), "aggregator delivery, %d source%s (per delivery)", sources,
                  sources == 1 ? "" : "s");
    Report(what, nominal, nsPerSet / sources);
    std::printf("%-48s %6d %10.1f\n", "  the same, per batch", nominal * sources, nsPerSet);
}

}  // namespace

int main()
{
    // Fewer interruptions from the scheduler while timing.
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::printf("hand-over costs: median of %d runs of ~%.0f ms, QueryPerformanceCounter at %lld Hz\n", kRuns,
                kRunSeconds * 1000, static_cast<long long>(frequency.QuadPart));
    std::printf("%-48s %6s %10s %10s %8s\n", "operation", "bytes", "ns/op", "memcpy ns", "ratio");
    for (const int chunk : {2048, 512}) {
        FifoPushPop(chunk, false);
        FifoPushPop(chunk, true);
    }
    GuardEvent();
    MeterCopy(256);
    for (const int sources : {1, 16}) AggregatorDelivery(sources, 2048);
    return 0;
}
