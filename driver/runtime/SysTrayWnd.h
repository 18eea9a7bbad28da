// CSysTrayWnd: the driver's hidden callback window, made on the thread that initialised the
// driver. It shows the notification-area icon (tool tip, a balloon at start-up, an icon that
// blinks while no hardware is present), turns device arrivals and removals into a rescan of the
// interfaces, notices a capture that stopped delivering, shows what the update check found, and
// answers the host's request to show the control panel, which it reloads when the host's buffers
// or start change the channels in use.
//
// Every handler runs on the window's thread. The driver is reached through a pointer that the
// driver clears, under driverLock_, before it goes; no handler holds that lock while the host
// runs. Once made, the window owns itself: it is deleted when its window is destroyed, and it
// counts as one of the module's objects so that the DLL stays loaded while it lives.
#pragma once

#include "Unknown.h"

#include "../ui/DlgSettings_v2.h"
#include "../ui/UpdateCheck.h"

#include <veloran/CriticalSection.h>

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <memory>
#include <string>

class CMordane;

// The notification-area calls, behind a seam the tests record.
using NotifyIconFunction = BOOL (*)(DWORD message, NOTIFYICONDATAW* data);
void SetNotifyIconForTests(NotifyIconFunction notify);
// Where update checks ask, for tests; null restores the settings' choice.
void SetUpdateServerForTests(const UpdateServer* server);
// How the window is made, for tests that make it fail; null restores CreateWindowExW.
using CreateWindowFunction = decltype(&CreateWindowExW);
void SetCreateWindowForTests(CreateWindowFunction create);

constexpr wchar_t kCallbackWindowClass[] = L"ASIO_VELORAN_CALLBACK_CLASS_WND";

class CSysTrayWnd final : public CBaseObject, private IPanelOwner {
public:
    static constexpr UINT kTrayIconId = 291;
    static constexpr UINT kTrayMessage = WM_APP + 123;  // 32891
    static constexpr UINT kShowPanelMessage = WM_USER + 13;  // 1037
    static constexpr UINT kUpdateCheckedMessage = WM_APP + 124;
    static constexpr UINT kResetMessage = WM_APP + 125;    // ask the host to reset, from a handler's end
    static constexpr UINT kDestroyMessage = WM_APP + 126;  // the driver went away on another thread
    static constexpr UINT kHostChangedMessage = WM_APP + 127;  // buffers made or freed, or a start
    static constexpr UINT_PTR kBlinkTimer = 21879;
    static constexpr UINT_PTR kBalloonTimer = 21896;
    static constexpr UINT_PTR kRescanTimer = 21913;
    static constexpr UINT_PTR kWatchTimer = 21930;  // looks for a capture that stopped delivering
    static constexpr UINT kBlinkMs = 500;
    static constexpr UINT kRescanMs = 1000;
    static constexpr UINT kWatchMs = 1000;
    static constexpr int kBalloonTimeoutMs = 5000;
    // A rescan that finds the same interfaces is repeated this often after one notification.
    static constexpr int kRescanTries = 10;
    // Watch ticks without a buffer switch after which a running driver is stalled (2 to 3 s).
    static constexpr int kStallTicks = 3;

    enum Icon { kIconNormal, kIconPanelShown, kIconAttention, kIconAttentionPanelShown, kIconBlink, kIconCount };

    // Registers the class (a second registration is no error) and makes the window on the calling
    // thread; null when it could not be made. hidden: no icon, no balloon, no rescan.
    static CSysTrayWnd* Create(CMordane& driver, bool hidden);
    // Hidden mode is also for registration tools that load the driver.
    static bool IsRegistrationTool(const std::wstring& hostName);

    // From the driver's destruction, on any thread: the window forgets the driver at once and is
    // destroyed on its own thread.
    void DriverGone();

    HWND window() const { return window_; }
    bool hidden() const { return hidden_; }
    int state() const { return state_; }
    bool rescanPending() const { return rescanPending_; }
    const std::wstring& tipText() const { return tipText_; }
    const std::wstring& versionText() const { return versionText_; }
    const std::wstring& newVersionText() const { return newVersionText_; }

    // The icon's state after the panel was shown (1) or hidden (0).
    void SetIcon(bool panelShown);
    void ShowBalloon(bool show);
    // Builds the port table afresh; true when the number of interfaces changed.
    bool Rescan() override;
    // The control panel, made when first shown; null before, or when its template is missing.
    CDlgSettings_v2* panel() const { return panel_.get(); }

private:
    CSysTrayWnd(CMordane& driver, bool hidden);
    ~CSysTrayWnd() override;
    CSysTrayWnd(const CSysTrayWnd&) = delete;
    CSysTrayWnd& operator=(const CSysTrayWnd&) = delete;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCreate();
    void OnDestroy();
    void OnTimer(UINT_PTR timer);
    void OnDeviceChange(WPARAM event, LPARAM data);
    void OnTrayMessage(WPARAM id, LPARAM event);
    void OnShowPanel();
    void OnUpdateChecked();
    void OnHostChanged();
    void WatchSwitches();
    void AskHostToReset();
    void AddIcon();
    void BuildTexts();
    void Notify(DWORD message, UINT flags);
    void StartTimer(UINT_PTR timer, UINT ms, UINT_PTR& id);
    void StopTimer(UINT_PTR& id);
    // The driver, with a reference held, for a handler's last statement.
    CMordane* TakeDriver();
    void StartUpdateCheck();
    void PanelClosed(const CDlgSettings_v2& panel) override;
    void PanelCancelled() override;
    bool PanelVisible() const { return panel_ && panel_->visible(); }

    HWND window_ = nullptr;
    // Set once the window exists; a creation that fails leaves the object to Create.
    bool ownedByWindow_ = false;
    const DWORD thread_;
    int state_ = 0;              // 0 hardware present, 1 none
    const bool hidden_;
    std::wstring versionText_;
    std::wstring newVersionText_;
    UINT_PTR blinkTimer_ = 0;
    int blinkPhase_ = 0;
    UINT_PTR balloonTimer_ = 0;
    std::wstring tipText_;
    std::wstring balloonTitle_;
    std::wstring balloonText_;
    CCriticalSection driverLock_;
    CMordane* driver_;
    HICON icons_[kIconCount] = {};
    NOTIFYICONDATAW notifyData_ = {};
    bool iconAdded_ = false;
    HDEVNOTIFY deviceNotification_ = nullptr;
    UINT_PTR rescanTimer_ = 0;
    bool rescanPending_ = false;
    int rescanTriesLeft_ = 0;
    bool balloonShown_ = false;
    UINT_PTR watchTimer_ = 0;
    int64_t lastSwitchCount_ = -1;
    int ticksWithoutSwitch_ = 0;
    bool stallReported_ = false;
    bool lossReported_ = false;  // a lost stream, since the driver last ran
    bool resetAsked_ = false;    // of the host, since the driver last ran
    bool comInitialized_ = false;
    std::unique_ptr<CUpdateCheck> updateCheck_;
    std::unique_ptr<CDlgSettings_v2> panel_;
};
