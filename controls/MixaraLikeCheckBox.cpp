#include "MixaraLikeCheckBox.h"

void CMixaraLikeCheckBox::SetBitmaps(int checkedId, int uncheckedId, int disabledId)
{
    checkedImage_ = LoadControlBitmap(checkedId);
    uncheckedImage_ = LoadControlBitmap(uncheckedId);
    disabledImage_ = LoadControlBitmap(disabledId);
    Invalidate();
    // Without its checked image the control keeps its size rather than vanish.
    if (!checkedImage_) return;
    size_ = BitmapSize(checkedImage_.get());
    if (hwnd()) SetWindowPos(hwnd(), nullptr, 0, 0, size_.cx, size_.cy, SWP_NOMOVE | SWP_NOZORDER);
}

void CMixaraLikeCheckBox::SetCheck(bool checked)
{
    if (checked_ == checked) return;
    checked_ = checked;
    Redraw();
}

void CMixaraLikeCheckBox::OnClick()
{
    const WPARAM command = MAKEWPARAM(Id(), 0);
    const LPARAM self = reinterpret_cast<LPARAM>(hwnd());
    if (autoToggle_) {
        checked_ = !checked_;
        Redraw();
        PostMessageW(parent_, WM_COMMAND, command, self);
    } else {
        SendMessageW(parent_, WM_COMMAND, command, self);
    }
    SetFocus(hwnd());
}

LRESULT CMixaraLikeCheckBox::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND: {
        Default(message, wParam, lParam);
        const bool showDisabled = !IsWindowEnabled(hwnd()) && !ignoreDisabled_;
        const HBITMAP image = showDisabled ? disabledImage_.get() : checked_ ? checkedImage_.get() : uncheckedImage_.get();
        if (image) {
            const SIZE size = BitmapSize(image);
            DrawStateW(reinterpret_cast<HDC>(wParam), nullptr, nullptr, reinterpret_cast<LPARAM>(image), 0, 0, 0,
                       size.cx, size.cy, DST_BITMAP);
        }
        return 1;
    }
    // A static without SS_NOTIFY lets the mouse through; a button must catch it.
    case WM_NCHITTEST:
        return HTCLIENT;
    // The static's own click handling is not run: with SS_NOTIFY it would report a second
    // WM_COMMAND. A quick second click arrives as a double click and counts as a click, as
    // on a system check box.
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        OnClick();
        return 0;
    // The button messages, so that scripts and other programs can drive it like a check box.
    case BM_CLICK:
        OnClick();
        return 0;
    case BM_GETCHECK:
        return checked_ ? BST_CHECKED : BST_UNCHECKED;
    case WM_ENABLE:
        return DefaultThenRedraw(message, wParam, lParam);
    default:
        hover_.Track(hwnd(), message);
        return Default(message, wParam, lParam);
    }
}

bool CMixaraLikeCheckBox::OnReflected(UINT message, WPARAM wParam, LPARAM, LRESULT& result)
{
    if (message != WM_CTLCOLORSTATIC) return false;
    SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
    result = reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
    return true;
}
