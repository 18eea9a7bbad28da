#include "ChannelRows.h"

#include "AsioHost.h"
#include "ChildPlacement.h"
#include "HostStrings.h"
#include "ResourceIds.h"
#include "TestEngine.h"

#include <algorithm>

namespace {

constexpr COLORREF kNameBackground = RGB(45, 78, 109);
constexpr COLORREF kNameText = RGB(133, 151, 169);
constexpr COLORREF kActiveCurve = RGB(214, 3, 42);
constexpr COLORREF kInactiveCurve = RGB(157, 157, 161);
constexpr int kCurveBend = 50;
constexpr int kAnchorGap = 2;
constexpr int kFrameBelowLastRow = 10;
constexpr int kChannelAreaMargin = 5;
// An empty column still keeps room for this many rows.
constexpr int kRowsOfEmptyColumn = 2;

// All rows of a column start at the template place of the first; each is stacked one template
// height below the previous one, after the first row's place is adjusted.
void StackColumn(HWND dialog, int firstId, int moveLeft, int widen, int shorten)
{
    const RECT first = ChildRect(GetDlgItem(dialog, firstId));
    const int pitch = first.bottom - first.top;
    for (int row = 0; row < kHostMaxChannels; ++row)
        SetWindowPos(GetDlgItem(dialog, firstId + row), nullptr, first.left + moveLeft, first.top + row * pitch,
                     first.right - first.left + widen, pitch - shorten, SWP_NOZORDER | SWP_NOACTIVATE);
}

std::wstring CountTitle(int count, int language, int none, int one, int many)
{
    if (count == 0) return L" " + HostText(none, language);
    if (count == 1 && one) return L" " + HostText(one, language);
    return L" " + std::to_wstring(count) + L" " + HostText(many, language);
}

}  // namespace

CChannelRows::CChannelRows(CMixaraLikeStaticFrameAuto& inputsFrame, CMixaraLikeStaticFrameAuto& outputsFrame)
    : inputsFrame_(inputsFrame),
      outputsFrame_(outputsFrame),
      activePen_(CreatePen(PS_SOLID, 1, kActiveCurve)),
      inactivePen_(CreatePen(PS_SOLID, 1, kInactiveCurve))
{
}

void CChannelRows::Attach(HWND dialog)
{
    for (int row = 0; row < kHostMaxChannels; ++row) {
        in_.names[row].SubclassDlgItem(dialog, IDC_INPUT_NAME_FIRST + row);
        in_.toggles[row].SubclassDlgItem(dialog, IDC_INPUT_TOGGLE_FIRST + row);
        out_.names[row].SubclassDlgItem(dialog, IDC_OUTPUT_NAME_FIRST + row);
        out_.toggles[row].SubclassDlgItem(dialog, IDC_OUTPUT_TOGGLE_FIRST + row);
    }
    StackColumn(dialog, IDC_INPUT_NAME_FIRST, 0, 15, 2);
    StackColumn(dialog, IDC_INPUT_TOGGLE_FIRST, 17, 0, 0);
    StackColumn(dialog, IDC_OUTPUT_NAME_FIRST, -15, 15, 2);
    StackColumn(dialog, IDC_OUTPUT_TOGGLE_FIRST, -8, 0, 0);
}

void CChannelRows::SetToggleImages()
{
    for (int row = 0; row < kHostMaxChannels; ++row) {
        in_.toggles[row].SetBitmaps(IDB_INPUT_ON, IDB_INPUT_OFF, IDB_INPUT_GREY);
        out_.toggles[row].SetBitmaps(IDB_OUTPUT_ON, IDB_OUTPUT_OFF, IDB_OUTPUT_GREY);
        const RECT input = ChildRect(in_.toggles[row].hwnd());
        const RECT output = ChildRect(out_.toggles[row].hwnd());
        inputAnchors_[row] = POINT{input.right + kAnchorGap, (input.top + input.bottom) / 2};
        outputAnchors_[row] = POINT{output.left - kAnchorGap, (output.top + output.bottom) / 2};
    }
    UpdateChannelArea();
}

void CChannelRows::HideAll()
{
    for (Side* side : {&in_, &out_}) {
        for (int row = 0; row < kHostMaxChannels; ++row) {
            ShowWindow(side->names[row].hwnd(), SW_HIDE);
            ShowWindow(side->toggles[row].hwnd(), SW_HIDE);
        }
    }
}

void CChannelRows::Reset(CTestEngine& engine)
{
    engine.ResetChannels();
    for (Side* side : {&in_, &out_}) {
        for (int row = 0; row < kHostMaxChannels; ++row) {
            CColorStatic& name = side->names[row];
            name.SetBackgroundColour(kNameBackground);
            name.SetTextColour(kNameText, false);
            SetWindowTextW(name.hwnd(), L"");
            side->toggles[row].SetCheck(false);
            EnableWindow(side->toggles[row].hwnd(), FALSE);
        }
    }
}

void CChannelRows::Build(CAsioHost& host, CTestEngine& engine, int language)
{
    Reset(engine);
    host.ReadChannels();
    inputs_ = host.InputCount();
    outputs_ = host.OutputCount();
    if (host.Loaded()) engine.FillRouting(inputs_, outputs_);
    for (int i = 0; i < inputs_; ++i) engine.SetInputEnabled(i, true);
    for (int j = 0; j < outputs_; ++j) engine.SetOutputEnabled(j, true);
    ShowRows(in_, inputs_, [&](int i) -> const std::wstring& { return host.Input(i).displayName; });
    ShowRows(out_, outputs_, [&](int j) -> const std::wstring& { return host.Output(j).displayName; });
    inputsFrame_.SetTitle(CountTitle(inputs_, language, kHostStrNoInput, kHostStrOneInput, kHostStrInputs));
    // There is no text for a single output: it reads "1 Outputs".
    outputsFrame_.SetTitle(CountTitle(outputs_, language, kHostStrNoOutput, 0, kHostStrOutputs));
}

