#include "FolderBrowser.h"

#include <objbase.h>
#include <shlobj.h>

namespace {

int CALLBACK OnBrowserEvent(HWND browser, UINT message, LPARAM, LPARAM start)
{
    if (message == BFFM_INITIALIZED && start) SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, start);
    return 0;
}

}  // namespace

std::optional<std::wstring> BrowseForFolder(HWND owner, const std::wstring& current)
{
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    info.lpfn = OnBrowserEvent;
    info.lParam = current.empty() ? 0 : reinterpret_cast<LPARAM>(current.c_str());
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    if (!chosen) return std::nullopt;
    wchar_t path[MAX_PATH] = {};
    const bool resolved = SHGetPathFromIDListW(chosen, path) && path[0];
    CoTaskMemFree(chosen);
    if (!resolved) return std::nullopt;
    return std::wstring(path);
}
