// A two-state button drawn from three bitmaps (checked, unchecked, disabled) on a static. A
// click reports WM_COMMAND (the control's id, code 0) to the parent: with auto toggle the
// state flips first and the report is posted; without it the report is sent and the parent
// decides with SetCheck.
#pragma once

#include "GdiObjects.h"
#include "HoverNotifier.h"
#include "SubclassedWindow.h"

class CMixaraLikeCheckBox : public CSubclassedWindow {
public:
    // Loads the three images and sizes the control to the checked one, without moving it.
    void SetBitmaps(int checkedId, int uncheckedId, int disabledId);
    // Redraws when the state changes.
    void SetCheck(bool checked);
    bool GetCheck() const { return checked_; }
    void SetAutoToggle(bool on) { autoToggle_ = on; }
    // On: a disabled control keeps showing its checked or unchecked image.
    void SetIgnoreDisabled(bool on) { ignoreDisabled_ = on; }
    void SetNotifyTarget(HWND window, UINT message) { hover_.SetTarget(window, message); }
    SIZE Size() const { return size_; }

protected:
    void OnAttached() override { parent_ = GetParent(hwnd()); }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void OnClick();

    bool autoToggle_ = true;
    bool ignoreDisabled_ = false;
    bool checked_ = false;
    HWND parent_ = nullptr;
    SIZE size_{0, 0};
    UniqueBitmap checkedImage_;
    UniqueBitmap uncheckedImage_;
    UniqueBitmap disabledImage_;
    CHoverNotifier hover_;
};
