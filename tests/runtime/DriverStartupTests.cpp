// The driver's init as hosts meet it outside the test bench: a session where the callback window
// cannot be made, and a host's first run, with nothing stored for it yet.
#include <core/Mordane.h>
#include <runtime/SysTrayWnd.h>

#include "../support/RegistryScratch.h"
#include "../virtual/VirtualHardware.h"

#include <veloran/DriverClassId.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace VirtualUsb;

const std::wstring kDriverKey = L"Software\\ASIO\\Asio 2.0 Veloran Driver";

void OnSwitch(long, ASIOBool) {}
void OnRate(ASIOSampleRate) {}
long OnMessage(long, long, void*, double*) { return 0; }

// No desktop for this session: the window is refused before it exists.
HWND WINAPI RefuseWindow(DWORD, LPCWSTR, LPCWSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE, LPVOID)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

// The window is made and destroyed again before its creation returns, as when it fails late.
HWND WINAPI FailAfterCreation(DWORD exStyle, LPCWSTR className, LPCWSTR title, DWORD style, int x, int y, int width,
                              int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param)
{
    const HWND window =
        CreateWindowExW(exStyle, className, title, style, x, y, width, height, parent, menu, instance, param);
    if (window) DestroyWindow(window);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

class DriverStartupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ForgetSettings();
        SetNotifyIconForTests(IgnoreNotify);
    }
    void TearDown() override
    {
        if (driver_) driver_->NonDelegatingRelease();
        SetCreateWindowForTests(nullptr);
        SetNotifyIconForTests(nullptr);
        ForgetSettings();
    }
    void ForgetSettings()
    {
        DeleteTree(HKEY_LOCAL_MACHINE, kDriverKey + L"\\" + kHostName);
        DeleteTree(HKEY_LOCAL_MACHINE, kDriverKey + L"\\Default Parameters");
    }
    static BOOL IgnoreNotify(DWORD, NOTIFYICONDATAW*) { return TRUE; }
    void Create()
    {
        HRESULT result = S_OK;
        driver_ = new CMordane(nullptr, &result, hostKey_, defaultKey_, hardware_);
        ASSERT_EQ(result, S_OK);
        driver_->NonDelegatingAddRef();
        ASSERT_EQ(driver_->init(nullptr), ASIOTrue);
    }
    void Release()
    {
        driver_->NonDelegatingRelease();
        driver_ = nullptr;
    }

    static constexpr wchar_t kHostName[] = L"StartupTestHost";
    const CSettingsKey hostKey_{kVeloranDriverClsid, std::wstring(L"C:\\") + kHostName + L".exe"};
    const CSettingsKey defaultKey_{kVeloranDriverClsid, L""};
    CVirtualHardware hardware_;
    CMordane* driver_ = nullptr;
};

TEST_F(DriverStartupTest, WithoutItsWindowTheDriverStreamsAndSaysWhyThereIsNoPanel)
{
    hostKey_.WriteDword(L"Language", kLanguageEnglish);
    const VirtualInterface lumo = hardware_.AddInterface(kLumoA2);
    hardware_.audio.SetSignal(lumo.capture, 0, VirtualSignal::Ramp(1));
    ASIOCallbacks callbacks = {OnSwitch, OnRate, OnMessage, nullptr};
    for (const CreateWindowFunction failure : {RefuseWindow, FailAfterCreation}) {
        SCOPED_TRACE(failure == RefuseWindow ? "refused" : "failed after creation");
        SetCreateWindowForTests(failure);
        const long before = ActiveObjectCount();
        Create();
        EXPECT_EQ(driver_->callbackWindow(), nullptr);
        EXPECT_EQ(ActiveObjectCount(), before + 1) << "the driver alone, and its window freed once";

        EXPECT_EQ(driver_->controlPanel(), ASE_NotPresent);
        char message[124] = {};
        driver_->getErrorMessage(message);
        EXPECT_STREQ(message, "No control panel: the driver's window could not be created.");

        ASIOBufferInfo buffers[2] = {{ASIOTrue, 0, {}}, {ASIOFalse, 0, {}}};
        ASSERT_EQ(driver_->createBuffers(buffers, 2, 256, &callbacks), ASE_OK);
        ASSERT_EQ(driver_->start(), ASE_OK);
        ASSERT_TRUE(hardware_.audio.WaitUntilStreaming(lumo.capture));
        hardware_.audio.Advance(4 * 256);
        ASSERT_TRUE(hardware_.audio.WaitUntilServed());
        EXPECT_GT(driver_->switchCount(), 0);
        EXPECT_EQ(driver_->stop(), ASE_OK);
        EXPECT_EQ(driver_->disposeBuffers(), ASE_OK);
        Release();
        EXPECT_EQ(ActiveObjectCount(), before);
    }
}

// The port names and the panel read the language that the first init stores for the host.
TEST_F(DriverStartupTest, AFirstRunNamesTheDefaultDevicesInTheSystemsLanguage)
{
    if (SystemLanguage() == kLanguageFrench) GTEST_SKIP() << "French is also what a missing language gives";
    defaultKey_.WriteDword(L"UseDefaultDevices", 2);
    hardware_.AddDefaultDevices();
    Create();
    DWORD stored = 0;
    ASSERT_TRUE(ReadDwordValue(HKEY_LOCAL_MACHINE, kDriverKey + L"\\" + kHostName + L"\\Parameters", L"Language",
                               stored));
    EXPECT_EQ(int(stored), SystemLanguage());
    ASSERT_EQ(driver_->portCount(), 1);
    EXPECT_EQ(driver_->ports()[0].name, L"Def. Sound Device");
    ASIOChannelInfo info = {};
    info.isInput = ASIOTrue;
    ASSERT_EQ(driver_->getChannelInfo(&info), ASE_OK);
    EXPECT_STREQ(info.name, "Def. Sound Device - In L");
}

}  // namespace
