#include "../support/AllocationCounter.h"
#include "../support/NullDevicePlatform.h"
#include "../virtual/VirtualAudio.h"

#include <core/CaptureAggregator.h>
#include <devices/DeviceIds.h>
#include <devices/EndpointBackend.h>

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <atomic>
#include <cstring>
#include <vector>

namespace {

using Mode = EndpointStreamMode;

// The virtual audio system as the only device service there is.
class CVirtualAudioPlatform final : public CNullDevicePlatform {
public:
    explicit CVirtualAudioPlatform(CVirtualAudioSystem& audio) : audio_(audio) {}

    HRESULT CreateEndpointEnumerator(IMMDeviceEnumerator** enumerator) override
    {
        if (!endpointApi) {
            *enumerator = nullptr;
            return REGDB_E_CLASSNOTREG;
        }
        return audio_.CreateEnumerator(enumerator);
    }

    bool endpointApi = true;

private:
    CVirtualAudioSystem& audio_;
};

std::wstring UsbPath(const wchar_t* interfaceClass, int unit)
{
    return L"\\\\?\\USB#VID_08BB&PID_2902&MI_0" + std::to_wstring(unit) + L"#7&2f4c1d3a&0&0000#" + interfaceClass +
           L"\\global";
}
const wchar_t kCaptureClass[] = L"{65e8773d-8f56-11d0-a3b9-00a0c9223196}";
const wchar_t kRenderClass[] = L"{65e8773e-8f56-11d0-a3b9-00a0c9223196}";

_sStreamParams Params(int rate, int channels, int frames, CCaptureAggregator* sink = nullptr)
{
    _sStreamParams params;
    params.sampleRate = rate;
    params.channels = channels;
    params.framesPerPacket = frames;
    params.captureSink = sink;
    return params;
}

// 16-bit interleaved frames first..first+frames of ramps start[c] + step[c] × n.
std::vector<uint8_t> Ramp16(int64_t first, int64_t frames, std::vector<int> start, std::vector<int> step)
{
    std::vector<uint8_t> bytes;
    for (int64_t n = first; n < first + frames; ++n) {
        for (size_t c = 0; c < start.size(); ++c) {
            const auto sample = uint16_t(start[c] + step[c] * n);
            bytes.push_back(uint8_t(sample));
            bytes.push_back(uint8_t(sample >> 8));
        }
    }
    return bytes;
}

int FramesAt(LONGLONG duration, int rate) { return int((duration * rate + 5000000) / 10000000); }

int ThreadCount()
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
    return count;
}

// Until done() holds, for at most five seconds; for what another thread does.
template <class Done>
bool Eventually(Done done)
{
    for (int waited = 0; waited < 5000 && !done(); ++waited) Sleep(1);
    return done();
}

// The engine's side of the streams: an aggregator whose packets are recorded and, when asked,
// handed straight back to the render stream as the engine's outputReady would.
class CEngineSide {
public:
    explicit CEngineSide(size_t reserveBytes = 1 << 22)
        : blocks_(size_t(kCaptureBlockCount) * kCaptureBlockBytes),
          aggregator(&Batch, reinterpret_cast<CMordane*>(this), blocks_.data(), sizes_)
    {
        captured.reserve(reserveBytes);
    }

private:
    std::vector<uint8_t> blocks_;
    int sizes_[kCaptureBlockCount] = {};

public:
    CCaptureAggregator aggregator;
    CEndpointBackend* loopTo = nullptr;
    std::atomic<int> silentBatches{0};  // batches up to this one hand nothing over, as an engine behind
    std::vector<uint8_t> captured;
    std::atomic<int> batches{0};
    std::atomic<int> emptyBatches{0};
    // While reset, each batch waits in here, as a buffer switch that blocks inside the host.
    UniqueHandle open{CreateEventW(nullptr, TRUE, TRUE, nullptr)};

private:
    static void Batch(const uint8_t* blocks, const int* sizes, int, const int*, double, CMordane* owner)
    {
        auto* self = reinterpret_cast<CEngineSide*>(owner);  // the aggregator only passes its owner on
        ++self->batches;
        WaitForSingleObject(self->open.get(), 10000);
        if (sizes[0] == 0) {
            ++self->emptyBatches;
            return;
        }
        self->captured.insert(self->captured.end(), blocks, blocks + sizes[0]);
        if (self->loopTo && self->batches > self->silentBatches) self->loopTo->DeliverRender(blocks, sizes[0]);
    }
};

WAVEFORMATEXTENSIBLE StoredFormat(WORD cbSize)
{
    WAVEFORMATEXTENSIBLE format = {};
    format.Format.wFormatTag = cbSize == 22 ? WAVE_FORMAT_EXTENSIBLE : 3;  // float
    format.Format.nChannels = 2;
    format.Format.nSamplesPerSec = 48000;
    format.Format.wBitsPerSample = 32;
    format.Format.nBlockAlign = 8;
    format.Format.nAvgBytesPerSec = 384000;
    format.Format.cbSize = cbSize;
    format.Samples.wValidBitsPerSample = 32;
    format.dwChannelMask = 3;
    format.SubFormat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    return format;
}

std::vector<uint8_t> Bytes(const WAVEFORMATEXTENSIBLE& format)
{
    const auto* raw = reinterpret_cast<const uint8_t*>(&format);
    return std::vector<uint8_t>(raw, raw + sizeof(format));
}

class EndpointBackendTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // GoogleTest's thread-local storage starts a watcher thread on first use; not ours to count.
        { SCOPED_TRACE("warm-up"); }
        baseThreads = ThreadCount();
    }
    void TearDown() override
    {
        backend.reset();
        EXPECT_EQ(audio.LiveObjects(), leaked) << "COM references left behind";
        EXPECT_EQ(ThreadCount(), baseThreads) << "stream threads left behind";
        EXPECT_EQ(audio.Stalls(), 0) << "a stream did not serve a device period";
    }

    // Owned here, so that they outlive every stream that delivers to them. Each open needs its own
    // aggregator, as each engine start makes a new one.
    CEngineSide& NewEngine()
    {
        engines.push_back(std::make_unique<CEngineSide>());
        return *engines.back();
    }

    CEndpointBackend& Make(int shareMode = CEndpointBackend::kExclusiveOrShared, bool ntSixMode = false,
                           bool tenOrLater = true)
    {
        backend = CEndpointBackend::Create(platform, ntSixMode, tenOrLater, shareMode);
        EXPECT_TRUE(backend);
        return *backend;
    }

    // A capture and a render endpoint of one interface, both stereo unless told otherwise.
    void AddInterface(int unit = 0, int channels = 2)
    {
        capturePath = UsbPath(kCaptureClass, unit);
        renderPath = UsbPath(kRenderClass, unit);
        capture = audio.AddEndpoint(eCapture, capturePath, L"Lumo In " + std::to_wstring(unit), channels);
        render = audio.AddEndpoint(eRender, renderPath, L"Lumo Out " + std::to_wstring(unit), channels);
        audio.SetSignal(capture, 0, VirtualSignal::Ramp(1));
        audio.SetSignal(capture, 1, VirtualSignal::Ramp(-30000, 3));
    }

    bool Open(CEngineSide& engine, int rate = 48000, int frames = 512, bool withCapture = true, bool withRender = true)
    {
        SetEvent(start.get());
        const int channels = audio.Volume(capture).channels;
        return backend->OpenAndStart(withCapture ? capturePath : L"", Params(rate, channels, frames, &engine.aggregator),
                                     withRender ? renderPath : L"", Params(rate, channels, frames), start.get());
    }

    void AdvancePeriods(int periods, int frames = 512) { audio.Advance(int64_t(periods) * frames); }
    // An exclusive capture stream whose thread is inside the sink's first batch and stays there
    // until engine.open is set.
    void BlockCaptureInSink(CEngineSide& engine)
    {
        AddInterface();
        Make(CEndpointBackend::kExclusiveOnly);
        ASSERT_TRUE(Open(engine, 48000, 512, true, false));
        ASSERT_TRUE(audio.WaitUntilStreaming(capture));
        audio.SetLockstep(false);
        ResetEvent(engine.open.get());
        AdvancePeriods(1);
        ASSERT_TRUE(Eventually([&] { return engine.batches.load() == 1; }));
    }

    CVirtualAudioSystem audio;
    CVirtualAudioPlatform platform{audio};
    std::vector<std::unique_ptr<CEngineSide>> engines;
    std::unique_ptr<CEndpointBackend> backend;
    UniqueHandle start{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    int baseThreads = 0;
    long leaked = 0;  // what a test left behind on purpose
    int capture = -1, render = -1;
    std::wstring capturePath, renderPath;
};

TEST_F(EndpointBackendTest, ExistsOnlyWhereTheEndpointEnumeratorCanBeCreated)
{
    platform.endpointApi = false;
    EXPECT_FALSE(CEndpointBackend::Create(platform, false, true, 1));
    platform.endpointApi = true;
    EXPECT_TRUE(CEndpointBackend::Create(platform, false, true, 1));
}

TEST_F(EndpointBackendTest, ListsActiveEndpointsByTheirUsbInterfacePathInStoredCase)
{
    const std::wstring lowerCase = L"\\\\?\\usb#vid_0d8c&pid_0134&mi_00#6&1b2c3d4e&0&0000#{65e8773e}\\global";
    audio.AddEndpoint(eRender, lowerCase, L"Strym", 2);
    const int b = audio.AddEndpoint(eCapture, L"", L"Strym In", 2);
    // An instance id without the "\\?\" prefix comes first; the path after it counts.
    audio.SetStringProperty(b, {{0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}}, 1}, L"USB\\VID_0D8C&PID_0134\\5&abc");
    audio.SetStringProperty(b, {{0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}}, 2}, UsbPath(kCaptureClass, 3));
    audio.AddEndpoint(eRender, L"\\\\?\\SWD#MMDEVAPI#{0.0.0.00000000}.{fd47d9cc}", L"Speakers", 2);
    audio.AddEndpoint(eCapture, L"", L"Line In", 2);
    audio.AddEndpoint(eRender, L"\\\\?\\HDAUDIO#VID_10EC&DEV_0892", L"Realtek", 2);  // no "USB", no "PID"
    const int unplugged = audio.AddEndpoint(eRender, UsbPath(kRenderClass, 7), L"Unplugged", 2);
    audio.SetState(unplugged, DEVICE_STATE_UNPLUGGED);

    Make();
    std::vector<std::wstring> renders, captures;
    EXPECT_TRUE(backend->ListEndpoints(renders, captures));
    EXPECT_EQ(renders, std::vector<std::wstring>{lowerCase});
    EXPECT_EQ(captures, std::vector<std::wstring>{UsbPath(kCaptureClass, 3)});

    CVirtualAudioSystem none;
    CVirtualAudioPlatform nonePlatform(none);
    none.AddEndpoint(eRender, L"\\\\?\\SWD#MMDEVAPI#x", L"Speakers", 2);
    renders.clear();
    EXPECT_FALSE(CEndpointBackend::Create(nonePlatform, false, true, 1)->ListEndpoints(renders, captures));
    EXPECT_TRUE(renders.empty());
}

TEST_F(EndpointBackendTest, FindsEndpointsByExactPathAndTheDefaultOnesByTheirPath)
{
    AddInterface();
    const std::wstring softwarePath = L"\\\\?\\SWD#MMDEVAPI#{0.0.0.00000000}.{fd47d9cc}#{e6327cad}";
    const int speakers = audio.AddEndpoint(eRender, softwarePath, L"Speakers", 2);
    Make();

    ComPtr<IMMDevice> device;
    std::wstring name;
    ASSERT_TRUE(backend->FindEndpoint(eCapture, capturePath, device, &name));
    EXPECT_EQ(name, L"Lumo In 0");
    LPWSTR id = nullptr;
    ASSERT_EQ(device->GetId(&id), S_OK);
    EXPECT_EQ(std::wstring(id), audio.DeviceId(capture));
    CoTaskMemFree(id);
    std::wstring upper = capturePath;
    upper[upper.size() - 1] = L'L';  // "globaL"
    EXPECT_FALSE(backend->FindEndpoint(eCapture, upper, device));
    EXPECT_FALSE(device);
    EXPECT_FALSE(backend->FindEndpoint(eRender, capturePath, device)) << "the path of the other flow";
    EXPECT_FALSE(backend->FindEndpoint(eCapture, L"", device));

    std::wstring path;
    EXPECT_FALSE(backend->GetDefaultEndpoint(eRender, path, name)) << "no default yet";
    audio.SetDefault(eRender, speakers);
    ASSERT_TRUE(backend->GetDefaultEndpoint(eRender, path, name));
    EXPECT_EQ(path, softwarePath);
    EXPECT_EQ(name, L"Speakers");
    const int plain = audio.AddEndpoint(eCapture, L"", L"Microphone", 1);
    audio.SetDefault(eCapture, plain);
    EXPECT_FALSE(backend->GetDefaultEndpoint(eCapture, path, name)) << "a default without a \\\\?\\ path";
    EXPECT_TRUE(path.empty());
}

