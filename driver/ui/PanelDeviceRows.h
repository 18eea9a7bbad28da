// The device column of the control panel: four rows, each showing one port of the panel's working
// copy with its picture, its physical channels and their names, the activation toggles and the
// arrows that reorder the ports. Every change goes to the working copy only; the owner hears of it
// and rebuilds what depends on it. Runs on the panel's thread; never touches the driver.
#pragma once

#include "CTransparentIcon.h"
#include "EditForModelessDlg.h"
#include "MixaraLikeNumberBox.h"
#include "MixaraLikeSliderCtrl.h"
#include "StaticArrow.h"
#include "StaticLine.h"

#include "../core/KnownDevices.h"
#include "../core/Port.h"

#include <controls/ColorStatic.h>
#include <controls/GdiObjects.h>
#include <controls/MixaraLikeCheckBox.h>

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

class CLanguages;
class CKnownDeviceTable;

namespace device_rows {

constexpr int kRows = 4;

// Control ids; each is the id of row 0, the next rows follow (names and markers: two per row).
constexpr int kMarkerIn = 7130, kMarkerOut = 7138;
constexpr int kNameIn = 7146, kNameOut = 7154;
constexpr int kScroller = 7176;
constexpr int kInstanceLabel = 7177;
constexpr int kArrowUp = 7209, kArrowDown = 7213;
constexpr int kToggleIn = 7300, kToggleOut = 7310;
constexpr int kWarning = 7318;
constexpr int kPicture = 7500;

// Device menu commands.
constexpr int kMenuActivateBoth = 8005;
constexpr int kMenuInputsOnly = 8006;
constexpr int kMenuOutputsOnly = 8007;
constexpr int kMenuMonoMix = 8011;
constexpr int kMenuMonoToStereo = 8012;

// The row scroller runs from the bottom (0) to the top; each step is one port.
constexpr int kScrollerTop = 1200, kScrollerStep = 100;
constexpr UINT kHoverMessage = WM_USER + 4;

constexpr int kPictureUnknown = 3011;
constexpr int kWarningIcon = 6992;

}  // namespace device_rows

// One entry of a port's device menu: a separator, the port's name as a disabled title, or a command.
struct DeviceMenuItem {
    enum Kind { Title, Separator, Command } kind = Command;
    int command = 0;
    std::wstring text;
    bool checked = false;
};

std::vector<DeviceMenuItem> BuildDeviceMenu(const _sPort& port, const CLanguages& languages);

// The known-devices row of the interface whose capture endpoint is capturePath, -1 for none; the
// paths compared without regard to case, as Windows treats them.
int KnownDeviceRowOf(const PortInventory& inventory, const std::wstring& capturePath);

// What the rows need from the panel that hosts them.
class IDeviceRowsOwner {
public:
    // The working copy changed; reset when the channel set or the port order did (the strips start over).
    virtual void DeviceRowsChanged(bool reset) = 0;
    // A port's mono mix flipped: a running engine takes it at once.
    virtual void MonoMixChanged(int port) = 0;
    // The known-devices row of a port's capture endpoint, -1 for none.
    virtual int KnownDeviceRow(const _sPort& port) const = 0;
    // A refused activation; by default the system message box.
    virtual void ShowMessage(HWND parent, int textId, const std::wstring& title, const std::wstring& text);

protected:
    ~IDeviceRowsOwner() = default;
};

class CPanelDeviceRows {
public:
    CPanelDeviceRows(IDeviceRowsOwner& owner, const CLanguages& languages);
    ~CPanelDeviceRows();
    CPanelDeviceRows(const CPanelDeviceRows&) = delete;
    CPanelDeviceRows& operator=(const CPanelDeviceRows&) = delete;

