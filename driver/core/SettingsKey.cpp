#include "SettingsKey.h"

#include <algorithm>

#include <veloran/FileNames.h>

#include <objbase.h>

const wchar_t kDriverName[] = L"Asio 2.0 Veloran Driver";

// The settings live in the 64-bit registry view for drivers of both bitnesses: a host's settings
// and the defaults are one set whichever driver the host loads, and the setup grants users one key.
// The flag is ignored on 32-bit Windows, which has one view.
RegKey OpenLocalMachineKey(const wchar_t* path, REGSAM access, bool create)
{
    access |= KEY_WOW64_64KEY;
    return create ? RegKey::Create(HKEY_LOCAL_MACHINE, path, access) : RegKey::Open(HKEY_LOCAL_MACHINE, path, access);
}

CSettingsKey::CSettingsKey(REFCLSID clsid, const std::wstring& hostPath, SettingsKeyOpener open)
    : open_(open), driverName_(kDriverName), hostPath_(hostPath), hostName_(FileTitleOf(hostPath))
{
    LPOLESTR text = nullptr;
    classIdResult_ = StringFromCLSID(clsid, &text);
    if (SUCCEEDED(classIdResult_) && text) classIdText_ = text;
    CoTaskMemFree(text);
}

CSettingsKey CSettingsKey::ForThisProcess(REFCLSID clsid)
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return CSettingsKey(clsid, length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring());
}

std::wstring CSettingsKey::KeyPath() const
{
    const std::wstring driverKey = L"Software\\ASIO\\" + driverName_;
    if (hostName_.empty()) return driverKey + L"\\Default Parameters";
    return driverKey + L"\\" + hostName_ + L"\\Parameters";
}

RegKey CSettingsKey::OpenForReading() const { return open_(KeyPath().c_str(), KEY_QUERY_VALUE, false); }

// Creating a key creates the missing keys above it.
RegKey CSettingsKey::OpenForWriting() const { return open_(KeyPath().c_str(), KEY_SET_VALUE, true); }

bool CSettingsKey::TryReadDword(const wchar_t* name, uint32_t& value) const
{
    const RegKey key = OpenForReading();
    if (!key) return false;
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof(data);
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(data))
        return false;
    value = data;
    return true;
}

uint32_t CSettingsKey::ReadDword(const wchar_t* name, uint32_t defaultValue) const
{
    uint32_t value = defaultValue;
    return TryReadDword(name, value) ? value : defaultValue;
}

void CSettingsKey::WriteDword(const wchar_t* name, uint32_t value) const
{
    const RegKey key = OpenForWriting();
    if (!key) return;
    const DWORD data = value;
    RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
}

std::wstring CSettingsKey::ReadString(const wchar_t* name) const
{
    const RegKey key = OpenForReading();
    if (!key) return {};
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return {};
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    DWORD read = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &read) !=
            ERROR_SUCCESS || type != REG_SZ)
        return {};
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

DWORD CSettingsKey::ReadBinary(const std::wstring& name, void* buffer, DWORD maxBytes) const
{
    const RegKey key = OpenForReading();
    if (!key) return 0;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_BINARY || size == 0 || size > maxBytes)
        return 0;
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, static_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS || type != REG_BINARY)
        return 0;
    return size;
}

void CSettingsKey::WriteBinary(const std::wstring& name, const void* data, DWORD bytes) const
{
    const RegKey key = OpenForWriting();
    if (key) RegSetValueExW(key.get(), name.c_str(), 0, REG_BINARY, static_cast<const BYTE*>(data), bytes);
}

bool CSettingsKey::ReadMultiString(const wchar_t* name, std::vector<std::wstring>& strings) const
{
    strings.clear();
    const RegKey key = OpenForReading();
    if (!key) return false;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_MULTI_SZ)
        return false;
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    DWORD read = size;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &read) !=
            ERROR_SUCCESS || type != REG_MULTI_SZ)
        return false;
    const size_t units = read / sizeof(wchar_t);
    size_t start = 0;
    for (size_t i = 0; i < units; ++i) {
        if (data[i] != L'\0') continue;
        strings.emplace_back(data.data() + start, i - start);
        start = i + 1;
    }
    if (start < units) strings.emplace_back(data.data() + start, units - start);
    return true;
}

bool CSettingsKey::ReadPortOrders(std::vector<std::wstring>& names) const
{
    if (!ReadMultiString(L"PortOrders", names)) return false;
    const auto end = std::find(names.begin(), names.end(), std::wstring());
    names.erase(end, names.end());
    return true;
}

void CSettingsKey::WriteMultiString(const wchar_t* name, const std::vector<std::wstring>& strings) const
{
    std::vector<wchar_t> data;
    for (const std::wstring& text : strings) {
        data.insert(data.end(), text.begin(), text.end());
        data.push_back(L'\0');
    }
    data.push_back(L'\0');
    const RegKey key = OpenForWriting();
    if (key)
        RegSetValueExW(key.get(), name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

void CSettingsKey::WritePortOrders(const std::vector<std::wstring>& names) const
{
    std::vector<std::wstring> listed;
    for (const std::wstring& name : names)
        if (!name.empty()) listed.push_back(name);
    WriteMultiString(L"PortOrders", listed);
}