TEST_F(EndpointBackendTest, ProbesTheFourLayoutsInOrderAnd24BitsOnlyFromWindowsTen)
{
    AddInterface();
    audio.AddEndpoint(eCapture, UsbPath(kCaptureClass, 5), L"Mono", 1, {{44100, 16, 1}});
    audio.AddEndpoint(eRender, UsbPath(kRenderClass, 6), L"Odd", 2, {{48000, 16, 2}, {48000, 24, 1}});
    EndpointFormat format;

    Make(CEndpointBackend::kExclusiveOnly, false, true);
    ASSERT_TRUE(backend->ProbeFormats(eCapture, capturePath, format));
    EXPECT_EQ(std::vector<int>({format.minRate, format.maxRate, format.minBits, format.maxBits, format.channels}),
              std::vector<int>({44100, 48000, 16, 24, 2}));
    std::vector<std::vector<int>> asked;
    for (const VirtualFormatQuery& q : audio.FormatQueries(capture)) asked.push_back({q.exclusive, q.rate, q.bits, q.channels});
    EXPECT_EQ(asked, (std::vector<std::vector<int>>{{1, 44100, 16, 1}, {1, 44100, 16, 2}, {1, 48000, 16, 1},
                                                    {1, 48000, 16, 2}, {1, 44100, 24, 1}, {1, 44100, 24, 2},
                                                    {1, 48000, 24, 1}, {1, 48000, 24, 2}}));
    ASSERT_TRUE(backend->ProbeFormats(eCapture, UsbPath(kCaptureClass, 5), format));
    EXPECT_EQ(std::vector<int>({format.minRate, format.maxRate, format.maxBits, format.channels}),
              std::vector<int>({44100, 44100, 16, 1}));
    ASSERT_TRUE(backend->ProbeFormats(eRender, UsbPath(kRenderClass, 6), format));
    EXPECT_EQ(format.maxBits, 16) << "24 bits count only in stereo";
    EXPECT_FALSE(backend->ProbeFormats(eRender, UsbPath(kRenderClass, 9), format));

    Make(CEndpointBackend::kExclusiveOnly, false, false);
    const size_t before = audio.FormatQueries(render).size();
    ASSERT_TRUE(backend->ProbeFormats(eRender, renderPath, format));
    EXPECT_EQ(format.maxBits, 16);
    EXPECT_EQ(audio.FormatQueries(render).size() - before, 4u) << "no 24-bit format is even asked for";
}

TEST_F(EndpointBackendTest, ProbesWhatTheConvertingEngineTakesWhereStreamsWouldBeShared)
{
    AddInterface();
    audio.RefuseExclusive(capture, AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED, AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED);
    audio.SetMixFormat(capture, 44100, 6);
    audio.SetMixFormat(render, 48000, 1);
    EndpointFormat format;

    Make(CEndpointBackend::kExclusiveOnly);
    EXPECT_FALSE(backend->ProbeFormats(eCapture, capturePath, format));

    Make(CEndpointBackend::kExclusiveOrShared);
    ASSERT_TRUE(backend->ProbeFormats(eCapture, capturePath, format));
    EXPECT_EQ(std::vector<int>({format.minRate, format.maxRate, format.minBits, format.maxBits, format.channels}),
              std::vector<int>({44100, 48000, 16, 16, 2}));
    ASSERT_TRUE(backend->ProbeFormats(eRender, renderPath, format));
    EXPECT_EQ(format.maxBits, 24) << "an endpoint that takes exclusive streams is probed exclusively";

    Make(CEndpointBackend::kSharedOnly);
    const size_t queries = audio.FormatQueries(render).size();
    ASSERT_TRUE(backend->ProbeFormats(eRender, renderPath, format));
    EXPECT_EQ(std::vector<int>({format.minRate, format.maxRate, format.maxBits, format.channels}),
              std::vector<int>({44100, 48000, 16, 1}));
    EXPECT_EQ(audio.FormatQueries(render).size(), queries);
}

TEST_F(EndpointBackendTest, BufferSizesFollowTheAlignmentRules)
{
    AddInterface();
    const int monoCapture = audio.AddEndpoint(eCapture, UsbPath(kCaptureClass, 4), L"Mono", 1);
    audio.SetPeriods(monoCapture, 100000, 20000, 5000000);
    CEngineSide& engine = NewEngine();
    Make(CEndpointBackend::kExclusiveOnly);

    // 512 frames of 16-bit stereo are 2048 bytes: one initialisation, no adapter.
    ASSERT_TRUE(Open(engine, 48000, 512, true, false));
    auto calls = audio.InitializeCalls(capture);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].result, S_OK);
    EXPECT_EQ(calls[0].bufferFrames, 512u);
    EXPECT_TRUE(calls[0].exclusive);
    EXPECT_EQ(calls[0].flags, DWORD(AUDCLNT_STREAMFLAGS_EVENTCALLBACK));
    EXPECT_EQ(calls[0].duration, calls[0].periodicity);
    EXPECT_EQ(backend->captureInfo().adapterFrames, 0);
    backend->ReleaseAll();

    // 100 mono frames are 200 bytes: the device asks for 256, 128 frames, turned back into
    // 100-frame packets.
    CEngineSide& mono = NewEngine();
    ASSERT_TRUE(backend->OpenAndStart(UsbPath(kCaptureClass, 4), Params(48000, 1, 100, &mono.aggregator), L"", {},
                                      start.get()));
    calls = audio.InitializeCalls(monoCapture);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].result, AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED);
    EXPECT_EQ(FramesAt(calls[1].duration, 48000), 128);
    EXPECT_EQ(calls[1].bufferFrames, 128u);
    audio.SetSignal(monoCapture, 0, VirtualSignal::Ramp(7));
    ASSERT_TRUE(audio.WaitUntilStreaming(monoCapture));
    audio.Advance(25 * 128);
    EXPECT_EQ(mono.batches.load(), 32);
    EXPECT_EQ(mono.captured, Ramp16(0, 3200, {7}, {1}));
}

TEST_F(EndpointBackendTest, RejectedInitialisationsAreRetriedOnFreshClients)
{
    AddInterface();
    CEngineSide& engine = NewEngine();
    Make(CEndpointBackend::kExclusiveOnly);

    // Unaligned: the second attempt takes the size the client reported.
    audio.SetAlignment(capture, 1024);
    ASSERT_TRUE(Open(engine, 48000, 480, true, false));
    auto calls = audio.InitializeCalls(capture);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].result, AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED);
    EXPECT_EQ(FramesAt(calls[0].duration, 48000), 480);
    EXPECT_EQ(calls[1].result, S_OK);
    EXPECT_EQ(calls[1].bufferFrames, 512u);
    EXPECT_EQ(audio.Stats(capture).clients, 3) << "the format test, then one client per attempt";
    EXPECT_GT(backend->captureInfo().adapterFrames, 0);
    backend->ReleaseAll();

    // A period the device rejects: its default period instead.
    audio.SetAlignment(render, 128);
    audio.SetPeriods(render, 40000, 30000, 50000);
    ASSERT_TRUE(Open(engine, 48000, 512, false, true));
    calls = audio.InitializeCalls(render);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].result, AUDCLNT_E_INVALID_DEVICE_PERIOD);
    EXPECT_EQ(calls[1].bufferFrames, 192u);
    backend->ReleaseAll();

    // Any other failure: once more with the same duration, and no further.
    audio.SetPeriods(render, 100000, 30000, 5000000);
    audio.FailInitialize(render, AUDCLNT_E_DEVICE_IN_USE, 1);
    ASSERT_TRUE(Open(engine, 48000, 512, false, true));
    calls = audio.InitializeCalls(render);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[2].result, AUDCLNT_E_DEVICE_IN_USE);
    EXPECT_EQ(calls[3].result, S_OK);
    EXPECT_EQ(calls[3].duration, calls[2].duration);
    backend->ReleaseAll();
    audio.FailInitialize(render, AUDCLNT_E_DEVICE_IN_USE, 2);
    EXPECT_FALSE(Open(engine, 48000, 512, false, true));
    EXPECT_EQ(audio.InitializeCalls(render).size(), 6u);
}

