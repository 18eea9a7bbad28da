#include "MixaraLikeNumberBox.h"

#include "PanelControlSupport.h"

CMixaraLikeNumberBox::CMixaraLikeNumberBox() : highlightPen_(CreatePen(PS_SOLID, 1, RGB(255, 0, 0))) {}

void CMixaraLikeNumberBox::SetDigitBitmaps(int firstId, int blankId)
{
    current_ = nullptr;
    for (int i = 0; i < kNumbers; ++i) numbers_[i] = LoadControlBitmap(firstId + i);
    blank_ = LoadControlBitmap(blankId);
    size_ = BitmapSize(numbers_[0].get());
    if (hwnd() && numbers_[0]) SetWindowPos(hwnd(), nullptr, 0, 0, size_.cx, size_.cy, SWP_NOMOVE | SWP_NOZORDER);
    current_ = blank_.get();
    Invalidate();
}

void CMixaraLikeNumberBox::ShowNumber(int number)
{
    EnableWindow(hwnd(), TRUE);
    current_ = number >= 1 && number <= kNumbers ? numbers_[number - 1].get() : blank_.get();
    SetWindowTextW(hwnd(), L"");
    Redraw();
}

LRESULT CMixaraLikeNumberBox::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND: {
        Default(message, wParam, lParam);
        if (!current_) return 1;
        HDC dc = reinterpret_cast<HDC>(wParam);
        panel_controls::DrawBitmap(dc, current_, 0, 0, size_);
        if (highlighted_) {
            SelectedObject pen(dc, highlightPen_.get());
            SelectedObject brush(dc, GetStockObject(NULL_BRUSH));
            Rectangle(dc, 2, 2, size_.cx - 2, size_.cy - 2);
            Rectangle(dc, 3, 3, size_.cx - 3, size_.cy - 3);
        }
        return 1;
    }
    case WM_ENABLE:
        return DefaultThenRedraw(message, wParam, lParam);
    default:
        hover_.Track(hwnd(), message);
        return Default(message, wParam, lParam);
    }
}

bool CMixaraLikeNumberBox::OnReflected(UINT message, WPARAM wParam, LPARAM, LRESULT& result)
{
    return panel_controls::TransparentStaticColour(message, wParam, result);
}
