#include "PanelDeviceRows.h"

#include "Languages.h"

#include "../core/ChannelMap.h"
#include "../core/KnownDeviceTable.h"

#include <controls/SubclassedWindow.h>

#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <initializer_list>
#include <utility>

using namespace device_rows;

namespace {

constexpr int kStrRightClick = 119;
constexpr int kStrActivate = 120;
constexpr int kStrInputOnly = 121;
constexpr int kStrInputsOnly = 122;
constexpr int kStrOutputsOnly = 123;
constexpr int kStrMonoToStereo = 130;
constexpr int kStrNoInputsOutputs = 215;
constexpr int kStrNoOutputs = 216;
constexpr int kStrNoInputs = 217;
constexpr int kStrNonOptimalPort = 260;
constexpr int kStrEnableOutputs = 218, kStrEnableInputs = 219, kStrEnableInput = 220, kStrDisableOutputs = 221,
              kStrDisableInputs = 222, kStrDisableInput = 223;
constexpr int kStrMonoMix = 265;

constexpr int kTooltipFirstRow = 16;
constexpr COLORREF kBadgeBack = RGB(148, 148, 148);
constexpr COLORREF kInstanceText = RGB(192, 192, 192);
constexpr COLORREF kNameText = RGB(133, 151, 169);
constexpr COLORREF kNameBack = RGB(3, 5, 7);
constexpr COLORREF kNameBackDisabled = RGB(45, 78, 109);

// Layout in pixels: the scroller, then the pictures, then the inputs and the outputs halves.
constexpr int kScrollerWidth = 16;
constexpr int kPictureWidth = 90, kPictureHeight = 88;
constexpr int kPictureColumn = kScrollerWidth + 4 + kPictureWidth + 4;
// Moving the bottom row down scrolls the list while its first row shows a port above this.
constexpr int kArrowScrollLimit = 4;
constexpr int kEditHeight = 14, kMarkerWidth = 18, kMarkerHeight = 20, kLineGap = 3;
// The names take every pixel of their half that the toggle, the connector and the marker spare: a
// default device's names are long, and the columns' width is fixed by the compact layout.
constexpr int kShortestLine = 4, kMarkerMargin = 2, kNameMargin = 1;

bool HasInputs(const _sPort& port) { return port.inputFormat.channels > 0; }
bool HasOutputs(const _sPort& port) { return port.outputFormat.channels > 0; }
bool InputOn(const _sPort& port) { return port.input.enabled && HasInputs(port); }
bool OutputOn(const _sPort& port) { return port.output.enabled && HasOutputs(port); }

// What a port's inputs would add once enabled.
int OwnInputs(const _sPort& port)
{
    const int channels = port.inputFormat.channels;
    return channels == 1 && port.input.monoToStereo ? 2 : channels;
}

void CopyName(const std::wstring& name, wchar_t (&field)[32])
{
    field[name.copy(field, kNameLength)] = L'\0';
}

// "(2)" at the end of a name numbers the second interface of a model.
std::wstring InstanceSuffix(const std::wstring& name)
{
    const size_t n = name.size();
    return n >= 3 && name[n - 1] == L')' && name[n - 3] == L'(' ? name.substr(n - 3) : std::wstring();
}

POINT CentreOf(HWND window)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

RECT RectIn(HWND parent, HWND child)
{
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void Place(HWND window, const RECT& rect)
{
    SetWindowPos(window, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND MakeStatic(HWND parent, int id, DWORD style, const RECT& rect)
{
    return CreateWindowExW(0, L"Static", L"", WS_CHILD | WS_VISIBLE | style, rect.left, rect.top,
                           rect.right - rect.left, rect.bottom - rect.top, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ControlsModule(), nullptr);
}

struct MenuDestroyer {
    void operator()(HMENU menu) const { DestroyMenu(menu); }
};

}  // namespace

std::vector<DeviceMenuItem> BuildDeviceMenu(const _sPort& port, const CLanguages& languages)
{
    const bool hasIn = HasInputs(port), hasOut = HasOutputs(port);
    const bool inOn = InputOn(port), outOn = OutputOn(port);
    const bool monoInput = port.inputFormat.channels == 1;

    std::vector<DeviceMenuItem> items;
    items.push_back({DeviceMenuItem::Title, 0, port.name});
    items.push_back({DeviceMenuItem::Separator, 0, {}});
    const int activate = !hasOut ? kMenuInputsOnly : hasIn ? kMenuActivateBoth : kMenuOutputsOnly;
    items.push_back({DeviceMenuItem::Command, activate, languages.Text(kStrActivate)});
    if (hasIn && hasOut) {
        const int inputsText = monoInput && !port.input.monoToStereo ? kStrInputOnly : kStrInputsOnly;
        items.push_back({DeviceMenuItem::Command, kMenuInputsOnly, languages.Text(inputsText)});
        items.push_back({DeviceMenuItem::Command, kMenuOutputsOnly, languages.Text(kStrOutputsOnly)});
    }
    if (hasIn) {
        items.push_back({DeviceMenuItem::Separator, 0, {}});
        if (monoInput)
            items.push_back({DeviceMenuItem::Command, kMenuMonoToStereo, languages.Text(kStrMonoToStereo)});
        else
            items.push_back({DeviceMenuItem::Command, kMenuMonoMix, languages.Text(kStrMonoMix)});
    }

    int activeCommand = 0;
    if (hasOut)
        activeCommand = inOn && outOn ? kMenuActivateBoth : inOn ? kMenuInputsOnly : outOn ? kMenuOutputsOnly : 0;
    else if (inOn)
        activeCommand = kMenuInputsOnly;
    for (DeviceMenuItem& item : items) {
        if (item.kind != DeviceMenuItem::Command) continue;
        if (item.command == activeCommand) item.checked = true;
        if (item.command == kMenuMonoMix) item.checked = port.input.monoMix != 0;
        if (item.command == kMenuMonoToStereo) item.checked = port.input.monoToStereo != 0;
    }
    return items;
}

void IDeviceRowsOwner::ShowMessage(HWND parent, int, const std::wstring& title, const std::wstring& text)
{
    MessageBoxW(parent, text.c_str(), title.c_str(), MB_ICONEXCLAMATION | MB_OK);
}

int KnownDeviceRowOf(const PortInventory& inventory, const std::wstring& capturePath)
{
    for (size_t i = 0; i < inventory.interfacePaths.size() && i < inventory.interfaceRows.size(); ++i) {
        const std::wstring& path = inventory.interfacePaths[i];
        if (CompareStringOrdinal(path.c_str(), int(path.size()), capturePath.c_str(), int(capturePath.size()), TRUE) ==
            CSTR_EQUAL)
            return int(inventory.interfaceRows[i]);
    }
    return -1;
}

CPanelDeviceRows::CPanelDeviceRows(IDeviceRowsOwner& owner, const CLanguages& languages)
    : owner_(owner), languages_(languages), editBrush_(CreateSolidBrush(kNameBack)),
      disabledEditBrush_(CreateSolidBrush(kNameBackDisabled))
{
}

CPanelDeviceRows::~CPanelDeviceRows()
{
    if (parent_) RemoveWindowSubclass(parent_, ParentProc, reinterpret_cast<UINT_PTR>(this));
}

bool CPanelDeviceRows::Create(HWND parent, const RECT& area)
{
    if (parent_ || !parent) return false;
    parent_ = parent;
    // Installed first, so the controls' own reflection runs before the rows see a message.
    if (!SetWindowSubclass(parent_, ParentProc, reinterpret_cast<UINT_PTR>(this), reinterpret_cast<DWORD_PTR>(this)))
        return false;
    warningIcon_ = static_cast<HICON>(
        LoadImageW(ControlsModule(), MAKEINTRESOURCEW(kWarningIcon), IMAGE_ICON, 16, 16, LR_SHARED));
    unknownPicture_ = LoadControlBitmap(kPictureUnknown);

    const int rowHeight = (area.bottom - area.top) / kRows;
    if (!scroller_.Create(L"Static", L"", WS_CHILD | WS_VISIBLE | SS_NOTIFY,
                          RECT{area.left, area.top, area.left + kScrollerWidth, area.bottom}, parent_, kScroller))
        return false;
    scroller_.SetThumbBitmaps(3022, 3021, 3020, 18);
    scroller_.SetLineColour(RGB(46, 76, 109));
    scroller_.SetBackColour(RGB(58, 87, 115));
    scroller_.SetRange(0, kScrollerTop);
    scroller_.SetValue(kScrollerTop);
    scroller_.SetWheelStep(kScrollerStep);
    for (int r = 0; r < kRows; ++r)
        if (!CreateRow(r, area, rowHeight)) return false;
    return true;
}

bool CPanelDeviceRows::CreateRow(int r, const RECT& area, int rowHeight)
{
    Row& row = rows_[r];
    const int top = area.top + r * rowHeight;
    const int left = area.left + kScrollerWidth + 4;
    const int height = std::min(kPictureHeight, rowHeight - 4);
    const RECT picture{left, top + (rowHeight - height) / 2, left + kPictureWidth, top + (rowHeight + height) / 2};
    row.picture.reset(MakeStatic(parent_, kPicture + r, WS_CLIPSIBLINGS | SS_BITMAP | SS_REALSIZECONTROL, picture));
    row.instance.reset(MakeStatic(parent_, kInstanceLabel + r, 0,
                                  RECT{picture.left + 55, picture.bottom - 14, picture.right - 14, picture.bottom}));
    if (!row.picture || !row.instance) return false;
    SendMessageW(row.instance.get(), WM_SETFONT, SendMessageW(parent_, WM_GETFONT, 0, 0), FALSE);

    const RECT badge{picture.left + 2, picture.top + 2, picture.left + 12, picture.top + 16};
    if (!row.badge.Create(L"Static", L"", WS_CHILD | WS_VISIBLE | SS_CENTER, badge, parent_, 0xFFFF)) return false;
    SendMessageW(row.badge.hwnd(), WM_SETFONT, SendMessageW(parent_, WM_GETFONT, 0, 0), FALSE);
    row.badge.SetTextColour(RGB(255, 255, 255), false);
    row.badge.SetBackgroundColour(kBadgeBack);

    const DWORD clickable = WS_CHILD | SS_NOTIFY;
    const RECT up{picture.right - 12, picture.top + 1, picture.right - 1, picture.top + 10};
    const RECT down{picture.right - 12, picture.bottom - 10, picture.right - 1, picture.bottom - 1};
    const int centre = (picture.left + picture.right) / 2;
    const RECT warning{centre - 9, picture.bottom - 17, centre + 7, picture.bottom - 1};
    if (!row.up.Create(L"Static", L"", clickable, up, parent_, kArrowUp + r) ||
        !row.down.Create(L"Static", L"", clickable, down, parent_, kArrowDown + r) ||
        !row.warning.Create(L"Static", L"", WS_CHILD, warning, parent_, kWarning + r))
        return false;
    row.up.SetBitmaps(3070, 3070);
    row.down.SetBitmaps(3071, 3071);
    row.warning.SetIconImage(warningIcon_);
    row.up.SetNotifyTarget(parent_, kHoverMessage);
    row.down.SetNotifyTarget(parent_, kHoverMessage);
    row.warning.SetNotifyTarget(parent_, kHoverMessage);
    // The picture's window lies under the controls drawn over it.
    SetWindowPos(row.picture.get(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    row.balloon.reset(CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                      WS_POPUP | TTS_ALWAYSTIP | TTS_BALLOON | TTS_USEVISUALSTYLE, CW_USEDEFAULT,
                                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, parent_, nullptr,
                                      ControlsModule(), nullptr));
    if (row.balloon) {
        SendMessageW(row.balloon.get(), TTM_SETDELAYTIME, TTDT_AUTOPOP, 30000);
        SendMessageW(row.balloon.get(), TTM_SETDELAYTIME, TTDT_INITIAL, 10);
        SendMessageW(row.balloon.get(), TTM_SETDELAYTIME, TTDT_RESHOW, 10);
        SendMessageW(row.balloon.get(), TTM_SETMAXTIPWIDTH, 0, 32767);
    }

    const int sideWidth = (area.right - area.left - kPictureColumn) / 2;
    const int sidesLeft = area.left + kPictureColumn;
    return CreateSide(row.in, r, true, sidesLeft, top + rowHeight / 2, sideWidth) &&
           CreateSide(row.out, r, false, sidesLeft + sideWidth, top + rowHeight / 2, sideWidth);
}

bool CPanelDeviceRows::CreateSide(Side& side, int r, bool input, int left, int middle, int width)
{
    const int toggleId = (input ? kToggleIn : kToggleOut) + r;
    if (!side.toggle.Create(L"Static", L"", WS_CHILD | WS_VISIBLE | SS_NOTIFY,
                            RECT{left + 2, middle - 8, left + 18, middle + 8}, parent_, toggleId))
        return false;
    if (input)
        side.toggle.SetBitmaps(3027, 3028, 3029);
    else
        side.toggle.SetBitmaps(3030, 3031, 3032);
    side.toggle.SetAutoToggle(true);
    side.toggle.SetNotifyTarget(parent_, kHoverMessage);

    // The toggle takes its bitmap's size; the names start beside it.
    const int editLeft = int(RectIn(parent_, side.toggle.hwnd()).right) + 2;
    const int markerLeft = left + width - kMarkerWidth - kMarkerMargin;
    const int editRight = std::max(editLeft + 20, markerLeft - 2 * kLineGap - kShortestLine);
    for (int c = 0; c < 2; ++c) {
        const int editTop = c == 0 ? middle - kEditHeight - 2 : middle + 2;
        const RECT edit{editLeft, editTop, editRight, editTop + kEditHeight};
        const int nameId = (input ? kNameIn : kNameOut) + 2 * r + c;
        const int markerId = (input ? kMarkerIn : kMarkerOut) + 2 * r + c;
        const int lineY = editTop + kEditHeight / 2 - 1;
        const RECT marker{markerLeft, lineY + 1 - kMarkerHeight / 2, markerLeft + kMarkerWidth,
                          lineY + 1 + kMarkerHeight / 2};
        const RECT line{editRight + kLineGap, lineY, markerLeft - kLineGap, lineY + 2};
        if (!side.names[c].Create(L"Edit", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, edit, parent_,
                                  nameId) ||
            !side.markers[c].Create(L"Static", L"", WS_CHILD | WS_VISIBLE, marker, parent_, markerId) ||
            !side.lines[c].Create(L"Static", L"", WS_CHILD | WS_VISIBLE, line, parent_, 0xFFFF))
            return false;
        SendMessageW(side.names[c].hwnd(), WM_SETFONT, SendMessageW(parent_, WM_GETFONT, 0, 0), FALSE);
        SendMessageW(side.names[c].hwnd(), EM_LIMITTEXT, kNameLength, 0);
        SendMessageW(side.names[c].hwnd(), EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN,
                     MAKELONG(kNameMargin, kNameMargin));
        side.markers[c].SetDigitBitmaps(4000, 4016);
    }
    return true;
}

void CPanelDeviceRows::SetWorkingCopy(_sPort* ports, int portCount, int firstPort)
{
    ports_ = ports;
    portCount_ = ports ? std::clamp(portCount, 0, kMaxPorts) : 0;
    menuPort_ = -1;
    SetFirst(firstPort);
    Refresh();
}

void CPanelDeviceRows::LoadPictures(const CKnownDeviceTable& table, int language)
{
    auto load = [this](int id) {
        UniqueBitmap bitmap = id ? LoadControlBitmap(id) : UniqueBitmap();
        return bitmap ? std::move(bitmap) : LoadControlBitmap(kPictureUnknown);
    };
    activePictures_.clear();
    inactivePictures_.clear();
    activePictures_.push_back(load(ConnectPictureId(language)));
    inactivePictures_.push_back(load(ConnectPictureId(language)));
    for (int j = 0; j < table.count(); ++j) {
        const _sKnownDeviceRow& row = table.Row(j);
        const bool alternative = language != kLanguageFrench;
        activePictures_.push_back(
            load(alternative && row.imageAltIds[0] ? row.imageAltIds[0] : row.imageActiveId));
        inactivePictures_.push_back(
            load(alternative && row.imageAltIds[1] ? row.imageAltIds[1] : row.imageInactiveId));
    }
    Refresh();
}

HBITMAP CPanelDeviceRows::Picture(int index, bool active) const
{
    const auto& pictures = active ? activePictures_ : inactivePictures_;
    if (index < 0 || index >= static_cast<int>(pictures.size())) return unknownPicture_.get();
    return pictures[index].get();
}

void CPanelDeviceRows::ShowPlaceholder(bool unknown)
{
    for (Row& row : rows_) {
        HBITMAP picture = unknown ? unknownPicture_.get() : Picture(0, true);
        if (row.picture) SendMessageW(row.picture.get(), STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture));
    }
}

int CPanelDeviceRows::MaxFirstPort() const
{
    return std::clamp(portCount_ - 1, 0, (kScrollerTop / kScrollerStep));
}

void CPanelDeviceRows::SetFirst(int first)
{
    firstPort_ = std::clamp(first, 0, MaxFirstPort());
    if (scroller_.hwnd()) scroller_.SetValue(kScrollerTop - kScrollerStep * firstPort_);
}

bool CPanelDeviceRows::Named(int port) const
{
    return ports_ && port >= 0 && port < portCount_ && !ports_[port].name.empty();
}

void CPanelDeviceRows::Refresh()
{
    if (!parent_) return;
    for (int r = 0; r < kRows; ++r) RefreshRow(r);
}

void CPanelDeviceRows::ShowEmptyRow(Row& row)
{
    SendMessageW(row.picture.get(), STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(Picture(0, true)));
    for (Side* side : {&row.in, &row.out}) {
        for (int c = 0; c < 2; ++c) {
            SetEditText(side->names[c].hwnd(), L"");
            ShowWindow(side->names[c].hwnd(), SW_SHOW);
            EnableWindow(side->names[c].hwnd(), FALSE);
            side->markers[c].ShowNumber(0);
            EnableWindow(side->markers[c].hwnd(), FALSE);
            EnableWindow(side->lines[c].hwnd(), FALSE);
        }
        side->toggle.SetCheck(false);
        EnableWindow(side->toggle.hwnd(), FALSE);
        SetTip(side->toggle.hwnd(), L"");
    }
    ShowWindow(row.up.hwnd(), SW_HIDE);
    ShowWindow(row.down.hwnd(), SW_HIDE);
}

void CPanelDeviceRows::RefreshRow(int r)
{
    Row& row = rows_[r];
    const int p = firstPort_ + r;
    SetWindowTextW(row.badge.hwnd(), std::to_wstring(p + 1).c_str());
    ShowWindow(row.instance.get(), SW_HIDE);
    ShowWindow(row.warning.hwnd(), SW_HIDE);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = parent_;
    tool.uId = kTooltipFirstRow + r;
    if (mainTooltip_) SendMessageW(mainTooltip_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    TTTOOLINFOW balloonTool{};
    balloonTool.cbSize = sizeof(balloonTool);
    balloonTool.hwnd = parent_;
    balloonTool.uId = reinterpret_cast<UINT_PTR>(row.warning.hwnd());
    if (row.balloon) SendMessageW(row.balloon.get(), TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&balloonTool));

    if (!Named(p)) {
        ShowEmptyRow(row);
        return;
    }
    const _sPort& port = ports_[p];
    if (mainTooltip_) {
        std::wstring tip = port.name + L"\n" + languages_.Text(kStrRightClick);
        tool.uFlags = TTF_SUBCLASS;
        tool.rect = RectIn(parent_, row.picture.get());
        InflateRect(&tool.rect, -5, -5);
        tool.lpszText = tip.data();
        SendMessageW(mainTooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    if (port.nonOptimalPort) {
        if (row.balloon) {
            std::wstring text = languages_.Text(kStrNonOptimalPort);
            balloonTool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
            balloonTool.lpszText = text.data();
            SendMessageW(row.balloon.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&balloonTool));
            SendMessageW(row.balloon.get(), TTM_SETTITLEW, TTI_WARNING, reinterpret_cast<LPARAM>(port.name.c_str()));
        }
        ShowWindow(row.warning.hwnd(), SW_SHOW);
    }
    const std::wstring suffix = InstanceSuffix(port.name);
    if (!suffix.empty()) {
        SetWindowTextW(row.instance.get(), suffix.c_str());
        ShowWindow(row.instance.get(), SW_SHOW);
    }
    ShowWindow(row.up.hwnd(), p == 0 ? SW_HIDE : SW_SHOW);
    EnableWindow(row.up.hwnd(), TRUE);
    ShowWindow(row.down.hwnd(), p == portCount_ - 1 ? SW_HIDE : SW_SHOW);
    EnableWindow(row.down.hwnd(), TRUE);

    const int known = owner_.KnownDeviceRow(port);
    // A device chosen among the system's other ones is no interface to connect: it shows the
    // unknown picture.
    const int index = port.otherDevice ? -1 : known < 0 ? 0 : known + 1;
    SendMessageW(row.picture.get(), STM_SETIMAGE, IMAGE_BITMAP,
                 reinterpret_cast<LPARAM>(Picture(index, InputOn(port) || OutputOn(port))));

    int asioInputs = 0, asioOutputs = 0;
    for (int i = 0; i < p; ++i) {
        asioInputs += PortInputChannels(ports_[i]);
        asioOutputs += PortOutputChannels(ports_[i]);
    }
    RefreshSide(row.in, port, true, asioInputs);
    RefreshSide(row.out, port, false, asioOutputs);
    // An inactive port can always be switched on from its input toggle.
    if (!InputOn(port) && !OutputOn(port) && HasInputs(port)) EnableWindow(row.in.toggle.hwnd(), TRUE);
}

RECT CPanelDeviceRows::LineRect(const Side& side, int c) const
{
    // From where the name and the marker are now: the compact layout moves the whole column.
    const RECT name = RectIn(parent_, side.names[c].hwnd()), marker = RectIn(parent_, side.markers[c].hwnd());
    const int lineY = name.top + kEditHeight / 2 - 1;
    return RECT{name.right + kLineGap, lineY, marker.left - kLineGap, lineY + 2};
}

void CPanelDeviceRows::HighlightChannel(int port, bool input, int channel, bool on)
{
    const int r = port - firstPort_;
    if (!ports_ || port < 0 || port >= portCount_ || r < 0 || r >= device_rows::kRows) return;
    // Both strips of a widened mono input come from its one physical channel.
    if (input && ports_[port].input.monoToStereo) channel = 0;
    if (channel < 0 || channel > 1) return;
    Side& side = input ? rows_[r].in : rows_[r].out;
    if (on)
        side.lines[channel].SetAlertColour();
    else
        side.lines[channel].SetNormalColour(true);
    side.markers[channel].SetHighlight(on);
    InvalidateRect(side.markers[channel].hwnd(), nullptr, TRUE);
}

void CPanelDeviceRows::RefreshSide(Side& side, const _sPort& port, bool input, int firstAsio)
{
    const _sPortDirection& direction = input ? port.input : port.output;
    const int physical = std::min(input ? port.inputFormat.channels : port.outputFormat.channels, 2);
    const bool on = input ? InputOn(port) : OutputOn(port);
    const bool widened = input && physical == 1 && port.input.monoToStereo;
    const bool mixed = input && physical == 2 && port.input.monoMix;
    const int fed = input ? OwnInputs(port) : physical;

    for (int c = 0; c < 2; ++c) {
        side.lines[c].SetNormalColour(false);
        side.markers[c].SetHighlight(false);
        const bool present = c < physical;
        SetEditText(side.names[c].hwnd(), present ? direction.channelName[c] : L"");
        ShowWindow(side.names[c].hwnd(), present || physical == 0 ? SW_SHOW : SW_HIDE);
        EnableWindow(side.names[c].hwnd(), present && on);
        const int asio = on && c < std::min(fed, 2) ? firstAsio + c + 1 : 0;
        side.markers[c].ShowNumber(asio);
        EnableWindow(side.markers[c].hwnd(), physical > 0 && on);
    }
    side.toggle.SetCheck(on);
    EnableWindow(side.toggle.hwnd(), physical > 0);
    // The tip says what a click does.
    const int tip = !input ? (on ? kStrDisableOutputs : kStrEnableOutputs)
                    : physical == 1 ? (on ? kStrDisableInput : kStrEnableInput)
                                    : (on ? kStrDisableInputs : kStrEnableInputs);
    SetTip(side.toggle.hwnd(), physical > 0 ? languages_.Text(tip) : L"");

    RECT first = LineRect(side, 0);
    const RECT second = LineRect(side, 1);
    side.lines[0].SetShape(0);
    side.lines[1].SetShape(0);
    if (widened || mixed) first.bottom = second.bottom;
    if (widened) side.lines[0].SetShape(3);
    if (mixed) {
        side.lines[0].SetShape(1);
        side.lines[1].SetShape(2);
        Place(side.lines[1].hwnd(), RECT{second.left, first.top, second.right, second.bottom});
    } else {
        Place(side.lines[1].hwnd(), second);
    }
    Place(side.lines[0].hwnd(), first);
    ShowWindow(side.lines[1].hwnd(), physical == 1 ? SW_HIDE : SW_SHOW);
    for (CStaticLine& line : side.lines) {
        EnableWindow(line.hwnd(), physical > 0 && on);
        line.Invalidate();
    }
}

void CPanelDeviceRows::SetTip(HWND control, std::wstring text) const
{
    if (!mainTooltip_) return;
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = parent_;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    SendMessageW(mainTooltip_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    if (text.empty()) return;
    tool.lpszText = text.data();
    SendMessageW(mainTooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void CPanelDeviceRows::SetEditText(HWND edit, const std::wstring& text)
{
    wchar_t current[kNameLength + 2] = {};
    GetWindowTextW(edit, current, kNameLength + 2);
    // Rewriting an unchanged name would move the caret of the edit being typed in.
    if (text == current) return;
    updating_ = true;
    SetWindowTextW(edit, text.c_str());
    updating_ = false;
}

void CPanelDeviceRows::Changed(bool reset)
{
    Refresh();
    owner_.DeviceRowsChanged(reset);
}

void CPanelDeviceRows::Refuse(int textId)
{
    owner_.ShowMessage(parent_, textId, languages_.Text(kStrPanelTitle), languages_.Text(textId));
}

bool CPanelDeviceRows::InputsFit(int port) const
{
    const int others = CountChannels(ports_, portCount_).inputs - PortInputChannels(ports_[port]);
    return others + OwnInputs(ports_[port]) <= kMaxAsioChannels;
}

bool CPanelDeviceRows::OutputsFit(int port) const
{
    const int others = CountChannels(ports_, portCount_).outputs - PortOutputChannels(ports_[port]);
    return others + ports_[port].outputFormat.channels <= kMaxAsioChannels;
}

void CPanelDeviceRows::ToggleActivation(int p)
{
    if (!Named(p)) return;
    _sPort& port = ports_[p];
    if (port.input.enabled || port.output.enabled) {
        port.input.enabled = port.output.enabled = 0;
    } else {
        const bool inputsFit = InputsFit(p), outputsFit = OutputsFit(p);
        if (inputsFit) port.input.enabled = HasInputs(port);
        if (outputsFit) port.output.enabled = HasOutputs(port);
        if (!inputsFit) Refuse(outputsFit ? kStrNoInputs : kStrNoInputsOutputs);
        else if (!outputsFit) Refuse(kStrNoOutputs);
    }
    Changed(true);
    if (HWND cancel = GetDlgItem(parent_, IDCANCEL)) SetFocus(cancel);
}

void CPanelDeviceRows::ActivateBoth(int p)
{
    if (!Named(p)) return;
    _sPort& port = ports_[p];
    if (port.input.enabled && port.output.enabled) {
        port.input.enabled = port.output.enabled = 0;
    } else {
        const bool inputOk = port.input.enabled || InputsFit(p);
        const bool outputsFail = !OutputsFit(p) && !port.output.enabled;
        port.input.enabled = inputOk;
        port.output.enabled = !outputsFail;
        if (inputOk && outputsFail) Refuse(kStrNoOutputs);
        else if (!inputOk) Refuse(outputsFail ? kStrNoInputsOutputs : kStrNoInputs);
    }
    Changed(true);
}

void CPanelDeviceRows::ActivateInputsOnly(int p)
{
    if (!Named(p)) return;
    _sPort& port = ports_[p];
    if (port.input.enabled && port.output.enabled) {
        port.output.enabled = 0;
    } else if (port.input.enabled) {
        port.input.enabled = 0;
    } else if (InputsFit(p)) {
        port.input.enabled = 1;
        port.output.enabled = 0;
    } else {
        Refuse(kStrNoInputs);
        return;
    }
    Changed(true);
}

void CPanelDeviceRows::ActivateOutputsOnly(int p)
{
    if (!Named(p)) return;
    _sPort& port = ports_[p];
    if (port.input.enabled && port.output.enabled) {
        port.input.enabled = 0;
    } else if (port.output.enabled) {
        port.output.enabled = 0;
    } else if (OutputsFit(p)) {
        port.output.enabled = 1;
        port.input.enabled = 0;
    } else {
        Refuse(kStrNoOutputs);
        return;
    }
    Changed(true);
}

void CPanelDeviceRows::ToggleMonoMix(int p)
{
    if (!Named(p) || ports_[p].inputFormat.channels != 2) return;
    ports_[p].input.monoMix = !ports_[p].input.monoMix;
    owner_.MonoMixChanged(p);
    Changed(true);
}

void CPanelDeviceRows::ToggleMonoToStereo(int p)
{
    if (!Named(p) || ports_[p].inputFormat.channels != 1) return;
    _sPortDirection& input = ports_[p].input;
    if (input.monoToStereo) {
        input.monoToStereo = 0;
    } else if (CountChannels(ports_, portCount_).inputs + 1 > kMaxAsioChannels) {
        Refuse(kStrNoInputs);
        return;
    } else {
        input.monoToStereo = 1;
        input.dcRemoval[1] = input.dcRemoval[0];
        input.level[1] = input.level[0];
    }
    RenameUnchanged(ports_[p]);
    Changed(true);
}

void CPanelDeviceRows::RenameUnchanged(_sPort& port) const
{
    const _sPort previous = port;
    NameChannels(port, false, languages_);
    const auto follow = [](const std::wstring& before, const std::wstring& now, wchar_t (&name)[32]) {
        if (name[0] == L'\0' || before.compare(0, kNameLength, name) == 0) CopyName(now, name);
    };
    for (int c = 0; c < 2; ++c) {
        follow(previous.inputChannelNames[c], port.inputChannelNames[c], port.input.channelName[c]);
        follow(previous.outputChannelNames[c], port.outputChannelNames[c], port.output.channelName[c]);
    }
}

void CPanelDeviceRows::FollowLanguage()
{
    for (int p = 0; ports_ && p < portCount_; ++p) RenameUnchanged(ports_[p]);
    Refresh();
}

void CPanelDeviceRows::MovePort(int row, bool up)
{
    const int p = firstPort_ + row;
    const int other = up ? p - 1 : p + 1;
    if (row < 0 || row >= kRows || !Named(p) || other < 0 || other >= portCount_) return;
    std::swap(ports_[p], ports_[other]);
    if (up && row == 0 && firstPort_ > 0) SetFirst(firstPort_ - 1);
    if (!up && row == kRows - 1 && firstPort_ < kArrowScrollLimit) SetFirst(firstPort_ + 1);
    Changed(true);
    // The cursor follows the moved port, onto the arrow that moves it further the same way.
    const int target = std::clamp(other - firstPort_, 0, kRows - 1);
    PointAtArrow(target, up);
}

void CPanelDeviceRows::PointAtArrow(int row, bool preferUp)
{
    HWND preferred = preferUp ? rows_[row].up.hwnd() : rows_[row].down.hwnd();
    HWND other = preferUp ? rows_[row].down.hwnd() : rows_[row].up.hwnd();
    HWND arrow = IsWindowVisible(preferred) ? preferred : other;
    const POINT at = CentreOf(arrow);
    SetCursorPos(at.x, at.y);
}

void CPanelDeviceRows::ScrollTo(int value)
{
    const int first = std::clamp((kScrollerTop - value) / kScrollerStep, 0, MaxFirstPort());
    const bool changed = first != firstPort_;
    SetFirst(first);
    if (changed) Changed(false);
}

int CPanelDeviceRows::RowAt(POINT client) const
{
    for (int r = 0; r < kRows; ++r) {
        if (!rows_[r].picture) continue;
        const RECT rect = RectIn(parent_, rows_[r].picture.get());
        if (PtInRect(&rect, client)) return r;
    }
    return -1;
}

void CPanelDeviceRows::OpenMenu(int p, POINT client)
{
    menuPort_ = p;
    menuPortName_ = ports_[p].name;
    std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDestroyer> menu(CreatePopupMenu());
    if (!menu) return;
    for (const DeviceMenuItem& item : BuildDeviceMenu(ports_[p], languages_)) {
        if (item.kind == DeviceMenuItem::Separator)
            AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
        else if (item.kind == DeviceMenuItem::Title)
            AppendMenuW(menu.get(), MF_STRING | MF_DISABLED | MF_GRAYED, 0, item.text.c_str());
        else
            AppendMenuW(menu.get(), MF_STRING | (item.checked ? MF_CHECKED : 0), item.command, item.text.c_str());
    }
    if (mainTooltip_) SendMessageW(mainTooltip_, TTM_POP, 0, 0);
    POINT screen = client;
    ClientToScreen(parent_, &screen);
    TrackPopupMenu(menu.get(), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON | TPM_HORPOSANIMATION | TPM_VERPOSANIMATION,
                   screen.x, screen.y, 0, parent_, nullptr);
}

void CPanelDeviceRows::OnMenuCommand(int command)
{
    // A reload while the menu was open may have moved or removed its port.
    const int p = menuPort_;
    menuPort_ = -1;
    if (!Named(p) || ports_[p].name != menuPortName_) return;
    switch (command) {
    case kMenuActivateBoth: ActivateBoth(p); break;
    case kMenuInputsOnly: ActivateInputsOnly(p); break;
    case kMenuOutputsOnly: ActivateOutputsOnly(p); break;
    case kMenuMonoMix: ToggleMonoMix(p); break;
    case kMenuMonoToStereo: ToggleMonoToStereo(p); break;
    default: break;
    }
    InvalidateRect(parent_, nullptr, TRUE);
}

void CPanelDeviceRows::OnNameChange(int id, int code)
{
    const bool input = id < kNameOut;
    const int index = id - (input ? kNameIn : kNameOut);
    const int r = index / 2, c = index % 2;
    const int p = firstPort_ + r;
    if (!Named(p) || updating_) return;
    _sPort& port = ports_[p];
    _sPortDirection& direction = input ? port.input : port.output;
    HWND edit = GetDlgItem(parent_, id);
    wchar_t text[256] = {};
    GetWindowTextW(edit, text, 256);
    if (code == EN_CHANGE) {
        CopyName(text, direction.channelName[c]);
        owner_.DeviceRowsChanged(false);
        return;
    }
    if (text[0] == L'\0') {
        CopyName(input ? port.inputChannelNames[c] : port.outputChannelNames[c], direction.channelName[c]);
        SetEditText(edit, direction.channelName[c]);
        owner_.DeviceRowsChanged(false);
    }
    RECT around = RectIn(parent_, edit);
    InflateRect(&around, 5, 5);
    InvalidateRect(parent_, &around, TRUE);
    SendMessageW(edit, EM_SETSEL, 0, 0);
    SendMessageW(edit, EM_SCROLLCARET, 0, 0);
}

HWND CPanelDeviceRows::NextName(HWND from) const
{
    const int id = GetDlgCtrlID(from);
    if (!parent_ || GetParent(from) != parent_ || id < kNameIn || id >= kNameOut + 2 * kRows) return nullptr;
    const bool input = id < kNameOut;
    const auto usable = [this](int candidate) {
        const HWND name = GetDlgItem(parent_, candidate);
        return name && IsWindowVisible(name) && IsWindowEnabled(name) ? name : nullptr;
    };
    for (int next = id + 1; next < (input ? kNameOut : kNameOut + 2 * kRows); ++next)
        if (const HWND name = usable(next)) return name;
    const int other = input ? kNameOut : kNameIn;
    for (int next = other; next < other + 2 * kRows; ++next)
        if (const HWND name = usable(next)) return name;
    return nullptr;
}

bool CPanelDeviceRows::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam), code = HIWORD(wParam);
        if (id >= kNameIn && id < kNameOut + 2 * kRows) {
            if (code == EN_CHANGE || code == EN_KILLFOCUS) OnNameChange(id, code);
            result = 0;
            return true;
        }
        if (lParam == 0 && id >= kMenuActivateBoth && id <= kMenuMonoToStereo) {
            OnMenuCommand(id);
            result = 0;
            return true;
        }
        const bool inputToggle = id >= kToggleIn && id < kToggleIn + kRows;
        const bool outputToggle = id >= kToggleOut && id < kToggleOut + kRows;
        if (inputToggle || outputToggle) {
            const int r = id - (inputToggle ? kToggleIn : kToggleOut);
            const int p = firstPort_ + r;
            if (Named(p)) {
                Side& side = inputToggle ? rows_[r].in : rows_[r].out;
                int32_t& enabled = inputToggle ? ports_[p].input.enabled : ports_[p].output.enabled;
                if (side.toggle.GetCheck() && !(inputToggle ? InputsFit(p) : OutputsFit(p))) {
                    enabled = 0;
                    side.toggle.SetCheck(false);
                    Refuse(inputToggle ? kStrNoInputs : kStrNoOutputs);
                } else {
                    enabled = side.toggle.GetCheck();
                }
                Changed(true);
            }
            result = 0;
            return true;
        }
        if (id >= kArrowUp && id < kArrowDown + kRows) {
            const bool up = id < kArrowDown;
            MovePort(id - (up ? kArrowUp : kArrowDown), up);
            result = 0;
            return true;
        }
        return false;
    }
    case WM_VSCROLL:
        if (reinterpret_cast<HWND>(lParam) != scroller_.hwnd() || !scroller_.hwnd()) return false;
        ScrollTo(LOWORD(wParam) == SB_THUMBTRACK || LOWORD(wParam) == SB_THUMBPOSITION
                     ? static_cast<int>(HIWORD(wParam))
                     : scroller_.GetValue());
        result = 0;
        return true;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONUP: {
        const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        const int r = RowAt(at);
        if (r < 0 || !Named(firstPort_ + r)) return false;
        if (message == WM_LBUTTONDOWN)
            ToggleActivation(firstPort_ + r);
        else
            OpenMenu(firstPort_ + r, at);
        result = 0;
        return true;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
        HWND control = reinterpret_cast<HWND>(lParam);
        HDC dc = reinterpret_cast<HDC>(wParam);
        const int id = GetDlgCtrlID(control);
        if (id >= kInstanceLabel && id < kInstanceLabel + kRows) {
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, kInstanceText);
            result = reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
            return true;
        }
        if (id >= kNameIn && id < kNameOut + 2 * kRows && GetFocus() != control) {
            const bool enabled = IsWindowEnabled(control);
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, kNameText);
            SetBkColor(dc, enabled ? kNameBack : kNameBackDisabled);
            result = reinterpret_cast<LRESULT>(enabled ? editBrush_.get() : disabledEditBrush_.get());
            return true;
        }
        return false;
    }
    default:
        return false;
    }
}

LRESULT CALLBACK CPanelDeviceRows::ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                              DWORD_PTR self)
{
    LRESULT result = 0;
    if (reinterpret_cast<CPanelDeviceRows*>(self)->OnMessage(message, wParam, lParam, result)) return result;
    return DefSubclassProc(window, message, wParam, lParam);
}
