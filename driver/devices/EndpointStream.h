// CEndpointStream: one direction of an endpoint stream and the thread that runs it, registered as
// "Pro Audio". The thread finds the endpoint, chooses exclusive or shared mode, initialises the
// client, reports ready, waits for the start event and runs the direction's loop until asked to
// stop or the endpoint goes away.
//
// The object holds everything its thread touches, the back end's settings included, so that a
// thread that outlives the back end never reaches into it. Threads: the opener calls Reset,
// Start, the stops and Release; the stream thread prepares and runs; levels and the name are
// read from any thread through the volume control. stopRequested is written by the stopper and
// read by the thread after every wake-up.
#pragma once

#include "DevicePlatform.h"
#include "EndpointList.h"
#include "EndpointStreamInfo.h"
#include "EndpointVolumeControl.h"
#include "StreamThread.h"

#include <core/StreamParams.h>
#include <veloran/ComPtr.h>
#include <veloran/UniqueHandle.h>

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class CPacketFifo;

class CEndpointStream {
public:
    static constexpr DWORD kReadyWaitMs = CStreamThread::kReadyWaitMs;
    static constexpr DWORD kStartWaitMs = CStreamThread::kStartWaitMs;
    static constexpr DWORD kEventWaitMs = 2000;  // a silent device is asked whether it still exists

    virtual ~CEndpointStream() = default;
    CEndpointStream(const CEndpointStream&) = delete;
    CEndpointStream& operator=(const CEndpointStream&) = delete;

    // The stop, ended and ready events, made once; false when one could not be created.
    bool CreateEvents();
    // Before every open: the endpoint's path (empty leaves the direction unused), the engine's
    // parameters and its start event (null or INVALID_HANDLE_VALUE starts at once). Clears what
    // the last open measured.
    void Reset(const std::wstring& path, const _sStreamParams& params, HANDLE startEvent);
    // Starts the thread and waits for its report; true when it prepared the stream.
    bool Start();
    // Asks the thread to end and returns at once.
    virtual void AskToStop();
    // AskToStop, then waits up to waitMs; true when the thread has ended (or never ran).
    bool Stop(DWORD waitMs);
    // Lets go of the endpoint's interfaces and buffers. Only once the thread has ended.
    void Release();
    // What a stream opened on path with params would run with, from an audio client initialised
    // as Start's would be and released at once: the latency report before the stream runs. False
    // when the endpoint would not open, or while a thread of an earlier stream still lives.
    bool Probe(const std::wstring& path, const _sStreamParams& params, EndpointStreamInfo& info);

    bool threadAlive() const { return thread_.alive(); }
    bool running() const { return running_.load() != 0; }
    bool lost() const { return thread_.lost(); }
    bool SetLevels(int left, int right) { return levels_.Set(left, right); }
    std::wstring name() const { return levels_.name(); }
    EndpointStreamInfo Info() const;
    // Every fault since the start; lock-free.
    uint64_t faults() const;
    // Why the last open could not stream exclusively and had no shared fallback (S_OK when it
    // streamed or failed otherwise). Read once Start has returned.
    HRESULT refusal() const { return refusal_; }

protected:
    CEndpointStream(EDataFlow flow, IDevicePlatform& platform, int shareMode, bool ntSixMode, bool tenOrLater,
                    bool muteMonoAtZero);

    // The direction's parts. All but ResetDirection, ReleaseDirection and AddLatency run on the
    // stream thread (or the prober's).
    virtual bool AcceptsParams() const { return true; }
    // Once the endpoint has accepted the format exclusively, before its client is initialised.
    virtual void BeforeExclusive(IMMDevice* device, const WAVEFORMATEXTENSIBLE& format) {}
    // With the client initialised and its event set: services, adapter, what the start needs.
    virtual bool PrepareDirection(bool reinitialised) = 0;
    virtual void Loop() = 0;
    // Last on the thread, whether the loop ran or not.
    virtual void Finish() {}
    virtual void AddLatency(EndpointStreamInfo& info) const = 0;
    virtual void ResetDirection() {}
    virtual void ReleaseDirection() = 0;

    // Waits for the device's next event; false when the stream is to end: a stop request, a failed
    // wait, or a device that went quiet because its endpoint is gone.
    bool NextEvent();
    bool stopRequested() const { return thread_.stopRequested(); }
    void CountMoved(int64_t frames) { frames_.fetch_add(frames, std::memory_order_relaxed); }
    static std::unique_ptr<CPacketFifo> NewAdapter(int inputPacket, int chunk);
    // The device streams more channels than the engine's (params' endpointChannels): the engine's
    // are taken from, or placed among silent others in, frames of the device's.
    bool selectsChannels() const;
    void TakeEngineChannels(const uint8_t* device, int frames, uint8_t* engine) const;
    void PlaceEngineChannels(const uint8_t* engine, int frames, uint8_t* device) const;

    const EDataFlow flow_;
    const bool tenOrLater_;
    _sStreamParams params_;
    CEndpointVolumeControl levels_;
    // Set while the thread prepares the stream; read-only while it runs.
    ComPtr<IAudioClient> client_;
    EndpointStreamMode mode_ = EndpointStreamMode::None;
    int blockAlign_ = 0;    // a frame as the device streams it
    int nominalBytes_ = 0;  // a packet of framesPerPacket such frames
    UINT32 bufferFrames_ = 0;
    int periodFrames_ = 0;
    int streamLatencyFrames_ = 0;
    UniqueHandle audioEvent_;
    std::atomic<int64_t> discontinuities_{0};
    std::atomic<int64_t> underruns_{0};
    std::atomic<int64_t> drops_{0};

private:
    static DWORD WINAPI ThreadProc(void* context);
    void Run();
    bool Prepare();
    // Finds the endpoint, chooses the mode and initialises the client; what it runs with is then known.
    bool OpenClient();
    bool ChooseMode(ComPtr<IAudioClient>& client, bool& reinitialised);

    const CEndpointList endpoints_;
    const int shareMode_;
    const bool ntSixMode_;
    std::wstring devicePath_;
    std::atomic<int> running_{0};
    CStreamThread thread_;

    ComPtr<IMMDevice> device_;
    WAVEFORMATEXTENSIBLE format_ = {};
    REFERENCE_TIME periods_[2] = {};  // default and minimum device period
    bool reinitialised_ = false;      // the exclusive client took more than one initialisation
    HRESULT refusal_ = S_OK;
    std::atomic<int64_t> frames_{0};
};
