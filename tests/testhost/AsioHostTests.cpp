#include "FakeAsioDriver.h"
#include "../support/RegistryScratch.h"

#include <testhost/AsioHost.h>

#include <veloran/ComPtr.h>
#include <veloran/DriverClassId.h>

#include <gtest/gtest.h>

#include <objbase.h>

#include <string>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

// The reset request is posted to a real window of this thread.
struct MessageWindow {
    MessageWindow() : hwnd(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr))
    {
    }
    ~MessageWindow() { DestroyWindow(hwnd); }
    bool Take(UINT message)
    {
        MSG msg{};
        return PeekMessageW(&msg, hwnd, message, message, PM_REMOVE) != FALSE;
    }
    HWND hwnd;
};

// Records what each buffer switch handed to the block processing.
struct RecordingProcessor : IHostBlockProcessor {
    void ProcessBlock(const HostBufferBlock& block, long index) override
    {
        if (log) log->Log("ProcessBlock");
        ++blocks;
        lastIndex = index;
        firstInput = block.inputBuffers > 0 ? block.Input(0, index) : nullptr;
        firstOutput = block.outputBuffers > 0 ? block.Output(0, index) : nullptr;
    }
    CFakeAsioDriver* log = nullptr;
    int blocks = 0;
    long lastIndex = -1;
    void* firstInput = nullptr;
    void* firstOutput = nullptr;
};

DriverFactory HandOut(CFakeAsioDriver& driver)
{
    return [&driver](IASIO** created) {
        driver.AddRef();
        *created = &driver;
        return S_OK;
    };
}

Calls Since(const CFakeAsioDriver& driver, size_t from)
{
    const Calls calls = driver.Calls();
    return Calls(calls.begin() + static_cast<std::ptrdiff_t>(std::min(from, calls.size())), calls.end());
}

class AsioHostTest : public ::testing::Test {
protected:
    AsioHostTest()
    {
        fake_.inputNames = Names("In ", 2);
        fake_.outputNames = Names("Out ", 2);
        processor_.log = &fake_;
    }
    void TearDown() override
    {
        host_.Unload();
        EXPECT_EQ(fake_.References(), 0) << "driver leaked";
        EXPECT_FALSE(fake_.OverReleased());
    }

    void LoadAndStart()
    {
        std::wstring text;
        ASSERT_NE(host_.LoadDriver(-1, text), DriverLoad::Failed);
        host_.ReadChannels();
        host_.StartAsio(44100, 256);
    }

    CFakeAsioDriver fake_;
    RecordingProcessor processor_;
    MessageWindow window_;
    CAsioHost host_{window_.hwnd, processor_, HandOut(fake_)};
};

TEST_F(AsioHostTest, LoadStartAndStopCallTheDriverInTheHostOrder)
{
    std::wstring text;
    ASSERT_EQ(host_.LoadDriver(-1, text), DriverLoad::Hardware);
    EXPECT_EQ(text, L"Octa X (USB 1)");
    EXPECT_EQ(fake_.initHandle, window_.hwnd);
    EXPECT_EQ(fake_.References(), 1);
    EXPECT_EQ(host_.DriverPreferredBufferSize(), 512);
    host_.ReadChannels();
    host_.StartAsio(48000, 256);
    EXPECT_TRUE(host_.Running());
    host_.StopAsio();
    EXPECT_FALSE(host_.Running());
    host_.Unload();
    EXPECT_FALSE(host_.Loaded());

    const Calls expected = {"init", "hardwareQuery", "getBufferSize", "getChannels",
                            "getChannelInfo", "getChannelInfo", "getChannelInfo", "getChannelInfo",
                            "setSampleRate", "outputReady", "createBuffers",
                            "getChannelInfo", "getChannelInfo", "getChannelInfo", "getChannelInfo",
                            "getLatencies", "start", "stop", "disposeBuffers"};
    EXPECT_EQ(fake_.Calls(), expected);
}

