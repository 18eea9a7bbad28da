#include "FakeAsioDriver.h"

#include <veloran/DriverClassId.h>

#include <algorithm>
#include <cstring>
#include <thread>

namespace {

constexpr long kHardwareQuery = 12345;
constexpr size_t kHardwareBufferUnits = 4096 / sizeof(wchar_t);

void CopyName(char (&field)[32], const std::string& name)
{
    // Exactly 32 characters keep no terminator, as a careless driver would leave them.
    std::memset(field, 0, sizeof(field));
    std::memcpy(field, name.data(), std::min(name.size(), sizeof(field)));
}

}  // namespace

std::vector<std::string> CFakeAsioDriver::Calls() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
}

int CFakeAsioDriver::CountOf(const std::string& call) const
{
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int>(std::count(calls_.begin(), calls_.end(), call));
}

void CFakeAsioDriver::Log(const std::string& call)
{
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(call);
}

void* CFakeAsioDriver::Buffer(size_t k, long index) { return memory_.at(2 * k + index).data(); }

template <class Call>
bool CFakeAsioDriver::OnDriverThread(Call call)
{
    if (!callbacks) return false;
    std::thread thread(call);
    thread.join();
    return true;
}

bool CFakeAsioDriver::SwitchBuffers(long index)
{
    return OnDriverThread([this, index] { callbacks->bufferSwitch(index, ASIOTrue); });
}

bool CFakeAsioDriver::SwitchBuffersWithTimeInfo(long index)
{
    return OnDriverThread([this, index] {
        ASIOTime time{};
        callbacks->bufferSwitchTimeInfo(&time, index, ASIOTrue);
    });
}

bool CFakeAsioDriver::Message(long selector, long value, long& reply)
{
    return OnDriverThread([&] { reply = callbacks->asioMessage(selector, value, nullptr, nullptr); });
}

HRESULT STDMETHODCALLTYPE CFakeAsioDriver::QueryInterface(REFIID iid, void** object)
{
    if (!object) return E_POINTER;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, kVeloranDriverClsid)) {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    *object = static_cast<IASIO*>(this);
    return S_OK;
}

ULONG STDMETHODCALLTYPE CFakeAsioDriver::AddRef() { return static_cast<ULONG>(++references_); }

ULONG STDMETHODCALLTYPE CFakeAsioDriver::Release()
{
    // The test owns the object; a release past zero is recorded instead of freeing anything.
    long current = references_;
    do {
        if (current == 0) {
            overReleased_ = true;
            return 0;
        }
    } while (!references_.compare_exchange_weak(current, current - 1));
    return static_cast<ULONG>(current - 1);
}

ASIOBool ASIOMETHODCALLTYPE CFakeAsioDriver::init(void* sysHandle)
{
    Log("init");
    initHandle = sysHandle;
    return initResult;
}

// Never called by the host; logged so that a call shows up in the order checks.
void ASIOMETHODCALLTYPE CFakeAsioDriver::getDriverName(char* name) { Log("getDriverName"); std::strcpy(name, "Fake"); }

long ASIOMETHODCALLTYPE CFakeAsioDriver::getDriverVersion() { Log("getDriverVersion"); return 1; }

void ASIOMETHODCALLTYPE CFakeAsioDriver::getErrorMessage(char* string) { Log("getErrorMessage"); string[0] = 0; }

ASIOError ASIOMETHODCALLTYPE CFakeAsioDriver::start()
{
    Log("start");
    return callbacks ? ASE_OK : ASE_InvalidMode;
}

ASIOError ASIOMETHODCALLTYPE CFakeAsioDriver::stop() { Log("stop"); return ASE_OK; }

ASIOError ASIOMETHODCALLTYPE CFakeAsioDriver::getChannels(long* numInputChannels, long* numOutputChannels)
{
    Log("getChannels");
    *numInputChannels = static_cast<long>(inputNames.size());
    *numOutputChannels = static_cast<long>(outputNames.size());
    return channelsResult;
}

ASIOError ASIOMETHODCALLTYPE CFakeAsioDriver::getLatencies(long* inputLatency, long* outputLatency)
{
    Log("getLatencies");
    *inputLatency = createdSize + 11;
    *outputLatency = 2 * createdSize + 22;
    return ASE_OK;
}

