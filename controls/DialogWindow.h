// A dialog made from a template, modal or modeless, whose messages go to a member function.
#pragma once

#include <windows.h>

class CDialogWindow {
public:
    CDialogWindow() = default;
    CDialogWindow(const CDialogWindow&) = delete;
    CDialogWindow& operator=(const CDialogWindow&) = delete;
    // A modeless window still open is destroyed.
    virtual ~CDialogWindow();

    // Runs the modal loop; the result passed to Close, or -1 when the window could not be made.
    INT_PTR RunModal(HINSTANCE module, int templateId, HWND parent);
    // Null when the window could not be made.
    HWND CreateModeless(HINSTANCE module, int templateId, HWND parent);
    HWND hwnd() const { return hwnd_; }
    bool Modal() const { return modal_; }
    // Ends the modal loop, or destroys the modeless window.
    void Close(INT_PTR result);

protected:
    // True when handled, with the message's answer in result (for WM_INITDIALOG: whether the
    // system should set the focus).
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;

private:
    static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
    bool modal_ = false;
};