void CChannelRows::ShowRows(Side& side, int count, const std::function<const std::wstring&(int)>& name)
{
    for (int row = 0; row < kHostMaxChannels; ++row) {
        const bool exists = row < count;
        if (exists) {
            SetWindowTextW(side.names[row].hwnd(), (L" " + name(row)).c_str());
            EnableWindow(side.toggles[row].hwnd(), TRUE);
            side.toggles[row].SetCheck(true);
        }
        ShowWindow(side.names[row].hwnd(), exists ? SW_SHOWNA : SW_HIDE);
        ShowWindow(side.toggles[row].hwnd(), exists ? SW_SHOWNA : SW_HIDE);
    }
}

int CChannelRows::FitFrames()
{
    const int rows = std::max(inputs_ ? inputs_ : kRowsOfEmptyColumn, outputs_ ? outputs_ : kRowsOfEmptyColumn);
    FitFrame(inputsFrame_, in_, rows);
    FitFrame(outputsFrame_, out_, rows);
    return std::max(ChildRect(inputsFrame_.Frame().hwnd()).bottom, ChildRect(outputsFrame_.Frame().hwnd()).bottom);
}

void CChannelRows::FitFrame(CMixaraLikeStaticFrameAuto& frame, const Side& side, int rows)
{
    const int bottom = ChildRect(side.names[rows - 1].hwnd()).bottom + kFrameBelowLastRow;
    for (HWND window : {frame.hwnd(), frame.Frame().hwnd()}) {
        const RECT place = ChildRect(window);
        ResizeChild(window, place.right - place.left, bottom - place.top);
    }
    frame.Frame().Invalidate();
}

void CChannelRows::UpdateChannelArea()
{
    const RECT inputs = ChildRect(inputsFrame_.Frame().hwnd());
    const RECT outputs = ChildRect(outputsFrame_.Frame().hwnd());
    UnionRect(&channelArea_, &inputs, &outputs);
    InflateRect(&channelArea_, kChannelAreaMargin, kChannelAreaMargin);
}

bool CChannelRows::OnToggle(int id, bool ctrlHeld, CTestEngine& engine)
{
    const bool input = id >= IDC_INPUT_TOGGLE_FIRST && id < IDC_INPUT_TOGGLE_FIRST + kHostMaxChannels;
    const bool output = id >= IDC_OUTPUT_TOGGLE_FIRST && id < IDC_OUTPUT_TOGGLE_FIRST + kHostMaxChannels;
    if (!input && !output) return false;
    const int k = id - (input ? IDC_INPUT_TOGGLE_FIRST : IDC_OUTPUT_TOGGLE_FIRST);
    auto enabled = [&](int c) { return input ? engine.InputEnabled(c) : engine.OutputEnabled(c); };
    auto enable = [&](int c, bool on) { input ? engine.SetInputEnabled(c, on) : engine.SetOutputEnabled(c, on); };

    if (!ctrlHeld) {
        enable(k, !enabled(k));
        return true;
    }
    bool alone = enabled(k);
    for (int c = 0; c < kHostMaxChannels; ++c) alone = alone && (c == k || !enabled(c));
    // Flags of rows beyond the channel count may be set too; nothing reads them.
    for (int c = 0; c < kHostMaxChannels; ++c) enable(c, alone ? c != k : c == k);
    Side& side = input ? in_ : out_;
    const int count = input ? inputs_ : outputs_;
    for (int c = 0; c < count; ++c) side.toggles[c].SetCheck(enabled(c));
    return true;
}

bool CChannelRows::IsToggle(HWND window) const
{
    if (!window) return false;
    for (int row = 0; row < kHostMaxChannels; ++row)
        if (in_.toggles[row].hwnd() == window || out_.toggles[row].hwnd() == window) return true;
    return false;
}

void CChannelRows::UpdateTooltips(CToolTips& tips, const CTestEngine& engine, int language) const
{
    for (int row = 0; row < kHostMaxChannels; ++row) {
        tips.Set(in_.toggles[row].hwnd(),
                 HostText(engine.InputEnabled(row) ? kHostStrDeactivateInput : kHostStrActivateInput, language));
        tips.Set(out_.toggles[row].hwnd(),
                 HostText(engine.OutputEnabled(row) ? kHostStrDeactivateOutput : kHostStrActivateOutput, language));
    }
}

void CChannelRows::DrawCurves(HDC dc, const CTestEngine& engine) const
{
    const bool monitoring = engine.Monitoring();
    for (int i = 0; i < kHostMaxChannels; ++i) {
        for (int entry = 0; entry < kHostMaxChannels; ++entry) {
            const int o = engine.Route(i, entry);
            if (o < 0 || o >= kHostMaxChannels) continue;
            const bool lit = monitoring && engine.InputEnabled(i) && engine.OutputEnabled(o);
            const POINT from = inputAnchors_[i];
            const POINT to = outputAnchors_[o];
            const POINT curve[4] = {from, {from.x + kCurveBend, from.y}, {to.x - kCurveBend, to.y}, to};
            SelectedObject pen(dc, lit ? activePen_.get() : inactivePen_.get());
            PolyBezier(dc, curve, 4);
        }
    }
}
