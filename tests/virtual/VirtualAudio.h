// Virtual audio endpoints behind IMMDeviceEnumerator: devices with property stores (interface
// path, friendly name, stored formats), audio clients in exclusive and shared event-driven mode
// with Windows' error codes, capture and render services, and endpoint volumes.
//
// Each endpoint has its own clock, a rate error in ppm against the system's reference clock.
// Tests step the reference clock with Advance; a running stream reaches the end of a device period
// when its own clock says so, and then its capture buffer is filled from the endpoint's signal
// generator (or its render buffer is played into the endpoint's record) and its event signalled.
// In lockstep (the default) Advance waits after each period until the client has served it, so
// that what streams is decided by the clocks alone, never by thread timing.
//
// Knows nothing of USB: tests put it behind a device platform of their own.
#pragma once

#include <windows.h>
#include <mmreg.h>
#include <mmdeviceapi.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace VirtualAudio {
struct State;
}

struct VirtualFormat {
    int rate;
    int bits;  // container and valid bits
    int channels;
};

// What a capture endpoint's generator produces on one channel, in the stream's sample size.
struct VirtualSignal {
    enum class Kind { Silence, Ramp, Sine };
    Kind kind = Kind::Ramp;
    int64_t start = 1;  // ramp: sample n is start + step × n, wrapped to the sample size
    int64_t step = 1;
    double frequency = 1000.0;  // sine, Hz at the stream's rate
    double amplitude = 0.5;     // sine, of full scale

    static VirtualSignal Ramp(int64_t start, int64_t step = 1);
    static VirtualSignal Sine(double frequency, double amplitude);
    static VirtualSignal Silence();
    // Sample n of this signal at rate with bits per sample.
    int32_t Sample(int64_t n, int rate, int bits) const;
};

struct VirtualInitializeCall {
    bool exclusive;
    DWORD flags;
    LONGLONG duration;
    LONGLONG periodicity;
    int rate;
    int bits;
    int channels;
    HRESULT result;
    uint32_t bufferFrames;  // what GetBufferSize answers afterwards, 0 when nothing
};

struct VirtualFormatQuery {  // one IsFormatSupported call
    bool exclusive;
    int rate;
    int bits;
    int channels;
};

struct VirtualStreamStats {
    int64_t periods = 0;         // device periods of running streams
    int64_t frames = 0;          // captured into, or played from, the client's buffer
    int64_t underruns = 0;       // render periods with less than a period written in time
    int64_t overruns = 0;        // capture packets lost because the client had not read them
    int64_t refused = 0;         // buffer calls of the services answered with an error
    int starts = 0;
    int clients = 0;             // audio clients activated
};

// Another program's use of an endpoint.
enum class VirtualOtherProgram {
    None,
    Shared,     // streams shared and does not give way: exclusive clients are refused
    Exclusive,  // holds it exclusively: every client is refused
};

struct VirtualVolume {
    bool present = true;  // false: the endpoint has no IAudioEndpointVolume (many USB microphones)
    int channels = 0;
    float levels[8] = {};
    bool muted = false;
    int levelChanges = 0;
    int muteChanges = 0;
};

class CVirtualAudioSystem {
public:
    using EndpointId = int;

    explicit CVirtualAudioSystem(int referenceRate = 48000);
    ~CVirtualAudioSystem();
    CVirtualAudioSystem(const CVirtualAudioSystem&) = delete;
    CVirtualAudioSystem& operator=(const CVirtualAudioSystem&) = delete;

    // An active endpoint. Its name is "Speakers (friendlyName)" or "Microphone (friendlyName)",
    // its adapter's friendlyName. The path, when not empty, is a string property as Windows stores
    // the interface path; exclusiveFormats empty means 44100 and 48000 Hz at 16 and 24 bits with
    // `channels` channels. The mix format is 48000 Hz float with `channels` channels. A path
    // naming a known product's USB ids gives the endpoint that product's buffer alignment and
    // device periods; any other, an HD Audio codec's (128 bytes, 10 ms default, 3 ms minimum).
    EndpointId AddEndpoint(EDataFlow flow, const std::wstring& path, const std::wstring& friendlyName, int channels,
                           std::vector<VirtualFormat> exclusiveFormats = {});
    void SetDefault(EDataFlow flow, EndpointId endpoint);
    // An endpoint that leaves the active state stops the clocks of its running streams, whose
    // buffer and padding calls then answer AUDCLNT_E_DEVICE_INVALIDATED, as after a removal.
    void SetState(EndpointId endpoint, DWORD state);

    // Properties, appended in store order (an existing key is replaced in place).
    void SetStringProperty(EndpointId endpoint, const PROPERTYKEY& key, const std::wstring& value);
    void SetBlobProperty(EndpointId endpoint, const PROPERTYKEY& key, const std::vector<uint8_t>& value);
    std::vector<uint8_t> BlobProperty(EndpointId endpoint, const PROPERTYKEY& key) const;
    // Opening the store for writing fails with E_ACCESSDENIED, as for a user without rights.
    void SetStoreReadOnly(EndpointId endpoint, bool readOnly);
    int Commits(EndpointId endpoint) const;

