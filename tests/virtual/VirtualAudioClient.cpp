// The virtual audio client: Initialize with Windows' checks and error codes, the capture and
// render services, and what happens at the end of each device period.
#include "ExactRatio.h"
#include "VirtualAudioState.h"

#include <devices/DeviceIds.h>
#include <veloran/ComPtr.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

namespace VirtualAudio {
namespace {

constexpr DWORD kKnownFlags = AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_NOPERSIST |
                              AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;

bool IsPcm(const WAVEFORMATEX* format)
{
    if (format->wFormatTag == WAVE_FORMAT_PCM) return true;
    if (format->wFormatTag != WAVE_FORMAT_EXTENSIBLE || format->cbSize < 22) return false;
    const auto* extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(format);
    return std::memcmp(&extensible->SubFormat, &kSubtypePcm, sizeof(GUID)) == 0 &&
           extensible->Samples.wValidBitsPerSample == format->wBitsPerSample;
}

// A PCM format whose sizes agree with each other.
bool IsConsistentPcm(const WAVEFORMATEX* format)
{
    return IsPcm(format) && format->nChannels >= 1 && format->nChannels <= 8 && format->wBitsPerSample % 8 == 0 &&
           format->wBitsPerSample >= 8 && format->wBitsPerSample <= 32 &&
           format->nBlockAlign == format->nChannels * format->wBitsPerSample / 8 &&
           format->nAvgBytesPerSec == format->nSamplesPerSec * format->nBlockAlign &&
           format->nSamplesPerSec >= 8000 && format->nSamplesPerSec <= 384000;
}

UINT32 FramesOf(REFERENCE_TIME duration, int rate) { return UINT32((duration * rate + 5000000) / 10000000); }

WAVEFORMATEX* MixFormat(const Endpoint& endpoint)
{
    auto* mix = static_cast<WAVEFORMATEXTENSIBLE*>(CoTaskMemAlloc(sizeof(WAVEFORMATEXTENSIBLE)));
    if (!mix) return nullptr;
    *mix = {};
    mix->Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    mix->Format.nChannels = WORD(endpoint.mixChannels);
    mix->Format.nSamplesPerSec = DWORD(endpoint.mixRate);
    mix->Format.wBitsPerSample = 32;
    mix->Format.nBlockAlign = WORD(4 * endpoint.mixChannels);
    mix->Format.nAvgBytesPerSec = mix->Format.nSamplesPerSec * mix->Format.nBlockAlign;
    mix->Format.cbSize = 22;
    mix->Samples.wValidBitsPerSample = 32;
    mix->dwChannelMask = endpoint.mixChannels == 1 ? SPEAKER_FRONT_CENTER : SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    mix->SubFormat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};  // float
    return &mix->Format;
}

class CCaptureService final : public CObject<IAudioCaptureClient> {
public:
    CCaptureService(std::shared_ptr<State> state, CAudioClient* client)
        : CObject(std::move(state)), client_(ComPtr<IAudioClient>::Attach(client))
    {
        client->AddRef();
    }
    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* position,
                                        UINT64* counter) override
    {
        return Client()->CaptureGetBuffer(data, frames, flags, position, counter);
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames) override { return Client()->CaptureReleaseBuffer(frames); }
    HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) override { return Client()->CaptureNextPacketSize(frames); }

private:
    CAudioClient* Client() const { return static_cast<CAudioClient*>(client_.Get()); }
    ComPtr<IAudioClient> client_;  // a service keeps its client alive, as Windows' do
};

class CRenderService final : public CObject<IAudioRenderClient> {
public:
    CRenderService(std::shared_ptr<State> state, CAudioClient* client)
        : CObject(std::move(state)), client_(ComPtr<IAudioClient>::Attach(client))
    {
        client->AddRef();
    }
    HRESULT STDMETHODCALLTYPE GetBuffer(UINT32 frames, BYTE** data) override { return Client()->RenderGetBuffer(frames, data); }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames, DWORD flags) override
    {
        return Client()->RenderReleaseBuffer(frames, flags);
    }

