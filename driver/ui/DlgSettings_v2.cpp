#include "DlgSettings_v2.h"

#include "Languages.h"
#include "SettingsDialogIds.h"
#include "UpdateCheck.h"
#include "WebLinks.h"

#include "../core/Mordane.h"

#include <controls/ComboItems.h>

#include <algorithm>
#include <cwchar>
#include <new>

namespace {

constexpr int kBufferSizes[] = {128, 256, 512, 1024};
constexpr int kFormatItems[] = {ASIOSTInt16LSB, ASIOSTInt32LSB};
constexpr int kPositionUnset = -1;
// Channel group titles: the plural (also alone, without channels) and the singular.
constexpr int kStrAsioInputs = 213, kStrAsioOutputs = 214, kStrAsioInput = 267, kStrAsioOutput = 268;

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
    // The rows keep the first port they show.
    if (hwnd()) rows_.SetWorkingCopy(ports_.get(), portCount_, rows_.firstPort());
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
    const PortInventory& inventory = driver_.inventory();
    for (size_t i = 0; i < inventory.interfacePaths.size() && i < inventory.interfaceRows.size(); ++i)
        if (inventory.interfacePaths[i] == port.capturePath) return int(inventory.interfaceRows[i]);
    return -1;
}

void CDlgSettings_v2::ReloadFromDriver()
{
    LoadWorkingCopy();
    if (!hwnd()) return;
    SelectFormat(settings_.sampleType);
    FillBufferSizes(settings_.preferredBufferSize);
    Rebuild(true);
}

void CDlgSettings_v2::Rebuild(bool reset)
{
    rows_.Refresh();
    strips_.Refresh(portCount_, rows_.firstPort(), reset);
    inputFrame_.SetTitle(ChannelTitle(false));
    outputFrame_.SetTitle(ChannelTitle(true));
}

std::wstring CDlgSettings_v2::ChannelTitle(bool output) const
{
    int count = 0;
    for (int i = 0; i < portCount_; ++i) {
        const _sPort& port = ports_[i];
        if (output && port.output.enabled) count += port.outputFormat.channels;
        if (!output && port.input.enabled)
            count += port.inputFormat.channels == 1 && port.input.monoToStereo ? 2 : port.inputFormat.channels;
    }
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
        result = FALSE;  // the focus is set here
        return true;
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
    case kLanguageChangedMessage:
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
        SetTextColor(dc, id == IDC_VERSION_LINE || id == IDC_MANUAL_LINK ? kLabelColour : RGB(255, 255, 255));
        result = reinterpret_cast<LRESULT>(background_.get());
        return true;
    }
    case WM_SYSCOMMAND:
        // The dialog has no context help.
        if ((wParam & 0xFFF0) == SC_CONTEXTHELP) return true;
        return false;
    case WM_DESTROY:
        StorePosition();
        strips_.StopMeters();
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
    strips_.Create(dialog, GetDlgItem(dialog, IDC_GROUP_INPUTS), GetDlgItem(dialog, IDC_GROUP_OUTPUTS));
    // The device rows take the columns left of the strips.
    RECT rowsArea = {4, 4, 300, 218};
    MapDialogRect(dialog, &rowsArea);
    rows_.Create(dialog, rowsArea);
    rows_.LoadPictures(driver_.knownDevices(), StoredLanguage());
    rows_.SetWorkingCopy(ports_.get(), portCount_, 0);
    const HICON icon = LoadIconW(ThisModule(), MAKEINTRESOURCEW(6995));
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

    AddComboItem(GetDlgItem(dialog, IDC_FORMAT), L"16 bits", ASIOSTInt16LSB);
    AddComboItem(GetDlgItem(dialog, IDC_FORMAT), L"32 bits", ASIOSTInt32LSB);
    SelectFormat(settings_.sampleType);
    ApplyTexts();
    FillBufferSizes(settings_.preferredBufferSize);
    Rebuild(true);
    PlaceWindow();
    SetFocus(GetDlgItem(dialog, IDCANCEL));
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
    SetDlgItemTextW(dialog, IDCANCEL, Text(kStrCancel).c_str());
    asioFrame_.SetTitle(Text(kStrAsioSettings));
    languageFrame_.SetTitle(Text(kStrLanguage));

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
    case IDC_LANGUAGE:
        if (code == CBN_SELCHANGE) ChooseLanguage();
        break;
    case IDC_VERSION_LINE:
        if (code == STN_CLICKED) OpenDriverPage(server, true, LinkLanguage(driver_.hostKey()));
        break;
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
    owner_.PanelClosed(*this);
}

void CDlgSettings_v2::OnCancel()
{
    strips_.RestoreDriver();
    strips_.StopMeters();
    Hide();
    ReloadFromDriver();
    owner_.PanelCancelled();
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