TEST_F(EndpointBackendTest, NtSixModeInitialisesEveryStreamTwiceWithAbout192Frames)
{
    AddInterface();
    CEngineSide& engine = NewEngine();
    engine.loopTo = &Make(CEndpointBackend::kExclusiveOnly, true);
    ASSERT_TRUE(Open(engine, 48000, 512));
    for (int endpoint : {capture, render}) {
        const auto calls = audio.InitializeCalls(endpoint);
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].result, S_OK);
        EXPECT_EQ(FramesAt(calls[0].duration, 48000), 512);
        EXPECT_EQ(calls[1].result, S_OK);
        EXPECT_EQ(calls[1].bufferFrames, 192u);
    }
    // The adapters turn 192-frame device buffers into 512-frame packets and back.
    ASSERT_TRUE(audio.WaitUntilStreaming(capture) && audio.WaitUntilStreaming(render));
    audio.Advance(192 * 64);
    ASSERT_EQ(engine.batches.load(), 192 * 64 / 512);
    EXPECT_EQ(engine.emptyBatches.load(), 0);
    EXPECT_EQ(engine.captured, Ramp16(0, 192 * 64, {1, -30000}, {1, 3}));
    // Packets arrive in bursts of 512 frames; while the render side starts, some device buffers
    // come due with less than 192 frames queued and play silence. The rest is the capture, in order.
    const std::vector<uint8_t> rendered = audio.Rendered(render);
    ASSERT_EQ(rendered.size(), 64u * 192 * 4);
    std::vector<uint8_t> played;
    int silent = 0;
    for (size_t at = 0; at < rendered.size(); at += 192 * 4) {
        const std::vector<uint8_t> buffer(rendered.begin() + at, rendered.begin() + at + 192 * 4);
        if (buffer == std::vector<uint8_t>(buffer.size(), 0))
            ++silent;
        else
            played.insert(played.end(), buffer.begin(), buffer.end());
    }
    EXPECT_LE(silent, 4);
    EXPECT_EQ(played, std::vector<uint8_t>(engine.captured.begin(), engine.captured.begin() + played.size()));
}

// Devices choose their own buffer alignment and may not run periods as short as the host's
// buffer: each still streams exclusively, on the size it reported or its minimum period.
TEST_F(EndpointBackendTest, DevicesWithOtherAlignmentsAndMinimumPeriodsStreamExclusively)
{
    struct Case {
        const char* what;
        int alignment;
        LONGLONG minimumPeriod;
        bool ntSixMode;
        int frames;        // the host's
        UINT32 expected;   // device buffer
        size_t attempts;
    };
    const Case cases[] = {
        {"192-byte units: 528 frames as reported", 192, 30000, false, 512, 528, 2},
        {"320-byte units after the second size of Windows NT 6.0", 320, 30000, true, 512, 240, 3},
        {"a 6 ms minimum above 192 frames", 128, 60000, false, 128, 288, 1},
        {"a 5.33 ms minimum in 96-byte units", 96, 53333, false, 128, 264, 2},
    };
    int unit = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AddInterface(unit++);
        for (int endpoint : {capture, render}) {
            audio.SetAlignment(endpoint, c.alignment);
            audio.SetPeriods(endpoint, 100000, c.minimumPeriod);
        }
        CEngineSide& engine = NewEngine();
        engine.loopTo = &Make(CEndpointBackend::kExclusiveOnly, c.ntSixMode);
        ASSERT_TRUE(Open(engine, 48000, c.frames));
        for (int endpoint : {capture, render}) {
            const auto calls = audio.InitializeCalls(endpoint);
            ASSERT_EQ(calls.size(), c.attempts);
            EXPECT_EQ(calls.back().result, S_OK);
            EXPECT_EQ(calls.back().bufferFrames, c.expected);
        }
        EXPECT_EQ(backend->captureInfo().mode, Mode::Exclusive);
        EXPECT_EQ(backend->renderInfo().mode, Mode::Exclusive);
        ASSERT_TRUE(audio.WaitUntilStreaming(capture) && audio.WaitUntilStreaming(render));
        audio.Advance(int64_t(c.expected) * 40);
        EXPECT_EQ(engine.captured, Ramp16(0, int64_t(engine.batches.load()) * c.frames, {1, -30000}, {1, 3}));
        EXPECT_GE(engine.batches.load() * c.frames, int(c.expected) * 38);
        EXPECT_GT(backend->renderInfo().frames, 0);
        EXPECT_EQ(audio.Stats(capture).overruns, 0);
        backend.reset();
    }
}

// A capture thread woken late finds two packets waiting: it reads both, so that the next wake
// finds one again and a second late wake loses nothing.
TEST_F(EndpointBackendTest, AnExclusiveCaptureWokenLateReadsEveryPacketWaiting)
{
    AddInterface();
    CEngineSide& engine = NewEngine();
    Make(CEndpointBackend::kExclusiveOnly);
    ASSERT_TRUE(Open(engine, 48000, 512, true, false));
    ASSERT_TRUE(audio.WaitUntilStreaming(capture));
    AdvancePeriods(3);
    for (int late = 0; late < 2; ++late) {
        audio.DelayWake(capture, 768);
        AdvancePeriods(4);
    }
    EXPECT_EQ(engine.batches.load(), 11);
    EXPECT_EQ(engine.captured, Ramp16(0, 11 * 512, {1, -30000}, {1, 3}));
    EXPECT_EQ(audio.Stats(capture).overruns, 0);
    EXPECT_EQ(backend->captureInfo().discontinuities, 0);
}

