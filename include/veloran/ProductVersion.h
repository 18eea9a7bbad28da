// The "ProductVersion" text of a module's version resource (its first translation), read from the
// mapped resource, so that a module loaded as a data file works as well. Empty when there is none.
#pragma once

#include <windows.h>

#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

inline std::wstring ModuleProductVersion(HMODULE module)
{
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const auto* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (!data) return {};
    // VerQueryValueW may write into the block.
    std::vector<BYTE> block(data, data + SizeofResource(module, found));

    void* value = nullptr;
    UINT bytes = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &bytes) || bytes < 2 * sizeof(WORD))
        return {};
    const WORD language = static_cast<const WORD*>(value)[0], codePage = static_cast<const WORD*>(value)[1];
    wchar_t query[64];
    std::swprintf(query, std::size(query), L"\\StringFileInfo\\%02X%02X%02X%02X\\ProductVersion",
                  unsigned(HIBYTE(language)), unsigned(LOBYTE(language)), unsigned(HIBYTE(codePage)),
                  unsigned(LOBYTE(codePage)));
    UINT units = 0;
    if (!VerQueryValueW(block.data(), query, &value, &units) || !value || units == 0) return {};
    const auto* text = static_cast<const wchar_t*>(value);
    return std::wstring(text, wcsnlen(text, units));
}
