// A channel number shown as a bitmap (numbers 1 to 16, blank otherwise), with an optional red
// highlight frame. Clickable through the static's own SS_NOTIFY.
#pragma once

#include <controls/GdiObjects.h>
#include <controls/HoverNotifier.h>
#include <controls/SubclassedWindow.h>

#include <array>

class CMixaraLikeNumberBox : public CSubclassedWindow {
public:
    static constexpr int kNumbers = 16;

    CMixaraLikeNumberBox();

    // Loads firstId .. firstId + 15 (numbers 1 to 16) and the blank image, sizes the control to
    // the image of number 1 without moving it, and shows the blank one.
    void SetDigitBitmaps(int firstId, int blankId);
    // Enables the control; anything outside 1..16 shows the blank image.
    void ShowNumber(int number);
    // The owner redraws.
    void SetHighlight(bool on) { highlighted_ = on; }
    void SetNotifyTarget(HWND window, UINT message) { hover_.SetTarget(window, message); }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    SIZE size_{0, 0};
    std::array<UniqueBitmap, kNumbers> numbers_;
    UniqueBitmap blank_;
    HBITMAP current_ = nullptr;  // one of the above, or none before SetDigitBitmaps
    bool highlighted_ = false;
    UniquePen highlightPen_;
    CHoverNotifier hover_;
};