TEST_F(EndpointBackendTest, CaptureOpenRewritesOnlyStoredFormatsWithTheExtensibleSize)
{
    AddInterface();
    audio.SetBlobProperty(capture, kPkeyAudioEngineDeviceFormat, Bytes(StoredFormat(22)));
    const std::vector<uint8_t> plain = Bytes(StoredFormat(0));
    audio.SetBlobProperty(capture, kPkeyAudioEngineOemFormat, plain);
    audio.SetBlobProperty(render, kPkeyAudioEngineDeviceFormat, Bytes(StoredFormat(22)));
    CEngineSide& engine = NewEngine();
    Make(CEndpointBackend::kExclusiveOnly);
    const int mono = audio.AddEndpoint(eCapture, UsbPath(kCaptureClass, 2), L"Mono", 1);
    audio.SetBlobProperty(mono, kPkeyAudioEngineOemFormat, Bytes(StoredFormat(22)));

    ASSERT_TRUE(backend->OpenAndStart(UsbPath(kCaptureClass, 2), Params(44100, 1, 512, &engine.aggregator),
                                      renderPath, Params(44100, 2, 512), start.get()));
    WAVEFORMATEXTENSIBLE stored;
    const std::vector<uint8_t> blob = audio.BlobProperty(mono, kPkeyAudioEngineOemFormat);
    ASSERT_EQ(blob.size(), sizeof(stored));
    std::memcpy(&stored, blob.data(), sizeof(stored));
    EXPECT_EQ(stored.Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
    EXPECT_EQ(std::vector<int>({stored.Format.nChannels, int(stored.Format.nSamplesPerSec), stored.Format.wBitsPerSample,
                                stored.Samples.wValidBitsPerSample, stored.Format.nBlockAlign,
                                int(stored.Format.nAvgBytesPerSec), int(stored.dwChannelMask)}),
              std::vector<int>({1, 44100, 16, 16, 2, 88200, 4}));
    EXPECT_EQ(std::memcmp(&stored.SubFormat, &kSubtypePcm, sizeof(GUID)), 0);
    EXPECT_EQ(audio.Commits(mono), 1);
    EXPECT_EQ(audio.BlobProperty(render, kPkeyAudioEngineDeviceFormat), Bytes(StoredFormat(22))) << "render: untouched";
    backend->ReleaseAll();

    ASSERT_TRUE(Open(engine, 48000, 512, true, false));
    std::memcpy(&stored, audio.BlobProperty(capture, kPkeyAudioEngineDeviceFormat).data(), sizeof(stored));
    EXPECT_EQ(stored.Format.wBitsPerSample, 16);
    EXPECT_EQ(stored.dwChannelMask, 3u);
    EXPECT_EQ(audio.BlobProperty(capture, kPkeyAudioEngineOemFormat), plain) << "cbSize 0: untouched";
    backend->ReleaseAll();

    // Without the rights to write the store the stream still opens.
    audio.SetStoreReadOnly(mono, true);
    EXPECT_TRUE(backend->OpenAndStart(UsbPath(kCaptureClass, 2), Params(48000, 1, 512, &engine.aggregator), L"", {},
                                      start.get()));
    EXPECT_EQ(audio.Commits(mono), 1);
}

TEST_F(EndpointBackendTest, ExclusiveLoopbackCarriesTheRampByteExactAtEachDevicesPace)
{
    AddInterface();
    CEngineSide& engine = NewEngine();
    engine.loopTo = &Make(CEndpointBackend::kExclusiveOnly);
    ASSERT_TRUE(Open(engine));
    ASSERT_TRUE(audio.WaitUntilStreaming(capture) && audio.WaitUntilStreaming(render));
    EXPECT_EQ(backend->captureInfo().mode, Mode::Exclusive);
    EXPECT_EQ(backend->renderInfo().mode, Mode::Exclusive);

    AdvancePeriods(200);
    EXPECT_EQ(engine.batches.load(), 200);
    EXPECT_EQ(engine.captured, Ramp16(0, 200 * 512, {1, -30000}, {1, 3}));
    // The primed buffer plays first; each packet follows one period after it was captured.
    std::vector<uint8_t> expected(2048, 0);
    expected.insert(expected.end(), engine.captured.begin(), engine.captured.end() - 2048);
    EXPECT_EQ(audio.Rendered(render), expected);
    EXPECT_EQ(audio.Stats(render).underruns, 0);
    EXPECT_EQ(audio.Stats(capture).overruns, 0);
    EXPECT_EQ(audio.Stats(render).refused + audio.Stats(capture).refused, 0);
    EXPECT_EQ(backend->captureInfo().frames, 200 * 512);

    // Capture 1000 ppm fast, render 1000 ppm slow: over 1000 reference periods each keeps its own pace.
    backend->ReleaseAll();
    AddInterface(1);
    audio.SetRateError(capture, 1000);
    audio.SetRateError(render, -1000);
    CEngineSide& drifting = NewEngine();
    drifting.loopTo = backend.get();
    ASSERT_TRUE(Open(drifting));
    ASSERT_TRUE(audio.WaitUntilStreaming(capture) && audio.WaitUntilStreaming(render));
    AdvancePeriods(1000);
    EXPECT_EQ(drifting.batches.load(), 1001);
    EXPECT_EQ(audio.Stats(render).periods, 999);
    const std::vector<uint8_t> rendered = audio.Rendered(render);
    ASSERT_EQ(rendered.size(), 999u * 2048);
    EXPECT_EQ(std::vector<uint8_t>(rendered.begin() + 2048, rendered.end()),
              std::vector<uint8_t>(drifting.captured.begin(), drifting.captured.begin() + 998 * 2048));
}

TEST_F(EndpointBackendTest, SharedLoopbackAdaptsDevicePeriodsAndWritesOnlyFreeSpace)
{
    AddInterface();
    CEngineSide& engine = NewEngine();
    engine.loopTo = &Make(CEndpointBackend::kSharedOnly);
    ASSERT_TRUE(Open(engine));
    ASSERT_TRUE(audio.WaitUntilStreaming(capture) && audio.WaitUntilStreaming(render));
    for (int endpoint : {capture, render}) {
        const auto calls = audio.InitializeCalls(endpoint);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_FALSE(calls[0].exclusive);
        EXPECT_EQ(calls[0].flags, DWORD(AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM |
                                        AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY));
        EXPECT_EQ(calls[0].bits, 16);
        EXPECT_EQ(calls[0].periodicity, 0);
    }
    const EndpointStreamInfo renderInfo = backend->renderInfo();
    EXPECT_EQ(backend->captureInfo().mode, Mode::Shared);
    EXPECT_EQ(renderInfo.mode, Mode::Shared);
    EXPECT_EQ(renderInfo.periodFrames, 480);
    EXPECT_GE(renderInfo.bufferFrames, 512 + 480);

    // 10 ms engine periods of 480 frames against 512-frame packets.
    AdvancePeriods(100, 480);
    EXPECT_EQ(engine.batches.load(), 100 * 480 / 512);
    EXPECT_EQ(engine.emptyBatches.load(), 0);
    EXPECT_EQ(engine.captured, Ramp16(0, 93 * 512, {1, -30000}, {1, 3}));
    const std::vector<uint8_t> rendered = audio.Rendered(render);
    ASSERT_EQ(rendered.size(), 100u * 480 * 4);
    // The first packet is complete after two capture periods; the pre-roll then plays ahead of it.
    const size_t primed = size_t(2 * 480 + renderInfo.bufferFrames - 512) * 4;
    EXPECT_EQ(std::vector<uint8_t>(rendered.begin(), rendered.begin() + primed), std::vector<uint8_t>(primed, 0));
    EXPECT_EQ(std::vector<uint8_t>(rendered.begin() + primed, rendered.end()),
              std::vector<uint8_t>(engine.captured.begin(), engine.captured.begin() + (rendered.size() - primed)));
    EXPECT_EQ(audio.Stats(render).underruns, 0);
    EXPECT_EQ(audio.Stats(render).refused, 0) << "asked for more than the free space";

    // A backlog larger than the buffer goes in as room frees up, one period at a time.
    backend->ReleaseAll();
    AddInterface(1);
    ASSERT_TRUE(Open(engine, 48000, 512, false, true));
    ASSERT_TRUE(audio.WaitUntilStreaming(render));
    const std::vector<uint8_t> backlog = Ramp16(0, 8 * 512, {5, 9}, {1, 2});
    for (int chunk = 0; chunk < 8; ++chunk) backend->DeliverRender(backlog.data() + chunk * 2048, 2048);
    AdvancePeriods(13, 480);
    // The first chunk fits once two periods have played, behind the pre-roll.
    const size_t buffer = size_t(2 * 480 + backend->renderInfo().bufferFrames - 512) * 4;
    const std::vector<uint8_t> played = audio.Rendered(render);
    ASSERT_EQ(played.size(), 13u * 480 * 4);
    EXPECT_EQ(std::vector<uint8_t>(played.begin() + buffer, played.begin() + buffer + backlog.size()), backlog);
    EXPECT_EQ(audio.Stats(render).refused, 0) << "asked for more than the free space";
}

TEST_F(EndpointBackendTest, SharedFallbackIsChosenPerEndpointOnlyForRefusals)
{
    struct Case {
        const char* what;
        int shareMode;
        HRESULT captureFormat, captureInit, renderFormat, renderInit;
        bool opens;
        Mode captureMode, renderMode;
    };
    const Case cases[] = {
        {"capture refuses the format", 1, AUDCLNT_E_UNSUPPORTED_FORMAT, S_OK, S_OK, S_OK, true, Mode::Shared,
         Mode::Exclusive},
        {"render held by another program", 1, S_OK, S_OK, S_OK, AUDCLNT_E_DEVICE_IN_USE, true, Mode::Exclusive,
         Mode::Shared},
        {"exclusive use switched off", 1, AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED, S_OK, E_NOTIMPL, S_OK, true,
         Mode::Shared, Mode::Shared},
        {"exclusive only", 0, AUDCLNT_E_UNSUPPORTED_FORMAT, S_OK, S_OK, S_OK, false, Mode::None, Mode::None},
        {"not a refusal", 1, S_OK, S_OK, S_OK, AUDCLNT_E_DEVICE_INVALIDATED, false, Mode::None, Mode::None},
        {"shared only", 2, S_OK, S_OK, S_OK, S_OK, true, Mode::Shared, Mode::Shared},
    };
    int unit = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AddInterface(unit++);
        audio.RefuseExclusive(capture, c.captureFormat, c.captureInit);
        audio.RefuseExclusive(render, c.renderFormat, c.renderInit);
        CEngineSide& engine = NewEngine();
        engine.loopTo = &Make(c.shareMode);
        ASSERT_EQ(Open(engine), c.opens);
        if (c.opens) {
            EXPECT_EQ(backend->captureInfo().mode, c.captureMode);
            EXPECT_EQ(backend->renderInfo().mode, c.renderMode);
            ASSERT_TRUE(audio.WaitUntilStreaming(capture) && audio.WaitUntilStreaming(render));
            AdvancePeriods(20);
            EXPECT_GE(engine.batches.load(), 18);
            EXPECT_GT(backend->renderInfo().frames, 0) << "the render side plays what it is given";
            const auto calls = audio.InitializeCalls(capture);
            EXPECT_EQ(calls.back().exclusive, c.captureMode == Mode::Exclusive);
        } else {
            EXPECT_FALSE(audio.IsStreaming(capture) || audio.IsStreaming(render));
            EXPECT_EQ(audio.Stats(render).starts, 0);
            EXPECT_EQ(audio.LiveObjects(), 0);
        }
        if (c.shareMode == 2) {
            EXPECT_TRUE(audio.FormatQueries(capture).empty());
        }
        backend.reset();
    }
}

