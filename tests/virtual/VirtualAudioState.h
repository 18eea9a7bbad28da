// What the virtual audio objects share: the endpoints' state, the reference clock and the COM
// object base. One recursive mutex guards all of it; every COM method takes it.
#pragma once

#include "VirtualAudio.h"

#include <audioclient.h>
#include <endpointvolume.h>

#include <atomic>
#include <deque>
#include <mutex>

namespace VirtualAudio {

struct Property {
    PROPERTYKEY key;
    VARTYPE type;  // VT_LPWSTR or VT_BLOB
    std::wstring text;
    std::vector<uint8_t> blob;
};

class CAudioClient;

// One sample of bits/8 bytes, little-endian.
void WriteSample(uint8_t* at, int32_t value, int bits);

// Initialize refuses exclusive periods above 5000 ms ("AUDCLNT_E_INVALID_DEVICE_PERIOD: the
// device period requested by an exclusive-mode client is greater than 5000 milliseconds").
constexpr LONGLONG kSystemMaximumPeriod = 50000000;

struct Endpoint {
    int id = 0;
    EDataFlow flow = eRender;
    std::wstring deviceId;
    int channels = 2;
    std::vector<VirtualFormat> formats;
    DWORD state = DEVICE_STATE_ACTIVE;
    std::vector<Property> properties;
    bool readOnlyStore = false;
    int commits = 0;

    // An HD Audio codec's: 128-byte exclusive buffers, 10 ms default and 3 ms minimum periods.
    // The known USB products get their own in AddEndpoint.
    int alignment = 128;
    LONGLONG defaultPeriod = 100000;
    LONGLONG minimumPeriod = 30000;
    LONGLONG maximumPeriod = kSystemMaximumPeriod;
    bool exclusiveAllowed = true;
    VirtualOtherProgram otherProgram = VirtualOtherProgram::None;
    int removals = 0;         // times it left the active state; a client made before stays invalid
    int64_t wakeDelay = 0;    // see CVirtualAudioSystem::DelayWake
    int mixRate = 48000;
    int mixChannels = 2;
    HRESULT refuseFormat = S_OK;
    HRESULT refuseInitialize = S_OK;
    HRESULT failResult = S_OK;
    int failTimes = 0;
    LONGLONG extraLatency = 0;
    int64_t rateErrorPpb = 0;

    VirtualSignal signals[8];
    int64_t generated = 0;  // frames the generator has produced
    int loopbackSource = -1;  // capture: the render endpoint whose output it hears
    std::function<bool()> consumed;  // capture: see SetConsumed
    double playStart = 0;     // render: reference frame at which rendered[0] leaves the buffer
    std::vector<VirtualInitializeCall> calls;
    std::vector<VirtualFormatQuery> queries;
    std::vector<uint8_t> rendered;
    int64_t takenBytes = 0;  // of the record, by TakeRendered
    VirtualStreamStats stats;
    VirtualVolume volume;
};

// A kernel-streaming pin streaming on its endpoint's clock: requests complete in order, each once
// the device has produced (capture) or played (render) its frames.
struct PinStream {
    struct Request {
        uint64_t token;
        uint8_t* data;
        uint32_t bytes;
    };
    Endpoint* endpoint = nullptr;
    int rate = 0;
    int bits = 0;
    int channels = 0;
    CVirtualAudioSystem::PinDone done;
    bool open = true;
    bool running = false;
    int64_t startedAt = 0;  // reference frame of the last RUN
    int64_t cursor = 0;     // device frames accounted for since then
    std::deque<Request> queue;
    // The most reads the driver has kept queued since the last RUN: a capture pin is served once
    // its queue is back to that depth.
    size_t depth = 0;

    int blockAlign() const { return channels * bits / 8; }
    bool ticking() const { return open && running && endpoint->state == DEVICE_STATE_ACTIVE && !queue.empty(); }
    bool capture() const { return endpoint->flow == eCapture; }
};

struct State {
    explicit State(int rate) : referenceRate(rate) {}

    mutable std::recursive_mutex mutex;
    const int referenceRate;
    int64_t now = 0;
    std::vector<std::unique_ptr<Endpoint>> endpoints;
    int defaults[2] = {-1, -1};  // by EDataFlow
    std::vector<CAudioClient*> clients;  // alive, in creation order
    std::vector<std::unique_ptr<PinStream>> pins;
    bool lockstep = true;
    int stalls = 0;
    std::atomic<long> live{0};
    std::atomic<long> created{0};

    Endpoint& At(int id) const { return *endpoints.at(size_t(id)); }
};

using Lock = std::lock_guard<std::recursive_mutex>;

// Reference counting, QueryInterface over the listed interfaces, and the system's object count.
template <class First, class... Rest>
class CObject : public First, public Rest... {
public:
    explicit CObject(std::shared_ptr<State> state) : state_(std::move(state))
    {
        ++state_->live;
        ++state_->created;
    }
    virtual ~CObject() { --state_->live; }
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;

    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(First)) *out = static_cast<First*>(this);
        ((!*out && iid == __uuidof(Rest) ? void(*out = static_cast<Rest*>(this)) : void()), ...);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

protected:
    std::shared_ptr<State> state_;

private:
    std::atomic<ULONG> references_{1};
};