TEST_F(AsioHostTest, BuffersAreCreatedForEveryChannelInputsFirst)
{
    fake_.sampleType = ASIOSTInt16LSB;
    std::wstring text;
    host_.LoadDriver(-1, text);
    host_.ReadChannels();
    host_.StartAsio(48000, 128);
    EXPECT_EQ(fake_.sampleRate, 48000.0);
    EXPECT_EQ(host_.LastResult(), ASE_OK);

    ASSERT_EQ(fake_.created.size(), 4u);
    const long expected[4][2] = {{ASIOTrue, 0}, {ASIOTrue, 1}, {ASIOFalse, 0}, {ASIOFalse, 1}};
    const HostBufferBlock& block = host_.Buffers();
    EXPECT_EQ(fake_.createdSize, 128);
    EXPECT_NE(fake_.callbacks, nullptr);
    EXPECT_EQ(block.bufferSize, 128);
    EXPECT_EQ(block.inputBuffers, 2);
    EXPECT_EQ(block.outputBuffers, 2);
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(fake_.created[k].isInput, expected[k][0]) << k;
        EXPECT_EQ(fake_.created[k].channelNum, expected[k][1]) << k;
        EXPECT_EQ(block.infos[k].buffers[0], fake_.Buffer(k, 0)) << k;
        EXPECT_EQ(block.infos[k].buffers[1], fake_.Buffer(k, 1)) << k;
        EXPECT_EQ(block.channels[k].isInput, expected[k][0]) << k;
        EXPECT_EQ(block.channels[k].channel, expected[k][1]) << k;
        EXPECT_TRUE(block.channels[k].isActive) << k;
    }
    EXPECT_EQ(block.SampleType(), ASIOSTInt16LSB);
    EXPECT_EQ(block.inputLatency, 128 + 11);
    EXPECT_EQ(block.outputLatency, 2 * 128 + 22);
    EXPECT_TRUE(block.outputReadySupported);

    // Only the second choice is 48 kHz.
    host_.StopAsio();
    host_.StartAsio(96000, 128);
    EXPECT_EQ(fake_.sampleRate, 44100.0);
}

TEST_F(AsioHostTest, FailedBuffersStillStartTheStreamButLeaveNothingToProcess)
{
    fake_.createBuffersResult = ASE_NoMemory;
    LoadAndStart();
    EXPECT_TRUE(host_.Running());
    EXPECT_EQ(host_.Buffers().inputBuffers, 0);
    EXPECT_EQ(host_.Buffers().outputBuffers, 0);
    EXPECT_EQ(fake_.CountOf("getLatencies"), 0);
    EXPECT_EQ(fake_.CountOf("start"), 1);
    EXPECT_EQ(host_.LastResult(), ASE_InvalidMode);  // the fake cannot start without callbacks

    const size_t before = fake_.Calls().size();
    host_.StopAsio();
    EXPECT_EQ(Since(fake_, before), (Calls{"stop", "disposeBuffers"}));

    // Buffers whose types could not be read have no known size: a switch must not touch them.
    fake_.createBuffersResult = ASE_OK;
    fake_.channelInfoResult = ASE_NotPresent;
    host_.StartAsio(44100, 512);
    EXPECT_EQ(host_.Buffers().inputBuffers, 0);
    EXPECT_EQ(host_.Buffers().outputBuffers, 0);
}

TEST_F(AsioHostTest, DriverSizesAreReportedButOnlyThoseTheBlocksHoldAreAskedFor)
{
    EXPECT_EQ(host_.DriverPreferredBufferSize(), 0);
    std::wstring text;
    for (long preferred : {64L, 2048L, 256L}) {
        fake_.preferredSize = preferred;
        host_.LoadDriver(-1, text);
        EXPECT_EQ(host_.DriverPreferredBufferSize(), preferred);
    }
    fake_.bufferSizeResult = ASE_NotPresent;
    EXPECT_EQ(host_.DriverPreferredBufferSize(), 0);

    host_.ReadChannels();
    const size_t before = fake_.Calls().size();
    for (long size : {0L, -1L, 1025L, 2048L}) {
        host_.StartAsio(44100, size);
        EXPECT_FALSE(host_.Running()) << size;
        EXPECT_NE(host_.LastResult(), ASE_OK) << size;
    }
    EXPECT_TRUE(Since(fake_, before).empty());

    // Sizes the dialog does not offer but the blocks hold go through.
    host_.StartAsio(44100, 64);
    EXPECT_TRUE(host_.Running());
    EXPECT_EQ(fake_.createdSize, 64);
}

