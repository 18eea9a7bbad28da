// The demonstration audio built into the program: raw 16-bit mono streams, one per channel and rate.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

constexpr int kDemoLeft44100 = 7002;
constexpr int kDemoRight44100 = 7003;
constexpr int kDemoLeft48000 = 7004;
constexpr int kDemoRight48000 = 7005;

struct DemoAudioIds {
    int left;
    int right;
};

// The pair for a rate: 48000 for 48000, 44100 for anything else.
DemoAudioIds DemoAudioFor(int samplesPerSecond);

// A copy of resource `id` of type "AUDIO_DATAS" in module (null: the program's own), one sample
// per two bytes; empty when the resource is missing.
std::vector<int16_t> LoadEmbeddedAudio(HMODULE module, int id);
