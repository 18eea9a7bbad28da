// File-name helpers shared by both programs.
#pragma once

#include <string>

// The name of a path's last element without its extension: "C:\a.b\song.final.wav" gives "song.final".
inline std::wstring FileTitleOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) name.resize(dot);
    return name;
}
