// The driver as real hosts drive it: worker threads that call outputReady, several host threads at
// once, a release from inside the callback, buffer sizes at the engine's limits, a switch that
// never returns.
#include <core/Mordane.h>

#include "../support/AllocationCounter.h"
#include "../support/RegistryScratch.h"
#include "../virtual/VirtualHardware.h"

#include <runtime/Unknown.h>
#include <veloran/DriverClassId.h>
#include <veloran/UniqueHandle.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace VirtualUsb;

const std::wstring kHostKeyPath = L"Software\\ASIO\\Asio 2.0 Veloran Driver\\HostContractTestHost";
const std::wstring kDefaultKeyPath = L"Software\\ASIO\\Asio 2.0 Veloran Driver\\Default Parameters";
constexpr int16_t kMarker = 0x7A7A;

// What a host does in its buffer switch; each test sets the parts it needs.
struct Host {
    CMordane* driver = nullptr;
    int frames = 0;
    std::vector<ASIOBufferInfo> buffers;
    std::vector<int16_t> input;  // every input half the host saw, channel 0
    std::atomic<int> switches{0};
    int16_t counter = 1;
    // Outputs: half `index` carries a counter, the other half the marker.
    bool fillOutputs = true;
    bool outputReadyInSwitch = false;
    // A worker fills nothing but calls outputReady while the switch waits for it.
    bool worker = false;
    UniqueHandle workerWake{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    UniqueHandle workerDone{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    int releaseAtSwitch = -1;
    long objectsAfterRelease = -1;
    UniqueHandle blockSwitch;  // set: the switch waits on it
    std::atomic<int> overloads{0};
    bool takesOverload = false;

    void OnSwitch(long index)
    {
        for (ASIOBufferInfo& b : buffers) {
            auto* half = static_cast<int16_t*>(b.buffers[index]);
            if (b.isInput) {
                if (b.channelNum == 0) input.insert(input.end(), half, half + frames);
                continue;
            }
            if (!fillOutputs) continue;
            auto* other = static_cast<int16_t*>(b.buffers[index ^ 1]);
            for (int f = 0; f < frames; ++f) {
                half[f] = counter + int16_t(f);
                other[f] = kMarker;
            }
        }
        counter = int16_t(counter + frames);
        const int n = ++switches;
        if (outputReadyInSwitch) driver->outputReady();
        if (worker) {
            SetEvent(workerWake.get());
            // Bounded, so that a hand-over that deadlocks fails the test instead of hanging it.
            WaitForSingleObject(workerDone.get(), 2000);
        }
        if (blockSwitch.valid()) WaitForSingleObject(blockSwitch.get(), INFINITE);
        if (n == releaseAtSwitch) {
            driver->Release();
            objectsAfterRelease = ActiveObjectCount();
        }
    }
};
Host* gHost = nullptr;

void BufferSwitch(long index, ASIOBool) { gHost->OnSwitch(index); }
void RateChanged(ASIOSampleRate) {}
long Message(long selector, long value, void*, double*)
{
    if (selector == kAsioSelectorSupported) return value == kAsioOverload && gHost->takesOverload;
    if (selector == kAsioOverload) ++gHost->overloads;
    return 0;
}

class HostContractTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteTree(HKEY_LOCAL_MACHINE, kHostKeyPath);
        DeleteTree(HKEY_LOCAL_MACHINE, kDefaultKeyPath);
        hostKey_.WriteDword(L"Language", 9);
        hostKey_.WriteDword(L"Resolution", 16);
        gHost = &host_;
    }
    void TearDown() override
    {
        if (driver_) {
            driver_->stop();
            driver_->disposeBuffers();
            delete driver_;
        }
        gHost = nullptr;
        DeleteTree(HKEY_LOCAL_MACHINE, kHostKeyPath);
        DeleteTree(HKEY_LOCAL_MACHINE, kDefaultKeyPath);
    }
    VirtualInterface AddLumo()
    {
        const VirtualInterface lumo = hardware_.AddInterface(kLumoA2);
        hardware_.audio.SetSignal(lumo.capture, 0, VirtualSignal::Ramp(1));
        return lumo;
    }
    void Create()
    {
        HRESULT result = S_OK;
        driver_ = new CMordane(nullptr, &result, hostKey_, defaultKey_, hardware_);
        ASSERT_EQ(result, S_OK);
        driver_->NonDelegatingAddRef();
        host_.driver = driver_;
        driver_->init(nullptr);
        ASSERT_EQ(driver_->setSampleRate(48000.0), ASE_OK);
    }
    ASIOError CreateBuffers(int frames, std::vector<ASIOBufferInfo> buffers)
    {
        host_.frames = frames;
        host_.buffers = std::move(buffers);
        callbacks_ = {BufferSwitch, RateChanged, Message, nullptr};
        return driver_->createBuffers(host_.buffers.data(), long(host_.buffers.size()), frames, &callbacks_);
    }
    void Open(int frames)
    {
        Create();
        ASSERT_EQ(CreateBuffers(frames, {{ASIOTrue, 0, {}}, {ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}}), ASE_OK);
    }
    void Start(std::vector<int> endpoints)
    {
        ASSERT_EQ(driver_->start(), ASE_OK);
        for (const int endpoint : endpoints) ASSERT_TRUE(hardware_.audio.WaitUntilStreaming(endpoint)) << endpoint;
    }
    void Advance(int64_t frames)
    {
        hardware_.audio.Advance(frames);
        ASSERT_TRUE(hardware_.audio.WaitUntilServed());
    }
    // The rendered left channel, from the first sample the host wrote.
    std::vector<int16_t> RenderedLeft(int endpoint) const
    {
        const std::vector<uint8_t> bytes = hardware_.audio.Rendered(endpoint);
        std::vector<int16_t> left;
        for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
            int16_t sample;
            memcpy(&sample, &bytes[i], 2);
            if (!left.empty() || sample != 0) left.push_back(sample);
        }
        return left;
    }
    // Every sample after the first is the one before plus one: nothing lost, doubled or foreign.
    static int Breaks(const std::vector<int16_t>& samples)
    {
        int breaks = 0;
        for (size_t i = 1; i < samples.size(); ++i) breaks += samples[i] != int16_t(samples[i - 1] + 1);
        return breaks;
    }

    CVirtualHardware hardware_;
    const CSettingsKey hostKey_{kVeloranDriverClsid, L"C:\\HostContractTestHost.exe"};
    const CSettingsKey defaultKey_{kVeloranDriverClsid, L""};
    Host host_;
    ASIOCallbacks callbacks_ = {};
    CMordane* driver_ = nullptr;
};

