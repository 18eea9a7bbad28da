#include "Mordane.h"

#include "EngineSlot.h"
#include "HardwareDescription.h"
#include "HostSamples.h"
#include "../devices/DeviceAccess.h"
#include "../devices/EndpointBackend.h"
#include "../devices/KsNodeLevels.h"
#include "../devices/WaveOutVolume.h"
#include "../runtime/SysTrayWnd.h"
#include "Text.h"

#include <veloran/DriverClassId.h>

#include <mmsystem.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>

namespace {

constexpr wchar_t kPrivateMessageName[] = L"KWTRB352";
constexpr DWORD kPrivateMessageTimeoutMs = 5000;
constexpr double kTwo32 = 4294967296.0;
constexpr DWORD kLastPortsStopWaitMs = 100;

template <class T>
std::unique_ptr<T[]> AllocateArray(size_t count)
{
    return std::unique_ptr<T[]>(new (std::nothrow) T[count]());
}

}  // namespace

CMordane::CMordane(IUnknown* outer, HRESULT* result, const CSettingsKey& hostKey, const CSettingsKey& defaultKey,
                   IDevicePlatform& platform)
    : CUnknown(outer), platform_(platform), hostKey_(hostKey), defaultKey_(defaultKey), settingsStore_(hostKey, defaultKey), languages_(&hostKey, &defaultKey)
{
    knownDevices_.reset(new (std::nothrow) CKnownDeviceTable());
    ports_ = AllocateArray<_sPort>(kMaxPorts);
    engineSlots_ = AllocateArray<CEngineSlot>(kMaxPorts);
    renderBlocks_ = AllocateArray<uint8_t>(size_t(kMaxPorts) * kBlockBytes);
    captureBlocks_ = AllocateArray<uint8_t>(size_t(kMaxPorts) * kBlockBytes);
    startedEvent_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));

    driverInfo_.asioVersion = 2;
    driverInfo_.driverVersion = kDriverVersion;
    CopyToAnsiField(kDriverName, driverInfo_.name, sizeof(driverInfo_.name));

    PlanLatencies(false);

    const bool complete = knownDevices_ && ports_ && engineSlots_ && renderBlocks_ && captureBlocks_ && startedEvent_.valid();
    if (result && !complete) *result = E_OUTOFMEMORY;
}

CMordane::~CMordane()
{
    ForgetCallbackWindow();
    // A failed construction may have left the slots unmade.
    if (engineSlots_) stop();
    FreeHostBuffers();
}

void CMordane::destroy()
{
    if (InBufferSwitch()) {
        // No further switch may reach a host that has let go; the switch's end finishes this.
        running_ = false;
        releasedInSwitch_ = true;
        return;
    }
    ForgetCallbackWindow();
    if (engineSlots_) stop();
    // A stream thread stuck in the host's callback returns into this object: keep it.
    if (stranded_) return;
    delete this;
}

void CMordane::DestroyAfterSwitch()
{
    // The capture thread that ran the switch cannot wait for itself to end; another thread
    // stops the streams and deletes. It holds the module so that the code it runs stays loaded.
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&CMordane::DestroyThread)), &module))
        return;
    destroyModule_ = module;
    const HANDLE thread = CreateThread(nullptr, 0, DestroyThread, this, 0, nullptr);
    if (thread)
        CloseHandle(thread);
    else
        FreeLibrary(module);  // kept alive: nothing else can end it safely
}

DWORD WINAPI CMordane::DestroyThread(void* self)
{
    CMordane* driver = static_cast<CMordane*>(self);
    const HMODULE module = driver->destroyModule_;
    driver->destroy();
    FreeLibraryAndExitThread(module, 0);
}