private:
    CAudioClient* Client() const { return static_cast<CAudioClient*>(client_.Get()); }
    ComPtr<IAudioClient> client_;
};

// The stream's clock: its position in bytes against the reference clock's time.
class CClockService final : public CObject<IAudioClock> {
public:
    CClockService(std::shared_ptr<State> state, CAudioClient* client)
        : CObject(std::move(state)), client_(ComPtr<IAudioClient>::Attach(client))
    {
        client->AddRef();
    }
    HRESULT STDMETHODCALLTYPE GetFrequency(UINT64* frequency) override { return Client()->ClockFrequency(frequency); }
    HRESULT STDMETHODCALLTYPE GetPosition(UINT64* position, UINT64* counter) override
    {
        return Client()->ClockPosition(position, counter);
    }
    HRESULT STDMETHODCALLTYPE GetCharacteristics(DWORD* characteristics) override
    {
        if (!characteristics) return E_POINTER;
        *characteristics = 0;
        return S_OK;
    }

private:
    CAudioClient* Client() const { return static_cast<CAudioClient*>(client_.Get()); }
    ComPtr<IAudioClient> client_;
};

}  // namespace

void WriteSample(uint8_t* at, int32_t value, int bits)
{
    for (int b = 0; b < bits / 8; ++b) at[b] = uint8_t(uint32_t(value) >> (8 * b));
}

CAudioClient::CAudioClient(std::shared_ptr<State> state, Endpoint& endpoint)
    : CObject(std::move(state)), endpoint_(endpoint), removals_(endpoint.removals), capture_(endpoint.flow == eCapture)
{
    Lock hold(state_->mutex);
    state_->clients.push_back(this);
}

CAudioClient::~CAudioClient()
{
    Lock hold(state_->mutex);
    auto& clients = state_->clients;
    clients.erase(std::remove(clients.begin(), clients.end(), this), clients.end());
}

HRESULT CAudioClient::Initialize(AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME duration,
                                 REFERENCE_TIME periodicity, const WAVEFORMATEX* format, LPCGUID)
{
    Lock hold(state_->mutex);
    VirtualInitializeCall call{mode == AUDCLNT_SHAREMODE_EXCLUSIVE, flags, duration, periodicity, 0, 0, 0, S_OK, 0};
    if (format) {
        call.rate = int(format->nSamplesPerSec);
        call.bits = format->wBitsPerSample;
        call.channels = format->nChannels;
    }
    HRESULT hr = S_OK;
    if (initialized_)
        hr = AUDCLNT_E_ALREADY_INITIALIZED;
    else if (!format)
        hr = E_POINTER;
    else if (invalidated())
        hr = AUDCLNT_E_DEVICE_INVALIDATED;
    else if ((flags & ~kKnownFlags) != 0 || (mode != AUDCLNT_SHAREMODE_EXCLUSIVE && mode != AUDCLNT_SHAREMODE_SHARED))
        hr = E_INVALIDARG;
    else if (endpoint_.failTimes > 0) {
        --endpoint_.failTimes;
        hr = endpoint_.failResult;
    } else {
        std::memset(&format_, 0, sizeof(format_));
        std::memcpy(&format_, format, format->wFormatTag == WAVE_FORMAT_EXTENSIBLE ? sizeof(format_) : sizeof(WAVEFORMATEX));
        rate_ = int(format->nSamplesPerSec);
        bits_ = format->wBitsPerSample;
        channels_ = format->nChannels;
        blockAlign_ = format->nBlockAlign;
        hr = mode == AUDCLNT_SHAREMODE_EXCLUSIVE ? InitializeExclusive(flags, duration, periodicity)
                                                 : InitializeShared(flags, duration, periodicity);
    }
    if (SUCCEEDED(hr)) {
        initialized_ = true;
        exclusive_ = mode == AUDCLNT_SHAREMODE_EXCLUSIVE;
        Allocate();
    }
    call.result = hr;
    call.bufferFrames = initialized_ ? bufferFrames_ : alignedFrames_;
    endpoint_.calls.push_back(call);
    return hr;
}

