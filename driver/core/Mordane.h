// CMordane: the driver object behind IASIO, one per load of the driver by a host.
//
// Threads. IASIO calls come from any host thread. The calls that change state (init,
// createBuffers, disposeBuffers, start, stop, setSampleRate, InstallPorts) are serialised by
// callLock_; what queries read is published under queryLock_, which is held only for short copies,
// so a query never waits for a start or a stop. The buffer switch runs on whichever capture thread
// completed a set, under the aggregator's lock; a state change asked from inside it (or from a
// notice sent there) is refused. No driver lock is held by a thread while it calls the host.
// outputReady claims the hand-over of its switch with one atomic exchange and then takes only
// handOverLock_, which nothing holds across a host callback.
#pragma once

#include "CaptureAggregator.h"
#include "ChannelMap.h"
#include "ClockFollower.h"
#include "EngineSlot.h"
#include "KnownDevices.h"
#include "KnownDeviceTable.h"
#include "Port.h"
#include "Settings.h"
#include "SettingsKey.h"
#include "SettingsStore.h"

#include "../devices/DevicePlatform.h"
#include "../runtime/Unknown.h"
#include "../ui/Languages.h"

#include <asio/Asio.h>
#include <veloran/CriticalSection.h>
#include <veloran/UniqueHandle.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

constexpr long kDriverVersion = 1900;
constexpr long kHardwareQueryMagic = 12345;  // createBuffers(…, 12345, 12345, null) asks for the hardware text
constexpr int kBlockBytes = 16384;
// Host buffer sizes the engine serves without loss: below 128 frames ten packets no longer cover
// a device period plus a packet; above 1024 the per-packet work buffers would overflow.
constexpr int kMinHostBufferFrames = 128;
constexpr int kMaxHostBufferFrames = 1024;
constexpr UINT kShowControlPanelMessage = 1037;

// Replies to the private message that let the default sound device take part.
constexpr LRESULT kReplyUseDefaultDevices = 291;
constexpr LRESULT kReplyDefaultDevicesOnly = 292;


class CMordane : public IASIO, public CUnknown {
public:
    // Construction reports failure through result; the object is then to be destroyed.
    CMordane(IUnknown* outer, HRESULT* result, const CSettingsKey& hostKey, const CSettingsKey& defaultKey,
             IDevicePlatform& platform);
    ~CMordane() override;

    DECLARE_DELEGATING_UNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // The last reference gone. From inside the buffer switch the object is destroyed on a thread
    // of its own once the switch has returned; while a stream thread is still stuck in the host's
    // callback it is kept, since that thread returns into it.
    void destroy() override;

    ASIOBool ASIOMETHODCALLTYPE init(void* sysHandle) override;
    void ASIOMETHODCALLTYPE getDriverName(char* name) override;
    long ASIOMETHODCALLTYPE getDriverVersion() override;
    void ASIOMETHODCALLTYPE getErrorMessage(char* string) override;
    ASIOError ASIOMETHODCALLTYPE start() override;
    ASIOError ASIOMETHODCALLTYPE stop() override;
    ASIOError ASIOMETHODCALLTYPE getChannels(long* numInputChannels, long* numOutputChannels) override;
    ASIOError ASIOMETHODCALLTYPE getLatencies(long* inputLatency, long* outputLatency) override;
    ASIOError ASIOMETHODCALLTYPE getBufferSize(long* minSize, long* maxSize, long* preferredSize,
                                              long* granularity) override;
    ASIOError ASIOMETHODCALLTYPE canSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError ASIOMETHODCALLTYPE getSampleRate(ASIOSampleRate* sampleRate) override;
    ASIOError ASIOMETHODCALLTYPE setSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError ASIOMETHODCALLTYPE getClockSources(ASIOClockSource* clocks, long* numSources) override;
    ASIOError ASIOMETHODCALLTYPE setClockSource(long reference) override;
    ASIOError ASIOMETHODCALLTYPE getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override;
    ASIOError ASIOMETHODCALLTYPE getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError ASIOMETHODCALLTYPE createBuffers(ASIOBufferInfo* bufferInfos, long numChannels, long bufferSize,
                                              ASIOCallbacks* callbacks) override;
    ASIOError ASIOMETHODCALLTYPE disposeBuffers() override;
    ASIOError ASIOMETHODCALLTYPE controlPanel() override;
    ASIOError ASIOMETHODCALLTYPE future(long selector, void* opt) override;
    ASIOError ASIOMETHODCALLTYPE outputReady() override;

