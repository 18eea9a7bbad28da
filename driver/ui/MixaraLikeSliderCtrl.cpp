#include "MixaraLikeSliderCtrl.h"

#include "PanelControlSupport.h"

#include <windowsx.h>

#include <algorithm>

using panel_controls::ClientSize;
using panel_controls::DrawBitmap;

namespace {

// The thumb travels from y = kTopGap down to H - thumb height - kBottomGap.
constexpr int kTopGap = 3;
constexpr int kBottomGap = 4;
constexpr int kThumbOffset = 6;  // the thumb's left edge sits this far left of the middle

}  // namespace

CMixaraLikeSliderCtrl::CMixaraLikeSliderCtrl() : linePen_(CreatePen(PS_SOLID, 2, RGB(255, 255, 255))) {}

void CMixaraLikeSliderCtrl::SetThumbBitmaps(int normalId, int hotId, int disabledId, int margin)
{
    normalThumb_ = LoadControlBitmap(normalId);
    hotThumb_ = LoadControlBitmap(hotId);
    disabledThumb_ = LoadControlBitmap(disabledId);
    const SIZE normal = BitmapSize(normalThumb_.get()), hot = BitmapSize(hotThumb_.get()),
               disabled = BitmapSize(disabledThumb_.get());
    thumbsValid_ = normalThumb_ && hotThumb_ && disabledThumb_ && normal.cx == hot.cx && normal.cy == hot.cy &&
                   normal.cx == disabled.cx && normal.cy == disabled.cy;
    thumbSize_ = thumbsValid_ ? normal : SIZE{0, 0};
    margin_ = margin;
    Invalidate();
}

void CMixaraLikeSliderCtrl::SetTrackBitmap(int id)
{
    track_ = LoadControlBitmap(id);
    Invalidate();
}

void CMixaraLikeSliderCtrl::SetLineColour(COLORREF colour)
{
    linePen_.Reset(CreatePen(PS_SOLID, 2, colour));
}

void CMixaraLikeSliderCtrl::SetRange(int bottomValue, int topValue)
{
    bottom_ = bottomValue;
    top_ = topValue;
    value_ = Clamped(value_);
}

void CMixaraLikeSliderCtrl::SetValue(int value)
{
    value = Clamped(value);
    if (value == value_) return;
    value_ = value;
    Redraw();
}

int CMixaraLikeSliderCtrl::Clamped(int value) const
{
    return std::clamp(value, std::min(bottom_, top_), std::max(bottom_, top_));
}

RECT CMixaraLikeSliderCtrl::ThumbRect() const
{
    const SIZE client = ClientSize(hwnd()), thumb = thumbSize_;
    RECT rect{};
    rect.left = (client.cx - thumb.cx) / 2 - kThumbOffset + thumb.cx / 2;
    rect.right = rect.left + thumb.cx;
    const float travel = static_cast<float>(client.cy - thumb.cy - kTopGap - kBottomGap);
    // An empty range keeps the thumb at the top rather than divide by zero.
    const float share = bottom_ == top_ ? 0.0f : static_cast<float>(value_ - top_) / static_cast<float>(bottom_ - top_);
    rect.top = static_cast<int>(travel * share) + kTopGap;
    rect.bottom = rect.top + thumb.cy;
    return rect;
}

int CMixaraLikeSliderCtrl::ValueAt(int y) const
{
    const SIZE client = ClientSize(hwnd());
    const int travel = client.cy - thumbSize_.cy - kTopGap - kBottomGap;
    // Too short to move in: the value stays.
    if (travel <= 0) return value_;
    const float v = static_cast<float>(y - thumbSize_.cy / 2 + 2) * static_cast<float>(bottom_ - top_) /
                        static_cast<float>(travel) + static_cast<float>(top_);
    // Clamped before the conversion, which a far-off point could overflow.
    const float low = static_cast<float>(std::min(bottom_, top_)), high = static_cast<float>(std::max(bottom_, top_));
    return Clamped(static_cast<int>(std::clamp(v, low, high)));
}