TEST_F(HostContractTest, WorkerThreadHandsOverWhileTheSwitchWaitsForIt)
{
    const VirtualInterface lumo = AddLumo();
    Open(512);
    host_.worker = true;
    std::atomic<bool> quit{false};
    std::thread worker([&] {
        while (!quit) {
            if (WaitForSingleObject(host_.workerWake.get(), 50) != WAIT_OBJECT_0) continue;
            driver_->outputReady();
            SetEvent(host_.workerDone.get());
        }
    });
    Start({lumo.capture, lumo.render});
    Advance(40 * 512);
    quit = true;
    worker.join();

    EXPECT_EQ(host_.switches.load(), 40);
    const std::vector<int16_t> left = RenderedLeft(lumo.render);
    ASSERT_GE(left.size(), 30u * 512);
    EXPECT_EQ(left[0], 1);
    EXPECT_EQ(Breaks(left), 0);
}

TEST_F(HostContractTest, LateAndRepeatedOutputReadyHandsOverTheSwitchsOwnHalfOnce)
{
    const VirtualInterface lumo = AddLumo();
    Open(512);
    Start({lumo.capture, lumo.render});
    for (int i = 0; i < 20; ++i) {
        Advance(512);
        // After the switch returned, from two threads at once.
        std::atomic<int> ready{0};
        auto call = [&] {
            ++ready;
            while (ready < 2) YieldProcessor();
            driver_->outputReady();
        };
        std::thread other(call);
        call();
        other.join();
        driver_->outputReady();  // and once more, too late for anything
    }
    Advance(4 * 512);

    std::vector<int16_t> left = RenderedLeft(lumo.render);
    ASSERT_GE(left.size(), 20u * 512);
    left.resize(20 * 512);  // what follows was never handed over
    EXPECT_EQ(left[0], 1);
    EXPECT_EQ(Breaks(left), 0) << "a half handed over twice, or the half of the next switch";
    EXPECT_EQ(std::count(left.begin(), left.end(), kMarker), 0);
}

