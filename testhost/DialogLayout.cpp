#include "DialogLayout.h"

#include "ChildPlacement.h"

namespace {

constexpr int kGapBelowChannels = 8;

int TopOf(HWND window) { return ChildRect(window).top; }

// A frame is its hidden placeholder plus the drawn frame and title, which move together.
void MoveFrameTo(CMixaraLikeStaticFrameAuto& frame, int top)
{
    const int dy = top - TopOf(frame.Frame().hwnd());
    if (dy == 0) return;
    const RECT placeholder = ChildRect(frame.hwnd());
    MoveChild(frame.hwnd(), placeholder.left, placeholder.top + dy);
    frame.MoveVertically(dy);
}

}  // namespace

CDialogLayout::CDialogLayout(CMixaraLikeStaticFrameAuto& topFrame, std::vector<CMixaraLikeStaticFrameAuto*> frames,
                             std::vector<int> controls, int closeId)
    : topFrame_(topFrame), frames_(std::move(frames)), controls_(std::move(controls)), closeId_(closeId)
{
}

void CDialogLayout::Remember(HWND dialog)
{
    const int top = TopOf(topFrame_.Frame().hwnd());
    for (CMixaraLikeStaticFrameAuto* frame : frames_)
        offsets_.push_back({frame->Frame().hwnd(), frame, TopOf(frame->Frame().hwnd()) - top});
    for (int id : controls_) {
        HWND control = GetDlgItem(dialog, id);
        offsets_.push_back({control, nullptr, TopOf(control) - top});
    }
    RECT window{}, close{};
    GetWindowRect(dialog, &window);
    GetWindowRect(GetDlgItem(dialog, closeId_), &close);
    belowClose_ = window.bottom - close.top;
    remembered_ = true;
}

void CDialogLayout::Arrange(HWND dialog, int channelBottom)
{
    if (!remembered_) Remember(dialog);
    const int top = channelBottom + kGapBelowChannels;
    MoveFrameTo(topFrame_, top);
    for (const Offset& offset : offsets_) {
        if (offset.frame)
            MoveFrameTo(*offset.frame, top + offset.dy);
        else
            MoveChild(offset.window, ChildRect(offset.window).left, top + offset.dy);
    }

    RECT window{}, close{};
    GetWindowRect(dialog, &window);
    GetWindowRect(GetDlgItem(dialog, closeId_), &close);
    SetWindowPos(dialog, nullptr, 0, 0, window.right - window.left, close.top + belowClose_ - window.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}
