// One tooltip control for a dialog, with one tool per control window.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CToolTips {
public:
    CToolTips() = default;
    CToolTips(const CToolTips&) = delete;
    CToolTips& operator=(const CToolTips&) = delete;
    ~CToolTips();

    // Always shown, even when the dialog is inactive; lines up to 32767 pixels wide.
    bool Create(HWND owner);
    void Destroy();
    // Adds the tool the first time, then changes its text.
    void Set(HWND control, const std::wstring& text);
    std::wstring Text(HWND control) const;
    HWND hwnd() const { return window_; }

private:
    HWND window_ = nullptr;
    HWND owner_ = nullptr;
    std::vector<HWND> tools_;
};
