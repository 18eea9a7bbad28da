// CEndpointBackend: the interfaces as the system's audio endpoint API (MMDevice, WASAPI) shows
// them. It lists endpoints by device path, finds the default ones, probes formats and runs one
// event-driven stream per direction, each on its own thread registered as "Pro Audio".
//
// Streams run in exclusive mode. With endpointShareMode 1 an endpoint that refuses exclusive use
// streams in shared mode instead, with the audio engine converting to and from the driver's 16-bit
// format; with 2 every stream is shared; with 0 a refusal fails the stream.
//
// Stops are bounded. A stream thread that outlives the wait keeps everything it uses, down to its
// stream record, until a later stop or release finds it ended; the destructor leaves such a
// record behind rather than free it under the thread.
#pragma once

#include "DevicePlatform.h"
#include "EndpointFormat.h"

#include <veloran/CriticalSection.h>
#include <core/RunningMean.h>
#include <core/StreamParams.h>
#include <veloran/ComPtr.h>
#include <veloran/UniqueHandle.h>

#include <windows.h>
#include <audioclient.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CPacketFifo;

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

class CEndpointBackend {
public:
    static constexpr int kExclusiveOnly = 0;
    static constexpr int kExclusiveOrShared = 1;  // the default
    static constexpr int kSharedOnly = 2;

    static constexpr DWORD kReadyWaitMs = 5000;
    static constexpr DWORD kStartWaitMs = 5000;
    static constexpr DWORD kStopWaitMs = 3000;        // default bound of every stop
    static constexpr DWORD kEventWaitMs = 2000;       // a silent device is asked whether it still exists
    static constexpr int kCaptureBlockBytes = 16384;  // largest nominal capture packet
    static constexpr int kHeldWindow = 32;             // hand-overs the held frames are averaged over

    // Null when the endpoint enumerator cannot be created. ntSixMode is set on Windows NT 6.0;
    // tenOrLater when the system reports version 10 or later. A share mode other than 0 or 2
    // counts as 1. Initialises COM (multithreaded) for the calling thread, which keeps it.
    static std::unique_ptr<CEndpointBackend> Create(IDevicePlatform& platform, bool ntSixMode, bool tenOrLater,
                                                    int endpointShareMode);
    ~CEndpointBackend();
    CEndpointBackend(const CEndpointBackend&) = delete;
    CEndpointBackend& operator=(const CEndpointBackend&) = delete;

    // Appends the device path of every active endpoint that carries a USB interface path to the
    // list of its flow; true when one was listed.
    bool ListEndpoints(std::vector<std::wstring>& renderPaths, std::vector<std::wstring>& capturePaths);
    // The default multimedia endpoint of eRender or eCapture; true when it carries a "\\?\" path.
    bool GetDefaultEndpoint(EDataFlow flow, std::wstring& path, std::wstring& friendlyName);
    // The first active endpoint of the flow with a string property equal to path (case-sensitive).
    bool FindEndpoint(EDataFlow flow, const std::wstring& path, ComPtr<IMMDevice>& device,
                      std::wstring* friendlyName = nullptr);
    // What the endpoint accepts in the mode its streams would use; false when nothing.
    bool ProbeFormats(EDataFlow flow, const std::wstring& path, EndpointFormat& format);

    // Opens and starts the directions whose path is not empty. Each stream thread reports ready
    // and then waits for startEvent (the engine's manual-reset start event; null starts at once).
    // True when every direction asked for started; otherwise nothing is left open. False at once
    // while a thread of an earlier stream still lives.
    bool OpenAndStart(const std::wstring& capturePath, const _sStreamParams& captureParams,
                      const std::wstring& renderPath, const _sStreamParams& renderParams, HANDLE startEvent);
    // Asks both directions' threads to end and returns at once. A stopped stream stays registered
    // with its capture sink; only a capture thread that ends on its own unregisters itself.
    void RequestStop();
    // Stop and wait up to the stop time-out; true when the direction's thread has ended.
    bool StopCapture();
    bool StopRender();
    // Stops what still runs, then releases the interfaces and adapters of every direction whose
    // thread has ended; true when both have.
    bool ReleaseAll();
    void SetStopWaitMs(DWORD milliseconds) { stopWaitMs_ = milliseconds; }

    // The engine's render hand-over: queues one block for the render stream and wakes it when the
    // queue overflowed. Returns 1 when the block was taken, 0 without an active render stream.
    int DeliverRender(const void* block, int bytes);

    // Endpoint levels in percent, left then right; false without an open endpoint of the
    // direction or when a level could not be set. A one-channel input is muted at 0.
    bool SetInputVolume(int left, int right);
    bool SetOutputVolume(int left, int right);

