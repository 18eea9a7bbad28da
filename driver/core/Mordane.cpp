#include "Mordane.h"

#include "EngineSlot.h"
#include "HardwareDescription.h"
#include "HostSamples.h"
#include "../devices/DeviceAccess.h"
#include "../devices/EndpointBackend.h"
#include "Text.h"

#include <veloran/DriverClassId.h>

#include <mmsystem.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr wchar_t kPrivateMessageName[] = L"KWTRB352";
constexpr DWORD kPrivateMessageTimeoutMs = 5000;
constexpr double kTwo32 = 4294967296.0;
// Switches after start by which the streams' hand-overs have settled.
constexpr int kLatencySettledSwitches = 8;

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

    const bool complete = knownDevices_ && ports_ && engineSlots_ && renderBlocks_ && captureBlocks_ && startedEvent_.valid();
    if (result && !complete) *result = E_OUTOFMEMORY;
}

CMordane::~CMordane()
{
    stop();
    FreeHostBuffers();
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

ASIOBool STDMETHODCALLTYPE CMordane::init(void* sysHandle)
{
    driverInfo_.sysRef = sysHandle;
    hostWindow_ = static_cast<HWND>(sysHandle);

    uint32_t storedRate = 0;
    if (defaultKey_.TryReadDword(L"SampleRate", storedRate) && (storedRate == 44100 || storedRate == 48000)) {
        settings_.minSampleRate = storedRate;
        settings_.maxSampleRate = storedRate;
    }

    settings_.endpointShareMode = settingsStore_.EndpointShareMode();
    // Probing the endpoint API also initialises COM for this thread.
    endpointApiAvailable_ = CDeviceAccess(platform_, settings_.endpointShareMode).endpointBackendAvailable();

    if (hostWindow_) ApplyPrivateMessageReply(SendPrivateMessage(hostWindow_));

    {
        CDeviceAccess access(platform_, settings_.endpointShareMode);
        CKnownDevices(*knownDevices_, hostKey_, languages_)
            .BuildPorts(access, useDefaultDevices_, defaultDevicesOnly_, ports_.get(), portCount_, inventory_);
    }
    settingsStore_.LoadSettings(portCount_, ports_.get(), settings_, defaultDevicesOnly_);

    if (defaultDevicesOnly_) SetErrorMessage(HardwareDescription());
    return ASIOTrue;
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

void STDMETHODCALLTYPE CMordane::getDriverName(char* name)
{
    if (name) memcpy(name, driverInfo_.name, sizeof(driverInfo_.name));
}

long STDMETHODCALLTYPE CMordane::getDriverVersion() { return kDriverVersion; }

void STDMETHODCALLTYPE CMordane::getErrorMessage(char* string)
{
    if (string) memcpy(string, driverInfo_.errorMessage, sizeof(driverInfo_.errorMessage));
}

ASIOError STDMETHODCALLTYPE CMordane::start()
{
    if (InBufferSwitch()) return ASE_InvalidMode;
    running_ = false;
    if (!hasCallbacks_) return ASE_NotPresent;
    if (portCount_ == 0) {
        running_ = true;
        return ASE_OK;
    }
    // Nothing may throw across the host's call.
    try {
        return StartStreams();
    } catch (const std::bad_alloc&) {
        StopSlots();
        return ASE_NoMemory;
    }
}

ASIOError CMordane::StartStreams()
{
    StopSlots();
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
    // Without any input the capture streams still run, to pace the buffer switch.
    if (activeInputCount_ == 0) {
        for (int i = 0; i < portCount_; ++i) {
            if (PortInputChannels(ports_[i]) == 0) continue;
            engineSlots_[i].port = i;
            engineSlots_[i].discardCapture = true;
        }
    }

    samplePosition_ = 0.0;
    systemTime_ = {};
    bufferIndex_ = 0;
    switchesSinceStart_ = 0;
    latencyNotices_ = callbacks_.asioMessage &&
                      callbacks_.asioMessage(kAsioSelectorSupported, kAsioLatenciesChanged, nullptr, nullptr) != 0;
    ResetEvent(startedEvent_.get());
    int started = 0;
    for (int i = 0; i < portCount_; ++i)
        started += engineSlots_[i].Start(platform_, ports_[i], settings_, aggregator_.get(), startedEvent_.get()) != 0 &&
                   engineSlots_[i].port >= 0;
    if (started == 0) {
        StopSlots();
        SetErrorMessage(languages_.Text(kStrStartFailed));
        return ASE_NotPresent;
    }
    for (int i = 0; i < portCount_; ++i)
        if (engineSlots_[i].capturing) aggregator_->AddPort(i);
    running_ = true;
    SetEvent(startedEvent_.get());
    return ASE_OK;
}

void CMordane::StopSlots()
{
    for (int i = 0; i < kMaxPorts; ++i) engineSlots_[i].Stop();
}

ASIOError STDMETHODCALLTYPE CMordane::stop()
{
    if (InBufferSwitch()) return ASE_InvalidMode;
    running_ = false;
    StopSlots();
    return ASE_OK;
}

void CMordane::BatchDelivery(const uint8_t* blocks, const int* sizes, int sourceCount, const int* portList,
                             CMordane* owner)
{
    for (int i = 0; i < sourceCount; ++i) {
        const int port = portList[i];
        if (port < 0 || port >= kMaxPorts) continue;
        owner->engineSlots_[port].DeliverCapture(blocks + size_t(i) * kCaptureBlockBytes, sizes[i],
                                                 owner->settings_.sampleType, owner->settings_.captureFrames,
                                                 owner->MeterIndex());
    }
    owner->RunBufferSwitch();
}

void CMordane::RunBufferSwitch()
{
    if (!hasCallbacks_) return;
    switchThread_ = GetCurrentThreadId();
    const double ns = double(timeGetTime()) * 1e6;
    systemTime_.hi = static_cast<unsigned long>(ns / kTwo32);
    systemTime_.lo = static_cast<unsigned long>(ns - systemTime_.hi * kTwo32);
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
        callbacks_.bufferSwitchTimeInfo(&asioTime_, bufferIndex_, directProcess_);
        info.flags &= ~(kSampleRateChanged | kClockSourceChanged);
    } else if (callbacks_.bufferSwitch) {
        callbacks_.bufferSwitch(bufferIndex_, directProcess_);
    }
    bufferIndex_ ^= 1;
    samplePosition_ += settings_.captureFrames;
    // Before the streams ran, getLatencies could only estimate; once what they hold has settled,
    // hosts that ask for it re-read the measured values.
    if (++switchesSinceStart_ == kLatencySettledSwitches && latencyNotices_)
        callbacks_.asioMessage(kAsioLatenciesChanged, 0, nullptr, nullptr);
    switchThread_ = 0;
}

ASIOError STDMETHODCALLTYPE CMordane::getChannels(long* numInputChannels, long* numOutputChannels)
{
    const ChannelTotals totals = CountChannels(ports_.get(), portCount_);
    if (numInputChannels) *numInputChannels = totals.inputs;
    if (numOutputChannels) *numOutputChannels = totals.outputs;
    return ASE_OK;
}

ASIOError STDMETHODCALLTYPE CMordane::getLatencies(long* inputLatency, long* outputLatency)
{
    // Input: the host buffer plus what the capture streams add. Output: the render streams
    // alone, since the engine hands outputs over at outputReady rather than a buffer later.
    // The slowest port counts. Before the streams run, the host buffer alone (input) and the
    // buffer being played (output) are all we know.
    int captureExtra = 0, renderExtra = settings_.renderFrames;
    bool measured = false;
    for (int i = 0; i < portCount_; ++i) {
        const CDeviceAccess* access = engineSlots_[i].deviceAccess();
        const CEndpointBackend* backend = access ? access->endpointBackend() : nullptr;
        if (!backend) continue;
        if (engineSlots_[i].capturing) captureExtra = std::max(captureExtra, backend->captureInfo().latencyFrames);
        if (engineSlots_[i].rendering) {
            renderExtra = measured ? std::max(renderExtra, backend->renderInfo().latencyFrames)
                                   : backend->renderInfo().latencyFrames;
            measured = true;
        }
    }
    if (inputLatency) *inputLatency = settings_.captureFrames + captureExtra;
    if (outputLatency) *outputLatency = measured ? renderExtra : settings_.renderFrames + renderExtra;
    return ASE_OK;
}

ASIOError STDMETHODCALLTYPE CMordane::getBufferSize(long* minSize, long* maxSize, long* preferredSize,
                                                    long* granularity)
{
    if (minSize) *minSize = settings_.preferredBufferSize;
    if (maxSize) *maxSize = settings_.preferredBufferSize;
    if (preferredSize) *preferredSize = settings_.preferredBufferSize;
    if (granularity) *granularity = 0;
    return ASE_OK;
}

ASIOError STDMETHODCALLTYPE CMordane::canSampleRate(ASIOSampleRate sampleRate)
{
    // Written so that NaN falls outside the range.
    return settings_.minSampleRate <= sampleRate && sampleRate <= settings_.maxSampleRate ? ASE_OK : ASE_NoClock;
}

ASIOError STDMETHODCALLTYPE CMordane::getSampleRate(ASIOSampleRate* sampleRate)
{
    if (!sampleRate) return ASE_InvalidParameter;
    *sampleRate = settings_.sampleRate;
    return ASE_OK;
}

ASIOError STDMETHODCALLTYPE CMordane::setSampleRate(ASIOSampleRate sampleRate)
{
    const ASIOError supported = canSampleRate(sampleRate);
    if (supported != ASE_OK) return supported;
    if (std::trunc(sampleRate) == std::trunc(settings_.sampleRate)) return ASE_OK;
    if (running_ && InBufferSwitch()) return ASE_InvalidMode;

    settings_.sampleRate = sampleRate;
    asioTime_.timeInfo.sampleRate = sampleRate;
    asioTime_.timeInfo.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid | kSampleRateChanged;
    if (running_) {
        stop();
        start();
        if (hasCallbacks_ && callbacks_.sampleRateDidChange) callbacks_.sampleRateDidChange(sampleRate);
    }
    return ASE_OK;
}

ASIOError STDMETHODCALLTYPE CMordane::getClockSources(ASIOClockSource* clocks, long* numSources)
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

ASIOError STDMETHODCALLTYPE CMordane::setClockSource(long) { return ASE_OK; }

ASIOError STDMETHODCALLTYPE CMordane::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp)
{
    if (!sPos || !tStamp) return ASE_InvalidParameter;
    *tStamp = systemTime_;
    if (samplePosition_ >= kTwo32) {
        sPos->hi = static_cast<unsigned long>(samplePosition_ / kTwo32);
        sPos->lo = static_cast<unsigned long>(samplePosition_ - sPos->hi * kTwo32);
    } else {
        sPos->hi = 0;
        sPos->lo = static_cast<unsigned long>(samplePosition_);
    }
    return ASE_OK;
}

