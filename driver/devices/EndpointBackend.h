// CEndpointBackend: the interfaces as the system's audio endpoint API (MMDevice, WASAPI) shows
// them. It lists endpoints by device path, finds the default ones, probes formats and runs one
// event-driven stream per direction, each on its own thread registered as "Pro Audio".
//
// Streams run in exclusive mode. With endpointShareMode 1 an endpoint that refuses exclusive use
// streams in shared mode instead, with the audio engine converting to and from the driver's 16-bit
// format; with 2 every stream is shared; with 0 a refusal fails the stream.
//
// Stops are bounded. A stream thread that outlives the wait keeps everything it uses, down to its
// stream object, until a later stop or release finds it ended; the destructor leaves such an
// object behind rather than free it under the thread.
#pragma once

#include "DevicePlatform.h"
#include "EndpointCaptureStream.h"
#include "EndpointFormat.h"
#include "EndpointFormatProbe.h"
#include "EndpointList.h"
#include "EndpointRenderStream.h"
#include "EndpointStreamInfo.h"
#include "StreamBackend.h"

#include <core/StreamParams.h>
#include <veloran/ComPtr.h>

#include <windows.h>
#include <mmdeviceapi.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CEndpointBackend final : public IStreamBackend {
public:
    static constexpr int kExclusiveOnly = kEndpointExclusiveOnly;
    static constexpr int kExclusiveOrShared = kEndpointExclusiveOrShared;  // the default
    static constexpr int kSharedOnly = kEndpointSharedOnly;

    static constexpr DWORD kReadyWaitMs = CEndpointStream::kReadyWaitMs;
    static constexpr DWORD kStartWaitMs = CEndpointStream::kStartWaitMs;
    static constexpr DWORD kStopWaitMs = 3000;  // default bound of every stop
    static constexpr DWORD kEventWaitMs = CEndpointStream::kEventWaitMs;
    static constexpr int kCaptureBlockBytes = CEndpointCaptureStream::kBlockBytes;

    // Null when the endpoint enumerator cannot be created. ntSixMode is set on Windows NT 6.0;
    // tenOrLater when the system reports version 10 or later. A share mode other than 0 or 2
    // counts as 1. Initialises COM (multithreaded) for the calling thread, which keeps it.
    static std::unique_ptr<CEndpointBackend> Create(IDevicePlatform& platform, bool ntSixMode, bool tenOrLater,
                                                    int endpointShareMode);
    ~CEndpointBackend() override;
    CEndpointBackend(const CEndpointBackend&) = delete;
    CEndpointBackend& operator=(const CEndpointBackend&) = delete;

    // Appends the device path of every active endpoint that carries a USB interface path to the
    // list of its flow; true when one was listed.
    bool ListEndpoints(std::vector<std::wstring>& renderPaths, std::vector<std::wstring>& capturePaths);
    // The default multimedia endpoint of eRender or eCapture; true when it carries a "\\?\" path.
    bool GetDefaultEndpoint(EDataFlow flow, std::wstring& path, std::wstring& friendlyName);
    // The active endpoint whose id this is.
    bool DescribeEndpoint(const std::wstring& id, EndpointDescription& description);
    // The first active endpoint of the flow whose id, or a string property, equals path.
    bool FindEndpoint(EDataFlow flow, const std::wstring& path, ComPtr<IMMDevice>& device,
                      std::wstring* friendlyName = nullptr);
    // What the endpoint accepts in the mode its streams would use; false when nothing.
    bool ProbeFormats(EDataFlow flow, const std::wstring& path, EndpointFormat& format);

    // Opens and starts the directions whose path is not empty. Each stream thread reports ready
    // and then waits for startEvent (the engine's manual-reset start event; null starts at once).
    // True when every direction asked for started; otherwise nothing is left open. False at once
    // while a thread of an earlier stream still lives.
    bool OpenAndStart(const std::wstring& capturePath, const _sStreamParams& captureParams,
                      const std::wstring& renderPath, const _sStreamParams& renderParams,
                      HANDLE startEvent) override;
    // What OpenAndStart would open with the same arguments, each direction probed and released at
    // once; a direction whose path is empty, or that would not open, reports mode None. False while
    // a thread of an earlier stream still lives.
    bool Probe(const std::wstring& capturePath, const _sStreamParams& captureParams, const std::wstring& renderPath,
               const _sStreamParams& renderParams, EndpointStreamInfo& capture, EndpointStreamInfo& render);
    // Asks both directions' threads to end and returns at once. A stopped stream stays registered
    // with its capture sink; only a capture thread that ends on its own unregisters itself.
    void RequestStop() override;
    // Stop and wait up to the stop time-out; true when the direction's thread has ended.
    bool StopCapture();
    bool StopRender();
    // Stops what still runs, then releases the interfaces and adapters of every direction whose
    // thread has ended; true when both have.
    bool ReleaseAll();
    // ReleaseAll with a stop wait of waitMs from now on.
    bool Stop(DWORD waitMs) override;
    void SetStopWaitMs(DWORD milliseconds) { stopWaitMs_ = milliseconds; }

    // The engine's render hand-over: queues one block for the render stream and wakes it when the
    // queue overflowed. Returns 1 when the block was taken, 0 without an active render stream.
    int DeliverRender(const void* block, int bytes) override;

    // Endpoint levels in percent, left then right; false without an open endpoint of the
    // direction or when a level could not be set. A one-channel input is muted at 0.
    bool SetInputVolume(int left, int right);
    bool SetOutputVolume(int left, int right);

    bool captureActive() const { return capture_->running(); }
    bool renderActive() const { return render_->running(); }
    EndpointStreamInfo captureInfo() const { return capture_->Info(); }
    EndpointStreamInfo renderInfo() const { return render_->Info(); }
    // Every fault of both directions since their start; lock-free, for the audio path.
    uint64_t faultCount() const override;
    bool lost() const override;
    // Why the last OpenAndStart failed on an endpoint that refused exclusive use with no shared
    // fallback allowed (AUDCLNT_E_DEVICE_IN_USE, AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED, ...); S_OK
    // when it failed for another reason or started.
    HRESULT exclusiveRefusal() const;
    std::wstring captureName() const;
    std::wstring renderName() const;
    int shareMode() const { return shareMode_; }
    bool ntSixMode() const { return ntSixMode_; }
    bool tenOrLater() const { return tenOrLater_; }

private:
    CEndpointBackend(IDevicePlatform& platform, bool ntSixMode, bool tenOrLater, int endpointShareMode);
    bool CreateEvents();

    const CEndpointList endpoints_;
    const bool ntSixMode_;
    const bool tenOrLater_;
    const int shareMode_;
    const CEndpointFormatProbe probe_;
    DWORD stopWaitMs_ = kStopWaitMs;
    // Allocated once; left behind by the destructor while their thread still lives.
    std::unique_ptr<CEndpointCaptureStream> capture_;
    std::unique_ptr<CEndpointRenderStream> render_;
};