    bool captureActive() const { return capture_->running.load() != 0; }
    bool renderActive() const { return render_->running.load() != 0; }
    EndpointStreamInfo captureInfo() const { return Info(*capture_); }
    EndpointStreamInfo renderInfo() const { return Info(*render_); }
    // Every fault of both directions since their start; lock-free, for the audio path.
    uint64_t faultCount() const;
    std::wstring captureName() const;
    std::wstring renderName() const;
    int shareMode() const { return shareMode_; }
    bool ntSixMode() const { return ntSixMode_; }
    bool tenOrLater() const { return tenOrLater_; }

private:
    // Everything a stream thread touches, the backend's settings included, so that a thread that
    // outlives the backend never reaches into it.
    struct Stream {
        EDataFlow flow = eCapture;
        IDevicePlatform* platform = nullptr;
        int shareMode = kExclusiveOrShared;
        bool ntSixMode = false;
        bool tenOrLater = false;
        std::wstring devicePath;
        _sStreamParams params;
        HANDLE startEvent = nullptr;
        UniqueHandle audioEvent;
        std::atomic<int> stopRequested{0};
        std::atomic<int> started{0};
        std::atomic<int> running{0};
        UniqueHandle stopEvent;
        UniqueHandle endedEvent;
        UniqueHandle readyEvent;
        UniqueHandle thread;
        DWORD threadId = 0;

        mutable CCriticalSection volumeLock;  // guards device, name and volume
        ComPtr<IMMDevice> device;
        std::wstring name;
        ComPtr<IAudioClient> client;
        ComPtr<IAudioCaptureClient> captureService;
        ComPtr<IAudioRenderClient> renderService;
        ComPtr<IAudioEndpointVolume> volume;
        // DeliverRender runs on other interfaces' capture threads; this keeps it off a render
        // stream that is being stopped or released.
        CCriticalSection handOverLock;
        bool handOver = false;  // render: DeliverRender may queue blocks
        std::unique_ptr<CPacketFifo> adapter;
        bool adapted = false;  // an adapter was made at the last open; outlives it
        WAVEFORMATEXTENSIBLE format = {};
        REFERENCE_TIME periods[2] = {};  // default and minimum device period

        EndpointStreamMode mode = EndpointStreamMode::None;
        int blockAlign = 0;
        int nominalBytes = 0;
        UINT32 bufferFrames = 0;
        int periodFrames = 0;
        int streamLatencyFrames = 0;
        std::unique_ptr<uint8_t[]> block;  // capture: popped packets; shared render: the chunk being written
        std::unique_ptr<uint8_t[]> zeros;  // capture: stands in for a packet flagged silent
        std::atomic<int64_t> frames{0};
        CRunningMean<kHeldWindow> held;     // written by the thread that hands over
        std::atomic<int> heldFrames{0};     // its mean; see EndpointStreamInfo
        CRunningMean<kHeldWindow> queued;   // written by the render thread
        std::atomic<int> queuedInDevice{0}; // shared render: buffer frames ahead of a chunk written, averaged
        std::atomic<int64_t> discontinuities{0};
        std::atomic<int64_t> underruns{0};
        std::atomic<int64_t> drops{0};
    };

    CEndpointBackend(IDevicePlatform& platform, bool ntSixMode, bool tenOrLater, int endpointShareMode);
    bool CreateEvents();
    static HRESULT NewEnumerator(IDevicePlatform& platform, ComPtr<IMMDeviceEnumerator>& enumerator);
    // The active endpoints of both flows.
    static bool ActiveEndpoints(IDevicePlatform& platform, ComPtr<IMMDeviceCollection>& endpoints, UINT& count);
    static bool FindEndpointOn(IDevicePlatform& platform, EDataFlow flow, const std::wstring& path,
                               ComPtr<IMMDevice>& device, std::wstring* friendlyName);

    bool StartThread(Stream& stream);
    static void AskToStop(Stream& stream);
    bool StopStream(Stream& stream);
    static void Release(Stream& stream);

    // What runs on a stream thread: static, so that it reaches only the stream record.
    static DWORD WINAPI StreamThread(void* context);
    static void RunStream(Stream& stream);
    static bool PrepareStream(Stream& stream);
    static bool ChooseMode(Stream& stream, ComPtr<IAudioClient>& client, bool& reinitialised);
    static HRESULT InitializeExclusive(Stream& stream, ComPtr<IAudioClient>& client, bool& reinitialised);
    static HRESULT InitializeShared(Stream& stream, ComPtr<IAudioClient>& client);
    static bool MakeAdapter(Stream& stream, bool reinitialised);
    static void PrimeRender(Stream& stream);
    static bool WaitForStart(Stream& stream);
    static bool NextEvent(Stream& stream);
    static void CaptureLoop(Stream& stream);
    static void RenderLoopExclusive(Stream& stream);
    static void RenderLoopShared(Stream& stream);
    static void DeliverCapture(Stream& stream, const uint8_t* data, int bytes);
    static bool SetLevels(Stream& stream, int left, int right, bool muteMono);

    bool ProbeExclusive(IAudioClient* client, EndpointFormat& format);
    bool ProbeShared(IAudioClient* client, EndpointFormat& format);
    EndpointStreamInfo Info(const Stream& stream) const;

    IDevicePlatform& platform_;
    const bool ntSixMode_;
    const bool tenOrLater_;
    const int shareMode_;
    DWORD stopWaitMs_ = kStopWaitMs;
    // Allocated once; left behind by the destructor while their thread still lives.
    std::unique_ptr<Stream> capture_;
    std::unique_ptr<Stream> render_;
};
