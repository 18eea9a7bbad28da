#include "AudioClientInitializer.h"

#include "AudioClient.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr DWORD kSharedFlags =
    AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;
constexpr int kNtSixFrames = 192;

}  // namespace

CAudioClientInitializer::CAudioClientInitializer(IMMDevice* device, EDataFlow flow, const WAVEFORMATEXTENSIBLE& format,
                                                 int framesPerPacket, bool ntSixMode)
    : device_(device), flow_(flow), format_(format), framesPerPacket_(framesPerPacket), ntSixMode_(ntSixMode),
      rate_(int(format.Format.nSamplesPerSec))
{
}

int CAudioClientInitializer::FramesCovering(REFERENCE_TIME period) const
{
    return int((int64_t(std::max<REFERENCE_TIME>(period, 0)) * rate_ + 9999999) / 10000000);
}

HRESULT CAudioClientInitializer::Exclusive(ComPtr<IAudioClient>& client, REFERENCE_TIME defaultPeriod,
                                           REFERENCE_TIME minimumPeriod, bool& reinitialised) const
{
    auto initialize = [&](int frames) {
        const REFERENCE_TIME duration = Duration(frames, rate_);
        return client->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, duration, duration,
                                  &format_.Format, nullptr);
    };
    // A client answers Initialize once; every retry needs a fresh one.
    auto renew = [&]() {
        client.Reset();
        return ActivateAudioClient(device_, client);
    };
    // After an alignment refusal the client reports the next aligned size, which is taken as it
    // is: only the device knows its alignment.
    auto reportedFrames = [&]() {
        UINT32 frames = 0;
        return FAILED(client->GetBufferSize(&frames)) ? 0 : int(frames);
    };

    // Never shorter than the device's minimum period, which it would refuse.
    const int shortest = FramesCovering(minimumPeriod);
    HRESULT hr = initialize(std::max(framesPerPacket_, shortest));
    reinitialised = false;
    if (SUCCEEDED(hr) && !ntSixMode_) return hr;

    int retry = std::max(framesPerPacket_, shortest);
    if (ntSixMode_) {
        retry = std::max(kNtSixFrames, shortest);
    } else if (hr == AUDCLNT_E_INVALID_DEVICE_PERIOD) {
        retry = FramesCovering(defaultPeriod);  // the period the device runs by default
    } else if (hr == AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED) {
        retry = reportedFrames();
        if (retry == 0) return hr;
    }
    reinitialised = true;
    if (const HRESULT activated = renew(); FAILED(activated)) return activated;
    hr = initialize(retry);
    if (hr != AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED) return hr;

    const int aligned = reportedFrames();
    if (aligned == 0) return hr;
    if (const HRESULT activated = renew(); FAILED(activated)) return activated;
    return initialize(aligned);
}

HRESULT CAudioClientInitializer::Shared(IAudioClient* client, REFERENCE_TIME defaultPeriod) const
{
    // Room for one packet plus engine periods: render, two, so that a packet that arrives just
    // after an event still fits when the next one comes; capture, four, so that a sink slower
    // than a period for a while does not lose data.
    const int periods = flow_ == eCapture ? 4 : 2;
    const REFERENCE_TIME duration = Duration(framesPerPacket_, rate_) + periods * std::max<REFERENCE_TIME>(defaultPeriod, 0);
    return client->Initialize(AUDCLNT_SHAREMODE_SHARED, kSharedFlags, duration, 0, &format_.Format, nullptr);
}

bool CAudioClientInitializer::RefusesExclusive(HRESULT hr)
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
