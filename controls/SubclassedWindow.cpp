#include "SubclassedWindow.h"

#include <commctrl.h>

#include <string>

namespace {

constexpr UINT_PTR kControlSubclassId = 0x56454C31;  // "VEL1"
constexpr UINT_PTR kReflectSubclassId = 0x56454C52;  // "VELR"

// Window property that points at a window's control object. Its name carries this module's
// address: the driver's controls and the test host's live in one process and must not meet.
const wchar_t* OwnerProperty()
{
    static const std::wstring name =
        L"VeloranControl." + std::to_wstring(reinterpret_cast<UINT_PTR>(ControlsModule()));
    return name.c_str();
}

// The window a parent's message came from, for the messages that are reflected.
HWND SenderOf(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSCROLLBAR:
    case WM_COMMAND:  // lParam is null for menus and accelerators
    case WM_HSCROLL:
    case WM_VSCROLL:
        return reinterpret_cast<HWND>(lParam);
    case WM_NOTIFY:
        return lParam ? reinterpret_cast<const NMHDR*>(lParam)->hwndFrom : nullptr;
    case WM_DRAWITEM: {
        auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        return item && item->CtlType != ODT_MENU ? item->hwndItem : nullptr;
    }
    default:
        return nullptr;
    }
}

}  // namespace

HINSTANCE ControlsModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ControlsModule), &module);
    return module;
}

UniqueBitmap LoadControlBitmap(int id)
{
    return UniqueBitmap(LoadBitmapW(ControlsModule(), MAKEINTRESOURCEW(id)));
}

CSubclassedWindow::~CSubclassedWindow()
{
    HWND window = hwnd_;
    const bool created = created_;
    // Let go first, so that the destruction reaches no handler of a half-destroyed object.
    Detach();
    if (created && window) DestroyWindow(window);
}

bool CSubclassedWindow::Attach(HWND window)
{
    if (!window || FromHandle(window)) return false;
    Detach();
    if (!SetWindowSubclass(window, SubclassProc, kControlSubclassId, reinterpret_cast<DWORD_PTR>(this))) return false;
    SetPropW(window, OwnerProperty(), this);
    hwnd_ = window;
    // Installing it again on the same parent only replaces its (unused) data.
    if (HWND parent = GetParent(window)) SetWindowSubclass(parent, ReflectProc, kReflectSubclassId, 0);
    OnAttached();
    return true;
}

bool CSubclassedWindow::Create(const wchar_t* className, const wchar_t* text, DWORD style, const RECT& rect,
                               HWND parent, int id, DWORD exStyle)
{
    HWND window = CreateWindowExW(exStyle, className, text, style, rect.left, rect.top, rect.right - rect.left,
                                  rect.bottom - rect.top, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                  ControlsModule(), nullptr);
    if (!window) return false;
    if (!Attach(window)) {
        DestroyWindow(window);
        return false;
    }
    created_ = true;
    return true;
}

void CSubclassedWindow::Detach()
{
    if (hwnd_) {
        RemoveWindowSubclass(hwnd_, SubclassProc, kControlSubclassId);
        RemovePropW(hwnd_, OwnerProperty());
    }
    hwnd_ = nullptr;
    created_ = false;
}

LRESULT CSubclassedWindow::DefaultThenRedraw(UINT message, WPARAM wParam, LPARAM lParam)
{
    const LRESULT result = Default(message, wParam, lParam);
    Redraw();
    return result;
}

void CSubclassedWindow::Redraw() const
{
    if (!hwnd_) return;
    InvalidateRect(hwnd_, nullptr, TRUE);
    UpdateWindow(hwnd_);
}

CSubclassedWindow* CSubclassedWindow::FromHandle(HWND window)
{
    return window ? static_cast<CSubclassedWindow*>(GetPropW(window, OwnerProperty())) : nullptr;
}

LRESULT CSubclassedWindow::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    return Default(message, wParam, lParam);
}

LRESULT CSubclassedWindow::Default(UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefSubclassProc(hwnd_, message, wParam, lParam);
}

bool CSubclassedWindow::OnReflected(UINT, WPARAM, LPARAM, LRESULT&)
{
    return false;
}

LRESULT CALLBACK CSubclassedWindow::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                 DWORD_PTR self)
{
    auto* control = reinterpret_cast<CSubclassedWindow*>(self);
    if (message == WM_NCDESTROY) {
        LRESULT result = DefSubclassProc(window, message, wParam, lParam);
        control->Detach();
        return result;
    }
    return control->WindowProc(message, wParam, lParam);
}

LRESULT CALLBACK CSubclassedWindow::ReflectProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                DWORD_PTR)
{
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, ReflectProc, kReflectSubclassId);
        return DefSubclassProc(window, message, wParam, lParam);
    }
    HWND sender = SenderOf(message, wParam, lParam);
    if (sender && GetParent(sender) == window) {
        if (CSubclassedWindow* control = FromHandle(sender)) {
            LRESULT result = 0;
            if (control->OnReflected(message, wParam, lParam, result)) return result;
        }
    }
    return DefSubclassProc(window, message, wParam, lParam);
}