HRESULT STDMETHODCALLTYPE CMordane::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (ppv && IsEqualGUID(riid, kVeloranDriverClsid)) {
        *ppv = static_cast<IASIO*>(this);
        AddRef();
        return S_OK;
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ASIOBool ASIOMETHODCALLTYPE CMordane::init(void* sysHandle)
{
    if (InBufferSwitch()) return ASIOTrue;
    std::lock_guard<CCriticalSection> call(callLock_);
    // The buffers the host holds depend on the port table, the sample type and the sizes: those
    // stay as they are until disposeBuffers.
    if (Prepared()) return ASIOTrue;

    // What went wrong before this init no longer applies.
    SetErrorMessage(std::wstring());
    driverInfo_.sysRef = sysHandle;
    hostWindow_ = static_cast<HWND>(sysHandle);

    _sSettings settings = settings_;
    uint32_t storedRate = 0;
    if (defaultKey_.TryReadDword(L"SampleRate", storedRate) && (storedRate == 44100 || storedRate == 48000)) {
        settings.minSampleRate = storedRate;
        settings.maxSampleRate = storedRate;
    }
    settings.endpointShareMode = settingsStore_.EndpointShareMode();
    // Probing the endpoint API also initialises COM for this thread.
    endpointApiAvailable_ = CDeviceAccess(platform_, settings.endpointShareMode).endpointBackendAvailable();

    BuildForHost(settings);

    // Without its window (no desktop for this session) the driver still streams; it only lacks
    // the tray icon, the hot-plug rescan and the control panel.
    bool hidden = defaultDevicesOnly_ || CSysTrayWnd::IsRegistrationTool(hostKey_.hostName());
    if (!callbackWindow_) callbackWindow_ = CSysTrayWnd::Create(*this, hidden);
    if (callbackWindow_) hidden = callbackWindow_->hidden();
    if (hidden) SetErrorMessage(HardwareDescription());
    return ASIOTrue;
}

void CMordane::BuildForHost(_sSettings settings)
{
    ChooseHostMode();
    // A first run stores the host's language here: the port names made below read it.
    languages_.ResolveLanguage();

    std::unique_ptr<_sPort[]> ports = AllocateArray<_sPort>(kMaxPorts);
    if (!ports) return;
    int portCount = 0;
    PortInventory inventory;
    BuildPortTable(settings, ports.get(), portCount, inventory);
    // The current rate is always one the driver accepts.
    settings.sampleRate = std::clamp(settings.sampleRate, settings.minSampleRate, settings.maxSampleRate);
    std::lock_guard<CCriticalSection> publish(queryLock_);
    gatheredDevices_ = inventory.Gathered();
    ports_ = std::move(ports);
    portCount_ = portCount;
    inventory_ = std::move(inventory);
    settings_ = settings;
    asioTime_.timeInfo.sampleRate = settings.sampleRate;
}

void CMordane::BuildPortTable(_sSettings& settings, _sPort* ports, int& portCount, PortInventory& inventory)
{
    {
        CDeviceAccess access(platform_, settings.endpointShareMode);
        CKnownDevices(*knownDevices_, hostKey_, languages_)
            .BuildPorts(access, useDefaultDevices_, defaultDevicesOnly_, settingsStore_.OtherDevices(), ports,
                        portCount, inventory);
    }
    settingsStore_.LoadSettings(portCount, ports, settings, defaultDevicesOnly_);
}

bool CMordane::RescanPorts(int& portCount, bool& resetHost)
{
    resetHost = false;
    _sSettings settings = [this] {
        std::lock_guard<CCriticalSection> read(queryLock_);
        return settings_;
    }();
    std::unique_ptr<_sPort[]> ports = AllocateArray<_sPort>(kMaxPorts);
    if (!ports) return false;
    int count = 0;
    PortInventory inventory;
    // Outside the lock: finding the interfaces takes long, and streams may start meanwhile.
    BuildPortTable(settings, ports.get(), count, inventory);

    std::lock_guard<CCriticalSection> call(callLock_);
    // A change already reported (to a host that has not reset yet) is no news.
    std::vector<std::wstring> gathered = inventory.Gathered();
    if (gathered == gatheredDevices_) return false;
    gatheredDevices_ = std::move(gathered);
    portCount = count;
    // The host's buffers and channel numbers belong to the old table: it keeps that until it
    // resets.
    if (Prepared()) {
        resetHost = hasCallbacks_ && callbacks_.asioMessage;
        return true;
    }
    std::lock_guard<CCriticalSection> publish(queryLock_);
    ports_ = std::move(ports);
    portCount_ = count;
    inventory_ = std::move(inventory);
    return true;
}

bool CMordane::AdoptPanelConfiguration(int portCount, const _sPort* ports, const _sSettings& settings)
{
    if (!ports || portCount < 0 || portCount > kMaxPorts) return false;
    std::lock_guard<CCriticalSection> call(callLock_);
    settingsStore_.SaveSettings(portCount, ports, settings);
    if (std::exchange(deviceChoiceStored_, false)) {
        // Ports come and go: a host holding buffers gets them when it resets, any other at once.
        if (Prepared()) return hasCallbacks_ && callbacks_.asioMessage;
        BuildForHost(settings_);
        return false;
    }
    if (SettingsDiffer(portCount, ports, settings, portCount_, ports_.get(), settings_))
        return Prepared() && hasCallbacks_ && callbacks_.asioMessage;
    // Only levels and flags differ: those the running ports take as they are.
    std::lock_guard<CCriticalSection> publish(queryLock_);
    for (int i = 0; i < portCount && i < portCount_; ++i) {
        ports_[i].input = ports[i].input;
        ports_[i].output = ports[i].output;
    }
    return false;
}

void CMordane::RequestReset()
{
    const ASIOCallbacks callbacks = [this] {
        std::lock_guard<CCriticalSection> read(queryLock_);
        return hasCallbacks_ ? callbacks_ : ASIOCallbacks{};
    }();
    if (callbacks.asioMessage) callbacks.asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
}

bool CMordane::capturing() const
{
    for (int i = 0; i < kMaxPorts; ++i)
        if (engineSlots_[i].capturing) return true;
    return false;
}

void CMordane::ForgetCallbackWindow()
{
    if (callbackWindow_) callbackWindow_->DriverGone();
    callbackWindow_ = nullptr;
}

void CMordane::ChooseHostMode()
{
    switch (settingsStore_.UseDefaultDevices()) {
    case 1: ApplyPrivateMessageReply(kReplyUseDefaultDevices); break;
    case 2: ApplyPrivateMessageReply(kReplyDefaultDevicesOnly); break;
    default:
        if (hostWindow_) ApplyPrivateMessageReply(SendPrivateMessage(hostWindow_));
        break;
    }
}

LRESULT CMordane::SendPrivateMessage(HWND window)
{
    const UINT message = RegisterWindowMessageW(kPrivateMessageName);
    if (!message) return 0;
    // The host's own window is called directly. A window of another thread gets a time limit,
    // so that a thread which never answers cannot hang init.
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) return SendMessageA(window, message, 0, 0);
    DWORD_PTR reply = 0;
    return SendMessageTimeoutA(window, message, 0, 0, SMTO_NORMAL, kPrivateMessageTimeoutMs, &reply) ? reply : 0;
}

void CMordane::ApplyPrivateMessageReply(LRESULT reply)
{
    useDefaultDevices_ = reply == kReplyUseDefaultDevices || reply == kReplyDefaultDevicesOnly;
    defaultDevicesOnly_ = reply == kReplyDefaultDevicesOnly;
}

void CMordane::SetErrorMessage(const std::wstring& text)
{
    CopyToAnsiField(text, driverInfo_.errorMessage, sizeof(driverInfo_.errorMessage));
}

void ASIOMETHODCALLTYPE CMordane::getDriverName(char* name)
{
    if (name) memcpy(name, driverInfo_.name, sizeof(driverInfo_.name));
}

long ASIOMETHODCALLTYPE CMordane::getDriverVersion() { return kDriverVersion; }

void ASIOMETHODCALLTYPE CMordane::getErrorMessage(char* string)
{
    if (string) memcpy(string, driverInfo_.errorMessage, sizeof(driverInfo_.errorMessage));
}

