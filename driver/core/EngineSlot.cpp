#include "EngineSlot.h"

#include "ClockFollower.h"
#include "HostSamples.h"
#include "Settings.h"

#include "../devices/DeviceAccess.h"
#include "../devices/EndpointBackend.h"
#include "../devices/KsNodeLevels.h"
#include "../devices/StreamBackend.h"

#include <algorithm>
#include <cstring>

int CaptureStreamChannels(const _sPort& port)
{
    return port.inputFormat.channels == 2 || port.input.instrumentPort != 0 ? 2 : port.inputFormat.channels;
}

namespace {

// What the engine asks of each direction's stream.
_sStreamParams CaptureParams(const _sPort& p, const _sSettings& settings)
{
    _sStreamParams capture;
    capture.sampleRate = static_cast<int32_t>(settings.sampleRate);
    capture.channels = CaptureStreamChannels(p);
    capture.bitsPerSample = 16;
    capture.framesPerPacket = settings.captureFrames;
    capture.packetCount = std::min(settings.capturePacketCount, 64);
    capture.threadPriority = settings.threadPriority;
    capture.pinPriorityClass = settings.inputPriority;
    capture.endpointChannels = p.inputFormat.endpointChannels;
    capture.firstChannel = p.inputFormat.firstChannel;
    return capture;
}

_sStreamParams RenderParams(const _sPort& p, const _sSettings& settings)
{
    _sStreamParams render;
    render.sampleRate = static_cast<int32_t>(settings.sampleRate);
    render.channels = p.outputFormat.channels;
    render.bitsPerSample = 16;
    render.framesPerPacket = settings.renderFrames;
    render.packetCount = std::min(settings.renderPacketCount, 64);
    render.threadPriority = settings.threadPriority;
    render.pinPriorityClass = settings.outputPriority;
    render.volumeLeft = p.output.level[0];
    render.volumeRight = p.output.level[1];
    render.endpointChannels = p.outputFormat.endpointChannels;
    render.firstChannel = p.outputFormat.firstChannel;
    return render;
}

int LatencyOf(const EndpointStreamInfo& info) { return info.mode == EndpointStreamMode::None ? -1 : info.latencyFrames; }
// A shared stream's packets are its periods, an exclusive one's its buffer.
int PacketOf(const EndpointStreamInfo& info)
{
    return info.mode == EndpointStreamMode::Shared      ? info.periodFrames
           : info.mode == EndpointStreamMode::Exclusive ? info.bufferFrames
                                                        : 0;
}

}  // namespace

CEngineSlot::CEngineSlot() = default;
CEngineSlot::~CEngineSlot()
{
    Stop(kStopWaitMs);
    AbandonStrandedAccess();
}

bool CEngineSlot::StillStranded()
{
    if (!stranded_) return false;
    IStreamBackend* backend = streams();
    if (backend) stranded_ = !backend->Stop(0);
    return stranded_;
}

void CEngineSlot::AbandonStrandedAccess()
{
    // The thread returns into its stream records one day; a leak is the only safe end for them.
    if (StillStranded()) static_cast<void>(deviceAccess_.release());
    stranded_ = false;
}

void CEngineSlot::Reset()
{
    port = -1;
    monoMix = instrument = monoToStereo = stereoCapture = false;
    capturing = rendering = false;
    discardCapture = false;
    follower_ = nullptr;
    hostInput[0] = hostInput[1] = nullptr;
    hostOutput[0] = hostOutput[1] = nullptr;
    activeInputs = activeOutputs = 0;
    captureHalf_ = 0;
    std::fill(std::begin(workLeft_), std::end(workLeft_), int16_t(0));
    std::fill(std::begin(workRight_), std::end(workRight_), int16_t(0));
}