class BufferSizeTest : public HostContractTest, public ::testing::WithParamInterface<std::tuple<int, int>> {};

// Every frame the device captured reaches the host, at every accepted size, whether the device
// period is the packet (exclusive) or a fixed 480 frames (shared).
TEST_P(BufferSizeTest, EveryCapturedFrameReachesTheHost)
{
    const auto [shareMode, frames] = GetParam();
    hostKey_.WriteDword(L"EndpointShareMode", DWORD(shareMode));
    const VirtualInterface lumo = AddLumo();
    Open(frames);
    Start({lumo.capture});
    constexpr int64_t kDeviceFrames = 48000;
    Advance(kDeviceFrames);

    const int64_t delivered = hardware_.audio.Stats(lumo.capture).frames;
    EXPECT_GE(delivered, kDeviceFrames - 1024);
    EXPECT_EQ(host_.switches.load(), delivered / frames) << "switches lost or invented";
    ASSERT_EQ(host_.input.size(), size_t(host_.switches.load()) * frames);
    EXPECT_EQ(host_.input.front(), 1);
    EXPECT_EQ(Breaks(host_.input), 0) << "captured samples lost";
}

INSTANTIATE_TEST_SUITE_P(SharedAndExclusive, BufferSizeTest,
                         ::testing::Combine(::testing::Values(0, 2), ::testing::Values(128, 129, 256, 1000, 1024)));

TEST_F(HostContractTest, SizesTheEngineCannotServeAreRefused)
{
    AddLumo();
    Create();
    for (long frames : {1L, 16L, 64L, 127L, 1025L, 4096L})
        EXPECT_EQ(CreateBuffers(int(frames), {{ASIOTrue, 0, {}}}), ASE_InvalidMode) << frames;
    EXPECT_EQ(driver_->activeInputCount(), 0);
}

TEST_F(HostContractTest, ReleaseFromInsideTheSwitchDestroysTheDriverAfterIt)
{
    const VirtualInterface lumo = AddLumo();
    Open(512);
    const long before = ActiveObjectCount();
    host_.releaseAtSwitch = 3;
    Start({lumo.capture, lumo.render});
    Advance(3 * 512);
    EXPECT_EQ(host_.objectsAfterRelease, before) << "destroyed under the switch that released it";
    for (int i = 0; i < 500 && ActiveObjectCount() == before; ++i) Sleep(10);
    EXPECT_EQ(ActiveObjectCount(), before - 1) << "the driver was not destroyed";
    driver_ = nullptr;
    Advance(4 * 512);
    EXPECT_EQ(host_.switches.load(), 3) << "a switch reached the host after its last release";
    EXPECT_FALSE(hardware_.audio.IsStreaming(lumo.capture));
}

