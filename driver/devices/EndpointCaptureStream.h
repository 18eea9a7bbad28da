// CEndpointCaptureStream: the capture direction. Device buffers reach the engine's capture sink
// as nominal packets, through an adapter when the device's buffer differs from a packet. A device
// streaming more channels than the engine's gives up only the engine's, as it is read.
#pragma once

#include "EndpointStream.h"

#include <core/CaptureAggregator.h>
#include <core/StampFilter.h>

#include <audioclient.h>

#include <cstdint>
#include <memory>

class CEndpointCaptureStream final : public CEndpointStream {
public:
    static constexpr int kBlockBytes = kCaptureBlockBytes;  // largest nominal packet, the sink's block

    CEndpointCaptureStream(IDevicePlatform& platform, int shareMode, bool ntSixMode, bool tenOrLater);
    ~CEndpointCaptureStream() override;

private:
    bool AcceptsParams() const override { return NominalPacketBytes(params_) <= kBlockBytes; }
    void BeforeExclusive(IMMDevice* device, const WAVEFORMATEXTENSIBLE& format) override;
    bool PrepareDirection(bool reinitialised) override;
    void Loop() override;
    void Finish() override;
    void AddLatency(EndpointStreamInfo& info) const override;
    void ResetDirection() override { adapted_ = false; }
    void ReleaseDirection() override;

    // A frame and a nominal packet as the engine takes them.
    int frameBytes() const { return params_.channels * params_.bitsPerSample / 8; }
    int packetBytes() const { return NominalPacketBytes(params_); }
    bool MakeAdapter(bool reinitialised);
    double CapturedAt(DWORD flags, UINT64 position, UINT64 counter, UINT32 frames);
    void Deliver(const uint8_t* data, int bytes, double capturedAt);

    IDevicePlatform& platform_;  // its clock
    ComPtr<IAudioCaptureClient> service_;
    std::unique_ptr<CPacketFifo> adapter_;
    bool adapted_ = false;              // an adapter was made at the last open; outlives it
    std::unique_ptr<uint8_t[]> block_;  // packets popped from the adapter
    std::unique_ptr<uint8_t[]> zeros_;  // stands in for a buffer flagged silent
    std::unique_ptr<uint8_t[]> taken_;  // the engine's channels of a device buffer
    CStampFilter stamps_;  // its packets' times, and the device's measured rate
};