TEST_F(AsioHostTest, FailedCreationOrInitLeavesNoDriver)
{
    RecordingProcessor processor;
    std::wstring text = L"stale";
    {
        CAsioHost host(window_.hwnd, processor, [](IASIO** created) {
            *created = nullptr;
            return REGDB_E_CLASSNOTREG;
        });
        EXPECT_EQ(host.LoadDriver(-1, text), DriverLoad::Failed);
        EXPECT_TRUE(text.empty());
        EXPECT_FALSE(host.Loaded());
        host.ReadChannels();
        host.StartAsio(44100, 512);
        host.OpenControlPanel();
        EXPECT_FALSE(host.Running());
        EXPECT_EQ(host.InputCount(), 0);
        EXPECT_EQ(host.DriverPreferredBufferSize(), 0);
    }
    {
        CAsioHost host(window_.hwnd, processor, [](IASIO** created) {
            *created = nullptr;
            return S_OK;
        });
        EXPECT_EQ(host.LoadDriver(-1, text), DriverLoad::Failed);
        EXPECT_FALSE(host.Loaded());
    }

    fake_.initResult = ASIOFalse;
    EXPECT_EQ(host_.LoadDriver(-1, text), DriverLoad::Failed);
    EXPECT_FALSE(host_.Loaded());
    EXPECT_EQ(fake_.References(), 0);
    EXPECT_EQ(fake_.Calls(), Calls{"init"});

    // A later attempt tries again.
    fake_.initResult = ASIOTrue;
    EXPECT_EQ(host_.LoadDriver(-1, text), DriverLoad::Hardware);
    EXPECT_TRUE(host_.Loaded());
}

TEST_F(AsioHostTest, HardwareRepliesAreNoHardwareOnlyForTheMarkerInAnyCaseOrEmpty)
{
    std::wstring text;
    for (const wchar_t* reply : {L"No Hardware", L"NO HARDWARE", L"no hardware", L""}) {
        fake_.hardwareText = reply;
        text = L"stale";
        EXPECT_EQ(host_.LoadDriver(-1, text), DriverLoad::NoHardware) << reply;
        EXPECT_TRUE(text.empty()) << reply;
        EXPECT_TRUE(host_.Loaded()) << reply;
    }
    for (const wchar_t* reply : {L"No hardware!", L" no hardware", L"Duo (USB 2) + Octa X (USB 1)"}) {
        fake_.hardwareText = reply;
        EXPECT_EQ(host_.LoadDriver(-1, text), DriverLoad::Hardware) << reply;
        EXPECT_EQ(text, reply);
    }
    fake_.unterminatedHardwareText = true;
    EXPECT_EQ(host_.LoadDriver(-1, text), DriverLoad::Hardware);
    EXPECT_EQ(text, std::wstring(2048, L'x'));   // read no further than the buffer
    fake_.unterminatedHardwareText = false;

    // Without hardware the driver stays loaded and still streams its zero channels.
    fake_.hardwareText = L"No hardware";
    fake_.inputNames.clear();
    fake_.outputNames.clear();
    LoadAndStart();
    EXPECT_TRUE(host_.Running());
    EXPECT_EQ(fake_.CountOf("start"), 1);
    EXPECT_TRUE(fake_.created.empty());
}

