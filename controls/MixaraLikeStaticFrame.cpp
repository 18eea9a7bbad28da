#include "MixaraLikeStaticFrame.h"

CMixaraLikeStaticFrame::CMixaraLikeStaticFrame()
{
    MakeObjects(kFrameOutlineColour);
}

void CMixaraLikeStaticFrame::MakeObjects(COLORREF outline)
{
    outlineColour_ = outline;
    fill_.Reset(CreateSolidBrush(kFrameFillColour));
    outline_.Reset(CreatePen(PS_SOLID, 1, outline));
    edge_.Reset(CreatePen(PS_SOLID, 1, kFrameFillColour));
}

void CMixaraLikeStaticFrame::SetHighlightOutline()
{
    MakeObjects(kFrameHighlightOutlineColour);
    Redraw();
}

LRESULT CMixaraLikeStaticFrame::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_ERASEBKGND) return Default(message, wParam, lParam);
    HDC dc = reinterpret_cast<HDC>(wParam);
    RECT client{};
    GetClientRect(hwnd(), &client);
    SelectedObject brush(dc, fill_.get());
    {
        SelectedObject pen(dc, edge_.get());
        Rectangle(dc, client.left, client.top, client.right, client.bottom);
    }
    SelectedObject pen(dc, outline_.get());
    RoundRect(dc, client.left, client.top + 6, client.right, client.bottom, 5, 5);
    return 1;
}

bool CMixaraLikeStaticFrame::OnReflected(UINT message, WPARAM wParam, LPARAM, LRESULT& result)
{
    if (message != WM_CTLCOLORSTATIC) return false;
    SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
    result = reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
    return true;
}
