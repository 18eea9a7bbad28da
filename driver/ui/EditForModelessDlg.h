// A channel-name edit for the modeless control panel, which gets no dialog keyboard handling:
// Escape sends kEscapeMessage to the parent, Tab and Enter send kAcceptMessage (both with
// wParam 0, lParam 0), and none of the three is typed.
#pragma once

#include <controls/SubclassedWindow.h>

class CEditForModelessDlg : public CSubclassedWindow {
public:
    static constexpr UINT kEscapeMessage = WM_USER + 14;
    static constexpr UINT kAcceptMessage = WM_USER + 15;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};
