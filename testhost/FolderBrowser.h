// The system's folder browser.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

// File-system folders only; opens at current when it is not empty. Nothing on cancel or when the
// choice has no file-system path.
std::optional<std::wstring> BrowseForFolder(HWND owner, const std::wstring& current);
