// ICaptureSink: where a capture stream hands what it reads. Each stream registers once before it
// runs, delivers every block from its own thread, and unregisters only when it ends on its own.
#pragma once

#include <limits>

constexpr double kCapturedNow = std::numeric_limits<double>::quiet_NaN();

class ICaptureSink {
public:
    // 1, or 0 (nothing stored) when the stream cannot be taken.
    virtual int RegisterSource(const void* stream, int packetBytes, int nominalBytes) = 0;
    // False, with nothing changed, for an unregistered stream or bad arguments. capturedAt: when
    // the block's last frame was captured, in seconds on the device platform's clock, or
    // kCapturedNow when the stream cannot tell.
    virtual bool DeliverSource(const void* stream, const void* data, int count, double capturedAt = kCapturedNow) = 0;
    // 1, or 0 for a stream that is not registered.
    virtual int UnregisterSource(const void* stream) = 0;

protected:
    ~ICaptureSink() = default;
};
