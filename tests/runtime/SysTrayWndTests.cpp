// The driver's callback window through a real message loop: the tray icon's calls, hot-plug on the
// virtual bus, a capture that stops delivering, and a release from another thread.
#include <core/Mordane.h>
#include <runtime/SysTrayWnd.h>
#include <ui/SettingsDialogIds.h>
#include <controls/ColorStatic.h>
#include <controls/ComboBoxBuddy.h>
#include <controls/MixaraLikeStaticFrameAuto.h>

#include "../controls/ControlTestSupport.h"
#include "../support/LoopbackHttpServer.h"
#include "../support/RegistryScratch.h"
#include "../virtual/VirtualHardware.h"

#include <veloran/DriverClassId.h>

#include <commctrl.h>
#include <dbt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace VirtualUsb;

const std::wstring kDriverKey = L"Software\\ASIO\\Asio 2.0 Veloran Driver";
constexpr GUID kCaptureCategory = {0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
constexpr GUID kRenderCategory = {0x65E8773E, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

struct NotifyCall {
    DWORD message;
    UINT flags;
    UINT id;
    UINT callbackMessage;
    HICON icon;
    std::wstring tip, info, infoTitle;
    DWORD infoFlags;
};
std::vector<NotifyCall> gCalls;
BOOL RecordNotify(DWORD message, NOTIFYICONDATAW* data)
{
    gCalls.push_back({message, data->uFlags, data->uID, data->uCallbackMessage, data->hIcon, data->szTip,
                      data->szInfo, data->szInfoTitle, data->dwInfoFlags});
    return TRUE;
}

std::atomic<int> gResets{0};
void OnSwitch(long, ASIOBool) {}
// A host that plays full scale on its first output (32-bit samples, 256 frames).
ASIOBufferInfo* gFullScaleOutput = nullptr;
IASIO* gFullScaleDriver = nullptr;
void OnSwitchFullScale(long index, ASIOBool)
{
    auto* samples = static_cast<int32_t*>(gFullScaleOutput->buffers[index]);
    for (int i = 0; i < 256; ++i) samples[i] = i % 2 ? INT32_MIN + 1 : INT32_MAX;
    gFullScaleDriver->outputReady();
}
void OnRate(ASIOSampleRate) {}
long OnMessage(long selector, long, void*, double*)
{
    if (selector == kAsioResetRequest) ++gResets;
    return 0;
}

void Pump()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

// A device-interface notification as Windows sends it.
struct InterfaceNotice {
    DEV_BROADCAST_DEVICEINTERFACE_W header = {};
    wchar_t name[96] = L"\\\\?\\USB#VID_0000&PID_0000#1#{65e8773d-8f56-11d0-a3b9-00a0c9223196}";
    explicit InterfaceNotice(const GUID& category = kCaptureCategory)
    {
        header.dbcc_size = sizeof(*this);
        header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        header.dbcc_classguid = category;
    }
};

class SysTrayWndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteTree(HKEY_LOCAL_MACHINE, kDriverKey + L"\\" + hostName_);
        DeleteTree(HKEY_LOCAL_MACHINE, kDriverKey + L"\\Default Parameters");
        hostKey_.WriteDword(L"Language", 9);
        gCalls.clear();
        gResets = 0;
        SetNotifyIconForTests(RecordNotify);
        baseline_ = ActiveObjectCount();
    }
    void TearDown() override
    {
        if (driver_) driver_->destroy();
        // The window goes on its own thread's messages; the next test counts objects afresh.
        for (int i = 0; i < 2000 && ActiveObjectCount() > baseline_; ++i) {
            Pump();
            Sleep(1);
        }
        Pump();
        SetNotifyIconForTests(nullptr);
        DeleteTree(HKEY_LOCAL_MACHINE, kDriverKey + L"\\" + hostName_);
        DeleteTree(HKEY_LOCAL_MACHINE, kDriverKey + L"\\Default Parameters");
    }
    void Create()
    {
        HRESULT result = S_OK;
        driver_ = new CMordane(nullptr, &result, hostKey_, defaultKey_, hardware_);
        ASSERT_EQ(result, S_OK);
        driver_->NonDelegatingAddRef();
        driver_->init(nullptr);
        ASSERT_NE(driver_->callbackWindow(), nullptr);
        window_ = driver_->callbackWindow()->window();
        Pump();
    }
    VirtualInterface AddLumo(UsbIds ids = kLumoA2)
    {
        const VirtualInterface lumo = hardware_.AddInterface(ids);
        hardware_.audio.SetSignal(lumo.capture, 0, VirtualSignal::Ramp(1));
        return lumo;
    }
    void DeviceChange(WPARAM event, void* data)
    {
        SendMessageW(window_, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(data));
    }
    void Tick(UINT_PTR timer, int times = 1)
    {
        for (int i = 0; i < times; ++i) {
            SendMessageW(window_, WM_TIMER, timer, 0);
            Pump();
        }
    }
    void StartHost(const VirtualInterface& lumo)
    {
        buffers_ = {{ASIOTrue, 0, {}}, {ASIOFalse, 0, {}}};
        ASSERT_EQ(driver_->createBuffers(buffers_.data(), 2, 256, &callbacks_), ASE_OK);
        ASSERT_EQ(driver_->start(), ASE_OK);
        ASSERT_TRUE(hardware_.audio.WaitUntilStreaming(lumo.capture));
    }
    // A monitor's output chosen through "OtherDevices": a port of its own after the interfaces'.
    int ChooseMonitor()
    {
        const int monitor = hardware_.audio.AddEndpoint(eRender, L"", L"LG HDR 4K", 2);
        WriteMultiStringValue(HKEY_LOCAL_MACHINE, hostKey_.KeyPath(), L"OtherDevices",
                              {hardware_.audio.DeviceId(monitor)});
        return monitor;
    }
    // What a host does when asked to reset: the driver builds its ports afresh at init.
    void ResetAsAHostDoes()
    {
        driver_->stop();
        driver_->disposeBuffers();
        driver_->init(nullptr);
    }
    int Count(DWORD message, UINT flags) const
    {
        int n = 0;
        for (const NotifyCall& call : gCalls) n += call.message == message && (call.flags & flags) == flags;
        return n;
    }

    std::wstring hostName_ = L"SysTrayTestHost";
    CSettingsKey hostKey_{kVeloranDriverClsid, L"C:\\" + hostName_ + L".exe"};
    const CSettingsKey defaultKey_{kVeloranDriverClsid, L""};
    CVirtualHardware hardware_;
    ASIOCallbacks callbacks_ = {OnSwitch, OnRate, OnMessage, nullptr};
    std::vector<ASIOBufferInfo> buffers_;
    CMordane* driver_ = nullptr;
    HWND window_ = nullptr;
    long baseline_ = 0;
};