    // Whether the host created a buffer for this channel of the port whose endpoint of that
    // direction has this path (the control panel's query).
    bool ChannelInUse(bool isInput, const std::wstring& path, int channelInPort) const;

    // While the control panel's level display is open the engine copies samples for it into
    // each slot's meter taps, signalling one event per buffer half.
    void SetPanelMetering(bool on) { panelMetering_ = on ? 1 : 0; }
    const CEngineSlot& engineSlot(int port) const;

    // The control panel's level changes on the running engine; 1 when applied.
    int ApplyInputLevels(int port, int left, int right);
    int ApplyOutputLevels(int port, int left, int right);
    // The panel's live flags of a driver port: DC removal (taken by the capture path at its next
    // block), direct monitoring and mono mix (read by the engine per block).
    void ApplyDcRemoval(int port, int channel, bool on);
    void ApplyMonitor(int port, int channel, bool on);
    void ApplyMonoMix(int port, bool on);

    // Replaces the port table; only while no buffers exist.
    bool InstallPorts(const _sPort* ports, int portCount);
    // The callback window's rescan: builds the port table afresh. False when the number of
    // interfaces is unchanged. Otherwise true, with the new port count; the new table is
    // installed while no buffers exist, else resetHost tells whether the host is to be asked to
    // reset (it holds buffers of the old table and takes notices).
    bool RescanPorts(int& portCount, bool& resetHost);
    // kAsioResetRequest to a host that holds buffers and has an asioMessage. The host may
    // release the driver inside it: nothing of the driver is touched after the call.
    void RequestReset();
    // The control panel's OK: stores its configuration for this host. True when it differs from
    // the live one in anything that needs a reset and the host (holding buffers, taking notices)
    // is to be asked; otherwise the levels and flags of its ports take effect at once.
    bool AdoptPanelConfiguration(int portCount, const _sPort* ports, const _sSettings& settings);
    // The control panel stored another choice of devices for this host ("OtherDevices",
    // "UseDefaultDevices", "ClockSync"): its OK then builds the ports afresh, or has a host that
    // holds buffers asked to reset. Called on the panel's thread, as its OK.
    void DeviceChoiceStored() { deviceChoiceStored_ = true; }
    // Whether a capture stream runs, so that buffer switches are due.
    bool capturing() const;
    class CSysTrayWnd* callbackWindow() const { return callbackWindow_; }
    const CLanguages& languages() const { return languages_; }
    const CSettingsKey& hostKey() const { return hostKey_; }
    const CSettingsKey& defaultKey() const { return defaultKey_; }

    // How long stop waits for the stream threads in all (tests shorten it).
    void SetStopWaitMs(DWORD ms) { stopWaitMs_ = ms; }
    // Whether a stream thread outlived a stop (it was stuck in the host's callback).
    bool streamsStranded() const { return stranded_; }
    int64_t switchCount() const { return switchCount_.load(); }
    // A port's stream ended on its own while running (its device went away or failed), as the
    // buffer switch found; until the next start.
    bool streamsLost() const { return streamsLost_.load(); }

    std::wstring HardwareDescription() const;

    const CSettingsStore& settingsStore() const { return settingsStore_; }
    IDevicePlatform& platform() const { return platform_; }
    const CKnownDeviceTable& knownDevices() const { return *knownDevices_; }
    const _sPort* ports() const { return ports_.get(); }
    int portCount() const { return portCount_; }
    const _sSettings& settings() const { return settings_; }
    const PortInventory& inventory() const { return inventory_; }
    bool endpointApiAvailable() const { return endpointApiAvailable_; }
    bool useDefaultDevices() const { return useDefaultDevices_; }
    bool defaultDevicesOnly() const { return defaultDevicesOnly_; }
    bool running() const { return running_.load(); }
    int activeInputCount() const { return activeInputCount_; }
    int activeOutputCount() const { return activeOutputCount_; }
    const _sActiveChannel& activeInput(int i) const { return activeInputs_[i]; }
    const _sActiveChannel& activeOutput(int i) const { return activeOutputs_[i]; }
    bool timeInfoMode() const { return timeInfoMode_; }
    bool timeCodeReadEnabled() const { return timeCodeReadEnabled_; }
    const ASIOTime& asioTime() const { return asioTime_; }

