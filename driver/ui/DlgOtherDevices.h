// CDlgOtherDevices: the control panel's modal dialog in which the user chooses which other sound
// devices the driver gathers as ports for this host, pairs inputs with outputs, picks the
// channel pair of a multichannel endpoint, and sets "UseDefaultDevices" and "ClockSync". It
// changes nothing itself: OK hands the choice back to the panel, whose own OK stores it.
#pragma once

#include "OtherDeviceChoice.h"

#include <controls/DialogWindow.h>
#include <controls/GdiObjects.h>
#include <controls/MixaraLikeStaticFrameAuto.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

class CLanguages;

// What the dialog edits.
struct DeviceChoice {
    std::vector<std::wstring> entries;  // "OtherDevices"
    bool useDefaultDevices = false;
    int clockSync = -1;  // 0 or 1; -1 while never stored nor set, so that it stays unstored
};

class CDlgOtherDevices final : public CDialogWindow {
public:
    // endpoints, taken and portClocks as COtherDeviceChoice takes them; choice is the current one.
    CDlgOtherDevices(const CLanguages& languages, const std::vector<EndpointDescription>& endpoints,
                     const std::vector<std::wstring>& taken, std::vector<std::wstring> portClocks,
                     const DeviceChoice& choice);

    // True on OK, with the choice made in choice().
    bool Run(HINSTANCE module, HWND parent);
    const DeviceChoice& choice() const { return result_; }

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void OnInitDialog();
    void OnCommand(int id, int code);
    bool OnNotify(const NMHDR& header, LRESULT& result);
    // The list again from the choice, with row selected.
    void Fill(int selected);
    std::wstring CellText(const ChoiceEndpoint& endpoint) const;
    std::vector<int> SelectedRows() const;
    // The buttons and the channel-pair lists for the selection.
    void UpdateControls();
    void FillPairCombo(int id, const ChoiceEndpoint* endpoint);
    void SetChosen(int row, bool chosen);
    // "ClockSync" turns on the first time the chosen devices bring a second clock.
    void FollowClocks();
    void OnOk();
    std::wstring Text(int id) const;

    const CLanguages& languages_;
    COtherDeviceChoice rows_;
    std::vector<std::wstring> portClocks_;
    DeviceChoice result_;
    CMixaraLikeStaticFrameAuto devicesFrame_;
    CMixaraLikeStaticFrameAuto optionsFrame_;
    UniqueBrush background_;
    bool filling_ = false;
};
