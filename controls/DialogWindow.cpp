#include "DialogWindow.h"

namespace {

// Messages whose answer is the dialog procedure's own return value rather than DWLP_MSGRESULT.
bool AnswersDirectly(UINT message)
{
    switch (message) {
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
        return true;
    default:
        return false;
    }
}

}  // namespace

CDialogWindow::~CDialogWindow()
{
    if (hwnd_ && !modal_) DestroyWindow(hwnd_);
}

INT_PTR CDialogWindow::RunModal(HINSTANCE module, int templateId, HWND parent)
{
    if (hwnd_) return -1;
    modal_ = true;
    return DialogBoxParamW(module, MAKEINTRESOURCEW(templateId), parent, Proc, reinterpret_cast<LPARAM>(this));
}

HWND CDialogWindow::CreateModeless(HINSTANCE module, int templateId, HWND parent)
{
    if (hwnd_) return nullptr;
    modal_ = false;
    return CreateDialogParamW(module, MAKEINTRESOURCEW(templateId), parent, Proc, reinterpret_cast<LPARAM>(this));
}

void CDialogWindow::Close(INT_PTR result)
{
    if (!hwnd_) return;
    if (modal_)
        EndDialog(hwnd_, result);
    else
        DestroyWindow(hwnd_);
}

INT_PTR CALLBACK CDialogWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        reinterpret_cast<CDialogWindow*>(lParam)->hwnd_ = window;
    }
    auto* self = reinterpret_cast<CDialogWindow*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!self) return FALSE;
    LRESULT result = 0;
    const bool handled = self->OnMessage(message, wParam, lParam, result);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, DWLP_USER, 0);
        self->hwnd_ = nullptr;
    }
    if (!handled) return message == WM_INITDIALOG ? TRUE : FALSE;
    if (AnswersDirectly(message)) return static_cast<INT_PTR>(result);
    SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}