TEST_F(EndpointBackendTest, StreamsWaitForTheStartEventAndAFailedDirectionStopsTheOther)
{
    AddInterface();
    CEngineSide& engine = NewEngine();
    Make(CEndpointBackend::kExclusiveOnly);
    ResetEvent(start.get());
    ASSERT_TRUE(backend->OpenAndStart(capturePath, Params(48000, 2, 512, &engine.aggregator), renderPath,
                                      Params(48000, 2, 512), start.get()));
    EXPECT_EQ(engine.aggregator.sourceCount(), 1) << "registered before the start";
    AdvancePeriods(5);
    EXPECT_FALSE(audio.IsStreaming(capture) || audio.IsStreaming(render));
    EXPECT_EQ(engine.batches.load(), 0);
    EXPECT_FALSE(backend->captureActive());
    SetEvent(start.get());
    ASSERT_TRUE(audio.WaitUntilStreaming(capture) && audio.WaitUntilStreaming(render));
    AdvancePeriods(5);
    EXPECT_EQ(engine.batches.load(), 5);
    EXPECT_TRUE(backend->captureActive() && backend->renderActive());

    // The render endpoint does not exist: the capture thread, already waiting, ends unstarted.
    ResetEvent(start.get());
    const int starts = audio.Stats(capture).starts;
    EXPECT_FALSE(backend->OpenAndStart(capturePath, Params(48000, 2, 512, &engine.aggregator), UsbPath(kRenderClass, 9),
                                       Params(48000, 2, 512), start.get()));
    EXPECT_EQ(audio.Stats(capture).starts, starts);
    EXPECT_FALSE(backend->captureActive() || backend->renderActive());
    EXPECT_EQ(audio.LiveObjects(), 0);
    EXPECT_EQ(ThreadCount(), baseThreads);
}

