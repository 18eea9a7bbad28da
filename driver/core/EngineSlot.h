// CEngineSlot: the streaming engine's runtime object for one port. It opens and stops the port's
// streams, turns capture packets into host input samples and hands render blocks to the device.
#pragma once

#include "ChannelFilter.h"
#include "MeterTap.h"
#include "Port.h"
#include "StreamParams.h"

#include <windows.h>

#include <cstdint>
#include <memory>

class CCaptureAggregator;
class CDeviceAccess;
class IDevicePlatform;
struct _sSettings;

class CEngineSlot {
public:
    static constexpr int kWorkSamples = 2048;

    CEngineSlot();
    ~CEngineSlot();
    CEngineSlot(const CEngineSlot&) = delete;
    CEngineSlot& operator=(const CEngineSlot&) = delete;

    void Reset();
    // Opens the port's streams for the buffers assigned to it. 1 when started or nothing to start.
    int Start(IDevicePlatform& platform, const _sPort& port, const _sSettings& settings,
              CCaptureAggregator* aggregator, HANDLE startEvent);
    int Stop();

    // One capture packet (bytes 0: the source had none; the previous samples are repeated).
    // meterIndex is the buffer half whose meter copies to fill, -1 while no level display is open.
    void DeliverCapture(const uint8_t* packet, int bytes, int sampleType, int frames, int meterIndex);
    void DeliverRender(const void* block, int bytes, int meterIndex);

    // Level changes while streaming, in percent; 1 when applied.
    int ApplyInputLevels(const _sPort& port, int left, int right);
    int ApplyOutputLevels(int left, int right);

    int port = -1;
    bool discardCapture = false;
    uint8_t* hostInput[2] = {};
    uint8_t* hostOutput[2] = {};
    bool capturing = false;
    bool rendering = false;
    bool monoMix = false;
    bool instrument = false;
    bool monoToStereo = false;
    bool stereoCapture = false;
    int activeInputs = 0;
    int activeOutputs = 0;
    CChannelFilter filters[2];
    CMeterTap meterLeft, meterRight, meterRender;
    CDeviceAccess* deviceAccess() const { return deviceAccess_.get(); }

private:
    int captureHalf_ = 0;
    int16_t workLeft_[kWorkSamples] = {};
    int16_t workRight_[kWorkSamples] = {};
    std::unique_ptr<CDeviceAccess> deviceAccess_;
    int deviceShareMode_ = -1;
};
