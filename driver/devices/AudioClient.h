// Small helpers around IAudioClient shared by format probing and the streams.
#pragma once

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <veloran/ComPtr.h>

// Integer PCM in a WAVEFORMATEXTENSIBLE: mono on the centre speaker, stereo left and right, 4, 6
// and 8 channels as quadraphonic, 5.1 and 7.1, other counts on no named speakers.
WAVEFORMATEXTENSIBLE MakePcmFormat(int rate, int channels, int bits);

// A fresh audio client of the endpoint; E_POINTER when the endpoint answers success without one.
HRESULT ActivateAudioClient(IMMDevice* device, ComPtr<IAudioClient>& client);

// 100-nanosecond units of frames at rate, and back.
REFERENCE_TIME Duration(int frames, int rate);
int FramesOf(REFERENCE_TIME duration, int rate);
