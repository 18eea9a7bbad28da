// Places of a dialog's child windows in their parent's client coordinates.
#pragma once

#include <windows.h>

inline RECT ChildRect(HWND child)
{
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

inline void MoveChild(HWND child, int x, int y)
{
    SetWindowPos(child, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

inline void ResizeChild(HWND child, int width, int height)
{
    SetWindowPos(child, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}
