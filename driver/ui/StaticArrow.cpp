#include "StaticArrow.h"

#include "PanelControlSupport.h"

void CStaticArrow::SetBitmaps(int enabledId, int disabledId)
{
    enabled_ = LoadControlBitmap(enabledId);
    disabled_ = LoadControlBitmap(disabledId);
    size_ = BitmapSize(enabled_.get());
    Invalidate();
}

void CStaticArrow::SetAutoRepeat(bool on, UINT periodMs)
{
    autoRepeat_ = on;
    periodMs_ = periodMs;
    if (!on) StopRepeat();
}

void CStaticArrow::StopRepeat()
{
    if (hwnd()) KillTimer(hwnd(), kRepeatTimer);
}

LRESULT CStaticArrow::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND: {
        const LRESULT result = Default(message, wParam, lParam);
        panel_controls::DrawBitmap(reinterpret_cast<HDC>(wParam),
                                   IsWindowEnabled(hwnd()) ? enabled_.get() : disabled_.get(), 0, 0, size_);
        return result;
    }
    case WM_LBUTTONDOWN: {
        const LRESULT result = Default(message, wParam, lParam);
        if (autoRepeat_) {
            SetTimer(hwnd(), kRepeatTimer, periodMs_, nullptr);
            // The release must come back here even when the mouse has slid off the arrow.
            SetCapture(hwnd());
        }
        return result;
    }
    case WM_LBUTTONUP:
        StopRepeat();
        if (GetCapture() == hwnd()) ReleaseCapture();
        return Default(message, wParam, lParam);
    // Capture taken away (another window, or the arrow disabled): the press is over.
    case WM_CAPTURECHANGED:
    case WM_DESTROY:
        StopRepeat();
        return Default(message, wParam, lParam);
    case WM_TIMER:
        if (wParam == kRepeatTimer) {
            if (autoRepeat_) PostMessageW(parent_, WM_COMMAND, MAKEWPARAM(Id(), 0), reinterpret_cast<LPARAM>(hwnd()));
            return 0;
        }
        return Default(message, wParam, lParam);
    case WM_ENABLE:
        return DefaultThenRedraw(message, wParam, lParam);
    default:
        hover_.Track(hwnd(), message);
        return Default(message, wParam, lParam);
    }
}

bool CStaticArrow::OnReflected(UINT message, WPARAM wParam, LPARAM, LRESULT& result)
{
    return panel_controls::TransparentStaticColour(message, wParam, result);
}
