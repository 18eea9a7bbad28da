// Owning registry key handle.
#pragma once

#include <windows.h>
#include <utility>

class RegKey {
public:
    RegKey() = default;
    explicit RegKey(HKEY key) : key_(key) {}
    RegKey(RegKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    RegKey& operator=(RegKey&& other) noexcept
    {
        if (this != &other) { Close(); key_ = std::exchange(other.key_, nullptr); }
        return *this;
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() { Close(); }

    static RegKey Open(HKEY parent, const wchar_t* path, REGSAM access = KEY_ALL_ACCESS)
    {
        HKEY key = nullptr;
        return RegKey(RegOpenKeyExW(parent, path, 0, access, &key) == ERROR_SUCCESS ? key : nullptr);
    }
    static RegKey Create(HKEY parent, const wchar_t* path, REGSAM access = KEY_ALL_ACCESS)
    {
        HKEY key = nullptr;
        return RegKey(RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key,
                                      nullptr) == ERROR_SUCCESS ? key : nullptr);
    }

    void Close() { if (HKEY old = std::exchange(key_, nullptr)) RegCloseKey(old); }
    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }

private:
    HKEY key_ = nullptr;
};
