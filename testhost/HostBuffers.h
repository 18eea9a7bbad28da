// The host's side of the driver's double buffers: what createBuffers handed back, and who
// fills them in each buffer switch.
#pragma once

#include <asio/Asio.h>

constexpr int kHostMaxChannels = 16;          // rows per direction in the test host
constexpr long kHostMaxBufferFrames = 1024;   // largest buffer size the host offers

struct HostBufferBlock {
    long bufferSize = 0;
    long inputBuffers = 0;
    long outputBuffers = 0;
    // Inputs first, then outputs.
    ASIOBufferInfo infos[2 * kHostMaxChannels]{};
    ASIOChannelInfo channels[2 * kHostMaxChannels]{};
    long inputLatency = 0;
    long outputLatency = 0;
    bool outputReadySupported = false;

    // The first created buffer's type governs every channel.
    ASIOSampleType SampleType() const { return channels[0].type; }
    // 2 for ASIOSTInt16LSB, 3 for packed ASIOSTInt24LSB, 4 for every other type.
    int SampleBytes() const;
    void* Input(int i, long index) const { return infos[i].buffers[index]; }
    void* Output(int j, long index) const { return infos[inputBuffers + j].buffers[index]; }
};

// Bytes of one sample of a driver buffer of this type.
int HostSampleBytes(ASIOSampleType type);

// Does the work of one buffer half on the driver's thread.
class IHostBlockProcessor {
public:
    virtual void ProcessBlock(const HostBufferBlock& block, long index) = 0;

protected:
    ~IHostBlockProcessor() = default;
};
