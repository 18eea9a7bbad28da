#include "QuilletDlg.h"

#include "AudioFileCheck.h"
#include <controls/ComboItems.h>
#include "CpuUsage.h"
#include "FolderBrowser.h"
#include "HostStrings.h"
#include "PlaySources.h"
#include "ResourceIds.h"

#include <veloran/ProductVersion.h>

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <iterator>

namespace {

// The driver's private message; it asks whether the system's default devices may be used.
constexpr wchar_t kPrivateMessageName[] = L"KWTRB352";
constexpr wchar_t kMakerSite[] = L"www.veloran.com";
constexpr wchar_t kMakerPageFormat[] = L"https://www.veloran.com/index.php?veloran_asio_driver=1&lang=%d";

constexpr UINT_PTR kCpuTimer = 256;
constexpr UINT kCpuPeriodMs = 500;
constexpr UINT_PTR kMonitorBlinkTimer = 257;
constexpr UINT_PTR kPlayBlinkTimer = 258;
constexpr UINT_PTR kRecordBlinkTimer = 259;

constexpr COLORREF kSkinBlue = RGB(58, 87, 115);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kFolderLabelText = RGB(184, 200, 217);
constexpr COLORREF kFolderBackground = RGB(45, 78, 109);
constexpr COLORREF kFolderText = RGB(133, 151, 169);

constexpr int kRateEntries[] = {44100, 48000};

enum FrameIndex { kMainFrame, kInputsFrame, kOutputsFrame, kMonitorFrame, kPlayFrame, kRecordFrame, kSettingsFrame };
constexpr int kFrameIds[] = {IDC_MAIN_FRAME,    IDC_INPUTS_FRAME, IDC_OUTPUTS_FRAME, IDC_MONITOR_FRAME,
                             IDC_PLAY_FRAME,    IDC_RECORD_FRAME, IDC_SETTINGS_FRAME};

// The module that holds this code and its resources.
HINSTANCE OwnModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&OwnModule), &module);
    return module;
}

bool KeyboardKeyDown(int virtualKey) { return (GetAsyncKeyState(virtualKey) & 0x8000) != 0; }

void Redraw(HWND window)
{
    InvalidateRect(window, nullptr, TRUE);
    UpdateWindow(window);
}

}  // namespace

CQuilletDlg::CQuilletDlg(const StartupOptions& options, DriverFactory factory)
    : options_(options),
      factory_(std::move(factory)),
      module_(OwnModule()),
      keyDown_(KeyboardKeyDown),
      hand_(LoadCursorW(module_, MAKEINTRESOURCEW(IDC_HAND_CURSOR))),
      icon_(LoadIconW(module_, MAKEINTRESOURCEW(IDI_QUILLET))),
      smallIcon_(static_cast<HICON>(LoadImageW(module_, MAKEINTRESOURCEW(IDI_QUILLET), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                               LR_SHARED))),
      background_(module_, IDB_BAND),
      engine_(module_),
      monitorButton_(IDB_MONITOR, kMonitorBlinkTimer),
      playButton_(IDB_PLAY, kPlayBlinkTimer),
      recordButton_(IDB_RECORD, kRecordBlinkTimer),
      rows_(frames_[kInputsFrame], frames_[kOutputsFrame]),
      layout_(frames_[kMonitorFrame], {&frames_[kPlayFrame], &frames_[kRecordFrame], &frames_[kSettingsFrame]},
              {IDC_MONITOR_MODE, IDC_MONITOR_BUTTON, IDC_PLAY_SOURCE, IDC_PLAY_BUTTON, IDC_RECORD_MODE,
               IDC_RECORD_BUTTON, IDC_FOLDER_LABEL, IDC_FOLDER_TEXT, IDC_FOLDER_BUTTON, IDC_RATE_LABEL, IDC_RATE,
               IDC_BUFFER_LABEL, IDC_BUFFER_SIZE, IDC_CPU_LABEL, IDC_CPU_BAR, IDC_CPU_TEXT, IDCANCEL},
              IDCANCEL)
{
}