ASIOError ASIOMETHODCALLTYPE CFakeAsioDriver::getBufferSize(long* minSize, long* maxSize, long* preferred,
                                                           long* granularity)
{
    Log("getBufferSize");
    *minSize = 64;
    *maxSize = 2048;
    *preferred = preferredSize;
    *granularity = -1;
    return bufferSizeResult;
}

ASIOError ASIOMETHODCALLTYPE CFakeAsioDriver::canSampleRate(ASIOSampleRate) { Log("canSampleRate"); return ASE_OK; }

ASIOError ASIOMETHODCALLTYPE CFakeAsioDriver::getSampleRate(ASIOSampleRate* rate)
{
    Log("getSampleRate");
    *rate = sampleRate;
    return ASE_OK;
}

ASIOError ASIOMETHODCALLTYPE CFakeAsioDriver::setSampleRate(ASIOSampleRate rate)
{
    Log("setSampleRate");
    if (setSampleRateResult != ASE_OK) return setSampleRateResult;
    sampleRate = rate;
    return ASE_OK;
}

ASIOError ASIOMETHODCALLTYPE CFakeAsioDriver::getClockSources(ASIOClockSource*, long* numSources)
{
    Log("getClockSources");
    *numSources = 0;
    return ASE_OK;
}

ASIOError ASIOMETHODCALLTYPE CFakeAsioDriver::setClockSource(long) { Log("setClockSource"); return ASE_OK; }

ASIOError ASIOMETHODCALLTYPE CFakeAsioDriver::getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp)
{
    Log("getSamplePosition");
    *position = {0, 4096};
    *stamp = {0, 123456};
    return samplePositionResult;
}

ASIOError ASIOMETHODCALLTYPE CFakeAsioDriver::getChannelInfo(ASIOChannelInfo* info)
{
    Log("getChannelInfo");
    const std::vector<std::string>& names = info->isInput ? inputNames : outputNames;
    if (info->channel < 0 || info->channel >= static_cast<long>(names.size())) return ASE_InvalidParameter;
    if (!created.empty() && channelInfoResult != ASE_OK) return channelInfoResult;
    info->isActive = std::any_of(created.begin(), created.end(), [info](const ASIOBufferInfo& buffer) {
        return buffer.isInput == info->isInput && buffer.channelNum == info->channel;
    });
    info->channelGroup = 0;
    info->type = sampleType;
    CopyName(info->name, names[info->channel]);
    return ASE_OK;
}

ASIOError ASIOMETHODCALLTYPE CFakeAsioDriver::createBuffers(ASIOBufferInfo* infos, long numChannels, long bufferSize,
                                                           ASIOCallbacks* hostCallbacks)
{
    if (numChannels == kHardwareQuery && bufferSize == kHardwareQuery && !hostCallbacks) {
        Log("hardwareQuery");
        wchar_t* text = reinterpret_cast<wchar_t*>(infos);
        if (unterminatedHardwareText)
            std::fill_n(text, kHardwareBufferUnits, L'x');
        else
            std::wcscpy(text, hardwareText.c_str());
        return ASE_OK;
    }
    Log("createBuffers");
    if (createBuffersResult != ASE_OK) return createBuffersResult;
    const size_t bytes = static_cast<size_t>(bufferSize) * (sampleType == ASIOSTInt16LSB ? 2 : 4);
    created.assign(infos, infos + numChannels);
    createdSize = bufferSize;
    callbacks = hostCallbacks;
    memory_.assign(2 * static_cast<size_t>(numChannels), std::vector<char>(bytes));
    for (long k = 0; k < numChannels; ++k) {
        infos[k].buffers[0] = Buffer(k, 0);
        infos[k].buffers[1] = Buffer(k, 1);
    }
    return ASE_OK;
}

ASIOError ASIOMETHODCALLTYPE CFakeAsioDriver::disposeBuffers()
{
    Log("disposeBuffers");
    callbacks = nullptr;
    return ASE_OK;
}

ASIOError ASIOMETHODCALLTYPE CFakeAsioDriver::controlPanel() { Log("controlPanel"); return ASE_OK; }

ASIOError ASIOMETHODCALLTYPE CFakeAsioDriver::future(long, void*) { Log("future"); return ASE_InvalidParameter; }

ASIOError ASIOMETHODCALLTYPE CFakeAsioDriver::outputReady() { Log("outputReady"); return outputReadyResult; }
