#include "SysTrayWnd.h"

#include "../core/Mordane.h"
#include "../ui/Languages.h"
#include "../ui/UpdateCheck.h"

#include <dbt.h>
#include <ks.h>
#include <ksmedia.h>

#include <cstddef>
#include <cwchar>
#include <mutex>

namespace {

constexpr int kClassIconId = 6995;
constexpr int kIconIds[CSysTrayWnd::kIconCount] = {7001, 7002, 6990, 6991, 6994};
// {65E8773D-8F56-11D0-A3B9-00A0C9223196}
constexpr GUID kCaptureCategory = {0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
constexpr GUID kRenderCategory = {0x65E8773E, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
constexpr UINT kBalloonShowMs = 10000;

NotifyIconFunction gNotifyIcon = nullptr;
const UpdateServer* gUpdateServer = nullptr;
CreateWindowFunction gCreateWindow = nullptr;

BOOL NotifyIcon(DWORD message, NOTIFYICONDATAW* data)
{
    return gNotifyIcon ? gNotifyIcon(message, data) : Shell_NotifyIconW(message, data);
}

HINSTANCE ThisModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

// Registers the class, replacing one that an earlier load of the module left behind with a
// window procedure that no longer exists.
bool RegisterWindowClass(HINSTANCE module, WNDPROC procedure)
{
    WNDCLASSEXW existing = {};
    existing.cbSize = sizeof(existing);
    if (GetClassInfoExW(module, kCallbackWindowClass, &existing)) {
        if (existing.lpfnWndProc == procedure) return true;
        UnregisterClassW(kCallbackWindowClass, module);
    }
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = module;
    windowClass.hIcon = LoadIconW(module, MAKEINTRESOURCEW(kClassIconId));
    windowClass.lpszClassName = kCallbackWindowClass;
    return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void CopyText(wchar_t* field, size_t capacity, const std::wstring& text)
{
    wcsncpy(field, text.c_str(), capacity - 1);
    field[capacity - 1] = L'\0';
}

// The texts' one "%s" replaced by value.
std::wstring Formatted(std::wstring format, const std::wstring& value)
{
    const size_t at = format.find(L"%s");
    return at == std::wstring::npos ? format : format.replace(at, 2, value);
}

}  // namespace

void SetNotifyIconForTests(NotifyIconFunction notify) { gNotifyIcon = notify; }
void SetUpdateServerForTests(const UpdateServer* server) { gUpdateServer = server; }
void SetCreateWindowForTests(CreateWindowFunction create) { gCreateWindow = create; }

bool CSysTrayWnd::IsRegistrationTool(const std::wstring& hostName)
{
    std::wstring lower = hostName;
    for (wchar_t& c : lower) c = wchar_t(towlower(c));
    return lower == L"registerasiodriver" || lower == L"registerasiodriver_x64" || lower == L"registerasiodriver_x86";
}

CSysTrayWnd* CSysTrayWnd::Create(CMordane& driver, bool hidden)
{
    const HINSTANCE module = ThisModule();
    if (!RegisterWindowClass(module, WindowProc)) return nullptr;
    CSysTrayWnd* self = new (std::nothrow) CSysTrayWnd(driver, hidden);
    if (!self) return nullptr;
    // A creation can fail before WM_NCCREATE (no desktop) or after it, when the window has been
    // destroyed again: either way the object is still this function's to free, once.
    const CreateWindowFunction create = gCreateWindow ? gCreateWindow : CreateWindowExW;
    if (!create(0, kCallbackWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, module, self)) {
        delete self;
        return nullptr;
    }
    self->ownedByWindow_ = true;
    if (!hidden) self->AddIcon();
    self->StartTimer(kWatchTimer, kWatchMs, self->watchTimer_);
    self->StartUpdateCheck();
    return self;
}

CSysTrayWnd::CSysTrayWnd(CMordane& driver, bool hidden)
    : thread_(GetCurrentThreadId()), hidden_(hidden), driver_(&driver)
{
    const HINSTANCE module = ThisModule();
    for (int i = 0; i < kIconCount; ++i)
        icons_[i] = static_cast<HICON>(
            LoadImageW(module, MAKEINTRESOURCEW(kIconIds[i]), IMAGE_ICON, 16, 16, LR_CREATEDIBSECTION));
    notifyData_.cbSize = sizeof(notifyData_);
    // A thread already in the multithreaded apartment answers RPC_E_CHANGED_MODE: nothing to undo.
    comInitialized_ = SUCCEEDED(CoInitialize(nullptr));
    versionText_ = ReadProductVersion(module);
    state_ = driver.portCount() == 0 ? 1 : 0;
    BuildTexts();
}

CSysTrayWnd::~CSysTrayWnd()
{
    updateCheck_.reset();
    for (HICON icon : icons_)
        if (icon) DestroyIcon(icon);
    if (comInitialized_) CoUninitialize();
}

void CSysTrayWnd::StartUpdateCheck()
{
    if (hidden_) return;
    std::lock_guard<CCriticalSection> hold(driverLock_);
    if (!driver_) return;
    const CSettingsKey& hostKey = driver_->hostKey();
    const uint32_t check = hostKey.ReadDword(L"CheckInternetNewVersion", 1);
    hostKey.WriteDword(L"CheckInternetNewVersion", check);
    if (check == 0) return;
    const UpdateServer server = gUpdateServer ? *gUpdateServer : ChooseUpdateServer(driver_->defaultKey());
    updateCheck_ = std::make_unique<CUpdateCheck>(window_, kUpdateCheckedMessage, server, versionText_);
}

void CSysTrayWnd::BuildTexts()
{
    std::lock_guard<CCriticalSection> hold(driverLock_);
    if (!driver_) return;
    const CLanguages& languages = driver_->languages();
    balloonTitle_ = Formatted(L"Veloran ASIO 2 Driver v. %s", versionText_);
    const std::wstring panel = languages.Text(kStrControlPanel);
    if (newVersionText_.empty()) {
        tipText_ = balloonTitle_;
        balloonText_ = panel;
        return;
    }
    const std::wstring notice = Formatted(languages.Text(kStrNewVersion), newVersionText_);
    tipText_ = balloonTitle_ + L"\n" + notice;
    balloonText_ = panel + L"\n" + notice;
}

void CSysTrayWnd::DriverGone()
{
    {
        std::lock_guard<CCriticalSection> hold(driverLock_);
        driver_ = nullptr;
    }
    if (GetCurrentThreadId() == thread_) {
        DestroyWindow(window_);  // deletes this
        return;
    }
    // Only the window's own thread can destroy it. A thread that has ended took its windows with
    // it, and nothing is left to delete this but the caller.
    if (!IsWindow(window_) || !PostMessageW(window_, kDestroyMessage, 0, 0)) delete this;
}

LRESULT CALLBACK CSysTrayWnd::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* self = static_cast<CSysTrayWnd*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<CSysTrayWnd*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
        if (self->ownedByWindow_) delete self;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    // A handler may end with the window destroyed: nothing of self is touched after it.
    return self->Handle(message, wParam, lParam);
}

LRESULT CSysTrayWnd::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    const HWND window = window_;
    switch (message) {
    case WM_CREATE: OnCreate(); return 0;
    case WM_DESTROY: OnDestroy(); return 0;
    case WM_TIMER: OnTimer(wParam); return 0;
    case WM_DEVICECHANGE: OnDeviceChange(wParam, lParam); return TRUE;
    case kTrayMessage: OnTrayMessage(wParam, lParam); return 0;
    case kShowPanelMessage: OnShowPanel(); return 0;
    case kUpdateCheckedMessage: OnUpdateChecked(); return 0;
    case kHostChangedMessage: OnHostChanged(); return 0;
    case kDestroyMessage: DestroyWindow(window); return 0;
    case kResetMessage: {
        CMordane* driver = nullptr;
        {
            std::lock_guard<CCriticalSection> hold(driverLock_);
            driver = driver_;
        }
        // The host may release the driver inside the request, and the window with it.
        if (driver) driver->RequestReset();
        return 0;
    }
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

void CSysTrayWnd::OnCreate()
{
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    // Capture and render interfaces both: a chosen device may only play (a monitor's output).
    deviceNotification_ =
        RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE | DEVICE_NOTIFY_ALL_INTERFACE_CLASSES);
    rescanPending_ = false;
}

void CSysTrayWnd::OnDestroy()
{
    {
        std::lock_guard<CCriticalSection> hold(driverLock_);
        if (driver_) driver_->SetPanelMetering(false);
    }
    panel_.reset();
    if (deviceNotification_) UnregisterDeviceNotification(deviceNotification_);
    deviceNotification_ = nullptr;
    StopTimer(rescanTimer_);
    StopTimer(blinkTimer_);
    StopTimer(watchTimer_);
    if (!hidden_ && iconAdded_) {
        StopTimer(balloonTimer_);
        Notify(NIM_DELETE, 0);
        iconAdded_ = false;
    }
}

void CSysTrayWnd::AddIcon()
{
    notifyData_.hWnd = window_;
    notifyData_.uID = kTrayIconId;
    notifyData_.uCallbackMessage = kTrayMessage;
    notifyData_.hIcon = icons_[state_ == 1 ? kIconAttention : kIconNormal];
    iconAdded_ = true;
    Notify(NIM_ADD, NIF_MESSAGE | NIF_ICON | NIF_TIP);
    ShowBalloon(true);
    if (state_ == 1) StartTimer(kBlinkTimer, kBlinkMs, blinkTimer_);
}

void CSysTrayWnd::Notify(DWORD message, UINT flags)
{
    notifyData_.uFlags = flags;
    CopyText(notifyData_.szTip, sizeof(notifyData_.szTip) / sizeof(wchar_t), tipText_);
    NotifyIcon(message, &notifyData_);
}

void CSysTrayWnd::StartTimer(UINT_PTR timer, UINT ms, UINT_PTR& id) { id = SetTimer(window_, timer, ms, nullptr); }

void CSysTrayWnd::StopTimer(UINT_PTR& id)
{
    if (id) KillTimer(window_, id);
    id = 0;
}

void CSysTrayWnd::ShowBalloon(bool show)
{
    if (hidden_) return;
    StopTimer(balloonTimer_);
    if (show) {
        if (balloonShown_) return;
        notifyData_.uTimeout = kBalloonShowMs;
        notifyData_.dwInfoFlags = (state_ == 1 ? NIIF_WARNING : NIIF_INFO) | NIIF_NOSOUND;
        CopyText(notifyData_.szInfo, sizeof(notifyData_.szInfo) / sizeof(wchar_t), balloonText_);
        CopyText(notifyData_.szInfoTitle, sizeof(notifyData_.szInfoTitle) / sizeof(wchar_t), balloonTitle_);
        Notify(NIM_MODIFY, NIF_INFO);
        balloonShown_ = true;
        StartTimer(kBalloonTimer, kBalloonTimeoutMs, balloonTimer_);
    } else if (balloonShown_) {
        notifyData_.uTimeout = 0;
        notifyData_.dwInfoFlags = NIIF_INFO | NIIF_NOSOUND;
        notifyData_.szInfo[0] = L'\0';
        notifyData_.szInfoTitle[0] = L'\0';
        Notify(NIM_MODIFY, NIF_INFO);
        balloonShown_ = false;
    }
}

void CSysTrayWnd::SetIcon(bool panelShown)
{
    if (hidden_) return;
    if (state_ == 1) {
        StopTimer(blinkTimer_);
        StartTimer(kBlinkTimer, kBlinkMs, blinkTimer_);
        return;
    }
    StopTimer(blinkTimer_);
    notifyData_.hIcon = icons_[panelShown ? kIconPanelShown : kIconNormal];
    Notify(NIM_MODIFY, NIF_ICON);
}

void CSysTrayWnd::OnTimer(UINT_PTR timer)
{
    switch (timer) {
    case kBalloonTimer: ShowBalloon(false); break;
    case kRescanTimer:
        if (!rescanPending_) break;
        StopTimer(rescanTimer_);
        // Something else than a supported interface (a webcam) changes nothing: give up after
        // a few tries rather than rebuild the topology every second for ever.
        if (Rescan() || --rescanTriesLeft_ <= 0)
            rescanPending_ = false;
        else
            StartTimer(kRescanTimer, kRescanMs, rescanTimer_);
        break;
    case kBlinkTimer:
        if (state_ != 1 || hidden_) break;
        blinkPhase_ ^= 1;
        notifyData_.hIcon =
            icons_[blinkPhase_ ? kIconBlink : PanelVisible() ? kIconAttentionPanelShown : kIconAttention];
        Notify(NIM_MODIFY, NIF_ICON);
        break;
    case kWatchTimer: WatchSwitches(); break;
    default: break;
    }
}

void CSysTrayWnd::OnDeviceChange(WPARAM event, LPARAM data)
{
    if (hidden_ || !data || (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE)) return;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
        header->dbch_size < offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name))
        return;
    const auto* notice = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(data);
    if (!IsEqualGUID(notice->dbcc_classguid, kCaptureCategory) && !IsEqualGUID(notice->dbcc_classguid, kRenderCategory))
        return;
    rescanTriesLeft_ = kRescanTries;
    if (rescanPending_) return;
    rescanPending_ = true;
    if (!rescanTimer_) StartTimer(kRescanTimer, kRescanMs, rescanTimer_);
}

