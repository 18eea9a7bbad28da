// The test host window's background: the skin's blue over everything but a strip at the bottom
// left in the standard dialog colour, with a band of tiled art along the top of that strip.
#pragma once

#include <controls/GdiObjects.h>

#include <windows.h>

inline constexpr COLORREF kDialogBackground = RGB(58, 87, 115);
inline constexpr int kBottomStripHeight = 38;

class CDialogBackground {
public:
    // tileId: the band's tile in module.
    CDialogBackground(HINSTANCE module, int tileId);

    // Tiles the band once across the dialog's client width (which never changes).
    void BuildBand(HWND dialog);
    void Erase(HWND dialog, HDC dc) const;
    // While minimised: the icon in the middle of the area above the strip.
    void PaintIcon(HWND dialog, HICON icon) const;

private:
    UniqueBitmap tile_;
    UniqueBitmap band_;
    SIZE bandSize_{0, 0};
    UniqueBrush fill_;
};