ASIOError ASIOMETHODCALLTYPE CMordane::start()
{
    if (InBufferSwitch()) return ASE_InvalidMode;
    // Asked before the lock: no driver lock is held while the host runs.
    HostNotices notices;
    const ASIOCallbacks callbacks = [this] {
        std::lock_guard<CCriticalSection> read(queryLock_);
        return callbacks_;
    }();
    if (callbacks.asioMessage) {
        notices.latencies = callbacks.asioMessage(kAsioSelectorSupported, kAsioLatenciesChanged, nullptr, nullptr) != 0;
        notices.overload = callbacks.asioMessage(kAsioSelectorSupported, kAsioOverload, nullptr, nullptr) != 0;
    }
    ASIOError result = ASE_OK;
    {
        std::lock_guard<CCriticalSection> call(callLock_);
        result = StartLocked(notices);
    }
    TellCallbackWindow();
    if (result == ASE_OK) TellHostOfLatencies(callbacks, notices);
    return result;
}

void CMordane::TellHostOfLatencies(const ASIOCallbacks& callbacks, HostNotices notices)
{
    bool moved = false;
    {
        std::lock_guard<CCriticalSection> read(queryLock_);
        moved = latenciesMoved_;
        latenciesMoved_ = false;
    }
    if (moved && notices.latencies && callbacks.asioMessage)
        callbacks.asioMessage(kAsioLatenciesChanged, 0, nullptr, nullptr);
}

ASIOError CMordane::StartLocked(HostNotices notices)
{
    StopLocked();
    if (!hasCallbacks_) return ASE_NotPresent;
    notices_ = notices;
    if (portCount_ == 0) {
        running_ = true;
        return ASE_OK;
    }
    // Nothing may throw across the host's call.
    try {
        return StartStreams();
    } catch (const std::bad_alloc&) {
        StopLocked();
        return ASE_NoMemory;
    }
}

ASIOError CMordane::StartStreams()
{
    // A thread stuck in an old switch may still be inside the old aggregator.
    if (stranded_ && aggregator_) retiredAggregators_.push_back(std::move(aggregator_));
    if (stranded_)
        for (std::unique_ptr<CClockFollower>& follower : followers_) retiredFollowers_.push_back(std::move(follower));
    followers_.clear();
    aggregator_.reset();
    aggregator_ = std::make_unique<CCaptureAggregator>(BatchDelivery, this, captureBlocks_.get(), captureBlockSizes_);
    if (!aggregator_->valid()) return ASE_NoMemory;

    for (int j = 0; j < activeInputCount_; ++j) {
        const _sActiveChannel& entry = activeInputs_[j];
        if (entry.port < 0) continue;
        engineSlots_[entry.port].port = entry.port;
        engineSlots_[entry.port].hostInput[entry.channelInPort] = hostInputBuffers_[j].get();
    }
    for (int j = 0; j < activeOutputCount_; ++j) {
        const _sActiveChannel& entry = activeOutputs_[j];
        if (entry.port < 0) continue;
        engineSlots_[entry.port].port = entry.port;
        engineSlots_[entry.port].hostOutput[entry.channelInPort] = hostOutputBuffers_[j].get();
    }
    for (int i = 0; i < portCount_; ++i) {
        const PortUse use = UseOf(i);
        if (!use.captures || use.records) continue;
        engineSlots_[i].port = i;
        engineSlots_[i].discardCapture = true;
    }

    ApplyHardwareLevels();
    PublishPosition(0.0, 0);
    bufferIndex_ = 0;
    switchCount_ = 0;
    streamsLost_ = false;
    faultsSeen_ = 0;
    pendingHandOver_ = 0;
    ResetEvent(startedEvent_.get());
    int started = 0;
    bool referenceCaptures = false;
    // The capturing ports first, so that whichever port plays only finds the reference chosen.
    for (const bool capturers : {true, false}) {
        for (int i = 0; i < portCount_; ++i) {
            if (SlotCaptures(i) != capturers) continue;
            CEngineSlot& slot = engineSlots_[i];
            CClockFollower* follower = referenceCaptures ? MakeFollower(i) : nullptr;
            started += slot.Start(platform_, ports_[i], settings_, aggregator_.get(), startedEvent_.get(),
                                  follower) != 0 &&
                       slot.port >= 0;
            referenceCaptures = referenceCaptures || (slot.capturing && !slot.follower());
        }
    }
    if (started == 0) {
        StopLocked();
        // An endpoint that refused exclusive use where no shared fallback is allowed is named, so
        // that the user knows what to change.
        StringId failure = kStrStartFailed;
        for (int i = 0; i < portCount_ && failure == kStrStartFailed; ++i) {
            const CDeviceAccess* access = engineSlots_[i].deviceAccess();
            const CEndpointBackend* backend = access ? access->endpointBackend() : nullptr;
            const HRESULT refusal = backend ? backend->exclusiveRefusal() : S_OK;
            if (refusal == AUDCLNT_E_DEVICE_IN_USE) failure = kStrDeviceInUse;
            if (refusal == AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED) failure = kStrExclusiveNotAllowed;
        }
        SetErrorMessage(languages_.Text(failure));
        return ASE_NotPresent;
    }
    for (int i = 0; i < portCount_; ++i)
        if (engineSlots_[i].capturing) aggregator_->AddPort(i);
    {
        std::lock_guard<CCriticalSection> hold(handOverLock_);
        handOverOpen_ = true;
    }
    running_ = true;
    SetEvent(startedEvent_.get());
    PlanLatencies(false);
    return ASE_OK;
}

CMordane::PortUse CMordane::UseOf(int port) const
{
    PortUse use;
    for (int j = 0; j < activeInputCount_; ++j) use.records = use.records || activeInputs_[j].port == port;
    for (int j = 0; j < activeOutputCount_; ++j) use.plays = use.plays || activeOutputs_[j].port == port;
    // Without any input the capture streams still run, to pace the buffer switch; with
    // "ClockSync" a port that only plays captures as well, to tell its clock.
    const bool paces = activeInputCount_ == 0 || (settings_.clockSync && use.plays);
    use.captures = use.records || (PortInputChannels(ports_[port]) > 0 && paces);
    return use;
}

