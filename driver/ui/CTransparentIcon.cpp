#include "CTransparentIcon.h"

#include "PanelControlSupport.h"

namespace {

constexpr int kIconSize = 16;

}  // namespace

bool CCTransparentIcon::SetIconImage(HICON icon)
{
    decltype(images_) images(ImageList_Create(kIconSize, kIconSize, ILC_COLOR32, 1, 1));
    if (!images || ImageList_ReplaceIcon(images.get(), -1, icon) < 0) return false;
    images_ = std::move(images);
    if (hwnd()) {
        SetWindowPos(hwnd(), nullptr, 0, 0, kIconSize, kIconSize, SWP_NOMOVE | SWP_NOZORDER);
        Invalidate();
    }
    return true;
}

LRESULT CCTransparentIcon::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND:
        if (images_) ImageList_Draw(images_.get(), 0, reinterpret_cast<HDC>(wParam), 0, 0, ILD_TRANSPARENT);
        return 1;
    // Over a picture the icon is found by the mouse only if it says so (for its tooltip).
    case WM_NCHITTEST:
        return HTCLIENT;
    default:
        hover_.Track(hwnd(), message);
        return Default(message, wParam, lParam);
    }
}

bool CCTransparentIcon::OnReflected(UINT message, WPARAM wParam, LPARAM, LRESULT& result)
{
    return panel_controls::TransparentStaticColour(message, wParam, result);
}
