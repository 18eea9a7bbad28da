#include "EndpointBackend.h"

#include "DeviceIds.h"

#include <core/CaptureAggregator.h>
#include <core/PacketFifo.h>

#include <avrt.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <mutex>
#include <new>

namespace {

constexpr DWORD kSharedFlags =
    AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;
constexpr int kAlignmentBytes = 128;
constexpr int kFallbackFrames = 192;
constexpr int kMaxPathChars = 2047;

// 100-nanosecond units of frames at rate.
REFERENCE_TIME Duration(int frames, int rate) { return REFERENCE_TIME(10000000.0 / rate * frames + 0.5); }

int FramesOf(REFERENCE_TIME duration, int rate) { return int(double(duration) * rate / 10000000.0 + 0.5); }

// frames rounded up so that the buffer's bytes are a multiple of 128.
int Aligned(int frames, int blockAlign)
{
    const int64_t bytes = (int64_t(frames) * blockAlign + kAlignmentBytes - 1) / kAlignmentBytes * kAlignmentBytes;
    return int(bytes / blockAlign);
}

// About 192 frames, aligned: the size for periods the device rejects, and for every stream on NT 6.0.
int FallbackFrames(int rate, int blockAlign)
{
    const REFERENCE_TIME duration = Duration(kFallbackFrames, rate);
    return Aligned(int(double(duration) * rate / 1000 / 10000 + 0.5), blockAlign);
}

WAVEFORMATEXTENSIBLE MakeFormat(int rate, int channels, int bits)
{
    WAVEFORMATEXTENSIBLE format = {};
    format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.Format.nChannels = WORD(channels);
    format.Format.nSamplesPerSec = DWORD(rate);
    format.Format.wBitsPerSample = WORD(bits);
    format.Format.nBlockAlign = WORD(channels * bits / 8);
    format.Format.nAvgBytesPerSec = DWORD(rate) * format.Format.nBlockAlign;
    format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    format.Samples.wValidBitsPerSample = WORD(bits);
    format.dwChannelMask = channels == 1 ? SPEAKER_FRONT_CENTER : SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    format.SubFormat = kSubtypePcm;
    return format;
}

// An endpoint that will not stream exclusively but may still share.
bool RefusesExclusive(HRESULT hr)
{
    switch (hr) {
    case S_FALSE:
    case E_NOTIMPL:
    case E_INVALIDARG:
    case AUDCLNT_E_UNSUPPORTED_FORMAT:
    case AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED:
    case AUDCLNT_E_DEVICE_IN_USE:
    case AUDCLNT_E_ENDPOINT_CREATE_FAILED:
    case AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED:
    case AUDCLNT_E_INVALID_DEVICE_PERIOD:
    case AUDCLNT_E_BUFFER_SIZE_ERROR:
    case AUDCLNT_E_BUFDURATION_PERIOD_NOT_EQUAL:
    case AUDCLNT_E_CPUUSAGE_EXCEEDED:
        return true;
    default:
        return false;
    }
}

// Frames of silence queued: frames, or 0 when the buffer refused them.
UINT32 WriteSilence(IAudioRenderClient* service, UINT32 frames)
{
    BYTE* data = nullptr;
    if (FAILED(service->GetBuffer(frames, &data))) return 0;
    return SUCCEEDED(service->ReleaseBuffer(frames, AUDCLNT_BUFFERFLAGS_SILENT)) ? frames : 0;
}

HRESULT ActivateClient(IMMDevice* device, ComPtr<IAudioClient>& client)
{
    const HRESULT hr = device->Activate(__uuidof(IAudioClient), CLSCTX_INPROC_SERVER, nullptr, client.PutVoid());
    return SUCCEEDED(hr) && !client ? E_POINTER : hr;
}

class CPropertyValue {
public:
    CPropertyValue() { PropVariantInit(&value_); }
    ~CPropertyValue() { PropVariantClear(&value_); }
    CPropertyValue(const CPropertyValue&) = delete;
    CPropertyValue& operator=(const CPropertyValue&) = delete;

    PROPVARIANT* Put() { PropVariantClear(&value_); return &value_; }
    PROPVARIANT& get() { return value_; }
    const wchar_t* text() const { return value_.vt == VT_LPWSTR ? value_.pwszVal : nullptr; }

private:
    PROPVARIANT value_;
};

// Calls visit(text) for every string property in store order until it returns true.
template <class Visit>
bool FindString(IPropertyStore* store, Visit visit)
{
    DWORD count = 0;
    if (FAILED(store->GetCount(&count))) return false;
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key = {};
        CPropertyValue value;
        if (FAILED(store->GetAt(i, &key)) || FAILED(store->GetValue(key, value.Put()))) continue;
        if (value.text() && visit(std::wstring(value.text()))) return true;
    }
    return false;
}

std::wstring ReadFriendlyName(IPropertyStore* store)
{
    CPropertyValue value;
    if (FAILED(store->GetValue(kPkeyDeviceInterfaceFriendlyName, value.Put())) || !value.text()) return {};
    return value.text();
}

std::wstring Upper(std::wstring text)
{
    for (wchar_t& c : text) c = wchar_t(std::towupper(c));
    return text;
}

bool IsUsbInterfacePath(const std::wstring& text)
{
    const std::wstring upper = Upper(text);
    for (const wchar_t* token : {L"\\\\?\\", L"USB", L"VID", L"PID"})
        if (upper.find(token) == std::wstring::npos) return false;
    return true;
}

