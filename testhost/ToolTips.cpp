#include "ToolTips.h"

#include <commctrl.h>

#include <algorithm>
#include <iterator>

namespace {

// The size every version of the common controls accepts.
TTTOOLINFOW ToolFor(HWND owner, HWND control, const std::wstring* text)
{
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = owner;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = text ? const_cast<wchar_t*>(text->c_str()) : nullptr;
    return tool;
}

}  // namespace

CToolTips::~CToolTips() { Destroy(); }

bool CToolTips::Create(HWND owner)
{
    Destroy();
    window_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, nullptr, nullptr);
    if (!window_) return false;
    owner_ = owner;
    SendMessageW(window_, TTM_SETMAXTIPWIDTH, 0, 32767);
    return true;
}

void CToolTips::Destroy()
{
    if (window_ && IsWindow(window_)) DestroyWindow(window_);
    window_ = nullptr;
    tools_.clear();
}

void CToolTips::Set(HWND control, const std::wstring& text)
{
    if (!window_ || !control) return;
    TTTOOLINFOW tool = ToolFor(owner_, control, &text);
    const bool known = std::find(tools_.begin(), tools_.end(), control) != tools_.end();
    if (known) {
        SendMessageW(window_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    } else if (SendMessageW(window_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool))) {
        tools_.push_back(control);
    }
}

std::wstring CToolTips::Text(HWND control) const
{
    if (!window_ || !control) return {};
    wchar_t buffer[1024] = {};
    TTTOOLINFOW tool = ToolFor(owner_, control, nullptr);
    tool.lpszText = buffer;
    // The buffer size in wParam is honoured by common controls 6 and by Wine.
    SendMessageW(window_, TTM_GETTEXTW, static_cast<WPARAM>(std::size(buffer)), reinterpret_cast<LPARAM>(&tool));
    return buffer;
}
