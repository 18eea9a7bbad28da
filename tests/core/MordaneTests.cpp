#include <core/Mordane.h>

#include "../support/RegistryScratch.h"
#include "../support/NullDevicePlatform.h"
#include "../support/TestPorts.h"

#include <veloran/DriverClassId.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

namespace {

const std::wstring kDriverKey = L"Software\\ASIO\\Asio 2.0 Veloran Driver";
const std::wstring kDefaultKey = kDriverKey + L"\\Default Parameters";

// What the host's callbacks saw; the callbacks are free functions, as in C hosts.
struct HostLog {
    int rateChanges = 0;
    double lastRate = 0;
    long timeInfoAnswer = 0;
    int messages = 0;
} gLog;

void OnBufferSwitch(long, ASIOBool) {}
void OnRateChange(ASIOSampleRate rate)
{
    ++gLog.rateChanges;
    gLog.lastRate = rate;
}
long OnMessage(long selector, long, void*, double*)
{
    ++gLog.messages;
    return selector == kAsioSupportsTimeInfo ? gLog.timeInfoAnswer : 0;
}
ASIOTime* OnBufferSwitchTimeInfo(ASIOTime* time, long, ASIOBool) { return time; }

class MordaneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gLog = {};
        DeleteTree(HKEY_LOCAL_MACHINE, kDriverKey + L"\\MordaneTestHost");
        DeleteTree(HKEY_LOCAL_MACHINE, kDefaultKey);
        Recreate();
    }
    void TearDown() override
    {
        driver_.reset();
        DeleteTree(HKEY_LOCAL_MACHINE, kDriverKey + L"\\MordaneTestHost");
        DeleteTree(HKEY_LOCAL_MACHINE, kDefaultKey);
    }
    void Recreate()
    {
        driver_.reset();
        HRESULT result = S_OK;
        driver_.reset(new CMordane(nullptr, &result, hostKey_, defaultKey_, platform_));
        ASSERT_EQ(result, S_OK);
    }
    // A Lumo-like stereo port and a one-channel port offered as two inputs, without outputs.
    void InstallTwoPorts()
    {
        const _sPort ports[2] = {MakeTestPort(L"Lumo A2", 2, 2), MakeTestPort(L"Strym", 1, 0, true)};
        ASSERT_TRUE(driver_->InstallPorts(ports, 2));
    }
    ASIOCallbacks Callbacks() const { return {OnBufferSwitch, OnRateChange, OnMessage, OnBufferSwitchTimeInfo}; }

    CSettingsKey hostKey_{kVeloranDriverClsid, L"C:\\hosts\\MordaneTestHost.exe"};
    CSettingsKey defaultKey_{kVeloranDriverClsid, L""};
    CNullDevicePlatform platform_;
    std::unique_ptr<CMordane> driver_;
};

