#include "DlgSettings_v2.h"

#include "Languages.h"
#include "SettingsDialogIds.h"
#include "UpdateCheck.h"
#include "WebLinks.h"

#include "../core/Mordane.h"
#include "../devices/DeviceAccess.h"

#include <controls/ComboItems.h>

#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <new>

namespace {

constexpr int kBufferSizes[] = {128, 256, 512, 1024};
constexpr int kFormatItems[] = {ASIOSTInt16LSB, ASIOSTInt32LSB};
constexpr int kPositionUnset = -1;
// Channel group titles: the plural (also alone, without channels) and the singular.
constexpr int kStrOtherDevices = 270;
constexpr int kStrAsioInputs = 213, kStrAsioOutputs = 214, kStrAsioInput = 267, kStrAsioOutput = 268;
// The device rows' column titles.
constexpr int kStrPhysicalInputs = 210, kStrPhysicalOutputs = 211, kStrInterfaces = 212;
// Tooltips.
constexpr int kStrLinked = 117, kStrMoveUp = 207, kStrMoveDown = 208, kStrDcRemoval = 225, kStrLevelsOnly = 258,
              kStrAllControls = 259, kStrMonitoring = 266, kStrOtherChannels = 269;
// The width of the device columns the compact layout leaves out, where four horizontal dialog
// units are six pixels (the template's font at 96 DPI); other fonts and scales widen it alike.
constexpr int kColumnsWidth = 454, kReferenceUnitsWidth = 6;
// The bottom band: where it starts in the full layout, and the strip below the plain background.
constexpr int kBandTop = 424, kBandHeight = 38;
constexpr UINT_PTR kNewVersionTimer = 256, kPlaceholderTimer = 272;
constexpr UINT kBlinkMs = 800;
constexpr int kPageWidth = 34, kPageHeight = 13, kPageAbove = 9;
constexpr int kPageFirst = 3110, kPageGrey = 3111, kPageSecond = 3112;
constexpr int kLayoutFull = 3085, kLayoutCompact = 3086, kLayoutGrey = 3087;
constexpr int kStripCount = CPanelStrips::kStrips;
// Moved up by the compact layout, together with the two bottom frames.
constexpr int kBottomItems[] = {IDC_LAYOUT_PICTURE, IDC_LAYOUT, IDC_LOGO,   IDC_VERSION_LINE, IDC_NEW_VERSION,
                                IDC_RIGHTS,         IDC_MANUAL_LINK, IDOK, IDCANCEL};
// Hidden by the compact layout, with the ASIO frame and the language frame.
constexpr int kSetupItems[] = {IDC_FORMAT_LABEL, IDC_FORMAT, IDC_BUFFER_LABEL, IDC_BUFFER_SIZE, IDC_OTHER_DEVICES};

HINSTANCE ThisModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

// A text's one "%s" replaced by value.
std::wstring Substituted(std::wstring format, const std::wstring& value)
{
    const size_t at = format.find(L"%s");
    return at == std::wstring::npos ? format : format.replace(at, 2, value);
}

RECT RectInParent(HWND window)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void MoveBy(HWND window, int dx, int dy)
{
    if (!window) return;
    const RECT rect = RectInParent(window);
    SetWindowPos(window, nullptr, rect.left + dx, rect.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The host's channels a port gives in one direction: a doubled mono input counts two.
int AsioChannels(const _sPort& port, bool output)
{
    if (output) return port.output.enabled ? port.outputFormat.channels : 0;
    if (!port.input.enabled) return 0;
    return port.inputFormat.channels == 1 && port.input.monoToStereo ? 2 : port.inputFormat.channels;
}

}  // namespace

CDlgSettings_v2::CDlgSettings_v2(CMordane& driver, IPanelOwner& owner)
    : driver_(driver), owner_(owner), ports_(new (std::nothrow) _sPort[kMaxPorts]()), strips_(driver, ports_.get()),
      rows_(static_cast<IDeviceRowsOwner&>(*this), driver.languages()), background_(CreateSolidBrush(kBackground))
{
    LoadWorkingCopy();
}

CDlgSettings_v2::~CDlgSettings_v2()
{
    // The position is stored while the window still exists.
    if (hwnd()) DestroyWindow(hwnd());
}

bool CDlgSettings_v2::Create(HWND ownerWindow)
{
    return ports_ && CreateModeless(ThisModule(), IDD_SETTINGS, ownerWindow) != nullptr;
}

void CDlgSettings_v2::Show()
{
    if (!hwnd()) return;
    // The strips show which channels the host uses now.
    Rebuild(false);
    ShowWindow(hwnd(), SW_SHOW);
}

void CDlgSettings_v2::Hide()
{
    if (hwnd()) ShowWindow(hwnd(), SW_HIDE);
}

bool CDlgSettings_v2::visible() const { return hwnd() && IsWindowVisible(hwnd()); }

void CDlgSettings_v2::LoadWorkingCopy()
{
    if (!ports_) return;
    portCount_ = std::clamp(driver_.portCount(), 0, kMaxPorts);
    for (int i = 0; i < kMaxPorts; ++i) ports_[i] = i < portCount_ ? driver_.ports()[i] : _sPort();
    settings_ = driver_.settings();
    if (!hwnd()) return;
    // The rows keep the first port they show.
    rows_.SetWorkingCopy(ports_.get(), portCount_, rows_.firstPort());
    // The driver's default names may be in the language the panel switched from.
    rows_.FollowLanguage();
}

void CDlgSettings_v2::DeviceRowsChanged(bool reset) { PostMessageW(hwnd(), kRebuildMessage, reset ? 1 : 0, 0); }

void CDlgSettings_v2::MonoMixChanged(int port)
{
    if (port < 0 || port >= portCount_ || !driver_.running()) return;
    // The driver's port with the same capture endpoint: the panel's copy may be in another order.
    for (int i = 0; i < driver_.portCount(); ++i)
        if (!ports_[port].capturePath.empty() && driver_.ports()[i].capturePath == ports_[port].capturePath)
            return driver_.ApplyMonoMix(i, ports_[port].input.monoMix != 0);
}

int CDlgSettings_v2::KnownDeviceRow(const _sPort& port) const
{
    return KnownDeviceRowOf(driver_.inventory(), port.capturePath);
}

void CDlgSettings_v2::ReloadFromDriver()
{
    LoadWorkingCopy();
    if (!hwnd()) return;
    SelectFormat(settings_.sampleType);
    FillBufferSizes(settings_.preferredBufferSize);
    UpdatePlaceholder();
    Rebuild(true);
}

bool CDlgSettings_v2::HoldsDriverPorts() const
{
    if (driver_.portCount() != portCount_) return false;
    for (int i = 0; i < driver_.portCount(); ++i) {
        const _sPort& port = driver_.ports()[i];
        const auto same = [&port](const _sPort& own) {
            return own.capturePath == port.capturePath && own.renderPath == port.renderPath;
        };
        if (std::none_of(ports_.get(), ports_.get() + portCount_, same)) return false;
    }
    return true;
}

void CDlgSettings_v2::HostChanged()
{
    if (!hwnd()) return;
    if (HoldsDriverPorts())
        Rebuild(true);
    else
        ReloadFromDriver();
    if (!visible()) return;
    if (driver_.running())
        strips_.StartMeters();
    else
        strips_.StopMeters();
}

void CDlgSettings_v2::UpdatePlaceholder()
{
    if (portCount_ > 0) {
        KillTimer(hwnd(), kPlaceholderTimer);
        return;
    }
    placeholderUnknown_ = false;
    rows_.ShowPlaceholder(false);
    SetTimer(hwnd(), kPlaceholderTimer, kBlinkMs, nullptr);
}

void CDlgSettings_v2::OnTimer(UINT_PTR id)
{
    if (id == kPlaceholderTimer) {
        placeholderUnknown_ = !placeholderUnknown_;
        rows_.ShowPlaceholder(placeholderUnknown_);
    } else if (id == kNewVersionTimer) {
        boldShown_ = !boldShown_;
        const HFONT font = boldShown_ ? boldFont_.get() : reinterpret_cast<HFONT>(SendMessageW(hwnd(), WM_GETFONT, 0, 0));
        SendDlgItemMessageW(hwnd(), IDC_NEW_VERSION, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
}

void CDlgSettings_v2::ShowNewVersion(const std::wstring& version)
{
    newVersion_ = version;
    if (!hwnd() || version.empty()) return;
    SetDlgItemTextW(hwnd(), IDC_NEW_VERSION, Substituted(Text(kStrNewVersion), version).c_str());
    ShowWindow(GetDlgItem(hwnd(), IDC_NEW_VERSION), SW_SHOWNA);
    SetTimer(hwnd(), kNewVersionTimer, kBlinkMs, nullptr);
}

void CDlgSettings_v2::EraseBackground(HDC dc)
{
    RECT client = {};
    GetClientRect(hwnd(), &client);
    RECT above = client;
    above.bottom = std::max(client.top, client.bottom - kBandHeight);
    FillRect(dc, &above, background_.get());
    const SIZE tile = BitmapSize(band_.get());
    if (tile.cx <= 0) return;
    const HDC source = CreateCompatibleDC(dc);
    const HGDIOBJ old = SelectObject(source, band_.get());
    const int top = compact_ ? kBandTop - dy_ : kBandTop;
    for (int x = 0; x < client.right; x += tile.cx) BitBlt(dc, x, top, tile.cx, tile.cy, source, 0, 0, SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
}

void CDlgSettings_v2::ApplyLayout(bool compact, bool moveWindow)
{
    if (compact == compact_) return;
    const HWND dialog = hwnd();
    const bool shown = IsWindowVisible(dialog);
    if (shown) ShowWindow(dialog, SW_HIDE);
    SendMessageW(dialog, WM_SETREDRAW, FALSE, 0);
    const int dx = compact ? -columnsWidth_ : columnsWidth_;
    const int dy = compact ? -dy_ : dy_;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) MoveBy(child, dx, 0);
    for (const int id : kBottomItems) MoveBy(GetDlgItem(dialog, id), 0, dy);
    linksFrame_.MoveVertically(dy);
    layoutFrame_.MoveVertically(dy);
    const int show = compact ? SW_HIDE : SW_SHOWNA;
    for (const int id : kSetupItems) ShowWindow(GetDlgItem(dialog, id), show);
    for (CMixaraLikeStaticFrameAuto* frame : {&asioFrame_, &languageFrame_}) {
        ShowWindow(frame->Frame().hwnd(), show);
        ShowWindow(frame->Title().hwnd(), show);
    }
    compact_ = compact;
    const int width = fullWindow_.right - fullWindow_.left - (compact ? columnsWidth_ : 0);
    const int height = fullWindow_.bottom - fullWindow_.top - (compact ? dy_ : 0);
    RECT window = {};
    GetWindowRect(dialog, &window);
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    if (!moveWindow) flags |= SWP_NOMOVE;
    // The bottom frames stay where they were on the screen.
    SetWindowPos(dialog, nullptr, window.left - dx, window.top - dy, width, height, flags);
    SetTip(IDC_LAYOUT, Text(compact ? kStrAllControls : kStrLevelsOnly));
    SendMessageW(dialog, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(dialog, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
    if (shown) ShowWindow(dialog, SW_SHOWNA);
}

void CDlgSettings_v2::UpdatePageButton()
{
    int inputs = 0, outputs = 0, inputsBefore = 0, outputsBefore = 0;
    for (int i = 0; i < portCount_; ++i) {
        inputs += AsioChannels(ports_[i], false);
        outputs += AsioChannels(ports_[i], true);
        if (i < rows_.firstPort()) {
            inputsBefore += AsioChannels(ports_[i], false);
            outputsBefore += AsioChannels(ports_[i], true);
        }
    }
    const bool paged = compact_ && (inputs > kStripCount || outputs > kStripCount);
    ShowWindow(page_.hwnd(), paged ? SW_SHOWNA : SW_HIDE);
    if (paged) {
        page_.SetCheck(inputsBefore < kStripCount && outputsBefore < kStripCount);
        TurnPage();
    } else if (rows_.firstPort() != 0) {
        rows_.ScrollTo(device_rows::kScrollerTop);
    }
}

void CDlgSettings_v2::TurnPage()
{
    int first = rows_.firstPort();
    if (page_.GetCheck()) {
        first = 0;
    } else {
        int inputs = 0, outputs = 0;
        for (int i = 0; i < portCount_; ++i) {
            inputs += AsioChannels(ports_[i], false);
            outputs += AsioChannels(ports_[i], true);
        }
        // The page starts at the port whose channels no longer fit the first eight strips.
        const bool output = outputs > inputs;
        int sum = 0, counted = 0;
        for (int i = 0; i < portCount_; ++i) {
            const int channels = AsioChannels(ports_[i], output);
            if (channels == 0) continue;
            sum += channels;
            ++counted;
            if (sum > kStripCount - 1) {
                first = counted;
                break;
            }
        }
    }
    rows_.ScrollTo(device_rows::kScrollerTop - device_rows::kScrollerStep * first);
}

void CDlgSettings_v2::Rebuild(bool reset)
{
    rows_.Refresh();
    strips_.Refresh(portCount_, rows_.firstPort(), reset);
    bool inputs = false, outputs = false;
    for (int i = 0; i < portCount_; ++i) {
        inputs = inputs || ports_[i].input.enabled;
        outputs = outputs || ports_[i].output.enabled;
    }
    EnableWindow(GetDlgItem(hwnd(), IDOK), inputs && outputs);
    inputFrame_.SetTitle(ChannelTitle(false));
    outputFrame_.SetTitle(ChannelTitle(true));
    // Strips and rows change state while shown: the frames behind them must not stay on top.
    if (IsWindowVisible(hwnd()))
        RedrawWindow(hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

std::wstring CDlgSettings_v2::ChannelTitle(bool output) const
{
    int count = 0;
    for (int i = 0; i < portCount_; ++i) count += AsioChannels(ports_[i], output);
    const std::wstring plural = Text(output ? kStrAsioOutputs : kStrAsioInputs);
    if (count == 0) return plural;
    return L" " + std::to_wstring(count) + L" " + (count == 1 ? Text(output ? kStrAsioOutput : kStrAsioInput) : plural);
}

std::wstring CDlgSettings_v2::Text(int id) const { return driver_.languages().Text(id); }

int CDlgSettings_v2::StoredLanguage() const
{
    return int(driver_.hostKey().ReadDword(L"Language", kLanguageFrench));
}

bool CDlgSettings_v2::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        KeepOnTop();
        result = FALSE;  // the focus is set here
        return true;
    case WM_ACTIVATE:
        // Back above the host's windows whenever the user comes back to the panel.
        if (LOWORD(wParam) == WA_ACTIVE) KeepOnTop();
        return false;
    case WM_COMMAND:
        if (!strips_.OnCommand(LOWORD(wParam))) OnCommand(LOWORD(wParam), HIWORD(wParam));
        return true;
    case WM_VSCROLL:
        return strips_.OnVScroll(reinterpret_cast<HWND>(lParam), int(short(HIWORD(wParam))));
    case kRebuildMessage:
        Rebuild(wParam == 1);
        return true;
    case WM_SHOWWINDOW:
        // Cancel puts back the monitoring the driver had when the panel appeared.
        if (wParam && lParam == 0) strips_.SaveMonitorFlags();
        return false;
    // From the name field that has the focus: Enter and Tab go on to the next name, Escape
    // leaves the names, as does a click on the background; none of them closes the panel.
    case CEditForModelessDlg::kAcceptMessage:
        if (const HWND next = rows_.NextName(GetFocus())) SetFocus(next);
        return true;
    case CEditForModelessDlg::kEscapeMessage:
    case WM_LBUTTONUP:
        SetFocus(GetDlgItem(hwnd(), IDCANCEL));
        return false;
    case kLanguageChangedMessage:
        rows_.FollowLanguage();
        ApplyTexts();
        rows_.LoadPictures(driver_.knownDevices(), StoredLanguage());
        Rebuild(false);
        InvalidateRect(hwnd(), nullptr, TRUE);
        return true;
    case WM_CTLCOLORDLG:
        result = reinterpret_cast<LRESULT>(background_.get());
        return true;
    case WM_CTLCOLORSTATIC: {
        const HWND control = reinterpret_cast<HWND>(lParam);
        const HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkMode(dc, TRANSPARENT);
        const int id = GetDlgCtrlID(control);
        SetTextColor(dc, id == IDC_VERSION_LINE || id == IDC_RIGHTS ? kLabelColour : RGB(255, 255, 255));
        result = reinterpret_cast<LRESULT>(background_.get());
        return true;
    }
    case WM_TIMER:
        OnTimer(wParam);
        return true;
    case CPanelStrips::kInputFaderHover:
    case CPanelStrips::kOutputFaderHover:
    case CPanelStrips::kInputNumberHover:
    case CPanelStrips::kOutputNumberHover: {
        bool output = false;
        int port = -1, channel = -1;
        if (strips_.ChannelOf(reinterpret_cast<HWND>(lParam), output, port, channel))
            rows_.HighlightChannel(port, !output, channel, wParam == 1);
        return true;
    }
    case device_rows::kHoverMessage:
    case kLinkHoverMessage:
        if (wParam == 1) RelayMouseMove(reinterpret_cast<HWND>(lParam));
        return true;
    case WM_ERASEBKGND:
        EraseBackground(reinterpret_cast<HDC>(wParam));
        result = TRUE;
        return true;
    case WM_SETCURSOR: {
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(wParam));
        if (id != IDC_LOGO && id != IDC_MANUAL_LINK && id != IDC_NEW_VERSION) return false;
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        // The logo's tip shows although the static takes no mouse messages of its own.
        if (id == IDC_LOGO) RelayMouseMove(reinterpret_cast<HWND>(wParam));
        result = TRUE;
        return true;
    }
    case WM_SYSCOMMAND:
        // The dialog has no context help.
        if ((wParam & 0xFFF0) == SC_CONTEXTHELP) return true;
        return false;
    case WM_DESTROY:
        StorePosition();
        strips_.StopMeters();
        KillTimer(hwnd(), kNewVersionTimer);
        KillTimer(hwnd(), kPlaceholderTimer);
        return false;
    default:
        return false;
    }
}

void CDlgSettings_v2::OnInitDialog()
{
    const HWND dialog = hwnd();
    asioFrame_.SubclassDlgItem(dialog, IDC_GROUP_ASIO);
    languageFrame_.SubclassDlgItem(dialog, IDC_GROUP_LANGUAGE);
    asioFrame_.CreateFrame(false);
    languageFrame_.CreateFrame(false);
    inputFrame_.SubclassDlgItem(dialog, IDC_GROUP_INPUTS);
    outputFrame_.SubclassDlgItem(dialog, IDC_GROUP_OUTPUTS);
    inputFrame_.CreateFrame(false);
    outputFrame_.CreateFrame(false);
    linksFrame_.SubclassDlgItem(dialog, IDC_GROUP_LINKS);
    layoutFrame_.SubclassDlgItem(dialog, IDC_GROUP_LAYOUT);
    linksFrame_.CreateFrame(false);
    layoutFrame_.CreateFrame(false);
    layout_.SubclassDlgItem(dialog, IDC_LAYOUT);
    layout_.SetBitmaps(kLayoutFull, kLayoutCompact, kLayoutGrey);
    layout_.SetNotifyTarget(dialog, device_rows::kHoverMessage);
    page_.SubclassDlgItem(dialog, IDC_PAGE);
    page_.SetBitmaps(kPageFirst, kPageSecond, kPageGrey);
    page_.SetNotifyTarget(dialog, device_rows::kHoverMessage);
    const RECT outputs = RectInParent(GetDlgItem(dialog, IDC_GROUP_OUTPUTS));
    SetWindowPos(page_.hwnd(), nullptr, outputs.right - kPageWidth, outputs.top - kPageAbove, kPageWidth, kPageHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_HIDEWINDOW);
    SendDlgItemMessageW(dialog, IDC_LAYOUT_PICTURE, STM_SETIMAGE, IMAGE_BITMAP,
                        reinterpret_cast<LPARAM>(LoadBitmapW(ThisModule(), MAKEINTRESOURCEW(3069))));
    SendDlgItemMessageW(dialog, IDC_LOGO, STM_SETIMAGE, IMAGE_BITMAP,
                        reinterpret_cast<LPARAM>(LoadBitmapW(ThisModule(), MAKEINTRESOURCEW(7067))));
    band_ = LoadControlBitmap(3072);
    LOGFONTW face = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof(face), &face);
    face.lfWeight = FW_BOLD;
    boldFont_ = UniqueFont(CreateFontIndirectW(&face));
    ShowWindow(GetDlgItem(dialog, IDC_NEW_VERSION), SW_HIDE);
    ShowWindow(GetDlgItem(dialog, IDC_NEW_VERSION_TEXT), SW_HIDE);
    strips_.Create(dialog, GetDlgItem(dialog, IDC_GROUP_INPUTS), GetDlgItem(dialog, IDC_GROUP_OUTPUTS));
    RECT units = {0, 0, 4, 0};
    MapDialogRect(dialog, &units);
    columnsWidth_ = MulDiv(kColumnsWidth, units.right, kReferenceUnitsWidth);
    // The device rows take the columns left of the strips.
    RECT rowsArea = {4, 18, 300, 254};
    MapDialogRect(dialog, &rowsArea);
    // Within the columns the compact layout leaves out, whatever the font.
    rowsArea.right = std::min<LONG>(rowsArea.right, columnsWidth_ - rowsArea.left);
    rows_.Create(dialog, rowsArea);
    CreateRowFrames(rowsArea);
    CreateSetupLabels();
    rows_.LoadPictures(driver_.knownDevices(), StoredLanguage());
    rows_.SetWorkingCopy(ports_.get(), portCount_, 0);
    const HICON icon = LoadIconW(ThisModule(), MAKEINTRESOURCEW(6995));
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

    AddComboItem(GetDlgItem(dialog, IDC_FORMAT), L"16 bits", ASIOSTInt16LSB);
    AddComboItem(GetDlgItem(dialog, IDC_FORMAT), L"32 bits", ASIOSTInt32LSB);
    SelectFormat(settings_.sampleType);
    CreateTooltip();
    ApplyTexts();
    FillBufferSizes(settings_.preferredBufferSize);
    UpdatePlaceholder();
    Rebuild(true);
    const CSettingsKey& key = driver_.hostKey();
    const uint32_t tips = key.ReadDword(L"ShowToolTips", 1);
    key.WriteDword(L"ShowToolTips", tips);
    SendMessageW(tooltip_, TTM_ACTIVATE, tips != 0, 0);
    PlaceWindow();
    GetWindowRect(dialog, &fullWindow_);
    dy_ = RectInParent(GetDlgItem(dialog, IDC_GROUP_LINKS)).top - RectInParent(GetDlgItem(dialog, IDC_GROUP_ASIO)).top;
    const uint32_t compact = key.ReadDword(L"DlgSetupShowOnlyLevelControl", 0);
    key.WriteDword(L"DlgSetupShowOnlyLevelControl", compact);
    layout_.SetCheck(compact == 0);
    ApplyLayout(compact != 0, false);
    UpdatePageButton();
    ShowNewVersion(newVersion_);
    SetFocus(GetDlgItem(dialog, IDCANCEL));
}

void CDlgSettings_v2::CreateRowFrames(const RECT& rowsArea)
{
    const HWND dialog = hwnd();
    const auto at = [dialog](int id) { return RectInParent(GetDlgItem(dialog, id)); };
    // Level with the language frame, the titles above the first row.
    const LONG top = at(IDC_GROUP_LANGUAGE).top, bottom = rowsArea.bottom + 4;
    const struct {
        CMixaraLikeStaticFrameAuto& frame;
        int id;
        LONG left, right;
    } columns[] = {
        {interfacesFrame_, IDC_GROUP_INTERFACES, at(device_rows::kScroller).left - 2, at(device_rows::kPicture).right + 2},
        {physicalInputsFrame_, IDC_GROUP_PHYSICAL_INPUTS, at(device_rows::kToggleIn).left - 2,
         at(device_rows::kMarkerIn + 1).right + 2},
        {physicalOutputsFrame_, IDC_GROUP_PHYSICAL_OUTPUTS, at(device_rows::kToggleOut).left - 2,
         at(device_rows::kMarkerOut + 1).right + 2},
    };
    for (const auto& column : columns) {
        const HWND placeholder = GetDlgItem(dialog, column.id);
        SetWindowPos(placeholder, nullptr, column.left, top, column.right - column.left, bottom - top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        column.frame.SubclassDlgItem(dialog, column.id);
        column.frame.CreateFrame(false);
        // Under the rows, and kept from painting over them: the pictures clip themselves against
        // every sibling above them.
        const HWND frame = column.frame.Frame().hwnd();
        SetWindowLongPtrW(frame, GWL_STYLE, GetWindowLongPtrW(frame, GWL_STYLE) | WS_CLIPSIBLINGS);
        for (const HWND window : {frame, column.frame.Title().hwnd(), frame})
            SetWindowPos(window, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

void CDlgSettings_v2::CreateSetupLabels()
{
    const HWND dialog = hwnd();
    formatLabel_.SubclassDlgItem(dialog, IDC_FORMAT_LABEL);
    bufferLabel_.SubclassDlgItem(dialog, IDC_BUFFER_LABEL);
    format_.SubclassDlgItem(dialog, IDC_FORMAT);
    bufferSize_.SubclassDlgItem(dialog, IDC_BUFFER_SIZE);
    for (CColorStatic* label : {&formatLabel_, &bufferLabel_}) {
        label->BuildNormalFace(RGB(255, 255, 255));
        label->BuildHoverFace(kPanelHoverLeftCap);
    }
    LinkBuddies(formatLabel_, format_);
    LinkBuddies(bufferLabel_, bufferSize_);
    manualLink_.SubclassDlgItem(dialog, IDC_MANUAL_LINK);
    manualLink_.BuildNormalFace(kLabelColour);
    manualLink_.BuildHoverFace(kPanelHoverLeftCap);
}

void CDlgSettings_v2::CreateTooltip()
{
    // Subclassing tools: a modeless dialog in a DLL sees none of the host loop's messages.
    tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd(), nullptr, ThisModule(), nullptr);
    SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 32767);
    rows_.SetMainTooltip(tooltip_);
}

void CDlgSettings_v2::RelayMouseMove(HWND control)
{
    if (!tooltip_ || !control) return;
    MSG move = {};
    GetCursorPos(&move.pt);
    POINT at = move.pt;
    ScreenToClient(control, &at);
    move.hwnd = control;
    move.message = WM_MOUSEMOVE;
    move.lParam = MAKELPARAM(at.x, at.y);
    move.time = GetMessageTime();
    SendMessageW(tooltip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&move));
}

void CDlgSettings_v2::SetTip(int id, const std::wstring& text)
{
    const HWND control = GetDlgItem(hwnd(), id);
    if (!tooltip_ || !control) return;
    TOOLINFOW tool = {};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd();
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    SendMessageW(tooltip_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    tool.lpszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void CDlgSettings_v2::SelectFormat(int sampleType)
{
    const HWND combo = GetDlgItem(hwnd(), IDC_FORMAT);
    if (!SelectComboValue(combo, sampleType)) SendMessageW(combo, CB_SETCURSEL, 0, 0);
}

void CDlgSettings_v2::FillBufferSizes(int frames)
{
    const HWND combo = GetDlgItem(hwnd(), IDC_BUFFER_SIZE);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    const std::wstring samples = Text(kStrSamples);
    for (const int size : kBufferSizes) AddComboItem(combo, std::to_wstring(size) + L" " + samples, size);
    // A size outside the list selects the first entry.
    if (!SelectComboValue(combo, frames)) SendMessageW(combo, CB_SETCURSEL, 0, 0);
}

void CDlgSettings_v2::ApplyTexts()
{
    const HWND dialog = hwnd();
    std::wstring title = Text(kStrPanelTitle);
    std::wstring host = driver_.defaultKey().ReadString(L"SpecialHostName");
    if (host.empty()) host = driver_.hostKey().hostName();
    if (!host.empty()) title += L" (" + host + L")";
    SetWindowTextW(dialog, title.c_str());

    SetDlgItemTextW(dialog, IDC_MANUAL_LINK, Text(kStrOnlineManual).c_str());
    const std::wstring version = ReadProductVersion(ThisModule());
    SetDlgItemTextW(dialog, IDC_VERSION_LINE, (Substituted(Text(kStrVersionLine), version) + L" (x64)").c_str());
    SetDlgItemTextW(dialog, IDC_FORMAT_LABEL, Text(kStrFormat).c_str());
    SetDlgItemTextW(dialog, IDC_BUFFER_LABEL, Text(kStrBufferSize).c_str());
    SetDlgItemTextW(dialog, IDC_REFRESH, Text(kStrRefreshInterfaces).c_str());
    SetDlgItemTextW(dialog, IDC_OTHER_DEVICES, Text(kStrOtherDevices).c_str());
    SetDlgItemTextW(dialog, IDCANCEL, Text(kStrCancel).c_str());
    asioFrame_.SetTitle(Text(kStrAsioSettings));
    languageFrame_.SetTitle(Text(kStrLanguage));
    interfacesFrame_.SetTitle(Text(kStrInterfaces));
    physicalInputsFrame_.SetTitle(Text(kStrPhysicalInputs));
    physicalOutputsFrame_.SetTitle(Text(kStrPhysicalOutputs));
    SetDlgItemTextW(dialog, IDC_RIGHTS, L"\u00a9 Veloran");
    if (!newVersion_.empty())
        SetDlgItemTextW(dialog, IDC_NEW_VERSION, Substituted(Text(kStrNewVersion), newVersion_).c_str());

    SetTip(IDC_LOGO, L"http://" + ChooseUpdateServer(driver_.defaultKey()).host);
    SetTip(IDC_LAYOUT, Text(compact_ ? kStrAllControls : kStrLevelsOnly));
    SetTip(IDC_PAGE, Text(kStrOtherChannels));
    for (int r = 0; r < device_rows::kRows; ++r) {
        SetTip(device_rows::kArrowUp + r, Text(kStrMoveUp));
        SetTip(device_rows::kArrowDown + r, Text(kStrMoveDown));
    }
    for (int k = 0; k < kStripCount; ++k) {
        SetTip(CPanelStrips::kDcButton + k, Text(kStrDcRemoval));
        SetTip(CPanelStrips::kMonitorButton + k, Text(kStrMonitoring));
    }
    for (int j = 0; j < kStripCount / 2; ++j) SetTip(CPanelStrips::kLinkButton + j, Text(kStrLinked));

    // The list keeps its selection across a refill of the sizes in the new language.
    const HWND sizes = GetDlgItem(dialog, IDC_BUFFER_SIZE);
    const int frames = SelectedComboValue(sizes);
    FillBufferSizes(frames > 0 ? frames : settings_.preferredBufferSize);

    const HWND language = GetDlgItem(dialog, IDC_LANGUAGE);
    SendMessageW(language, CB_RESETCONTENT, 0, 0);
    AddComboItem(language, L"Fran\u00e7ais", kLanguageFrench);
    AddComboItem(language, L"English", kLanguageEnglish);
    if (!SelectComboValue(language, StoredLanguage())) SendMessageW(language, CB_SETCURSEL, 0, 0);
}

void CDlgSettings_v2::OnCommand(int id, int code)
{
    const UpdateServer server = ChooseUpdateServer(driver_.defaultKey());
    switch (id) {
    case IDOK: OnOk(); break;
    case IDCANCEL: OnCancel(); break;
    case IDC_REFRESH: owner_.Rescan(); break;
    case IDC_OTHER_DEVICES: ChooseOtherDevices(); break;
    case IDC_LANGUAGE:
        if (code == CBN_SELCHANGE) ChooseLanguage();
        break;
    case IDC_VERSION_LINE:
    case IDC_NEW_VERSION:
    case IDC_NEW_VERSION_TEXT:
        if (code == STN_CLICKED) OpenDriverPage(server, true, LinkLanguage(driver_.hostKey()));
        break;
    case IDC_LOGO:
        if (code == STN_CLICKED) OpenDriverPage(server, false, LinkLanguage(driver_.hostKey()));
        break;
    case IDC_LAYOUT: {
        const bool compact = !layout_.GetCheck();
        ApplyLayout(compact, true);
        driver_.hostKey().WriteDword(L"DlgSetupShowOnlyLevelControl", compact ? 1 : 0);
        UpdatePageButton();
        RelayMouseMove(layout_.hwnd());
        break;
    }
    case IDC_PAGE: TurnPage(); break;
    case IDC_MANUAL_LINK:
        if (code == STN_CLICKED)
            OpenManual(server, ReadProductVersion(ThisModule()), LinkLanguage(driver_.hostKey()));
        break;
    default: break;
    }
}

void CDlgSettings_v2::ChooseLanguage()
{
    const int chosen = SelectedComboValue(GetDlgItem(hwnd(), IDC_LANGUAGE));
    SetFocus(GetDlgItem(hwnd(), IDOK));
    if (chosen < 0 || chosen == StoredLanguage()) return;
    driver_.hostKey().WriteDword(L"Language", uint32_t(chosen));
    PostMessageW(hwnd(), kLanguageChangedMessage, 0, 0);
}

void CDlgSettings_v2::OnOk()
{
    const int format = SelectedComboValue(GetDlgItem(hwnd(), IDC_FORMAT));
    if (format >= 0) settings_.sampleType = format;
    // With no selection the size stays what it was rather than becoming 0.
    const int frames = SelectedComboValue(GetDlgItem(hwnd(), IDC_BUFFER_SIZE));
    if (frames > 0) settings_.preferredBufferSize = frames;
    strips_.StopMeters();
    Hide();
    const bool devicesChanged = StoreDeviceChoice();
    owner_.PanelClosed(*this);
    // A driver without buffers has built its ports for the new choice already.
    if (devicesChanged) ReloadFromDriver();
}

void CDlgSettings_v2::ChooseOtherDevices()
{
    const CSettingsStore& store = driver_.settingsStore();
    DeviceChoice choice;
    if (deviceChoice_) {
        choice = *deviceChoice_;
    } else {
        for (const OtherDevice& device : store.OtherDevices()) choice.entries.push_back(FormatOtherDevice(device));
        choice.useDefaultDevices = store.UseDefaultDevices() != 0;
        choice.clockSync = store.ClockSyncStored() ? store.ClockSync() : -1;
    }
    std::vector<EndpointDescription> endpoints;
    // Left out: the endpoints of the family's interfaces, and those the driver's own ports carry.
    std::vector<std::wstring> taken, clocks;
    {
        CDeviceAccess access(driver_.platform(), settings_.endpointShareMode);
        access.ListAllEndpoints(endpoints);
        for (const EndpointDescription& endpoint : endpoints) {
            std::wstring model, hub;
            int row = -1, nonOptimal = 0;
            if (!endpoint.interfacePath.empty() &&
                access.IdentifyDevice(endpoint.interfacePath, driver_.knownDevices(), model, row, nonOptimal, hub))
                taken.push_back(endpoint.id);
        }
    }
    for (int i = 0; i < driver_.portCount(); ++i) {
        const _sPort& port = driver_.ports()[i];
        if (port.otherDevice) continue;
        taken.push_back(port.capturePath);
        taken.push_back(port.renderPath);
        clocks.push_back(ClockOf(endpoints, port.capturePath));
    }
    CDlgOtherDevices dialog(driver_.languages(), endpoints, taken, std::move(clocks), choice);
    if (dialog.Run(ThisModule(), hwnd())) deviceChoice_ = dialog.choice();
}

bool CDlgSettings_v2::StoreDeviceChoice()
{
    if (!deviceChoice_) return false;
    const DeviceChoice choice = *deviceChoice_;
    deviceChoice_.reset();
    const CSettingsStore& store = driver_.settingsStore();
    bool changed = false;
    std::vector<std::wstring> stored;
    for (const OtherDevice& device : store.OtherDevices()) stored.push_back(FormatOtherDevice(device));
    if (choice.entries != stored) {
        store.WriteOtherDevices(choice.entries);
        changed = true;
    }
    if (choice.useDefaultDevices != (store.UseDefaultDevices() != 0)) {
        store.WriteUseDefaultDevices(choice.useDefaultDevices ? 1 : 0);
        changed = true;
    }
    if (choice.clockSync >= 0 && (!store.ClockSyncStored() || store.ClockSync() != choice.clockSync)) {
        store.WriteClockSync(choice.clockSync == 1);
        changed = true;
    }
    if (changed) driver_.DeviceChoiceStored();
    return changed;
}

void CDlgSettings_v2::OnCancel()
{
    deviceChoice_.reset();
    strips_.RestoreDriver();
    strips_.StopMeters();
    Hide();
    ReloadFromDriver();
    owner_.PanelCancelled();
}

void CDlgSettings_v2::KeepOnTop()
{
    SetWindowPos(hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void CDlgSettings_v2::PlaceWindow()
{
    const CSettingsKey& key = driver_.hostKey();
    const int x = int(key.ReadDword(L"DlgSetupPos_X", uint32_t(kPositionUnset)));
    const int y = int(key.ReadDword(L"DlgSetupPos_Y", uint32_t(kPositionUnset)));
    RECT window = {};
    GetWindowRect(hwnd(), &window);
    const int width = window.right - window.left, height = window.bottom - window.top;
    POINT at = {x, y};
    // The nearest monitor's work area holds the panel, so that a stored position from another
    // screen layout cannot put it out of sight.
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromPoint(x == kPositionUnset || y == kPositionUnset ? POINT{0, 0} : at,
                                     MONITOR_DEFAULTTONEAREST),
                    &monitor);
    const RECT& area = monitor.rcWork;
    if (x == kPositionUnset || y == kPositionUnset)
        at = {area.left + (area.right - area.left - width) / 2, area.top + (area.bottom - area.top - height) / 2};
    at.x = std::clamp<LONG>(at.x, area.left, std::max<LONG>(area.left, area.right - width));
    at.y = std::clamp<LONG>(at.y, area.top, std::max<LONG>(area.top, area.bottom - height));
    SetWindowPos(hwnd(), nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CDlgSettings_v2::StorePosition()
{
    RECT window = {};
    if (!GetWindowRect(hwnd(), &window)) return;
    driver_.hostKey().WriteDword(L"DlgSetupPos_X", uint32_t(window.left));
    driver_.hostKey().WriteDword(L"DlgSetupPos_Y", uint32_t(window.top));
}
