#include "EndpointStream.h"

#include "AudioClient.h"
#include "AudioClientInitializer.h"
#include "MmcssRegistration.h"

#include <core/OtherDevices.h>
#include <core/PacketFifo.h>

#include <algorithm>
#include <cstring>
#include <new>

CEndpointStream::CEndpointStream(EDataFlow flow, IDevicePlatform& platform, int shareMode, bool ntSixMode,
                                 bool tenOrLater, bool muteMonoAtZero)
    : flow_(flow), tenOrLater_(tenOrLater), levels_(muteMonoAtZero), endpoints_(platform), shareMode_(shareMode),
      ntSixMode_(ntSixMode)
{
}

bool CEndpointStream::CreateEvents() { return thread_.CreateEvents(); }

void CEndpointStream::Reset(const std::wstring& path, const _sStreamParams& params, HANDLE startEvent)
{
    thread_.Arm(startEvent);
    running_ = 0;
    devicePath_ = path;
    params_ = params;
    mode_ = EndpointStreamMode::None;
    bufferFrames_ = 0;
    periodFrames_ = 0;
    streamLatencyFrames_ = 0;
    frames_ = 0;
    discontinuities_ = 0;
    underruns_ = 0;
    drops_ = 0;
    refusal_ = S_OK;
    ResetDirection();
}

bool CEndpointStream::Start() { return thread_.Launch(ThreadProc, this, params_.threadPriority); }

void CEndpointStream::AskToStop()
{
    if (thread_.alive()) thread_.RequestStop();
}

bool CEndpointStream::Stop(DWORD waitMs)
{
    AskToStop();
    if (!thread_.Join(waitMs)) return false;
    running_ = 0;
    return true;
}

void CEndpointStream::Release()
{
    levels_.Detach();
    ReleaseDirection();
    client_.Reset();
    device_.Reset();
    audioEvent_.Reset();
}

uint64_t CEndpointStream::faults() const
{
    return uint64_t(discontinuities_.load(std::memory_order_relaxed) + underruns_.load(std::memory_order_relaxed) +
                    drops_.load(std::memory_order_relaxed));
}

EndpointStreamInfo CEndpointStream::Info() const
{
    EndpointStreamInfo info;
    info.mode = mode_;
    info.bufferFrames = int(bufferFrames_);
    info.periodFrames = periodFrames_;
    info.streamLatencyFrames = streamLatencyFrames_;
    info.frames = frames_.load(std::memory_order_relaxed);
    info.discontinuities = discontinuities_.load(std::memory_order_relaxed);
    info.underruns = underruns_.load(std::memory_order_relaxed);
    info.drops = drops_.load(std::memory_order_relaxed);
    if (mode_ != EndpointStreamMode::None) AddLatency(info);
    return info;
}

bool CEndpointStream::Probe(const std::wstring& path, const _sStreamParams& params, EndpointStreamInfo& info)
{
    if (thread_.alive()) return false;
    Reset(path, params, nullptr);
    const bool opened = OpenClient();
    info = Info();
    Release();
    return opened;
}

bool CEndpointStream::selectsChannels() const { return DeviceChannels(params_) != params_.channels; }

void CEndpointStream::TakeEngineChannels(const uint8_t* device, int frames, uint8_t* engine) const
{
    const int sample = params_.bitsPerSample / 8;
    const size_t taken = size_t(params_.channels) * sample;
    const uint8_t* from = device + size_t(params_.firstChannel) * sample;
    for (int f = 0; f < frames; ++f, from += blockAlign_, engine += taken) std::memcpy(engine, from, taken);
}

void CEndpointStream::PlaceEngineChannels(const uint8_t* engine, int frames, uint8_t* device) const
{
    const int sample = params_.bitsPerSample / 8;
    const size_t placed = size_t(params_.channels) * sample;
    const size_t first = size_t(params_.firstChannel) * sample;
    std::memset(device, 0, size_t(frames) * blockAlign_);
    for (int f = 0; f < frames; ++f, engine += placed)
        std::memcpy(device + size_t(f) * blockAlign_ + first, engine, placed);
}

std::unique_ptr<CPacketFifo> CEndpointStream::NewAdapter(int inputPacket, int chunk)
{
    std::unique_ptr<CPacketFifo> adapter(new (std::nothrow) CPacketFifo(inputPacket, chunk, nullptr));
    if (!adapter || !adapter->valid()) return nullptr;
    return adapter;
}