TEST_F(SysTrayWndTest, WithoutHardwareTheIconWarnsAndBlinks)
{
    Create();
    ASSERT_GE(gCalls.size(), 2u);
    const NotifyCall add = gCalls[0];
    EXPECT_EQ(add.message, DWORD(NIM_ADD));
    EXPECT_EQ(add.id, 291u);
    EXPECT_EQ(add.callbackMessage, 32891u);
    EXPECT_EQ(add.flags, UINT(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_NE(add.icon, nullptr);
    EXPECT_EQ(add.tip, L"Veloran ASIO 2 Driver v. 1.9.0.0");
    const NotifyCall balloon = gCalls[1];
    EXPECT_EQ(balloon.flags, UINT(NIF_INFO));
    EXPECT_EQ(balloon.infoTitle, L"Veloran ASIO 2 Driver v. 1.9.0.0");
    EXPECT_EQ(balloon.info, L"Control panel");
    EXPECT_EQ(balloon.infoFlags, DWORD(NIIF_WARNING | NIIF_NOSOUND));
    EXPECT_EQ(driver_->callbackWindow()->state(), 1);

    // The blink alternates between the no-hardware icon and the attention icon.
    gCalls.clear();
    Tick(CSysTrayWnd::kBlinkTimer, 3);
    ASSERT_EQ(gCalls.size(), 3u);
    EXPECT_NE(gCalls[0].icon, gCalls[1].icon);
    EXPECT_EQ(gCalls[0].icon, gCalls[2].icon);
    EXPECT_EQ(gCalls[1].icon, add.icon);

    Tick(CSysTrayWnd::kBalloonTimer);
    EXPECT_EQ(gCalls.back().flags, UINT(NIF_INFO));
    EXPECT_TRUE(gCalls.back().info.empty()) << "the balloon goes after its time";

    EXPECT_EQ(driver_->controlPanel(), ASE_OK);
    driver_->destroy();
    driver_ = nullptr;
    EXPECT_EQ(gCalls.back().message, DWORD(NIM_DELETE));
}

TEST_F(SysTrayWndTest, RegistrationToolsGetNeitherIconNorRescan)
{
    hostName_ = L"RegisterAsioDriver_x64";
    hostKey_ = CSettingsKey(kVeloranDriverClsid, L"C:\\tools\\" + hostName_ + L".exe");
    SetUp();
    Create();
    EXPECT_TRUE(driver_->callbackWindow()->hidden());
    InterfaceNotice notice;
    DeviceChange(DBT_DEVICEARRIVAL, &notice);
    EXPECT_FALSE(driver_->callbackWindow()->rescanPending());
    driver_->destroy();
    driver_ = nullptr;
    EXPECT_TRUE(gCalls.empty());
}

TEST_F(SysTrayWndTest, NotificationsOtherThanCaptureInterfacesAreIgnored)
{
    Create();
    InterfaceNotice other(GUID{0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}});
    DeviceChange(DBT_DEVICEARRIVAL, &other);
    InterfaceNotice wrongType;
    wrongType.header.dbcc_devicetype = DBT_DEVTYP_VOLUME;
    DeviceChange(DBT_DEVICEARRIVAL, &wrongType);
    DEV_BROADCAST_HDR shortHeader = {sizeof(shortHeader), DBT_DEVTYP_DEVICEINTERFACE, 0};
    DeviceChange(DBT_DEVICEARRIVAL, &shortHeader);
    InterfaceNotice capture;
    DeviceChange(DBT_DEVNODES_CHANGED, &capture);
    DeviceChange(DBT_DEVICEARRIVAL, nullptr);
    EXPECT_FALSE(driver_->callbackWindow()->rescanPending());
    DeviceChange(DBT_DEVICEREMOVECOMPLETE, &capture);
    EXPECT_TRUE(driver_->callbackWindow()->rescanPending());
}

TEST_F(SysTrayWndTest, ArrivalWhileStoppedInstallsTheNewPortsAndAnUnrelatedDeviceStopsRetrying)
{
    AddLumo();
    Create();
    ASSERT_EQ(driver_->portCount(), 1);
    EXPECT_EQ(driver_->callbackWindow()->state(), 0);

    AddLumo(kLumoA1);
    InterfaceNotice notice;
    DeviceChange(DBT_DEVICEARRIVAL, &notice);
    Tick(CSysTrayWnd::kRescanTimer);
    EXPECT_EQ(driver_->portCount(), 2);
    EXPECT_FALSE(driver_->callbackWindow()->rescanPending());
    EXPECT_EQ(gResets.load(), 0);

    // A webcam: the interfaces stay the same, and the rescans stop after ten tries.
    DeviceChange(DBT_DEVICEARRIVAL, &notice);
    Tick(CSysTrayWnd::kRescanTimer, CSysTrayWnd::kRescanTries - 1);
    EXPECT_TRUE(driver_->callbackWindow()->rescanPending());
    Tick(CSysTrayWnd::kRescanTimer);
    EXPECT_FALSE(driver_->callbackWindow()->rescanPending());
}

TEST_F(SysTrayWndTest, RemovalWhileRunningAsksTheHostToResetOnceAndKeepsTheStreamingSet)
{
    const VirtualInterface streamed = AddLumo(kLumoA1);  // port 0: the host's channels
    const VirtualInterface removed = AddLumo();
    Create();
    ASSERT_EQ(driver_->portCount(), 2);
    StartHost(streamed);

    hardware_.usb.RemoveDevice(removed.device);
    hardware_.audio.SetState(removed.capture, DEVICE_STATE_NOTPRESENT);
    hardware_.audio.SetState(removed.render, DEVICE_STATE_NOTPRESENT);
    InterfaceNotice notice;
    DeviceChange(DBT_DEVICEREMOVECOMPLETE, &notice);
    Tick(CSysTrayWnd::kRescanTimer);
    DeviceChange(DBT_DEVICEREMOVECOMPLETE, &notice);  // the other endpoint reports later
    Tick(CSysTrayWnd::kRescanTimer, 2);
    EXPECT_EQ(gResets.load(), 1);
    EXPECT_EQ(driver_->portCount(), 2) << "the running host keeps its buffers' ports until it resets";

    // The host resets: the new set is taken at its next init.
    ResetAsAHostDoes();
    EXPECT_EQ(driver_->portCount(), 1);
}

// A chosen output-only device (a monitor's output) unplugged while the host streams: its render
// interface's notice brings one reset request, and the next init leaves it out.
TEST_F(SysTrayWndTest, AChosenOutputUnpluggedWhileRunningAsksTheHostToResetOnce)
{
    const VirtualInterface lumo = AddLumo();
    const int monitor = ChooseMonitor();
    Create();
    ASSERT_EQ(driver_->portCount(), 2);
    StartHost(lumo);

    hardware_.audio.SetState(monitor, DEVICE_STATE_UNPLUGGED);
    InterfaceNotice notice(kRenderCategory);
    DeviceChange(DBT_DEVICEREMOVECOMPLETE, &notice);
    Tick(CSysTrayWnd::kRescanTimer, 2);
    EXPECT_EQ(gResets.load(), 1);

    ResetAsAHostDoes();
    EXPECT_EQ(driver_->portCount(), 1);
}

// The same monitor switched off: Windows sends no interface notice for an endpoint that goes
// while its device stays, but its stream ends, and the lost stream brings the reset.
TEST_F(SysTrayWndTest, AChosenOutputThatGoesWithoutANoticeAsksTheHostToResetOnce)
{
    const VirtualInterface lumo = AddLumo();
    const int monitor = ChooseMonitor();
    Create();
    ASSERT_EQ(driver_->portCount(), 2);
    buffers_ = {{ASIOTrue, 0, {}}, {ASIOFalse, 0, {}}, {ASIOFalse, 2, {}}};  // the monitor's left too
    ASSERT_EQ(driver_->createBuffers(buffers_.data(), 3, 256, &callbacks_), ASE_OK);
    ASSERT_EQ(driver_->start(), ASE_OK);
    ASSERT_TRUE(hardware_.audio.WaitUntilStreaming(monitor));
    hardware_.audio.Advance(4 * 256);
    ASSERT_TRUE(hardware_.audio.WaitUntilServed());
    Tick(CSysTrayWnd::kWatchTimer);
    EXPECT_EQ(gResets.load(), 0);

    hardware_.audio.SetState(monitor, DEVICE_STATE_UNPLUGGED);
    hardware_.audio.Advance(4 * 256);
    ASSERT_TRUE(hardware_.audio.WaitUntilServed());
    Tick(CSysTrayWnd::kWatchTimer, 3);
    EXPECT_EQ(gResets.load(), 1);

    ResetAsAHostDoes();
    EXPECT_EQ(driver_->portCount(), 1);
}

TEST_F(SysTrayWndTest, ACaptureThatStopsDeliveringAsksTheHostToResetOnce)
{
    const VirtualInterface lumo = AddLumo();
    Create();
    StartHost(lumo);
    hardware_.audio.Advance(4 * 256);
    ASSERT_TRUE(hardware_.audio.WaitUntilServed());
    Tick(CSysTrayWnd::kWatchTimer);  // switches came: no stall
    // The clock stands still from here: the device delivers nothing more.
    Tick(CSysTrayWnd::kWatchTimer, CSysTrayWnd::kStallTicks - 1);
    EXPECT_EQ(gResets.load(), 0);
    Tick(CSysTrayWnd::kWatchTimer);
    EXPECT_EQ(gResets.load(), 1);
    Tick(CSysTrayWnd::kWatchTimer, 5);
    EXPECT_EQ(gResets.load(), 1) << "asked once";

    // Streaming again ends the stall; a later one is reported again.
    hardware_.audio.Advance(4 * 256);
    ASSERT_TRUE(hardware_.audio.WaitUntilServed());
    Tick(CSysTrayWnd::kWatchTimer, CSysTrayWnd::kStallTicks + 1);
    EXPECT_EQ(gResets.load(), 2);
}

TEST_F(SysTrayWndTest, AReleaseFromAnotherThreadDestroysTheWindowOnItsOwnThread)
{
    const long before = ActiveObjectCount();
    std::atomic<bool> made{false}, quit{false};
    std::thread owner([&] {
        Create();
        made = true;
        while (!quit) {
            Pump();
            Sleep(1);
        }
        Pump();
    });
    while (!made) Sleep(1);
    EXPECT_GE(ActiveObjectCount(), before + 2) << "the driver and its window";
    CMordane* driver = driver_;
    driver_ = nullptr;
    driver->destroy();
    for (int i = 0; i < 2000 && ActiveObjectCount() != before; ++i) Sleep(1);
    quit = true;
    owner.join();
    EXPECT_EQ(ActiveObjectCount(), before);
    ASSERT_FALSE(gCalls.empty());
    EXPECT_EQ(gCalls.back().message, DWORD(NIM_DELETE));
}

TEST_F(SysTrayWndTest, ANewerPublishedVersionReachesTheTip)
{
    CLoopbackHttpServer server(CLoopbackHttpServer::Reply(200, "1.9.1.0"));
    const UpdateServer local = {L"127.0.0.1", server.port()};
    SetUpdateServerForTests(&local);
    Create();
    EXPECT_FALSE(server.WaitForRequest().empty());
    const std::wstring expected = L"Veloran ASIO 2 Driver v. 1.9.0.0\nNew version 1.9.1.0 available!";
    for (int i = 0; i < 500 && driver_->callbackWindow()->tipText() != expected; ++i) {
        Sleep(10);
        Pump();
    }
    EXPECT_EQ(driver_->callbackWindow()->newVersionText(), L"1.9.1.0");
    EXPECT_EQ(driver_->callbackWindow()->tipText(), expected);
    EXPECT_EQ(gCalls.back().tip, expected);
    SetUpdateServerForTests(nullptr);
}

// A server that takes the request and never answers holds up neither init nor the release.
TEST_F(SysTrayWndTest, AHangingUpdateServerHoldsUpNothing)
{
    CLoopbackHttpServer server(std::nullopt);
    const UpdateServer local = {L"127.0.0.1", server.port()};
    SetUpdateServerForTests(&local);
    const auto begun = std::chrono::steady_clock::now();
    Create();
    const auto initialised = std::chrono::steady_clock::now();
    EXPECT_FALSE(server.WaitForRequest().empty());
    driver_->destroy();
    driver_ = nullptr;
    const auto released = std::chrono::steady_clock::now();
    EXPECT_FALSE(server.letGo()) << "the release waited for the server";
    std::printf("init %.1f ms, release %.1f ms with the server hanging\n",
                std::chrono::duration<double, std::milli>(initialised - begun).count(),
                std::chrono::duration<double, std::milli>(released - initialised).count());
    server.Release();
    SetUpdateServerForTests(nullptr);
}

// The control panel, shown through controlPanel and driven as a user would.
class ControlPanelTest : public SysTrayWndTest {
protected:
    HWND Open()
    {
        EXPECT_EQ(driver_->controlPanel(), ASE_OK);
        Pump();
        CDlgSettings_v2* panel = driver_->callbackWindow()->panel();
        EXPECT_NE(panel, nullptr);
        return panel ? panel->hwnd() : nullptr;
    }
    static std::wstring TextOf(HWND window)
    {
        wchar_t text[256] = {};
        GetWindowTextW(window, text, 256);
        return text;
    }
    static std::wstring Selected(HWND dialog, int combo)
    {
        const HWND list = GetDlgItem(dialog, combo);
        const LRESULT at = SendMessageW(list, CB_GETCURSEL, 0, 0);
        wchar_t text[64] = {};
        if (at >= 0) SendMessageW(list, CB_GETLBTEXT, WPARAM(at), reinterpret_cast<LPARAM>(text));
        return text;
    }
    static void Choose(HWND dialog, int combo, int item)
    {
        SendDlgItemMessageW(dialog, combo, CB_SETCURSEL, WPARAM(item), 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(combo, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, combo)));
        Pump();
    }
    static void Click(HWND dialog, int button)
    {
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
        Pump();
    }
    uint32_t Stored(const wchar_t* name) const { return hostKey_.ReadDword(name, 0xDEAD); }
    CDlgSettings_v2& Panel() { return *driver_->callbackWindow()->panel(); }
    static RECT ScreenRect(HWND dialog, int item)
    {
        RECT rect = {};
        GetWindowRect(item ? GetDlgItem(dialog, item) : dialog, &rect);
        return rect;
    }
    std::wstring TipOf(HWND dialog, int item)
    {
        wchar_t text[256] = {};
        TOOLINFOW tool = {};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.hwnd = dialog;
        tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(dialog, item));
        tool.lpszText = text;
        SendMessageW(Panel().tooltip(), TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
        return text;
    }
    CPanelStrips& Strips() { return driver_->callbackWindow()->panel()->strips(); }
    // As the fader does when the user drags it: its value, then WM_VSCROLL to the dialog.
    // A click on one of the drawn buttons, which toggles itself.
    static void Press(HWND dialog, int button)
    {
        SendMessageW(GetDlgItem(dialog, button), WM_LBUTTONDOWN, MK_LBUTTON, 0);
        Pump();
    }
    void Drag(HWND dialog, bool output, int strip, int value)
    {
        CMixaraLikeSliderCtrl& fader = Strips().fader(output, strip);
        fader.SetValue(value);
        SendMessageW(dialog, WM_VSCROLL, MAKEWPARAM(SB_THUMBTRACK, value), reinterpret_cast<LPARAM>(fader.hwnd()));
        Pump();
    }
    // Streams until the strip's meter shows expected (give or take the truncation of a scaled
    // sample), within a bounded number of periods.
    int MeterAfterStreaming(bool output, int strip, int expected)
    {
        for (int i = 0; i < 400 && std::abs(Strips().MeterLevel(output, strip) - expected) > 1; ++i) {
            hardware_.audio.Advance(256);
            hardware_.audio.WaitUntilServed();
            Sleep(1);
        }
        return Strips().MeterLevel(output, strip);
    }
};

