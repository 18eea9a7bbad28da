#include "EndpointCaptureStream.h"

#include "DeviceIds.h"
#include "PropertyValue.h"

#include <core/CaptureSink.h>
#include <core/PacketFifo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

CEndpointCaptureStream::CEndpointCaptureStream(IDevicePlatform& platform, int shareMode, bool ntSixMode,
                                               bool tenOrLater)
    : CEndpointStream(eCapture, platform, shareMode, ntSixMode, tenOrLater, true), platform_(platform)
{
}

CEndpointCaptureStream::~CEndpointCaptureStream() = default;

// Sets the endpoint's stored formats to the stream's, so that the device and the system agree on
// it. Opening the store for writing needs administrator rights; without them nothing changes.
void CEndpointCaptureStream::BeforeExclusive(IMMDevice* device, const WAVEFORMATEXTENSIBLE& format)
{
    ComPtr<IPropertyStore> store;
    if (FAILED(device->OpenPropertyStore(STGM_READWRITE, store.Put())) || !store) return;
    bool changed = false;
    for (const PROPERTYKEY& key : {kPkeyAudioEngineDeviceFormat, kPkeyAudioEngineOemFormat}) {
        CPropertyValue value;
        if (FAILED(store->GetValue(key, value.Put())) || value.get().vt != VT_BLOB) continue;
        BLOB& blob = value.get().blob;
        if (!blob.pBlobData || blob.cbSize < sizeof(WAVEFORMATEXTENSIBLE)) continue;
        WAVEFORMATEXTENSIBLE stored;
        std::memcpy(&stored, blob.pBlobData, sizeof(stored));
        if (stored.Format.cbSize != sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX)) continue;
        stored.Format.nChannels = format.Format.nChannels;
        stored.Format.nSamplesPerSec = format.Format.nSamplesPerSec;
        stored.Format.wBitsPerSample = format.Format.wBitsPerSample;
        stored.Samples.wValidBitsPerSample = format.Samples.wValidBitsPerSample;
        stored.Format.nBlockAlign = format.Format.nBlockAlign;
        stored.Format.nAvgBytesPerSec = format.Format.nAvgBytesPerSec;
        stored.dwChannelMask = format.dwChannelMask;
        stored.SubFormat = kSubtypePcm;
        std::memcpy(blob.pBlobData, &stored, sizeof(stored));
        if (SUCCEEDED(store->SetValue(key, value.get()))) changed = true;
    }
    if (changed) store->Commit();
}

bool CEndpointCaptureStream::PrepareDirection(bool reinitialised)
{
    if (FAILED(client_->GetService(__uuidof(IAudioCaptureClient), service_.PutVoid())) || !service_) return false;
    if (!MakeAdapter(reinitialised)) return false;
    block_.reset(new (std::nothrow) uint8_t[kBlockBytes]);
    zeros_.reset(new (std::nothrow) uint8_t[size_t(bufferFrames_) * frameBytes()]());
    if (selectsChannels()) taken_.reset(new (std::nothrow) uint8_t[size_t(bufferFrames_) * frameBytes()]);
    if (!block_ || !zeros_ || (selectsChannels() && !taken_)) return false;
    const int packetBytes = adapter_ ? adapter_->inputPacket() : this->packetBytes();
    ICaptureSink* sink = params_.captureSink;
    return !sink || sink->RegisterSource(this, packetBytes, this->packetBytes());
}

// Device buffers become nominal packets. An exclusive buffer the size of a packet needs no adapter.
bool CEndpointCaptureStream::MakeAdapter(bool reinitialised)
{
    const bool exclusive = mode_ == EndpointStreamMode::Exclusive;
    const int bufferBytes = int(bufferFrames_) * frameBytes();
    if (exclusive && !reinitialised && bufferBytes == packetBytes()) return true;
    adapter_ = NewAdapter(exclusive ? bufferBytes : periodFrames_ * frameBytes(), packetBytes());
    adapted_ = adapter_ != nullptr;
    return adapted_;
}

