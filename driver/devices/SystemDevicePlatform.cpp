#include "DevicePlatform.h"

#include <veloran/RegKey.h>

#include <setupapi.h>

namespace {

using KsCreatePinFn = DWORD(WINAPI*)(HANDLE, KSPIN_CONNECT*, ACCESS_MASK, HANDLE*);

KsCreatePinFn LoadKsCreatePin()
{
    HMODULE ksuser = LoadLibraryW(L"ksuser.dll");
    if (!ksuser) return nullptr;
    return reinterpret_cast<KsCreatePinFn>(reinterpret_cast<void*>(GetProcAddress(ksuser, "KsCreatePin")));
}

class CSystemDevicePlatform final : public IDevicePlatform {
public:
    bool ListInterfaces(const GUID& interfaceClass, std::vector<DeviceInterface>& interfaces) override
    {
        interfaces.clear();
        HDEVINFO set = SetupDiGetClassDevsW(&interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) return false;
        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA data = {};
            data.cbSize = sizeof(data);
            if (!SetupDiEnumDeviceInterfaces(set, nullptr, &interfaceClass, index, &data)) break;

            // The detail record holds the path inline after its size field.
            alignas(SP_DEVICE_INTERFACE_DETAIL_DATA_W) BYTE detailBuffer[528] = {};
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detailBuffer);
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            SP_DEVINFO_DATA device = {};
            device.cbSize = sizeof(device);
            DeviceInterface entry;
            if (SetupDiGetDeviceInterfaceDetailW(set, &data, detail, sizeof(detailBuffer), nullptr, &device)) {
                entry.path = detail->DevicePath;
                wchar_t instanceId[4096] = {};
                if (SetupDiGetDeviceInstanceIdW(set, &device, instanceId, 4096, nullptr)) entry.instanceId = instanceId;
            }
            interfaces.push_back(std::move(entry));
        }
        SetupDiDestroyDeviceInfoList(set);
        return true;
    }

    bool GetInterfaceAlias(const GUID& interfaceClass, const std::wstring& path, const GUID& aliasClass,
                           DWORD& aliasFlags) override
    {
        aliasFlags = 0;
        HDEVINFO set = SetupDiGetClassDevsW(&interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) return false;
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof(data);
        SP_DEVICE_INTERFACE_DATA alias = {};
        alias.cbSize = sizeof(alias);
        const bool found = SetupDiOpenDeviceInterfaceW(set, path.c_str(), 0, &data) &&
                           SetupDiGetDeviceInterfaceAlias(set, &data, &aliasClass, &alias);
        if (found) aliasFlags = alias.Flags;
        SetupDiDestroyDeviceInfoList(set);
        return found;
    }

    HANDLE OpenDevice(const std::wstring& path, DWORD shareMode, DWORD flagsAndAttributes) override
    {
        return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, shareMode, nullptr, OPEN_EXISTING,
                           flagsAndAttributes, nullptr);
    }

    void CloseDevice(HANDLE device) override { CloseHandle(device); }

    BOOL IoControl(HANDLE device, DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes, DWORD* returned,
                   OVERLAPPED* overlapped) override
    {
        return DeviceIoControl(device, code, in, inBytes, out, outBytes, returned, overlapped);
    }

    BOOL CancelIo(HANDLE device, OVERLAPPED* overlapped) override { return CancelIoEx(device, overlapped); }

    BOOL GetOverlappedResult(HANDLE device, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait) override
    {
        return ::GetOverlappedResult(device, overlapped, transferred, wait);
    }

    DWORD CreatePin(HANDLE filter, KSPIN_CONNECT* connect, ACCESS_MASK access, HANDLE* pin) override
    {
        // Loaded at run time, so that systems without kernel streaming still load the driver, and
        // kept for the process: pins may be created from several threads.
        static const KsCreatePinFn create = LoadKsCreatePin();
        if (!create) return ERROR_FILE_NOT_FOUND;
        return create(filter, connect, access, pin);
    }

    bool ReadDeviceRegistryString(const std::wstring& instanceId, const wchar_t* name, DWORD maxBytes,
                                  std::wstring& value) override
    {
        const std::wstring path = L"SYSTEM\\CurrentControlSet\\Enum\\" + instanceId;
        const RegKey key = RegKey::Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ);
        if (!key) return false;
        std::wstring buffer(maxBytes / sizeof(wchar_t) + 1, L'\0');
        DWORD type = 0;
        DWORD size = maxBytes;
        if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
                ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ))
            return false;
        buffer.resize(wcsnlen(buffer.c_str(), size / sizeof(wchar_t)));
        value = buffer;
        return true;
    }

    HRESULT CreateEndpointEnumerator(IMMDeviceEnumerator** enumerator) override
    {
        return CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(enumerator));
    }
};

}  // namespace

IDevicePlatform& SystemDevicePlatform()
{
    static CSystemDevicePlatform platform;
    return platform;
}
