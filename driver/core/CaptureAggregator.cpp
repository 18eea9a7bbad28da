#include "CaptureAggregator.h"

#include "ClockFollower.h"
#include "Mordane.h"
#include "PacketBytes.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

static_assert(kCaptureBlockCount == kMaxPorts, "one capture block per port");
static_assert(kCaptureBlockBytes == kBlockBytes, "the driver's capture blocks");

CCaptureAggregator::CCaptureAggregator(CaptureBatchCallback batchCallback, CMordane* owner, uint8_t* blocks,
                                       int* sizes)
    : batchCallback_(batchCallback), owner_(owner), blocks_(blocks), sizes_(sizes),
      portList_(new (std::nothrow) int[kMaxSources])
{
    if (portList_) std::fill_n(portList_.get(), kMaxSources, -1);
}

int CCaptureAggregator::RegisterSource(const void* stream, int packetBytes, int nominalBytes)
{
    if (!valid() || !stream || nominalBytes <= 0 || nominalBytes > kCaptureBlockBytes) return 0;

    // Allocated before taking the lock, which the other capture threads may hold.
    std::unique_ptr<SourceRecord> record(new (std::nothrow) SourceRecord);
    if (!record) return 0;
    record->packetBytes = packetBytes;
    record->nominalBytes = nominalBytes;
    record->capacity = kSourcePackets * nominalBytes;
    record->buffer.reset(new (std::nothrow) uint8_t[record->capacity]);
    if (!record->buffer) return 0;
    return AddSource(stream, std::move(record));
}

int CCaptureAggregator::RegisterPulledSource(CClockFollower* follower, int nominalBytes)
{
    if (!valid() || !follower || nominalBytes <= 0 || nominalBytes > kCaptureBlockBytes) return 0;
    std::unique_ptr<SourceRecord> record(new (std::nothrow) SourceRecord);
    if (!record) return 0;
    record->nominalBytes = nominalBytes;
    record->pulled = follower;
    return AddSource(follower, std::move(record));
}

int CCaptureAggregator::AddSource(const void* stream, std::unique_ptr<SourceRecord> record)
{
    std::lock_guard<CCriticalSection> hold(lock_);
    if (sourceCount_ >= kCaptureBlockCount) return 0;  // its packets would land past the last block
    record->index = sourceCount_;
    sources_[sourceCount_] = stream;
    sourceFifos_[sourceCount_] = std::move(record);
    ++sourceCount_;
    return 1;
}

bool CCaptureAggregator::DeliverSource(const void* stream, const void* data, int count, double capturedAt)
{
    if (count < 0 || (!data && count > 0)) return false;
    std::lock_guard<CCriticalSection> hold(lock_);
    SourceRecord* source = FindSource(stream);
    if (!source || source->pulled) return false;
    AppendDroppingNewest(source->buffer.get(), source->capacity, source->fill, static_cast<const uint8_t*>(data),
                         count);
    if (EverySourceHoldsData()) {
        Collect(capturedAt);
        // Still under the lock: capture threads are serialised through the whole buffer switch.
        if (batchCallback_) batchCallback_(blocks_, sizes_, sourceCount_, portList_.get(), capturedAt, owner_);
    }
    return true;
}

int CCaptureAggregator::UnregisterSource(const void* stream)
{
    std::unique_ptr<SourceRecord> removed;
    std::lock_guard<CCriticalSection> hold(lock_);
    int i = 0;
    while (i < sourceCount_ && sources_[i] != stream) ++i;
    if (i == sourceCount_) return 0;
    removed = std::move(sourceFifos_[i]);
    for (int k = i; k + 1 < sourceCount_; ++k) {
        sources_[k] = sources_[k + 1];
        sourceFifos_[k] = std::move(sourceFifos_[k + 1]);
        sourceFifos_[k]->index = k;
    }
    --sourceCount_;
    sources_[sourceCount_] = nullptr;
    // Source i and port-list entry i stay paired.
    if (i < portCount_) {
        for (int k = i; k + 1 < portCount_; ++k) portList_[k] = portList_[k + 1];
        portList_[--portCount_] = -1;
    }
    return 1;
}

int CCaptureAggregator::AddPort(int port)
{
    std::lock_guard<CCriticalSection> hold(lock_);
    if (!portList_ || portCount_ >= kMaxSources) return 0;
    portList_[portCount_++] = port;
    return 1;
}

int CCaptureAggregator::sourceCount() const
{
    std::lock_guard<CCriticalSection> hold(lock_);
    return sourceCount_;
}

int CCaptureAggregator::portCount() const
{
    std::lock_guard<CCriticalSection> hold(lock_);
    return portCount_;
}

CCaptureAggregator::SourceRecord* CCaptureAggregator::FindSource(const void* stream) const
{
    for (int i = 0; i < sourceCount_; ++i)
        if (sources_[i] == stream) return sourceFifos_[i].get();
    return nullptr;
}

bool CCaptureAggregator::EverySourceHoldsData() const
{
    bool pushed = false;
    for (int i = 0; i < sourceCount_; ++i) {
        const SourceRecord& source = *sourceFifos_[i];
        if (source.pulled) continue;
        if (source.fill == 0) return false;
        pushed = true;
    }
    return pushed;
}

void CCaptureAggregator::Collect(double capturedAt)
{
    for (int i = 0; i < sourceCount_; ++i) {
        SourceRecord& source = *sourceFifos_[i];
        uint8_t* block = blocks_ + size_t(i) * kCaptureBlockBytes;
        if (source.pulled) {
            source.pulled->PullCapture(block, source.nominalBytes, capturedAt);
            sizes_[i] = source.nominalBytes;
        } else if (source.fill < source.nominalBytes) {
            // A short source keeps its bytes for the next batch.
            std::memset(block, 0, source.nominalBytes);
            sizes_[i] = 0;
        } else {
            TakeFront(source.buffer.get(), source.fill, block, source.nominalBytes);
            sizes_[i] = source.nominalBytes;
        }
    }
}
