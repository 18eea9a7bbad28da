#include "EndpointRenderStream.h"

#include <core/PacketFifo.h>
#include <core/RenderSource.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <numeric>

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
    if (placed_) {
        const int frames = std::min(bytes / (params_.channels * params_.bitsPerSample / 8), params_.framesPerPacket);
        PlaceEngineChannels(static_cast<const uint8_t*>(block), frames, placed_.get());
        block = placed_.get();
        bytes = frames * blockAlign_;
    }
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
    released_ = 0;
    if (params_.renderSource) {
        UINT64 frequency = 0;
        if (FAILED(client_->GetService(__uuidof(IAudioClock), clock_.PutVoid())) || !clock_ ||
            FAILED(clock_->GetFrequency(&frequency)) || frequency == 0)
            return false;
        clockFrequency_ = double(frequency);
        // A pulled engine block, then the device packet it is placed in when the device streams
        // more channels.
        pulled_.reset(new (std::nothrow) uint8_t[2 * size_t(nominalBytes_)]);
        if (!pulled_) return false;
        // Exclusive: the buffer playing and the one filled; shared: the buffer and the period the
        // engine is playing from it.
        queuedFrames_ = int(mode_ == EndpointStreamMode::Exclusive ? 2 * bufferFrames_ : bufferFrames_ + periodFrames_);
    }
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
    std::unique_ptr<uint8_t[]> placed(selectsChannels() ? new (std::nothrow) uint8_t[nominalBytes_] : nullptr);
    if (!adapter || (selectsChannels() && !placed)) return false;
    std::lock_guard<CCriticalSection> hold(handOverLock_);
    adapter_ = std::move(adapter);
    placed_ = std::move(placed);
    return true;
}

UINT32 CEndpointRenderStream::WriteSilence(UINT32 frames)
{
    BYTE* data = nullptr;
    if (FAILED(service_->GetBuffer(frames, &data))) return 0;
    if (FAILED(service_->ReleaseBuffer(frames, AUDCLNT_BUFFERFLAGS_SILENT))) return 0;
    released_ += frames;
    return frames;
}

void CEndpointRenderStream::PullUntil(CPacketFifo& adapter, int bytes, UINT32 staged)
{
    IRenderSource* source = params_.renderSource;
    if (!source || adapter.Fill() >= bytes) return;
    UINT64 position = 0, counter = 0;
    if (FAILED(clock_->GetPosition(&position, &counter))) return;
    // When stream frame 0 played, from the position's counter time (100-ns units).
    const double rate = params_.sampleRate;
    const double origin = double(counter) * 1e-7 - double(position) / clockFrequency_;
    while (adapter.Fill() < bytes) {
        const int64_t first = released_ + staged + adapter.Fill() / blockAlign_;
        const int engineBytes = params_.framesPerPacket * params_.channels * params_.bitsPerSample / 8;
        source->PullRender(pulled_.get(), engineBytes, origin + double(first - queuedFrames_) / rate);
        uint8_t* packet = pulled_.get();
        if (selectsChannels()) {
            packet += nominalBytes_;
            PlaceEngineChannels(pulled_.get(), params_.framesPerPacket, packet);
        }
        if (!adapter.Push(packet, nominalBytes_)) return;
    }
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
    // Periods the first block still waits once it is there, so that no later buffer comes short.
    int holdOff = -1;
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
        const bool fresh = data && (tenOrLater_ || data != lastFilled);
        if (fresh) {
            PullUntil(adapter, int(bufferFrames_) * blockAlign_, 0);
            while (missed > 0 && adapter.Fill() >= backlog && adapter.Pop(data)) --missed;
            // Pulled blocks are due as they come.
            if (holdOff < 0 && adapter.Fill() > 0) holdOff = params_.renderSource ? 0 : ExclusiveSchedule().heldPeriods;
            // The adapter's chunk is the device buffer. Silence rather than the buffer's stale
            // contents when the engine is behind.
            if (!handedOver && holdOff != 0) {
                flags = AUDCLNT_BUFFERFLAGS_SILENT;
                if (holdOff > 0) --holdOff;
            } else if (adapter.Pop(data)) {
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
        if (SUCCEEDED(service->ReleaseBuffer(bufferFrames_, flags)) && fresh) released_ += bufferFrames_;
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
            if (!staged && ready == 0 && params_.renderSource) {
                PullUntil(adapter, nominalBytes_, 0);
                ready = adapter.Fill() / nominalBytes_;
            }
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
            released_ += chunkFrames;
            staged = false;
            padding += chunkFrames;
            CountMoved(chunkFrames);
        }
        // Nothing to play, and the device runs short within its next period.
        if (!staged && handedOver && padding < UINT32(periodFrames_))
            underruns_.fetch_add(1, std::memory_order_relaxed);
    }
}

// Each device buffer is taken at one of the device's periods, the switches hand the blocks over
// on their own grid, and a buffer that is not whole when its period comes would play as silence
// and leave every later one a period later. The first buffer therefore waits for the first period
// from which every buffer is whole in time; the pattern repeats once the blocks, the switches and
// the buffers meet again, so one such cycle decides it.
CEndpointRenderStream::Schedule CEndpointRenderStream::ScheduleOf(int host, int grid, int period, int buffer)
{
    constexpr int64_t kLongestCycle = 1 << 16;  // buffers; past it the wait is a lower bound
    const auto handedOver = [host, grid](int64_t frame) {  // when the switch carrying it runs
        const int64_t blocks = frame / host + 1;
        return (blocks * host + grid - 1) / grid * grid;
    };
    const int64_t cycle = std::lcm(std::lcm<int64_t>(host, grid), int64_t(buffer)) / buffer;
    int64_t first = 0;
    for (int64_t i = 0; i < std::min(cycle, kLongestCycle); ++i) {
        const int64_t due = handedOver((i + 1) * buffer - 1) - i * period;
        first = std::max(first, (due + period - 1) / period);
    }
    const int64_t firstSwitch = handedOver(0);
    return {int(first * period - firstSwitch), int(first - (firstSwitch + period - 1) / period)};
}

CEndpointRenderStream::Schedule CEndpointRenderStream::ExclusiveSchedule() const
{
    const int period = std::max(periodFrames_, 1);
    const int grid = switchGrid_.load(std::memory_order_relaxed);
    return ScheduleOf(params_.framesPerPacket, grid > 0 ? grid : period, period, std::max(int(bufferFrames_), 1));
}

// The stream latency holds the device period written ahead; shared, every chunk is written
// behind the pre-roll, a chunk below the full buffer.
void CEndpointRenderStream::AddLatency(EndpointStreamInfo& info) const
{
    const bool regroups =
        mode_ == EndpointStreamMode::Exclusive && int(bufferFrames_) * blockAlign_ != nominalBytes_;
    info.adapterFrames = regroups ? periodFrames_ : 0;
    const int host = params_.framesPerPacket;
    const int waited = mode_ == EndpointStreamMode::Exclusive ? ExclusiveSchedule().wait
                                                              : std::max(info.bufferFrames - host, 0);
    info.latencyFrames = info.streamLatencyFrames + waited;
}

void CEndpointRenderStream::ReleaseDirection()
{
    service_.Reset();
    clock_.Reset();
    pulled_.reset();
    {
        std::lock_guard<CCriticalSection> hold(handOverLock_);
        adapter_.reset();
        placed_.reset();
    }
    block_.reset();
}