TEST_F(ControlPanelTest, ShowsTheAsioSettingsInTheHostsLanguage)
{
    Create();
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(TextOf(dialog), L"Veloran ASIO Driver setup (SysTrayTestHost)");
    EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_BUFFER_LABEL)), L"Buffer size");
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_BUFFER_SIZE, CB_GETCOUNT, 0, 0), 4);
    EXPECT_EQ(Selected(dialog, IDC_BUFFER_SIZE), L"512 samples");
    EXPECT_EQ(Selected(dialog, IDC_FORMAT), L"32 bits");
    EXPECT_EQ(Selected(dialog, IDC_LANGUAGE), L"English");
    EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_VERSION_LINE)), L"ASIO 2.0 Multiports driver : version 1.9.0.0 (x64)");

    // The other language rewrites the texts and is stored for the host.
    Choose(dialog, IDC_LANGUAGE, 0);
    EXPECT_EQ(Stored(L"Language"), 12u);
    EXPECT_EQ(TextOf(dialog), L"Configuration du pilote ASIO Veloran (SysTrayTestHost)");
    EXPECT_EQ(Selected(dialog, IDC_BUFFER_SIZE), L"512 \u00e9chantillons");
}

// The other language renames every channel the user has not renamed; an emptied name gives back
// the default in the language now chosen, also once Cancel has reloaded the driver's names.
TEST_F(ControlPanelTest, TheLanguageSwitchRenamesTheChannelsTheUserHasNotRenamed)
{
    AddLumo();
    Create();
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    using device_rows::kNameIn;
    using device_rows::kNameOut;
    const auto field = [&dialog](int id) { return TextOf(GetDlgItem(dialog, id)); };
    ASSERT_EQ(field(kNameIn), L"Lumo A2 - In L");
    SetDlgItemTextW(dialog, kNameIn + 1, L"Vocals");
    Pump();

    Choose(dialog, IDC_LANGUAGE, 0);
    EXPECT_EQ(field(kNameIn), L"Lumo A2 - Entr\u00e9e G");
    EXPECT_EQ(field(kNameIn + 1), L"Vocals");
    EXPECT_EQ(field(kNameOut + 1), L"Lumo A2 - Sortie D");
    EXPECT_STREQ(Panel().ports()[0].output.channelName[1], L"Lumo A2 - Sortie D");
    const auto emptied = [&](int id) {
        SetDlgItemTextW(dialog, id, L"");
        SetFocus(GetDlgItem(dialog, id));
        SetFocus(GetDlgItem(dialog, IDCANCEL));
        Pump();
        return field(id);
    };
    EXPECT_EQ(emptied(kNameIn + 1), L"Lumo A2 - Entr\u00e9e D");

    Click(dialog, IDCANCEL);
    dialog = Open();
    EXPECT_EQ(field(kNameOut), L"Lumo A2 - Sortie G");
    EXPECT_EQ(emptied(kNameOut), L"Lumo A2 - Sortie G");
}

