#include "DeviceAccess.h"

#include "DirectSoundDefaults.h"
#include "EndpointBackend.h"
#include "KsStreamPair.h"

#include <objbase.h>

int WindowsGeneration()
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&version)) return 0;
#pragma GCC diagnostic pop
    if (version.dwMajorVersion == 5) return 1;
    if (version.dwMajorVersion == 6 && version.dwMinorVersion == 0) return 2;
    if (version.dwMajorVersion == 6 && version.dwMinorVersion == 1) return 3;
    return 0;
}

bool WindowsTenOrLater()
{
    // GetVersionExW lies to programs without a manifest; ntdll tells the truth.
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto get =
        ntdll ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
              : nullptr;
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    return get && get(&version) == 0 && version.dwMajorVersion >= 10;
}

CDeviceAccess::CDeviceAccess(IDevicePlatform& platform, int endpointShareMode)
    : CDeviceAccess(platform, endpointShareMode, WindowsGeneration(), WindowsTenOrLater())
{
}

CDeviceAccess::CDeviceAccess(IDevicePlatform& platform, int endpointShareMode, int osGeneration, bool tenOrLater)
    : platform_(platform), osGeneration_(osGeneration), topology_(platform)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    endpointBackend_ = CEndpointBackend::Create(platform, osGeneration == 2, tenOrLater, endpointShareMode);
    ksStreams_ = CKsStreamPair::Create(platform);
}

CDeviceAccess::~CDeviceAccess() = default;

IStreamBackend* CDeviceAccess::streamBackend() const
{
    if (backendSelected()) return endpointBackend_.get();
    return ksStreams_.get();
}

bool CDeviceAccess::ListEndpoints(std::vector<std::wstring>& renderPaths, std::vector<std::wstring>& capturePaths)
{
    renderPaths.clear();
    capturePaths.clear();
    if (!backendSelected()) return CKsStreamPair::ListFilters(platform_, renderPaths, capturePaths);
    endpointBackend_->ListEndpoints(renderPaths, capturePaths);
    return true;
}

bool CDeviceAccess::GetDefaultDevice(bool capture, std::wstring& path, std::wstring& friendlyName, int* waveDeviceId)
{
    path.clear();
    friendlyName.clear();
    if (waveDeviceId) *waveDeviceId = -1;
    if (backendSelected())
        return endpointBackend_->GetDefaultEndpoint(capture ? eCapture : eRender, path, friendlyName) != 0;
    return GetDirectSoundDefaultDevice(capture, path, friendlyName, waveDeviceId);
}

bool CDeviceAccess::GetDefaultRenderDevice(std::wstring& path, std::wstring& friendlyName, int* waveDeviceId)
{
    return GetDefaultDevice(false, path, friendlyName, waveDeviceId);
}

bool CDeviceAccess::GetDefaultCaptureDevice(std::wstring& path, std::wstring& friendlyName, int* waveDeviceId)
{
    return GetDefaultDevice(true, path, friendlyName, waveDeviceId);
}

bool CDeviceAccess::IdentifyDevice(const std::wstring& path, const CKnownDeviceTable& table, std::wstring& modelName,
                                   int& row, int& nonOptimalPort, std::wstring& hubDeviceName)
{
    return topology_.IdentifyDevice(path, table, modelName, row, nonOptimalPort, hubDeviceName);
}

bool CDeviceAccess::DescribeEndpoint(const std::wstring& id, EndpointDescription& description)
{
    return backendSelected() && endpointBackend_->DescribeEndpoint(id, description);
}

bool CDeviceAccess::ListAllEndpoints(std::vector<EndpointDescription>& endpoints)
{
    endpoints.clear();
    return endpointBackend_ && CEndpointList(platform_).ListAll(endpoints);
}

bool CDeviceAccess::QueryFormat(bool capture, const std::wstring& path, EndpointFormat& format)
{
    if (!backendSelected()) return CKsStreamPair::QueryFormat(platform_, capture, path, format);
    return endpointBackend_->ProbeFormats(capture ? eCapture : eRender, path, format) != 0;
}

std::wstring CDeviceAccess::StripPathPrefix(const std::wstring& path)
{
    // A path that already begins with a backslash has nothing before it to drop.
    const size_t slash = path.find(L'\\');
    return slash == std::wstring::npos || slash == 0 ? path : path.substr(slash);
}
