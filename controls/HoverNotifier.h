// Tells a chosen window when the mouse enters and leaves a control: the owner's tooltips and
// highlights follow it. Enter posts (message, 1, control), leave posts (message, 0, control).
#pragma once

#include <windows.h>

class CHoverNotifier {
public:
    void SetTarget(HWND window, UINT message)
    {
        window_ = window;
        message_ = message;
    }
    HWND Target() const { return window_; }
    bool Tracking() const { return tracking_; }

    // From the control's WM_MOUSEMOVE and WM_MOUSELEAVE; the control still runs the default.
    void OnMouseMove(HWND control);
    void OnMouseLeave(HWND control);
    // Either of the two above for those messages; nothing for any other.
    void Track(HWND control, UINT message)
    {
        if (message == WM_MOUSEMOVE) OnMouseMove(control);
        if (message == WM_MOUSELEAVE) OnMouseLeave(control);
    }

private:
    HWND window_ = nullptr;
    UINT message_ = 0;
    bool tracking_ = false;
};