// A key pressed in the field that has the focus, through a loop that translates keys as a host's does.
void Key(UINT key)
{
    const HWND focus = GetFocus();
    const LPARAM scan = LPARAM(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16;
    PostMessageW(focus, WM_KEYDOWN, key, scan | 1);
    PostMessageW(focus, WM_KEYUP, key, scan | 1 | 0xC0000000);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Enter and Tab go from name to name over the greyed ones, from the last input to the first output
// and back; Escape and a click on the background leave the names for Cancel. The panel stays open
// and no key is typed into a name.
TEST_F(ControlPanelTest, EnterTabAndEscapeInANameMoveTheFocusOnly)
{
    AddLumo();
    AddLumo();
    Create();
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    using device_rows::kNameIn;
    using device_rows::kNameOut;
    Press(dialog, device_rows::kToggleIn + 1);  // the second port's inputs off
    ASSERT_FALSE(IsWindowEnabled(GetDlgItem(dialog, kNameIn + 2)));
    ASSERT_TRUE(IsWindowEnabled(GetDlgItem(dialog, kNameOut + 3)));
    const auto focused = [] { return GetDlgCtrlID(GetFocus()); };
    SetFocus(GetDlgItem(dialog, kNameIn));
    Key(VK_TAB);
    EXPECT_EQ(focused(), kNameIn + 1);
    Key(VK_RETURN);
    EXPECT_EQ(focused(), kNameOut);
    Key(VK_TAB);
    EXPECT_EQ(focused(), kNameOut + 1);
    SetFocus(GetDlgItem(dialog, kNameOut + 3));
    Key(VK_RETURN);
    EXPECT_EQ(focused(), kNameIn);
    Key(VK_ESCAPE);
    EXPECT_EQ(focused(), IDCANCEL);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(TextOf(GetDlgItem(dialog, kNameIn)), L"Lumo A2 (1) - In L");
    EXPECT_STREQ(Panel().ports()[0].output.channelName[1], L"Lumo A2 (1) - Out R");

    SetFocus(GetDlgItem(dialog, kNameOut));
    const POINT corner{2, 2};
    ASSERT_EQ(ChildWindowFromPointEx(dialog, corner, CWP_SKIPINVISIBLE), dialog);
    const LPARAM background = MAKELPARAM(corner.x, corner.y);
    PostMessageW(dialog, WM_LBUTTONDOWN, MK_LBUTTON, background);
    PostMessageW(dialog, WM_LBUTTONUP, 0, background);
    Pump();
    EXPECT_EQ(focused(), IDCANCEL);
}

// The windows asked to go to the top of the topmost band, seen as the messages they get.
std::vector<HWND> gMadeTopmost;
LRESULT CALLBACK WatchTopmost(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_WINDOWPOSCHANGING) {
        const auto* position = reinterpret_cast<const WINDOWPOS*>(call->lParam);
        if (!(position->flags & SWP_NOZORDER) && position->hwndInsertAfter == HWND_TOPMOST)
            gMadeTopmost.push_back(call->hwnd);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The panel puts itself above other windows when made and whenever it is activated again. (The test
// display has no window manager to keep the topmost state of a captioned window, so the request is
// what is checked.)
TEST_F(ControlPanelTest, ThePanelKeepsItselfOnTop)
{
    gMadeTopmost.clear();
    const HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, WatchTopmost, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    Create();
    const HWND dialog = Open();
    const auto asked = [dialog] { return std::count(gMadeTopmost.begin(), gMadeTopmost.end(), dialog) > 0; };
    const bool atStart = asked();
    gMadeTopmost.clear();
    SendMessageW(dialog, WM_ACTIVATE, WA_INACTIVE, 0);
    const bool leaving = asked();
    SendMessageW(dialog, WM_ACTIVATE, WA_ACTIVE, 0);
    const bool activated = asked();
    UnhookWindowsHookEx(hook);
    EXPECT_TRUE(atStart);
    EXPECT_FALSE(leaving);
    EXPECT_TRUE(activated);
}

// A row's toggles tell what a click does, for one input or several, in the chosen language.
TEST_F(ControlPanelTest, TheRowTogglesTipsSayWhatAClickDoes)
{
    hardware_.AddInterface(kLumoA2, 1, 2);
    Create();
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    using device_rows::kToggleIn;
    using device_rows::kToggleOut;
    EXPECT_EQ(TipOf(dialog, kToggleIn), L"Disable this input");
    EXPECT_EQ(TipOf(dialog, kToggleOut), L"Disable these outputs");
    Press(dialog, kToggleOut);
    EXPECT_EQ(TipOf(dialog, kToggleOut), L"Enable these outputs");
    EXPECT_EQ(TipOf(dialog, kToggleOut + 1), L"") << "a row without a port";

    Choose(dialog, IDC_LANGUAGE, 0);
    EXPECT_EQ(TipOf(dialog, kToggleIn), L"D\u00e9sactiver cette entr\u00e9e");
    EXPECT_EQ(TipOf(dialog, kToggleOut), L"Activer ces sorties");
}

// The setup labels are drawn faces that open their lists, the lists take the skin's colours, and
// the manual link lights up like them; in both languages.
TEST_F(ControlPanelTest, TheSetupLabelsAreSkinnedAndOpenTheirLists)
{
    Create();
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
    const auto label = [dialog](int id) {
        return dynamic_cast<CColorStatic*>(CSubclassedWindow::FromHandle(GetDlgItem(dialog, id)));
    };
    struct Texts {
        int language;
        const wchar_t *format, *buffer, *manual;
    };
    for (const Texts& texts : {Texts{1, L"Format", L"Buffer size", L"Online user's manual"},
                               Texts{0, L"Format", L"Taille des tampons", L"Manuel utilisateur en ligne"}}) {
        Choose(dialog, IDC_LANGUAGE, texts.language);
        EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_FORMAT_LABEL)), texts.format);
        EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_BUFFER_LABEL)), texts.buffer);
        EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_MANUAL_LINK)), texts.manual);
    }

    for (const auto [labelId, comboId] : {std::pair{IDC_FORMAT_LABEL, IDC_FORMAT}, {IDC_BUFFER_LABEL, IDC_BUFFER_SIZE}}) {
        SCOPED_TRACE(labelId);
        CColorStatic* shown = label(labelId);
        ASSERT_NE(shown, nullptr);
        const HWND labelWindow = shown->hwnd(), list = GetDlgItem(dialog, comboId);
        auto* combo = dynamic_cast<CComboBoxBuddy*>(CSubclassedWindow::FromHandle(list));
        ASSERT_NE(combo, nullptr);
        EXPECT_EQ(shown->Buddy(), combo);
        EXPECT_EQ(combo->Buddy(), shown);
        EXPECT_EQ(shown->TextColour(), RGB(255, 255, 255));

        // The blue face under the whole label, the yellow one while the mouse is over it.
        const int width = shown->FaceSize().cx, below = shown->FaceSize().cy - 2;
        EXPECT_EQ(Render(labelWindow).Count(Bluish, RECT{0, below, width, below + 1}), width);
        PointAt(labelWindow);
        SendMessageW(labelWindow, WM_MOUSEMOVE, 0, 0);
        EXPECT_GE(Render(labelWindow).Count(Yellowish, RECT{0, below, width, below + 1}), width - 2);
        PointAway();
        EXPECT_TRUE(PumpUntil([&] { return !shown->IsHovered(); }));

        // The list's field asks the dialog for its colours.
        const HDC dc = CreateCompatibleDC(nullptr);
        SendMessageW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(list));
        EXPECT_EQ(GetTextColor(dc), RGB(133, 151, 169));
        EXPECT_EQ(GetBkColor(dc), RGB(3, 5, 7));
        DeleteDC(dc);

        SendMessageW(labelWindow, WM_LBUTTONDOWN, MK_LBUTTON, 0);
        EXPECT_TRUE(SendMessageW(list, CB_GETDROPPEDSTATE, 0, 0)) << "a click on the label opens its list";
        SendMessageW(list, CB_SHOWDROPDOWN, FALSE, 0);
        PointAway();
    }

    CColorStatic* manual = label(IDC_MANUAL_LINK);
    ASSERT_NE(manual, nullptr);
    EXPECT_TRUE(manual->HasFaces());
    EXPECT_TRUE(manual->HoverEnabled());
    EXPECT_EQ(manual->Buddy(), nullptr);
    EXPECT_EQ(manual->TextColour(), CDlgSettings_v2::kLabelColour);
}