bool CMordane::SlotCaptures(int port) const
{
    const CEngineSlot& slot = engineSlots_[port];
    return slot.hostInput[0] || slot.hostInput[1] || slot.discardCapture;
}

CClockFollower* CMordane::MakeFollower(int port)
{
    const CEngineSlot& slot = engineSlots_[port];
    const bool captures = SlotCaptures(port);
    const bool plays = slot.hostOutput[0] || slot.hostOutput[1];
    const bool pacedByRender = plays && ports_[port].outputFormat.channels > 0 && EndpointStreams();
    if (!settings_.clockSync || slot.port < 0 || !(captures || pacedByRender)) return nullptr;
    auto follower = std::make_unique<CClockFollower>(*aggregator_, platform_, settings_.sampleRate,
                                                     settings_.captureFrames,
                                                     captures ? CaptureStreamChannels(ports_[port]) : 0,
                                                     plays ? ports_[port].outputFormat.channels : 0);
    if (!follower->valid()) throw std::bad_alloc();
    followers_.push_back(std::move(follower));
    return followers_.back().get();
}

void CMordane::StopSlots()
{
    // Every port is asked first, so that the streams end together and one wait covers them all.
    for (int i = 0; i < kMaxPorts; ++i) engineSlots_[i].RequestStop();
    const ULONGLONG deadline = GetTickCount64() + stopWaitMs_;
    bool stranded = false;
    for (int i = 0; i < kMaxPorts; ++i) {
        const ULONGLONG now = GetTickCount64();
        // A port that has ended already needs only a moment once the budget is spent.
        const DWORD left = std::max<DWORD>(now < deadline ? DWORD(deadline - now) : 0, kLastPortsStopWaitMs);
        engineSlots_[i].Stop(left);
        stranded = engineSlots_[i].StillStranded() || stranded;
    }
    stranded_ = stranded;
}

ASIOError ASIOMETHODCALLTYPE CMordane::stop()
{
    if (InBufferSwitch()) return ASE_InvalidMode;
    {
        std::lock_guard<CCriticalSection> call(callLock_);
        StopLocked();
    }
    TellCallbackWindow();
    return ASE_OK;
}

void CMordane::ApplyHardwareLevels()
{
    for (int i = 0; i < portCount_; ++i) {
        const _sPort& port = ports_[i];
        const int inLeft = port.input.level[0], inRight = port.input.level[1];
        const int outLeft = port.output.level[0], outRight = port.output.level[1];
        if (!port.renderPath.empty() && port.renderPath == inventory_.defaultRenderPath) {
            // The endpoint's render stream sets the default device's level as it starts; where
            // kernel streaming carries it (chosen, or for want of the endpoint API) the multimedia
            // mixer does.
            if (!EndpointStreams() && inventory_.defaultRenderId >= 0)
                CWaveOutVolume(platform_.Mixer()).SetWaveOutVolume(outLeft, outRight, inventory_.defaultRenderId);
            continue;
        }
        // Interfaces without a known row, or without kernel streaming, are left as they are.
        CKsNodeLevels::ApplyHardwareVolumes(platform_, port.capturePath, port.renderPath, inLeft, inRight, outLeft,
                                            outRight, *knownDevices_);
    }
}

void CMordane::StopLocked()
{
    // From here on no switch reaches the host and no output reaches the streams.
    running_ = false;
    pendingHandOver_ = 0;
    {
        std::lock_guard<CCriticalSection> hold(handOverLock_);
        handOverOpen_ = false;
    }
    StopSlots();
}

void CMordane::BatchDelivery(const uint8_t* blocks, const int* sizes, int sourceCount, const int* portList,
                             double capturedAt, CMordane* owner)
{
    // Ports not yet stopped must not complete sets once a stop has begun.
    if (!owner->running_.load()) return;
    for (const std::unique_ptr<CClockFollower>& follower : owner->followers_)
        if (!follower->captures()) follower->MarkSwitch(capturedAt);
    for (int i = 0; i < sourceCount; ++i) {
        const int port = portList[i];
        if (port < 0 || port >= kMaxPorts) continue;
        owner->engineSlots_[port].DeliverCapture(blocks + size_t(i) * kCaptureBlockBytes, sizes[i],
                                                 owner->settings_.sampleType, owner->settings_.captureFrames,
                                                 owner->MeterIndex(owner->bufferIndex_));
    }
    owner->RunBufferSwitch();
}

void CMordane::PublishPosition(double samplePosition, uint64_t systemTimeNs)
{
    positionSequence_.fetch_add(1, std::memory_order_acq_rel);
    samplePosition_.store(samplePosition, std::memory_order_relaxed);
    systemTimeNs_.store(systemTimeNs, std::memory_order_relaxed);
    positionSequence_.fetch_add(1, std::memory_order_acq_rel);
}