bool CAudioClient::OtherClientHoldsExclusively() const
{
    for (const CAudioClient* client : state_->clients)
        if (client != this && client->endpointId() == endpoint_.id && client->holdsExclusively()) return true;
    return false;
}

HRESULT CAudioClient::InitializeExclusive(DWORD flags, REFERENCE_TIME duration, REFERENCE_TIME periodicity)
{
    if (endpoint_.refuseInitialize != S_OK) return endpoint_.refuseInitialize;
    // "AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED: the caller is requesting exclusive-mode use of the
    // endpoint device, but the user has disabled exclusive-mode use of the device."
    if (!endpoint_.exclusiveAllowed) return AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED;
    // "AUDCLNT_E_DEVICE_IN_USE: either the device is being used in exclusive mode, or the device
    // is being used in shared mode and the caller asked to use the device in exclusive mode."
    if (endpoint_.otherProgram != VirtualOtherProgram::None || OtherClientHoldsExclusively())
        return AUDCLNT_E_DEVICE_IN_USE;
    if (!ExclusiveAccepts(&format_.Format)) return AUDCLNT_E_UNSUPPORTED_FORMAT;
    const bool events = (flags & AUDCLNT_STREAMFLAGS_EVENTCALLBACK) != 0;
    if (events && duration != periodicity) return AUDCLNT_E_BUFDURATION_PERIOD_NOT_EQUAL;
    // An event-driven buffer is one period, so a period the device cannot keep is refused rather
    // than clamped, as Windows does below the minimum GetDevicePeriod reports.
    const REFERENCE_TIME period = periodicity ? periodicity : duration;
    if (period < endpoint_.minimumPeriod || period > endpoint_.maximumPeriod) return AUDCLNT_E_INVALID_DEVICE_PERIOD;
    // "AUDCLNT_E_BUFFER_SIZE_ERROR: ... for pull mode must not be greater than 5000 milliseconds;
    // for push mode the duration value must not be greater than 2 seconds."
    const UINT32 frames = FramesOf(duration, rate_);
    if (frames == 0 || duration > (events ? 50000000 : 20000000)) return AUDCLNT_E_BUFFER_SIZE_ERROR;
    if (endpoint_.alignment > 0 && (uint64_t(frames) * blockAlign_) % endpoint_.alignment != 0) {
        // "Call IAudioClient::GetBufferSize and receive the next-highest-aligned buffer size (in
        // frames)": the next size whose bytes are a whole number of the device's alignment units.
        const int64_t unit = std::lcm<int64_t>(endpoint_.alignment, blockAlign_) / blockAlign_;
        alignedFrames_ = UINT32((frames + unit - 1) / unit * unit);
        return AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED;
    }
    bufferFrames_ = periodFrames_ = frames;
    latency_ = duration + endpoint_.extraLatency;
    return S_OK;
}

HRESULT CAudioClient::InitializeShared(DWORD flags, REFERENCE_TIME duration, REFERENCE_TIME periodicity)
{
    if (periodicity != 0) return E_INVALIDARG;
    if (endpoint_.otherProgram == VirtualOtherProgram::Exclusive || OtherClientHoldsExclusively())
        return AUDCLNT_E_DEVICE_IN_USE;
    const WAVEFORMATEX& format = format_.Format;
    if (flags & AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM) {
        if (!IsConsistentPcm(&format)) return AUDCLNT_E_UNSUPPORTED_FORMAT;
    } else if (int(format.nSamplesPerSec) != endpoint_.mixRate || format.nChannels != endpoint_.mixChannels ||
               format.wBitsPerSample != 32 || IsPcm(&format)) {
        return AUDCLNT_E_UNSUPPORTED_FORMAT;  // without conversion only the float mix format
    }
    periodFrames_ = std::max<UINT32>(1, FramesOf(endpoint_.defaultPeriod, rate_));
    bufferFrames_ = std::max(FramesOf(duration, rate_), 2 * periodFrames_);
    latency_ = endpoint_.defaultPeriod + endpoint_.extraLatency;
    return S_OK;
}