TEST_F(EndpointBackendTest, StopAndReleaseLeaveNoReferencesNoThreadsAndNoHandOver)
{
    AddInterface();
    CEngineSide& engine = NewEngine();
    Make(CEndpointBackend::kExclusiveOnly);
    const std::vector<uint8_t> block(2048, 0x5A);
    EXPECT_EQ(backend->DeliverRender(block.data(), 2048), 0) << "nothing open";
    ASSERT_TRUE(Open(engine));
    ASSERT_TRUE(audio.WaitUntilStreaming(capture) && audio.WaitUntilStreaming(render));
    EXPECT_EQ(backend->DeliverRender(block.data(), 2048), 1);
    AdvancePeriods(3);

    backend->StopCapture();
    EXPECT_FALSE(backend->captureActive());
    EXPECT_FALSE(audio.IsStreaming(capture));
    EXPECT_EQ(backend->DeliverRender(block.data(), 2048), 1) << "render still runs";
    backend->StopRender();
    backend->StopRender();
    EXPECT_EQ(backend->DeliverRender(block.data(), 2048), 0);
    EXPECT_FALSE(audio.IsStreaming(render));
    EXPECT_EQ(ThreadCount(), baseThreads);
    EXPECT_GT(audio.LiveObjects(), 0) << "interfaces stay until ReleaseAll";
    backend->ReleaseAll();
    EXPECT_EQ(audio.LiveObjects(), 0);
    EXPECT_EQ(backend->captureInfo().mode, Mode::Exclusive) << "the mode stays on record";

    // Destroyed while running.
    ASSERT_TRUE(Open(engine));
    ASSERT_TRUE(audio.WaitUntilStreaming(render));
    backend.reset();
    EXPECT_FALSE(audio.IsStreaming(capture) || audio.IsStreaming(render));
}

TEST_F(EndpointBackendTest, ARenderBufferDueWithoutDataPlaysSilenceNotStaleAudio)
{
    AddInterface();
    CEngineSide& engine = NewEngine();
    Make(CEndpointBackend::kExclusiveOnly);
    ASSERT_TRUE(Open(engine, 48000, 512, false, true));
    ASSERT_TRUE(audio.WaitUntilStreaming(render));
    const std::vector<uint8_t> block = Ramp16(0, 512, {100, 200}, {1, 1});
    ASSERT_EQ(backend->DeliverRender(block.data(), int(block.size())), 1);
    AdvancePeriods(5);
    std::vector<uint8_t> expected(2048, 0);
    expected.insert(expected.end(), block.begin(), block.end());
    expected.resize(5 * 2048, 0);
    EXPECT_EQ(audio.Rendered(render), expected);
    EXPECT_EQ(backend->renderInfo().underruns, 4) << "each silent buffer after the block";
}

TEST_F(EndpointBackendTest, StreamLoopsAllocateNothing)
{
    for (int shareMode : {CEndpointBackend::kExclusiveOnly, CEndpointBackend::kSharedOnly}) {
        SCOPED_TRACE(shareMode);
        AddInterface(shareMode);
        audio.ReserveRecord(render, 1 << 20);
        CEngineSide& engine = NewEngine();
        engine.loopTo = &Make(shareMode);
        ASSERT_TRUE(Open(engine));
        ASSERT_TRUE(audio.WaitUntilStreaming(capture) && audio.WaitUntilStreaming(render));
        AdvancePeriods(4);
        const AllocationCounter allocations;
        AdvancePeriods(100);
        EXPECT_EQ(allocations.count(), 0u);
        EXPECT_GT(engine.batches.load(), 90);
        backend.reset();
    }
}

TEST_F(EndpointBackendTest, EndpointVolumesTakeTheLevelsAndMuteAMonoInputAtZero)
{
    const int monoIn = audio.AddEndpoint(eCapture, UsbPath(kCaptureClass, 1), L"Guitar", 1);
    const int monoOut = audio.AddEndpoint(eRender, UsbPath(kRenderClass, 1), L"Guitar Out", 1);
    AddInterface(2);
    CEngineSide& engine = NewEngine();
    Make(CEndpointBackend::kExclusiveOnly);
    EXPECT_FALSE(backend->SetInputVolume(50, 50)) << "no open endpoint";
    EXPECT_FALSE(backend->SetOutputVolume(50, 50));

    _sStreamParams out = Params(48000, 1, 512);
    out.volumeLeft = 35;
    out.volumeRight = 90;
    ASSERT_TRUE(backend->OpenAndStart(UsbPath(kCaptureClass, 1), Params(48000, 1, 512, &engine.aggregator),
                                      UsbPath(kRenderClass, 1), out, start.get()));
    EXPECT_FLOAT_EQ(audio.Volume(monoOut).levels[0], 0.35f) << "applied when the render stream starts";
    EXPECT_TRUE(backend->SetInputVolume(0, 80));
    EXPECT_TRUE(audio.Volume(monoIn).muted);
    EXPECT_FLOAT_EQ(audio.Volume(monoIn).levels[0], 1.0f) << "muted rather than set to 0";
    EXPECT_TRUE(backend->SetInputVolume(0, 0));
    EXPECT_EQ(audio.Volume(monoIn).muteChanges, 1);
    EXPECT_TRUE(backend->SetInputVolume(40, 0));
    EXPECT_FALSE(audio.Volume(monoIn).muted);
    EXPECT_FLOAT_EQ(audio.Volume(monoIn).levels[0], 0.40f);
    EXPECT_TRUE(backend->SetOutputVolume(0, 100));
    EXPECT_FLOAT_EQ(audio.Volume(monoOut).levels[0], 0.0f);
    EXPECT_FALSE(audio.Volume(monoOut).muted) << "outputs are never muted";
    backend->ReleaseAll();
    EXPECT_FALSE(backend->SetInputVolume(50, 50)) << "released with the stream";

    _sStreamParams stereoOut = Params(48000, 2, 512);
    stereoOut.volumeLeft = 20;
    stereoOut.volumeRight = 70;
    ASSERT_TRUE(backend->OpenAndStart(capturePath, Params(48000, 2, 512, &engine.aggregator), renderPath, stereoOut,
                                      start.get()));
    EXPECT_FLOAT_EQ(audio.Volume(render).levels[0], 0.20f);
    EXPECT_FLOAT_EQ(audio.Volume(render).levels[1], 0.70f);
    EXPECT_TRUE(backend->SetInputVolume(0, 65));
    EXPECT_FLOAT_EQ(audio.Volume(capture).levels[0], 0.0f);
    EXPECT_FLOAT_EQ(audio.Volume(capture).levels[1], 0.65f);
    EXPECT_FALSE(audio.Volume(capture).muted) << "only a mono input is muted";
}

TEST_F(EndpointBackendTest, AStopThatTimesOutReleasesNothingUntilTheThreadHasEnded)
{
    CEngineSide& engine = NewEngine();
    ASSERT_NO_FATAL_FAILURE(BlockCaptureInSink(engine));

    // The capture thread is inside the sink: neither stops, and nothing it uses goes.
    backend->SetStopWaitMs(20);
    const long live = audio.LiveObjects();
    EXPECT_FALSE(backend->StopCapture());
    EXPECT_FALSE(backend->ReleaseAll());
    EXPECT_FALSE(backend->OpenAndStart(capturePath, Params(48000, 2, 512, &NewEngine().aggregator), L"", {},
                                       start.get()))
        << "the old stream's records are still in use";
    EXPECT_EQ(audio.LiveObjects(), live);
    EXPECT_TRUE(audio.IsStreaming(capture));

    SetEvent(engine.open.get());
    backend->SetStopWaitMs(CEndpointBackend::kStopWaitMs);
    EXPECT_TRUE(backend->ReleaseAll());
    EXPECT_EQ(audio.LiveObjects(), 0);
    EXPECT_EQ(engine.batches.load(), 1);
    EXPECT_EQ(engine.aggregator.sourceCount(), 1) << "a requested stop leaves the sink's lock alone";
}

