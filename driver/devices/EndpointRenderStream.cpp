#include "EndpointRenderStream.h"

#include <core/PacketFifo.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

CEndpointRenderStream::CEndpointRenderStream(IDevicePlatform& platform, int shareMode, bool ntSixMode,
                                             bool tenOrLater)
    : CEndpointStream(eRender, platform, shareMode, ntSixMode, tenOrLater, false)
{
}

CEndpointRenderStream::~CEndpointRenderStream() = default;

void CEndpointRenderStream::OpenHandOver()
{
    std::lock_guard<CCriticalSection> hold(handOverLock_);
    handOver_ = true;
}

void CEndpointRenderStream::AskToStop()
{
    {
        std::lock_guard<CCriticalSection> hold(handOverLock_);
        handOver_ = false;
    }
    CEndpointStream::AskToStop();
}

int CEndpointRenderStream::Deliver(const void* block, int bytes)
{
    std::lock_guard<CCriticalSection> hold(handOverLock_);
    if (!handOver_ || !adapter_) return 0;
    int overflow = 0;
    adapter_->Push(block, bytes, &overflow);
    if (overflow) {
        drops_.fetch_add(1, std::memory_order_relaxed);
        // The stream takes an extra chunk on this wake-up and so works the backlog off.
        if (audioEvent_.valid()) SetEvent(audioEvent_.get());
    }
    return 1;
}

bool CEndpointRenderStream::PrepareDirection(bool)
{
    if (FAILED(client_->GetService(__uuidof(IAudioRenderClient), service_.PutVoid())) || !service_) return false;
    if (!MakeAdapter()) return false;
    WriteSilence(bufferFrames_);
    // Part of the start: a device without endpoint volume still streams.
    SetLevels(params_.volumeLeft, params_.volumeRight);
    return true;
}

// The engine's packets become whatever the device asks for: an exclusive device buffer, or whole
// packets staged in the block when shared.
bool CEndpointRenderStream::MakeAdapter()
{
    const bool exclusive = mode_ == EndpointStreamMode::Exclusive;
    if (!exclusive) {
        block_.reset(new (std::nothrow) uint8_t[nominalBytes_]);
        if (!block_) return false;
    }
    std::unique_ptr<CPacketFifo> adapter =
        NewAdapter(nominalBytes_, exclusive ? int(bufferFrames_) * blockAlign_ : nominalBytes_);
    if (!adapter) return false;
    std::lock_guard<CCriticalSection> hold(handOverLock_);
    adapter_ = std::move(adapter);
    return true;
}

UINT32 CEndpointRenderStream::WriteSilence(UINT32 frames)
{
    BYTE* data = nullptr;
    if (FAILED(service_->GetBuffer(frames, &data))) return 0;
    return SUCCEEDED(service_->ReleaseBuffer(frames, AUDCLNT_BUFFERFLAGS_SILENT)) ? frames : 0;
}

void CEndpointRenderStream::Loop()
{
    if (mode_ == EndpointStreamMode::Exclusive)
        LoopExclusive();
    else
        LoopShared();
}

void CEndpointRenderStream::LoopExclusive()
{
    IAudioRenderClient* service = service_.Get();
    CPacketFifo& adapter = *adapter_;
    BYTE* lastFilled = nullptr;
    bool handedOver = false;  // silence before the engine's first block is the start, not a fault
    // Buffers played as silence with nothing queued at all since then: the blocks meant for them
    // still come, late (a buffer switch that ran long). More queued than the hand-overs' usual
    // burst (a packet beyond the chunk being taken) are those, and are skipped, so that the
    // output goes back to its settled latency instead of staying late for good.
    int missed = 0;
    const int backlog = nominalBytes_ + int(bufferFrames_) * blockAlign_;
    while (NextEvent()) {
        BYTE* data = nullptr;
        const HRESULT hr = service->GetBuffer(bufferFrames_, &data);
        if (hr == AUDCLNT_E_DEVICE_INVALIDATED) return;
        if (FAILED(hr)) continue;
        DWORD flags = 0;
        // Before Windows 10 a repeated event can hand out the buffer that is already filled.
        if (data && (tenOrLater_ || data != lastFilled)) {
            while (missed > 0 && adapter.Fill() >= backlog && adapter.Pop(data)) --missed;
            // The adapter's chunk is the device buffer. Silence rather than the buffer's stale
            // contents when the engine is behind.
            if (adapter.Pop(data)) {
                CountMoved(bufferFrames_);
                handedOver = true;
            } else {
                flags = AUDCLNT_BUFFERFLAGS_SILENT;
                if (handedOver) {
                    underruns_.fetch_add(1, std::memory_order_relaxed);
                    if (adapter.Fill() == 0) ++missed;
                }
            }
            lastFilled = data;
        }
        service->ReleaseBuffer(bufferFrames_, flags);
    }
}