ASIOError STDMETHODCALLTYPE CMordane::getChannelInfo(ASIOChannelInfo* info)
{
    if (!info) return ASE_InvalidParameter;
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

ASIOError STDMETHODCALLTYPE CMordane::createBuffers(ASIOBufferInfo* bufferInfos, long numChannels, long bufferSize,
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
    // The engine may be reading the current buffers.
    if (running_) return ASE_InvalidMode;
    if (numChannels < 0 || (numChannels > 0 && !bufferInfos)) return ASE_InvalidParameter;
    if (bufferSize < 1 || bufferSize > kMaxHostBufferFrames) return ASE_InvalidMode;

    FreeHostBuffers();
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
            disposeBuffers();
            return ASE_InvalidParameter;
        }
        buffers[count] = AllocateArray<uint8_t>(bufferBytes);
        if (!buffers[count]) {
            disposeBuffers();
            return ASE_NoMemory;
        }
        const ChannelLocation where = LocateChannel(ports_.get(), portCount_, request.channelNum, isInput);
        list[count] = {static_cast<int>(request.channelNum), where.port, where.channelInPort};
        request.buffers[0] = buffers[count].get();
        request.buffers[1] = buffers[count].get() + bufferBytes / 2;
        ++count;
    }

    hasCallbacks_ = callbacks != nullptr;
    callbacks_ = callbacks ? *callbacks : ASIOCallbacks{};
    timeInfoMode_ = false;
    if (hasCallbacks_ && callbacks_.asioMessage &&
        callbacks_.asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) != 0) {
        timeInfoMode_ = true;
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
        hostInputBuffers_[i].reset();
        hostOutputBuffers_[i].reset();
        activeInputs_[i] = {};
        activeOutputs_[i] = {};
    }
    activeInputCount_ = 0;
    activeOutputCount_ = 0;
}