EDataFlow FlowOf(IMMDevice* device)
{
    ComPtr<IMMEndpoint> endpoint;
    EDataFlow flow = eAll;
    if (FAILED(device->QueryInterface(__uuidof(IMMEndpoint), endpoint.PutVoid())) || !endpoint ||
        FAILED(endpoint->GetDataFlow(&flow)))
        return eAll;
    return flow;
}

// Sets the endpoint's stored formats to the stream's, so that the device and the system agree on
// it. Opening the store for writing needs administrator rights; without them nothing changes.
void RewriteStoredFormat(IMMDevice* device, const WAVEFORMATEXTENSIBLE& format)
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

// The thread's registration with the multimedia class scheduler, which is optional: without
// "Avrt.dll" the thread keeps only its SetThreadPriority priority.
class CMmcssRegistration {
public:
    CMmcssRegistration()
    {
        avrt_ = LoadLibraryW(L"Avrt.dll");
        if (!avrt_) return;
        using SetFn = HANDLE(WINAPI*)(LPCWSTR, LPDWORD);
        using PriorityFn = BOOL(WINAPI*)(HANDLE, AVRT_PRIORITY);
        const auto set = reinterpret_cast<SetFn>(
            reinterpret_cast<void*>(GetProcAddress(avrt_, "AvSetMmThreadCharacteristicsW")));
        const auto priority =
            reinterpret_cast<PriorityFn>(reinterpret_cast<void*>(GetProcAddress(avrt_, "AvSetMmThreadPriority")));
        revert_ = reinterpret_cast<RevertFn>(
            reinterpret_cast<void*>(GetProcAddress(avrt_, "AvRevertMmThreadCharacteristics")));
        DWORD taskIndex = 0;
        if (set) task_ = set(L"Pro Audio", &taskIndex);
        if (task_ && priority) priority(task_, AVRT_PRIORITY_CRITICAL);
    }
    ~CMmcssRegistration()
    {
        if (task_ && revert_) revert_(task_);
        if (avrt_) FreeLibrary(avrt_);
    }
    CMmcssRegistration(const CMmcssRegistration&) = delete;
    CMmcssRegistration& operator=(const CMmcssRegistration&) = delete;

    HANDLE task() const { return task_; }

private:
    using RevertFn = BOOL(WINAPI*)(HANDLE);
    HMODULE avrt_ = nullptr;
    HANDLE task_ = nullptr;
    RevertFn revert_ = nullptr;
};

}  // namespace

std::unique_ptr<CEndpointBackend> CEndpointBackend::Create(IDevicePlatform& platform, bool ntSixMode,
                                                           bool tenOrLater, int endpointShareMode)
{
    // The result does not matter: a thread already in a single-threaded apartment keeps it.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::unique_ptr<CEndpointBackend> backend(
        new (std::nothrow) CEndpointBackend(platform, ntSixMode, tenOrLater, endpointShareMode));
    if (!backend || !backend->CreateEvents()) return nullptr;
    // Every operation makes its own enumerator; this one only proves that the API exists.
    ComPtr<IMMDeviceEnumerator> enumerator;
    if (FAILED(NewEnumerator(platform, enumerator))) return nullptr;
    return backend;
}

CEndpointBackend::CEndpointBackend(IDevicePlatform& platform, bool ntSixMode, bool tenOrLater,
                                   int endpointShareMode)
    : platform_(platform), ntSixMode_(ntSixMode), tenOrLater_(tenOrLater),
      shareMode_(endpointShareMode == kExclusiveOnly || endpointShareMode == kSharedOnly ? endpointShareMode
                                                                                         : kExclusiveOrShared),
      capture_(new (std::nothrow) Stream), render_(new (std::nothrow) Stream)
{
    for (Stream* stream : {capture_.get(), render_.get()}) {
        if (!stream) continue;
        stream->platform = &platform;
        stream->shareMode = shareMode_;
        stream->ntSixMode = ntSixMode;
        stream->tenOrLater = tenOrLater;
    }
    if (capture_) capture_->flow = eCapture;
    if (render_) render_->flow = eRender;
}

CEndpointBackend::~CEndpointBackend()
{
    ReleaseAll();
    // A thread that outlived the wait still uses its record: leaked rather than freed under it.
    for (std::unique_ptr<Stream>* stream : {&capture_, &render_})
        if (*stream && (*stream)->thread.valid()) stream->release();
}

bool CEndpointBackend::CreateEvents()
{
    for (Stream* stream : {capture_.get(), render_.get()}) {
        if (!stream) return false;
        for (UniqueHandle* event : {&stream->stopEvent, &stream->endedEvent, &stream->readyEvent}) {
            event->Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
            if (!event->valid()) return false;
        }
    }
    return true;
}

HRESULT CEndpointBackend::NewEnumerator(IDevicePlatform& platform, ComPtr<IMMDeviceEnumerator>& enumerator)
{
    const HRESULT hr = platform.CreateEndpointEnumerator(enumerator.Put());
    return SUCCEEDED(hr) && !enumerator ? E_POINTER : hr;
}

