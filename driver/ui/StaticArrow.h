// A bitmap arrow button on a static. The click reaches the parent as the static's own
// SS_NOTIFY click; with auto repeat, holding the button down repeats that WM_COMMAND (id, 0)
// every period until the button is released.
#pragma once

#include <controls/GdiObjects.h>
#include <controls/HoverNotifier.h>
#include <controls/SubclassedWindow.h>

class CStaticArrow : public CSubclassedWindow {
public:
    static constexpr UINT_PTR kRepeatTimer = 6535;

    // Drawn at the size of the enabled image.
    void SetBitmaps(int enabledId, int disabledId);
    void SetAutoRepeat(bool on, UINT periodMs);
    void SetNotifyTarget(HWND window, UINT message) { hover_.SetTarget(window, message); }

protected:
    void OnAttached() override { parent_ = GetParent(hwnd()); }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void StopRepeat();

    bool autoRepeat_ = false;
    UINT periodMs_ = 0;
    SIZE size_{0, 0};
    UniqueBitmap enabled_, disabled_;
    HWND parent_ = nullptr;
    CHoverNotifier hover_;
};