ASIOError STDMETHODCALLTYPE CMordane::disposeBuffers()
{
    if (InBufferSwitch()) return ASE_InvalidMode;
    // Freeing buffers under running streams would hand the engine freed memory.
    if (running_) stop();
    hasCallbacks_ = false;
    callbacks_ = {};
    FreeHostBuffers();
    return ASE_OK;
}

ASIOError STDMETHODCALLTYPE CMordane::controlPanel()
{
    // The control panel belongs to the callback window, which this build does not create yet.
    return ASE_NotPresent;
}

ASIOError STDMETHODCALLTYPE CMordane::future(long selector, void*)
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

ASIOError STDMETHODCALLTYPE CMordane::outputReady()
{
    if (!outputReadySupported_) return ASE_NotPresent;
    if (!running_) return ASE_OK;
    // Hosts normally call it inside their buffer switch; a call from another thread waits for
    // the switch to end rather than share the render blocks with it.
    if (InBufferSwitch() || !aggregator_)
        HandOverOutputs();
    else
        aggregator_->Exclusive([this] { HandOverOutputs(); });
    return ASE_OK;
}

void CMordane::HandOverOutputs()
{
    const int frames = settings_.captureFrames;
    const int type = settings_.sampleType;
    const size_t half = size_t(bufferIndex_) * frames * HostBytesPerSample(type);
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
            engineSlots_[i].DeliverRender(block, frames * 2, MeterIndex());
        } else {
            engineSlots_[i].DeliverRender(block, static_cast<int>(blockBytes), MeterIndex());
        }
    }
}

uint8_t* CMordane::RenderBlock(int port) const { return renderBlocks_.get() + size_t(port) * kBlockBytes; }

bool CMordane::ChannelInUse(bool isInput, const std::wstring& path, int channelInPort) const
{
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
    if (port < 0 || port >= portCount_) return 0;
    return engineSlots_[port].ApplyInputLevels(ports_[port], left, right);
}

int CMordane::ApplyOutputLevels(int port, int left, int right)
{
    if (port < 0 || port >= portCount_) return 0;
    return engineSlots_[port].ApplyOutputLevels(left, right);
}

bool CMordane::InstallPorts(const _sPort* ports, int portCount)
{
    if (running_ || portCount < 0 || portCount > kMaxPorts) return false;
    for (int i = 0; i < kMaxPorts; ++i) ports_[i] = i < portCount ? ports[i] : _sPort();
    portCount_ = portCount;
    return true;
}

std::wstring CMordane::HardwareDescription() const { return BuildHardwareDescription(ports_.get(), portCount_); }