    // The capture aggregator's batch callback: one packet per capturing port, then the buffer switch.
    static void BatchDelivery(const uint8_t* blocks, const int* sizes, int sourceCount, const int* portList,
                              double capturedAt, CMordane* owner);

private:
    // What the host said it supports, asked before any lock is taken.
    struct HostNotices {
        bool latencies = false;
        bool overload = false;
    };
    // How a port streams for the host's buffers.
    struct PortUse {
        bool records = false;   // the host has buffers for some of its inputs
        bool plays = false;     // and for some of its outputs
        bool captures = false;  // its capture runs: to record, to pace the switch or to tell its clock
    };

    static LRESULT SendPrivateMessage(HWND window);
    // The host mode: the stored "UseDefaultDevices" when set, else the host's reply.
    void ChooseHostMode();
    // The host mode, then the port table and the settings for it, published; under callLock_.
    void BuildForHost(_sSettings settings);
    bool Prepared() const { return hasCallbacks_ || activeInputCount_ > 0 || activeOutputCount_ > 0 || running_; }
    ASIOError StartLocked(HostNotices notices);
    ASIOError CreateBuffersLocked(ASIOBufferInfo* bufferInfos, long numChannels, long bufferSize,
                                  const ASIOCallbacks* callbacks, const ASIOCallbacks& copy, bool timeInfo);
    // The channels the host uses may have changed: the callback window refreshes an open panel.
    void TellCallbackWindow() const;
    ASIOError StartStreams();
    PortUse UseOf(int port) const;
    // With "ClockSync", every port but the first capturing one (the reference) follows that
    // port's clock: ports with inputs capture whenever they play, so that their clock is known;
    // a port that only plays is paced by its render stream, on the endpoint back end. Null when
    // the port is not to follow.
    CClockFollower* MakeFollower(int port);
    // Whether the port's slot is set to capture.
    bool SlotCaptures(int port) const;
    // Every port's levels on its interface's own mixer, and its automatic gain off.
    void ApplyHardwareLevels();
    // Whether the endpoint back end carries the streams: chosen, and the system has the API.
    bool EndpointStreams() const { return settings_.useEndpointBackend && endpointApiAvailable_; }
    void StopLocked();
    void RunBufferSwitch();
    // The host's outputs of buffer half index into the ports' render blocks, with direct
    // monitoring, and on to the streams.
    void HandOverOutputs(int index);
    // Whether the caller is the host's buffer switch (or a notice sent from it): the streams
    // cannot be torn down under the thread that runs them.
    bool InBufferSwitch() const { return switchThread_.load() == GetCurrentThreadId(); }
    // The latencies of the streams as they are opened: probed before they run (probe), else read
    // from the running streams. Published for getLatencies.
    void PlanLatencies(bool probe);
    // kAsioLatenciesChanged, to a host that takes it, when the last start or rate change moved
    // the latencies. Called with no driver lock held.
    void TellHostOfLatencies(const ASIOCallbacks& callbacks, HostNotices notices);
    void TellHostOfFaults();
    void NoteLostStreams();
    void StopSlots();
    void PublishPosition(double samplePosition, uint64_t systemTimeNs);
    uint8_t* RenderBlock(int port) const;
    int MeterIndex(int index) const { return panelMetering_ ? index : -1; }
    void ApplyPrivateMessageReply(LRESULT reply);
    // BuildPorts and LoadSettings into the given table, with the host mode as it stands.
    void BuildPortTable(_sSettings& settings, _sPort* ports, int& portCount, PortInventory& inventory);
    void ForgetCallbackWindow();
    void SetErrorMessage(const std::wstring& text);
    void FreeHostBuffers();
    void DestroyAfterSwitch();
    static DWORD WINAPI DestroyThread(void* self);