bool CEndpointBackend::ActiveEndpoints(IDevicePlatform& platform, ComPtr<IMMDeviceCollection>& endpoints,
                                       UINT& count)
{
    ComPtr<IMMDeviceEnumerator> enumerator;
    count = 0;
    return SUCCEEDED(NewEnumerator(platform, enumerator)) &&
           SUCCEEDED(enumerator->EnumAudioEndpoints(eAll, DEVICE_STATE_ACTIVE, endpoints.Put())) && endpoints &&
           SUCCEEDED(endpoints->GetCount(&count));
}

bool CEndpointBackend::ListEndpoints(std::vector<std::wstring>& renderPaths, std::vector<std::wstring>& capturePaths)
{
    ComPtr<IMMDeviceCollection> endpoints;
    UINT count = 0;
    if (!ActiveEndpoints(platform_, endpoints, count)) return false;

    bool listed = false;
    for (UINT i = 0; i < count; ++i) {
        ComPtr<IMMDevice> device;
        ComPtr<IPropertyStore> store;
        if (FAILED(endpoints->Item(i, device.Put())) || !device) continue;
        const EDataFlow flow = FlowOf(device.Get());
        if (flow != eRender && flow != eCapture) continue;
        if (FAILED(device->OpenPropertyStore(STGM_READ, store.Put())) || !store) continue;
        std::wstring path;
        const bool found = FindString(store.Get(), [&](const std::wstring& text) {
            if (!IsUsbInterfacePath(text)) return false;
            path = text;
            return true;
        });
        if (!found) continue;
        (flow == eRender ? renderPaths : capturePaths).push_back(path);
        listed = true;
    }
    return listed;
}

bool CEndpointBackend::GetDefaultEndpoint(EDataFlow flow, std::wstring& path, std::wstring& friendlyName)
{
    path.clear();
    friendlyName.clear();
    ComPtr<IMMDeviceEnumerator> enumerator;
    ComPtr<IMMDevice> device;
    ComPtr<IPropertyStore> store;
    if (FAILED(NewEnumerator(platform_, enumerator)) ||
        FAILED(enumerator->GetDefaultAudioEndpoint(flow, eMultimedia, device.Put())) || !device ||
        FAILED(device->OpenPropertyStore(STGM_READ, store.Put())) || !store)
        return false;
    friendlyName = ReadFriendlyName(store.Get());
    return FindString(store.Get(), [&](const std::wstring& text) {
        if (text.find(L"\\\\?\\") == std::wstring::npos) return false;
        path = text;
        return true;
    });
}

bool CEndpointBackend::FindEndpoint(EDataFlow flow, const std::wstring& path, ComPtr<IMMDevice>& device,
                                    std::wstring* friendlyName)
{
    return FindEndpointOn(platform_, flow, path, device, friendlyName);
}

bool CEndpointBackend::FindEndpointOn(IDevicePlatform& platform, EDataFlow flow, const std::wstring& path,
                                      ComPtr<IMMDevice>& device, std::wstring* friendlyName)
{
    device.Reset();
    if (path.empty()) return false;
    ComPtr<IMMDeviceCollection> endpoints;
    UINT count = 0;
    if (!ActiveEndpoints(platform, endpoints, count)) return false;

    for (UINT i = 0; i < count; ++i) {
        ComPtr<IMMDevice> candidate;
        ComPtr<IPropertyStore> store;
        if (FAILED(endpoints->Item(i, candidate.Put())) || !candidate || FlowOf(candidate.Get()) != flow) continue;
        if (FAILED(candidate->OpenPropertyStore(STGM_READ, store.Put())) || !store) continue;
        if (!FindString(store.Get(), [&](const std::wstring& text) { return text == path; })) continue;
        if (friendlyName) *friendlyName = ReadFriendlyName(store.Get());
        device = candidate;
        return true;
    }
    return false;
}

bool CEndpointBackend::ProbeFormats(EDataFlow flow, const std::wstring& path, EndpointFormat& format)
{
    format = EndpointFormat{};
    ComPtr<IMMDevice> device;
    ComPtr<IAudioClient> client;
    if (!FindEndpoint(flow, path, device) || FAILED(ActivateClient(device.Get(), client))) return false;
    if (shareMode_ != kSharedOnly && ProbeExclusive(client.Get(), format)) return true;
    return shareMode_ != kExclusiveOnly && ProbeShared(client.Get(), format);
}

bool CEndpointBackend::ProbeExclusive(IAudioClient* client, EndpointFormat& format)
{
    bool accepted = false, rate48 = false, stereo = false, stereo24 = false;
    for (int bits : {16, 24}) {
        if (bits == 24 && !tenOrLater_) break;
        for (int rate : {44100, 48000}) {
            for (int channels : {1, 2}) {
                const WAVEFORMATEXTENSIBLE candidate = MakeFormat(rate, channels, bits);
                if (client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &candidate.Format, nullptr) != S_OK)
                    continue;
                REFERENCE_TIME periods[2] = {};
                client->GetDevicePeriod(&periods[0], &periods[1]);
                accepted = true;
                rate48 |= rate == 48000;
                stereo |= channels == 2;
                stereo24 |= channels == 2 && bits == 24;
            }
        }
    }
    if (!accepted) return false;
    format = EndpointFormat{44100, rate48 ? 48000 : 44100, 16, stereo24 ? 24 : 16, stereo ? 2 : 1};
    return true;
}