bool CAudioClient::ExclusiveAccepts(const WAVEFORMATEX* format) const
{
    if (!IsConsistentPcm(format)) return false;
    for (const VirtualFormat& accepted : endpoint_.formats)
        if (accepted.rate == int(format->nSamplesPerSec) && accepted.bits == format->wBitsPerSample &&
            accepted.channels == format->nChannels)
            return true;
    return false;
}

void CAudioClient::Allocate()
{
    const size_t period = size_t(periodFrames_) * blockAlign_;
    if (capture_) {
        // "The Initialize method allocates two buffers for the stream. Each buffer is equal in
        // duration to the value of the hnsBufferDuration parameter" (exclusive, event-driven).
        slots_ = exclusive_ ? 2 : std::max<int>(1, int(bufferFrames_ / periodFrames_));
        packets_.assign(period * slots_, 0);
        flagged_.assign(size_t(slots_), 0);
    } else if (exclusive_) {
        buffers_[0].assign(period, 0);
        buffers_[1].assign(period, 0);
    } else {
        ring_.assign(size_t(bufferFrames_) * blockAlign_, 0);
        scratch_.assign(size_t(bufferFrames_) * blockAlign_, 0);
    }
}

HRESULT CAudioClient::GetBufferSize(UINT32* frames)
{
    if (!frames) return E_POINTER;
    Lock hold(state_->mutex);
    if (initialized_ && invalidated()) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (initialized_) {
        *frames = bufferFrames_;
        return S_OK;
    }
    if (alignedFrames_) {
        *frames = alignedFrames_;
        return S_OK;
    }
    return AUDCLNT_E_NOT_INITIALIZED;
}

HRESULT CAudioClient::GetStreamLatency(REFERENCE_TIME* latency)
{
    if (!latency) return E_POINTER;
    Lock hold(state_->mutex);
    if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
    if (invalidated()) return AUDCLNT_E_DEVICE_INVALIDATED;
    *latency = latency_;
    return S_OK;
}

HRESULT CAudioClient::GetCurrentPadding(UINT32* frames)
{
    if (!frames) return E_POINTER;
    Lock hold(state_->mutex);
    if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
    if (invalidated()) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (capture_)
        *frames = UINT32(queued_) * periodFrames_;
    else if (exclusive_)
        *frames = filled_ ? bufferFrames_ : 0;
    else {
        *frames = ringFrames_;
        answered_ = true;
    }
    return S_OK;
}

HRESULT CAudioClient::IsFormatSupported(AUDCLNT_SHAREMODE mode, const WAVEFORMATEX* format, WAVEFORMATEX** closest)
{
    if (closest) *closest = nullptr;
    if (!format) return E_POINTER;
    Lock hold(state_->mutex);
    if (invalidated()) return AUDCLNT_E_DEVICE_INVALIDATED;
    endpoint_.queries.push_back({mode == AUDCLNT_SHAREMODE_EXCLUSIVE, int(format->nSamplesPerSec),
                                 format->wBitsPerSample, format->nChannels});
    if (mode == AUDCLNT_SHAREMODE_EXCLUSIVE) {
        if (endpoint_.refuseFormat != S_OK) return endpoint_.refuseFormat;
        return ExclusiveAccepts(format) ? S_OK : AUDCLNT_E_UNSUPPORTED_FORMAT;
    }
    if (mode != AUDCLNT_SHAREMODE_SHARED) return E_INVALIDARG;
    if (!IsPcm(format) && format->wBitsPerSample == 32 && int(format->nSamplesPerSec) == endpoint_.mixRate &&
        format->nChannels == endpoint_.mixChannels)
        return S_OK;
    if (!closest) return AUDCLNT_E_UNSUPPORTED_FORMAT;
    *closest = MixFormat(endpoint_);
    return *closest ? S_FALSE : E_OUTOFMEMORY;
}