// An audio client, with the clock state of its stream.
class CAudioClient final : public CObject<IAudioClient> {
public:
    CAudioClient(std::shared_ptr<State> state, Endpoint& endpoint);
    ~CAudioClient() override;

    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME duration,
                                         REFERENCE_TIME periodicity, const WAVEFORMATEX* format,
                                         LPCGUID session) override;
    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* frames) override;
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME* latency) override;
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* frames) override;
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE mode, const WAVEFORMATEX* format,
                                                WAVEFORMATEX** closest) override;
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) override;
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* defaultPeriod, REFERENCE_TIME* minimumPeriod) override;
    HRESULT STDMETHODCALLTYPE Start() override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE event) override;
    HRESULT STDMETHODCALLTYPE GetService(REFIID iid, void** service) override;

    // Capture service.
    HRESULT CaptureGetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* position, UINT64* counter);
    HRESULT CaptureReleaseBuffer(UINT32 frames);
    HRESULT CaptureNextPacketSize(UINT32* frames);
    // Render service.
    HRESULT RenderGetBuffer(UINT32 frames, BYTE** data);
    HRESULT RenderReleaseBuffer(UINT32 frames, DWORD flags);
    // Clock service: the position in 100-ns units of the device's clock, as many devices give
    // it, and the counter in 100-ns units of the reference clock.
    HRESULT ClockFrequency(UINT64* frequency);
    HRESULT ClockPosition(UINT64* position, UINT64* counter);

    // The clock, under the state's lock.
    bool running() const { return running_; }
    // Once its endpoint has gone, even if it comes back, every call of the client answers
    // AUDCLNT_E_DEVICE_INVALIDATED, and a running stream keeps no time.
    bool invalidated() const { return endpoint_.state != DEVICE_STATE_ACTIVE || endpoint_.removals != removals_; }
    bool ticking() const { return running_ && !invalidated(); }
    // Initialised exclusively: no other client may initialise on the endpoint.
    bool holdsExclusively() const { return initialized_ && exclusive_; }
    void Wake() const { SetEvent(event_); }
    // A wake held back by DelayWake: the reference frame it comes at, -1 when none.
    int64_t lateWake() const { return ticking() ? wakeAt_ : -1; }
    void WakeLate();
    int endpointId() const { return endpoint_.id; }
    int64_t NextBoundary() const;  // reference frame at which the current period ends
    // Counts the clock on from the last period end, before its rate error changes.
    void RebaseClock();
    void EndPeriod();
    bool Served() const;

private:
    HRESULT InitializeExclusive(DWORD flags, REFERENCE_TIME duration, REFERENCE_TIME periodicity);
    HRESULT InitializeShared(DWORD flags, REFERENCE_TIME duration, REFERENCE_TIME periodicity);
    bool ExclusiveAccepts(const WAVEFORMATEX* format) const;
    bool OtherClientHoldsExclusively() const;
    void Allocate();
    int64_t BoundaryOf(int64_t period) const;  // reference frame at which that period ends
    double ExactBoundaryOf(int64_t period) const;  // the same, not rounded up to a whole frame
    double FrameTime(int64_t frame) const;         // reference frame at which that frame passes
    // Frames the stream has captured, or played out of its buffer, by now: kept across a stop,
    // forgotten by Reset.
    double Position() const;
    void FillPacket(uint8_t* packet);
    void FillFromLoopback(uint8_t* packet);
    HRESULT Refuse(HRESULT hr)
    {
        ++endpoint_.stats.refused;
        return hr;
    }

    Endpoint& endpoint_;
    const int removals_;
    bool capture_;
    bool initialized_ = false;
    bool exclusive_ = false;
    WAVEFORMATEXTENSIBLE format_ = {};
    int rate_ = 0;
    int bits_ = 0;
    int channels_ = 0;
    int blockAlign_ = 0;
    UINT32 bufferFrames_ = 0;
    UINT32 periodFrames_ = 0;
    UINT32 alignedFrames_ = 0;  // answered by GetBufferSize after AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED
    REFERENCE_TIME latency_ = 0;
    HANDLE event_ = nullptr;
    bool running_ = false;
    int64_t startedAt_ = 0;  // reference frame of Start
    int64_t periods_ = 0;    // periods ended since Start
    int64_t clockAt_ = 0;       // reference frame from which the clock counts at its rate error
    int64_t clockPeriods_ = 0;  // periods ended by then
    int64_t wakeAt_ = -1;       // see lateWake
    double stoppedAt_ = 0;      // the position at the last stop

    // Capture: packets of one period each, oldest at head; two when exclusive.
    std::vector<uint8_t> packets_;
    int slots_ = 0;
    int head_ = 0;
    int queued_ = 0;
    bool discontinuity_ = false;     // the next packet filled follows lost data
    std::vector<uint8_t> flagged_;   // per slot: its packet follows lost data
    UINT32 captureHeld_ = 0;  // frames handed out by GetBuffer and not released

    // Render, exclusive: two buffers, the one filled next and whether it holds a release.
    std::vector<uint8_t> buffers_[2];
    int fill_ = 0;
    bool filled_ = false;
    bool filledSilent_ = false;
    // Render, shared: the frames waiting to be played, and the area GetBuffer hands out.
    std::vector<uint8_t> ring_;
    UINT32 ringHead_ = 0;
    UINT32 ringFrames_ = 0;
    std::vector<uint8_t> scratch_;
    UINT32 renderHeld_ = 0;  // frames asked for by GetBuffer, 0 when none
    bool renderHolding_ = false;
    bool answered_ = true;   // render: released (exclusive) or asked for padding (shared) since the last period
};

}  // namespace VirtualAudio
