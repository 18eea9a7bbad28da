// How an endpoint stream may run, and what one direction of a stream reports about itself.
#pragma once

#include <cstdint>

// The "EndpointShareMode" setting: how the endpoint back end may use an endpoint.
inline constexpr int kEndpointExclusiveOnly = 0;
inline constexpr int kEndpointExclusiveOrShared = 1;  // the default
inline constexpr int kEndpointSharedOnly = 2;

enum class EndpointStreamMode { None, Exclusive, Shared };

// What one direction of the last opened stream runs with, for the driver's latency report. Valid
// once OpenAndStart has returned; kept after the stream stops, until the next open.
struct EndpointStreamInfo {
    EndpointStreamMode mode = EndpointStreamMode::None;
    int bufferFrames = 0;         // device buffer
    int periodFrames = 0;         // between two audio events
    int streamLatencyFrames = 0;  // IAudioClient::GetStreamLatency
    int adapterFrames = 0;        // how long a sample can wait in the adapter: 0 or one device period
    // Measured at each hand-over and averaged over the last kHeldWindow: capture, the frames the
    // adapter kept back after the packet delivered; render, the frames queued ahead of the packet
    // (adapter and, when shared, the device buffer). Single readings jump by a packet with the
    // order in which the device and the engine happened to run.
    int heldFrames = 0;
    // What a sample spends in the stream beyond the host buffer (capture) or after the host's
    // outputReady (render).
    int latencyFrames = 0;
    int64_t frames = 0;           // moved between the device and the driver since the start
    // Faults since the start. Capture: packets the device flagged as following lost data. Render:
    // wakes after the first hand-over that found nothing to play, so that silence plays
    // (underruns), and blocks the full adapter dropped (drops).
    int64_t discontinuities = 0;
    int64_t underruns = 0;
    int64_t drops = 0;
};
