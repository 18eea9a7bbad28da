#include "Registration.h"

#include <veloran/RegKey.h>

#include <olectl.h>
#include <string>

namespace {

constexpr wchar_t kAsioKey[] = L"Software\\ASIO";

bool SetString(HKEY key, const wchar_t* name, const std::wstring& value)
{
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) ==
           ERROR_SUCCESS;
}

bool WriteClassEntries(const CSettingsKey& key, const std::wstring& modulePath)
{
    const RegKey classes = RegKey::Open(HKEY_CLASSES_ROOT, L"CLSID");
    if (!classes) return false;
    const RegKey classKey = RegKey::Create(classes.get(), key.classIdText().c_str());
    if (!classKey || !SetString(classKey.get(), nullptr, key.driverName())) return false;
    const RegKey server = RegKey::Create(classKey.get(), L"InprocServer32");
    return server && SetString(server.get(), nullptr, modulePath) &&
           SetString(server.get(), L"ThreadingModel", L"Apartment");
}

bool WriteAsioEntry(const CSettingsKey& key)
{
    const RegKey asio = RegKey::Create(HKEY_LOCAL_MACHINE, kAsioKey);
    if (!asio) return false;
    const RegKey driver = RegKey::Create(asio.get(), key.driverName().c_str());
    return driver && SetString(driver.get(), L"CLSID", key.classIdText()) &&
           SetString(driver.get(), L"Description", key.driverName());
}

void DeleteClassKey(const CSettingsKey& key)
{
    if (const RegKey classes = RegKey::Open(HKEY_CLASSES_ROOT, L"CLSID"))
        DeleteKeyRecursive(classes.get(), key.classIdText().c_str());
}

bool IsEmpty(HKEY key)
{
    DWORD subkeys = 0, values = 0;
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                            nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

}  // namespace

void DeleteKeyRecursive(HKEY parent, const wchar_t* name)
{
    const RegKey key = RegKey::Open(parent, name);
    if (!key) return;
    LONG status = ERROR_SUCCESS;
    for (;;) {
        wchar_t child[MAX_PATH + 1];
        DWORD length = MAX_PATH + 1;
        status = RegEnumKeyExW(key.get(), 0, child, &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) break;
        DeleteKeyRecursive(key.get(), child);
        // A subkey that survived its deletion would be enumerated again for ever.
        if (RegKey::Open(key.get(), child, KEY_READ)) {
            status = ERROR_ACCESS_DENIED;
            break;
        }
    }
    if (status == ERROR_NO_MORE_ITEMS || status == ERROR_BADKEY) RegDeleteKeyW(parent, name);
}

HRESULT UnregisterServer(const CSettingsKey& key)
{
    if (key.classIdText().empty()) return SELFREG_E_CLASS;
    DeleteClassKey(key);
    const RegKey asio = RegKey::Open(HKEY_LOCAL_MACHINE, kAsioKey);
    const RegKey driver = asio ? RegKey::Open(asio.get(), key.driverName().c_str()) : RegKey();
    if (!driver) return S_OK;
    RegDeleteValueW(driver.get(), L"CLSID");
    RegDeleteValueW(driver.get(), L"Description");
    if (IsEmpty(driver.get())) RegDeleteKeyW(asio.get(), key.driverName().c_str());
    return S_OK;
}

HRESULT RegisterServer(const CSettingsKey& key, HMODULE module)
{
    if (key.classIdText().empty()) return SELFREG_E_CLASS;
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return SELFREG_E_CLASS;

    // The class key is the driver's alone and is written afresh; the ASIO entry also holds the
    // hosts' settings, of which registration only sets its own two values.
    DeleteClassKey(key);
    if (!WriteClassEntries(key, std::wstring(path, length)) || !WriteAsioEntry(key)) {
        UnregisterServer(key);
        return SELFREG_E_CLASS;
    }
    return S_OK;
}