int CEngineSlot::Start(IDevicePlatform& platform, const _sPort& p, const _sSettings& settings,
                       CCaptureAggregator* aggregator, HANDLE startEvent, CClockFollower* follower)
{
    captureHalf_ = 0;
    if (port < 0) return 0;
    for (std::atomic<int>& request : dcRequest_) request.store(kNoDcRequest);
    if (!discardCapture) {
        for (int c = 0; c < 2; ++c) filters[c].EnableDc(p.input.dcRemoval[c] != 0);
    }
    softwareInputLevel_ = !p.hasInputVolume;
    for (int c = 0; c < 2; ++c) filters[c].SetGain(softwareInputLevel_ ? p.input.level[c] : 100);
    monoMix = p.input.monoMix != 0;
    instrument = p.input.instrumentPort != 0;
    monoToStereo = p.inputFormat.channels == 1 && p.input.monoToStereo;
    stereoCapture = CaptureStreamChannels(p) == 2;

    activeInputs = discardCapture ? 1 : (hostInput[0] != nullptr) + (hostInput[1] != nullptr);
    activeOutputs = (hostOutput[0] != nullptr) + (hostOutput[1] != nullptr);
    if (activeInputs == 0 && activeOutputs == 0) {
        capturing = rendering = false;
        return 1;
    }

    _sStreamParams capture = CaptureParams(p, settings);
    capture.captureSink = aggregator;
    _sStreamParams render = RenderParams(p, settings);
    render.captureSink = aggregator;

    AbandonStrandedAccess();
    AccessFor(platform, settings);
    IStreamBackend* backend = streams();
    if (!backend) return 0;

    const bool inputs = activeInputs > 0;
    const bool outputs = activeOutputs > 0 && render.channels > 0;
    capturing = rendering = false;
    follower_ = inputs || outputs ? follower : nullptr;
    if (follower_ && inputs) {
        capture.captureSink = follower_;
        follower_->SetRenderTarget(outputs ? backend : nullptr);
    } else if (follower_) {
        render.renderSource = follower_;
    }
    if (!backend->OpenAndStart(inputs ? p.capturePath : std::wstring(), capture,
                               outputs ? p.renderPath : std::wstring(), render, startEvent))
        return 0;
    capturing = inputs;
    rendering = outputs;
    if (!inputs || !p.hasInputVolume || !deviceAccess_->backendSelected()) return 1;
    // A chosen device's endpoint without a volume takes its level as a gain here instead.
    const bool endpointLevel = deviceAccess_->endpointBackend()->SetInputVolume(p.input.level[0], p.input.level[1]);
    if (!endpointLevel && p.otherDevice) {
        softwareInputLevel_ = true;
        for (int c = 0; c < 2; ++c) filters[c].SetGain(p.input.level[c]);
    }
    return 1;
}

CDeviceAccess& CEngineSlot::AccessFor(IDevicePlatform& platform, const _sSettings& settings)
{
    if (!deviceAccess_ || deviceShareMode_ != settings.endpointShareMode) {
        deviceAccess_.reset();
        deviceAccess_ = std::make_unique<CDeviceAccess>(platform, settings.endpointShareMode);
        deviceShareMode_ = settings.endpointShareMode;
    }
    deviceAccess_->useEndpointBackend = settings.useEndpointBackend;
    return *deviceAccess_;
}

StreamLatencies CEngineSlot::ProbeLatencies(IDevicePlatform& platform, const _sPort& p, const _sSettings& settings,
                                            bool inputs, bool outputs)
{
    AbandonStrandedAccess();
    CDeviceAccess& access = AccessFor(platform, settings);
    if (!access.backendSelected()) return {};
    EndpointStreamInfo capture, render;
    if (!access.endpointBackend()->Probe(inputs ? p.capturePath : std::wstring(),
                                         CaptureParams(p, settings),
                                         outputs ? p.renderPath : std::wstring(), RenderParams(p, settings), capture,
                                         render))
        return {};
    return {LatencyOf(capture), LatencyOf(render), PacketOf(capture)};
}

StreamLatencies CEngineSlot::Latencies() const
{
    if (!deviceAccess_ || !deviceAccess_->backendSelected()) return {};
    const CEndpointBackend& backend = *deviceAccess_->endpointBackend();
    return {capturing ? LatencyOf(backend.captureInfo()) : -1, rendering ? LatencyOf(backend.renderInfo()) : -1};
}

IStreamBackend* CEngineSlot::streams() const { return deviceAccess_ ? deviceAccess_->streamBackend() : nullptr; }

void CEngineSlot::RequestStop()
{
    IStreamBackend* backend = streams();
    if ((capturing || rendering) && port >= 0 && backend) backend->RequestStop();
}

int CEngineSlot::Stop(DWORD waitMs)
{
    bool ended = true;
    IStreamBackend* backend = streams();
    if ((capturing || rendering) && port >= 0 && backend) ended = backend->Stop(waitMs);
    if (!ended) stranded_ = true;
    Reset();
    return ended ? 1 : 0;
}