// A shared stream asks the engine to convert, so it takes the driver's 16-bit formats at both
// rates; the channels follow the engine's mix format, up to stereo.
bool CEndpointBackend::ProbeShared(IAudioClient* client, EndpointFormat& format)
{
    WAVEFORMATEX* mix = nullptr;
    if (FAILED(client->GetMixFormat(&mix)) || !mix) return false;
    const int channels = std::min<int>(mix->nChannels, 2);
    CoTaskMemFree(mix);
    if (channels < 1) return false;
    format = EndpointFormat{44100, 48000, 16, 16, channels};
    return true;
}

bool CEndpointBackend::OpenAndStart(const std::wstring& capturePath, const _sStreamParams& captureParams,
                                    const std::wstring& renderPath, const _sStreamParams& renderParams,
                                    HANDLE startEvent)
{
    if (!ReleaseAll()) return false;
    if (capturePath.size() > kMaxPathChars || renderPath.size() > kMaxPathChars) return false;
    auto reset = [&](Stream& stream, const std::wstring& path, const _sStreamParams& params) {
        ResetEvent(stream.stopEvent.get());
        ResetEvent(stream.endedEvent.get());
        ResetEvent(stream.readyEvent.get());
        stream.started = 0;
        stream.running = 0;
        stream.stopRequested = 0;
        stream.devicePath = path;
        stream.params = params;
        stream.startEvent = startEvent == INVALID_HANDLE_VALUE ? nullptr : startEvent;
        stream.mode = EndpointStreamMode::None;
        stream.bufferFrames = 0;
        stream.periodFrames = 0;
        stream.streamLatencyFrames = 0;
        stream.adapted = false;
        stream.frames = 0;
        stream.held.Reset();
        stream.queued.Reset();
        stream.heldFrames = 0;
        stream.queuedInDevice = 0;
        stream.discontinuities = 0;
        stream.underruns = 0;
        stream.drops = 0;
    };
    reset(*capture_, capturePath, captureParams);
    reset(*render_, renderPath, renderParams);

    bool started = capturePath.empty() || StartThread(*capture_);
    started = started && (renderPath.empty() || StartThread(*render_));
    if (!started) {
        ReleaseAll();
        return false;
    }
    if (!renderPath.empty()) {
        std::lock_guard<CCriticalSection> hold(render_->handOverLock);
        render_->handOver = true;
    }
    return true;
}

bool CEndpointBackend::StartThread(Stream& stream)
{
    // Suspended, so that the priority holds from the thread's first instruction.
    stream.thread.Reset(CreateThread(nullptr, 0, StreamThread, &stream, CREATE_SUSPENDED, &stream.threadId));
    if (!stream.thread.valid()) return false;
    SetThreadPriority(stream.thread.get(), stream.params.threadPriority);
    ResumeThread(stream.thread.get());
    WaitForSingleObject(stream.readyEvent.get(), kReadyWaitMs);
    return stream.started.load() == 1;
}

void CEndpointBackend::RequestStop()
{
    AskToStop(*capture_);
    AskToStop(*render_);
}

// Returns at once; the hand-over ends with the request, so that nothing more queues for a stream
// on its way out.
void CEndpointBackend::AskToStop(Stream& stream)
{
    if (stream.flow == eRender) {
        std::lock_guard<CCriticalSection> hold(stream.handOverLock);
        stream.handOver = false;
    }
    if (!stream.thread.valid()) return;
    stream.stopRequested = 1;
    SetEvent(stream.stopEvent.get());
}

bool CEndpointBackend::StopCapture() { return StopStream(*capture_); }

bool CEndpointBackend::StopRender() { return StopStream(*render_); }

bool CEndpointBackend::StopStream(Stream& stream)
{
    AskToStop(stream);
    if (!stream.thread.valid()) return true;
    // The thread handle rather than endedEvent: it is signalled once the thread has also left
    // COM and the scheduler, so nothing of it is left behind.
    if (WaitForSingleObject(stream.thread.get(), stopWaitMs_) != WAIT_OBJECT_0) return false;
    stream.thread.Reset();
    stream.running = 0;
    return true;
}

bool CEndpointBackend::ReleaseAll()
{
    RequestStop();
    const bool captureEnded = StopCapture();
    const bool renderEnded = StopRender();
    if (captureEnded) Release(*capture_);
    if (renderEnded) Release(*render_);
    return captureEnded && renderEnded;
}

// Only once the stream's thread has ended.
void CEndpointBackend::Release(Stream& stream)
{
    {
        std::lock_guard<CCriticalSection> hold(stream.volumeLock);
        stream.volume.Reset();
        stream.captureService.Reset();
        stream.renderService.Reset();
        stream.client.Reset();
        stream.device.Reset();
    }
    stream.audioEvent.Reset();
    {
        std::lock_guard<CCriticalSection> hold(stream.handOverLock);
        stream.adapter.reset();
    }
    stream.block.reset();
    stream.zeros.reset();
}

DWORD WINAPI CEndpointBackend::StreamThread(void* context)
{
    Stream& stream = *static_cast<Stream*>(context);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        const CMmcssRegistration mmcss;
        RunStream(stream);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    SetEvent(stream.endedEvent.get());
    return 0;
}

