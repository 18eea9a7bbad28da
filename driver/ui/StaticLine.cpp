#include "StaticLine.h"

#include "PanelControlSupport.h"

#include <iterator>

namespace {

constexpr COLORREF kNormalColour = RGB(157, 157, 161);
constexpr COLORREF kAlertColour = RGB(255, 0, 0);
constexpr COLORREF kDisabledColour = RGB(92, 92, 92);
// The curves take this much width at each end; the straight part runs between them.
constexpr int kBend = 30;

}  // namespace

CStaticLine::CStaticLine() : disabledPen_(CreatePen(PS_SOLID, 1, kDisabledColour))
{
    SetColour(kNormalColour);
}

void CStaticLine::SetColour(COLORREF colour)
{
    colour_ = colour;
    normalPen_.Reset(CreatePen(PS_SOLID, 1, colour));
}

void CStaticLine::SetNormalColour(bool redraw)
{
    SetColour(kNormalColour);
    if (redraw) Redraw();
}

void CStaticLine::SetAlertColour()
{
    SetColour(kAlertColour);
    Redraw();
}

void CStaticLine::Paint(HDC dc) const
{
    const SIZE size = panel_controls::ClientSize(hwnd());
    const int w = size.cx, h = size.cy;
    const bool enabled = IsWindowEnabled(hwnd());
    if (shape_ == 0) {
        const RECT bar{0, 0, w, h - 1};
        const COLORREF oldBack = SetBkColor(dc, enabled ? colour_ : kDisabledColour);
        ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &bar, nullptr, 0, nullptr);
        SetBkColor(dc, oldBack);
        return;
    }
    if (shape_ < 1 || shape_ > 3) return;
    SelectedObject brush(dc, GetStockObject(NULL_BRUSH));
    SelectedObject pen(dc, enabled ? normalPen_.get() : disabledPen_.get());
    auto segment = [dc](int x0, int y0, int x1, int y1) {
        MoveToEx(dc, x0, y0, nullptr);
        LineTo(dc, x1, y1);
    };
    const int b = kBend, b2 = 2 * kBend;
    if (shape_ == 3) {
        const int mid = h / 2;
        const POINT up[] = {{0, mid}, {b, mid}, {b, 0}, {b2, 0}}, down[] = {{0, mid}, {b, mid}, {b, h}, {b2, h}};
        PolyBezier(dc, up, std::size(up));
        PolyBezier(dc, down, std::size(down));
        segment(b2, 0, w, 0);
        segment(b2, h, w, h);
        return;
    }
    // Shapes 1 and 2: both ends bend from the corners to the straight part near the middle.
    const int edge = shape_ == 1 ? 0 : h, m = shape_ == 1 ? h / 2 + 2 : h / 2 - 2;
    const POINT left[] = {{0, edge}, {b, edge}, {b, m}, {b2, m}},
                right[] = {{w, edge}, {w - b, edge}, {w - b, m}, {w - b2, m}};
    PolyBezier(dc, left, std::size(left));
    PolyBezier(dc, right, std::size(right));
    segment(b2, m, w - b2 + 1, m);
}

LRESULT CStaticLine::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND:
        Default(message, wParam, lParam);
        Paint(reinterpret_cast<HDC>(wParam));
        return 1;
    case WM_ENABLE:
        return DefaultThenRedraw(message, wParam, lParam);
    default:
        return Default(message, wParam, lParam);
    }
}

bool CStaticLine::OnReflected(UINT message, WPARAM wParam, LPARAM, LRESULT& result)
{
    return panel_controls::TransparentStaticColour(message, wParam, result);
}