// The device rows stand in three titled frames, one per column, drawn under the rows' controls.
TEST_F(ControlPanelTest, TheDeviceColumnsStandInTitledFrames)
{
    AddLumo();
    Create();
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
    const auto frame = [dialog](int id) {
        return dynamic_cast<CMixaraLikeStaticFrameAuto*>(CSubclassedWindow::FromHandle(GetDlgItem(dialog, id)));
    };
    struct Titles {
        int language;
        const wchar_t *interfaces, *inputs, *outputs;
    };
    for (const Titles& titles : {Titles{1, L"Audio interfaces", L"\"Physical\" inputs", L"\"Physical\" outputs"},
                                 Titles{0, L"Interfaces audio", L"Entr\u00e9es \"physiques\"",
                                        L"Sorties \"physiques\""}}) {
        Choose(dialog, IDC_LANGUAGE, titles.language);
        for (const auto [id, text] : {std::pair{IDC_GROUP_INTERFACES, titles.interfaces},
                                      {IDC_GROUP_PHYSICAL_INPUTS, titles.inputs},
                                      {IDC_GROUP_PHYSICAL_OUTPUTS, titles.outputs}}) {
            CMixaraLikeStaticFrameAuto* shown = frame(id);
            ASSERT_NE(shown, nullptr) << id;
            EXPECT_TRUE(IsWindowVisible(shown->Frame().hwnd())) << id;
            EXPECT_TRUE(IsWindowVisible(shown->Title().hwnd())) << id;
            EXPECT_EQ(TextOf(shown->Title().hwnd()), text);
        }
    }

    // Each column's controls of all four rows lie inside its own frame.
    const auto inside = [dialog, &frame](int group, std::initializer_list<int> first, int rowStep) {
        const RECT box = InParent(frame(group)->Frame().hwnd());
        for (int r = 0; r < 4; ++r)
            for (const int id : first) {
                RECT control = InParent(GetDlgItem(dialog, id + r * rowStep)), both{};
                UnionRect(&both, &box, &control);
                EXPECT_TRUE(EqualRect(&both, &box)) << "control " << id + r * rowStep << " of group " << group;
            }
    };
    inside(IDC_GROUP_INTERFACES, {7500}, 1);
    inside(IDC_GROUP_PHYSICAL_INPUTS, {7300}, 1);
    inside(IDC_GROUP_PHYSICAL_INPUTS, {7146, 7147, 7130, 7131}, 2);
    inside(IDC_GROUP_PHYSICAL_OUTPUTS, {7310}, 1);
    inside(IDC_GROUP_PHYSICAL_OUTPUTS, {7154, 7155, 7138, 7139}, 2);
    RECT overlap{};
    const RECT interfaces = InParent(frame(IDC_GROUP_INTERFACES)->Frame().hwnd()),
               inputs = InParent(frame(IDC_GROUP_PHYSICAL_INPUTS)->Frame().hwnd()),
               outputs = InParent(frame(IDC_GROUP_PHYSICAL_OUTPUTS)->Frame().hwnd());
    EXPECT_FALSE(IntersectRect(&overlap, &interfaces, &inputs));
    EXPECT_FALSE(IntersectRect(&overlap, &inputs, &outputs));

    // On the screen the frames leave the picture and the toggles of the interface's row drawn.
    const auto drawn = [](HWND window) {
        const Pixels shown = Grab(window);
        return shown.Count([](COLORREF c) { return !Near(c, CDlgSettings_v2::kBackground, 8); },
                           RECT{0, 0, shown.width, shown.height});
    };
    EXPECT_GT(drawn(GetDlgItem(dialog, 7500)), 1000) << "picture";
    EXPECT_GT(drawn(GetDlgItem(dialog, 7300)), 40) << "input toggle";
    EXPECT_GT(drawn(GetDlgItem(dialog, 7310)), 40) << "output toggle";
}

// Each name field lies between its row's toggle and its marker, covering neither.
TEST_F(ControlPanelTest, TheNameFieldsLieBetweenTheTogglesAndTheMarkers)
{
    Create();
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    for (int r = 0; r < 4; ++r)
        for (const bool input : {true, false})
            for (int c = 0; c < 2; ++c) {
                const int field = (input ? 7146 : 7154) + 2 * r + c;
                const RECT name = InParent(GetDlgItem(dialog, field)),
                           toggle = InParent(GetDlgItem(dialog, (input ? 7300 : 7310) + r)),
                           marker = InParent(GetDlgItem(dialog, (input ? 7130 : 7138) + 2 * r + c));
                EXPECT_GE(name.left, toggle.right) << "field " << field;
                EXPECT_LT(name.right, marker.left) << "field " << field;
            }
}

TEST_F(ControlPanelTest, OkStoresTheChoiceAndAsksAHostHoldingBuffersToResetOnce)
{
    const VirtualInterface lumo = AddLumo();
    Create();
    StartHost(lumo);
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    Choose(dialog, IDC_BUFFER_SIZE, 1);
    Choose(dialog, IDC_FORMAT, 0);
    Click(dialog, IDOK);
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_EQ(Stored(L"AsioBuffSizePreferred"), 256u);
    EXPECT_EQ(Stored(L"Resolution"), 16u);
    EXPECT_EQ(gResets.load(), 1);

    // Once the host has re-initialised, OK with nothing changed asks nothing.
    driver_->stop();
    driver_->disposeBuffers();
    driver_->init(nullptr);
    dialog = Open();
    Click(dialog, IDOK);
    EXPECT_EQ(gResets.load(), 1);
}

// The other-devices dialog as a user drives it inside its modal loop: the rows it lists, then
// the row naming gTick ticked and OK.
HWND gPanel = nullptr;
std::wstring gTick;
std::vector<std::wstring> gListed;
BOOL CALLBACK FindOwnedDialog(HWND window, LPARAM found)
{
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (GetWindow(window, GW_OWNER) != gPanel || std::wstring(name) != L"#32770") return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}
void CALLBACK DriveOtherDevices(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindOwnedDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog) return;
    KillTimer(nullptr, timer);
    const HWND list = GetDlgItem(dialog, IDC_OD_LIST);
    gListed.clear();
    for (int i = 0; i < ListView_GetItemCount(list); ++i) {
        wchar_t input[128] = {}, output[128] = {};
        ListView_GetItemText(list, i, 0, input, 128);
        ListView_GetItemText(list, i, 1, output, 128);
        gListed.push_back(std::wstring(input) + L" | " + output);
        if (gListed.back().find(gTick) != std::wstring::npos) ListView_SetCheckState(list, i, TRUE);
    }
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