void CEndpointBackend::RunStream(Stream& stream)
{
    if (!PrepareStream(stream)) {
        SetEvent(stream.readyEvent.get());  // started stays 0: the starter gives up
        return;
    }
    stream.started = 1;
    SetEvent(stream.readyEvent.get());
    if (WaitForStart(stream) && SUCCEEDED(stream.client->Start())) {
        stream.running = 1;
        if (stream.flow == eCapture)
            CaptureLoop(stream);
        else if (stream.mode == EndpointStreamMode::Exclusive)
            RenderLoopExclusive(stream);
        else
            RenderLoopShared(stream);
        stream.running = 0;
        stream.client->Stop();
    }
    // Ended on its own (device error, endpoint gone): the other sources keep completing sets. A
    // requested stop leaves the sink alone, whose lock a blocked buffer switch may hold.
    if (stream.flow == eCapture && !stream.stopRequested.load() && stream.params.captureSink)
        stream.params.captureSink->UnregisterSource(&stream);
}

bool CEndpointBackend::PrepareStream(Stream& stream)
{
    const _sStreamParams& params = stream.params;
    if (params.sampleRate < 8000 || params.sampleRate > 384000 || params.channels < 1 || params.channels > 2 ||
        (params.bitsPerSample != 16 && params.bitsPerSample != 24 && params.bitsPerSample != 32) ||
        params.framesPerPacket <= 0 || params.framesPerPacket > 65536)
        return false;
    stream.blockAlign = params.channels * params.bitsPerSample / 8;
    stream.nominalBytes = NominalPacketBytes(params);
    if (stream.flow == eCapture && stream.nominalBytes > kCaptureBlockBytes) return false;

    ComPtr<IMMDevice> device;
    std::wstring name;
    if (!FindEndpointOn(*stream.platform, stream.flow, stream.devicePath, device, &name)) return false;
    {
        std::lock_guard<CCriticalSection> hold(stream.volumeLock);
        stream.device = device;
        stream.name = name;
    }
    stream.format = MakeFormat(params.sampleRate, params.channels, params.bitsPerSample);

    ComPtr<IAudioClient> client;
    bool reinitialised = false;
    if (!ChooseMode(stream, client, reinitialised)) return false;
    stream.client = client;

    UINT32 frames = 0;
    if (FAILED(client->GetBufferSize(&frames)) || frames == 0) return false;
    stream.bufferFrames = frames;
    stream.periodFrames = stream.mode == EndpointStreamMode::Exclusive
                              ? int(frames)
                              : std::max(1, FramesOf(stream.periods[0], params.sampleRate));
    REFERENCE_TIME latency = 0;
    stream.streamLatencyFrames =
        SUCCEEDED(client->GetStreamLatency(&latency)) ? FramesOf(latency, params.sampleRate) : 0;

    stream.audioEvent.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!stream.audioEvent.valid() || FAILED(client->SetEventHandle(stream.audioEvent.get()))) return false;
    if (stream.flow == eCapture) {
        if (FAILED(client->GetService(__uuidof(IAudioCaptureClient), stream.captureService.PutVoid())) ||
            !stream.captureService)
            return false;
    } else if (FAILED(client->GetService(__uuidof(IAudioRenderClient), stream.renderService.PutVoid())) ||
               !stream.renderService) {
        return false;
    }
    if (!MakeAdapter(stream, reinitialised)) return false;

    if (stream.flow == eCapture) {
        stream.block.reset(new (std::nothrow) uint8_t[kCaptureBlockBytes]);
        stream.zeros.reset(new (std::nothrow) uint8_t[size_t(frames) * stream.blockAlign]());
        if (!stream.block || !stream.zeros) return false;
        const int packetBytes = stream.adapter ? stream.adapter->inputPacket() : stream.nominalBytes;
        if (params.captureSink && !params.captureSink->RegisterSource(&stream, packetBytes, stream.nominalBytes))
            return false;
    } else {
        PrimeRender(stream);
        // Part of the start: a device without endpoint volume still streams.
        SetLevels(stream, params.volumeLeft, params.volumeRight, false);
    }
    return true;
}

bool CEndpointBackend::ChooseMode(Stream& stream, ComPtr<IAudioClient>& client, bool& reinitialised)
{
    const WAVEFORMATEX* format = &stream.format.Format;
    if (stream.shareMode != kSharedOnly) {
        ComPtr<IAudioClient> test;
        if (FAILED(ActivateClient(stream.device.Get(), test))) return false;
        HRESULT hr = test->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, format, nullptr);
        test.Reset();
        if (hr == S_OK) {
            if (stream.flow == eCapture) RewriteStoredFormat(stream.device.Get(), stream.format);
            if (FAILED(ActivateClient(stream.device.Get(), client)) ||
                FAILED(client->GetDevicePeriod(&stream.periods[0], &stream.periods[1])))
                return false;
            hr = InitializeExclusive(stream, client, reinitialised);
            if (SUCCEEDED(hr)) {
                stream.mode = EndpointStreamMode::Exclusive;
                return true;
            }
        }
        if (stream.shareMode == kExclusiveOnly || !RefusesExclusive(hr)) return false;
    }

    reinitialised = false;
    client.Reset();
    if (FAILED(ActivateClient(stream.device.Get(), client)) ||
        FAILED(client->GetDevicePeriod(&stream.periods[0], &stream.periods[1])) ||
        FAILED(InitializeShared(stream, client)))
        return false;
    stream.mode = EndpointStreamMode::Shared;
    return true;
}

