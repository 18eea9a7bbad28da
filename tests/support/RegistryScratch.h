// Registry helpers for tests that use the prefix's real registry. HKEY_LOCAL_MACHINE is read and
// written in the driver's settings view, the 64-bit one, at either bitness, unless a test asks for
// its own process's view (the registration entries).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

constexpr REGSAM kSettingsView = KEY_WOW64_64KEY;
constexpr REGSAM kOwnView = 0;

inline void DeleteTree(HKEY root, const std::wstring& path, REGSAM view = kSettingsView)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS) return;
    RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
    RegDeleteKeyExW(root, path.c_str(), view, 0);
}

inline bool KeyExists(HKEY root, const std::wstring& path, REGSAM view = kSettingsView)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Reads a value of one type through a key opened in the view asked for.
inline bool ReadValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, void* data, DWORD& size,
                      REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return false;
    const bool read = RegGetValueW(key, nullptr, name, type, nullptr, data, &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return read;
}

inline bool ReadDwordValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD& value,
                           REGSAM view = kSettingsView)
{
    DWORD size = sizeof(value);
    return ReadValue(root, path, name, RRF_RT_REG_DWORD, &value, size, view);
}

inline std::wstring ReadStringValue(HKEY root, const std::wstring& path, const wchar_t* name,
                                    REGSAM view = kSettingsView)
{
    wchar_t text[512] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    return ReadValue(root, path, name, RRF_RT_REG_SZ, text, size, view) ? text : std::wstring();
}

inline void WriteRawValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data,
                          DWORD size, REGSAM view = kSettingsView)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

// A REG_MULTI_SZ value of these strings, terminated as Windows stores them.
inline void WriteMultiStringValue(HKEY root, const std::wstring& path, const wchar_t* name,
                                  const std::vector<std::wstring>& strings, REGSAM view = kSettingsView)
{
    std::vector<wchar_t> data;
    for (const std::wstring& text : strings) {
        data.insert(data.end(), text.begin(), text.end());
        data.push_back(L'\0');
    }
    data.push_back(L'\0');
    WriteRawValue(root, path, name, REG_MULTI_SZ, data.data(), DWORD(data.size() * sizeof(wchar_t)), view);
}
