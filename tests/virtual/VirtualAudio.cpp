#include "VirtualAudio.h"

#include "ExactRatio.h"
#include "VirtualAudioState.h"

#include <devices/DeviceIds.h>
#include <veloran/ComPtr.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <stdexcept>

namespace VirtualAudio {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr PROPERTYKEY kPathKey = {{0xb3f8fa53, 0x0004, 0x438e, {0x90, 0x03, 0x51, 0xa4, 0x6e, 0x13, 0x9b, 0xfc}}, 2};
constexpr PROPERTYKEY kDeviceFriendlyNameKey = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

// What the known products' audio class drivers ask of exclusive streams: the buffer alignment
// they report after AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED and their device periods (several will not
// schedule below 5 ms).
struct ProductTiming {
    const wchar_t* ids;
    int alignment;  // bytes
    LONGLONG defaultPeriod;
    LONGLONG minimumPeriod;
};
constexpr ProductTiming kProductTimings[] = {
    {L"VID_08BB&PID_2900", 128, 100000, 30000},   // Lumo A2, and the codecs of the Lumo A2X and Octa X
    {L"VID_08BB&PID_2902", 256, 100000, 30000},   // Octa X first codec
    {L"VID_5A17&PID_0001", 1024, 100000, 50000},  // Lumo A1
    {L"VID_0D8C&PID_0134", 64, 100000, 30000},    // Strym
    {L"VID_0D8C&PID_0034", 64, 100000, 30000},    // Strym V3
    {L"VID_0D8C&PID_0005", 512, 100000, 53333},   // Strym V4
    {L"VID_1376&PID_0007", 256, 100000, 60000},   // Veloran Guitar
    {L"VID_0418&PID_1418", 512, 100000, 50000},   // Lumo A4 Plus
};

void ApplyProductTiming(Endpoint& endpoint, const std::wstring& path)
{
    for (const ProductTiming& timing : kProductTimings) {
        if (path.find(timing.ids) == std::wstring::npos) continue;
        endpoint.alignment = timing.alignment;
        endpoint.defaultPeriod = timing.defaultPeriod;
        endpoint.minimumPeriod = timing.minimumPeriod;
        return;
    }
}

bool SameKey(const PROPERTYKEY& a, const PROPERTYKEY& b)
{
    return a.pid == b.pid && std::memcmp(&a.fmtid, &b.fmtid, sizeof(GUID)) == 0;
}

Property* FindProperty(std::vector<Property>& properties, const PROPERTYKEY& key)
{
    for (Property& property : properties)
        if (SameKey(property.key, key)) return &property;
    return nullptr;
}

wchar_t* CoTaskText(const std::wstring& text)
{
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    if (copy) std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    return copy;
}

HRESULT ToVariant(const Property& property, PROPVARIANT* value)
{
    PropVariantInit(value);
    if (property.type == VT_LPWSTR) {
        value->pwszVal = CoTaskText(property.text);
        if (!value->pwszVal) return E_OUTOFMEMORY;
        value->vt = VT_LPWSTR;
        return S_OK;
    }
    value->blob.cbSize = ULONG(property.blob.size());
    value->blob.pBlobData = static_cast<BYTE*>(CoTaskMemAlloc(property.blob.size() ? property.blob.size() : 1));
    if (!value->blob.pBlobData) return E_OUTOFMEMORY;
    if (!property.blob.empty()) std::memcpy(value->blob.pBlobData, property.blob.data(), property.blob.size());
    value->vt = VT_BLOB;
    return S_OK;
}

// A snapshot of the endpoint's properties; a writable one stores its changes on Commit.
class CPropertyStore final : public CObject<IPropertyStore> {
public:
    CPropertyStore(std::shared_ptr<State> state, Endpoint& endpoint, bool writable)
        : CObject(std::move(state)), endpoint_(endpoint), writable_(writable), properties_(endpoint.properties)
    {
    }

    HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override
    {
        if (!count) return E_POINTER;
        Lock hold(state_->mutex);
        *count = DWORD(properties_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override
    {
        if (!key) return E_POINTER;
        Lock hold(state_->mutex);
        if (index >= properties_.size()) return E_INVALIDARG;
        *key = properties_[index].key;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override
    {
        if (!value) return E_POINTER;
        Lock hold(state_->mutex);
        PropVariantInit(value);
        const Property* property = FindProperty(properties_, key);
        return property ? ToVariant(*property, value) : S_OK;  // a missing key reads as VT_EMPTY
    }
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, REFPROPVARIANT value) override
    {
        Lock hold(state_->mutex);
        if (!writable_) return STG_E_ACCESSDENIED;
        Property property{key, value.vt, {}, {}};
        if (value.vt == VT_LPWSTR && value.pwszVal)
            property.text = value.pwszVal;
        else if (value.vt == VT_BLOB)
            property.blob.assign(value.blob.pBlobData, value.blob.pBlobData + value.blob.cbSize);
        else
            return E_INVALIDARG;
        if (Property* existing = FindProperty(properties_, key))
            *existing = property;
        else
            properties_.push_back(property);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Commit() override
    {
        Lock hold(state_->mutex);
        if (!writable_) return STG_E_ACCESSDENIED;
        endpoint_.properties = properties_;
        ++endpoint_.commits;
        return S_OK;
    }

private:
    Endpoint& endpoint_;
    const bool writable_;
    std::vector<Property> properties_;
};

class CEndpointVolume final : public CObject<IAudioEndpointVolume> {
public:
    CEndpointVolume(std::shared_ptr<State> state, Endpoint& endpoint) : CObject(std::move(state)), endpoint_(endpoint)
    {
    }

    HRESULT STDMETHODCALLTYPE RegisterControlChangeNotify(IAudioEndpointVolumeCallback*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE UnregisterControlChangeNotify(IAudioEndpointVolumeCallback*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetChannelCount(UINT* count) override
    {
        if (!count) return E_POINTER;
        Lock hold(state_->mutex);
        *count = UINT(endpoint_.volume.channels);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMasterVolumeLevel(FLOAT, LPCGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetMasterVolumeLevelScalar(FLOAT level, LPCGUID) override
    {
        Lock hold(state_->mutex);
        if (!(level >= 0.0f && level <= 1.0f)) return E_INVALIDARG;
        for (int c = 0; c < endpoint_.volume.channels; ++c) endpoint_.volume.levels[c] = level;
        ++endpoint_.volume.levelChanges;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMasterVolumeLevel(FLOAT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMasterVolumeLevelScalar(FLOAT* level) override { return GetChannelVolumeLevelScalar(0, level); }
    HRESULT STDMETHODCALLTYPE SetChannelVolumeLevel(UINT, FLOAT, LPCGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetChannelVolumeLevelScalar(UINT channel, FLOAT level, LPCGUID) override
    {
        Lock hold(state_->mutex);
        if (channel >= UINT(endpoint_.volume.channels) || !(level >= 0.0f && level <= 1.0f)) return E_INVALIDARG;
        endpoint_.volume.levels[channel] = level;
        ++endpoint_.volume.levelChanges;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetChannelVolumeLevel(UINT, FLOAT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetChannelVolumeLevelScalar(UINT channel, FLOAT* level) override
    {
        if (!level) return E_POINTER;
        Lock hold(state_->mutex);
        if (channel >= UINT(endpoint_.volume.channels)) return E_INVALIDARG;
        *level = endpoint_.volume.levels[channel];
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMute(WINBOOL mute, LPCGUID) override
    {
        Lock hold(state_->mutex);
        if (endpoint_.volume.muted != (mute != FALSE)) ++endpoint_.volume.muteChanges;
        endpoint_.volume.muted = mute != FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMute(WINBOOL* mute) override
    {
        if (!mute) return E_POINTER;
        Lock hold(state_->mutex);
        *mute = endpoint_.volume.muted ? TRUE : FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetVolumeStepInfo(UINT*, UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE VolumeStepUp(LPCGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE VolumeStepDown(LPCGUID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryHardwareSupport(DWORD* mask) override
    {
        if (!mask) return E_POINTER;
        *mask = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetVolumeRange(FLOAT* minimum, FLOAT* maximum, FLOAT* increment) override
    {
        if (!minimum || !maximum || !increment) return E_POINTER;
        *minimum = -96.0f;
        *maximum = 0.0f;
        *increment = 0.5f;
        return S_OK;
    }

private:
    Endpoint& endpoint_;
};

class CDevice final : public CObject<IMMDevice, IMMEndpoint> {
public:
    CDevice(std::shared_ptr<State> state, Endpoint& endpoint) : CObject(std::move(state)), endpoint_(endpoint) {}

    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        Lock hold(state_->mutex);
        if (endpoint_.state != DEVICE_STATE_ACTIVE) return AUDCLNT_E_DEVICE_INVALIDATED;
        if (iid == __uuidof(IAudioClient)) {
            *out = static_cast<IAudioClient*>(new CAudioClient(state_, endpoint_));
            ++endpoint_.stats.clients;
            return S_OK;
        }
        if (iid == __uuidof(IAudioEndpointVolume) && endpoint_.volume.present) {
            *out = static_cast<IAudioEndpointVolume*>(new CEndpointVolume(state_, endpoint_));
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD access, IPropertyStore** store) override
    {
        if (!store) return E_POINTER;
        *store = nullptr;
        Lock hold(state_->mutex);
        const bool writable = (access & (STGM_WRITE | STGM_READWRITE)) != 0;
        if (writable && endpoint_.readOnlyStore) return E_ACCESSDENIED;
        *store = new CPropertyStore(state_, endpoint_, writable);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override
    {
        if (!id) return E_POINTER;
        Lock hold(state_->mutex);
        *id = CoTaskText(endpoint_.deviceId);
        return *id ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override
    {
        if (!state) return E_POINTER;
        Lock hold(state_->mutex);
        *state = endpoint_.state;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDataFlow(EDataFlow* flow) override
    {
        if (!flow) return E_POINTER;
        *flow = endpoint_.flow;
        return S_OK;
    }

private:
    Endpoint& endpoint_;
};

class CDeviceCollection final : public CObject<IMMDeviceCollection> {
public:
    CDeviceCollection(std::shared_ptr<State> state, std::vector<Endpoint*> endpoints)
        : CObject(std::move(state)), endpoints_(std::move(endpoints))
    {
    }

    HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override
    {
        if (!count) return E_POINTER;
        *count = UINT(endpoints_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Item(UINT index, IMMDevice** device) override
    {
        if (!device) return E_POINTER;
        *device = nullptr;
        if (index >= endpoints_.size()) return E_INVALIDARG;
        *device = new CDevice(state_, *endpoints_[index]);
        return S_OK;
    }

private:
    std::vector<Endpoint*> endpoints_;
};

class CEnumerator final : public CObject<IMMDeviceEnumerator> {
public:
    using CObject::CObject;

    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD stateMask, IMMDeviceCollection** devices) override
    {
        if (!devices) return E_POINTER;
        *devices = nullptr;
        if (flow != eRender && flow != eCapture && flow != eAll) return E_INVALIDARG;
        Lock hold(state_->mutex);
        std::vector<Endpoint*> listed;
        for (const auto& endpoint : state_->endpoints)
            if ((flow == eAll || endpoint->flow == flow) && (endpoint->state & stateMask)) listed.push_back(endpoint.get());
        *devices = new CDeviceCollection(state_, std::move(listed));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole, IMMDevice** device) override
    {
        if (!device) return E_POINTER;
        *device = nullptr;
        if (flow != eRender && flow != eCapture) return E_INVALIDARG;
        Lock hold(state_->mutex);
        const int id = state_->defaults[flow];
        if (id < 0 || state_->At(id).state != DEVICE_STATE_ACTIVE) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        *device = new CDevice(state_, state_->At(id));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR id, IMMDevice** device) override
    {
        if (!id || !device) return E_POINTER;
        *device = nullptr;
        Lock hold(state_->mutex);
        for (const auto& endpoint : state_->endpoints) {
            if (endpoint->deviceId == id) {
                *device = new CDevice(state_, *endpoint);
                return S_OK;
            }
        }
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
    HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient*) override { return E_NOTIMPL; }
};

}  // namespace
}  // namespace VirtualAudio

using namespace VirtualAudio;

VirtualSignal VirtualSignal::Ramp(int64_t start, int64_t step)
{
    VirtualSignal signal;
    signal.kind = Kind::Ramp;
    signal.start = start;
    signal.step = step;
    return signal;
}

VirtualSignal VirtualSignal::Sine(double frequency, double amplitude)
{
    VirtualSignal signal;
    signal.kind = Kind::Sine;
    signal.frequency = frequency;
    signal.amplitude = amplitude;
    return signal;
}

VirtualSignal VirtualSignal::Silence()
{
    VirtualSignal signal;
    signal.kind = Kind::Silence;
    return signal;
}

int32_t VirtualSignal::Sample(int64_t n, int rate, int bits) const
{
    const int64_t full = (int64_t(1) << (bits - 1)) - 1;
    switch (kind) {
    case Kind::Silence:
        return 0;
    case Kind::Ramp: {
        // Two's complement wrap to the sample size.
        const uint64_t mask = bits >= 64 ? ~uint64_t(0) : (uint64_t(1) << bits) - 1;
        const uint64_t raw = uint64_t(start + step * n) & mask;
        return int32_t(int64_t(raw << (64 - bits)) >> (64 - bits));
    }
    case Kind::Sine:
        return int32_t(std::lround(amplitude * double(full) * std::sin(2.0 * kPi * frequency * double(n) / rate)));
    }
    return 0;
}

CVirtualAudioSystem::CVirtualAudioSystem(int referenceRate) : state_(std::make_shared<State>(referenceRate)) {}

CVirtualAudioSystem::~CVirtualAudioSystem() = default;

CVirtualAudioSystem::EndpointId CVirtualAudioSystem::AddEndpoint(EDataFlow flow, const std::wstring& path,
                                                                 const std::wstring& friendlyName, int channels,
                                                                 std::vector<VirtualFormat> exclusiveFormats)
{
    if (flow != eRender && flow != eCapture) throw std::logic_error("an endpoint renders or captures");
    if (channels < 1 || channels > 8) throw std::logic_error("1 to 8 channels");
    Lock hold(state_->mutex);
    auto endpoint = std::make_unique<Endpoint>();
    endpoint->id = int(state_->endpoints.size());
    endpoint->flow = flow;
    wchar_t id[96];
    swprintf(id, 96, L"{0.0.%d.00000000}.{5eed%04x-0000-4000-8000-00000000%04x}", flow == eCapture ? 1 : 0,
             endpoint->id, endpoint->id);
    endpoint->deviceId = id;
    endpoint->channels = channels;
    endpoint->mixChannels = channels;
    ApplyProductTiming(*endpoint, path);
    if (exclusiveFormats.empty())
        for (int bits : {16, 24})
            for (int rate : {44100, 48000}) exclusiveFormats.push_back({rate, bits, channels});
    endpoint->formats = std::move(exclusiveFormats);
    endpoint->volume.channels = channels;
    for (int c = 0; c < 8; ++c) {
        endpoint->volume.levels[c] = 1.0f;
        endpoint->signals[c] = VirtualSignal::Ramp(1 + 0x1000 * c);
    }
    // As Windows orders them: names first, then the interface path, then the stored formats.
    endpoint->properties.push_back({kPkeyDeviceInterfaceFriendlyName, VT_LPWSTR, friendlyName, {}});
    const std::wstring endpointName = (flow == eCapture ? L"Microphone (" : L"Speakers (") + friendlyName + L")";
    endpoint->properties.push_back({kDeviceFriendlyNameKey, VT_LPWSTR, endpointName, {}});
    if (!path.empty()) endpoint->properties.push_back({kPathKey, VT_LPWSTR, path, {}});
    state_->endpoints.push_back(std::move(endpoint));
    return state_->endpoints.back()->id;
}

void CVirtualAudioSystem::SetDefault(EDataFlow flow, EndpointId endpoint)
{
    Lock hold(state_->mutex);
    if (state_->At(endpoint).flow != flow) throw std::logic_error("the default of another flow");
    state_->defaults[flow] = endpoint;
}

void CVirtualAudioSystem::SetState(EndpointId endpoint, DWORD state)
{
    Lock hold(state_->mutex);
    Endpoint& target = state_->At(endpoint);
    if (target.state == DEVICE_STATE_ACTIVE && state != DEVICE_STATE_ACTIVE) ++target.removals;
    target.state = state;
    // Its streams learn at their next call; each is woken once to make it.
    if (state != DEVICE_STATE_ACTIVE)
        for (const CAudioClient* client : state_->clients)
            if (client->endpointId() == endpoint && client->running()) client->Wake();
}

void CVirtualAudioSystem::SetStringProperty(EndpointId endpoint, const PROPERTYKEY& key, const std::wstring& value)
{
    Lock hold(state_->mutex);
    auto& properties = state_->At(endpoint).properties;
    const Property property{key, VT_LPWSTR, value, {}};
    if (Property* existing = FindProperty(properties, key))
        *existing = property;
    else
        properties.push_back(property);
}

void CVirtualAudioSystem::SetBlobProperty(EndpointId endpoint, const PROPERTYKEY& key, const std::vector<uint8_t>& value)
{
    Lock hold(state_->mutex);
    auto& properties = state_->At(endpoint).properties;
    const Property property{key, VT_BLOB, {}, value};
    if (Property* existing = FindProperty(properties, key))
        *existing = property;
    else
        properties.push_back(property);
}

std::vector<uint8_t> CVirtualAudioSystem::BlobProperty(EndpointId endpoint, const PROPERTYKEY& key) const
{
    Lock hold(state_->mutex);
    Property* property = FindProperty(state_->At(endpoint).properties, key);
    return property && property->type == VT_BLOB ? property->blob : std::vector<uint8_t>{};
}

void CVirtualAudioSystem::SetStoreReadOnly(EndpointId endpoint, bool readOnly)
{
    Lock hold(state_->mutex);
    state_->At(endpoint).readOnlyStore = readOnly;
}

int CVirtualAudioSystem::Commits(EndpointId endpoint) const
{
    Lock hold(state_->mutex);
    return state_->At(endpoint).commits;
}

void CVirtualAudioSystem::SetAlignment(EndpointId endpoint, int bytes)
{
    Lock hold(state_->mutex);
    state_->At(endpoint).alignment = bytes;
}

void CVirtualAudioSystem::SetPeriods(EndpointId endpoint, LONGLONG defaultPeriod, LONGLONG minimumPeriod,
                                     LONGLONG maximumPeriod)
{
    Lock hold(state_->mutex);
    Endpoint& e = state_->At(endpoint);
    e.defaultPeriod = defaultPeriod;
    e.minimumPeriod = minimumPeriod;
    e.maximumPeriod = maximumPeriod;
}

void CVirtualAudioSystem::SetExclusiveAllowed(EndpointId endpoint, bool allowed)
{
    Lock hold(state_->mutex);
    state_->At(endpoint).exclusiveAllowed = allowed;
}

void CVirtualAudioSystem::SetOtherProgram(EndpointId endpoint, VirtualOtherProgram use)
{
    Lock hold(state_->mutex);
    state_->At(endpoint).otherProgram = use;
}

void CVirtualAudioSystem::DelayWake(EndpointId endpoint, int64_t referenceFrames)
{
    Lock hold(state_->mutex);
    state_->At(endpoint).wakeDelay = referenceFrames;
}

void CVirtualAudioSystem::SetMixFormat(EndpointId endpoint, int rate, int channels)
{
    Lock hold(state_->mutex);
    state_->At(endpoint).mixRate = rate;
    state_->At(endpoint).mixChannels = channels;
}

void CVirtualAudioSystem::RefuseExclusive(EndpointId endpoint, HRESULT isFormatSupported, HRESULT initialize)
{
    Lock hold(state_->mutex);
    state_->At(endpoint).refuseFormat = isFormatSupported;
    state_->At(endpoint).refuseInitialize = initialize;
}

void CVirtualAudioSystem::FailInitialize(EndpointId endpoint, HRESULT result, int times)
{
    Lock hold(state_->mutex);
    state_->At(endpoint).failResult = result;
    state_->At(endpoint).failTimes = times;
}

void CVirtualAudioSystem::SetExtraLatency(EndpointId endpoint, LONGLONG latency)
{
    Lock hold(state_->mutex);
    state_->At(endpoint).extraLatency = latency;
}

void CVirtualAudioSystem::SetConsumed(EndpointId capture, std::function<bool()> consumed)
{
    Lock hold(state_->mutex);
    state_->At(capture).consumed = std::move(consumed);
}

void CVirtualAudioSystem::SetLoopback(EndpointId capture, EndpointId render)
{
    Lock hold(state_->mutex);
    state_->At(capture).loopbackSource = render;
}

void CVirtualAudioSystem::SetRateError(EndpointId endpoint, double ppm)
{
    Lock hold(state_->mutex);
    Endpoint& target = state_->At(endpoint);
    for (CAudioClient* client : state_->clients)
        if (client->endpointId() == endpoint) client->RebaseClock();
    target.rateErrorPpb = std::llround(ppm * 1000.0);
}

void CVirtualAudioSystem::SetSignal(EndpointId endpoint, int channel, const VirtualSignal& signal)
{
    Lock hold(state_->mutex);
    state_->At(endpoint).signals[channel] = signal;
}

void CVirtualAudioSystem::ReserveRecord(EndpointId endpoint, size_t bytes)
{
    Lock hold(state_->mutex);
    state_->At(endpoint).rendered.reserve(bytes);
}

void CVirtualAudioSystem::SetLockstep(bool lockstep)
{
    Lock hold(state_->mutex);
    state_->lockstep = lockstep;
}

namespace {

// Device frames a clock at rate with this error has produced after referenceFrames.
int64_t DeviceFrames(int64_t referenceFrames, int rate, int64_t errorPpb, int referenceRate)
{
    return MulDivFloor(referenceFrames, rate * (1000000000 + errorPpb), int64_t(referenceRate) * 1000000000);
}

// The reference frame, after start, at which such a clock has produced frames.
int64_t ReferenceFrameOf(int64_t start, int64_t frames, int rate, int64_t errorPpb, int referenceRate)
{
    return start + MulDivCeil(frames, int64_t(referenceRate) * 1000000000, rate * (1000000000 + errorPpb));
}

int64_t RequestFrames(const PinStream& pin, const PinStream::Request& request)
{
    return std::max<int64_t>(1, request.bytes / pin.blockAlign());
}

int64_t NextBoundary(const PinStream& pin, int referenceRate)
{
    return ReferenceFrameOf(pin.startedAt, pin.cursor + RequestFrames(pin, pin.queue.front()), pin.rate,
                            pin.endpoint->rateErrorPpb, referenceRate);
}

// The head request completes: captured from the endpoint's signal, or played into its record.
void CompleteHead(PinStream& pin)
{
    const PinStream::Request request = pin.queue.front();
    pin.queue.pop_front();
    Endpoint& endpoint = *pin.endpoint;
    const int64_t frames = RequestFrames(pin, request);
    const int bytes = pin.bits / 8;
    if (pin.capture()) {
        for (int64_t f = 0; f < frames && (f + 1) * pin.blockAlign() <= int64_t(request.bytes); ++f)
            for (int c = 0; c < pin.channels; ++c)
                WriteSample(request.data + (size_t(f) * pin.channels + c) * bytes,
                            endpoint.signals[c].Sample(endpoint.generated + f, pin.rate, pin.bits), pin.bits);
        endpoint.generated += frames;
    } else {
        endpoint.rendered.insert(endpoint.rendered.end(), request.data, request.data + request.bytes);
    }
    ++endpoint.stats.periods;
    endpoint.stats.frames += frames;
    pin.cursor += frames;
    pin.done(request.token, request.bytes);
}

}  // namespace

void CVirtualAudioSystem::Advance(int64_t referenceFrames)
{
    int64_t target;
    {
        Lock hold(state_->mutex);
        target = state_->now + referenceFrames;
    }
    // One period or request at a time, earliest first; equal times go in endpoint order, so that
    // a capture endpoint added before its render endpoint delivers before the render side plays.
    for (;;) {
        bool lockstep;
        {
            Lock hold(state_->mutex);
            int64_t earliest = target + 1;
            int dueEndpoint = 0;
            CAudioClient* due = nullptr;
            CAudioClient* dueWake = nullptr;
            PinStream* duePin = nullptr;
            const auto consider = [&](int64_t at, int endpoint) {
                const bool first = !due && !duePin && !dueWake;
                if (at < earliest || (at == earliest && !first && endpoint < dueEndpoint)) {
                    earliest = at;
                    dueEndpoint = endpoint;
                    return true;
                }
                return false;
            };
            for (CAudioClient* client : state_->clients) {
                if (client->ticking() && consider(client->NextBoundary(), client->endpointId())) {
                    due = client;
                    dueWake = nullptr;
                    duePin = nullptr;
                }
                if (client->lateWake() >= 0 && consider(client->lateWake(), client->endpointId())) {
                    dueWake = client;
                    due = nullptr;
                    duePin = nullptr;
                }
            }
            for (const auto& pin : state_->pins) {
                if (pin->ticking() && consider(NextBoundary(*pin, state_->referenceRate), pin->endpoint->id)) {
                    duePin = pin.get();
                    due = nullptr;
                    dueWake = nullptr;
                }
            }
            if (!due && !duePin && !dueWake) {
                state_->now = target;
                return;
            }
            state_->now = earliest;
            if (due)
                due->EndPeriod();
            else if (dueWake)
                dueWake->WakeLate();
            else
                CompleteHead(*duePin);
            lockstep = state_->lockstep;
        }
        if (lockstep && !WaitUntilServed()) {
            Lock hold(state_->mutex);
            ++state_->stalls;
        }
    }
}

int CVirtualAudioSystem::OpenPin(EndpointId endpoint, int rate, int bits, int channels, PinDone done)
{
    Lock hold(state_->mutex);
    auto pin = std::make_unique<PinStream>();
    pin->endpoint = &state_->At(endpoint);
    pin->rate = rate;
    pin->bits = bits;
    pin->channels = channels;
    pin->done = std::move(done);
    state_->pins.push_back(std::move(pin));
    return int(state_->pins.size() - 1);
}

void CVirtualAudioSystem::RunPin(int pin, bool run)
{
    Lock hold(state_->mutex);
    PinStream& stream = *state_->pins.at(size_t(pin));
    if (run && !stream.running) {
        stream.startedAt = state_->now;
        stream.cursor = 0;
        stream.depth = stream.queue.size();
        ++stream.endpoint->stats.starts;
    }
    stream.running = run;
}

void CVirtualAudioSystem::QueuePinRequest(int pin, uint64_t token, uint8_t* data, uint32_t bytes)
{
    Lock hold(state_->mutex);
    PinStream& stream = *state_->pins.at(size_t(pin));
    if (stream.running && stream.queue.empty()) {
        // The device ran on without a request: what it captured meanwhile is lost, what it
        // played was silence.
        const int64_t now = DeviceFrames(state_->now - stream.startedAt, stream.rate, stream.endpoint->rateErrorPpb,
                                         state_->referenceRate);
        const int64_t skipped = now - stream.cursor;
        if (skipped > 0) {
            Endpoint& endpoint = *stream.endpoint;
            if (stream.capture()) {
                endpoint.generated += skipped;
                ++endpoint.stats.overruns;
            } else {
                endpoint.rendered.insert(endpoint.rendered.end(), size_t(skipped) * stream.blockAlign(), 0);
                if (stream.cursor > 0) ++endpoint.stats.underruns;
            }
            stream.cursor = now;
        }
    }
    stream.queue.push_back({token, data, bytes});
    stream.depth = std::max(stream.depth, stream.queue.size());
}

std::vector<uint64_t> CVirtualAudioSystem::CancelPinRequests(int pin, uint64_t token)
{
    Lock hold(state_->mutex);
    PinStream& stream = *state_->pins.at(size_t(pin));
    std::vector<uint64_t> tokens;
    for (auto request = stream.queue.begin(); request != stream.queue.end();) {
        if (token != 0 && request->token != token) {
            ++request;
            continue;
        }
        tokens.push_back(request->token);
        request = stream.queue.erase(request);
    }
    return tokens;
}

void CVirtualAudioSystem::ClosePin(int pin)
{
    Lock hold(state_->mutex);
    PinStream& stream = *state_->pins.at(size_t(pin));
    stream.open = false;
    stream.running = false;
    stream.queue.clear();
}

int CVirtualAudioSystem::referenceRate() const { return state_->referenceRate; }

int64_t CVirtualAudioSystem::Now() const
{
    Lock hold(state_->mutex);
    return state_->now;
}

bool CVirtualAudioSystem::WaitUntilServed(DWORD timeoutMs) const
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (int round = 0;; ++round) {
        {
            Lock hold(state_->mutex);
            bool served = true;
            for (const CAudioClient* client : state_->clients)
                if (client->ticking() && !client->Served()) served = false;
            for (const auto& endpoint : state_->endpoints)
                if (endpoint->consumed && !endpoint->consumed()) served = false;
            // A capture pin is served once the driver has queued again every read it took back.
            for (const auto& pin : state_->pins)
                if (pin->open && pin->running && pin->capture() && pin->endpoint->state == DEVICE_STATE_ACTIVE &&
                    (pin->queue.empty() || pin->queue.size() < pin->depth))
                    served = false;
            if (served) return true;
        }
        if (GetTickCount64() > deadline) return false;
        // The stream threads answer within microseconds; yield first, sleep only when they do not.
        if (round < 1000)
            SwitchToThread();
        else
            Sleep(1);
    }
}

bool CVirtualAudioSystem::WaitUntilServed(EndpointId endpoint, DWORD timeoutMs) const
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        {
            Lock hold(state_->mutex);
            bool served = true;
            for (const CAudioClient* client : state_->clients)
                if (client->endpointId() == endpoint && client->ticking() && !client->Served()) served = false;
            if (served) return true;
        }
        if (GetTickCount64() > deadline) return false;
        SwitchToThread();
    }
}

int CVirtualAudioSystem::Stalls() const
{
    Lock hold(state_->mutex);
    return state_->stalls;
}

bool CVirtualAudioSystem::IsStreaming(EndpointId endpoint) const
{
    Lock hold(state_->mutex);
    for (const CAudioClient* client : state_->clients)
        if (client->endpointId() == endpoint && client->running()) return true;
    // A capture pin streams once the driver has queued a read: before, the clock would run past
    // the device's first packets with nowhere to put them.
    for (const auto& pin : state_->pins)
        if (pin->endpoint->id == endpoint && pin->open && pin->running && (!pin->capture() || !pin->queue.empty()))
            return true;
    return false;
}

bool CVirtualAudioSystem::WaitUntilStreaming(EndpointId endpoint, DWORD timeoutMs) const
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!IsStreaming(endpoint)) {
        if (GetTickCount64() > deadline) return false;
        Sleep(1);
    }
    return true;
}

std::vector<VirtualInitializeCall> CVirtualAudioSystem::InitializeCalls(EndpointId endpoint) const
{
    Lock hold(state_->mutex);
    return state_->At(endpoint).calls;
}

std::vector<VirtualFormatQuery> CVirtualAudioSystem::FormatQueries(EndpointId endpoint) const
{
    Lock hold(state_->mutex);
    return state_->At(endpoint).queries;
}

std::vector<uint8_t> CVirtualAudioSystem::Rendered(EndpointId endpoint) const
{
    Lock hold(state_->mutex);
    return state_->At(endpoint).rendered;
}

std::vector<uint8_t> CVirtualAudioSystem::TakeRendered(EndpointId endpoint)
{
    Lock hold(state_->mutex);
    Endpoint& played = state_->At(endpoint);
    std::vector<uint8_t> taken;
    taken.swap(played.rendered);
    played.takenBytes += int64_t(taken.size());
    return taken;
}

VirtualStreamStats CVirtualAudioSystem::Stats(EndpointId endpoint) const
{
    Lock hold(state_->mutex);
    return state_->At(endpoint).stats;
}

VirtualVolume CVirtualAudioSystem::Volume(EndpointId endpoint) const
{
    Lock hold(state_->mutex);
    return state_->At(endpoint).volume;
}

void CVirtualAudioSystem::RemoveVolumeControl(EndpointId endpoint)
{
    Lock hold(state_->mutex);
    state_->At(endpoint).volume.present = false;
}

void CVirtualAudioSystem::SetVolume(EndpointId endpoint, float level, bool muted)
{
    Lock hold(state_->mutex);
    VirtualVolume& volume = state_->At(endpoint).volume;
    for (int c = 0; c < volume.channels; ++c) volume.levels[c] = level;
    volume.muted = muted;
}

std::wstring CVirtualAudioSystem::DeviceId(EndpointId endpoint) const
{
    Lock hold(state_->mutex);
    return state_->At(endpoint).deviceId;
}

long CVirtualAudioSystem::CreatedObjects() const { return state_->created.load(); }

long CVirtualAudioSystem::LiveObjects() const { return state_->live.load(); }

HRESULT CVirtualAudioSystem::CreateEnumerator(IMMDeviceEnumerator** enumerator)
{
    if (!enumerator) return E_POINTER;
    *enumerator = new CEnumerator(state_);
    return S_OK;
}
