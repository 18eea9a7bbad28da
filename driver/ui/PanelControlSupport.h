// Small drawing steps the control panel's own controls share.
#pragma once

#include <windows.h>

namespace panel_controls {

// A bitmap at (x, y), clipped to size; an empty slot draws nothing.
inline void DrawBitmap(HDC dc, HBITMAP bitmap, int x, int y, SIZE size)
{
    if (bitmap)
        DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(bitmap), 0, x, y, size.cx, size.cy, DST_BITMAP);
}

// The reflected colour message of a static that paints itself: the parent paints nothing over it.
inline bool TransparentStaticColour(UINT message, WPARAM wParam, LRESULT& result)
{
    if (message != WM_CTLCOLORSTATIC) return false;
    SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
    result = reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
    return true;
}

inline SIZE ClientSize(HWND window)
{
    RECT client{};
    GetClientRect(window, &client);
    return SIZE{client.right, client.bottom};
}

}  // namespace panel_controls
