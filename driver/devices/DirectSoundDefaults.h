// The default sound devices through DirectSound's private property set, for systems without
// the audio endpoint API.
#pragma once

#include <string>

bool GetDirectSoundDefaultDevice(bool capture, std::wstring& path, std::wstring& friendlyName, int* waveDeviceId);
