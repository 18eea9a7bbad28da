#include "ModeButton.h"

#include "ResourceIds.h"

namespace {

constexpr UINT kActionPeriodMs = 300;
constexpr UINT kStopPeriodMs = 800;

}  // namespace

void CModeButton::ShowMode(bool on)
{
    StopBlinking();
    phase_ = 0;
    SetBitmaps(IDB_STOP, actionImage_, actionImage_);
    Redraw();
    // The first stop phase is a short one.
    if (on) SetTimer(GetParent(hwnd()), timerId_, kActionPeriodMs, nullptr);
}

void CModeButton::OnBlinkTimer()
{
    StopBlinking();
    if (phase_ == 0) {
        phase_ = 1;
        Blink(actionImage_, IDB_STOP, kActionPeriodMs);
    } else {
        phase_ = 0;
        Blink(IDB_STOP, actionImage_, kStopPeriodMs);
    }
}

void CModeButton::StopBlinking()
{
    if (hwnd()) KillTimer(GetParent(hwnd()), timerId_);
}

void CModeButton::Blink(int checkedImage, int uncheckedImage, UINT period)
{
    SetBitmaps(checkedImage, uncheckedImage, actionImage_);
    SetTimer(GetParent(hwnd()), timerId_, period, nullptr);
    Redraw();
}
