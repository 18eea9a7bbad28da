// Port records: one port joins a capture and a render endpoint of one device into up to two ASIO
// inputs and two ASIO outputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One direction of a port, stored raw in the registry as "Inp_<path>" / "Out_<path>".
struct _sPortDirection {
    int32_t enabled = 1;
    wchar_t channelName[2][32] = {};
    int32_t level[2] = {100, 100};
    int32_t linked[2] = {1, 1};
    int32_t dcRemoval[2] = {};
    int32_t reserved = 0;
    int32_t monoToStereo = 0;
    int32_t monoMix = 0;
    int32_t instrumentPort = 0;
    int32_t monitor[2] = {};
};

static_assert(sizeof(wchar_t) == 2);
static_assert(sizeof(_sPortDirection) == 180);
static_assert(offsetof(_sPortDirection, channelName) == 4);
static_assert(offsetof(_sPortDirection, level) == 132);
static_assert(offsetof(_sPortDirection, linked) == 140);
static_assert(offsetof(_sPortDirection, dcRemoval) == 148);
static_assert(offsetof(_sPortDirection, reserved) == 156);
static_assert(offsetof(_sPortDirection, monoToStereo) == 160);
static_assert(offsetof(_sPortDirection, monoMix) == 164);
static_assert(offsetof(_sPortDirection, instrumentPort) == 168);
static_assert(offsetof(_sPortDirection, monitor) == 172);

struct _sPortFormat {
    std::wstring path;
    int channels = 2;
    double minRate = 44100.0;
    double maxRate = 48000.0;
    int minBits = 16;
    int maxBits = 16;
    // An endpoint of more channels than the port's streams all of them (0: the port's channels);
    // the port's pair starts at firstChannel, counted from 0.
    int endpointChannels = 0;
    int firstChannel = 0;
};

struct _sPort {
    std::wstring name;
    std::wstring capturePath;
    std::wstring renderPath;
    std::wstring inputChannelNames[2];
    std::wstring outputChannelNames[2];
    _sPortDirection input;
    _sPortDirection output;
    _sPortFormat inputFormat;
    _sPortFormat outputFormat;
    int hasInputVolume = 1;
    int hasOutputVolume = 1;
    int nonOptimalPort = 0;
    // One of the system's other audio devices, chosen by the user, not one of the family's.
    bool otherDevice = false;
};

// One channel for which the host created buffers.
struct _sActiveChannel {
    int channel = 0;
    int port = -1;  // -1 = free entry
    int channelInPort = 0;
};

constexpr int kMaxPorts = 16;
// Characters of a name that a 32-unit name field holds.
constexpr int kNameLength = 31;
constexpr int kMaxActiveChannels = 64;
constexpr int kMaxAsioChannels = 16;
