#include "EndpointFormatProbe.h"

#include "AudioClient.h"
#include "EndpointStreamInfo.h"

#include <algorithm>

bool CEndpointFormatProbe::Probe(EDataFlow flow, const std::wstring& path, EndpointFormat& format) const
{
    format = EndpointFormat{};
    ComPtr<IMMDevice> device;
    ComPtr<IAudioClient> client;
    if (!endpoints_.Find(flow, path, device) || FAILED(ActivateAudioClient(device.Get(), client))) return false;
    if (shareMode_ != kEndpointSharedOnly && ProbeExclusive(client.Get(), format)) return true;
    return shareMode_ != kEndpointExclusiveOnly && ProbeShared(client.Get(), format);
}

bool CEndpointFormatProbe::ProbeExclusive(IAudioClient* client, EndpointFormat& format) const
{
    bool accepted = false, rate48 = false, stereo = false, stereo24 = false;
    for (int bits : {16, 24}) {
        if (bits == 24 && !tenOrLater_) break;
        for (int rate : {44100, 48000}) {
            for (int channels : {1, 2}) {
                const WAVEFORMATEXTENSIBLE candidate = MakePcmFormat(rate, channels, bits);
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
bool CEndpointFormatProbe::ProbeShared(IAudioClient* client, EndpointFormat& format)
{
    WAVEFORMATEX* mix = nullptr;
    if (FAILED(client->GetMixFormat(&mix)) || !mix) return false;
    const int channels = std::min<int>(mix->nChannels, 2);
    CoTaskMemFree(mix);
    if (channels < 1) return false;
    format = EndpointFormat{44100, 48000, 16, 16, channels};
    return true;
}
