// Registry helpers for tests that use the prefix's real registry.
#pragma once

#include <windows.h>
#include <shlwapi.h>

#include <string>

inline void DeleteTree(HKEY root, const std::wstring& path) { SHDeleteKeyW(root, path.c_str()); }

inline bool KeyExists(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

inline bool ReadDwordValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD& value)
{
    DWORD size = sizeof(value);
    return RegGetValueW(root, path.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS;
}

inline std::wstring ReadStringValue(HKEY root, const std::wstring& path, const wchar_t* name)
{
    wchar_t text[512] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) return {};
    return text;
}

inline void WriteRawValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data,
                          DWORD size)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}
