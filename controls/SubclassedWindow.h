// Base of the drawn controls: ties an object to a window of a system class (static, combo box)
// and routes the window's messages through the object.
//
// It uses the common controls' SetWindowSubclass rather than replacing GWLP_WNDPROC: subclasses
// chain safely in any order (tooltips and owners may subclass the same windows), removal is safe
// from inside a message, and GWLP_USERDATA stays free for the owners. A window property, named
// per module, finds the object from its window.
//
// Statics send their colour and notification messages to the parent; the parent is subclassed
// too, and hands each such message whose sender is one of these controls back to it
// (OnReflected) before the parent's own procedure sees it.
#pragma once

#include "GdiObjects.h"

#include <windows.h>

// The module that holds the controls' code: their bitmaps are loaded from it and the windows
// they create belong to it.
HINSTANCE ControlsModule();
UniqueBitmap LoadControlBitmap(int id);

class CSubclassedWindow {
public:
    CSubclassedWindow() = default;
    CSubclassedWindow(const CSubclassedWindow&) = delete;
    CSubclassedWindow& operator=(const CSubclassedWindow&) = delete;
    // A window this object created is destroyed with it; an attached one is only let go.
    virtual ~CSubclassedWindow();

    // False when the window is missing or already belongs to another control object.
    bool Attach(HWND window);
    bool SubclassDlgItem(HWND parent, int id) { return Attach(GetDlgItem(parent, id)); }
    bool Create(const wchar_t* className, const wchar_t* text, DWORD style, const RECT& rect, HWND parent, int id,
                DWORD exStyle = 0);
    void Detach();

    HWND hwnd() const { return hwnd_; }
    int Id() const { return hwnd_ ? GetDlgCtrlID(hwnd_) : 0; }
    // Erases and repaints the whole client area now.
    void Redraw() const;
    // Leaves it to the next paint: for set-up calls, which often come before the window shows.
    void Invalidate() const { if (hwnd_) InvalidateRect(hwnd_, nullptr, TRUE); }

    static CSubclassedWindow* FromHandle(HWND window);

protected:
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The window's own handling (the next procedure in the chain).
    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);
    // The default handling, then a redraw: for messages that change how the control looks,
    // such as WM_ENABLE.
    LRESULT DefaultThenRedraw(UINT message, WPARAM wParam, LPARAM lParam);
    // A colour, command, notify or scroll message the parent received from this window. Returns
    // true with the answer in result to keep it from the parent.
    virtual bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    virtual void OnAttached() {}

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR self);
    static LRESULT CALLBACK ReflectProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                        DWORD_PTR unused);

    HWND hwnd_ = nullptr;
    bool created_ = false;
};