TEST_F(AsioHostTest, ChannelsAreNamedAndTheFirstSixteenOfEachDirectionKept)
{
    fake_.inputNames = Names("In ", 20);
    fake_.inputNames[1] = std::string(32, 'A');   // fills the field, no terminator
    fake_.outputNames = Names("Out ", 18);
    std::wstring text;
    host_.LoadDriver(-1, text);
    host_.ReadChannels();
    ASSERT_EQ(host_.InputCount(), 16);
    ASSERT_EQ(host_.OutputCount(), 16);
    EXPECT_EQ(fake_.CountOf("getChannelInfo"), 32);
    EXPECT_EQ(host_.Input(0).displayName, L"In 1");
    EXPECT_EQ(host_.Input(1).displayName, std::wstring(31, L'A'));
    EXPECT_EQ(host_.Input(15).displayName, L"In 16");
    EXPECT_EQ(host_.Input(15).info.channel, 15);
    EXPECT_TRUE(host_.Input(15).info.isInput);
    EXPECT_EQ(host_.Output(3).displayName, L"Out 4");
    EXPECT_FALSE(host_.Output(3).info.isInput);
    EXPECT_EQ(host_.Output(3).info.type, ASIOSTInt32LSB);

    host_.StartAsio(44100, 512);
    ASSERT_EQ(fake_.created.size(), 32u);
    EXPECT_EQ(fake_.created[15].channelNum, 15);
    EXPECT_FALSE(fake_.created[16].isInput);
    EXPECT_EQ(fake_.created[16].channelNum, 0);
    EXPECT_EQ(fake_.created[31].channelNum, 15);

    // A failed getChannels leaves no channels.
    host_.StopAsio();
    fake_.channelsResult = ASE_NotPresent;
    host_.ReadChannels();
    EXPECT_EQ(host_.InputCount(), 0);
    EXPECT_EQ(host_.OutputCount(), 0);
}

TEST_F(AsioHostTest, BufferSwitchProcessesTheHalfItNamesThenReportsOutputReady)
{
    LoadAndStart();
    size_t before = fake_.Calls().size();
    ASSERT_TRUE(fake_.SwitchBuffers(1));
    EXPECT_EQ(Since(fake_, before), (Calls{"getSamplePosition", "ProcessBlock", "outputReady"}));
    EXPECT_EQ(processor_.lastIndex, 1);
    EXPECT_EQ(processor_.firstInput, fake_.Buffer(0, 1));
    EXPECT_EQ(processor_.firstOutput, fake_.Buffer(2, 1));

    ASSERT_TRUE(fake_.SwitchBuffers(0));
    EXPECT_EQ(processor_.lastIndex, 0);
    EXPECT_EQ(processor_.firstInput, fake_.Buffer(0, 0));
    EXPECT_EQ(processor_.firstOutput, fake_.Buffer(2, 0));

    // A driver that calls the time-info variant directly skips the position query.
    before = fake_.Calls().size();
    ASSERT_TRUE(fake_.SwitchBuffersWithTimeInfo(1));
    EXPECT_EQ(Since(fake_, before), (Calls{"ProcessBlock", "outputReady"}));
    EXPECT_EQ(processor_.blocks, 3);

    // No half 2 exists.
    ASSERT_TRUE(fake_.SwitchBuffersWithTimeInfo(2));
    ASSERT_TRUE(fake_.SwitchBuffers(-1));
    EXPECT_EQ(processor_.blocks, 3);
}

TEST_F(AsioHostTest, OutputReadyIsCalledOnlyWhenTheProbeSucceeded)
{
    fake_.outputReadyResult = ASE_NotPresent;
    fake_.samplePositionResult = ASE_SPNotAdvancing;
    LoadAndStart();
    EXPECT_FALSE(host_.Buffers().outputReadySupported);
    const size_t before = fake_.Calls().size();
    ASSERT_TRUE(fake_.SwitchBuffers(0));
    // Without a sample position the block is still processed.
    EXPECT_EQ(Since(fake_, before), (Calls{"getSamplePosition", "ProcessBlock"}));
    EXPECT_EQ(processor_.blocks, 1);
}

TEST_F(AsioHostTest, AsioMessagesAreAnsweredFromTheDriversThread)
{
    LoadAndStart();
    long reply = -1;
    for (long value = 0; value <= 16; ++value) {
        const bool supported = value == 2 || value == 3 || (value >= 5 && value <= 8) || value == 10;
        ASSERT_TRUE(fake_.Message(kAsioSelectorSupported, value, reply));
        EXPECT_EQ(reply, supported ? 1 : 0) << "selector supported " << value;
    }
    const long replies[][2] = {{kAsioEngineVersion, 2},    {kAsioBufferSizeChange, 0}, {kAsioResyncRequest, 1},
                               {kAsioLatenciesChanged, 1}, {kAsioSupportsTimeInfo, 1}, {kAsioSupportsTimeCode, 0},
                               {kAsioMMCCommand, 0},       {kAsioSupportsInputMonitor, 0}, {kAsioOverload, 0},
                               {0, 0},                     {99, 0}};
    for (const auto& [selector, expected] : replies) {
        ASSERT_TRUE(fake_.Message(selector, 0, reply));
        EXPECT_EQ(reply, expected) << "selector " << selector;
    }
    EXPECT_FALSE(window_.Take(kHostResetMessage));

    // The reset is only posted: the restart happens later on the dialog's thread.
    ASSERT_TRUE(fake_.Message(kAsioResetRequest, 0, reply));
    EXPECT_EQ(reply, 1);
    EXPECT_TRUE(host_.Running());
    EXPECT_TRUE(window_.Take(kHostResetMessage));
    EXPECT_FALSE(window_.Take(kHostResetMessage));
}