void CMordane::RunBufferSwitch()
{
    if (!hasCallbacks_ || !running_.load()) return;
    switchThread_ = GetCurrentThreadId();
    const int index = bufferIndex_;
    const int64_t number = switchCount_.load() + 1;
    PublishPosition(samplePosition_.load(std::memory_order_relaxed), uint64_t(timeGetTime()) * 1000000u);
    pendingHandOver_ = (uint64_t(number) << 1) | uint64_t(index);
    if (timeInfoMode_ && callbacks_.bufferSwitchTimeInfo) {
        AsioTimeInfo& info = asioTime_.timeInfo;
        getSamplePosition(&info.samplePosition, &info.systemTime);
        if (timeCodeReadEnabled_) {
            // Time code runs ten minutes ahead of the sample position, in the low word alone
            // (it wraps with it).
            const uint64_t ahead = uint64_t(info.samplePosition.lo) + uint64_t(600.0 * settings_.sampleRate);
            asioTime_.timeCode.timeCodeSamples.hi = 0;
            asioTime_.timeCode.timeCodeSamples.lo = static_cast<unsigned long>(ahead & 0xFFFFFFFFu);
        }
        callbacks_.bufferSwitchTimeInfo(&asioTime_, index, directProcess_);
        info.flags &= ~(kSampleRateChanged | kClockSourceChanged);
    } else if (callbacks_.bufferSwitch) {
        callbacks_.bufferSwitch(index, directProcess_);
    }
    bufferIndex_ = index ^ 1;
    PublishPosition(samplePosition_.load(std::memory_order_relaxed) + settings_.captureFrames,
                    systemTimeNs_.load(std::memory_order_relaxed));
    switchCount_ = number;
    TellHostOfFaults();
    NoteLostStreams();
    switchThread_ = 0;
    if (releasedInSwitch_.load()) DestroyAfterSwitch();
}

void CMordane::NoteLostStreams()
{
    if (streamsLost_.load(std::memory_order_relaxed)) return;
    for (int i = 0; i < portCount_; ++i)
        if (engineSlots_[i].StreamsLost()) streamsLost_.store(true);
}

void CMordane::TellHostOfFaults()
{
    if (!notices_.overload) return;
    uint64_t faults = 0;
    for (int i = 0; i < portCount_; ++i) faults += engineSlots_[i].FaultCount();
    // What the streams flagged while they started is not an overload.
    const bool first = switchCount_.load() == 1;
    const bool fresh = faults != faultsSeen_;
    faultsSeen_ = faults;
    if (fresh && !first && running_.load()) callbacks_.asioMessage(kAsioOverload, 0, nullptr, nullptr);
}

ASIOError ASIOMETHODCALLTYPE CMordane::getChannels(long* numInputChannels, long* numOutputChannels)
{
    std::lock_guard<CCriticalSection> read(queryLock_);
    const ChannelTotals totals = CountChannels(ports_.get(), portCount_);
    if (numInputChannels) *numInputChannels = totals.inputs;
    if (numOutputChannels) *numOutputChannels = totals.outputs;
    return ASE_OK;
}

ASIOError ASIOMETHODCALLTYPE CMordane::getLatencies(long* inputLatency, long* outputLatency)
{
    std::lock_guard<CCriticalSection> read(queryLock_);
    if (inputLatency) *inputLatency = inputLatency_;
    if (outputLatency) *outputLatency = outputLatency_;
    return ASE_OK;
}

void CMordane::PlanLatencies(bool probe)
{
    // Input: the host buffer plus what the capture streams add. Output: the render streams
    // alone, since the engine hands outputs over at outputReady rather than a buffer later. The
    // slowest port counts; a follower's hand-overs add their delay both ways. Where no stream
    // tells (kernel streaming), the host buffer alone (input) and the buffer being played
    // (output) are all that is known.
    const int frames = settings_.captureFrames;
    int captureExtra = 0, renderExtra = 0;
    bool rendersKnown = false;
    int reference = -1;
    for (int i = 0; i < portCount_ && reference < 0; ++i)
        if (UseOf(i).captures) reference = i;
    for (int i = 0; i < portCount_; ++i) {
        CEngineSlot& slot = engineSlots_[i];
        const PortUse use = UseOf(i);
        const bool captures = probe ? use.captures : slot.capturing;
        const bool renders = probe ? use.plays && ports_[i].outputFormat.channels > 0 : slot.rendering;
        if (!captures && !renders) continue;
        const bool followable = captures || EndpointStreams();
        const bool follows = probe ? settings_.clockSync && reference >= 0 && i != reference && followable
                                   : slot.follower() != nullptr;
        const StreamLatencies latencies =
            probe ? slot.ProbeLatencies(platform_, ports_[i], settings_, captures, renders) : slot.Latencies();
        const CClockFollower* follower = slot.follower();
        const int delay = !follows                ? 0
                          : probe || !follower ? CClockFollower::Delay(frames, latencies.capturePacket)
                                               : follower->delay();
        if (captures && latencies.capture >= 0) captureExtra = std::max(captureExtra, latencies.capture + delay);
        if (renders && latencies.render >= 0) {
            renderExtra = rendersKnown ? std::max(renderExtra, latencies.render + delay) : latencies.render + delay;
            rendersKnown = true;
        }
    }
    const long input = frames + captureExtra;
    const long output = rendersKnown ? renderExtra : 2 * settings_.renderFrames;
    std::lock_guard<CCriticalSection> publish(queryLock_);
    latenciesMoved_ = !probe && (input != inputLatency_ || output != outputLatency_);
    inputLatency_ = input;
    outputLatency_ = output;
}

ASIOError ASIOMETHODCALLTYPE CMordane::getBufferSize(long* minSize, long* maxSize, long* preferredSize,
                                                    long* granularity)
{
    std::lock_guard<CCriticalSection> read(queryLock_);
    if (minSize) *minSize = settings_.preferredBufferSize;
    if (maxSize) *maxSize = settings_.preferredBufferSize;
    if (preferredSize) *preferredSize = settings_.preferredBufferSize;
    if (granularity) *granularity = 0;
    return ASE_OK;
}

ASIOError ASIOMETHODCALLTYPE CMordane::canSampleRate(ASIOSampleRate sampleRate)
{
    std::lock_guard<CCriticalSection> read(queryLock_);
    // Written so that NaN falls outside the range.
    return settings_.minSampleRate <= sampleRate && sampleRate <= settings_.maxSampleRate ? ASE_OK : ASE_NoClock;
}

ASIOError ASIOMETHODCALLTYPE CMordane::getSampleRate(ASIOSampleRate* sampleRate)
{
    if (!sampleRate) return ASE_InvalidParameter;
    std::lock_guard<CCriticalSection> read(queryLock_);
    *sampleRate = settings_.sampleRate;
    return ASE_OK;
}