CQuilletDlg::~CQuilletDlg()
{
    // Destroyed while every member still exists.
    if (hwnd() && !Modal()) DestroyWindow(hwnd());
}

INT_PTR CQuilletDlg::DoModal(HWND parent) { return RunModal(module_, IDD_QUILLET, parent); }

HWND CQuilletDlg::Create(HWND parent)
{
    HWND window = CreateModeless(module_, IDD_QUILLET, parent);
    if (window) ShowWindow(window, SW_SHOW);
    return window;
}

// ---- messages

bool CQuilletDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (privateMessage_ && message == privateMessage_) {
        result = PrivateMessageReply(options_);
        return true;
    }
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        result = TRUE;
        return true;
    case kHostStartupMessage:
        OnStartup();
        return true;
    case kHostResetMessage:
        RestartAsio(-1);
        return true;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return true;
    case WM_TIMER:
        OnTimer(wParam);
        return true;
    case WM_SETCURSOR:
        if (!OnSetCursor(reinterpret_cast<HWND>(wParam))) return false;
        result = TRUE;
        return true;
    case WM_ERASEBKGND:
        background_.Erase(hwnd(), reinterpret_cast<HDC>(wParam));
        rows_.DrawCurves(reinterpret_cast<HDC>(wParam), engine_);
        result = 1;
        return true;
    case WM_PAINT:
        if (!IsIconic(hwnd())) return false;
        background_.PaintIcon(hwnd(), icon_);
        return true;
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<LRESULT>(icon_);
        return true;
    case WM_WINDOWPOSCHANGING:
        if (hidden_) reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
        return false;
    case WM_DESTROY:
        OnDestroy();
        return true;
    default:
        return false;
    }
}

void CQuilletDlg::OnInitDialog()
{
    BindControls();
    privateMessage_ = RegisterWindowMessageW(kPrivateMessageName);
    // The driver asks during init, which comes later: the chord is final before the question.
    ReadKeyChord();
    host_ = std::make_unique<CAsioHost>(hwnd(), engine_, factory_);

    tooltips_.Create(hwnd());
    tooltips_.Set(GetDlgItem(hwnd(), IDC_LOGO), kMakerSite);
    SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_ ? smallIcon_ : icon_));

    background_.BuildBand(hwnd());
    for (CMixaraLikeStaticFrameAuto& frame : frames_) frame.CreateFrame(false);
    ApplyColoursAndImages();

    LinkBuddies(rateLabel_, rate_);
    LinkBuddies(bufferLabel_, bufferSize_);
    for (int rate : kRateEntries) AddComboItem(rate_.hwnd(), std::to_wstring(rate) + L" Hz", rate);

    settings_ = LoadDialogSettings(hwnd());
    if (!hidden_) SaveDialogSettings(settings_);
    SendMessageW(rate_.hwnd(), CB_SETCURSEL, settings_.lastSampleRate == 44100 ? 0 : 1, 0);
    currentRate_ = ChosenRate();

    rows_.SetToggleImages();
    SendDlgItemMessageW(hwnd(), IDC_CPU_BAR, PBM_SETRANGE32, 0, 100);
    SendDlgItemMessageW(hwnd(), IDC_CPU_BAR, PBM_SETPOS, 0, 0);
    SetDlgItemTextW(hwnd(), IDC_CPU_TEXT, L"0 %");

    ApplyTexts();
    SelectComboValue(bufferSize_.hwnd(), kDefaultBufferSize);
    rows_.HideAll();
    rows_.Reset(engine_);
    UpdateButtonState(Mode::Monitoring);
    PostMessageW(hwnd(), kHostStartupMessage, 0, 0);
}