TEST_F(MordaneTest, AnswersWithoutHardware)
{
    // The panel belongs to the callback window, which init makes.
    EXPECT_EQ(driver_->controlPanel(), ASE_NotPresent);
    EXPECT_EQ(driver_->init(nullptr), ASIOTrue);

    char name[32];
    memset(name, 'x', sizeof(name));
    driver_->getDriverName(name);
    EXPECT_STREQ(name, "Asio 2.0 Veloran Driver");
    EXPECT_EQ(driver_->getDriverVersion(), 1900);
    char message[124];
    memset(message, 'x', sizeof(message));
    driver_->getErrorMessage(message);
    EXPECT_STREQ(message, "");

    long inputs = -1, outputs = -1;
    EXPECT_EQ(driver_->getChannels(&inputs, &outputs), ASE_OK);
    EXPECT_EQ(inputs, 0);
    EXPECT_EQ(outputs, 0);

    long minSize = 0, maxSize = 0, preferred = 0, granularity = -1;
    EXPECT_EQ(driver_->getBufferSize(&minSize, &maxSize, &preferred, &granularity), ASE_OK);
    EXPECT_EQ(minSize, 512);
    EXPECT_EQ(maxSize, 512);
    EXPECT_EQ(preferred, 512);
    EXPECT_EQ(granularity, 0);

    ASIOClockSource clocks[2] = {};
    long count = 2;
    EXPECT_EQ(driver_->getClockSources(clocks, &count), ASE_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(clocks[0].associatedChannel, -1);
    EXPECT_EQ(clocks[0].associatedGroup, -1);
    EXPECT_EQ(clocks[0].isCurrentSource, ASIOTrue);
    EXPECT_STREQ(clocks[0].name, "Veloran Driver");
    EXPECT_EQ(driver_->setClockSource(7), ASE_OK);

    ASIOSamples position = {1, 1};
    ASIOTimeStamp stamp = {1, 1};
    EXPECT_EQ(driver_->getSamplePosition(&position, &stamp), ASE_OK);
    EXPECT_EQ(position.hi, 0u);
    EXPECT_EQ(position.lo, 0u);
    EXPECT_EQ(stamp.lo, 0u);

    EXPECT_EQ(driver_->controlPanel(), ASE_OK);
}

TEST_F(MordaneTest, HardwareQueryWritesTextAndChangesNothingElse)
{
    wchar_t text[121];
    wmemset(text, L'#', 121);
    EXPECT_EQ(driver_->createBuffers(reinterpret_cast<ASIOBufferInfo*>(text), 12345, 12345, nullptr), ASE_OK);
    EXPECT_STREQ(text, L"No hardware");
    EXPECT_EQ(driver_->activeInputCount(), 0);
    EXPECT_EQ(driver_->settings().captureFrames, 512);

    // Any other combination is an ordinary createBuffers.
    ASIOCallbacks callbacks = Callbacks();
    EXPECT_EQ(driver_->createBuffers(nullptr, 0, 12345, &callbacks), ASE_InvalidMode);
}

TEST_F(MordaneTest, ChannelInfoRejectsChannelsOutOfRange)
{
    ASIOChannelInfo info = {};
    info.channel = -1;
    info.isInput = ASIOTrue;
    info.isActive = 77;
    info.channelGroup = 5;
    EXPECT_EQ(driver_->getChannelInfo(&info), ASE_InvalidParameter);
    EXPECT_EQ(info.isActive, 77);  // untouched for a negative channel
    EXPECT_EQ(info.channelGroup, 5);

    info.channel = 0;  // == numInputs without hardware
    EXPECT_EQ(driver_->getChannelInfo(&info), ASE_InvalidParameter);
    EXPECT_EQ(info.isActive, ASIOFalse);
    EXPECT_EQ(info.channelGroup, 0);

    InstallTwoPorts();
    info.channel = 4;
    EXPECT_EQ(driver_->getChannelInfo(&info), ASE_InvalidParameter);
    info.channel = 2;
    info.isInput = ASIOFalse;
    EXPECT_EQ(driver_->getChannelInfo(&info), ASE_InvalidParameter);
    EXPECT_EQ(driver_->getChannelInfo(nullptr), ASE_InvalidParameter);
}

TEST_F(MordaneTest, ChannelInfoNamesAndActiveFlags)
{
    InstallTwoPorts();
    long inputs = 0, outputs = 0;
    driver_->getChannels(&inputs, &outputs);
    EXPECT_EQ(inputs, 4);
    EXPECT_EQ(outputs, 2);

    ASIOBufferInfo infos[2] = {{ASIOTrue, 3, {}}, {ASIOFalse, 1, {}}};
    ASIOCallbacks callbacks = Callbacks();
    ASSERT_EQ(driver_->createBuffers(infos, 2, 256, &callbacks), ASE_OK);

    const struct {
        ASIOBool isInput;
        long channel;
        const char* name;
        ASIOBool active;
    } expected[] = {
        {ASIOTrue, 0, "Lumo A2 - In L", ASIOFalse},
        {ASIOTrue, 1, "Lumo A2 - In R", ASIOFalse},
        {ASIOTrue, 2, "Strym - In L", ASIOFalse},
        {ASIOTrue, 3, "Strym - In R", ASIOTrue},
        {ASIOFalse, 0, "Lumo A2 - Out L", ASIOFalse},
        {ASIOFalse, 1, "Lumo A2 - Out R", ASIOTrue},
    };
    for (const auto& e : expected) {
        ASIOChannelInfo info = {};
        info.channel = e.channel;
        info.isInput = e.isInput;
        ASSERT_EQ(driver_->getChannelInfo(&info), ASE_OK) << e.name;
        EXPECT_STREQ(info.name, e.name);
        EXPECT_EQ(info.isActive, e.active) << e.name;
        EXPECT_EQ(info.type, ASIOSTInt16LSB);
    }
    EXPECT_EQ(driver_->activeInput(0).port, 1);
    EXPECT_EQ(driver_->activeInput(0).channelInPort, 1);
}

TEST_F(MordaneTest, ChannelNamesAreCutToTheAsioField)
{
    _sPort port = MakeTestPort(L"Long", 2, 2);
    wcscpy(port.input.channelName[0], L"0123456789012345678901234567890");  // 31 units, the block's limit
    ASSERT_TRUE(driver_->InstallPorts(&port, 1));
    ASIOChannelInfo info = {};
    info.isInput = ASIOTrue;
    ASSERT_EQ(driver_->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(strlen(info.name), 31u);
}

TEST_F(MordaneTest, CreateBuffersGivesZeroedHalvesOfOneBuffer)
{
    InstallTwoPorts();
    ASIOBufferInfo infos[3] = {{ASIOTrue, 0, {}}, {ASIOTrue, 1, {}}, {ASIOFalse, 0, {}}};
    ASIOCallbacks callbacks = Callbacks();
    ASSERT_EQ(driver_->createBuffers(infos, 3, 128, &callbacks), ASE_OK);
    EXPECT_EQ(driver_->settings().captureFrames, 128);
    EXPECT_EQ(driver_->settings().renderFrames, 128);
    for (const ASIOBufferInfo& info : infos) {
        auto* first = static_cast<uint8_t*>(info.buffers[0]);
        auto* second = static_cast<uint8_t*>(info.buffers[1]);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(second - first, 128 * 2);
        for (int i = 0; i < 2 * 128 * 2; ++i) ASSERT_EQ(first[i], 0) << i;
    }
    EXPECT_NE(infos[0].buffers[0], infos[1].buffers[0]);
    EXPECT_EQ(driver_->activeInputCount(), 2);
    EXPECT_EQ(driver_->activeOutputCount(), 1);
}

TEST_F(MordaneTest, CreateBuffersRejectsBadRequestsAndKeepsNothing)
{
    InstallTwoPorts();
    ASIOCallbacks callbacks = Callbacks();
    struct Case {
        const char* what;
        std::vector<ASIOBufferInfo> infos;
    } cases[] = {
        {"the same input twice", {{ASIOTrue, 0, {}}, {ASIOFalse, 0, {}}, {ASIOTrue, 0, {}}}},
        {"the same output twice", {{ASIOFalse, 1, {}}, {ASIOFalse, 1, {}}}},
        {"input beyond the count", {{ASIOTrue, 0, {}}, {ASIOTrue, 4, {}}}},
        {"negative output", {{ASIOFalse, -1, {}}}},
    };
    for (Case& c : cases) {
        EXPECT_EQ(driver_->createBuffers(c.infos.data(), static_cast<long>(c.infos.size()), 256, &callbacks),
                  ASE_InvalidParameter)
            << c.what;
        EXPECT_EQ(driver_->activeInputCount(), 0) << c.what;
        EXPECT_EQ(driver_->activeOutputCount(), 0) << c.what;
        // The failed call leaves no callbacks behind either.
        EXPECT_EQ(driver_->start(), ASE_NotPresent) << c.what;
    }

    ASIOBufferInfo one = {ASIOTrue, 0, {}};
    EXPECT_EQ(driver_->createBuffers(&one, 1, 0, &callbacks), ASE_InvalidMode);
    EXPECT_EQ(driver_->createBuffers(&one, 1, -512, &callbacks), ASE_InvalidMode);
    EXPECT_EQ(driver_->createBuffers(&one, 1, 1 << 30, &callbacks), ASE_InvalidMode);
    EXPECT_EQ(driver_->createBuffers(nullptr, 1, 256, &callbacks), ASE_InvalidParameter);
    EXPECT_EQ(driver_->createBuffers(&one, -1, 256, &callbacks), ASE_InvalidParameter);
}

TEST_F(MordaneTest, RepeatedCreateBuffersReplacesTheChannelSet)
{
    InstallTwoPorts();
    ASIOCallbacks callbacks = Callbacks();
    ASIOBufferInfo first[2] = {{ASIOTrue, 0, {}}, {ASIOTrue, 1, {}}};
    ASSERT_EQ(driver_->createBuffers(first, 2, 256, &callbacks), ASE_OK);
    ASIOBufferInfo second = {ASIOTrue, 2, {}};
    ASSERT_EQ(driver_->createBuffers(&second, 1, 256, &callbacks), ASE_OK);
    EXPECT_EQ(driver_->activeInputCount(), 1);
    EXPECT_TRUE(driver_->ChannelInUse(true, L"\\\\?\\usb#capture#Strym", 0));
    EXPECT_FALSE(driver_->ChannelInUse(true, L"\\\\?\\usb#capture#Lumo A2", 0));

    EXPECT_EQ(driver_->disposeBuffers(), ASE_OK);
    EXPECT_EQ(driver_->activeInputCount(), 0);
    EXPECT_FALSE(driver_->ChannelInUse(true, L"\\\\?\\usb#capture#Strym", 0));
}

TEST_F(MordaneTest, ChannelInUseFollowsTheFirstEntryOfThePath)
{
    InstallTwoPorts();
    ASIOCallbacks callbacks = Callbacks();
    ASIOBufferInfo infos[2] = {{ASIOTrue, 1, {}}, {ASIOFalse, 0, {}}};
    ASSERT_EQ(driver_->createBuffers(infos, 2, 256, &callbacks), ASE_OK);
    EXPECT_TRUE(driver_->ChannelInUse(true, L"\\\\?\\usb#capture#Lumo A2", 1));
    EXPECT_FALSE(driver_->ChannelInUse(true, L"\\\\?\\usb#capture#Lumo A2", 0));
    EXPECT_TRUE(driver_->ChannelInUse(false, L"\\\\?\\usb#render#Lumo A2", 0));
    EXPECT_FALSE(driver_->ChannelInUse(false, L"\\\\?\\usb#render#lumo a2", 0));  // exact comparison
    EXPECT_FALSE(driver_->ChannelInUse(true, L"\\\\?\\usb#render#Lumo A2", 0));
}

TEST_F(MordaneTest, CallbacksAreCopiedNotReferenced)
{
    ASIOCallbacks* temporary = new ASIOCallbacks(Callbacks());
    ASSERT_EQ(driver_->createBuffers(nullptr, 0, 512, temporary), ASE_OK);
    memset(temporary, 0xCD, sizeof(*temporary));
    delete temporary;

    ASSERT_EQ(driver_->start(), ASE_OK);
    ASSERT_EQ(driver_->setSampleRate(48000.0), ASE_OK);
    EXPECT_EQ(gLog.rateChanges, 1);
    EXPECT_EQ(gLog.lastRate, 48000.0);
}

TEST_F(MordaneTest, TimeInfoIsNegotiatedOnceInCreateBuffers)
{
    ASIOCallbacks callbacks = Callbacks();
    gLog.timeInfoAnswer = 1;
    ASSERT_EQ(driver_->createBuffers(nullptr, 0, 512, &callbacks), ASE_OK);
    EXPECT_EQ(gLog.messages, 1);
    EXPECT_TRUE(driver_->timeInfoMode());
    const ASIOTime& time = driver_->asioTime();
    EXPECT_EQ(time.timeInfo.speed, 1.0);
    EXPECT_EQ(time.timeInfo.sampleRate, 44100.0);
    EXPECT_EQ(time.timeInfo.flags, 7u);
    EXPECT_EQ(time.timeCode.speed, 1.0);
    EXPECT_EQ(time.timeCode.flags, 3u);

    gLog.timeInfoAnswer = 0;
    ASSERT_EQ(driver_->createBuffers(nullptr, 0, 512, &callbacks), ASE_OK);
    EXPECT_FALSE(driver_->timeInfoMode());

    // A host without asioMessage is asked nothing and gets plain buffer switches.
    callbacks.asioMessage = nullptr;
    gLog.timeInfoAnswer = 1;
    ASSERT_EQ(driver_->createBuffers(nullptr, 0, 512, &callbacks), ASE_OK);
    EXPECT_FALSE(driver_->timeInfoMode());
}

TEST_F(MordaneTest, StartNeedsCallbacksAndRunsWithoutPorts)
{
    EXPECT_EQ(driver_->start(), ASE_NotPresent);
    EXPECT_FALSE(driver_->running());
    ASIOCallbacks callbacks = Callbacks();
    ASSERT_EQ(driver_->createBuffers(nullptr, 0, 512, &callbacks), ASE_OK);
    EXPECT_EQ(driver_->start(), ASE_OK);
    EXPECT_TRUE(driver_->running());
    EXPECT_EQ(driver_->outputReady(), ASE_OK);
    // The engine owns the buffers while it runs.
    EXPECT_EQ(driver_->createBuffers(nullptr, 0, 512, &callbacks), ASE_InvalidMode);
    EXPECT_FALSE(driver_->InstallPorts(nullptr, 0));
    EXPECT_EQ(driver_->stop(), ASE_OK);
    EXPECT_EQ(driver_->stop(), ASE_OK);
    EXPECT_FALSE(driver_->running());
    EXPECT_EQ(driver_->outputReady(), ASE_OK);
}

TEST_F(MordaneTest, DisposeBuffersWhileRunningStopsFirst)
{
    ASIOCallbacks callbacks = Callbacks();
    ASSERT_EQ(driver_->createBuffers(nullptr, 0, 512, &callbacks), ASE_OK);
    ASSERT_EQ(driver_->start(), ASE_OK);
    EXPECT_EQ(driver_->disposeBuffers(), ASE_OK);
    EXPECT_FALSE(driver_->running());
    EXPECT_EQ(driver_->start(), ASE_NotPresent);
}

TEST_F(MordaneTest, SampleRateRangeAndHostileRates)
{
    EXPECT_EQ(driver_->canSampleRate(44100.0), ASE_OK);
    EXPECT_EQ(driver_->canSampleRate(46000.0), ASE_OK);
    EXPECT_EQ(driver_->canSampleRate(48000.0), ASE_OK);
    for (double bad : {0.0, -44100.0, 44099.9, 48000.1, 96000.0, 1e300, std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(driver_->canSampleRate(bad), ASE_NoClock) << bad;
        EXPECT_EQ(driver_->setSampleRate(bad), ASE_NoClock) << bad;
    }
    ASIOSampleRate rate = 0;
    EXPECT_EQ(driver_->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, 44100.0);
    EXPECT_EQ(driver_->getSampleRate(nullptr), ASE_InvalidParameter);
}

TEST_F(MordaneTest, StoredSampleRateNarrowsTheRange)
{
    const DWORD stored = 48000;
    WriteRawValue(HKEY_LOCAL_MACHINE, kDefaultKey, L"SampleRate", REG_DWORD, &stored, sizeof(stored));
    Recreate();
    driver_->init(nullptr);
    EXPECT_EQ(driver_->canSampleRate(48000.0), ASE_OK);
    EXPECT_EQ(driver_->canSampleRate(44100.0), ASE_NoClock);
    ASIOSampleRate rate = 0;
    driver_->getSampleRate(&rate);
    EXPECT_EQ(rate, 48000.0);  // the current rate is one the driver accepts

    for (DWORD ignored : {DWORD(-1), DWORD(46000), DWORD(96000)}) {
        WriteRawValue(HKEY_LOCAL_MACHINE, kDefaultKey, L"SampleRate", REG_DWORD, &ignored, sizeof(ignored));
        Recreate();
        driver_->init(nullptr);
        EXPECT_EQ(driver_->canSampleRate(44100.0), ASE_OK) << ignored;
        EXPECT_EQ(driver_->canSampleRate(48000.0), ASE_OK) << ignored;
    }
}

TEST_F(MordaneTest, SetSampleRateRestartsARunningDriverAndTellsTheHost)
{
    ASIOCallbacks callbacks = Callbacks();
    ASSERT_EQ(driver_->createBuffers(nullptr, 0, 512, &callbacks), ASE_OK);
    ASSERT_EQ(driver_->start(), ASE_OK);

    ASSERT_EQ(driver_->setSampleRate(44100.5), ASE_OK);  // same integer part: nothing happens
    EXPECT_EQ(gLog.rateChanges, 0);
    ASIOSampleRate rate = 0;
    driver_->getSampleRate(&rate);
    EXPECT_EQ(rate, 44100.0);

    ASSERT_EQ(driver_->setSampleRate(48000.0), ASE_OK);
    EXPECT_EQ(gLog.rateChanges, 1);
    EXPECT_EQ(gLog.lastRate, 48000.0);
    EXPECT_TRUE(driver_->running());
    EXPECT_EQ(driver_->asioTime().timeInfo.sampleRate, 48000.0);
    EXPECT_EQ(driver_->asioTime().timeInfo.flags, 0x17u);

    ASSERT_EQ(driver_->stop(), ASE_OK);
    ASSERT_EQ(driver_->setSampleRate(44100.0), ASE_OK);  // stopped: no notification
    EXPECT_EQ(gLog.rateChanges, 1);
    EXPECT_FALSE(driver_->running());
}

TEST_F(MordaneTest, StartWithPortsButNoStreamReportsTheFailureTextInTheHostsLanguage)
{
    InstallTwoPorts();
    ASIOCallbacks callbacks = Callbacks();
    ASIOBufferInfo info = {ASIOTrue, 0, {}};
    ASSERT_EQ(driver_->createBuffers(&info, 1, 512, &callbacks), ASE_OK);
    for (const DWORD language : {DWORD(9), DWORD(12)}) {
        WriteRawValue(HKEY_LOCAL_MACHINE, kDriverKey + L"\\MordaneTestHost\\Parameters", L"Language", REG_DWORD,
                      &language, sizeof(language));
        EXPECT_EQ(driver_->start(), ASE_NotPresent);
        EXPECT_FALSE(driver_->running());
        char message[124] = {};
        driver_->getErrorMessage(message);
        // The French text in the ANSI code page of these machines (1252).
        EXPECT_STREQ(message, language == 9 ? "Problem opening audio ports interface!"
                                            : "Probl\xe8me pendant l'acc\xe8s aux ports audio!");
    }
}

TEST_F(MordaneTest, InitLoadsTheHostsBufferSizeAndSampleFormat)
{
    const std::wstring params = kDriverKey + L"\\MordaneTestHost\\Parameters";
    const DWORD frames = 256, resolution = 24;
    WriteRawValue(HKEY_LOCAL_MACHINE, params, L"AsioBuffSizePreferred", REG_DWORD, &frames, sizeof(frames));
    WriteRawValue(HKEY_LOCAL_MACHINE, params, L"Resolution", REG_DWORD, &resolution, sizeof(resolution));
    ASSERT_EQ(driver_->init(nullptr), ASIOTrue);
    long minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    driver_->getBufferSize(&minSize, &maxSize, &preferred, &granularity);
    EXPECT_EQ(preferred, 256);

    InstallTwoPorts();
    ASIOChannelInfo info = {};
    info.isInput = ASIOTrue;
    ASSERT_EQ(driver_->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.type, ASIOSTInt24LSB);
    // 24-bit samples are packed in three bytes.
    ASIOBufferInfo buffer = {ASIOTrue, 0, {}};
    ASIOCallbacks callbacks = Callbacks();
    ASSERT_EQ(driver_->createBuffers(&buffer, 1, 256, &callbacks), ASE_OK);
    EXPECT_EQ(static_cast<uint8_t*>(buffer.buffers[1]) - static_cast<uint8_t*>(buffer.buffers[0]), 256 * 3);
}

TEST_F(MordaneTest, FutureSelectors)
{
    EXPECT_EQ(driver_->future(kAsioEnableTimeCodeRead, nullptr), ASE_SUCCESS);
    EXPECT_TRUE(driver_->timeCodeReadEnabled());
    EXPECT_EQ(driver_->future(kAsioDisableTimeCodeRead, nullptr), ASE_SUCCESS);
    EXPECT_FALSE(driver_->timeCodeReadEnabled());
    EXPECT_EQ(driver_->future(kAsioCanTimeInfo, nullptr), ASE_SUCCESS);
    EXPECT_EQ(driver_->future(kAsioCanTimeCode, nullptr), ASE_SUCCESS);
    for (long selector : {long(kAsioSetInputMonitor), long(kAsioTransport), long(kAsioSetInputGain),
                          long(kAsioGetInputMeter), long(kAsioSetOutputGain), long(kAsioGetOutputMeter),
                          long(kAsioCanInputMonitor), long(kAsioCanTransport), 0L, -1L, 0x23111961L})
        EXPECT_EQ(driver_->future(selector, nullptr), ASE_NotPresent) << selector;
}

// A host window that answers the private registered message.
class PrivateMessageTest : public MordaneTest {
protected:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM w, LPARAM l)
    {
        if (message == RegisterWindowMessageW(L"KWTRB352")) {
            ++seen_;
            return reply_;
        }
        return DefWindowProcW(window, message, w, l);
    }
    HWND MakeWindow(LRESULT reply)
    {
        reply_ = reply;
        seen_ = 0;
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = Proc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"MordaneTestHostWindow";
        RegisterClassW(&windowClass);
        return CreateWindowW(windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                             windowClass.hInstance, nullptr);
    }
    static inline LRESULT reply_ = 0;
    static inline int seen_ = 0;
};

TEST_F(PrivateMessageTest, ReplySelectsTheHostMode)
{
    const struct {
        LRESULT reply;
        bool useDefault, only;
    } cases[] = {{291, true, false}, {292, true, true}, {0, false, false}, {293, false, false}, {-291, false, false}};
    for (const auto& c : cases) {
        Recreate();
        HWND window = MakeWindow(c.reply);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(driver_->init(window), ASIOTrue);
        EXPECT_EQ(seen_, 1) << c.reply;
        EXPECT_EQ(driver_->useDefaultDevices(), c.useDefault) << c.reply;
        EXPECT_EQ(driver_->defaultDevicesOnly(), c.only) << c.reply;
        char message[124] = {};
        driver_->getErrorMessage(message);
        EXPECT_STREQ(message, c.only ? "No hardware" : "") << c.reply;
        DestroyWindow(window);
    }
}

TEST_F(PrivateMessageTest, InitWithoutAWindowSendsNothing)
{
    HWND window = MakeWindow(291);
    EXPECT_EQ(driver_->init(nullptr), ASIOTrue);
    EXPECT_EQ(seen_, 0);
    EXPECT_FALSE(driver_->useDefaultDevices());
    // A second init asks again and follows the new answer.
    EXPECT_EQ(driver_->init(window), ASIOTrue);
    EXPECT_TRUE(driver_->useDefaultDevices());
    DestroyWindow(window);
    // A handle that is no longer a window counts as an ordinary host.
    EXPECT_EQ(driver_->init(window), ASIOTrue);
    EXPECT_FALSE(driver_->useDefaultDevices());
}

TEST_F(PrivateMessageTest, WindowOfAnotherThreadIsAskedWithATimeLimit)
{
    // One thread answers, one never pumps its queue; init must not hang on the second.
    for (const bool answers : {true, false}) {
        Recreate();
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE quit = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HWND window = nullptr;
        std::thread owner([&] {
            window = MakeWindow(291);
            SetEvent(ready);
            if (answers) {
                while (MsgWaitForMultipleObjects(1, &quit, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
                    MSG msg;
                    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
                }
            } else {
                WaitForSingleObject(quit, INFINITE);
            }
            DestroyWindow(window);
        });
        WaitForSingleObject(ready, INFINITE);
        EXPECT_EQ(driver_->init(window), ASIOTrue);
        EXPECT_EQ(driver_->useDefaultDevices(), answers);
        SetEvent(quit);
        owner.join();
        CloseHandle(ready);
        CloseHandle(quit);
    }
}

}  // namespace