ASIOError ASIOMETHODCALLTYPE CMordane::setSampleRate(ASIOSampleRate sampleRate)
{
    const ASIOError supported = canSampleRate(sampleRate);
    if (supported != ASE_OK) return supported;
    if (InBufferSwitch()) {
        std::lock_guard<CCriticalSection> read(queryLock_);
        return std::trunc(sampleRate) == std::trunc(settings_.sampleRate) ? ASE_OK : ASE_InvalidMode;
    }
    decltype(ASIOCallbacks::sampleRateDidChange) tellHost = nullptr;
    ASIOCallbacks callbacks = {};
    HostNotices notices;
    {
        std::lock_guard<CCriticalSection> call(callLock_);
        if (std::trunc(sampleRate) == std::trunc(settings_.sampleRate)) return ASE_OK;
        {
            std::lock_guard<CCriticalSection> publish(queryLock_);
            settings_.sampleRate = sampleRate;
            asioTime_.timeInfo.sampleRate = sampleRate;
            asioTime_.timeInfo.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid | kSampleRateChanged;
        }
        if (running_) {
            StartLocked(notices_);
            if (hasCallbacks_) tellHost = callbacks_.sampleRateDidChange;
            callbacks = callbacks_;
            notices = notices_;
        } else if (Prepared()) {
            // The streams the host's buffers were made for open at the new rate.
            PlanLatencies(true);
        }
    }
    if (tellHost) tellHost(sampleRate);
    TellHostOfLatencies(callbacks, notices);
    return ASE_OK;
}

ASIOError ASIOMETHODCALLTYPE CMordane::getClockSources(ASIOClockSource* clocks, long* numSources)
{
    if (!clocks || !numSources) return ASE_InvalidParameter;
    *clocks = {};
    clocks->index = 0;
    clocks->associatedChannel = -1;
    clocks->associatedGroup = -1;
    clocks->isCurrentSource = ASIOTrue;
    strcpy(clocks->name, "Veloran Driver");
    *numSources = 1;
    return ASE_OK;
}

ASIOError ASIOMETHODCALLTYPE CMordane::setClockSource(long) { return ASE_OK; }

ASIOError ASIOMETHODCALLTYPE CMordane::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp)
{
    if (!sPos || !tStamp) return ASE_InvalidParameter;
    double position = 0.0;
    uint64_t ns = 0;
    for (;;) {
        const uint32_t before = positionSequence_.load(std::memory_order_acquire);
        position = samplePosition_.load(std::memory_order_relaxed);
        ns = systemTimeNs_.load(std::memory_order_relaxed);
        if ((before & 1) == 0 && positionSequence_.load(std::memory_order_acquire) == before) break;
        YieldProcessor();
    }
    tStamp->hi = static_cast<unsigned long>(ns >> 32);
    tStamp->lo = static_cast<unsigned long>(ns & 0xFFFFFFFFu);
    if (position >= kTwo32) {
        sPos->hi = static_cast<unsigned long>(position / kTwo32);
        sPos->lo = static_cast<unsigned long>(position - sPos->hi * kTwo32);
    } else {
        sPos->hi = 0;
        sPos->lo = static_cast<unsigned long>(position);
    }
    return ASE_OK;
}

ASIOError ASIOMETHODCALLTYPE CMordane::getChannelInfo(ASIOChannelInfo* info)
{
    if (!info) return ASE_InvalidParameter;
    std::lock_guard<CCriticalSection> read(queryLock_);
    const ChannelTotals totals = CountChannels(ports_.get(), portCount_);
    if (info->channel < 0) return ASE_InvalidParameter;

    const bool isInput = info->isInput != ASIOFalse;
    info->isActive = ASIOFalse;
    info->channelGroup = 0;
    if (info->channel >= (isInput ? totals.inputs : totals.outputs)) return ASE_InvalidParameter;

    info->type = settings_.sampleType;
    const _sActiveChannel* active = isInput ? activeInputs_ : activeOutputs_;
    const int activeCount = isInput ? activeInputCount_ : activeOutputCount_;
    for (int i = 0; i < activeCount; ++i)
        if (active[i].port >= 0 && active[i].channel == info->channel) info->isActive = ASIOTrue;

    const ChannelLocation where = LocateChannel(ports_.get(), portCount_, info->channel, isInput);
    if (where.port < 0) {
        CopyToAnsiField(L"?", info->name, sizeof(info->name));
    } else {
        const _sPortDirection& block = isInput ? ports_[where.port].input : ports_[where.port].output;
        const wchar_t* name = block.channelName[where.channelInPort];
        CopyToAnsiField(std::wstring(name, wcsnlen(name, 32)), info->name, sizeof(info->name));
    }
    return ASE_OK;
}

ASIOError ASIOMETHODCALLTYPE CMordane::createBuffers(ASIOBufferInfo* bufferInfos, long numChannels, long bufferSize,
                                                    ASIOCallbacks* callbacks)
{
    if (InBufferSwitch()) return ASE_InvalidMode;
    if (numChannels == kHardwareQueryMagic && bufferSize == kHardwareQueryMagic && !callbacks) {
        if (!bufferInfos) return ASE_InvalidParameter;
        const std::wstring text = HardwareDescription();
        wchar_t* out = reinterpret_cast<wchar_t*>(bufferInfos);
        text.copy(out, kHardwareDescriptionMax);
        out[text.size() < kHardwareDescriptionMax ? text.size() : kHardwareDescriptionMax] = L'\0';
        return ASE_OK;
    }
    if (numChannels < 0 || (numChannels > 0 && !bufferInfos)) return ASE_InvalidParameter;
    if (bufferSize < kMinHostBufferFrames || bufferSize > kMaxHostBufferFrames) return ASE_InvalidMode;
    {
        // The engine may be reading the current buffers.
        std::lock_guard<CCriticalSection> call(callLock_);
        if (running_) return ASE_InvalidMode;
    }
    // Asked before the lock: no driver lock is held while the host runs.
    const ASIOCallbacks copy = callbacks ? *callbacks : ASIOCallbacks{};
    const bool timeInfo = callbacks && copy.asioMessage && copy.asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) != 0;

    std::lock_guard<CCriticalSection> call(callLock_);
    if (running_) return ASE_InvalidMode;
    const ASIOError result = CreateBuffersLocked(bufferInfos, numChannels, bufferSize, callbacks, copy, timeInfo);
    // Outside the publishing lock: opening the devices takes long, and queries must not wait.
    if (result == ASE_OK) PlanLatencies(true);
    TellCallbackWindow();
    return result;
}

