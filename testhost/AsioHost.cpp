#include "AsioHost.h"

#include <veloran/DriverClassId.h>
#include <veloran/RegKey.h>

#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>

namespace {

constexpr wchar_t kDriverName[] = L"Asio 2.0 Veloran Driver";
constexpr wchar_t kPreferredSizeValue[] = L"AsioBuffSizePreferred";
constexpr wchar_t kNoHardwareMarker[] = L"no hardware";
constexpr size_t kHardwareTextUnits = 4096 / sizeof(wchar_t);
constexpr DWORD kRunThreadStopWaitMs = 5000;
constexpr DWORD kRunThreadExitCode = 0x2222;
constexpr int kChannelNameUnits = 32;

std::atomic<CAsioHost*> activeHost{nullptr};

HRESULT CreateDriverByClassId(IASIO** driver)
{
    return CoCreateInstance(kVeloranDriverClsid, nullptr, CLSCTX_INPROC_SERVER, kVeloranDriverClsid,
                            reinterpret_cast<void**>(driver));
}

std::wstring HostName()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    std::wstring name(path, length);
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) name.resize(dot);
    return name;
}

bool IsNoHardwareReply(const std::wstring& text)
{
    return text.empty() || CompareStringOrdinal(text.c_str(), static_cast<int>(text.size()), kNoHardwareMarker, -1,
                                                TRUE) == CSTR_EQUAL;
}

// The driver's 32-byte ANSI name; it may lack its terminator.
std::wstring DisplayName(const char (&name)[32])
{
    wchar_t wide[kChannelNameUnits] = {};
    const int bytes = static_cast<int>(strnlen(name, sizeof(name)));
    const int units = MultiByteToWideChar(CP_ACP, 0, name, bytes, wide, kChannelNameUnits);
    return std::wstring(wide, std::min(units, kChannelNameUnits - 1));
}

}  // namespace

CAsioHost::CAsioHost(HWND dialog, IHostBlockProcessor& processor, DriverFactory factory)
    : dialog_(dialog),
      processor_(processor),
      factory_(factory ? std::move(factory) : DriverFactory(CreateDriverByClassId)),
      callbacks_{&OnBufferSwitch, &OnSampleRateDidChange, &OnAsioMessage, &OnBufferSwitchTimeInfo},
      stopRequest_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      stopped_(CreateEventW(nullptr, FALSE, FALSE, nullptr))
{
    activeHost = this;
}

CAsioHost::~CAsioHost()
{
    Unload();
    CAsioHost* self = this;
    activeHost.compare_exchange_strong(self, nullptr);
}

std::wstring CAsioHost::PreferredSizeKeyPath()
{
    return std::wstring(L"Software\\ASIO\\") + kDriverName + L"\\" + HostName() + L"\\Parameters";
}

DriverLoad CAsioHost::LoadDriver(long preferred, std::wstring& hardwareText)
{
    hardwareText.clear();
    Unload();

    if (preferred != -1) {
        // Only a key the driver made earlier is written to; the driver reads it when it initialises.
        // The driver's settings are in the 64-bit registry view at either bitness.
        const RegKey key =
            RegKey::Open(HKEY_LOCAL_MACHINE, PreferredSizeKeyPath().c_str(), KEY_SET_VALUE | KEY_WOW64_64KEY);
        const DWORD value = static_cast<DWORD>(preferred);
        if (key)
            RegSetValueExW(key.get(), kPreferredSizeValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                           sizeof(value));
    }

    if (FAILED(factory_(driver_.Put())) || !driver_) {
        driver_.Reset();
        return DriverLoad::Failed;
    }
    if (driver_->init(dialog_) != ASIOTrue) {
        driver_.Reset();
        return DriverLoad::Failed;
    }
    return QueryHardware(hardwareText);
}

DriverLoad CAsioHost::QueryHardware(std::wstring& hardwareText)
{
    // The driver writes its hardware description as UTF-16 text over the buffer-info array.
    alignas(ASIOBufferInfo) wchar_t text[kHardwareTextUnits] = {};
    driver_->createBuffers(reinterpret_cast<ASIOBufferInfo*>(text), kHardwareQueryMarker, kHardwareQueryMarker,
                           nullptr);
    const std::wstring reply(text, wcsnlen(text, kHardwareTextUnits));
    if (IsNoHardwareReply(reply)) return DriverLoad::NoHardware;
    hardwareText = reply;
    return DriverLoad::Hardware;
}

long CAsioHost::DriverPreferredBufferSize() const
{
    if (!driver_) return 0;
    long minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    return driver_->getBufferSize(&minSize, &maxSize, &preferred, &granularity) == ASE_OK ? preferred : 0;
}

void CAsioHost::ReadChannels()
{
    inputCount_ = outputCount_ = 0;
    if (!driver_) return;
    long inputs = 0, outputs = 0;
    if (driver_->getChannels(&inputs, &outputs) != ASE_OK) return;
    // The host has rows for the first 16 channels of each direction.
    inputCount_ = std::clamp<long>(inputs, 0, kHostMaxChannels);
    outputCount_ = std::clamp<long>(outputs, 0, kHostMaxChannels);
    for (int i = 0; i < inputCount_; ++i) ReadChannel(inputs_[i], i, true);
    for (int j = 0; j < outputCount_; ++j) ReadChannel(outputs_[j], j, false);
}

void CAsioHost::ReadChannel(HostChannel& channel, long number, bool input)
{
    channel.info = {};
    channel.info.channel = number;
    channel.info.isInput = input ? ASIOTrue : ASIOFalse;
    driver_->getChannelInfo(&channel.info);
    channel.displayName = DisplayName(channel.info.name);
}