TEST_F(EndpointBackendTest, ABackendDestroyedUnderABlockedThreadLeavesItWhatItUses)
{
    CEngineSide& engine = NewEngine();
    ASSERT_NO_FATAL_FAILURE(BlockCaptureInSink(engine));

    backend->SetStopWaitMs(20);
    const long live = audio.LiveObjects();
    backend.reset();
    EXPECT_EQ(audio.LiveObjects(), live);
    SetEvent(engine.open.get());
    EXPECT_TRUE(Eventually([&] { return ThreadCount() == baseThreads; })) << "the thread ends on what it was left";
    EXPECT_FALSE(audio.IsStreaming(capture));
    leaked = live;
}

TEST_F(EndpointBackendTest, ASharedCaptureBehindASlowSinkStopsWithinAPacketOfTheRequest)
{
    AddInterface();
    CEngineSide& engine = NewEngine();
    Make(CEndpointBackend::kSharedOnly);
    ASSERT_TRUE(Open(engine, 48000, 512, true, false));
    ASSERT_TRUE(audio.WaitUntilStreaming(capture));
    audio.SetLockstep(false);
    ResetEvent(engine.open.get());
    // The second 480-frame packet completes the first 512-frame one; three more queue behind it.
    AdvancePeriods(5, 480);
    ASSERT_TRUE(Eventually([&] { return engine.batches.load() == 1; }));
    backend->RequestStop();
    SetEvent(engine.open.get());
    EXPECT_TRUE(backend->StopCapture());
    EXPECT_LE(engine.batches.load(), 2) << "the backlog was drained after the stop request";
}

TEST_F(EndpointBackendTest, ACaptureWhoseEndpointIsGoneLeavesTheSetsToTheOtherSources)
{
    AddInterface(0);
    const std::wstring gonePath = capturePath;
    const int gone = capture;
    AddInterface(1);
    CEngineSide& engine = NewEngine();
    Make(CEndpointBackend::kExclusiveOnly);
    auto other = CEndpointBackend::Create(platform, false, true, CEndpointBackend::kExclusiveOnly);
    SetEvent(start.get());
    ASSERT_TRUE(backend->OpenAndStart(gonePath, Params(48000, 2, 512, &engine.aggregator), L"", {}, start.get()));
    ASSERT_TRUE(other->OpenAndStart(capturePath, Params(48000, 2, 512, &engine.aggregator), L"", {}, start.get()));
    ASSERT_TRUE(audio.WaitUntilStreaming(gone) && audio.WaitUntilStreaming(capture));
    AdvancePeriods(3);
    EXPECT_EQ(engine.batches.load(), 3);

    audio.SetState(gone, DEVICE_STATE_NOTPRESENT);
    ASSERT_TRUE(Eventually([&] { return engine.aggregator.sourceCount() == 1; }));
    EXPECT_FALSE(backend->captureActive());
    AdvancePeriods(3);
    EXPECT_EQ(engine.batches.load(), 6) << "the sets wait for a source that is gone";
    EXPECT_TRUE(backend->ReleaseAll());
}

TEST_F(EndpointBackendTest, SharedRenderPreRollsAtTheFirstHandOverAndKeepsTheBufferFromRunningDry)
{
    AddInterface();
    CEngineSide& engine = NewEngine();
    engine.loopTo = &Make(CEndpointBackend::kSharedOnly);
    engine.silentBatches = 4;
    ASSERT_TRUE(Open(engine));
    ASSERT_TRUE(audio.WaitUntilStreaming(capture) && audio.WaitUntilStreaming(render));
    const int buffer = backend->renderInfo().bufferFrames;
    // The fifth packet is complete at the sixth period, long after the primed silence has played.
    AdvancePeriods(6, 480);
    // Lockstep waits for the render thread's look at the buffer, not for what it writes then.
    ASSERT_TRUE(Eventually([&] { return backend->renderInfo().frames > 0; }));
    const int64_t dry = audio.Stats(render).underruns;
    AdvancePeriods(40, 480);
    EXPECT_EQ(audio.Stats(render).underruns, dry);
    EXPECT_EQ(backend->renderInfo().underruns, 0);
    // That wake tops the buffer up to a packet below full, then writes the packet.
    const std::vector<uint8_t> rendered = audio.Rendered(render);
    const size_t first = size_t(6 * 480 + buffer - 512) * 4;
    ASSERT_GT(rendered.size(), first);
    EXPECT_EQ(std::vector<uint8_t>(rendered.begin(), rendered.begin() + first), std::vector<uint8_t>(first, 0));
    const auto handedOver = engine.captured.begin() + 4 * 2048;
    EXPECT_EQ(std::vector<uint8_t>(rendered.begin() + first, rendered.end()),
              std::vector<uint8_t>(handedOver, handedOver + (rendered.size() - first)));
    // The first packet written was handed over at the sixth period and leaves the buffer 480
    // frames after its place in the record; every later one waits as long from its switch's
    // place on the host's grid, which is what the report says.
    EXPECT_EQ(backend->renderInfo().latencyFrames, 480 + int(first / 4) - 6 * 480);

    // The engine falls behind: counted.
    engine.silentBatches = 1 << 20;
    AdvancePeriods(4, 480);
    EXPECT_GE(backend->renderInfo().underruns, 1);
    EXPECT_EQ(backend->faultCount(), uint64_t(backend->renderInfo().underruns));
}

TEST_F(EndpointBackendTest, LostCapturePacketsAndDroppedRenderBlocksAreCounted)
{
    AddInterface();
    CEngineSide& engine = NewEngine();
    Make(CEndpointBackend::kSharedOnly);
    ASSERT_TRUE(Open(engine));
    ASSERT_TRUE(audio.WaitUntilStreaming(capture) && audio.WaitUntilStreaming(render));

    // Ten blocks fill the adapter while the primed buffer has no room: the last three each drop one.
    const std::vector<uint8_t> block(2048, 0x11);
    for (int b = 0; b < 12; ++b) backend->DeliverRender(block.data(), 2048);
    EXPECT_EQ(backend->renderInfo().drops, 3);

    // The sink blocks while the device's capture buffer overflows.
    audio.SetLockstep(false);
    ResetEvent(engine.open.get());
    AdvancePeriods(2, 480);
    ASSERT_TRUE(Eventually([&] { return engine.batches.load() == 1; }));
    AdvancePeriods(6, 480);
    ASSERT_GT(audio.Stats(capture).overruns, 0);
    SetEvent(engine.open.get());
    audio.SetLockstep(true);
    AdvancePeriods(3, 480);
    EXPECT_EQ(backend->captureInfo().discontinuities, 1);
    EXPECT_EQ(backend->faultCount(), 4u);
}

}  // namespace