TEST_F(HostContractTest, InitWhileBuffersExistKeepsWhatTheyDependOn)
{
    const VirtualInterface lumo = AddLumo();
    Open(256);
    long inputs = 0, outputs = 0;
    driver_->getChannels(&inputs, &outputs);
    hostKey_.WriteDword(L"Resolution", 32);
    hostKey_.WriteDword(L"EndpointShareMode", 2);
    hardware_.AddInterface(kLumoA1);  // a new interface would renumber the channels
    driver_->init(nullptr);

    long inputsAfter = 0, outputsAfter = 0;
    driver_->getChannels(&inputsAfter, &outputsAfter);
    EXPECT_EQ(inputsAfter, inputs);
    EXPECT_EQ(outputsAfter, outputs);
    ASIOChannelInfo info = {};
    info.isInput = ASIOTrue;
    ASSERT_EQ(driver_->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.type, ASIOSTInt16LSB);
    Start({lumo.capture});
    Advance(8 * 256);
    ASSERT_EQ(host_.input.size(), 8u * 256);
    EXPECT_EQ(Breaks(host_.input), 0) << "samples written in another format";

    // Once the buffers are gone, init takes the new configuration.
    driver_->stop();
    driver_->disposeBuffers();
    driver_->init(nullptr);
    driver_->getChannels(&inputsAfter, &outputsAfter);
    EXPECT_GT(inputsAfter, inputs);
    ASSERT_EQ(driver_->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.type, ASIOSTInt32LSB);
}

TEST_F(HostContractTest, FailedAllocationsDuringConstructionAreReported)
{
    AddLumo();
    for (size_t nth = 1;; ++nth) {
        ASSERT_LT(nth, 500u) << "construction never completed";
        HRESULT result = S_OK;
        CMordane* driver = nullptr;
        bool failed = false;
        {
            AllocationFailure failure(nth);
            try {
                driver = new (std::nothrow) CMordane(nullptr, &result, hostKey_, defaultKey_, hardware_);
            } catch (const std::bad_alloc&) {
                driver = nullptr;
            }
            failed = failure.happened();
        }
        if (!failed) {
            ASSERT_NE(driver, nullptr);
            EXPECT_EQ(result, S_OK);
            driver->destroy();
            break;
        }
        // As the class factory does: a reported failure destroys what was made.
        if (driver) {
            EXPECT_TRUE(FAILED(result)) << "allocation " << nth << " failed unreported";
            driver->destroy();
        }
    }
}

TEST_F(HostContractTest, StopReturnsWhileASwitchNeverDoes)
{
    const VirtualInterface lumo = AddLumo();
    const VirtualInterface second = hardware_.AddInterface(kLumoA1);
    hardware_.audio.SetSignal(second.capture, 0, VirtualSignal::Ramp(1));
    Create();
    // One input of each interface: a switch needs both.
    const std::vector<ASIOBufferInfo> inputs = {{ASIOTrue, 0, {}}, {ASIOTrue, 2, {}}};
    ASSERT_EQ(CreateBuffers(512, inputs), ASE_OK);
    driver_->SetStopWaitMs(100);
    host_.blockSwitch.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Start({lumo.capture, second.capture});
    hardware_.audio.SetLockstep(false);
    hardware_.audio.Advance(4 * 512);
    for (int i = 0; i < 500 && host_.switches == 0; ++i) Sleep(10);
    ASSERT_EQ(host_.switches.load(), 1);

    // From another host thread; a hang fails here rather than holding the suite.
    auto stopped = std::async(std::launch::async, [&] { return driver_->stop(); });
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(stopped.get(), ASE_OK);
    EXPECT_TRUE(driver_->streamsStranded());
    EXPECT_EQ(driver_->disposeBuffers(), ASE_OK);

    // The stuck thread comes back into memory that is still there, and everything is released.
    SetEvent(host_.blockSwitch.get());
    for (int i = 0; i < 500 && driver_->streamsStranded(); ++i) {
        Sleep(10);
        driver_->stop();
    }
    EXPECT_FALSE(driver_->streamsStranded());
    EXPECT_EQ(host_.switches.load(), 1);
    ASSERT_EQ(CreateBuffers(512, inputs), ASE_OK);
    host_.blockSwitch.Reset();
    hardware_.audio.SetLockstep(true);
    Start({lumo.capture, second.capture});
    Advance(4 * 512);
    EXPECT_GE(host_.switches.load(), 4);
}