void CQuilletDlg::BindControls()
{
    HWND dialog = hwnd();
    rows_.Attach(dialog);
    for (size_t k = 0; k < frames_.size(); ++k) frames_[k].SubclassDlgItem(dialog, kFrameIds[k]);
    const std::pair<CSubclassedWindow*, int> controls[] = {
        {&explanation_, IDC_EXPLANATION},   {&hardwareLabel_, IDC_HARDWARE_LABEL}, {&hardwareText_, IDC_HARDWARE_TEXT},
        {&folderLabel_, IDC_FOLDER_LABEL},  {&folderText_, IDC_FOLDER_TEXT},       {&rateLabel_, IDC_RATE_LABEL},
        {&bufferLabel_, IDC_BUFFER_LABEL},  {&monitorMode_, IDC_MONITOR_MODE},     {&playSource_, IDC_PLAY_SOURCE},
        {&recordMode_, IDC_RECORD_MODE},    {&rate_, IDC_RATE},                    {&bufferSize_, IDC_BUFFER_SIZE},
        {&panelButton_, IDC_PANEL_BUTTON},  {&folderButton_, IDC_FOLDER_BUTTON},   {&monitorButton_, IDC_MONITOR_BUTTON},
        {&playButton_, IDC_PLAY_BUTTON},    {&recordButton_, IDC_RECORD_BUTTON},
    };
    for (const auto& [control, id] : controls) control->SubclassDlgItem(dialog, id);
}

void CQuilletDlg::ReadKeyChord()
{
    if (!keyDown_(VK_CONTROL) || !keyDown_(VK_SHIFT)) return;
    // Only sets a flag: what the command line set stays.
    if (keyDown_(VK_LMENU))
        options_.defaultDevicesOnly = true;
    else
        options_.defaultDevicesAllowed = true;
}

void CQuilletDlg::ApplyColoursAndImages()
{
    for (CColorStatic* text : {&explanation_, &hardwareLabel_, &hardwareText_}) {
        text->SetBackgroundColour(kSkinBlue);
        text->SetTextColour(kWhite, false);
    }
    folderLabel_.SetBackgroundColour(kSkinBlue);
    folderLabel_.SetTextColour(kFolderLabelText, false);
    folderText_.SetBackgroundColour(kFolderBackground);
    folderText_.SetTextColour(kFolderText, false);
    for (CColorStatic* label : {&rateLabel_, &bufferLabel_}) {
        label->BuildNormalFace();
        label->BuildHoverFace(kTestHostHoverLeftCap);
    }

    for (CModeButton* button : {&monitorButton_, &playButton_, &recordButton_}) button->ShowMode(false);
    folderButton_.SetBitmaps(IDB_FOLDER, IDB_FOLDER, IDB_FOLDER_GREY);
    panelButton_.SetBitmaps(IDB_PANEL_OPENING, IDB_PANEL_OPENING, IDB_PANEL_OPENING);
    // Action buttons: a click asks, it does not toggle.
    folderButton_.SetAutoToggle(false);
    panelButton_.SetAutoToggle(false);
}