    IDevicePlatform& platform_;
    const CSettingsKey& hostKey_;
    const CSettingsKey& defaultKey_;
    const CSettingsStore settingsStore_;
    const CLanguages languages_;

    std::unique_ptr<CEngineSlot[]> engineSlots_;
    UniqueHandle startedEvent_;
    bool endpointApiAvailable_ = false;
    bool useDefaultDevices_ = false;
    bool defaultDevicesOnly_ = false;
    std::unique_ptr<CKnownDeviceTable> knownDevices_;
    ASIODriverInfo driverInfo_ = {};
    PortInventory inventory_;
    std::unique_ptr<_sPort[]> ports_;
    int portCount_ = 0;
    HWND hostWindow_ = nullptr;
    _sSettings settings_;

    int activeInputCount_ = 0;
    int activeOutputCount_ = 0;
    _sActiveChannel activeInputs_[kMaxActiveChannels];
    _sActiveChannel activeOutputs_[kMaxActiveChannels];
    std::unique_ptr<uint8_t[]> hostInputBuffers_[kMaxActiveChannels];
    std::unique_ptr<uint8_t[]> hostOutputBuffers_[kMaxActiveChannels];

    // A copy: some hosts pass the address of a temporary.
    ASIOCallbacks callbacks_ = {};
    bool hasCallbacks_ = false;

    mutable CCriticalSection callLock_;
    mutable CCriticalSection queryLock_;
    CCriticalSection handOverLock_;
    // Half of the switch whose output is still to be handed over, as (switch number << 1) | half;
    // 0 when there is none.
    std::atomic<uint64_t> pendingHandOver_{0};
    bool handOverOpen_ = false;  // under handOverLock_: the render streams take blocks

    ASIOTime asioTime_ = {};
    bool timeInfoMode_ = false;
    HostNotices notices_;
    std::atomic<int64_t> switchCount_{0};  // since start
    uint64_t faultsSeen_ = 0;
    std::atomic<DWORD> switchThread_{0};
    // getSamplePosition's pair, written by the switch and read from any thread: an odd
    // positionSequence_ means a write is under way.
    std::atomic<uint32_t> positionSequence_{0};
    std::atomic<double> samplePosition_{0.0};
    std::atomic<uint64_t> systemTimeNs_{0};
    int bufferIndex_ = 0;
    std::atomic<bool> running_{false};
    std::atomic<bool> streamsLost_{false};
    bool timeCodeReadEnabled_ = false;
    // The latencies getLatencies answers, and whether the last start or rate change moved them.
    long inputLatency_ = 0;
    long outputLatency_ = 0;
    bool latenciesMoved_ = false;
    DWORD stopWaitMs_ = CEngineSlot::kStopWaitMs;
    bool stranded_ = false;
    std::vector<std::unique_ptr<uint8_t[]>> retiredBuffers_;
    std::vector<std::unique_ptr<CCaptureAggregator>> retiredAggregators_;
    // The running streams' followers; kept, like the aggregator, while a stranded thread may
    // still pull from them.
    std::vector<std::unique_ptr<CClockFollower>> followers_;
    std::vector<std::unique_ptr<CClockFollower>> retiredFollowers_;
    std::atomic<bool> releasedInSwitch_{false};
    HMODULE destroyModule_ = nullptr;  // held by the thread that destroys after a switch
    class CSysTrayWnd* callbackWindow_ = nullptr;  // owns itself; told when the driver goes
    // Interfaces and chosen devices found by the last build of the port table, installed or not.
    std::vector<std::wstring> gatheredDevices_;
    // Set by the panel's thread, read by it under callLock_ at the panel's OK.
    bool deviceChoiceStored_ = false;
    const int directProcess_ = 1;
    const int outputReadySupported_ = 1;
    const int timeCodeSupported_ = 1;

    // Written by the panel's thread, read on the audio path: one word.
    volatile int panelMetering_ = 0;
    std::unique_ptr<CCaptureAggregator> aggregator_;
    std::unique_ptr<uint8_t[]> renderBlocks_;
    std::unique_ptr<uint8_t[]> captureBlocks_;
    int captureBlockSizes_[kMaxPorts] = {};
};