TEST_F(ControlPanelTest, OtherDevicesChosenInTheirDialogBecomePortsOnOkAndBringClockSync)
{
    AddLumo();
    hardware_.audio.AddEndpoint(eRender, L"", L"LG HDR 4K", 2);
    hardware_.audio.AddEndpoint(eCapture, L"", L"Octo Rec", 2);
    Create();
    ASSERT_EQ(driver_->portCount(), 1);
    const auto choose = [this](const std::wstring& tick) {
        gPanel = Open();
        gTick = tick;
        gListed.clear();
        const UINT_PTR timer = SetTimer(nullptr, 0, 20, DriveOtherDevices);
        Click(gPanel, IDC_OTHER_DEVICES);
        KillTimer(nullptr, timer);
        return gPanel;
    };

    // The family's interface is not offered; Cancel in the panel drops the choice.
    HWND dialog = choose(L"LG HDR 4K");
    EXPECT_EQ(gListed, (std::vector<std::wstring>{L"\u2014 | Speakers (LG HDR 4K)", L"Microphone (Octo Rec) | \u2014"}));
    Click(dialog, IDCANCEL);
    std::vector<std::wstring> entries;
    EXPECT_FALSE(hostKey_.ReadMultiString(L"OtherDevices", entries));
    EXPECT_EQ(driver_->portCount(), 1);

    // A device of its own beside the interface is a second clock: ClockSync comes on with it.
    dialog = choose(L"LG HDR 4K");
    Click(dialog, IDOK);
    ASSERT_TRUE(hostKey_.ReadMultiString(L"OtherDevices", entries));
    const std::vector<OtherDevice> stored = ParseOtherDevices(entries);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(Stored(L"ClockSync"), 1u);
    // Without host buffers the driver gathers it at once, after the interface.
    ASSERT_EQ(driver_->portCount(), 2);
    EXPECT_TRUE(driver_->ports()[1].otherDevice);
    EXPECT_EQ(driver_->ports()[1].renderPath, stored[0].endpointId);
    EXPECT_NE(driver_->ports()[1].name.find(L"LG HDR 4K"), std::wstring::npos);
    EXPECT_EQ(Panel().portCount(), 2);
    EXPECT_EQ(gResets.load(), 0);

    // Chosen now, the device stays listed first.
    choose(L"nothing");
    ASSERT_EQ(gListed.size(), 2u);
    EXPECT_EQ(gListed[0], L"\u2014 | Speakers (LG HDR 4K)");
}

TEST_F(ControlPanelTest, CancelStoresNothingAndRestoresTheChoice)
{
    Create();
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    const uint32_t before = Stored(L"AsioBuffSizePreferred");
    Choose(dialog, IDC_BUFFER_SIZE, 3);
    Click(dialog, IDCANCEL);
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_EQ(Stored(L"AsioBuffSizePreferred"), before);
    EXPECT_EQ(Selected(dialog, IDC_BUFFER_SIZE), L"512 samples");
}

TEST_F(ControlPanelTest, MetersShowThePeaksAndAnInputFaderScalesTheSamplesUntilCancel)
{
    const VirtualInterface lumo = AddLumo();
    hardware_.audio.SetSignal(lumo.capture, 0, VirtualSignal::Sine(1000.0, 1.0));
    Create();
    ASSERT_EQ(driver_->settings().sampleType, ASIOSTInt32LSB);
    callbacks_.bufferSwitch = OnSwitchFullScale;
    buffers_ = {{ASIOTrue, 0, {}}, {ASIOFalse, 0, {}}};
    gFullScaleOutput = &buffers_[1];
    gFullScaleDriver = driver_;
    ASSERT_EQ(driver_->createBuffers(buffers_.data(), 2, 256, &callbacks_), ASE_OK);
    ASSERT_EQ(driver_->start(), ASE_OK);
    ASSERT_TRUE(hardware_.audio.WaitUntilStreaming(lumo.capture));
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(Strips().metersRunning());
    Drag(dialog, true, 0, 50);
    EXPECT_EQ(MeterAfterStreaming(false, 0, 100), 100);
    EXPECT_EQ(MeterAfterStreaming(true, 0, 50), 50);

    // Without an input volume on the device the fader scales the samples at once; Cancel puts the
    // driver's own level back.
    ASSERT_FALSE(driver_->ports()[0].hasInputVolume);
    Drag(dialog, false, 0, 40);
    EXPECT_NEAR(MeterAfterStreaming(false, 0, 40), 40, 1);
    Click(dialog, IDCANCEL);
    EXPECT_FALSE(Strips().metersRunning());
    EXPECT_EQ(Strips().fader(false, 0).GetValue(), 100);
    EXPECT_EQ(driver_->engineSlot(0).filters[0].gainPercent(), 100);
    driver_->stop();
}

TEST_F(ControlPanelTest, DcRemovalAndMonitoringReachTheRunningDriverAndCancelTakesThemBack)
{
    const VirtualInterface lumo = AddLumo();
    Create();
    StartHost(lumo);
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    const CChannelFilter* filters = driver_->engineSlot(0).filters;
    Press(dialog, CPanelStrips::kDcButton);
    EXPECT_FALSE(filters[0].dcEnabled()) << "switched under the audio thread";
    hardware_.audio.Advance(4 * 256);
    ASSERT_TRUE(hardware_.audio.WaitUntilServed());
    EXPECT_TRUE(filters[0].dcEnabled());
    EXPECT_FALSE(filters[1].dcEnabled());

    // Monitoring is offered on the input the host uses only, and reaches the driver at once.
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, CPanelStrips::kMonitorButton)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, CPanelStrips::kMonitorButton + 1)));
    Press(dialog, CPanelStrips::kMonitorButton);
    EXPECT_EQ(driver_->ports()[0].input.monitor[0], 1);

    Click(dialog, IDCANCEL);
    hardware_.audio.Advance(4 * 256);
    ASSERT_TRUE(hardware_.audio.WaitUntilServed());
    EXPECT_FALSE(filters[0].dcEnabled());
    EXPECT_EQ(driver_->ports()[0].input.monitor[0], 0);
    driver_->stop();
}

TEST_F(ControlPanelTest, LinkingAPairTakesTheHigherLevelAndAMonoInputMovesBothFaders)
{
    const VirtualInterface lumo = hardware_.AddInterface(kLumoA2, 1, 2);
    Create();
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    Press(dialog, CPanelStrips::kLinkButton);  // linked from the start: this unlinks
    Drag(dialog, true, 0, 40);
    Drag(dialog, true, 1, 70);
    EXPECT_EQ(Strips().fader(true, 0).GetValue(), 40);
    Press(dialog, CPanelStrips::kLinkButton);
    EXPECT_EQ(Strips().fader(true, 0).GetValue(), 70);
    EXPECT_EQ(Strips().fader(true, 1).GetValue(), 70);
    const _sPort& port = driver_->callbackWindow()->panel()->ports()[0];
    EXPECT_EQ(port.output.level[0], 70);
    EXPECT_EQ(port.output.level[1], 70);

    // The one-channel input shows as two strips that move together, and only those two.
    Drag(dialog, false, 1, 30);
    EXPECT_EQ(Strips().fader(false, 0).GetValue(), 30);
    EXPECT_EQ(port.input.level[0], 30);
    EXPECT_EQ(port.input.level[1], 30);
    EXPECT_FALSE(IsWindowEnabled(Strips().fader(false, 2).hwnd()));
    static_cast<void>(lumo);
}

// A one-channel input on two strips switches each of its two channels once, whichever strip is
// clicked; a moved fader of a linked pair sets its twin channel too. Both reach the running engine
// and what OK stores.
TEST_F(ControlPanelTest, AMonoInputsButtonsAndALinkedFaderReachBothChannelsInTheEngineAndTheStore)
{
    const VirtualInterface lumo = hardware_.AddInterface(kLumoA2, 1, 2);
    Create();
    ASSERT_TRUE(driver_->ports()[0].input.monoToStereo);
    StartHost(lumo);
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    _sPort stored[kMaxPorts];
    for (int i = 0; i < driver_->portCount(); ++i) stored[i] = driver_->ports()[i];

    Press(dialog, CPanelStrips::kDcButton + 1);
    Press(dialog, CPanelStrips::kMonitorButton);
    ASSERT_TRUE(Strips().fader(true, 1).GetValue() == 100 && Panel().ports()[0].output.linked[1]);
    Drag(dialog, true, 1, 35);
    hardware_.audio.Advance(4 * 256);
    ASSERT_TRUE(hardware_.audio.WaitUntilServed());
    const CChannelFilter* filters = driver_->engineSlot(0).filters;
    EXPECT_TRUE(filters[0].dcEnabled());
    EXPECT_TRUE(filters[1].dcEnabled());
    EXPECT_EQ(driver_->ports()[0].input.monitor[0], 1);
    EXPECT_EQ(driver_->ports()[0].input.monitor[1], 1);
    EXPECT_FLOAT_EQ(hardware_.audio.Volume(lumo.render).levels[0], 0.35f);
    EXPECT_FLOAT_EQ(hardware_.audio.Volume(lumo.render).levels[1], 0.35f);

    Click(dialog, IDOK);
    int count = driver_->portCount();
    _sSettings settings;
    driver_->settingsStore().LoadSettings(count, stored, settings, false);
    ASSERT_EQ(count, 1);
    for (int c = 0; c < 2; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(stored[0].input.dcRemoval[c], 1);
        EXPECT_EQ(stored[0].input.monitor[c], 1);
        EXPECT_EQ(stored[0].output.level[c], 35);
    }
    driver_->stop();
}

