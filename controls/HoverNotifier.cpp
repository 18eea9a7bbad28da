#include "HoverNotifier.h"

void CHoverNotifier::OnMouseMove(HWND control)
{
    if (!window_ || tracking_) return;
    TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, control, 0};
    TrackMouseEvent(&track);
    tracking_ = true;
    PostMessageW(window_, message_, 1, reinterpret_cast<LPARAM>(control));
}

void CHoverNotifier::OnMouseLeave(HWND control)
{
    tracking_ = false;
    // A null target would turn the post into a thread message.
    if (window_) PostMessageW(window_, message_, 0, reinterpret_cast<LPARAM>(control));
}