    // Audio client behaviour.
    void SetAlignment(EndpointId endpoint, int bytes);  // exclusive buffers in multiples of it; 0 = any
    // GetDevicePeriod's answers; exclusive periods outside minimum..maximum are refused. The
    // maximum is the system's 5000 ms unless a test narrows it.
    void SetPeriods(EndpointId endpoint, LONGLONG defaultPeriod, LONGLONG minimumPeriod,
                    LONGLONG maximumPeriod = 50000000);
    // The user's "Allow applications to take exclusive control of this device".
    void SetExclusiveAllowed(EndpointId endpoint, bool allowed);
    void SetOtherProgram(EndpointId endpoint, VirtualOtherProgram use);
    void SetMixFormat(EndpointId endpoint, int rate, int channels);
    // IsFormatSupported and Initialize in exclusive mode answer these (S_OK = decided by format).
    void RefuseExclusive(EndpointId endpoint, HRESULT isFormatSupported, HRESULT initialize);
    // The next `times` Initialize calls, in either mode, fail with result.
    void FailInitialize(EndpointId endpoint, HRESULT result, int times = 1);
    void SetExtraLatency(EndpointId endpoint, LONGLONG latency);  // added to GetStreamLatency
    // A cable from render's output to capture's input: capture records what render played, once
    // each side's converter delay (its extra latency) has passed. Both at the reference's nominal
    // rate, each on its own clock.
    void SetLoopback(EndpointId capture, EndpointId render);
    // A change while streaming takes effect from the stream's last period end, so the device's
    // position stays continuous (audio clients; pins recompute their position from their start).
    void SetRateError(EndpointId endpoint, double ppm);
    void SetSignal(EndpointId endpoint, int channel, const VirtualSignal& signal);
    void ReserveRecord(EndpointId endpoint, size_t bytes);  // so that playing does not allocate

    // In lockstep a capture period counts as served only once consumed() is true as well: what the
    // client made of the packet (a buffer switch and its hand-over) has happened before the next
    // endpoint's period ends. consumed must not block.
    void SetConsumed(EndpointId capture, std::function<bool()> consumed);
    // The stream thread of the endpoint's next period end is woken referenceFrames late, as by a
    // busy system: period ends meanwhile wake it no sooner, so it finds their packets waiting too.
    // In lockstep the wait is served until the wake comes.
    void DelayWake(EndpointId endpoint, int64_t referenceFrames);

    // Kernel-streaming pins on an endpoint's clock, its rate error and its signal or record. done
    // runs under the system's lock when a request completes (bytes captured or played); it must
    // neither block nor call back into the system.
    using PinDone = std::function<void(uint64_t token, uint32_t bytes)>;
    int OpenPin(EndpointId endpoint, int rate, int bits, int channels, PinDone done);
    void RunPin(int pin, bool run);
    // Frames the device had to skip since the last request (no request pending) are lost, or
    // played as silence.
    void QueuePinRequest(int pin, uint64_t token, uint8_t* data, uint32_t bytes);
    // Takes back the request with this token, or every one for token 0, if not yet completed.
    std::vector<uint64_t> CancelPinRequests(int pin, uint64_t token);
    void ClosePin(int pin);

    // The reference clock.
    void SetLockstep(bool lockstep);
    void Advance(int64_t referenceFrames);
    int64_t Now() const;
    int referenceRate() const;
    // Until every running stream has served its last period; false after timeoutMs.
    bool WaitUntilServed(DWORD timeoutMs = 5000) const;
    // The same for the streams of one endpoint, whatever the others do.
    bool WaitUntilServed(EndpointId endpoint, DWORD timeoutMs = 5000) const;
    int Stalls() const;  // lockstep waits that ran out

    // What happened.
    // A running stream; a capture pin only once the driver has queued a read.
    bool IsStreaming(EndpointId endpoint) const;
    bool WaitUntilStreaming(EndpointId endpoint, DWORD timeoutMs = 5000) const;
    std::vector<VirtualInitializeCall> InitializeCalls(EndpointId endpoint) const;
    std::vector<VirtualFormatQuery> FormatQueries(EndpointId endpoint) const;
    std::vector<uint8_t> Rendered(EndpointId endpoint) const;
    // The record since the last take, no longer kept, so that long runs are checked piece by
    // piece; a loopback from the endpoint hears nothing taken.
    std::vector<uint8_t> TakeRendered(EndpointId endpoint);
    VirtualStreamStats Stats(EndpointId endpoint) const;
    VirtualVolume Volume(EndpointId endpoint) const;
    void SetVolume(EndpointId endpoint, float level, bool muted);
    void RemoveVolumeControl(EndpointId endpoint);
    std::wstring DeviceId(EndpointId endpoint) const;

    // Every COM object the system made, and those still alive.
    long CreatedObjects() const;
    long LiveObjects() const;

    HRESULT CreateEnumerator(IMMDeviceEnumerator** enumerator);

private:
    std::shared_ptr<VirtualAudio::State> state_;
};
