#include "DlgOtherDevices.h"

#include "DlgSettings_v2.h"
#include "Languages.h"
#include "SettingsDialogIds.h"

#include <controls/ComboItems.h>

#include <commctrl.h>

#include <algorithm>

namespace {

// The panel's colours.
constexpr COLORREF kBackground = CDlgSettings_v2::kBackground;
constexpr COLORREF kLabelColour = CDlgSettings_v2::kLabelColour;
// Posted by a check box of the list, so that the list is refilled outside its own notice.
constexpr UINT kChosenMessage = WM_APP + 1;

enum : int {
    kStrTitle = 271,
    kStrHint = 272,
    kStrInput = 273,
    kStrOutput = 274,
    kStrUp = 275,
    kStrDown = 276,
    kStrPair = 277,
    kStrUnpair = 278,
    kStrInputChannels = 279,
    kStrOutputChannels = 280,
    kStrOptions = 281,
    kStrDefaultDevices = 282,
    kStrClockSync = 283,
    kStrNotConnected = 284,
};

std::wstring PairName(int firstChannel)
{
    return std::to_wstring(firstChannel + 1) + L"-" + std::to_wstring(firstChannel + 2);
}

// Under the controls, the title above its frame, and kept from painting over them.
void SendToBack(CMixaraLikeStaticFrameAuto& frame)
{
    const HWND box = frame.Frame().hwnd();
    SetWindowLongPtrW(box, GWL_STYLE, GetWindowLongPtrW(box, GWL_STYLE) | WS_CLIPSIBLINGS);
    for (const HWND window : {box, frame.Title().hwnd(), box})
        SetWindowPos(window, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

}  // namespace

CDlgOtherDevices::CDlgOtherDevices(const CLanguages& languages, const std::vector<EndpointDescription>& endpoints,
                                   const std::vector<std::wstring>& taken, std::vector<std::wstring> portClocks,
                                   const DeviceChoice& choice)
    : languages_(languages), rows_(endpoints, taken, ParseOtherDevices(choice.entries)),
      portClocks_(std::move(portClocks)), result_(choice), background_(CreateSolidBrush(kBackground))
{
}

bool CDlgOtherDevices::Run(HINSTANCE module, HWND parent)
{
    INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&classes);
    return RunModal(module, IDD_OTHER_DEVICES, parent) == IDOK;
}

std::wstring CDlgOtherDevices::Text(int id) const { return languages_.Text(id); }

void CDlgOtherDevices::OnInitDialog()
{
    const HWND dialog = hwnd();
    SetWindowTextW(dialog, Text(kStrTitle).c_str());
    const struct {
        int id, text;
    } texts[] = {{IDC_OD_HINT, kStrHint},
                 {IDC_OD_UP, kStrUp},
                 {IDC_OD_DOWN, kStrDown},
                 {IDC_OD_PAIR, kStrPair},
                 {IDC_OD_UNPAIR, kStrUnpair},
                 {IDC_OD_INPUT_PAIR_LABEL, kStrInputChannels},
                 {IDC_OD_OUTPUT_PAIR_LABEL, kStrOutputChannels},
                 {IDC_OD_DEFAULT_DEVICES, kStrDefaultDevices},
                 {IDC_OD_CLOCK_SYNC, kStrClockSync},
                 {IDCANCEL, kStrCancel}};
    for (const auto& text : texts) SetDlgItemTextW(dialog, text.id, Text(text.text).c_str());
    devicesFrame_.SubclassDlgItem(dialog, IDC_OD_GROUP_DEVICES);
    optionsFrame_.SubclassDlgItem(dialog, IDC_OD_GROUP_OPTIONS);
    for (CMixaraLikeStaticFrameAuto* frame : {&devicesFrame_, &optionsFrame_}) {
        frame->CreateFrame(false);
        SendToBack(*frame);
    }
    devicesFrame_.SetTitle(Text(kStrTitle));
    optionsFrame_.SetTitle(Text(kStrOptions));

    const HWND list = GetDlgItem(dialog, IDC_OD_LIST);
    ListView_SetExtendedListViewStyle(list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    RECT client = {};
    GetClientRect(list, &client);
    const int width = (client.right - GetSystemMetrics(SM_CXVSCROLL)) / 2;
    for (const int text : {kStrInput, kStrOutput}) {
        const std::wstring title = Text(text);
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.cx = width;
        column.pszText = const_cast<wchar_t*>(title.c_str());
        ListView_InsertColumn(list, text == kStrInput ? 0 : 1, &column);
    }
    CheckDlgButton(dialog, IDC_OD_DEFAULT_DEVICES, result_.useDefaultDevices ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_OD_CLOCK_SYNC, result_.clockSync == 1 ? BST_CHECKED : BST_UNCHECKED);
    Fill(0);
}

std::wstring CDlgOtherDevices::CellText(const ChoiceEndpoint& endpoint) const
{
    if (endpoint.id.empty()) return L"\u2014";
    std::wstring text = endpoint.name;
    if (endpoint.channels > 2) text += L" [" + PairName(endpoint.firstChannel) + L"]";
    if (!endpoint.present) text += L" " + Text(kStrNotConnected);
    return text;
}

void CDlgOtherDevices::Fill(int selected)
{
    const HWND list = GetDlgItem(hwnd(), IDC_OD_LIST);
    filling_ = true;
    ListView_DeleteAllItems(list);
    const std::vector<ChoiceRow>& rows = rows_.rows();
    for (size_t i = 0; i < rows.size(); ++i) {
        std::wstring input = CellText(rows[i].input), output = CellText(rows[i].output);
        LVITEMW item = {};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = int(i);
        item.lParam = LPARAM(i);
        item.pszText = const_cast<wchar_t*>(input.c_str());
        const int at = ListView_InsertItem(list, &item);
        ListView_SetItemText(list, at, 1, const_cast<wchar_t*>(output.c_str()));
        ListView_SetCheckState(list, at, rows[i].chosen);
    }
    if (selected >= 0 && size_t(selected) < rows.size()) {
        ListView_SetItemState(list, selected, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(list, selected, FALSE);
    }
    filling_ = false;
    UpdateControls();
}

std::vector<int> CDlgOtherDevices::SelectedRows() const
{
    const HWND list = GetDlgItem(hwnd(), IDC_OD_LIST);
    std::vector<int> selected;
    for (int i = ListView_GetNextItem(list, -1, LVNI_SELECTED); i >= 0; i = ListView_GetNextItem(list, i, LVNI_SELECTED))
        selected.push_back(i);
    return selected;
}

void CDlgOtherDevices::UpdateControls()
{
    const HWND dialog = hwnd();
    const std::vector<int> selected = SelectedRows();
    const std::vector<ChoiceRow>& rows = rows_.rows();
    const ChoiceRow* one = selected.size() == 1 ? &rows[size_t(selected[0])] : nullptr;
    const size_t chosen = size_t(std::count_if(rows.begin(), rows.end(), [](const ChoiceRow& r) { return r.chosen; }));
    const bool single = one && one->hasInput() != one->hasOutput();
    bool pairable = false;
    if (selected.size() == 2) {
        const ChoiceRow& a = rows[size_t(selected[0])];
        const ChoiceRow& b = rows[size_t(selected[1])];
        pairable = a.hasInput() != a.hasOutput() && b.hasInput() != b.hasOutput() && a.hasInput() != b.hasInput();
    }
    EnableWindow(GetDlgItem(dialog, IDC_OD_UP), one && one->chosen && selected[0] > 0);
    EnableWindow(GetDlgItem(dialog, IDC_OD_DOWN), one && one->chosen && size_t(selected[0]) + 1 < chosen);
    EnableWindow(GetDlgItem(dialog, IDC_OD_PAIR), pairable);
    EnableWindow(GetDlgItem(dialog, IDC_OD_UNPAIR), one && !single && one->hasInput());
    FillPairCombo(IDC_OD_INPUT_PAIR, one && one->hasInput() ? &one->input : nullptr);
    FillPairCombo(IDC_OD_OUTPUT_PAIR, one && one->hasOutput() ? &one->output : nullptr);
}

void CDlgOtherDevices::FillPairCombo(int id, const ChoiceEndpoint* endpoint)
{
    const HWND combo = GetDlgItem(hwnd(), id);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    if (!endpoint) {
        EnableWindow(combo, FALSE);
        return;
    }
    const int pairs = std::clamp(endpoint->channels, 2, kMaxEndpointChannels) / 2;
    for (int k = 0; k < pairs; ++k) AddComboItem(combo, PairName(2 * k), 2 * k);
    SelectComboValue(combo, endpoint->firstChannel);
    EnableWindow(combo, pairs > 1);
}

void CDlgOtherDevices::SetChosen(int row, bool chosen)
{
    if (row < 0 || size_t(row) >= rows_.rows().size()) return;
    const size_t at = rows_.SetChosen(size_t(row), chosen);
    if (chosen) FollowClocks();
    Fill(int(at));
}

void CDlgOtherDevices::FollowClocks()
{
    if (result_.clockSync >= 0 || !rows_.SeveralClocks(portClocks_)) return;
    result_.clockSync = 1;
    CheckDlgButton(hwnd(), IDC_OD_CLOCK_SYNC, BST_CHECKED);
}

void CDlgOtherDevices::OnCommand(int id, int code)
{
    const std::vector<int> selected = SelectedRows();
    switch (id) {
    case IDOK: OnOk(); break;
    case IDCANCEL: Close(IDCANCEL); break;
    case IDC_OD_UP:
    case IDC_OD_DOWN:
        if (selected.size() == 1 && rows_.Move(size_t(selected[0]), id == IDC_OD_UP ? -1 : 1))
            Fill(selected[0] + (id == IDC_OD_UP ? -1 : 1));
        break;
    case IDC_OD_PAIR:
        if (selected.size() == 2 && rows_.Pair(size_t(selected[0]), size_t(selected[1]))) {
            FollowClocks();
            Fill(selected[0]);
        }
        break;
    case IDC_OD_UNPAIR:
        if (selected.size() == 1 && rows_.Unpair(size_t(selected[0]))) Fill(selected[0]);
        break;
    case IDC_OD_INPUT_PAIR:
    case IDC_OD_OUTPUT_PAIR: {
        const int first = SelectedComboValue(GetDlgItem(hwnd(), id));
        if (code == CBN_SELCHANGE && selected.size() == 1 &&
            rows_.SetFirstChannel(size_t(selected[0]), id == IDC_OD_OUTPUT_PAIR, first))
            Fill(selected[0]);
        break;
    }
    case IDC_OD_CLOCK_SYNC:
        // The user's own choice from now on, stored on OK.
        result_.clockSync = IsDlgButtonChecked(hwnd(), IDC_OD_CLOCK_SYNC) == BST_CHECKED ? 1 : 0;
        break;
    default: break;
    }
}

bool CDlgOtherDevices::OnNotify(const NMHDR& header, LRESULT& result)
{
    if (header.idFrom != IDC_OD_LIST) return false;
    if (header.code == LVN_ITEMCHANGED) {
        const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
        if (filling_ || !(change.uChanged & LVIF_STATE)) return true;
        if ((change.uNewState ^ change.uOldState) & LVIS_STATEIMAGEMASK) {
            const bool checked = ((change.uNewState & LVIS_STATEIMAGEMASK) >> 12) == 2;
            PostMessageW(hwnd(), kChosenMessage, WPARAM(change.iItem), checked);
        } else if ((change.uNewState ^ change.uOldState) & LVIS_SELECTED) {
            UpdateControls();
        }
        return true;
    }
    if (header.code == NM_CUSTOMDRAW) {
        auto& draw = const_cast<NMLVCUSTOMDRAW&>(reinterpret_cast<const NMLVCUSTOMDRAW&>(header));
        if (draw.nmcd.dwDrawStage == CDDS_PREPAINT) {
            result = CDRF_NOTIFYITEMDRAW;
        } else if (draw.nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
            // A chosen device that is away keeps its row, greyed.
            const size_t row = size_t(draw.nmcd.dwItemSpec);
            if (row < rows_.rows().size() && !rows_.rows()[row].present()) draw.clrText = GetSysColor(COLOR_GRAYTEXT);
            result = CDRF_DODEFAULT;
        }
        return true;
    }
    return false;
}

void CDlgOtherDevices::OnOk()
{
    result_.entries = rows_.Entries();
    result_.useDefaultDevices = IsDlgButtonChecked(hwnd(), IDC_OD_DEFAULT_DEVICES) == BST_CHECKED;
    Close(IDOK);
}

bool CDlgOtherDevices::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        result = TRUE;
        return true;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return true;
    case WM_NOTIFY:
        return OnNotify(*reinterpret_cast<const NMHDR*>(lParam), result);
    case kChosenMessage:
        SetChosen(int(wParam), lParam != 0);
        return true;
    case WM_CTLCOLORDLG:
        result = reinterpret_cast<LRESULT>(background_.get());
        return true;
    case WM_CTLCOLORSTATIC: {
        const HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == IDC_OD_HINT ? kLabelColour : RGB(255, 255, 255));
        result = reinterpret_cast<LRESULT>(background_.get());
        return true;
    }
    default:
        return false;
    }
}