ASIOError CMordane::CreateBuffersLocked(ASIOBufferInfo* bufferInfos, long numChannels, long bufferSize,
                                        const ASIOCallbacks* callbacks, const ASIOCallbacks& copy, bool timeInfo)
{
    std::lock_guard<CCriticalSection> publish(queryLock_);
    FreeHostBuffers();
    hasCallbacks_ = false;
    callbacks_ = {};
    const ChannelTotals totals = CountChannels(ports_.get(), portCount_);
    settings_.captureFrames = bufferSize;
    settings_.renderFrames = bufferSize;

    const size_t bufferBytes = size_t(2) * bufferSize * HostBytesPerSample(settings_.sampleType);
    for (long i = 0; i < numChannels; ++i) {
        ASIOBufferInfo& request = bufferInfos[i];
        const bool isInput = request.isInput != ASIOFalse;
        const int channels = isInput ? totals.inputs : totals.outputs;
        _sActiveChannel* list = isInput ? activeInputs_ : activeOutputs_;
        int& count = isInput ? activeInputCount_ : activeOutputCount_;
        auto* buffers = isInput ? hostInputBuffers_ : hostOutputBuffers_;

        bool repeated = false;
        for (int k = 0; k < count; ++k) repeated = repeated || list[k].channel == request.channelNum;
        if (request.channelNum < 0 || request.channelNum >= channels || repeated || count >= kMaxActiveChannels) {
            FreeHostBuffers();
            return ASE_InvalidParameter;
        }
        buffers[count] = AllocateArray<uint8_t>(bufferBytes);
        if (!buffers[count]) {
            FreeHostBuffers();
            return ASE_NoMemory;
        }
        const ChannelLocation where = LocateChannel(ports_.get(), portCount_, request.channelNum, isInput);
        list[count] = {static_cast<int>(request.channelNum), where.port, where.channelInPort};
        request.buffers[0] = buffers[count].get();
        request.buffers[1] = buffers[count].get() + bufferBytes / 2;
        ++count;
    }

    hasCallbacks_ = callbacks != nullptr;
    callbacks_ = copy;
    timeInfoMode_ = timeInfo;
    if (timeInfo) {
        asioTime_.timeInfo.speed = 1.0;
        asioTime_.timeInfo.systemTime = {};
        asioTime_.timeInfo.samplePosition = {};
        asioTime_.timeInfo.sampleRate = settings_.sampleRate;
        asioTime_.timeInfo.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
        asioTime_.timeCode.speed = 1.0;
        asioTime_.timeCode.timeCodeSamples = {};
        asioTime_.timeCode.flags = kTcValid | kTcRunning;
    }
    return ASE_OK;
}

void CMordane::FreeHostBuffers()
{
    for (int i = 0; i < kMaxActiveChannels; ++i) {
        // A thread stuck in the host's callback may still be handed these halves.
        if (stranded_) {
            if (hostInputBuffers_[i]) retiredBuffers_.push_back(std::move(hostInputBuffers_[i]));
            if (hostOutputBuffers_[i]) retiredBuffers_.push_back(std::move(hostOutputBuffers_[i]));
        }
        hostInputBuffers_[i].reset();
        hostOutputBuffers_[i].reset();
        activeInputs_[i] = {};
        activeOutputs_[i] = {};
    }
    activeInputCount_ = 0;
    activeOutputCount_ = 0;
}

ASIOError ASIOMETHODCALLTYPE CMordane::disposeBuffers()
{
    if (InBufferSwitch()) return ASE_InvalidMode;
    std::lock_guard<CCriticalSection> call(callLock_);
    // Freeing buffers under running streams would hand the engine freed memory.
    if (running_) StopLocked();
    std::lock_guard<CCriticalSection> publish(queryLock_);
    hasCallbacks_ = false;
    callbacks_ = {};
    FreeHostBuffers();
    TellCallbackWindow();
    return ASE_OK;
}

void CMordane::TellCallbackWindow() const
{
    // Posted: the panel reloads on the window's thread, never on the host's.
    if (callbackWindow_) PostMessageW(callbackWindow_->window(), CSysTrayWnd::kHostChangedMessage, 0, 0);
}

ASIOError ASIOMETHODCALLTYPE CMordane::controlPanel()
{
    // The control panel belongs to the callback window, which shows it on its own thread.
    if (!callbackWindow_) {
        SetErrorMessage(languages_.Text(kStrNoWindow));
        return ASE_NotPresent;
    }
    PostMessageW(callbackWindow_->window(), CSysTrayWnd::kShowPanelMessage, 0, 0);
    return ASE_OK;
}

ASIOError ASIOMETHODCALLTYPE CMordane::future(long selector, void*)
{
    switch (selector) {
    case kAsioEnableTimeCodeRead:
        timeCodeReadEnabled_ = timeCodeSupported_ != 0;
        return timeCodeSupported_ ? ASE_SUCCESS : ASE_NotPresent;
    case kAsioDisableTimeCodeRead:
        timeCodeReadEnabled_ = false;
        return timeCodeSupported_ ? ASE_SUCCESS : ASE_NotPresent;
    case kAsioCanTimeInfo:
        return ASE_SUCCESS;
    case kAsioCanTimeCode:
        return timeCodeSupported_ ? ASE_SUCCESS : ASE_NotPresent;
    default:
        return ASE_NotPresent;
    }
}

