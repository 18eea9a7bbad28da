#include "ComboBoxBuddy.h"

#include "ColorStatic.h"

CComboBoxBuddy::~CComboBoxBuddy()
{
    if (buddy_ && buddy_->Buddy() == this) buddy_->SetBuddy(nullptr);
}

void CComboBoxBuddy::LightBuddy(bool on)
{
    if (buddy_ && buddy_->HoverEnabled()) buddy_->SetHovered(on);
}

LRESULT CComboBoxBuddy::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_MOUSEMOVE:
        if (buddy_) {
            LightBuddy(true);
            if (!tracking_) {
                TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, hwnd(), 0};
                TrackMouseEvent(&track);
                tracking_ = true;
            }
        }
        return Default(message, wParam, lParam);
    case WM_MOUSELEAVE: {
        tracking_ = false;
        const LRESULT result = Default(message, wParam, lParam);
        LightBuddy(false);
        return result;
    }
    default:
        return Default(message, wParam, lParam);
    }
}

bool CComboBoxBuddy::OnReflected(UINT message, WPARAM wParam, LPARAM, LRESULT& result)
{
    switch (message) {
    case WM_COMMAND:
        switch (HIWORD(wParam)) {
        case CBN_DROPDOWN:
            result = 0;
            return true;
        case CBN_CLOSEUP:
            if (buddy_ && buddy_->hwnd()) SetFocus(buddy_->hwnd());
            result = 0;
            return true;
        default:
            return false;
        }
    // The selection field asks with the edit colour, or the static colour while disabled.
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORLISTBOX: {
        if (!customColours_) return false;
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, RGB(133, 151, 169));
        SetBkColor(dc, RGB(3, 5, 7));
        SetBkMode(dc, TRANSPARENT);
        result = reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
        return true;
    }
    default:
        return false;
    }
}

void LinkBuddies(CColorStatic& label, CComboBoxBuddy& combo)
{
    label.SetBuddy(&combo);
    combo.SetBuddy(&label);
}