DWORD WINAPI CEndpointStream::ThreadProc(void* context)
{
    auto& stream = *static_cast<CEndpointStream*>(context);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        const CMmcssRegistration mmcss;
        stream.Run();
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

void CEndpointStream::Run()
{
    const bool prepared = Prepare();
    thread_.Ready(prepared);
    if (!prepared) return;  // the starter gives up
    if (thread_.WaitForStart() && SUCCEEDED(client_->Start())) {
        running_ = 1;
        Loop();
        running_ = 0;
        client_->Stop();
        thread_.Ended();
    }
    Finish();
}

bool CEndpointStream::Prepare()
{
    if (!OpenClient()) return false;
    audioEvent_.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!audioEvent_.valid() || FAILED(client_->SetEventHandle(audioEvent_.get()))) return false;
    return PrepareDirection(reinitialised_);
}

bool CEndpointStream::OpenClient()
{
    const _sStreamParams& params = params_;
    const int deviceChannels = DeviceChannels(params);
    if (params.sampleRate < 8000 || params.sampleRate > 384000 || params.channels < 1 || params.channels > 2 ||
        deviceChannels > kMaxEndpointChannels || params.firstChannel < 0 ||
        params.firstChannel + params.channels > deviceChannels ||
        (params.bitsPerSample != 16 && params.bitsPerSample != 24 && params.bitsPerSample != 32) ||
        params.framesPerPacket <= 0 || params.framesPerPacket > 65536)
        return false;
    blockAlign_ = deviceChannels * params.bitsPerSample / 8;
    nominalBytes_ = params.framesPerPacket * blockAlign_;
    if (!AcceptsParams()) return false;

    std::wstring name;
    if (!endpoints_.Find(flow_, devicePath_, device_, &name)) return false;
    levels_.Attach(device_, name, params.firstChannel);
    format_ = MakePcmFormat(params.sampleRate, deviceChannels, params.bitsPerSample);

    ComPtr<IAudioClient> client;
    if (!ChooseMode(client, reinitialised_)) return false;
    client_ = client;

    UINT32 frames = 0;
    if (FAILED(client->GetBufferSize(&frames)) || frames == 0) return false;
    bufferFrames_ = frames;
    periodFrames_ = mode_ == EndpointStreamMode::Exclusive ? int(frames)
                                                           : std::max(1, FramesOf(periods_[0], params.sampleRate));
    REFERENCE_TIME latency = 0;
    streamLatencyFrames_ = SUCCEEDED(client->GetStreamLatency(&latency)) ? FramesOf(latency, params.sampleRate) : 0;
    return true;
}

bool CEndpointStream::ChooseMode(ComPtr<IAudioClient>& client, bool& reinitialised)
{
    const CAudioClientInitializer initializer(device_.Get(), flow_, format_, params_.framesPerPacket, ntSixMode_);
    auto activate = [&]() {
        return SUCCEEDED(ActivateAudioClient(device_.Get(), client)) &&
               SUCCEEDED(client->GetDevicePeriod(&periods_[0], &periods_[1]));
    };
    if (shareMode_ != kEndpointSharedOnly) {
        ComPtr<IAudioClient> test;
        if (FAILED(ActivateAudioClient(device_.Get(), test))) return false;
        HRESULT hr = test->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &format_.Format, nullptr);
        test.Reset();
        if (hr == S_OK) {
            BeforeExclusive(device_.Get(), format_);
            if (!activate()) return false;
            hr = initializer.Exclusive(client, periods_[0], periods_[1], reinitialised);
            if (SUCCEEDED(hr)) {
                mode_ = EndpointStreamMode::Exclusive;
                return true;
            }
        }
        if (shareMode_ == kEndpointExclusiveOnly || !CAudioClientInitializer::RefusesExclusive(hr)) {
            refusal_ = hr;
            return false;
        }
    }

    reinitialised = false;
    client.Reset();
    if (!activate() || FAILED(initializer.Shared(client.Get(), periods_[0]))) return false;
    mode_ = EndpointStreamMode::Shared;
    return true;
}

bool CEndpointStream::NextEvent()
{
    const HANDLE waits[2] = {thread_.stopEvent(), audioEvent_.get()};
    for (;;) {
        const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, kEventWaitMs);
        if (stopRequested()) return false;
        if (woken == WAIT_OBJECT_0 + 1) return true;
        UINT32 padding = 0;
        if (woken != WAIT_TIMEOUT || client_->GetCurrentPadding(&padding) == AUDCLNT_E_DEVICE_INVALIDATED)
            return false;
    }
}
