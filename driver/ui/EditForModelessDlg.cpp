#include "EditForModelessDlg.h"

LRESULT CEditForModelessDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CHAR) {
        switch (wParam) {
        case VK_TAB:
        case VK_RETURN:
            SendMessageW(GetParent(hwnd()), kAcceptMessage, 0, 0);
            return 0;
        case VK_ESCAPE:
            SendMessageW(GetParent(hwnd()), kEscapeMessage, 0, 0);
            return 0;
        default:
            break;
        }
    }
    return Default(message, wParam, lParam);
}