HRESULT CEndpointBackend::InitializeExclusive(Stream& stream, ComPtr<IAudioClient>& client, bool& reinitialised)
{
    const int rate = stream.params.sampleRate;
    const int blockAlign = stream.blockAlign;
    const WAVEFORMATEX* format = &stream.format.Format;
    auto initialize = [&](REFERENCE_TIME duration) {
        return client->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, duration, duration,
                                  format, nullptr);
    };
    // A client answers Initialize once; every retry needs a fresh one.
    auto renew = [&]() {
        client.Reset();
        return ActivateClient(stream.device.Get(), client);
    };

    const REFERENCE_TIME nominal = Duration(Aligned(stream.params.framesPerPacket, blockAlign), rate);
    HRESULT hr = initialize(nominal);
    reinitialised = false;
    if (SUCCEEDED(hr) && !stream.ntSixMode) return hr;

    REFERENCE_TIME retry = nominal;
    if (stream.ntSixMode || hr == AUDCLNT_E_INVALID_DEVICE_PERIOD) {
        retry = Duration(FallbackFrames(rate, blockAlign), rate);
    } else if (hr == AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED) {
        // After this failure the client reports the next aligned size.
        UINT32 frames = 0;
        if (FAILED(client->GetBufferSize(&frames)) || frames == 0) return hr;
        retry = Duration(Aligned(int(frames), blockAlign), rate);
    }
    reinitialised = true;
    if (const HRESULT activated = renew(); FAILED(activated)) return activated;
    hr = initialize(retry);
    if (hr != AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED) return hr;

    UINT32 frames = 0;
    if (FAILED(client->GetBufferSize(&frames)) || frames == 0) return hr;
    const REFERENCE_TIME last =
        stream.flow == eCapture ? Duration(Aligned(int(frames), blockAlign), rate) : Duration(int(frames), rate);
    if (const HRESULT activated = renew(); FAILED(activated)) return activated;
    return initialize(last);
}

HRESULT CEndpointBackend::InitializeShared(Stream& stream, ComPtr<IAudioClient>& client)
{
    // Room for one packet plus engine periods: render, two, so that a packet that arrives just
    // after an event still fits when the next one comes; capture, four, so that a sink slower
    // than a period for a while does not lose data.
    const int periods = stream.flow == eCapture ? 4 : 2;
    const REFERENCE_TIME duration = Duration(stream.params.framesPerPacket, stream.params.sampleRate) +
                                    periods * std::max<REFERENCE_TIME>(stream.periods[0], 0);
    return client->Initialize(AUDCLNT_SHAREMODE_SHARED, kSharedFlags, duration, 0, &stream.format.Format, nullptr);
}

// The adapters follow the device buffer: capture turns device buffers into nominal packets for
// the sink, render turns the engine's packets into whatever the device asks for.
bool CEndpointBackend::MakeAdapter(Stream& stream, bool reinitialised)
{
    const int bufferBytes = int(stream.bufferFrames) * stream.blockAlign;
    const int nominal = stream.nominalBytes;
    const bool exclusive = stream.mode == EndpointStreamMode::Exclusive;
    int inputPacket = 0, chunk = 0;
    if (stream.flow == eCapture) {
        if (exclusive && !reinitialised && bufferBytes == nominal) return true;
        inputPacket = exclusive ? bufferBytes : stream.periodFrames * stream.blockAlign;
        chunk = nominal;
    } else {
        inputPacket = nominal;
        chunk = exclusive ? bufferBytes : nominal;
        if (!exclusive) {
            stream.block.reset(new (std::nothrow) uint8_t[nominal]);
            if (!stream.block) return false;
        }
    }
    std::unique_ptr<CPacketFifo> adapter(new (std::nothrow) CPacketFifo(inputPacket, chunk, nullptr));
    if (!adapter || !adapter->valid()) return false;
    std::lock_guard<CCriticalSection> hold(stream.handOverLock);
    stream.adapter = std::move(adapter);
    stream.adapted = true;
    return true;
}

void CEndpointBackend::PrimeRender(Stream& stream) { WriteSilence(stream.renderService.Get(), stream.bufferFrames); }

bool CEndpointBackend::WaitForStart(Stream& stream)
{
    if (stream.startEvent) {
        // A stop while waiting ends the thread at once instead of after the time-out.
        const HANDLE waits[2] = {stream.startEvent, stream.stopEvent.get()};
        if (WaitForMultipleObjects(2, waits, FALSE, kStartWaitMs) == WAIT_OBJECT_0 + 1) return false;
    }
    return stream.stopRequested.load() == 0;
}

// Waits for the device's next event; false when the stream is to end: a stop request, a failed
// wait, or a device that went quiet because its endpoint is gone.
bool CEndpointBackend::NextEvent(Stream& stream)
{
    const HANDLE waits[2] = {stream.stopEvent.get(), stream.audioEvent.get()};
    for (;;) {
        const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, kEventWaitMs);
        if (stream.stopRequested.load()) return false;
        if (woken == WAIT_OBJECT_0 + 1) return true;
        UINT32 padding = 0;
        if (woken != WAIT_TIMEOUT || stream.client->GetCurrentPadding(&padding) == AUDCLNT_E_DEVICE_INVALIDATED)
            return false;
    }
}

