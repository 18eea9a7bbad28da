// _sStreamParams: what the engine hands a back end to open one stream direction. The back end
// copies the record whole into its stream context.
#pragma once

#include <cstddef>
#include <cstdint>

class CPacketFifo;
class ICaptureSink;
class IRenderSource;

struct _sStreamParams {
    int32_t sampleRate = 44100;
    int32_t channels = 2;
    int32_t bitsPerSample = 16;
    int32_t framesPerPacket = 512;
    int32_t packetCount = 32;                   // the engine caps it at 64
    CPacketFifo* engineFifo = nullptr;          // the engine slot's own FIFO; back ends leave it alone
    ICaptureSink* captureSink = nullptr;        // used by capture streams
    IRenderSource* renderSource = nullptr;      // render streams: pull their blocks from it, if set
    int32_t threadPriority = 15;                // THREAD_PRIORITY_TIME_CRITICAL
    int32_t pinPriorityClass = -1;
    int32_t volumeLeft = 100;                   // percent
    int32_t volumeRight = 100;
    // An endpoint streamed with more channels than the engine's: it opens with endpointChannels
    // and the engine's channels are those from firstChannel on. 0 streams the engine's channels.
    int32_t endpointChannels = 0;
    int32_t firstChannel = 0;
};

#if defined(_WIN64)
static_assert(offsetof(_sStreamParams, engineFifo) == 24);
static_assert(offsetof(_sStreamParams, threadPriority) == 48);
static_assert(sizeof(_sStreamParams) == 72);
#else
static_assert(offsetof(_sStreamParams, engineFifo) == 20);
static_assert(offsetof(_sStreamParams, threadPriority) == 32);
static_assert(sizeof(_sStreamParams) == 56);
#endif

// Bytes of one nominal packet of the stream.
inline int32_t NominalPacketBytes(const _sStreamParams& params)
{
    return params.bitsPerSample / 8 * params.framesPerPacket * params.channels;
}

// Channels the device streams.
inline int32_t DeviceChannels(const _sStreamParams& params)
{
    return params.endpointChannels > params.channels ? params.endpointChannels : params.channels;
}
