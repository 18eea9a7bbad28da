#include "ProductVersion.h"

#include <windows.h>

#include <cwchar>
#include <iterator>
#include <vector>

std::wstring OwnProductVersion()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    DWORD unused = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &unused);
    if (size == 0) return {};
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path, 0, size, block.data())) return {};

    // The first translation names the string table to read.
    void* value = nullptr;
    UINT bytes = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &bytes) || bytes < 2 * sizeof(WORD))
        return {};
    const WORD language = static_cast<const WORD*>(value)[0], codePage = static_cast<const WORD*>(value)[1];
    wchar_t query[64];
    std::swprintf(query, std::size(query), L"\\StringFileInfo\\%02lX%02lX%02lX%02lX\\ProductVersion",
                  static_cast<unsigned long>(HIBYTE(language)), static_cast<unsigned long>(LOBYTE(language)),
                  static_cast<unsigned long>(HIBYTE(codePage)), static_cast<unsigned long>(LOBYTE(codePage)));
    UINT units = 0;
    if (!VerQueryValueW(block.data(), query, &value, &units) || !value || units == 0) return {};
    const auto* version = static_cast<const wchar_t*>(value);
    return std::wstring(version, wcsnlen(version, units));
}
