#include "MixaraLikeStaticFrameAuto.h"

#include <vector>

namespace {

RECT RectInParent(HWND window)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void MoveBy(HWND window, int dy)
{
    const RECT rect = RectInParent(window);
    SetWindowPos(window, nullptr, rect.left, rect.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

bool CMixaraLikeStaticFrameAuto::CreateFrame(bool bold)
{
    HWND placeholder = hwnd();
    HWND parent = placeholder ? GetParent(placeholder) : nullptr;
    if (!parent || frame_.hwnd()) return false;
    const RECT rect = RectInParent(placeholder);
    const WPARAM font = SendMessageW(parent, WM_GETFONT, 0, 0);

    if (!frame_.Create(L"Static", L"", WS_CHILD | SS_LEFT, rect, parent, kFrameChildId)) return false;
    SendMessageW(frame_.hwnd(), WM_SETFONT, font, FALSE);
    frame_.SetHighlightOutline();
    SetWindowPos(frame_.hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW | SWP_NOACTIVATE);

    if (!title_.Create(L"Static", L"", WS_CHILD | SS_LEFT | SS_NOPREFIX, rect, parent, kFrameChildId)) return false;
    title_.SetBackgroundColour(kFrameFillColour);
    SendMessageW(title_.hwnd(), WM_SETFONT, font, FALSE);
    title_.SetTextColour(kFrameTitleColour, bold, false);

    const int length = GetWindowTextLengthW(placeholder);
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1);
    GetWindowTextW(placeholder, text.data(), length + 1);
    SetTitle(text.data());

    SetWindowPos(title_.hwnd(), frame_.hwnd(), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ShowWindow(placeholder, SW_HIDE);
    return true;
}

void CMixaraLikeStaticFrameAuto::SetTitle(const std::wstring& text)
{
    HWND label = title_.hwnd();
    if (!label) return;
    if (text.empty()) {
        ShowWindow(label, SW_HIDE);
        return;
    }
    SIZE extent{};
    {
        ClientDC dc(label);
        SelectedObject font(dc.get(), reinterpret_cast<HGDIOBJ>(SendMessageW(label, WM_GETFONT, 0, 0)));
        GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent);
    }
    // Placed by the drawn frame, which MoveVertically keeps in step with the title.
    const RECT frame = RectInParent(frame_.hwnd());
    SetWindowPos(label, nullptr, frame.left + 9, frame.top, extent.cx + 2, 18, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowTextW(label, text.c_str());
    ShowWindow(label, SW_SHOWNA);
}

void CMixaraLikeStaticFrameAuto::MoveVertically(int dy)
{
    if (frame_.hwnd()) MoveBy(frame_.hwnd(), dy);
    if (title_.hwnd()) MoveBy(title_.hwnd(), dy);
}
