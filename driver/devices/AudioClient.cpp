#include "AudioClient.h"

#include "DeviceIds.h"

namespace {

// The usual speaker layouts; other counts name no speakers, as interfaces' direct outputs.
DWORD ChannelMaskOf(int channels)
{
    switch (channels) {
    case 1: return SPEAKER_FRONT_CENTER;
    case 2: return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    case 4: return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_BACK_LEFT | SPEAKER_BACK_RIGHT;
    case 6:
        return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_FRONT_CENTER | SPEAKER_LOW_FREQUENCY |
               SPEAKER_BACK_LEFT | SPEAKER_BACK_RIGHT;
    case 8:
        return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_FRONT_CENTER | SPEAKER_LOW_FREQUENCY |
               SPEAKER_BACK_LEFT | SPEAKER_BACK_RIGHT | SPEAKER_SIDE_LEFT | SPEAKER_SIDE_RIGHT;
    default: return 0;
    }
}

}  // namespace

WAVEFORMATEXTENSIBLE MakePcmFormat(int rate, int channels, int bits)
{
    WAVEFORMATEXTENSIBLE format = {};
    format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.Format.nChannels = WORD(channels);
    format.Format.nSamplesPerSec = DWORD(rate);
    format.Format.wBitsPerSample = WORD(bits);
    format.Format.nBlockAlign = WORD(channels * bits / 8);
    format.Format.nAvgBytesPerSec = DWORD(rate) * format.Format.nBlockAlign;
    format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    format.Samples.wValidBitsPerSample = WORD(bits);
    format.dwChannelMask = ChannelMaskOf(channels);
    format.SubFormat = kSubtypePcm;
    return format;
}

HRESULT ActivateAudioClient(IMMDevice* device, ComPtr<IAudioClient>& client)
{
    const HRESULT hr = device->Activate(__uuidof(IAudioClient), CLSCTX_INPROC_SERVER, nullptr, client.PutVoid());
    return SUCCEEDED(hr) && !client ? E_POINTER : hr;
}

REFERENCE_TIME Duration(int frames, int rate) { return REFERENCE_TIME(10000000.0 / rate * frames + 0.5); }

int FramesOf(REFERENCE_TIME duration, int rate) { return int(double(duration) * rate / 10000000.0 + 0.5); }