void CQuilletDlg::ApplyTexts()
{
    const int language = options_.language;
    auto text = [language](int id) { return HostText(id, language); };
    HWND dialog = hwnd();

    const std::wstring title = text(kHostStrTitle);
    frames_[kMainFrame].SetTitle(title);
    SetWindowTextW(dialog, (title + L" (v. " + ModuleProductVersion(GetModuleHandleW(nullptr)) + L")").c_str());

    SetDlgItemTextW(dialog, IDC_EXPLANATION, text(kHostStrExplanation).c_str());
    SetDlgItemTextW(dialog, IDC_HARDWARE_LABEL, text(kHostStrHardware).c_str());
    frames_[kInputsFrame].SetTitle(text(kHostStrInputs));
    frames_[kOutputsFrame].SetTitle(text(kHostStrOutputs));
    frames_[kMonitorFrame].SetTitle(text(kHostStrMonitoringFrame));
    frames_[kPlayFrame].SetTitle(text(kHostStrPlayTest));
    frames_[kRecordFrame].SetTitle(text(kHostStrRecordTest));
    frames_[kSettingsFrame].SetTitle(text(kHostStrTestSettings));
    SetDlgItemTextW(dialog, IDCANCEL, text(kHostStrClose).c_str());
    SetDlgItemTextW(dialog, IDC_CPU_LABEL, text(kHostStrProcessorUsage).c_str());
    SetDlgItemTextW(dialog, IDC_HARDWARE_TEXT, L"");
    SetDlgItemTextW(dialog, IDC_UNUSED_1058, L"");

    RefillPlaySources();

    SetDlgItemTextW(dialog, IDC_BUFFER_LABEL, text(kHostStrBufferSize).c_str());
    SetDlgItemTextW(dialog, IDC_RATE_LABEL, text(kHostStrSampleRate).c_str());
    SendMessageW(bufferSize_.hwnd(), CB_RESETCONTENT, 0, 0);
    for (int size : kOfferedBufferSizes)
        AddComboItem(bufferSize_.hwnd(), std::to_wstring(size) + L" " + text(kHostStrSamples), size);
    SelectComboValue(bufferSize_.hwnd(), kDefaultBufferSize);

    SetDlgItemTextW(dialog, IDC_FOLDER_LABEL, text(kHostStrRecordFolder).c_str());
    SetDlgItemTextW(dialog, IDC_FOLDER_TEXT, settings_.recordFolder.c_str());

    SendMessageW(monitorMode_.hwnd(), CB_RESETCONTENT, 0, 0);
    AddComboItem(monitorMode_.hwnd(), text(kHostStrMonitoringInactive), 0);
    AddComboItem(monitorMode_.hwnd(), text(kHostStrMonitoringActive), 1);
    SendMessageW(monitorMode_.hwnd(), CB_SETCURSEL, 0, 0);

    SendMessageW(recordMode_.hwnd(), CB_RESETCONTENT, 0, 0);
    AddComboItem(recordMode_.hwnd(), text(kHostStrRecordStereo), 0);
    AddComboItem(recordMode_.hwnd(), text(kHostStrRecordPerInput), 1);
    SendMessageW(recordMode_.hwnd(), CB_SETCURSEL, settings_.recordStereo ? 0 : 1, 0);

    tooltips_.Set(panelButton_.hwnd(), text(kHostStrControlPanel));
    tooltips_.Set(folderButton_.hwnd(), text(kHostStrBrowse));
    UpdateStateTooltips();
}

void CQuilletDlg::OnStartup()
{
    Redraw(hwnd());
    LoadDriver(-1);
    BuildChannelRows();
    StartAsio();
    SetTimer(hwnd(), kCpuTimer, kCpuPeriodMs, nullptr);
    RepaintChannelArea();
    SetFocus(hwnd());
    if (started_) started_();
}

void CQuilletDlg::OnCommand(int id, int code)
{
    if (code == CBN_SELCHANGE) {
        switch (id) {
        case IDC_MONITOR_MODE: OnMonitorModeChange(); return;
        case IDC_PLAY_SOURCE: OnPlaySourceChange(); return;
        case IDC_RECORD_MODE: OnRecordModeChange(); return;
        case IDC_RATE: OnRateChange(); return;
        case IDC_BUFFER_SIZE: OnBufferSizeChange(); return;
        default: break;
        }
    }
    // Buttons, the drawn buttons and the logo report their clicks with code 0.
    if (code != 0) return;
    switch (id) {
    case IDOK:
    case IDCANCEL: Close(id); return;
    case IDC_LOGO: OpenWebPage(); return;
    case IDC_PANEL_BUTTON: host_->OpenControlPanel(); return;
    case IDC_MONITOR_BUTTON: OnMonitorButton(); return;
    case IDC_PLAY_BUTTON: OnPlayButton(); return;
    case IDC_RECORD_BUTTON: OnRecordButton(); return;
    case IDC_FOLDER_BUTTON: OnFolderButton(); return;
    default: OnToggle(id); return;
    }
}