uint64_t CEngineSlot::FaultCount() const
{
    const IStreamBackend* backend = streams();
    const uint64_t handOvers = follower_ ? follower_->faultCount() : 0;
    return (capturing || rendering) && backend ? backend->faultCount() + handOvers : 0;
}

bool CEngineSlot::StreamsLost() const
{
    const IStreamBackend* backend = streams();
    return (capturing || rendering) && backend && backend->lost();
}

void CEngineSlot::DeliverCapture(const uint8_t* packet, int bytes, int sampleType, int frames, int meterIndex)
{
    if (activeInputs == 0 && activeOutputs == 0) return;
    TakeDcRequests();
    frames = std::min(frames, kWorkSamples);
    if (discardCapture) {
        std::fill_n(workLeft_, frames, int16_t(0));
        std::fill_n(workRight_, frames, int16_t(0));
    } else if (bytes > 0 && stereoCapture) {
        const int n = std::min(bytes / 4, kWorkSamples);
        const auto* samples = reinterpret_cast<const int16_t*>(packet);
        for (int i = 0; i < n; ++i) {
            workLeft_[i] = samples[2 * i];
            workRight_[i] = samples[2 * i + 1];
        }
        filters[0].Process(workLeft_, n);
        filters[1].Process(workRight_, n);
        if (monoMix) {
            for (int i = 0; i < n; ++i) {
                double sum = double(workLeft_[i]) + workRight_[i];
                sum = std::clamp(sum, -32760.0, 32760.0);
                workLeft_[i] = workRight_[i] = static_cast<int16_t>(sum);
            }
        }
    } else if (bytes > 0) {
        const int n = std::min(bytes / 2, kWorkSamples);
        memcpy(workLeft_, packet, size_t(n) * 2);
        filters[0].Process(workLeft_, n);
        memcpy(workRight_, workLeft_, size_t(n) * 2);
    }

    if (meterIndex >= 0) {
        meterLeft.Copy(meterIndex, workLeft_, frames * 2);
        if (stereoCapture || monoToStereo) meterRight.Copy(meterIndex, workRight_, frames * 2);
    }

    const int bytesPerSample = HostBytesPerSample(sampleType);
    const int16_t* work[2] = {workLeft_, workRight_};
    for (int c = 0; c < 2; ++c) {
        if (!hostInput[c]) continue;
        WriteHostSamples(sampleType, work[c], frames, hostInput[c] + size_t(captureHalf_) * frames * bytesPerSample);
    }
    captureHalf_ ^= 1;
}

void CEngineSlot::DeliverRender(const void* block, int bytes, int meterIndex)
{
    IStreamBackend* backend = rendering ? streams() : nullptr;
    if (!backend) return;
    if (meterIndex >= 0) meterRender.Copy(meterIndex, block, bytes);
    if (follower_)
        follower_->PushRender(block, bytes);
    else
        backend->DeliverRender(block, bytes);
}

void CEngineSlot::RequestDc(int channel, bool on)
{
    if (channel >= 0 && channel < 2) dcRequest_[channel].store(on ? 1 : 0);
}

void CEngineSlot::TakeDcRequests()
{
    for (int c = 0; c < 2; ++c) {
        const int request = dcRequest_[c].exchange(kNoDcRequest);
        if (request != kNoDcRequest && !discardCapture) filters[c].EnableDc(request != 0);
    }
}

int CEngineSlot::ApplyInputLevels(const _sPort& p, const CKnownDeviceTable& table, int left, int right)
{
    if (port < 0 || discardCapture || !capturing || !deviceAccess_) return 0;
    // Without a hardware input volume the level is a software gain.
    if (softwareInputLevel_) {
        filters[0].SetGain(left);
        filters[1].SetGain(right);
        return 1;
    }
    if (!deviceAccess_->backendSelected())
        return CKsNodeLevels::SetStreamingLevel(deviceAccess_->platform(), p.capturePath, true, left, right, table);
    return deviceAccess_->endpointBackend()->SetInputVolume(left, right) ? 1 : 0;
}

int CEngineSlot::ApplyOutputLevels(const _sPort& p, const CKnownDeviceTable& table, int left, int right)
{
    if (port < 0 || !rendering || !deviceAccess_) return 0;
    if (!deviceAccess_->backendSelected())
        return CKsNodeLevels::SetStreamingLevel(deviceAccess_->platform(), p.renderPath, false, left, right, table);
    return deviceAccess_->endpointBackend()->SetOutputVolume(left, right) ? 1 : 0;
}
