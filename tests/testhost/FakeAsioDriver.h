// A scripted IASIO driver for host tests: answers set by the test, a log of the calls it
// receives, counted references, and a thread of its own that calls the host back as a driver's
// capture thread does.
#pragma once

#include <asio/Asio.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

// Channel names for the fake to answer: prefix followed by 1, 2, … count.
inline std::vector<std::string> Names(const char* prefix, int count)
{
    std::vector<std::string> names;
    for (int i = 1; i <= count; ++i) names.push_back(prefix + std::to_string(i));
    return names;
}

class CFakeAsioDriver : public IASIO {
public:
    CFakeAsioDriver() = default;
    CFakeAsioDriver(const CFakeAsioDriver&) = delete;
    CFakeAsioDriver& operator=(const CFakeAsioDriver&) = delete;

    // Scripted answers.
    ASIOBool initResult = ASIOTrue;
    std::wstring hardwareText = L"Octa X (USB 1)";
    bool unterminatedHardwareText = false;   // fills the whole 4096-byte buffer, no terminator
    long preferredSize = 512;
    ASIOError bufferSizeResult = ASE_OK;
    ASIOError setSampleRateResult = ASE_OK;  // an error keeps the rate it has
    std::vector<std::string> inputNames;
    std::vector<std::string> outputNames;
    ASIOError channelsResult = ASE_OK;
    ASIOSampleType sampleType = ASIOSTInt32LSB;
    ASIOError createBuffersResult = ASE_OK;
    ASIOError channelInfoResult = ASE_OK;   // once buffers exist
    ASIOError outputReadyResult = ASE_OK;
    ASIOError samplePositionResult = ASE_OK;

    // What the host did.
    std::vector<std::string> Calls() const;
    int CountOf(const std::string& call) const;
    void Log(const std::string& call);
    long References() const { return references_; }
    bool OverReleased() const { return overReleased_; }
    void* initHandle = nullptr;
    double sampleRate = 0;
    std::vector<ASIOBufferInfo> created;
    long createdSize = 0;
    ASIOCallbacks* callbacks = nullptr;
    // The half `index` of the buffer createBuffers gave entry k.
    void* Buffer(size_t k, long index);

    // On the driver's own thread; false when the host handed over no callbacks.
    bool SwitchBuffers(long index);
    bool SwitchBuffersWithTimeInfo(long index);
    bool Message(long selector, long value, long& reply);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IASIO
    ASIOBool ASIOMETHODCALLTYPE init(void* sysHandle) override;
    void ASIOMETHODCALLTYPE getDriverName(char* name) override;
    long ASIOMETHODCALLTYPE getDriverVersion() override;
    void ASIOMETHODCALLTYPE getErrorMessage(char* string) override;
    ASIOError ASIOMETHODCALLTYPE start() override;
    ASIOError ASIOMETHODCALLTYPE stop() override;
    ASIOError ASIOMETHODCALLTYPE getChannels(long* numInputChannels, long* numOutputChannels) override;
    ASIOError ASIOMETHODCALLTYPE getLatencies(long* inputLatency, long* outputLatency) override;
    ASIOError ASIOMETHODCALLTYPE getBufferSize(long* minSize, long* maxSize, long* preferred,
                                              long* granularity) override;
    ASIOError ASIOMETHODCALLTYPE canSampleRate(ASIOSampleRate rate) override;
    ASIOError ASIOMETHODCALLTYPE getSampleRate(ASIOSampleRate* rate) override;
    ASIOError ASIOMETHODCALLTYPE setSampleRate(ASIOSampleRate rate) override;
    ASIOError ASIOMETHODCALLTYPE getClockSources(ASIOClockSource* clocks, long* numSources) override;
    ASIOError ASIOMETHODCALLTYPE setClockSource(long reference) override;
    ASIOError ASIOMETHODCALLTYPE getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp) override;
    ASIOError ASIOMETHODCALLTYPE getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError ASIOMETHODCALLTYPE createBuffers(ASIOBufferInfo* infos, long numChannels, long bufferSize,
                                              ASIOCallbacks* hostCallbacks) override;
    ASIOError ASIOMETHODCALLTYPE disposeBuffers() override;
    ASIOError ASIOMETHODCALLTYPE controlPanel() override;
    ASIOError ASIOMETHODCALLTYPE future(long selector, void* opt) override;
    ASIOError ASIOMETHODCALLTYPE outputReady() override;

private:
    template <class Call>
    bool OnDriverThread(Call call);

    mutable std::mutex lock_;
    std::vector<std::string> calls_;
    std::atomic<long> references_{0};
    std::atomic<bool> overReleased_{false};
    std::vector<std::vector<char>> memory_;   // two halves per created buffer
};
