// CDlgSettings_v2: the driver's control panel, a modeless dialog owned by the callback window and
// kept hidden between uses. It works on a copy of the driver's settings and ports and hands the
// copy back on OK; the owner decides whether the host must reset. Everything runs on the owner's
// thread.
#pragma once

#include "DlgOtherDevices.h"
#include "PanelDeviceRows.h"
#include "PanelStrips.h"

#include "../core/Port.h"
#include "../core/Settings.h"

#include <controls/ColorStatic.h>
#include <controls/ComboBoxBuddy.h>
#include <controls/DialogWindow.h>
#include <controls/MixaraLikeCheckBox.h>
#include <controls/MixaraLikeStaticFrameAuto.h>
#include <controls/GdiObjects.h>

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

class CMordane;

// What the panel asks of the window that owns it.
class IPanelOwner {
public:
    // OK: the working copy is final.
    virtual void PanelClosed(const class CDlgSettings_v2& panel) = 0;
    // Cancel: the panel is hidden again.
    virtual void PanelCancelled() = 0;
    // The refresh button: look for interfaces again.
    virtual bool Rescan() = 0;

protected:
    ~IPanelOwner() = default;
};

class CDlgSettings_v2 final : public CDialogWindow, private IDeviceRowsOwner {
public:
    static constexpr UINT kRebuildMessage = WM_USER + 8;          // 1032, wParam 1: strips reset
    static constexpr UINT kLanguageChangedMessage = WM_USER + 9;  // 1033
    static constexpr UINT kLinkHoverMessage = WM_USER + 5;        // 1029
    static constexpr COLORREF kBackground = RGB(58, 87, 115);
    static constexpr COLORREF kLabelColour = RGB(184, 200, 217);

    CDlgSettings_v2(CMordane& driver, IPanelOwner& owner);
    ~CDlgSettings_v2() override;

    // Makes the hidden dialog; false when its template is missing.
    bool Create(HWND ownerWindow);
    void Show();
    void Hide();
    bool visible() const;
    // The working copy, the two combos and the texts again from the driver.
    void ReloadFromDriver();
    // The host created or released buffers, started or stopped: the strips show the channels it
    // uses and the meters follow the engine, while the user's unconfirmed edits stay. Only a
    // changed port set starts the working copy over.
    void HostChanged();

    // A newer version is published: the blinking notice with its number.
    void ShowNewVersion(const std::wstring& version);
    // The level-controls-only layout is applied.
    bool compact() const { return compact_; }
    HWND tooltip() const { return tooltip_; }
    // The port in the first device row, where the strips start too.
    int firstPort() const { return rows_.firstPort(); }

    // The meters run while the panel is shown by its owner.
    void StartLevelWorker() { strips_.StartMeters(); }
    void StopLevelWorker() { strips_.StopMeters(); }
    CPanelStrips& strips() { return strips_; }

    const _sSettings& settings() const { return settings_; }
    const _sPort* ports() const { return ports_.get(); }
    int portCount() const { return portCount_; }

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void LoadWorkingCopy();
    // Whether the working copy holds the driver's ports, in any order.
    bool HoldsDriverPorts() const;
    void DeviceRowsChanged(bool reset) override;
    void MonoMixChanged(int port) override;
    int KnownDeviceRow(const _sPort& port) const override;
    void OnInitDialog();
    void CreateSetupLabels();
    // The frames of the device rows' columns, fitted to the rows.
    void CreateRowFrames(const RECT& rowsArea);
    void CreateTooltip();
    void SetTip(int id, const std::wstring& text);
    // A mouse move at the control, so that its tip shows.
    void RelayMouseMove(HWND control);
    void ApplyLayout(bool compact, bool moveWindow);
    // Shown in the compact layout when either direction has more channels than the strips.
    void UpdatePageButton();
    void TurnPage();
    void UpdatePlaceholder();
    void OnTimer(UINT_PTR id);
    void EraseBackground(HDC dc);
    void OnCommand(int id, int code);
    void ApplyTexts();
    void Rebuild(bool reset);
    std::wstring ChannelTitle(bool output) const;
    void FillBufferSizes(int frames);
    void SelectFormat(int sampleType);
    // The other-devices dialog, from the choice made so far.
    void ChooseOtherDevices();
    // The choice made in that dialog, stored for this host; true when something changed.
    bool StoreDeviceChoice();
    void OnOk();
    void OnCancel();
    void ChooseLanguage();
    void PlaceWindow();
    void KeepOnTop();
    void StorePosition();
    std::wstring Text(int id) const;
    int StoredLanguage() const;

    CMordane& driver_;
    IPanelOwner& owner_;
    _sSettings settings_;
    std::unique_ptr<_sPort[]> ports_;
    int portCount_ = 0;
    CPanelStrips strips_;
    CPanelDeviceRows rows_;
    CMixaraLikeStaticFrameAuto inputFrame_;
    CMixaraLikeStaticFrameAuto outputFrame_;
    CMixaraLikeStaticFrameAuto asioFrame_;
    CMixaraLikeStaticFrameAuto languageFrame_;
    CMixaraLikeStaticFrameAuto linksFrame_;
    CMixaraLikeStaticFrameAuto layoutFrame_;
    CMixaraLikeStaticFrameAuto interfacesFrame_;
    CMixaraLikeStaticFrameAuto physicalInputsFrame_;
    CMixaraLikeStaticFrameAuto physicalOutputsFrame_;
    CColorStatic formatLabel_;
    CColorStatic bufferLabel_;
    CColorStatic manualLink_;
    CComboBoxBuddy format_;
    CComboBoxBuddy bufferSize_;
    CMixaraLikeCheckBox layout_;
    CMixaraLikeCheckBox page_;
    UniqueBrush background_;
    UniqueBitmap band_;
    UniqueFont boldFont_;
    // Owned by the dialog, destroyed with it.
    HWND tooltip_ = nullptr;
    RECT fullWindow_{};
    int dy_ = 0;
    int columnsWidth_ = 0;
    bool compact_ = false;
    bool placeholderUnknown_ = false;
    bool boldShown_ = false;
    std::wstring newVersion_;
    // Made in the other-devices dialog, stored on OK, dropped on Cancel.
    std::optional<DeviceChoice> deviceChoice_;
};