TEST_F(ControlPanelTest, ThePositionIsStoredWhenTheDriverGoesAndUsedNextTime)
{
    Create();
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    SetWindowPos(dialog, nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    driver_->destroy();
    driver_ = nullptr;
    EXPECT_EQ(Stored(L"DlgSetupPos_X"), 40u);
    EXPECT_EQ(Stored(L"DlgSetupPos_Y"), 30u);
    Create();
    dialog = Open();
    RECT window = {};
    GetWindowRect(dialog, &window);
    EXPECT_EQ(window.left, 40);
    EXPECT_EQ(window.top, 30);
}

// The device rows inside the panel: a port moved down is stored in its new place on OK.
TEST_F(ControlPanelTest, APortMovedDownKeepsItsNewPlace)
{
    AddLumo();
    AddLumo(kLumoA1);
    Create();
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    const std::wstring first = driver_->ports()[0].name, second = driver_->ports()[1].name;
    Click(dialog, 7213);  // the first row's down arrow
    Click(dialog, IDOK);
    std::vector<std::wstring> order;
    ASSERT_TRUE(hostKey_.ReadPortOrders(order));
    ASSERT_GE(order.size(), 2u);
    EXPECT_EQ(order[0], second);
    EXPECT_EQ(order[1], first);
}

// The layout toggle leaves the device columns out and lifts the bottom frames into the setup
// row's place; the frames stay where they were on the screen.
TEST_F(ControlPanelTest, TheCompactLayoutIsNarrowerAndLowerAndKeepsTheBottomInPlace)
{
    Create();
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    const RECT full = ScreenRect(dialog, 0), ok = ScreenRect(dialog, IDOK);
    const int dy = ScreenRect(dialog, 7227).top - ScreenRect(dialog, IDC_GROUP_ASIO).top;
    ASSERT_GT(dy, 0);
    EXPECT_EQ(TipOf(dialog, 8014), L"Show level controls only");
    Press(dialog, 8014);
    const RECT compact = ScreenRect(dialog, 0);
    // The strips move to the left edge, whatever the font, and the window narrows by as much.
    const int shift = compact.left - full.left;
    RECT inputs = ScreenRect(dialog, IDC_GROUP_INPUTS);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&inputs), 2);
    EXPECT_GE(inputs.left, 0);
    EXPECT_LE(inputs.left, 20);
    EXPECT_EQ(compact.right - compact.left, full.right - full.left - shift);
    EXPECT_EQ(compact.bottom - compact.top, full.bottom - full.top - dy);
    EXPECT_EQ(ScreenRect(dialog, IDOK).top, ok.top);
    EXPECT_EQ(ScreenRect(dialog, IDOK).left, ok.left);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, IDC_BUFFER_SIZE)));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, IDC_LANGUAGE)));
    EXPECT_EQ(Stored(L"DlgSetupShowOnlyLevelControl"), 1u);

    Press(dialog, 8014);
    const RECT back = ScreenRect(dialog, 0);
    EXPECT_EQ(back.left, full.left);
    EXPECT_EQ(back.bottom, full.bottom);
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, IDC_BUFFER_SIZE)));
    EXPECT_EQ(Stored(L"DlgSetupShowOnlyLevelControl"), 0u);
}

TEST_F(ControlPanelTest, AStoredCompactLayoutOpensCompactAndOneClickShowsEverything)
{
    hostKey_.WriteDword(L"DlgSetupShowOnlyLevelControl", 1);
    Create();
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(Panel().compact());
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, IDC_FORMAT)));
    EXPECT_EQ(TipOf(dialog, 8014), L"Show all controls");
    const RECT compact = ScreenRect(dialog, 0);
    Press(dialog, 8014);
    EXPECT_FALSE(Panel().compact());
    EXPECT_EQ(ScreenRect(dialog, 0).right - compact.right, 0) << "the right edge stays";
    EXPECT_EQ(TipOf(dialog, 8014), L"Show level controls only");
}

// Six ports of two channels each: the page button takes the strips, and the rows, to channels 9 to 12.
TEST_F(ControlPanelTest, ThePageButtonShowsTheChannelsBeyondTheEighth)
{
    for (int i = 0; i < 6; ++i) AddLumo();
    hostKey_.WriteDword(L"DlgSetupShowOnlyLevelControl", 1);
    Create();
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(Panel().portCount(), 6);
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, 7510)));
    EXPECT_EQ(Panel().firstPort(), 0);
    EXPECT_TRUE(IsWindowEnabled(Strips().fader(false, 7).hwnd()));
    Press(dialog, 7510);
    EXPECT_EQ(Panel().firstPort(), 4);
    EXPECT_TRUE(IsWindowEnabled(Strips().fader(true, 3).hwnd()));
    EXPECT_FALSE(IsWindowEnabled(Strips().fader(true, 4).hwnd())) << "only channels 9 to 12 remain";
    Press(dialog, 7510);
    EXPECT_EQ(Panel().firstPort(), 0);
    EXPECT_TRUE(IsWindowEnabled(Strips().fader(true, 7).hwnd()));

    // Back in the full layout the button goes and the rows start at the first port again.
    Press(dialog, 7510);
    Press(dialog, 8014);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, 7510)));
    EXPECT_EQ(Panel().firstPort(), 0);
}

TEST_F(ControlPanelTest, OkIsGreyedWithoutAnyInputAndCancelStillCloses)
{
    AddLumo();
    Create();
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDOK)));
    Press(dialog, 7300);  // the first row's input toggle
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDOK)));
    Press(dialog, 7300);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDOK)));
    Press(dialog, 7310);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDOK)));
    Click(dialog, IDCANCEL);
    EXPECT_FALSE(IsWindowVisible(dialog));
}

TEST_F(ControlPanelTest, ANewerVersionShowsItsNoticeInTheChosenLanguage)
{
    Create();
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, 8063)));
    Panel().ShowNewVersion(L"2.1.0.0");
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, 8063)));
    EXPECT_EQ(TextOf(GetDlgItem(dialog, 8063)), L"New version 2.1.0.0 available!");
    Choose(dialog, IDC_LANGUAGE, 0);
    EXPECT_EQ(TextOf(GetDlgItem(dialog, 8063)), L"Nouvelle version 2.1.0.0 disponible!");
}

// The host's buffers reach an open panel through the window's own messages, never on the host's thread.
TEST_F(SysTrayWndTest, AnOpenPanelShowsTheChannelsOfTheHostsBuffersOnceTheWindowRuns)
{
    AddLumo();
    Create();
    ASSERT_EQ(driver_->controlPanel(), ASE_OK);
    Pump();
    CDlgSettings_v2* panel = driver_->callbackWindow()->panel();
    ASSERT_NE(panel, nullptr);
    const HWND monitor = GetDlgItem(panel->hwnd(), CPanelStrips::kMonitorButton);
    ASSERT_FALSE(IsWindowVisible(monitor));

    buffers_ = {{ASIOTrue, 0, {}}, {ASIOFalse, 0, {}}};
    ASSERT_EQ(driver_->createBuffers(buffers_.data(), 2, 256, &callbacks_), ASE_OK);
    EXPECT_FALSE(IsWindowVisible(monitor)) << "the host's call touched the panel";
    Pump();
    EXPECT_TRUE(IsWindowVisible(monitor)) << "the used input offers monitoring";
    ASSERT_EQ(driver_->disposeBuffers(), ASE_OK);
    Pump();
    EXPECT_FALSE(IsWindowVisible(monitor));
}