TEST_F(AsioHostTest, StoppingOrOpeningThePanelWithoutAStreamIsHarmless)
{
    host_.StopAsio();
    host_.OpenControlPanel();
    std::wstring text;
    host_.LoadDriver(-1, text);
    host_.StopAsio();
    EXPECT_EQ(fake_.CountOf("stop"), 0);
    EXPECT_EQ(fake_.CountOf("disposeBuffers"), 0);
    host_.OpenControlPanel();
    EXPECT_EQ(fake_.CountOf("controlPanel"), 1);

    host_.ReadChannels();
    host_.StartAsio(44100, 256);
    host_.StopAsio();
    host_.StopAsio();
    EXPECT_EQ(fake_.CountOf("stop"), 1);
    EXPECT_EQ(fake_.CountOf("disposeBuffers"), 1);
}

TEST_F(AsioHostTest, StartingAgainStopsTheRunningStreamFirst)
{
    LoadAndStart();
    const size_t before = fake_.Calls().size();
    host_.StartAsio(44100, 512);
    const Calls restart = Since(fake_, before);
    ASSERT_GE(restart.size(), 3u);
    EXPECT_EQ(restart[0], "stop");
    EXPECT_EQ(restart[1], "disposeBuffers");
    EXPECT_EQ(restart[2], "setSampleRate");
    EXPECT_TRUE(host_.Running());
}

TEST(AsioHostLifetime, EveryDriverReferenceIsReleasedExactlyOnce)
{
    MessageWindow window;
    RecordingProcessor processor;
    CFakeAsioDriver first, second;
    first.inputNames = second.inputNames = Names("In ", 1);
    int created = 0;
    {
        CAsioHost host(window.hwnd, processor, [&](IASIO** driver) {
            CFakeAsioDriver& next = created++ == 0 ? first : second;
            return next.QueryInterface(kVeloranDriverClsid, reinterpret_cast<void**>(driver));
        });
        std::wstring text;
        host.LoadDriver(-1, text);
        host.ReadChannels();
        host.StartAsio(44100, 256);

        // Reloading stops the running stream and releases the old instance before the new one.
        host.LoadDriver(-1, text);
        EXPECT_EQ(first.References(), 0);
        EXPECT_EQ(first.Calls().back(), "disposeBuffers");
        EXPECT_EQ(first.CountOf("stop"), 1);
        EXPECT_EQ(second.References(), 1);
        EXPECT_EQ(host.InputCount(), 0);   // until the new driver's channels are read

        host.ReadChannels();
        host.StartAsio(44100, 256);
    }
    // The destructor stops and releases.
    EXPECT_EQ(second.References(), 0);
    const Calls tail = Since(second, second.Calls().size() - 2);
    EXPECT_EQ(tail, (Calls{"stop", "disposeBuffers"}));
    EXPECT_FALSE(first.OverReleased());
    EXPECT_FALSE(second.OverReleased());
}

// Removes the host's settings key of the driver, and the driver key when the test made it.
class HostKeyScratch {
public:
    HostKeyScratch() : driverKeyExisted_(KeyExists(HKEY_LOCAL_MACHINE, kDriverKey))
    {
        DeleteTree(HKEY_LOCAL_MACHINE, HostKey());
        // The driver's update check asks a loopback port where nothing listens.
        const std::wstring defaults = std::wstring(kDriverKey) + L"\\Default Parameters";
        const wchar_t nowhere[] = L"127.0.0.1:9";
        WriteRawValue(HKEY_LOCAL_MACHINE, defaults, L"UpdateServer", REG_SZ, nowhere, sizeof(nowhere));
    }
    ~HostKeyScratch()
    {
        DeleteTree(HKEY_LOCAL_MACHINE, driverKeyExisted_ ? HostKey() : std::wstring(kDriverKey));
    }
    static std::wstring HostKey()
    {
        const std::wstring path = CAsioHost::PreferredSizeKeyPath();
        return path.substr(0, path.rfind(L'\\'));
    }
    static constexpr const wchar_t* kDriverKey = L"Software\\ASIO\\Asio 2.0 Veloran Driver";

private:
    bool driverKeyExisted_;
};

