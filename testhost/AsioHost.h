// The test host's side of the ASIO contract: creates the one driver it knows by class id, reads
// its channels, creates the buffers, starts and stops it, and answers its callbacks.
#pragma once

#include "HostBuffers.h"

#include <veloran/ComPtr.h>
#include <veloran/UniqueHandle.h>

#include <windows.h>

#include <functional>
#include <string>

constexpr UINT kHostStartupMessage = WM_USER + 1;   // posted by the dialog to itself
constexpr UINT kHostResetMessage = WM_USER + 2;     // posted on a driver reset request
constexpr long kHardwareQueryMarker = 12345;
constexpr int kOfferedBufferSizes[] = {128, 256, 512, 1024};
constexpr int kDefaultBufferSize = 512;

struct HostChannel {
    ASIOChannelInfo info{};
    std::wstring displayName;
};

// What LoadDriver found, for the dialog to show.
enum class DriverLoad {
    Failed,       // CoCreateInstance or init failed; no driver is held
    NoHardware,   // loaded, the driver sees no hardware
    Hardware,     // loaded with hardware
};

// Creates the driver object; CoCreateInstance of the built-in class id unless a test puts its own.
using DriverFactory = std::function<HRESULT(IASIO** driver)>;

class CAsioHost {
public:
    // dialog receives the reset message and is handed to init; processor does each block's work.
    CAsioHost(HWND dialog, IHostBlockProcessor& processor, DriverFactory factory = {});
    ~CAsioHost();
    CAsioHost(const CAsioHost&) = delete;
    CAsioHost& operator=(const CAsioHost&) = delete;

    // preferred: written as the driver's preferred buffer size before it is created, -1 to
    // leave the stored value. hardwareText gets the driver's hardware description (empty when
    // there is none or loading failed; the dialog chooses the text it shows).
    DriverLoad LoadDriver(long preferred, std::wstring& hardwareText);
    bool Loaded() const { return static_cast<bool>(driver_); }
    // The loaded driver, for reading its name and version; null when none is loaded.
    IASIO* Driver() const { return driver_.Get(); }
    // The driver's preferred size from getBufferSize, 0 when none is loaded.
    long DriverPreferredBufferSize() const;

    void ReadChannels();
    int InputCount() const { return inputCount_; }
    int OutputCount() const { return outputCount_; }
    const HostChannel& Input(int i) const { return inputs_[i]; }
    const HostChannel& Output(int j) const { return outputs_[j]; }

    // Nothing without a driver.
    void StartAsio(int sampleRate, long bufferSize);
    // The rate the stream runs at: the one asked for, or the driver's own when it refused it.
    ASIOSampleRate SampleRate() const { return sampleRate_; }
    void StopAsio();
    bool Running() const;
    // Stops and releases the driver.
    void Unload();
    void OpenControlPanel();

    const HostBufferBlock& Buffers() const { return buffers_; }
    ASIOError LastResult() const { return lastResult_; }

    // The reply to each asioMessage selector (the reset request also posts kHostResetMessage).
    long AsioMessage(long selector, long value);

    // "Software\ASIO\Asio 2.0 Veloran Driver\<host>\Parameters" for this executable.
    static std::wstring PreferredSizeKeyPath();

private:
    // The driver's callbacks carry no context: they reach the active host through a process-wide
    // pointer.
    static void OnBufferSwitch(long index, ASIOBool processNow);
    static void OnSampleRateDidChange(ASIOSampleRate rate);
    static long OnAsioMessage(long selector, long value, void* message, double* opt);
    static ASIOTime* OnBufferSwitchTimeInfo(ASIOTime* time, long index, ASIOBool processNow);
    static DWORD WINAPI RunThread(void* host);

    void ReleaseDriver();
    DriverLoad QueryHardware(std::wstring& hardwareText);
    void ReadChannel(HostChannel& channel, long number, bool input);
    void CreateBuffers(long bufferSize);
    void StopDriver();

    // Implementation-defined members.
    HWND dialog_;
    IHostBlockProcessor& processor_;
    DriverFactory factory_;
    ComPtr<IASIO> driver_;
    HostChannel inputs_[kHostMaxChannels];
    HostChannel outputs_[kHostMaxChannels];
    int inputCount_ = 0;
    int outputCount_ = 0;
    HostBufferBlock buffers_;
    ASIOError lastResult_ = ASE_OK;
    ASIOSampleRate sampleRate_ = 0;
    ASIOCallbacks callbacks_{};
    // Auto-reset handshake with the run thread, whose handle marks a running stream.
    UniqueHandle stopRequest_;
    UniqueHandle stopped_;
    UniqueHandle runThread_;
};