void CAsioHost::StartAsio(int sampleRate, long bufferSize)
{
    if (!driver_) return;
    // The engine's blocks hold at most kHostMaxBufferFrames frames.
    if (bufferSize < 1 || bufferSize > kHostMaxBufferFrames) {
        lastResult_ = ASE_InvalidParameter;
        return;
    }
    StopAsio();

    sampleRate_ = sampleRate == 48000 ? 48000.0 : 44100.0;
    lastResult_ = driver_->setSampleRate(sampleRate_);
    if (lastResult_ != ASE_OK) {
        ASIOSampleRate running = 0;
        if (driver_->getSampleRate(&running) == ASE_OK && running > 0) sampleRate_ = running;
    }
    buffers_.outputReadySupported = driver_->outputReady() == ASE_OK;
    CreateBuffers(bufferSize);
    // The stream is started whatever the buffers gave, as the driver decides what it can run.
    lastResult_ = driver_->start();

    ResetEvent(stopRequest_.get());
    ResetEvent(stopped_.get());
    runThread_.Reset(CreateThread(nullptr, 0, &RunThread, this, 0, nullptr));
    if (!runThread_.valid()) StopDriver();
}

void CAsioHost::CreateBuffers(long bufferSize)
{
    buffers_.bufferSize = bufferSize;
    buffers_.inputBuffers = inputCount_;
    buffers_.outputBuffers = outputCount_;
    const int total = inputCount_ + outputCount_;
    for (int k = 0; k < total; ++k) {
        const bool input = k < inputCount_;
        buffers_.infos[k] = {input ? ASIOTrue : ASIOFalse, input ? k : k - inputCount_, {nullptr, nullptr}};
    }
    lastResult_ = driver_->createBuffers(buffers_.infos, total, bufferSize, &callbacks_);
    if (lastResult_ != ASE_OK) {
        // No buffers exist: nothing for a buffer switch to touch.
        buffers_.inputBuffers = buffers_.outputBuffers = 0;
        return;
    }
    for (int k = 0; k < total; ++k) {
        ASIOChannelInfo& info = buffers_.channels[k];
        info = {};
        info.channel = buffers_.infos[k].channelNum;
        info.isInput = buffers_.infos[k].isInput;
        lastResult_ = driver_->getChannelInfo(&info);
        if (lastResult_ != ASE_OK) {
            // Without each buffer's type its size is unknown: a switch must not touch them.
            buffers_.inputBuffers = buffers_.outputBuffers = 0;
            return;
        }
    }
    lastResult_ = driver_->getLatencies(&buffers_.inputLatency, &buffers_.outputLatency);
}

DWORD WINAPI CAsioHost::RunThread(void* host)
{
    CAsioHost& self = *static_cast<CAsioHost*>(host);
    WaitForSingleObject(self.stopRequest_.get(), INFINITE);
    SetEvent(self.stopped_.get());
    return kRunThreadExitCode;
}

void CAsioHost::StopAsio()
{
    if (!runThread_.valid()) return;
    SetEvent(stopRequest_.get());
    WaitForSingleObject(stopped_.get(), kRunThreadStopWaitMs);
    runThread_.Reset();
    StopDriver();
}

void CAsioHost::StopDriver()
{
    lastResult_ = driver_->stop();
    lastResult_ = driver_->disposeBuffers();
}

bool CAsioHost::Running() const { return runThread_.valid(); }

void CAsioHost::Unload()
{
    StopAsio();
    ReleaseDriver();
}

void CAsioHost::ReleaseDriver()
{
    driver_.Reset();
    // The channel tables describe the loaded driver only.
    inputCount_ = outputCount_ = 0;
}

void CAsioHost::OpenControlPanel()
{
    if (driver_) driver_->controlPanel();
}

long CAsioHost::AsioMessage(long selector, long value)
{
    switch (selector) {
    case kAsioSelectorSupported:
        switch (value) {
        case kAsioEngineVersion:
        case kAsioResetRequest:
        case kAsioResyncRequest:
        case kAsioLatenciesChanged:
        case kAsioSupportsTimeInfo:
        case kAsioSupportsTimeCode:
        case kAsioSupportsInputMonitor:
            return 1;
        default:
            return 0;
        }
    case kAsioEngineVersion:
        return 2;
    case kAsioResetRequest:
        // The restart runs later on the dialog's thread, never inside the driver's callback.
        PostMessageW(dialog_, kHostResetMessage, 0, 0);
        return 1;
    case kAsioResyncRequest:
    case kAsioLatenciesChanged:
    case kAsioSupportsTimeInfo:
        return 1;
    default:
        return 0;
    }
}

void CAsioHost::OnBufferSwitch(long index, ASIOBool processNow)
{
    CAsioHost* host = activeHost;
    if (!host) return;
    ASIOTime time{};
    if (host->driver_->getSamplePosition(&time.timeInfo.samplePosition, &time.timeInfo.systemTime) == ASE_OK)
        time.timeInfo.flags = kSystemTimeValid | kSamplePositionValid;
    OnBufferSwitchTimeInfo(&time, index, processNow);
}

ASIOTime* CAsioHost::OnBufferSwitchTimeInfo(ASIOTime* time, long index, ASIOBool processNow)
{
    CAsioHost* host = activeHost;
    // A double buffer has two halves; any other index would address memory the driver never gave.
    if (!host || (index != 0 && index != 1)) return nullptr;
    host->processor_.ProcessBlock(host->buffers_, index);
    if (host->buffers_.outputReadySupported) host->driver_->outputReady();
    return nullptr;
}

void CAsioHost::OnSampleRateDidChange(ASIOSampleRate) {}

long CAsioHost::OnAsioMessage(long selector, long value, void*, double*)
{
    CAsioHost* host = activeHost;
    return host ? host->AsioMessage(selector, value) : 0;
}
