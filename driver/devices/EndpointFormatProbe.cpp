#include "EndpointFormatProbe.h"

#include "AudioClient.h"
#include "EndpointStreamInfo.h"

#include <core/OtherDevices.h>

#include <algorithm>

bool CEndpointFormatProbe::Probe(EDataFlow flow, const std::wstring& path, EndpointFormat& format) const
{
    format = EndpointFormat{};
    ComPtr<IMMDevice> device;
    ComPtr<IAudioClient> client;
    if (!endpoints_.Find(flow, path, device) || FAILED(ActivateAudioClient(device.Get(), client))) return false;
    const bool shared = shareMode_ != kEndpointExclusiveOnly;
    if (shareMode_ != kEndpointSharedOnly && ProbeExclusive(client.Get(), format)) {
        // Exclusive only with all of a wide endpoint's channels: a pair alone may still stream shared.
        EndpointFormat pair;
        if (format.channels == 0 && shared && ProbeShared(client.Get(), pair)) format = pair;
        return true;
    }
    return shared && ProbeShared(client.Get(), format);
}

namespace {

// The channels of the audio engine's mix format, the endpoint's own; 0 when it has none.
int MixChannels(IAudioClient* client)
{
    WAVEFORMATEX* mix = nullptr;
    if (FAILED(client->GetMixFormat(&mix)) || !mix) return 0;
    const int channels = mix->nChannels;
    CoTaskMemFree(mix);
    return channels;
}

// An endpoint of more than two channels, whose pairs are taken from a stream of them all.
int WideChannels(int own) { return own > 2 && own <= kMaxEndpointChannels ? own : 0; }

}  // namespace

// One and two channels, and an endpoint of more channels with all of them, which an exclusive
// device usually demands.
bool CEndpointFormatProbe::ProbeExclusive(IAudioClient* client, EndpointFormat& format) const
{
    const int wide = WideChannels(MixChannels(client));
    bool accepted = false, rate48 = false, stereo = false, mono = false, wideTaken = false, pair24 = false;
    for (int bits : {16, 24}) {
        if (bits == 24 && !tenOrLater_) break;
        for (int rate : {44100, 48000}) {
            for (int channels : {1, 2, wide}) {
                if (channels == 0) continue;
                const WAVEFORMATEXTENSIBLE candidate = MakePcmFormat(rate, channels, bits);
                if (client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &candidate.Format, nullptr) != S_OK)
                    continue;
                REFERENCE_TIME periods[2] = {};
                client->GetDevicePeriod(&periods[0], &periods[1]);
                accepted = true;
                rate48 |= rate == 48000;
                mono |= channels == 1;
                stereo |= channels == 2;
                wideTaken |= channels == wide;
                pair24 |= channels > 1 && bits == 24;
            }
        }
    }
    if (!accepted) return false;
    format = EndpointFormat{44100, rate48 ? 48000 : 44100, 16, pair24 ? 24 : 16, stereo ? 2 : mono ? 1 : 0,
                            wideTaken ? wide : 0};
    return true;
}

// A shared stream asks the engine to convert, so it takes the driver's 16-bit formats at both
// rates; the channels follow the engine's mix format, up to stereo, and an endpoint of more gives
// its count, since the engine would mix them down rather than give a pair.
bool CEndpointFormatProbe::ProbeShared(IAudioClient* client, EndpointFormat& format)
{
    const int own = MixChannels(client);
    if (own < 1) return false;
    format = EndpointFormat{44100, 48000, 16, 16, std::min(own, 2), WideChannels(own)};
    return true;
}
