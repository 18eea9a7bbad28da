// A 16 x 16 icon drawn with its transparency over whatever is behind the static.
#pragma once

#include <controls/HoverNotifier.h>
#include <controls/SubclassedWindow.h>

#include <commctrl.h>

#include <memory>
#include <type_traits>

class CCTransparentIcon : public CSubclassedWindow {
public:
    // Copies the icon (the caller keeps its own) and sizes the control to 16 x 16 without moving it.
    bool SetIconImage(HICON icon);
    void SetNotifyTarget(HWND window, UINT message) { hover_.SetTarget(window, message); }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    struct ImageListDeleter {
        void operator()(HIMAGELIST list) const { ImageList_Destroy(list); }
    };
    std::unique_ptr<std::remove_pointer_t<HIMAGELIST>, ImageListDeleter> images_;
    CHoverNotifier hover_;
};