bool CSysTrayWnd::Rescan()
{
    int portCount = 0;
    bool resetHost = false;
    {
        std::lock_guard<CCriticalSection> hold(driverLock_);
        if (!driver_ || !driver_->RescanPorts(portCount, resetHost)) return false;
    }
    state_ = portCount > 0 ? 0 : 1;
    if (panel_) panel_->ReloadFromDriver();
    SetIcon(PanelVisible());
    if (state_ == 1) ShowBalloon(true);
    // Sent from a handler of its own, so that a host resetting inside it finds no handler here
    // still running.
    if (resetHost) AskHostToReset();
    return true;
}

void CSysTrayWnd::AskHostToReset()
{
    resetAsked_ = true;
    PostMessageW(window_, kResetMessage, 0, 0);
}

void CSysTrayWnd::WatchSwitches()
{
    bool stalled = false, lost = false;
    {
        std::lock_guard<CCriticalSection> hold(driverLock_);
        if (!driver_ || !driver_->running() || !driver_->capturing()) {
            lastSwitchCount_ = -1;
            ticksWithoutSwitch_ = 0;
            lossReported_ = false;
            resetAsked_ = false;
            return;
        }
        lost = driver_->streamsLost() && !lossReported_;
        if (lost) lossReported_ = true;
        const int64_t switches = driver_->switchCount();
        if (switches != lastSwitchCount_) {
            // Only switches that happen end a stall; a restart that is stalled again is not
            // reported again.
            if (switches > 0 && stallReported_) stallReported_ = resetAsked_ = false;
            lastSwitchCount_ = switches;
            ticksWithoutSwitch_ = 0;
        } else {
            stalled = ++ticksWithoutSwitch_ >= kStallTicks && !stallReported_;
            if (stalled) stallReported_ = true;
        }
    }
    // A stream that ended on its own: its device went without a notice (an endpoint may go while
    // its interface stays) or failed. A rescan finds a device gone; either way the host resets,
    // once, to stream without it or to open it afresh.
    if (lost && !Rescan() && !resetAsked_) AskHostToReset();
    else if (stalled && !resetAsked_) AskHostToReset();
}

