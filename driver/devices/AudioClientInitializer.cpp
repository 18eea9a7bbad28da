#include "AudioClientInitializer.h"

#include "AudioClient.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr DWORD kSharedFlags =
    AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;
constexpr int kAlignmentBytes = 128;
constexpr int kFallbackFrames = 192;

}  // namespace

CAudioClientInitializer::CAudioClientInitializer(IMMDevice* device, EDataFlow flow, const WAVEFORMATEXTENSIBLE& format,
                                                 int framesPerPacket, bool ntSixMode)
    : device_(device), flow_(flow), format_(format), framesPerPacket_(framesPerPacket), ntSixMode_(ntSixMode),
      rate_(int(format.Format.nSamplesPerSec)), blockAlign_(format.Format.nBlockAlign)
{
}

// frames rounded up so that the buffer's bytes are a multiple of 128.
int CAudioClientInitializer::Aligned(int frames) const
{
    const int64_t bytes =
        (int64_t(frames) * blockAlign_ + kAlignmentBytes - 1) / kAlignmentBytes * kAlignmentBytes;
    return int(bytes / blockAlign_);
}

// About 192 frames, aligned: the size for periods the device rejects, and for every stream on NT 6.0.
int CAudioClientInitializer::FallbackFrames() const
{
    const REFERENCE_TIME duration = Duration(kFallbackFrames, rate_);
    return Aligned(int(double(duration) * rate_ / 1000 / 10000 + 0.5));
}

HRESULT CAudioClientInitializer::Exclusive(ComPtr<IAudioClient>& client, bool& reinitialised) const
{
    auto initialize = [&](REFERENCE_TIME duration) {
        return client->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, duration, duration,
                                  &format_.Format, nullptr);
    };
    // A client answers Initialize once; every retry needs a fresh one.
    auto renew = [&]() {
        client.Reset();
        return ActivateAudioClient(device_, client);
    };
    // After an alignment failure the client reports the next aligned size.
    auto reportedFrames = [&]() {
        UINT32 frames = 0;
        return FAILED(client->GetBufferSize(&frames)) ? 0 : int(frames);
    };

    const REFERENCE_TIME nominal = Duration(Aligned(framesPerPacket_), rate_);
    HRESULT hr = initialize(nominal);
    reinitialised = false;
    if (SUCCEEDED(hr) && !ntSixMode_) return hr;

    REFERENCE_TIME retry = nominal;
    if (ntSixMode_ || hr == AUDCLNT_E_INVALID_DEVICE_PERIOD) {
        retry = Duration(FallbackFrames(), rate_);
    } else if (hr == AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED) {
        const int frames = reportedFrames();
        if (frames == 0) return hr;
        retry = Duration(Aligned(frames), rate_);
    }
    reinitialised = true;
    if (const HRESULT activated = renew(); FAILED(activated)) return activated;
    hr = initialize(retry);
    if (hr != AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED) return hr;

    const int frames = reportedFrames();
    if (frames == 0) return hr;
    const REFERENCE_TIME last = flow_ == eCapture ? Duration(Aligned(frames), rate_) : Duration(frames, rate_);
    if (const HRESULT activated = renew(); FAILED(activated)) return activated;
    return initialize(last);
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