void CEndpointCaptureStream::Loop()
{
    IAudioCaptureClient* service = service_.Get();
    bool first = true;
    stamps_.Restart(params_.sampleRate);
    while (NextEvent()) {
        // Every packet waiting is read: a wake that came late (a buffer switch that ran long, a
        // busy system) finds more than one even when exclusive, and one left behind would keep
        // every later packet a period late until the device overran. The stop request is looked
        // at on every turn, so that a slow sink does not keep the thread draining after it.
        do {
            BYTE* data = nullptr;
            UINT32 frames = 0;
            DWORD flags = 0;
            UINT64 position = 0, counter = 0;
            const HRESULT hr = service->GetBuffer(&data, &frames, &flags, &position, &counter);
            if (hr == AUDCLNT_E_DEVICE_INVALIDATED) return;
            if (FAILED(hr) || hr == AUDCLNT_S_BUFFER_EMPTY) break;
            // Windows flags the first packet after a start as well; only later ones follow lost data.
            if ((flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) && !first)
                discontinuities_.fetch_add(1, std::memory_order_relaxed);
            first = false;
            if (data && frames) {
                const bool silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0;
                const bool taking = !silent && selectsChannels();
                const UINT32 count = silent || taking ? std::min(frames, bufferFrames_) : frames;
                if (taking) TakeEngineChannels(data, int(count), taken_.get());
                const uint8_t* engine = silent ? zeros_.get() : taking ? taken_.get() : data;
                Deliver(engine, int(count) * frameBytes(), CapturedAt(flags, position, counter, count));
                CountMoved(count);
            }
            service->ReleaseBuffer(frames);
        } while (!stopRequested());
    }
}

// When the packet's last frame was captured, on the stream's steady line: from the
// performance-counter time Windows gives for its first frame (100-ns units) and the frames after
// it at the device's measured rate, else from now.
double CEndpointCaptureStream::CapturedAt(DWORD flags, UINT64 position, UINT64 counter, UINT32 frames)
{
    const bool timed = counter != 0 && !(flags & AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR);
    const double at = timed ? double(counter) * 1e-7 + frames / stamps_.rate() : platform_.Seconds();
    return stamps_.Filter(position + frames, at);
}

void CEndpointCaptureStream::Deliver(const uint8_t* data, int bytes, double capturedAt)
{
    ICaptureSink* sink = params_.captureSink;
    if (!adapter_) {
        if (sink) sink->DeliverSource(this, data, bytes, capturedAt);
        return;
    }
    if (!adapter_->Push(data, bytes)) return;
    // A regrouped block ended as many frames before the packet's end as the adapter still holds.
    const double rate = stamps_.rate();
    while (!stopRequested() && adapter_->Pop(block_.get()))
        if (sink)
            sink->DeliverSource(this, block_.get(), packetBytes(), capturedAt - adapter_->Fill() / frameBytes() / rate);
}

// Ended on its own (device error, endpoint gone): the other sources keep completing sets. A
// requested stop leaves the sink alone, whose lock a blocked buffer switch may hold.
void CEndpointCaptureStream::Finish()
{
    if (!stopRequested() && params_.captureSink) params_.captureSink->UnregisterSource(this);
}

// The stream latency holds one device period, which fills while the host buffer does, so it is
// not waited twice. The first host buffer is complete with the device packet that fills it; what
// that packet brought beyond the buffer stays in the adapter, and every sample after it waits as
// long.
void CEndpointCaptureStream::AddLatency(EndpointStreamInfo& info) const
{
    info.adapterFrames = adapted_ ? periodFrames_ : 0;
    const int host = params_.framesPerPacket;
    const int packet = std::max(info.periodFrames, 1);
    const int firstSet = (host + packet - 1) / packet * packet;
    info.latencyFrames = std::max(info.streamLatencyFrames - info.periodFrames, 0) + firstSet - host;
}

void CEndpointCaptureStream::ReleaseDirection()
{
    service_.Reset();
    adapter_.reset();
    block_.reset();
    zeros_.reset();
    taken_.reset();
}