void CSysTrayWnd::OnTrayMessage(WPARAM id, LPARAM event)
{
    if (hidden_ || id != kTrayIconId) return;
    if (event != WM_LBUTTONDOWN && event != WM_RBUTTONDOWN && event != NIN_BALLOONUSERCLICK) return;
    if (!PanelVisible()) {
        PostMessageW(window_, kShowPanelMessage, 0, 0);
        return;
    }
    panel_->Hide();
    PanelCancelled();
    panel_->ReloadFromDriver();
}

void CSysTrayWnd::OnShowPanel()
{
    if (hidden_) return;
    {
        std::lock_guard<CCriticalSection> hold(driverLock_);
        if (!driver_) return;
        // Made when first asked for: its hundred-odd controls would otherwise slow every init.
        if (!panel_) {
            panel_ = std::make_unique<CDlgSettings_v2>(*driver_, static_cast<IPanelOwner&>(*this));
            if (!panel_->Create(window_)) panel_.reset();
            if (panel_) panel_->ShowNewVersion(newVersionText_);
        }
        if (!panel_) return;
        driver_->SetPanelMetering(true);
    }
    ShowBalloon(false);
    panel_->Show();
    panel_->StartLevelWorker();
    SetIcon(true);
}

void CSysTrayWnd::PanelClosed(const CDlgSettings_v2& panel)
{
    bool resetHost = false;
    {
        std::lock_guard<CCriticalSection> hold(driverLock_);
        if (!driver_) return;
        driver_->SetPanelMetering(false);
        if (panel_) panel_->StopLevelWorker();
        resetHost = driver_->AdoptPanelConfiguration(panel.portCount(), panel.ports(), panel.settings());
    }
    SetIcon(false);
    if (resetHost) AskHostToReset();
}

void CSysTrayWnd::PanelCancelled()
{
    {
        std::lock_guard<CCriticalSection> hold(driverLock_);
        if (driver_) driver_->SetPanelMetering(false);
    }
    if (panel_) panel_->StopLevelWorker();
    SetIcon(false);
}

void CSysTrayWnd::OnHostChanged()
{
    // A hidden panel refreshes its strips when shown.
    std::lock_guard<CCriticalSection> hold(driverLock_);
    if (driver_ && PanelVisible()) panel_->HostChanged();
}

void CSysTrayWnd::OnUpdateChecked()
{
    if (!updateCheck_) return;
    newVersionText_ = updateCheck_->newVersion();
    if (newVersionText_.empty()) return;
    if (panel_) panel_->ShowNewVersion(newVersionText_);
    BuildTexts();
    if (!iconAdded_) return;
    Notify(NIM_MODIFY, NIF_TIP);
    if (!balloonShown_) return;
    ShowBalloon(false);
    ShowBalloon(true);
}