void CMixaraLikeSliderCtrl::MoveTo(int value)
{
    value_ = value;
    SendMessageW(parent_, WM_VSCROLL, MAKEWPARAM(SB_THUMBTRACK, static_cast<WORD>(value)),
                 reinterpret_cast<LPARAM>(hwnd()));
    Redraw();
}

void CMixaraLikeSliderCtrl::Paint(HDC dc) const
{
    const SIZE client = ClientSize(hwnd());
    if (track_) {
        DrawBitmap(dc, track_.get(), 0, 0, client);
    } else {
        const RECT all{0, 0, client.cx, client.cy};
        const COLORREF oldBack = SetBkColor(dc, backColour_);
        ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &all, nullptr, 0, nullptr);
        SetBkColor(dc, oldBack);
        SelectedObject pen(dc, linePen_.get());
        MoveToEx(dc, client.cx / 2, margin_, nullptr);
        LineTo(dc, client.cx / 2, client.cy - margin_);
    }
    const HBITMAP thumb = !IsWindowEnabled(hwnd()) ? disabledThumb_.get() : hot_ ? hotThumb_.get() : normalThumb_.get();
    const RECT place = ThumbRect();
    DrawBitmap(dc, thumb, place.left, place.top, thumbSize_);
}

void CMixaraLikeSliderCtrl::OnMouseMove(int y)
{
    if (dragging_) {
        const int value = ValueAt(y);
        if (value != value_) MoveTo(value);
        return;
    }
    if (!hot_) {
        // Tracked even without a notify target: the hot thumb needs the leave.
        TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, hwnd(), 0};
        TrackMouseEvent(&track);
        hot_ = true;
        // So that the wheel reaches the fader under the mouse.
        SetFocus(hwnd());
        Redraw();
    }
    hover_.OnMouseMove(hwnd());
}

LRESULT CMixaraLikeSliderCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND:
        if (!thumbsValid_) return Default(message, wParam, lParam);
        Paint(reinterpret_cast<HDC>(wParam));
        return 1;
    // A static lets the mouse through to its parent unless it is told otherwise.
    case WM_NCHITTEST:
        return HTCLIENT;
    case WM_LBUTTONDOWN: {
        const RECT thumb = ThumbRect();
        SetFocus(hwnd());
        if (PtInRect(&thumb, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)})) {
            SetCapture(hwnd());
            dragging_ = true;
            return 0;
        }
        pressedOnTrack_ = true;
        return Default(message, wParam, lParam);
    }
    case WM_MOUSEMOVE: {
        const LRESULT result = Default(message, wParam, lParam);
        OnMouseMove(GET_Y_LPARAM(lParam));
        return result;
    }
    case WM_LBUTTONUP:
        if (dragging_) {
            ReleaseCapture();
        } else if (pressedOnTrack_) {
            const int value = ValueAt(GET_Y_LPARAM(lParam));
            if (value != value_) MoveTo(value);
        }
        pressedOnTrack_ = false;
        return Default(message, wParam, lParam);
    case WM_CAPTURECHANGED:
        dragging_ = false;
        return Default(message, wParam, lParam);
    case WM_MOUSEWHEEL: {
        const long long step = GET_WHEEL_DELTA_WPARAM(wParam) > 0 ? wheelStep_ : -static_cast<long long>(wheelStep_);
        const long long wanted = std::clamp<long long>(value_ + step, std::min(bottom_, top_), std::max(bottom_, top_));
        if (wanted != value_) MoveTo(static_cast<int>(wanted));
        return 0;
    }
    case WM_MOUSELEAVE: {
        hot_ = false;
        const LRESULT result = Default(message, wParam, lParam);
        hover_.OnMouseLeave(hwnd());
        Redraw();
        return result;
    }
    case WM_ENABLE:
        return DefaultThenRedraw(message, wParam, lParam);
    default:
        return Default(message, wParam, lParam);
    }
}

bool CMixaraLikeSliderCtrl::OnReflected(UINT message, WPARAM wParam, LPARAM, LRESULT& result)
{
    return panel_controls::TransparentStaticColour(message, wParam, result);
}