HRESULT CAudioClient::GetMixFormat(WAVEFORMATEX** format)
{
    if (!format) return E_POINTER;
    Lock hold(state_->mutex);
    if (invalidated()) return AUDCLNT_E_DEVICE_INVALIDATED;
    *format = MixFormat(endpoint_);
    return *format ? S_OK : E_OUTOFMEMORY;
}

HRESULT CAudioClient::GetDevicePeriod(REFERENCE_TIME* defaultPeriod, REFERENCE_TIME* minimumPeriod)
{
    if (!defaultPeriod && !minimumPeriod) return E_POINTER;
    Lock hold(state_->mutex);
    if (invalidated()) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (defaultPeriod) *defaultPeriod = endpoint_.defaultPeriod;
    if (minimumPeriod) *minimumPeriod = endpoint_.minimumPeriod;
    return S_OK;
}

HRESULT CAudioClient::Start()
{
    Lock hold(state_->mutex);
    if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
    if (invalidated()) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (running_) return AUDCLNT_E_NOT_STOPPED;
    if (!event_) return AUDCLNT_E_EVENTHANDLE_NOT_SET;
    running_ = true;
    startedAt_ = state_->now;
    clockAt_ = startedAt_;
    clockPeriods_ = 0;
    // Each period end appends one period to the record, which then plays for a period.
    if (!capture_) endpoint_.playStart = ExactBoundaryOf(1);
    periods_ = 0;
    wakeAt_ = -1;
    answered_ = true;
    // GetBuffer: DATA_DISCONTINUITY marks a packet not correlated with the previous one's device
    // position, "possibly due to a stream state transition": Windows sets it after every start.
    discontinuity_ = capture_;
    ++endpoint_.stats.starts;
    return S_OK;
}

HRESULT CAudioClient::Stop()
{
    Lock hold(state_->mutex);
    if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
    if (!running_) return S_FALSE;
    stoppedAt_ = Position();
    running_ = false;
    return S_OK;
}

HRESULT CAudioClient::Reset()
{
    Lock hold(state_->mutex);
    if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
    if (running_) return AUDCLNT_E_NOT_STOPPED;
    stoppedAt_ = 0;
    queued_ = 0;
    ringFrames_ = 0;
    filled_ = false;
    return S_OK;
}

HRESULT CAudioClient::SetEventHandle(HANDLE event)
{
    Lock hold(state_->mutex);
    if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
    if (!event || event == INVALID_HANDLE_VALUE) return E_INVALIDARG;
    event_ = event;  // borrowed: the client must keep it open, as on Windows
    return S_OK;
}

HRESULT CAudioClient::GetService(REFIID iid, void** service)
{
    if (!service) return E_POINTER;
    *service = nullptr;
    Lock hold(state_->mutex);
    if (!initialized_) return AUDCLNT_E_NOT_INITIALIZED;
    if (invalidated()) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (capture_ && iid == __uuidof(IAudioCaptureClient)) {
        *service = static_cast<IAudioCaptureClient*>(new CCaptureService(state_, this));
        return S_OK;
    }
    if (!capture_ && iid == __uuidof(IAudioRenderClient)) {
        *service = static_cast<IAudioRenderClient*>(new CRenderService(state_, this));
        return S_OK;
    }
    if (iid == __uuidof(IAudioClock)) {
        *service = static_cast<IAudioClock*>(new CClockService(state_, this));
        return S_OK;
    }
    return AUDCLNT_E_WRONG_ENDPOINT_TYPE;
}

