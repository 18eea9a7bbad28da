#include "EmbeddedAudio.h"

#include <cstring>

DemoAudioIds DemoAudioFor(int samplesPerSecond)
{
    if (samplesPerSecond == 48000) return {kDemoLeft48000, kDemoRight48000};
    return {kDemoLeft44100, kDemoRight44100};
}

std::vector<int16_t> LoadEmbeddedAudio(HMODULE module, int id)
{
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), L"AUDIO_DATAS");
    if (!resource) return {};
    const DWORD size = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return {};
    std::vector<int16_t> samples(size / sizeof(int16_t));
    std::memcpy(samples.data(), bytes, samples.size() * sizeof(int16_t));
    return samples;
}
