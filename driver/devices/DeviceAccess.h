// CDeviceAccess: the route to the interfaces. It knows the Windows generation, whether the audio
// endpoint back end exists, lists and identifies endpoints, finds the default devices, and owns
// the back end through which one engine slot streams.
#pragma once

#include "DevicePlatform.h"
#include "EndpointFormat.h"
#include "EndpointList.h"
#include "UsbTopology.h"

#include <memory>
#include <string>
#include <vector>

class CEndpointBackend;
class CKnownDeviceTable;
class CKsStreamPair;
class IStreamBackend;

// 0 other (also every version after 6.1), 1 NT 5.x, 2 NT 6.0, 3 NT 6.1.
int WindowsGeneration();
// RtlGetVersion reports 10 or later.
bool WindowsTenOrLater();

class CDeviceAccess {
public:
    CDeviceAccess(IDevicePlatform& platform, int endpointShareMode);
    CDeviceAccess(IDevicePlatform& platform, int endpointShareMode, int osGeneration, bool tenOrLater);
    ~CDeviceAccess();
    CDeviceAccess(const CDeviceAccess&) = delete;
    CDeviceAccess& operator=(const CDeviceAccess&) = delete;

    int osGeneration() const { return osGeneration_; }
    IDevicePlatform& platform() const { return platform_; }
    bool endpointBackendAvailable() const { return endpointBackend_ != nullptr; }
    CEndpointBackend* endpointBackend() const { return endpointBackend_.get(); }
    bool backendSelected() const { return useEndpointBackend && endpointBackend_; }
    // What streams go through: the endpoint back end when selected, else kernel streaming. Null
    // only when neither could be made.
    IStreamBackend* streamBackend() const;

    bool ListEndpoints(std::vector<std::wstring>& renderPaths, std::vector<std::wstring>& capturePaths);
    bool GetDefaultRenderDevice(std::wstring& path, std::wstring& friendlyName, int* waveDeviceId);
    bool GetDefaultCaptureDevice(std::wstring& path, std::wstring& friendlyName, int* waveDeviceId);
    bool IdentifyDevice(const std::wstring& path, const CKnownDeviceTable& table, std::wstring& modelName, int& row,
                        int& nonOptimalPort, std::wstring& hubDeviceName);
    // An active endpoint by its id; only the endpoint back end knows endpoints by id.
    bool DescribeEndpoint(const std::wstring& id, EndpointDescription& description);
    // Every capture and render endpoint, absent ones included; false without the endpoint API.
    bool ListAllEndpoints(std::vector<EndpointDescription>& endpoints);
    // The endpoint's formats; false when it accepts none of the driver's.
    bool QueryFormat(bool capture, const std::wstring& path, EndpointFormat& format);

    // Drops the text before the first backslash; a path that starts with one is kept whole.
    static std::wstring StripPathPrefix(const std::wstring& path);

    int useEndpointBackend = 1;

private:
    bool GetDefaultDevice(bool capture, std::wstring& path, std::wstring& friendlyName, int* waveDeviceId);

    IDevicePlatform& platform_;
    int osGeneration_;
    CUsbTopology topology_;
    std::unique_ptr<CEndpointBackend> endpointBackend_;
    std::unique_ptr<CKsStreamPair> ksStreams_;
};