// One host thread starts, restarts and stops while another asks questions: nothing crashes, and
// the answers are never those of a half-made state.
TEST_F(HostContractTest, CallsFromSeveralThreadsAreSerialised)
{
    const VirtualInterface lumo = AddLumo();
    Open(256);
    std::atomic<bool> done{false};
    std::atomic<int> badLatencies{0};
    std::thread asker([&] {
        while (!done) {
            long input = 0, output = 0, inputs = 0, outputs = 0;
            driver_->getLatencies(&input, &output);
            badLatencies += input < 256 || output <= 0;
            driver_->getChannels(&inputs, &outputs);
            ASIOChannelInfo info = {};
            driver_->getChannelInfo(&info);
            ASIOSamples position;
            ASIOTimeStamp stamp;
            driver_->getSamplePosition(&position, &stamp);
        }
    });
    std::thread starter([&] {
        for (int i = 0; i < 20; ++i) {
            driver_->start();
            driver_->stop();
        }
    });
    for (int i = 0; i < 20; ++i) {
        driver_->start();
        driver_->setSampleRate(i % 2 ? 48000.0 : 44100.0);
        driver_->stop();
        driver_->disposeBuffers();
        CreateBuffers(256, {{ASIOTrue, 0, {}}, {ASIOFalse, 0, {}}});
    }
    starter.join();
    done = true;
    asker.join();
    EXPECT_EQ(badLatencies.load(), 0);

    ASSERT_EQ(driver_->setSampleRate(48000.0), ASE_OK);
    Start({lumo.capture, lumo.render});
    Advance(4 * 256);
    EXPECT_EQ(host_.switches.load(), 4);
}

// A render device slower than the capture device that paces the switch fills its queue until
// blocks drop: a host that takes overload notices hears of it, at most once a switch, and not
// before anything was lost.
TEST_F(HostContractTest, DroppedBlocksAreReportedAsOverloads)
{
    const VirtualInterface lumo = AddLumo();
    hardware_.audio.SetRateError(lumo.render, -50000.0);
    for (const bool takes : {true, false}) {
        host_.takesOverload = takes;
        host_.overloads = 0;
        host_.switches = 0;
        host_.outputReadyInSwitch = true;
        if (!driver_) Open(512);
        Start({lumo.capture, lumo.render});
        Advance(20 * 512);
        EXPECT_EQ(host_.overloads.load(), 0) << "nothing was lost yet";
        Advance(300 * 512);
        if (takes) {
            EXPECT_GT(host_.overloads.load(), 0);
            EXPECT_LT(host_.overloads.load(), host_.switches.load());
        } else {
            EXPECT_EQ(host_.overloads.load(), 0);
        }
        driver_->stop();
    }
}

// Hosts that pass no window, or one that does not answer the private message, still get the
// system's default devices when the setting asks for them.
TEST_F(HostContractTest, StoredDefaultDevicesSettingServesHostsThatAnswerNothing)
{
    hardware_.AddDefaultDevices();
    const long expected[3] = {0, 2, 2};
    for (const DWORD mode : {0u, 1u, 2u}) {
        if (driver_) driver_->destroy();
        driver_ = nullptr;
        defaultKey_.WriteDword(L"UseDefaultDevices", mode);
        Create();
        EXPECT_EQ(driver_->defaultDevicesOnly(), mode == 2) << mode;
        long inputs = 0, outputs = 0;
        driver_->getChannels(&inputs, &outputs);
        EXPECT_EQ(inputs, expected[mode]) << mode;
        EXPECT_EQ(outputs, expected[mode]) << mode;
    }
}

}  // namespace
