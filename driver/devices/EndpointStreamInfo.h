// How an endpoint stream may run, and what one direction of a stream reports about itself.
#pragma once

#include <cstdint>

// The "EndpointShareMode" setting: how the endpoint back end may use an endpoint.
inline constexpr int kEndpointExclusiveOnly = 0;
inline constexpr int kEndpointExclusiveOrShared = 1;  // the default
inline constexpr int kEndpointSharedOnly = 2;

enum class EndpointStreamMode { None, Exclusive, Shared };

// What one direction of the last opened (or probed) stream runs with, for the driver's latency
// report. Valid once OpenAndStart or Probe has returned; kept after the stream stops, until the
// next open.
struct EndpointStreamInfo {
    EndpointStreamMode mode = EndpointStreamMode::None;
    int bufferFrames = 0;         // device buffer
    int periodFrames = 0;         // between two audio events
    int streamLatencyFrames = 0;  // IAudioClient::GetStreamLatency
    int adapterFrames = 0;        // how long a sample can wait in the adapter: 0 or one device period
    // What a sample spends in the stream beyond the host buffer (capture) or after the host's
    // outputReady (render), from the sizes above and the host buffer alone: the queues' fill at
    // each hand-over wanders with how the device's periods and the host's buffers fall, but a
    // stream that loses nothing keeps the delay its first hand-over set.
    int latencyFrames = 0;
    int64_t frames = 0;           // moved between the device and the driver since the start
    // Faults since the start. Capture: packets the device flagged as following lost data. Render:
    // wakes after the first hand-over that found nothing to play, so that silence plays
    // (underruns), and blocks the full adapter dropped (drops).
    int64_t discontinuities = 0;
    int64_t underruns = 0;
    int64_t drops = 0;
};