HRESULT CAudioClient::CaptureGetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* position, UINT64* counter)
{
    if (!data || !frames || !flags) return E_POINTER;
    Lock hold(state_->mutex);
    *data = nullptr;
    *frames = 0;
    *flags = 0;
    if (position) *position = 0;
    if (counter) *counter = 0;
    if (invalidated()) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (captureHeld_) return Refuse(AUDCLNT_E_OUT_OF_ORDER);
    if (queued_ == 0) return AUDCLNT_S_BUFFER_EMPTY;
    *data = packets_.data() + size_t(head_) * periodFrames_ * blockAlign_;
    *frames = periodFrames_;
    *flags = flagged_[size_t(head_)] ? AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY : 0;
    captureHeld_ = periodFrames_;
    // The device position of the packet's first frame, and its time on the reference clock in
    // 100-ns units, as the performance counter's time would be.
    const int64_t period = periods_ - queued_;
    if (position) *position = UINT64(period) * periodFrames_;
    if (counter) *counter = UINT64(std::llround(ExactBoundaryOf(period) * 1e7 / state_->referenceRate));
    return S_OK;
}

HRESULT CAudioClient::CaptureReleaseBuffer(UINT32 frames)
{
    Lock hold(state_->mutex);
    if (invalidated()) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (!captureHeld_) return Refuse(AUDCLNT_E_OUT_OF_ORDER);
    if (frames != 0 && frames != captureHeld_) return Refuse(AUDCLNT_E_INVALID_SIZE);
    captureHeld_ = 0;
    if (frames == 0) return S_OK;  // the packet stays for the next GetBuffer
    flagged_[size_t(head_)] = 0;
    head_ = (head_ + 1) % slots_;
    --queued_;
    return S_OK;
}

HRESULT CAudioClient::CaptureNextPacketSize(UINT32* frames)
{
    if (!frames) return E_POINTER;
    Lock hold(state_->mutex);
    if (invalidated()) return AUDCLNT_E_DEVICE_INVALIDATED;
    // Microsoft documents it for shared streams only; here an exclusive stream answers as well,
    // so that a test sees what a late wake left waiting once its packet is read.
    *frames = queued_ - (captureHeld_ ? 1 : 0) > 0 ? periodFrames_ : 0;
    return S_OK;
}

HRESULT CAudioClient::ClockFrequency(UINT64* frequency)
{
    if (!frequency) return E_POINTER;
    Lock hold(state_->mutex);
    if (invalidated()) return AUDCLNT_E_DEVICE_INVALIDATED;
    *frequency = 10000000;
    return S_OK;
}

HRESULT CAudioClient::ClockPosition(UINT64* position, UINT64* counter)
{
    if (!position) return E_POINTER;
    Lock hold(state_->mutex);
    if (invalidated()) return AUDCLNT_E_DEVICE_INVALIDATED;
    *position = UINT64(std::llround(Position() * 1e7 / rate_));
    if (counter) *counter = UINT64(std::llround(double(state_->now) * 1e7 / state_->referenceRate));
    return S_OK;
}

double CAudioClient::Position() const
{
    if (!running_) return stoppedAt_;
    // The frames the device's clock has run since the start; a render stream's first period
    // leaves the buffer only when it ends.
    const double ran = double(clockPeriods_ * periodFrames_) +
                       double(state_->now - clockAt_) * rate_ * (1 + endpoint_.rateErrorPpb * 1e-9) / state_->referenceRate;
    return stoppedAt_ + std::max(0.0, capture_ ? ran : ran - periodFrames_);
}

HRESULT CAudioClient::RenderGetBuffer(UINT32 frames, BYTE** data)
{
    if (!data) return E_POINTER;
    Lock hold(state_->mutex);
    *data = nullptr;
    if (invalidated()) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (renderHolding_) return Refuse(AUDCLNT_E_OUT_OF_ORDER);
    if (exclusive_) {
        // "AUDCLNT_E_BUFFER_SIZE_ERROR: the stream is exclusive mode and uses event-driven
        // buffering, but the client attempted to get a packet that was not the size of the
        // buffer." Once the buffer due next is filled there is no space until the device takes it.
        if (frames != bufferFrames_) return Refuse(AUDCLNT_E_BUFFER_SIZE_ERROR);
        if (filled_) return Refuse(AUDCLNT_E_BUFFER_TOO_LARGE);
        *data = buffers_[fill_].data();
    } else {
        if (frames > bufferFrames_ - ringFrames_) return Refuse(AUDCLNT_E_BUFFER_TOO_LARGE);
        *data = scratch_.data();
    }
    renderHeld_ = frames;
    renderHolding_ = true;
    return S_OK;
}