// The panel shows a newer version whether the check ends before the panel is made or after.
TEST_F(SysTrayWndTest, ANewerPublishedVersionReachesThePanelMadeBeforeOrAfterIt)
{
    CLoopbackHttpServer server(CLoopbackHttpServer::Reply(200, "1.9.1.0"));
    const UpdateServer local = {L"127.0.0.1", server.port()};
    SetUpdateServerForTests(&local);
    const auto answered = [this] {
        for (int i = 0; i < 500 && driver_->callbackWindow()->newVersionText().empty(); ++i) {
            Sleep(10);
            Pump();
        }
    };
    const auto notice = [](HWND dialog) {
        wchar_t text[128] = {};
        GetDlgItemTextW(dialog, IDC_NEW_VERSION, text, 128);
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, IDC_NEW_VERSION)));
        return std::wstring(text);
    };
    // Made before any message is pumped, so before the check's answer is handled.
    HRESULT result = S_OK;
    driver_ = new CMordane(nullptr, &result, hostKey_, defaultKey_, hardware_);
    driver_->NonDelegatingAddRef();
    driver_->init(nullptr);
    ASSERT_NE(driver_->callbackWindow(), nullptr);
    SendMessageW(driver_->callbackWindow()->window(), CSysTrayWnd::kShowPanelMessage, 0, 0);
    ASSERT_NE(driver_->callbackWindow()->panel(), nullptr);
    answered();
    EXPECT_EQ(notice(driver_->callbackWindow()->panel()->hwnd()), L"New version 1.9.1.0 available!");
    driver_->destroy();
    driver_ = nullptr;
    Pump();

    Create();
    answered();
    ASSERT_EQ(driver_->controlPanel(), ASE_OK);
    Pump();
    ASSERT_NE(driver_->callbackWindow()->panel(), nullptr);
    EXPECT_EQ(notice(driver_->callbackWindow()->panel()->hwnd()), L"New version 1.9.1.0 available!");
    SetUpdateServerForTests(nullptr);
}

}  // namespace

// Hovering a strip lights the physical channel that feeds it, in the row that shows its port.
TEST_F(ControlPanelTest, AHoveredStripLightsItsPhysicalChannelUntilLeft)
{
    AddLumo();
    AddLumo();
    Create();
    PointAway();  // the real cursor over a strip would light it too
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    const auto red = [](HWND window) {
        return Grab(window).Count([](COLORREF c) { return Near(c, RGB(255, 0, 0), 30); }, RECT{0, 0, 400, 400});
    };
    // The second port's first input is the third input strip; its marker is row 1's first.
    const HWND marker = GetDlgItem(dialog, 7130 + 2), other = GetDlgItem(dialog, 7130);
    const HWND line = GetWindow(marker, GW_HWNDNEXT);  // made right after its marker
    ASSERT_EQ(red(marker) + red(line), 0);
    const HWND fader = Strips().fader(false, 2).hwnd();
    SendMessageW(dialog, CPanelStrips::kInputFaderHover, 1, reinterpret_cast<LPARAM>(fader));
    EXPECT_GT(red(marker), 0);
    EXPECT_GT(red(line), 0);
    EXPECT_EQ(red(other), 0);
    SendMessageW(dialog, CPanelStrips::kInputFaderHover, 0, reinterpret_cast<LPARAM>(fader));
    EXPECT_EQ(red(marker) + red(line), 0);
}

// The host's buffers and start reach an open panel without losing what the user has not confirmed,
// and the meters follow the engine.
TEST_F(ControlPanelTest, TheHostsCallsKeepTheUsersEditsAndStartTheMeters)
{
    const VirtualInterface lumo = AddLumo();
    AddLumo();
    Create();
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    const std::wstring second = driver_->ports()[1].capturePath;
    Click(dialog, 7213);  // the first row's down arrow
    ASSERT_EQ(Panel().ports()[0].capturePath, second);
    ASSERT_FALSE(Strips().metersRunning());

    StartHost(lumo);
    Pump();
    EXPECT_EQ(Panel().ports()[0].capturePath, second) << "the reorder was dropped";
    EXPECT_TRUE(Strips().metersRunning());
    driver_->stop();
    Pump();
    EXPECT_FALSE(Strips().metersRunning());
}

// Levels on an interface with hardware volumes reach its endpoint at once; Cancel puts them back.
TEST_F(ControlPanelTest, CancelPutsTheEndpointVolumesBack)
{
    const VirtualInterface lumo = AddLumo(kLumoA1);
    Create();
    ASSERT_TRUE(driver_->ports()[0].hasInputVolume);
    StartHost(lumo);
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    Drag(dialog, false, 0, 40);
    Drag(dialog, true, 0, 50);
    EXPECT_FLOAT_EQ(hardware_.audio.Volume(lumo.capture).levels[0], 0.40f);
    EXPECT_FLOAT_EQ(hardware_.audio.Volume(lumo.render).levels[0], 0.50f);
    Click(dialog, IDCANCEL);
    EXPECT_FLOAT_EQ(hardware_.audio.Volume(lumo.capture).levels[0], 1.0f);
    EXPECT_FLOAT_EQ(hardware_.audio.Volume(lumo.render).levels[0], 1.0f);
    driver_->stop();
}

// The panel as a user sees it with two interfaces streaming, in both layouts and both languages:
// the skin behind everything, a drawn thumb on every used strip, the group frames. With
// VELORAN_PANEL_PICTURES set to a folder the four pictures are saved there.
TEST_F(ControlPanelTest, BothLayoutsInBothLanguagesShowTheSkinTheGroupsAndTheStrips)
{
    const VirtualInterface first = AddLumo();
    AddLumo(kLumoA1);
    hardware_.audio.SetSignal(first.capture, 0, VirtualSignal::Sine(1000.0, 0.5));
    Create();
    buffers_ = {{ASIOTrue, 0, {}}, {ASIOTrue, 1, {}}, {ASIOTrue, 2, {}}, {ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}};
    ASSERT_EQ(driver_->createBuffers(buffers_.data(), int(buffers_.size()), 256, &callbacks_), ASE_OK);
    ASSERT_EQ(driver_->start(), ASE_OK);
    ASSERT_TRUE(hardware_.audio.WaitUntilStreaming(first.capture));
    PointAway();  // the real cursor over a strip would light its channel
    const HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
    MeterAfterStreaming(false, 0, 50);

    wchar_t folder[MAX_PATH] = {};
    const bool save = GetEnvironmentVariableW(L"VELORAN_PANEL_PICTURES", folder, MAX_PATH) > 0;
    const auto skin = [](COLORREF c) { return Near(c, CDlgSettings_v2::kBackground, 4); };
    for (const int language : {1, 0}) {
        Choose(dialog, IDC_LANGUAGE, language);
        for (const bool compact : {false, true}) {
            if (Panel().compact() != compact) Press(dialog, 8014);
            const std::wstring name = std::wstring(language ? L"english" : L"french") + (compact ? L"-compact" : L"-full");
            SCOPED_TRACE(std::string(name.begin(), name.end()));
            const Pixels picture = GrabWindow(dialog);
            if (save) {
                EXPECT_TRUE(SaveBitmap(picture, (std::wstring(folder) + L"\\panel-" + name + L".bmp").c_str()));
            }
            const RECT all{0, 0, picture.width, picture.height};
            EXPECT_GT(picture.Count(skin, all) * 4, picture.width * picture.height) << "a quarter at least is skin";

            RECT window{};
            GetWindowRect(dialog, &window);
            const auto inPicture = [&window](HWND control) {
                RECT rect{};
                GetWindowRect(control, &rect);
                OffsetRect(&rect, -window.left, -window.top);
                return rect;
            };
            const auto drawn = [&picture, &skin](RECT area) {
                return picture.Count([](COLORREF) { return true; }, area) - picture.Count(skin, area);
            };
            // Four inputs and four outputs in use: a thumb on each of their faders.
            for (int k = 0; k < 4; ++k) {
                EXPECT_GT(drawn(inPicture(Strips().fader(false, k).hwnd())), 40) << "input strip " << k;
                EXPECT_GT(drawn(inPicture(Strips().fader(true, k).hwnd())), 40) << "output strip " << k;
            }
            // A group's frame line runs along the top of its box.
            for (const int group : {IDC_GROUP_INPUTS, IDC_GROUP_OUTPUTS}) {
                RECT box = inPicture(GetDlgItem(dialog, group));
                const int line = box.top + 8;
                EXPECT_GT(drawn(RECT{box.left + 20, line - 6, box.right - 20, line + 6}), (box.right - box.left) / 2)
                    << "group " << group;
            }
        }
    }
    driver_->stop();
}
