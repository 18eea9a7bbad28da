// CEngineSlot: the streaming engine's runtime object for one port. It opens and stops the port's
// streams, turns capture packets into host input samples and hands render blocks to the device.
#pragma once

#include "ChannelFilter.h"
#include "MeterTap.h"
#include "Port.h"
#include "StreamParams.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

class CCaptureAggregator;
class CClockFollower;
class CDeviceAccess;
class CKnownDeviceTable;
class IDevicePlatform;
class IStreamBackend;
struct _sSettings;

// Channels of the port's capture stream: an instrument port captures both channels of its input.
int CaptureStreamChannels(const _sPort& port);

// What one port's streams add to the host buffer: capture, beyond the buffer itself; render,
// after the host's outputReady. -1 where not known: a direction that does not stream, or streams
// through kernel-streaming pins, which tell nothing of theirs.
struct StreamLatencies {
    int capture = -1;
    int render = -1;
    int capturePacket = 0;  // frames of the capture stream's packets as they reach the engine; 0 unknown
};

class CEngineSlot {
public:
    static constexpr int kWorkSamples = 2048;
    static constexpr DWORD kStopWaitMs = 3000;  // for the threads of every port together

    CEngineSlot();
    ~CEngineSlot();
    CEngineSlot(const CEngineSlot&) = delete;
    CEngineSlot& operator=(const CEngineSlot&) = delete;

    void Reset();
    // Opens the port's streams for the buffers assigned to it. 1 when started or nothing to start.
    // With a follower (not owned, outliving the streams), a capturing port's capture and render
    // go through it, on its interface's clock, and a port that only plays has its render stream
    // pull from it; without, straight to the aggregator and the device.
    int Start(IDevicePlatform& platform, const _sPort& port, const _sSettings& settings,
              CCaptureAggregator* aggregator, HANDLE startEvent, CClockFollower* follower = nullptr);
    // The latencies of the streams Start would open for these directions, from audio clients
    // initialised as its would be and released at once. Only while the port's streams are stopped.
    StreamLatencies ProbeLatencies(IDevicePlatform& platform, const _sPort& port, const _sSettings& settings,
                                   bool inputs, bool outputs);
    // Those of the streams Start opened.
    StreamLatencies Latencies() const;
    // Asks the port's streams to end and returns at once.
    void RequestStop();
    // Stops the streams, waiting at most waitMs for their threads. 0 when a thread outlived the
    // wait (stuck in the host's callback): what it uses is then kept, never freed.
    int Stop(DWORD waitMs);
    // Whether a thread that outlived an earlier stop is still alive; its resources are released
    // once it has ended.
    bool StillStranded();
    // Packets the port's streams dropped, repeated or flagged as lost since they started.
    uint64_t FaultCount() const;
    // A stream of the port ended on its own (its device went away or failed). The switch's thread.
    bool StreamsLost() const;

    // One capture packet (bytes 0: the source had none; the previous samples are repeated).
    // meterIndex is the buffer half whose meter copies to fill, -1 while no level display is open.
    void DeliverCapture(const uint8_t* packet, int bytes, int sampleType, int frames, int meterIndex);
    void DeliverRender(const void* block, int bytes, int meterIndex);

    // Level changes while streaming, in percent; 1 when applied. On the kernel-streaming route
    // they go to the interface's topology nodes named by its known-devices row.
    int ApplyInputLevels(const _sPort& port, const CKnownDeviceTable& table, int left, int right);
    int ApplyOutputLevels(const _sPort& port, const CKnownDeviceTable& table, int left, int right);
    // DC removal of one input channel switched from another thread: the capture path applies it
    // at its next block, so the filter is never restarted under it.
    void RequestDc(int channel, bool on);

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
    // The follower the running streams go through, or null.
    const CClockFollower* follower() const { return follower_; }

private:
    static constexpr int kNoDcRequest = -1;
    void TakeDcRequests();

    int captureHalf_ = 0;
    bool softwareInputLevel_ = false;  // the input levels are the filters' gains
    std::atomic<int> dcRequest_[2] = {kNoDcRequest, kNoDcRequest};
    int16_t workLeft_[kWorkSamples] = {};
    int16_t workRight_[kWorkSamples] = {};
    // The route the port's streams take; null without a device access object.
    IStreamBackend* streams() const;
    // Gives up the device access whose thread outlived a stop, without destroying it.
    void AbandonStrandedAccess();
    // The device access for the settings' share mode and route, made anew when the mode changed.
    CDeviceAccess& AccessFor(IDevicePlatform& platform, const _sSettings& settings);

    std::unique_ptr<CDeviceAccess> deviceAccess_;
    CClockFollower* follower_ = nullptr;
    int deviceShareMode_ = -1;
    bool stranded_ = false;
};