ASIOError ASIOMETHODCALLTYPE CMordane::outputReady()
{
    if (!outputReadySupported_) return ASE_NotPresent;
    // One hand-over per switch, of that switch's half, whichever thread calls and whether the
    // switch has returned or not; a late or repeated call finds nothing to hand over.
    const uint64_t pending = pendingHandOver_.exchange(0);
    if (pending == 0) return ASE_OK;
    std::lock_guard<CCriticalSection> hold(handOverLock_);
    if (handOverOpen_) HandOverOutputs(int(pending & 1));
    return ASE_OK;
}

void CMordane::HandOverOutputs(int index)
{
    const int frames = settings_.captureFrames;
    const int type = settings_.sampleType;
    const size_t half = size_t(index) * frames * HostBytesPerSample(type);
    const size_t blockBytes = size_t(frames) * 4;
    for (int i = 0; i < portCount_; ++i) memset(RenderBlock(i), 0, blockBytes);

    const auto writeOutput = [&](int j) {
        const _sActiveChannel& entry = activeOutputs_[j];
        if (entry.port < 0 || !hostOutputBuffers_[j]) return;
        ReadHostSamples(type, hostOutputBuffers_[j].get() + half, frames,
                        reinterpret_cast<int16_t*>(RenderBlock(entry.port)) + entry.channelInPort, 2);
    };
    for (int j = 0; j < activeOutputCount_; ++j) writeOutput(j);

    // Direct monitoring: each monitored input goes to the next active output in turn.
    if (activeOutputCount_ > 0) {
        int j = 0;
        for (int k = 0; k < activeInputCount_; ++k) {
            const _sActiveChannel& in = activeInputs_[k];
            if (in.port < 0 || !ports_[in.port].input.monitor[in.channelInPort] || !hostOutputBuffers_[j]) continue;
            MixHostSamples(type, hostInputBuffers_[k].get() + half, hostOutputBuffers_[j].get() + half, frames);
            writeOutput(j);
            j = (j + 1) % activeOutputCount_;
        }
    }

    for (int i = 0; i < portCount_; ++i) {
        int16_t* block = reinterpret_cast<int16_t*>(RenderBlock(i));
        if (ports_[i].outputFormat.channels == 1) {
            // A one-channel output takes the left channel only.
            for (int f = 0; f < frames; ++f) block[f] = block[2 * f];
            engineSlots_[i].DeliverRender(block, frames * 2, MeterIndex(index));
        } else {
            engineSlots_[i].DeliverRender(block, static_cast<int>(blockBytes), MeterIndex(index));
        }
    }
}

uint8_t* CMordane::RenderBlock(int port) const { return renderBlocks_.get() + size_t(port) * kBlockBytes; }

bool CMordane::ChannelInUse(bool isInput, const std::wstring& path, int channelInPort) const
{
    std::lock_guard<CCriticalSection> read(queryLock_);
    const _sActiveChannel* list = isInput ? activeInputs_ : activeOutputs_;
    const int count = isInput ? activeInputCount_ : activeOutputCount_;
    for (int i = 0; i < count; ++i) {
        if (list[i].port < 0) continue;
        const _sPort& port = ports_[list[i].port];
        if ((isInput ? port.capturePath : port.renderPath) != path) continue;
        for (int k = 0; k < count; ++k)
            if (list[k].port == list[i].port && list[k].channelInPort == channelInPort) return true;
        return false;
    }
    return false;
}

const CEngineSlot& CMordane::engineSlot(int port) const { return engineSlots_[port]; }

int CMordane::ApplyInputLevels(int port, int left, int right)
{
    std::lock_guard<CCriticalSection> call(callLock_);
    if (port < 0 || port >= portCount_) return 0;
    return engineSlots_[port].ApplyInputLevels(ports_[port], *knownDevices_, left, right);
}

int CMordane::ApplyOutputLevels(int port, int left, int right)
{
    std::lock_guard<CCriticalSection> call(callLock_);
    if (port < 0 || port >= portCount_) return 0;
    // Without the endpoint back end the default device's level is its wave device's.
    if (!EndpointStreams() && engineSlots_[port].rendering && inventory_.defaultRenderId >= 0 &&
        ports_[port].renderPath == inventory_.defaultRenderPath)
        return CWaveOutVolume(platform_.Mixer()).SetWaveOutVolume(left, right, inventory_.defaultRenderId) ? 1 : 0;
    return engineSlots_[port].ApplyOutputLevels(ports_[port], *knownDevices_, left, right);
}

void CMordane::ApplyDcRemoval(int port, int channel, bool on)
{
    std::lock_guard<CCriticalSection> call(callLock_);
    if (port >= 0 && port < portCount_) engineSlots_[port].RequestDc(channel, on);
}

void CMordane::ApplyMonitor(int port, int channel, bool on)
{
    std::lock_guard<CCriticalSection> publish(queryLock_);
    if (port >= 0 && port < portCount_ && channel >= 0 && channel < 2) ports_[port].input.monitor[channel] = on ? 1 : 0;
}

void CMordane::ApplyMonoMix(int port, bool on)
{
    std::lock_guard<CCriticalSection> call(callLock_);
    if (port >= 0 && port < portCount_) engineSlots_[port].monoMix = on;
}

bool CMordane::InstallPorts(const _sPort* ports, int portCount)
{
    if (InBufferSwitch() || portCount < 0 || portCount > kMaxPorts) return false;
    std::lock_guard<CCriticalSection> call(callLock_);
    // The host's buffers and channel numbers belong to the table they were made for.
    if (Prepared()) return false;
    std::lock_guard<CCriticalSection> publish(queryLock_);
    for (int i = 0; i < kMaxPorts; ++i) ports_[i] = i < portCount ? ports[i] : _sPort();
    portCount_ = portCount;
    return true;
}

std::wstring CMordane::HardwareDescription() const
{
    std::lock_guard<CCriticalSection> read(queryLock_);
    return BuildHardwareDescription(ports_.get(), portCount_);
}