TEST(AsioHostRegistry, PreferredSizeIsWrittenBeforeCreationAndOnlyIntoAnExistingKey)
{
    const std::wstring path = CAsioHost::PreferredSizeKeyPath();
    EXPECT_EQ(path, L"Software\\ASIO\\Asio 2.0 Veloran Driver\\testhost_host_tests\\Parameters");
    HostKeyScratch scratch;

    MessageWindow window;
    RecordingProcessor processor;
    CFakeAsioDriver fake;
    bool present = false;
    DWORD seen = 0;
    CAsioHost host(window.hwnd, processor, [&](IASIO** driver) {
        present = ReadDwordValue(HKEY_LOCAL_MACHINE, path, L"AsioBuffSizePreferred", seen);
        return fake.QueryInterface(kVeloranDriverClsid, reinterpret_cast<void**>(driver));
    });

    std::wstring text;
    EXPECT_EQ(host.LoadDriver(256, text), DriverLoad::Hardware);
    EXPECT_FALSE(present);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, path));

    const DWORD stored = 128;
    WriteRawValue(HKEY_LOCAL_MACHINE, path, L"AsioBuffSizePreferred", REG_DWORD, &stored, sizeof(stored));
    host.LoadDriver(-1, text);
    EXPECT_TRUE(present);
    EXPECT_EQ(seen, 128u);

    host.LoadDriver(1024, text);
    EXPECT_TRUE(present);
    EXPECT_EQ(seen, 1024u);
}

// The driver as built, loaded into this process through its class object.
HRESULT CreateBuiltDriver(IASIO** driver)
{
    static const HMODULE module = [] {
        wchar_t exe[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, exe, MAX_PATH);
        std::wstring path(exe);
        path.resize(path.find_last_of(L'\\') + 1);
        for (const wchar_t* c = VELORAN_DRIVER_FROM_TESTS; *c; ++c) path += *c == L'/' ? L'\\' : *c;
        return LoadLibraryW(path.c_str());
    }();
    if (!module) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    const auto get = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (!get) return E_NOINTERFACE;
    ComPtr<IClassFactory> factory;
    const HRESULT hr = get(kVeloranDriverClsid, IID_IClassFactory, factory.PutVoid());
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(nullptr, kVeloranDriverClsid, reinterpret_cast<void**>(driver));
}

struct ComApartment {
    ComApartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComApartment() { CoUninitialize(); }
};

TEST(AsioHostBuiltDriver, LoadsWithoutHardwareAndTakesThePreferredSizeOnReload)
{
    ComApartment com;
    HostKeyScratch scratch;
    MessageWindow window;   // answers 0 to the private message: no default devices
    RecordingProcessor processor;
    CAsioHost host(window.hwnd, processor, CreateBuiltDriver);

    std::wstring text = L"stale";
    ASSERT_EQ(host.LoadDriver(-1, text), DriverLoad::NoHardware);
    EXPECT_TRUE(text.empty());
    host.ReadChannels();
    EXPECT_EQ(host.InputCount(), 0);
    EXPECT_EQ(host.OutputCount(), 0);
    // The driver made its settings key for this host when it initialised.
    ASSERT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, CAsioHost::PreferredSizeKeyPath()));

    for (long preferred : {256L, 1024L}) {
        ASSERT_EQ(host.LoadDriver(preferred, text), DriverLoad::NoHardware);
        EXPECT_EQ(host.DriverPreferredBufferSize(), preferred);
    }
    host.ReadChannels();
    host.StartAsio(48000, 1024);
    EXPECT_TRUE(host.Running());
    host.Unload();
    EXPECT_FALSE(host.Loaded());
    EXPECT_FALSE(host.Running());
}

}  // namespace