void CEndpointBackend::CaptureLoop(Stream& stream)
{
    IAudioCaptureClient* service = stream.captureService.Get();
    const UINT32 zeroFrames = stream.bufferFrames;
    bool first = true;
    while (NextEvent(stream)) {
        // An exclusive stream has one buffer per event; a shared one may have queued several
        // packets, and a slow sink must not keep the thread draining them after a stop request.
        do {
            BYTE* data = nullptr;
            UINT32 frames = 0;
            DWORD flags = 0;
            const HRESULT hr = service->GetBuffer(&data, &frames, &flags, nullptr, nullptr);
            if (hr == AUDCLNT_E_DEVICE_INVALIDATED) return;
            if (FAILED(hr) || hr == AUDCLNT_S_BUFFER_EMPTY) break;
            // Windows flags the first packet after a start as well; only later ones follow lost data.
            if ((flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) && !first)
                stream.discontinuities.fetch_add(1, std::memory_order_relaxed);
            first = false;
            if (data && frames) {
                const bool silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0;
                const UINT32 count = silent ? std::min(frames, zeroFrames) : frames;
                DeliverCapture(stream, silent ? stream.zeros.get() : data, int(count) * stream.blockAlign);
                stream.frames.fetch_add(count, std::memory_order_relaxed);
            }
            service->ReleaseBuffer(frames);
        } while (stream.mode != EndpointStreamMode::Exclusive && !stream.stopRequested.load());
    }
}

void CEndpointBackend::DeliverCapture(Stream& stream, const uint8_t* data, int bytes)
{
    CCaptureAggregator* sink = stream.params.captureSink;
    if (!stream.adapter) {
        if (sink) sink->DeliverSource(&stream, data, bytes);
        return;
    }
    if (!stream.adapter->Push(data, bytes)) return;
    while (!stream.stopRequested.load() && stream.adapter->Pop(stream.block.get()))
        if (sink) sink->DeliverSource(&stream, stream.block.get(), stream.nominalBytes);
    stream.held.Add(stream.adapter->Fill() / stream.blockAlign);
    stream.heldFrames.store(stream.held.Value(), std::memory_order_relaxed);
}

void CEndpointBackend::RenderLoopExclusive(Stream& stream)
{
    IAudioRenderClient* service = stream.renderService.Get();
    CPacketFifo& adapter = *stream.adapter;
    BYTE* lastFilled = nullptr;
    bool handedOver = false;  // silence before the engine's first block is the start, not a fault
    while (NextEvent(stream)) {
        BYTE* data = nullptr;
        const HRESULT hr = service->GetBuffer(stream.bufferFrames, &data);
        if (hr == AUDCLNT_E_DEVICE_INVALIDATED) return;
        if (FAILED(hr)) continue;
        DWORD flags = 0;
        // Before Windows 10 a repeated event can hand out the buffer that is already filled.
        if (data && (stream.tenOrLater || data != lastFilled)) {
            // The adapter's chunk is the device buffer. Silence rather than the buffer's stale
            // contents when the engine is behind.
            if (adapter.Pop(data)) {
                stream.frames.fetch_add(stream.bufferFrames, std::memory_order_relaxed);
                handedOver = true;
            } else {
                flags = AUDCLNT_BUFFERFLAGS_SILENT;
                if (handedOver) stream.underruns.fetch_add(1, std::memory_order_relaxed);
            }
            lastFilled = data;
        }
        service->ReleaseBuffer(stream.bufferFrames, flags);
    }
}

// Whole chunks, each written as soon as it fits. The first chunk finds the primed silence mostly
// played: silence tops the buffer up to a chunk below full before it, and the buffer stays about
// that full afterwards. A late block is not made up for with more silence, which would keep the
// blocks that follow it waiting for good.
void CEndpointBackend::RenderLoopShared(Stream& stream)
{
    IAudioClient* client = stream.client.Get();
    IAudioRenderClient* service = stream.renderService.Get();
    CPacketFifo& adapter = *stream.adapter;
    const UINT32 bufferFrames = stream.bufferFrames;
    const UINT32 chunkFrames = UINT32(stream.nominalBytes / stream.blockAlign);
    const UINT32 preRoll = bufferFrames > chunkFrames ? bufferFrames - chunkFrames : 0;
    bool staged = false;  // the block holds a chunk not yet written
    bool handedOver = false;
    while (NextEvent(stream)) {
        // What was queued when the device was asked decides the wake; later blocks wait for the next.
        int ready = adapter.Fill() / stream.nominalBytes;
        UINT32 padding = 0;
        const HRESULT hr = client->GetCurrentPadding(&padding);
        if (hr == AUDCLNT_E_DEVICE_INVALIDATED) return;
        if (FAILED(hr)) continue;
        while (bufferFrames - std::min(padding, bufferFrames) >= chunkFrames && !stream.stopRequested.load()) {
            if (!staged && ready > 0) {
                staged = adapter.Pop(stream.block.get()) != 0;
                --ready;
            }
            if (!staged) break;
            if (!handedOver) {
                handedOver = true;
                if (padding < preRoll) padding += WriteSilence(service, preRoll - padding);
                continue;
            }
            BYTE* data = nullptr;
            if (FAILED(service->GetBuffer(chunkFrames, &data)) || !data) break;
            std::memcpy(data, stream.block.get(), size_t(stream.nominalBytes));
            if (FAILED(service->ReleaseBuffer(chunkFrames, 0))) break;
            staged = false;
            // The frames ahead of the chunk, the pre-roll included.
            stream.queued.Add(int(padding));
            stream.queuedInDevice.store(stream.queued.Value(), std::memory_order_relaxed);
            padding += chunkFrames;
            stream.frames.fetch_add(chunkFrames, std::memory_order_relaxed);
        }
        // Nothing to play, and the device runs short within its next period.
        if (!staged && handedOver && padding < UINT32(stream.periodFrames))
            stream.underruns.fetch_add(1, std::memory_order_relaxed);
    }
}

