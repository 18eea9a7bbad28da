// A vertical bitmap fader on a static: the value grows upwards. Every change made with the mouse
// or the wheel is sent to the parent as WM_VSCROLL (SB_THUMBTRACK, the value in the high word,
// lParam the fader); a click on the track moves the value when the button is released.
#pragma once

#include <controls/GdiObjects.h>
#include <controls/HoverNotifier.h>
#include <controls/SubclassedWindow.h>

class CMixaraLikeSliderCtrl : public CSubclassedWindow {
public:
    CMixaraLikeSliderCtrl();

    // The thumb is drawn only when all three load with one size. margin is where the plain line
    // of a fader without track bitmap starts and ends.
    void SetThumbBitmaps(int normalId, int hotId, int disabledId, int margin);
    void SetTrackBitmap(int id);
    void SetLineColour(COLORREF colour);
    void SetBackColour(COLORREF colour) { backColour_ = colour; }
    void SetRange(int bottomValue, int topValue);
    // Clamped to the range; redraws only on a change. The parent is not told.
    void SetValue(int value);
    int GetValue() const { return value_; }
    void SetWheelStep(int step) { wheelStep_ = step; }
    void SetNotifyTarget(HWND window, UINT message) { hover_.SetTarget(window, message); }

    // In client coordinates, for the current value and size.
    RECT ThumbRect() const;
    // The value a mouse at client height y stands for.
    int ValueAt(int y) const;

protected:
    void OnAttached() override { parent_ = GetParent(hwnd()); }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    int Clamped(int value) const;
    // Stores a value the user chose and tells the parent.
    void MoveTo(int value);
    void Paint(HDC dc) const;
    void OnMouseMove(int y);

    int bottom_ = 0, top_ = 0, value_ = 0;
    int wheelStep_ = 1;
    bool dragging_ = false;
    bool pressedOnTrack_ = false;
    bool hot_ = false;
    UniqueBitmap track_;
    UniqueBitmap normalThumb_, hotThumb_, disabledThumb_;
    bool thumbsValid_ = false;
    SIZE thumbSize_{0, 0};
    int margin_ = 0;
    COLORREF backColour_ = RGB(128, 128, 128);
    UniquePen linePen_;
    HWND parent_ = nullptr;
    CHoverNotifier hover_;
};