// Whole chunks, each written as soon as it fits. The first chunk finds the primed silence mostly
// played: silence tops the buffer up to a chunk below full before it, and the buffer stays about
// that full afterwards. A late block is not made up for with more silence, which would keep the
// blocks that follow it waiting for good.
void CEndpointRenderStream::LoopShared()
{
    IAudioClient* client = client_.Get();
    IAudioRenderClient* service = service_.Get();
    CPacketFifo& adapter = *adapter_;
    const UINT32 bufferFrames = bufferFrames_;
    const UINT32 chunkFrames = UINT32(nominalBytes_ / blockAlign_);
    const UINT32 preRoll = bufferFrames > chunkFrames ? bufferFrames - chunkFrames : 0;
    bool staged = false;  // the block holds a chunk not yet written
    bool handedOver = false;
    while (NextEvent()) {
        // What was queued when the device was asked decides the wake; later blocks wait for the next.
        int ready = adapter.Fill() / nominalBytes_;
        UINT32 padding = 0;
        const HRESULT hr = client->GetCurrentPadding(&padding);
        if (hr == AUDCLNT_E_DEVICE_INVALIDATED) return;
        if (FAILED(hr)) continue;
        while (bufferFrames - std::min(padding, bufferFrames) >= chunkFrames && !stopRequested()) {
            if (!staged && ready > 0) {
                staged = adapter.Pop(block_.get()) != 0;
                --ready;
            }
            if (!staged) break;
            if (!handedOver) {
                handedOver = true;
                if (padding < preRoll) padding += WriteSilence(preRoll - padding);
                continue;
            }
            BYTE* data = nullptr;
            if (FAILED(service->GetBuffer(chunkFrames, &data)) || !data) break;
            std::memcpy(data, block_.get(), size_t(nominalBytes_));
            if (FAILED(service->ReleaseBuffer(chunkFrames, 0))) break;
            staged = false;
            padding += chunkFrames;
            CountMoved(chunkFrames);
        }
        // Nothing to play, and the device runs short within its next period.
        if (!staged && handedOver && padding < UINT32(periodFrames_))
            underruns_.fetch_add(1, std::memory_order_relaxed);
    }
}

// The stream latency holds the device period written ahead. Exclusive, the first device buffer
// goes out at the first period whose switches have handed over a whole buffer, counted from the
// first switch, the device's periods pacing both; shared, every chunk is written behind the
// pre-roll, a chunk below the full buffer.
void CEndpointRenderStream::AddLatency(EndpointStreamInfo& info) const
{
    const bool regroups =
        mode_ == EndpointStreamMode::Exclusive && int(bufferFrames_) * blockAlign_ != nominalBytes_;
    info.adapterFrames = regroups ? periodFrames_ : 0;
    const int host = params_.framesPerPacket;
    const int period = std::max(info.periodFrames, 1);
    const auto periodsCovering = [period](int frames) { return (frames + period - 1) / period; };
    int waited = 0;
    if (mode_ == EndpointStreamMode::Exclusive) {
        const int firstSwitch = periodsCovering(host);
        const int firstBuffer = periodsCovering((info.bufferFrames + host - 1) / host * host);
        waited = (firstBuffer - firstSwitch) * period;
    } else {
        waited = std::max(info.bufferFrames - host, 0);
    }
    info.latencyFrames = info.streamLatencyFrames + waited;
}

void CEndpointRenderStream::ReleaseDirection()
{
    service_.Reset();
    {
        std::lock_guard<CCriticalSection> hold(handOverLock_);
        adapter_.reset();
    }
    block_.reset();
}