int CEndpointBackend::DeliverRender(const void* block, int bytes)
{
    Stream& render = *render_;
    std::lock_guard<CCriticalSection> hold(render.handOverLock);
    if (!render.handOver || !render.adapter) return 0;
    int overflow = 0;
    render.held.Add(render.adapter->Fill() / render.blockAlign);
    render.heldFrames.store(render.held.Value(), std::memory_order_relaxed);
    render.adapter->Push(block, bytes, &overflow);
    if (overflow) {
        render.drops.fetch_add(1, std::memory_order_relaxed);
        // The render thread takes an extra chunk on this wake-up and so works the backlog off.
        if (render.audioEvent.valid()) SetEvent(render.audioEvent.get());
    }
    return 1;
}

bool CEndpointBackend::SetInputVolume(int left, int right) { return SetLevels(*capture_, left, right, true); }

bool CEndpointBackend::SetOutputVolume(int left, int right) { return SetLevels(*render_, left, right, false); }

bool CEndpointBackend::SetLevels(Stream& stream, int left, int right, bool muteMono)
{
    std::lock_guard<CCriticalSection> hold(stream.volumeLock);
    if (!stream.device) return false;
    if (!stream.volume &&
        (FAILED(stream.device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_INPROC_SERVER, nullptr,
                                        stream.volume.PutVoid())) ||
         !stream.volume)) {
        stream.volume.Reset();
        return false;
    }
    IAudioEndpointVolume* volume = stream.volume.Get();
    UINT channels = 0;
    if (FAILED(volume->GetChannelCount(&channels))) return false;
    const float leftLevel = float(std::clamp(left, 0, 100)) / 100.0f;
    const float rightLevel = float(std::clamp(right, 0, 100)) / 100.0f;

    if (channels != 1) {
        const bool leftSet = SUCCEEDED(volume->SetChannelVolumeLevelScalar(0, leftLevel, nullptr));
        const bool rightSet = SUCCEEDED(volume->SetChannelVolumeLevelScalar(1, rightLevel, nullptr));
        return leftSet && rightSet;
    }
    if (!muteMono) return SUCCEEDED(volume->SetChannelVolumeLevelScalar(0, leftLevel, nullptr));

    // A mono input at 0 is muted rather than set to its lowest level, which still passes signal.
    BOOL muted = FALSE;
    if (FAILED(volume->GetMute(&muted))) return false;
    if (left > 0) {
        if (muted && FAILED(volume->SetMute(FALSE, nullptr))) return false;
        return SUCCEEDED(volume->SetChannelVolumeLevelScalar(0, leftLevel, nullptr));
    }
    return muted || SUCCEEDED(volume->SetMute(TRUE, nullptr));
}

std::wstring CEndpointBackend::captureName() const
{
    std::lock_guard<CCriticalSection> hold(capture_->volumeLock);
    return capture_->name;
}

std::wstring CEndpointBackend::renderName() const
{
    std::lock_guard<CCriticalSection> hold(render_->volumeLock);
    return render_->name;
}

uint64_t CEndpointBackend::faultCount() const
{
    uint64_t count = 0;
    for (const Stream* stream : {capture_.get(), render_.get()})
        count += uint64_t(stream->discontinuities.load(std::memory_order_relaxed) +
                          stream->underruns.load(std::memory_order_relaxed) +
                          stream->drops.load(std::memory_order_relaxed));
    return count;
}

EndpointStreamInfo CEndpointBackend::Info(const Stream& stream) const
{
    EndpointStreamInfo info;
    info.mode = stream.mode;
    info.bufferFrames = int(stream.bufferFrames);
    info.periodFrames = stream.periodFrames;
    info.streamLatencyFrames = stream.streamLatencyFrames;
    info.frames = stream.frames.load(std::memory_order_relaxed);
    info.discontinuities = stream.discontinuities.load(std::memory_order_relaxed);
    info.underruns = stream.underruns.load(std::memory_order_relaxed);
    info.drops = stream.drops.load(std::memory_order_relaxed);
    if (stream.mode == EndpointStreamMode::None) return info;
    // The stream latency holds one device period: on capture that period fills while the host
    // buffer does, so it is not waited twice; on render it is the buffer written ahead. What
    // the adapters and a shared buffer hold is measured, since it depends on how the device's
    // periods and the host's buffers fall.
    info.heldFrames = stream.heldFrames.load(std::memory_order_relaxed);
    if (stream.flow == eCapture) {
        info.adapterFrames = stream.adapted ? stream.periodFrames : 0;
        info.latencyFrames = std::max(info.streamLatencyFrames - info.periodFrames, 0) + info.heldFrames;
    } else {
        const bool regroups = stream.mode == EndpointStreamMode::Exclusive &&
                              int(stream.bufferFrames) * stream.blockAlign != stream.nominalBytes;
        info.adapterFrames = regroups ? stream.periodFrames : 0;
        info.heldFrames += stream.queuedInDevice.load(std::memory_order_relaxed);
        info.latencyFrames = info.streamLatencyFrames + info.heldFrames;
    }
    return info;
}
