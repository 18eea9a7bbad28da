#include "SettingsKey.h"

#include <objbase.h>

const wchar_t kDriverName[] = L"Asio 2.0 Veloran Driver";

namespace {

std::wstring FileStem(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) name.resize(dot);
    return name;
}

}  // namespace

CSettingsKey::CSettingsKey(REFCLSID clsid, const std::wstring& hostPath)
    : driverName_(kDriverName), hostPath_(hostPath), hostName_(FileStem(hostPath))
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

RegKey CSettingsKey::OpenSettingsKey() const
{
    if (!hostName_.empty()) {
        const std::wstring parent = L"Software\\ASIO\\" + driverName_ + L"\\" + hostName_;
        if (!RegKey::Create(HKEY_LOCAL_MACHINE, parent.c_str())) return RegKey();
    }
    return RegKey::Create(HKEY_LOCAL_MACHINE, KeyPath().c_str());
}

bool CSettingsKey::TryReadDword(const wchar_t* name, uint32_t& value) const
{
    const RegKey key = OpenSettingsKey();
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
    const RegKey key = OpenSettingsKey();
    if (!key) return;
    const DWORD data = value;
    RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
}

std::wstring CSettingsKey::ReadString(const wchar_t* name) const
{
    const RegKey key = OpenSettingsKey();
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