HRESULT CAudioClient::RenderReleaseBuffer(UINT32 frames, DWORD flags)
{
    Lock hold(state_->mutex);
    if (invalidated()) return AUDCLNT_E_DEVICE_INVALIDATED;
    if (!renderHolding_) return Refuse(AUDCLNT_E_OUT_OF_ORDER);
    if (frames > renderHeld_) return Refuse(AUDCLNT_E_INVALID_SIZE);
    // The same for a release of part of an exclusive buffer.
    if (exclusive_ && frames != 0 && frames != bufferFrames_) return Refuse(AUDCLNT_E_BUFFER_SIZE_ERROR);
    renderHolding_ = false;
    const bool silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0;
    if (exclusive_) {
        if (frames != 0) {
            filled_ = true;
            filledSilent_ = silent;
        }
        answered_ = true;
        return S_OK;
    }
    const size_t capacity = bufferFrames_;
    for (UINT32 i = 0; i < frames; ++i) {
        const size_t slot = (ringHead_ + ringFrames_ + i) % capacity;
        uint8_t* to = ring_.data() + slot * blockAlign_;
        if (silent)
            std::memset(to, 0, blockAlign_);
        else
            std::memcpy(to, scratch_.data() + size_t(i) * blockAlign_, blockAlign_);
    }
    ringFrames_ += frames;
    return S_OK;
}

int64_t CAudioClient::NextBoundary() const { return BoundaryOf(periods_ + 1); }

int64_t CAudioClient::BoundaryOf(int64_t period) const
{
    // Period k ends when the device clock, running at rate × (1 + error), has produced k periods.
    const int64_t frames = (period - clockPeriods_) * periodFrames_;
    return clockAt_ + MulDivCeil(frames, int64_t(state_->referenceRate) * 1000000000,
                                 rate_ * (1000000000 + endpoint_.rateErrorPpb));
}

double CAudioClient::ExactBoundaryOf(int64_t period) const { return FrameTime(period * periodFrames_); }

double CAudioClient::FrameTime(int64_t frame) const
{
    const double frames = double(frame - clockPeriods_ * periodFrames_);
    return double(clockAt_) + frames * state_->referenceRate / (rate_ * (1 + endpoint_.rateErrorPpb * 1e-9));
}

void CAudioClient::RebaseClock()
{
    if (!running_) return;
    clockAt_ = BoundaryOf(periods_);
    clockPeriods_ = periods_;
}

void CAudioClient::FillPacket(uint8_t* packet)
{
    const int bytes = bits_ / 8;
    if (endpoint_.loopbackSource >= 0) {
        FillFromLoopback(packet);
        return;
    }
    for (UINT32 f = 0; f < periodFrames_; ++f) {
        const int64_t n = endpoint_.generated + f;
        for (int c = 0; c < channels_; ++c)
            WriteSample(packet + (size_t(f) * channels_ + c) * bytes, endpoint_.signals[c].Sample(n, rate_, bits_), bits_);
    }
    endpoint_.generated += periodFrames_;
}