    // Creates the rows' controls inside area (parent client coordinates) and takes the parent's
    // messages that concern them.
    bool Create(HWND parent, const RECT& area);
    // ports holds kMaxPorts records; given again after every reload. Refreshes the rows.
    void SetWorkingCopy(_sPort* ports, int portCount, int firstPort);
    // Both picture arrays in the language; a picture that does not load shows the unknown one.
    void LoadPictures(const CKnownDeviceTable& table, int language);
    // The dialog's tooltip for the pictures' tips; may be none.
    void SetMainTooltip(HWND tooltip) { mainTooltip_ = tooltip; }
    // The placeholder blink of an empty working copy: every picture the unknown one or picture 0.
    void ShowPlaceholder(bool unknown);

    int firstPort() const { return firstPort_; }
    // The rows from the working copy.
    void Refresh();

    void ToggleActivation(int port);
    void ActivateBoth(int port);
    void ActivateInputsOnly(int port);
    void ActivateOutputsOnly(int port);
    void ToggleMonoMix(int port);
    void ToggleMonoToStereo(int port);
    // Every channel name still equal to its port's default takes the default in the current
    // language, as does an emptied name; the port's defaults follow it.
    void FollowLanguage();
    void MovePort(int row, bool up);
    void ScrollTo(int scrollerValue);
    // The connector line and marker of a port's physical channel in red while a strip that it
    // feeds is hovered; nothing when the port is not in a visible row.
    void HighlightChannel(int port, bool input, int channel, bool on);

    // The name field after from, for Enter and Tab: the next visible and enabled one of its
    // direction, else the first of the other direction; none when from is no name field.
    HWND NextName(HWND from) const;

    // The parent's messages, before its own procedure; true when taken.
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

private:
    struct WindowDestroyer {
        void operator()(HWND window) const { DestroyWindow(window); }
    };
    using UniqueWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

    struct Side {
        CMixaraLikeCheckBox toggle;
        CEditForModelessDlg names[2];
        CMixaraLikeNumberBox markers[2];
        CStaticLine lines[2];
    };
    struct Row {
        UniqueWindow picture;
        UniqueWindow instance;
        CColorStatic badge;
        CStaticArrow up, down;
        CCTransparentIcon warning;
        UniqueWindow balloon;
        Side in, out;
    };

    bool CreateRow(int r, const RECT& area, int rowHeight);
    bool CreateSide(Side& side, int r, bool input, int left, int top, int width);
    void RefreshRow(int r);
    void RefreshSide(Side& side, const _sPort& port, bool input, int firstAsio);
    // The port's default names again; names still equal to the former defaults follow them.
    void RenameUnchanged(_sPort& port) const;
    // Where channel c's connector runs, between its name and its marker.
    RECT LineRect(const Side& side, int c) const;
    void ShowEmptyRow(Row& row);
    void Changed(bool reset);
    void Refuse(int textId);
    bool InputsFit(int port) const;
    bool OutputsFit(int port) const;
    bool Named(int port) const;
    int RowAt(POINT client) const;
    int MaxFirstPort() const;
    void SetFirst(int first);
    void OpenMenu(int port, POINT client);
    void OnMenuCommand(int command);
    void OnNameChange(int id, int code);
    void SetEditText(HWND edit, const std::wstring& text);
    // A control's tip in the main tooltip; an empty text removes it.
    void SetTip(HWND control, std::wstring text) const;
    void PointAtArrow(int row, bool preferUp);
    HBITMAP Picture(int index, bool active) const;
    static LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR self);

    IDeviceRowsOwner& owner_;
    const CLanguages& languages_;
    HWND parent_ = nullptr;
    HWND mainTooltip_ = nullptr;
    _sPort* ports_ = nullptr;
    int portCount_ = 0;
    int firstPort_ = 0;
    int menuPort_ = -1;
    std::wstring menuPortName_;
    bool updating_ = false;
    Row rows_[device_rows::kRows];
    CMixaraLikeSliderCtrl scroller_;
    std::vector<UniqueBitmap> activePictures_, inactivePictures_;
    UniqueBitmap unknownPicture_;
    HICON warningIcon_ = nullptr;
    UniqueBrush editBrush_, disabledEditBrush_;
};
