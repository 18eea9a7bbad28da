// CCaptureAggregator: collects the capture data of every capturing interface. Each capture thread
// registers its stream once, then hands over every block it reads; as soon as every registered
// stream holds data, one nominal packet of each goes to the driver's capture blocks and the batch
// callback runs, on the thread that completed the set and under the aggregator's lock. The buffer
// switch is thereby paced by the slowest interface. A pulled source (a port that follows another's
// clock) holds no data here: its block is pulled from it whenever the others complete a set.
#pragma once

#include "CaptureSink.h"

#include <veloran/CriticalSection.h>

#include <cstdint>
#include <memory>
#include <mutex>

class CClockFollower;
class CMordane;

// blocks holds one packet per source at kCaptureBlockBytes intervals; sizes[i] is 0 for a source
// that had less than a packet (its block is then zeros). portList[i] is source i's port.
// capturedAt: when the block that completed the set was captured (as ICaptureSink tells it).
using CaptureBatchCallback = void (*)(const uint8_t* blocks, const int* sizes, int sourceCount,
                                      const int* portList, double capturedAt, CMordane* owner);

constexpr int kCaptureBlockCount = 16;  // one per port
constexpr int kCaptureBlockBytes = 16384;

class CCaptureAggregator final : public ICaptureSink {
public:
    static constexpr int kMaxSources = 64;  // list size; registration stops at kCaptureBlockCount
    static constexpr int kSourcePackets = 10;

    // blocks (kCaptureBlockCount × kCaptureBlockBytes) and sizes (kCaptureBlockCount) belong to the
    // driver and must outlive the aggregator. A null batchCallback only collects.
    CCaptureAggregator(CaptureBatchCallback batchCallback, CMordane* owner, uint8_t* blocks, int* sizes);
    CCaptureAggregator(const CCaptureAggregator&) = delete;
    CCaptureAggregator& operator=(const CCaptureAggregator&) = delete;

    // False when the port list could not be allocated or blocks or sizes is null; nothing can then
    // be registered.
    bool valid() const { return portList_ && blocks_ && sizes_; }

    // Once per stream before it runs. Returns 1, or 0 (nothing stored) for a null stream, a
    // nominalBytes outside 1..kCaptureBlockBytes, a full set of sources or no memory.
    int RegisterSource(const void* stream, int packetBytes, int nominalBytes) override;
    // A source whose nominal block is pulled from it at each set; it completes none itself.
    // Unregistered as the follower itself. Returns 1, or 0 as RegisterSource.
    int RegisterPulledSource(CClockFollower* follower, int nominalBytes);
    // Appends count captured bytes to the stream's backlog and completes a batch when every source
    // holds data. False, with nothing changed, for an unregistered stream or bad arguments.
    bool DeliverSource(const void* stream, const void* data, int count, double capturedAt = kCapturedNow) override;
    // Forgets a stream that stopped, so that the others can complete sets again; its port-list
    // entry goes with it. Returns 1, or 0 for a stream that is not registered.
    int UnregisterSource(const void* stream) override;
    // Returns 1, or 0 when the port list is full.
    int AddPort(int port);

    int sourceCount() const;
    int portCount() const;

    // Runs work under the lock the buffer switch holds, so that it cannot overlap a switch.
    template <class Work>
    void Exclusive(Work&& work)
    {
        std::lock_guard<CCriticalSection> hold(lock_);
        work();
    }

private:
    struct SourceRecord {
        int index = 0;
        int packetBytes = 0;  // bytes of one read of the stream; recorded only
        int capacity = 0;
        int nominalBytes = 0;
        std::unique_ptr<uint8_t[]> buffer;
        int fill = 0;
        CClockFollower* pulled = nullptr;
    };

    int AddSource(const void* stream, std::unique_ptr<SourceRecord> record);

    SourceRecord* FindSource(const void* stream) const;
    bool EverySourceHoldsData() const;
    // capturedAt: when the block that completed the set was captured.
    void Collect(double capturedAt);

    const CaptureBatchCallback batchCallback_;
    CMordane* const owner_;
    uint8_t* const blocks_;
    int* const sizes_;
    const void* sources_[kMaxSources] = {};
    int sourceCount_ = 0;
    std::unique_ptr<int[]> portList_;
    int portCount_ = 0;
    std::unique_ptr<SourceRecord> sourceFifos_[kMaxSources];
    mutable CCriticalSection lock_;
};
