// The driver's settings block, with its construction defaults.
#pragma once

#include <asio/Asio.h>

struct _sSettings {
    double minSampleRate = 44100.0;
    double maxSampleRate = 48000.0;
    double sampleRate = 44100.0;
    int sampleType = ASIOSTInt16LSB;
    int latencyIn = 1;
    int latencyOut = 2;
    int outputBuffersMono = 32;
    int outputBuffersMulti = 64;
    int inputBuffersMono = 16;
    int inputBuffersMulti = 16;
    int captureFrames = 512;
    int renderFrames = 512;
    int preferredBufferSize = 512;
    int renderPacketCount = 64;
    int capturePacketCount = 16;
    int threadPriority = 15;
    int inputPriority = -1;
    int outputPriority = -1;
    int useEndpointBackend = 1;
    // 0 exclusive only, 1 exclusive with a shared fallback per endpoint, 2 shared only.
    int endpointShareMode = 1;
    // 1: ports on other clocks than the first capturing one are resampled to it.
    int clockSync = 0;
};

// Bytes one sample takes in a host buffer of this type.
inline int HostBytesPerSample(int sampleType)
{
    switch (sampleType) {
    case ASIOSTInt16LSB: return 2;
    case ASIOSTInt24LSB: return 3;
    default: return 4;
    }
}