void CQuilletDlg::OnTimer(UINT_PTR id)
{
    if (id == kCpuTimer) {
        if (!cpu_) cpu_ = std::make_unique<CCpuUsage>();
        const int percent = cpu_->Sample();
        SetDlgItemTextW(hwnd(), IDC_CPU_TEXT, (std::to_wstring(percent) + L"%").c_str());
        SendDlgItemMessageW(hwnd(), IDC_CPU_BAR, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
        return;
    }
    for (CModeButton* button : {&monitorButton_, &playButton_, &recordButton_})
        if (button->TimerId() == id) button->OnBlinkTimer();
}

bool CQuilletDlg::OnSetCursor(HWND window)
{
    const HWND clickable[] = {GetDlgItem(hwnd(), IDC_LOGO), panelButton_.hwnd(), monitorButton_.hwnd(),
                              playButton_.hwnd(), recordButton_.hwnd(), folderButton_.hwnd()};
    const bool hand = rows_.IsToggle(window) || std::find(std::begin(clickable), std::end(clickable), window) !=
                                                    std::end(clickable);
    if (!hand || !hand_) return false;
    SetCursor(hand_);
    return true;
}

void CQuilletDlg::OnDestroy()
{
    settings_.lastSampleRate = static_cast<DWORD>(ChosenRate());
    settings_.recordStereo = SendMessageW(recordMode_.hwnd(), CB_GETCURSEL, 0, 0) == 0;
    if (!hidden_) SaveDialogSettings(settings_);
    KillTimer(hwnd(), kCpuTimer);
    for (CModeButton* button : {&monitorButton_, &playButton_, &recordButton_}) button->StopBlinking();
    // The driver goes first: no buffer switch may reach the recordings being closed.
    if (host_) host_->Unload();
    cpu_.reset();
    engine_.StopPlay();
    engine_.StopRecord();
    tooltips_.Destroy();
}

// ---- ASIO host layer

bool CQuilletDlg::LoadDriver(long preferred)
{
    SetWindowTextW(hardwareText_.hwnd(), HostText(kHostStrOpening, options_.language).c_str());
    hardwareText_.Redraw();
    panelButton_.SetBitmaps(IDB_PANEL_OPENING, IDB_PANEL_OPENING, IDB_PANEL_OPENING);
    panelButton_.Redraw();

    std::wstring hardware;
    const DriverLoad load = host_->LoadDriver(preferred, hardware);
    switch (load) {
    case DriverLoad::Hardware:
        panelButton_.SetBitmaps(IDB_PANEL, IDB_PANEL, IDB_PANEL);
        break;
    case DriverLoad::NoHardware:
        hardware = HostText(kHostStrNoHardware, options_.language);
        panelButton_.SetBitmaps(IDB_PANEL_WARNING, IDB_PANEL_WARNING, IDB_PANEL_WARNING);
        break;
    case DriverLoad::Failed:
        hardware = HostText(kHostStrOpenError, options_.language);
        break;
    }
    SetWindowTextW(hardwareText_.hwnd(), hardware.c_str());
    panelButton_.Redraw();
    EnableDriverControls(load == DriverLoad::Hardware);

    SelectComboValue(bufferSize_.hwnd(), kDefaultBufferSize);
    if (host_->Loaded()) SelectComboValue(bufferSize_.hwnd(), static_cast<int>(host_->DriverPreferredBufferSize()));
    // The size the stream will run with, also when the driver's is not one of the entries.
    currentBufferSize_ = SelectedComboValue(bufferSize_.hwnd());
    return load != DriverLoad::Failed;
}

void CQuilletDlg::EnableDriverControls(bool enabled)
{
    // A running mode keeps its source and its recording choices locked.
    const std::pair<HWND, bool> controls[] = {
        {monitorMode_.hwnd(), enabled},
        {monitorButton_.hwnd(), enabled},
        {playSource_.hwnd(), enabled && !engine_.Playing()},
        {playButton_.hwnd(), enabled},
        {recordMode_.hwnd(), enabled && !engine_.Recording()},
        {recordButton_.hwnd(), enabled},
        {folderButton_.hwnd(), enabled && !engine_.Recording()},
        {rate_.hwnd(), enabled},
        {bufferSize_.hwnd(), enabled},
    };
    for (const auto& [control, on] : controls) EnableWindow(control, on);
}

void CQuilletDlg::BuildChannelRows()
{
    rows_.Build(*host_, engine_, options_.language);
    layout_.Arrange(hwnd(), rows_.FitFrames());
    rows_.UpdateChannelArea();
    UpdateStateTooltips();
}

void CQuilletDlg::StartAsio()
{
    host_->StartAsio(ChosenRate(), SelectedComboValue(bufferSize_.hwnd()));
    // A driver held at another rate runs at its own: the selector, and with it the clip and the
    // recording format, follow what it runs at.
    const int running = static_cast<int>(host_->SampleRate());
    for (int k = 0; k < static_cast<int>(std::size(kRateEntries)); ++k) {
        if (kRateEntries[k] != running || k == SendMessageW(rate_.hwnd(), CB_GETCURSEL, 0, 0)) continue;
        SendMessageW(rate_.hwnd(), CB_SETCURSEL, k, 0);
        currentRate_ = running;
    }
}

void CQuilletDlg::RestartAsio(long preferred)
{
    const bool wasMonitoring = engine_.Monitoring();
    const bool wasPlaying = engine_.Playing();
    if (wasMonitoring) {
        engine_.SetMonitoring(false);
        UpdateButtonState(Mode::Monitoring);
    }
    if (wasPlaying) {
        engine_.StopPlay();
        EnableWindow(playSource_.hwnd(), TRUE);
    }

    // The new stream's first blocks wait until its format is known to suit the open files.
    engine_.HoldRecording(true);
    host_->StopAsio();
    const bool loaded = LoadDriver(preferred);
    BuildChannelRows();
    if (loaded) {
        StartAsio();
        if (wasMonitoring) {
            engine_.SetMonitoring(true);
            UpdateButtonState(Mode::Monitoring);
        }
        if (wasPlaying && engine_.StartPlay(SelectedComboValue(playSource_.hwnd()), ChosenRate(),
                                            settings_.lastAudioFile))
            EnableWindow(playSource_.hwnd(), FALSE);
    }
    // The play button shows whether playing came back.
    if (wasPlaying) UpdateButtonState(Mode::Playing);
    // The recording goes on only in the format its files were started with.
    if (engine_.Recording() && !(loaded && engine_.RecordingTakes(ChosenRate(), host_->Buffers().SampleType()))) {
        recordButton_.SetCheck(false);
        OnRecordButton();
    }
    engine_.HoldRecording(false);
    RedrawWindow(hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

// ---- user actions

void CQuilletDlg::OnMonitorButton()
{
    const bool on = monitorButton_.GetCheck();
    if (on != engine_.Monitoring()) engine_.SetMonitoring(on);
    UpdateButtonState(Mode::Monitoring);
}

void CQuilletDlg::OnMonitorModeChange()
{
    const bool on = SendMessageW(monitorMode_.hwnd(), CB_GETCURSEL, 0, 0) == 1;
    monitorButton_.SetCheck(on);
    if (on != engine_.Monitoring()) engine_.SetMonitoring(on);
    UpdateButtonState(Mode::Monitoring);
    SetFocus(monitorButton_.hwnd());
}

void CQuilletDlg::OnPlayButton()
{
    if (!playButton_.GetCheck()) {
        engine_.StopPlay();
        EnableWindow(playSource_.hwnd(), TRUE);
    } else {
        HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        const bool started =
            engine_.StartPlay(SelectedComboValue(playSource_.hwnd()), ChosenRate(), settings_.lastAudioFile);
        SetCursor(previous);
        if (started)
            EnableWindow(playSource_.hwnd(), FALSE);
        else
            playButton_.SetCheck(false);
    }
    UpdateButtonState(Mode::Playing);
}

void CQuilletDlg::OnRecordButton()
{
    if (!recordButton_.GetCheck()) {
        engine_.StopRecord();
        EnableWindow(recordMode_.hwnd(), TRUE);
        EnableWindow(folderButton_.hwnd(), TRUE);
    } else {
        std::vector<std::wstring> inputNames;
        for (int i = 0; i < host_->InputCount(); ++i) inputNames.push_back(host_->Input(i).displayName);
        const RecordMode mode = settings_.recordStereo ? RecordMode::StereoMix : RecordMode::PerInput;
        const bool started = engine_.StartRecord(mode, settings_.recordFolder, ChosenRate(),
                                                 host_->Buffers().SampleType(), inputNames);
        // The list changed whether or not recording started: the last recording's files went.
        RefillPlaySources();
        if (started) {
            EnableWindow(recordMode_.hwnd(), FALSE);
            EnableWindow(folderButton_.hwnd(), FALSE);
        } else {
            recordButton_.SetCheck(false);
        }
    }
    UpdateButtonState(Mode::Recording);
}

void CQuilletDlg::OnPlaySourceChange()
{
    if (SelectedComboValue(playSource_.hwnd()) == kPlaySourceChosenFile) {
        const std::optional<std::wstring> chosen =
            ChooseAudioFile(hwnd(), options_.language, settings_.lastAudioFile, ChosenRate());
        if (chosen) {
            settings_.lastAudioFile = *chosen;
            RefillPlaySources();
        } else {
            SendMessageW(playSource_.hwnd(), CB_SETCURSEL, 0, 0);
        }
    } else {
        RefillPlaySources();
    }
    SetFocus(GetDlgItem(hwnd(), IDCANCEL));
}

void CQuilletDlg::OnRecordModeChange()
{
    settings_.recordStereo = SendMessageW(recordMode_.hwnd(), CB_GETCURSEL, 0, 0) == 0;
    SetFocus(GetDlgItem(hwnd(), IDCANCEL));
}

void CQuilletDlg::OnFolderButton()
{
    const std::optional<std::wstring> folder = BrowseForFolder(hwnd(), settings_.recordFolder);
    if (!folder) return;
    settings_.recordFolder = *folder;
    SetWindowTextW(folderText_.hwnd(), folder->c_str());
    UpdateStateTooltips();
}

void CQuilletDlg::OnRateChange()
{
    const int rate = ChosenRate();
    if (rate == currentRate_) return;
    currentRate_ = rate;
    RestartAsio(-1);
}

void CQuilletDlg::OnBufferSizeChange()
{
    const long size = SelectedComboValue(bufferSize_.hwnd());
    if (size == currentBufferSize_) return;
    currentBufferSize_ = size;
    // The size reaches the driver through its settings before it is created again.
    RestartAsio(size);
}

void CQuilletDlg::OnToggle(int id)
{
    if (!rows_.OnToggle(id, keyDown_(VK_CONTROL), engine_)) return;
    UpdateStateTooltips();
    RepaintChannelArea();
}

void CQuilletDlg::OpenWebPage() const
{
    wchar_t address[256];
    std::swprintf(address, std::size(address), kMakerPageFormat, options_.language);
    ShellExecuteW(hwnd(), nullptr, address, nullptr, nullptr, SW_SHOWNORMAL);
}

void CQuilletDlg::SelectPlaySource(int value)
{
    if (!IsWindowEnabled(playSource_.hwnd()) || !SelectComboValue(playSource_.hwnd(), value)) return;
    OnPlaySourceChange();
}

void CQuilletDlg::SelectRecordMode(RecordMode mode)
{
    if (!IsWindowEnabled(recordMode_.hwnd())) return;
    SendMessageW(recordMode_.hwnd(), CB_SETCURSEL, mode == RecordMode::StereoMix ? 0 : 1, 0);
    OnRecordModeChange();
}

std::wstring CQuilletDlg::HardwareText() const
{
    std::wstring text(GetWindowTextLengthW(hardwareText_.hwnd()) + 1, L'\0');
    text.resize(GetWindowTextW(hardwareText_.hwnd(), text.data(), static_cast<int>(text.size())));
    return text;
}

bool CQuilletDlg::SetPlaying(bool on)
{
    if (on != engine_.Playing() && IsWindowEnabled(playButton_.hwnd())) {
        playButton_.SetCheck(on);
        OnPlayButton();
    }
    return engine_.Playing() == on;
}

bool CQuilletDlg::SetRecording(bool on)
{
    if (on != engine_.Recording() && IsWindowEnabled(recordButton_.hwnd())) {
        recordButton_.SetCheck(on);
        OnRecordButton();
    }
    return engine_.Recording() == on;
}

void CQuilletDlg::SetMonitoringOn(bool on)
{
    if (!IsWindowEnabled(monitorButton_.hwnd())) return;
    monitorButton_.SetCheck(on);
    OnMonitorButton();
}

// ---- state display

bool CQuilletDlg::ModeOn(Mode mode) const
{
    switch (mode) {
    case Mode::Monitoring: return engine_.Monitoring();
    case Mode::Playing: return engine_.Playing();
    case Mode::Recording: return engine_.Recording();
    }
    return false;
}

CModeButton& CQuilletDlg::ButtonOf(Mode mode)
{
    switch (mode) {
    case Mode::Monitoring: return monitorButton_;
    case Mode::Playing: return playButton_;
    case Mode::Recording: break;
    }
    return recordButton_;
}

void CQuilletDlg::UpdateButtonState(Mode mode)
{
    const bool on = ModeOn(mode);
    if (mode == Mode::Monitoring) SendMessageW(monitorMode_.hwnd(), CB_SETCURSEL, on ? 1 : 0, 0);
    UpdateStateTooltips();
    // The curves are lit only while monitoring.
    if (mode == Mode::Monitoring) RepaintChannelArea();
    CModeButton& button = ButtonOf(mode);
    // A mode button is checked exactly while its mode is on.
    button.SetCheck(on);
    button.ShowMode(on);
}

void CQuilletDlg::UpdateStateTooltips()
{
    const int language = options_.language;
    tooltips_.Set(playButton_.hwnd(), HostText(engine_.Playing() ? kHostStrStopPlay : kHostStrStartPlay, language));
    tooltips_.Set(recordButton_.hwnd(),
                  HostText(engine_.Recording() ? kHostStrStopRecording : kHostStrStartRecording, language));
    tooltips_.Set(monitorButton_.hwnd(),
                  HostText(engine_.Monitoring() ? kHostStrStopMonitoring : kHostStrStartMonitoring, language));
    tooltips_.Set(folderText_.hwnd(), settings_.recordFolder);
    rows_.UpdateTooltips(tooltips_, engine_, language);
}

void CQuilletDlg::RefillPlaySources()
{
    FillPlaySources(playSource_.hwnd(), options_.language, engine_.RecordedFiles(), settings_.lastAudioFile);
}

void CQuilletDlg::RepaintChannelArea()
{
    const RECT area = rows_.ChannelArea();
    RedrawWindow(hwnd(), &area, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

int CQuilletDlg::ChosenRate() const
{
    return SendMessageW(rate_.hwnd(), CB_GETCURSEL, 0, 0) == 1 ? kRateEntries[1] : kRateEntries[0];
}