void CAudioClient::FillFromLoopback(uint8_t* packet)
{
    const Endpoint& source = state_->At(endpoint_.loopbackSource);
    const auto converterFrames = [this](LONGLONG latency) { return int64_t(latency) * rate_ / 10000000; };
    const int bytes = bits_ / 8;
    const int sourceChannels = source.channels;
    const int64_t sourceFrames = int64_t(source.rendered.size()) / (sourceChannels * bytes);
    const int64_t taken = source.takenBytes / (sourceChannels * bytes);
    for (UINT32 f = 0; f < periodFrames_; ++f) {
        // Frame n was sampled converterFrames before it reached the buffer; the sound it caught
        // left the render buffer the other converter's delay earlier.
        const int64_t n = endpoint_.generated + f;
        const double heard = FrameTime(n) - double(converterFrames(endpoint_.extraLatency)) -
                             double(converterFrames(source.extraLatency));
        // The render side's frames pass at its own clock's rate.
        const auto played =
            int64_t(std::llround((heard - source.playStart) * (1 + source.rateErrorPpb * 1e-9))) - taken;
        for (int c = 0; c < channels_; ++c) {
            uint8_t* to = packet + (size_t(f) * channels_ + c) * bytes;
            if (played >= 0 && played < sourceFrames && c < sourceChannels)
                std::memcpy(to, source.rendered.data() + (size_t(played) * sourceChannels + c) * bytes, bytes);
            else
                std::memset(to, 0, bytes);
        }
    }
    endpoint_.generated += periodFrames_;
}

void CAudioClient::EndPeriod()
{
    ++periods_;
    ++endpoint_.stats.periods;
    const size_t periodBytes = size_t(periodFrames_) * blockAlign_;
    if (capture_) {
        if (queued_ == slots_) {
            // The device overwrites the oldest unread packet, as a full buffer does; while the
            // client holds that one, the new packet is lost instead. What follows the loss is flagged.
            ++endpoint_.stats.overruns;
            if (captureHeld_ == 0) {
                head_ = (head_ + 1) % slots_;
                --queued_;
                if (queued_ > 0)
                    flagged_[size_t(head_)] = 1;
                else
                    discontinuity_ = true;
            } else {
                discontinuity_ = true;
            }
        }
        if (queued_ < slots_) {
            const int slot = (head_ + queued_) % slots_;
            FillPacket(packets_.data() + size_t(slot) * periodBytes);
            flagged_[size_t(slot)] = discontinuity_ ? 1 : 0;
            discontinuity_ = false;
            ++queued_;
            endpoint_.stats.frames += periodFrames_;
        }
    } else if (exclusive_) {
        // The buffer filled for this period plays; the client fills the other one next.
        if (filled_ && !filledSilent_) {
            endpoint_.rendered.insert(endpoint_.rendered.end(), buffers_[fill_].begin(), buffers_[fill_].end());
        } else {
            endpoint_.rendered.insert(endpoint_.rendered.end(), periodBytes, 0);
            if (!filled_) ++endpoint_.stats.underruns;
        }
        endpoint_.stats.frames += periodFrames_;
        filled_ = false;
        fill_ ^= 1;
        answered_ = false;
    } else {
        const UINT32 played = std::min(ringFrames_, periodFrames_);
        for (UINT32 i = 0; i < played; ++i) {
            const uint8_t* from = ring_.data() + size_t((ringHead_ + i) % bufferFrames_) * blockAlign_;
            endpoint_.rendered.insert(endpoint_.rendered.end(), from, from + blockAlign_);
        }
        if (played < periodFrames_) {
            endpoint_.rendered.insert(endpoint_.rendered.end(), size_t(periodFrames_ - played) * blockAlign_, 0);
            ++endpoint_.stats.underruns;
        }
        ringHead_ = (ringHead_ + played) % bufferFrames_;
        ringFrames_ -= played;
        endpoint_.stats.frames += periodFrames_;
        answered_ = false;
    }
    if (endpoint_.wakeDelay > 0 && wakeAt_ < 0) {
        wakeAt_ = state_->now + endpoint_.wakeDelay;
        endpoint_.wakeDelay = 0;
    }
    if (wakeAt_ < 0) SetEvent(event_);
}

void CAudioClient::WakeLate()
{
    wakeAt_ = -1;
    SetEvent(event_);
}

bool CAudioClient::Served() const
{
    if (wakeAt_ >= 0) return true;  // nothing to serve before the wake comes
    if (capture_) return queued_ == 0 && captureHeld_ == 0;
    return answered_ && !renderHolding_;
}

}  // namespace VirtualAudio
