// Port building: endpoints are listed, identified as known devices, paired by name into ports
// and given channel names.
#pragma once

#include "KnownDeviceTable.h"
#include "OtherDevices.h"
#include "Port.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CDeviceAccess;
class CLanguages;
struct EndpointDescription;
class CSettingsKey;

// One discovered endpoint.
struct _sKnownDevices {
    bool isDefaultDevice = false;
    std::wstring path;
    std::wstring name;
    int nonOptimalPort = 0;
    int row = -1;
    int minRate = 0, maxRate = 0, minBits = 0, maxBits = 0;
    int channels = 0;
    int endpointChannels = 0;  // as _sPortFormat's
    int firstChannel = 0;
    bool paired = false;
};

// A capture and a render record of one device (indices into the two lists).
struct _sKnownDevices_InOut {
    size_t render;
    size_t capture;
};

// What a build leaves besides the port table.
struct PortInventory {
    std::wstring defaultRenderPath;
    int defaultRenderId = -1;
    std::wstring defaultCapturePath;
    int defaultCaptureId = -1;
    std::vector<std::wstring> interfacePaths;  // capture path of every paired interface
    std::vector<uint32_t> interfaceRows;
    std::vector<std::wstring> otherDevicePaths;  // both endpoint ids of every chosen device's port

    // The devices gathered, by path: a rescan that finds another set has news for the host.
    std::vector<std::wstring> Gathered() const;
};

class CKnownDevices {
public:
    CKnownDevices(const CKnownDeviceTable& table, const CSettingsKey& hostKey, const CLanguages& languages)
        : table_(table), hostKey_(hostKey), languages_(languages) {}

    // Fills ports[0..portCount) (16 records) from what the device access finds: the family's
    // interfaces, the default devices where the host takes them, then the other devices chosen
    // (unless the default devices alone take part). Returns 1.
    int BuildPorts(CDeviceAccess& access, bool useDefaultDevices, bool defaultDevicesOnly,
                   const std::vector<OtherDevice>& otherDevices, _sPort* ports, int& portCount,
                   PortInventory& inventory);

private:
    std::vector<std::wstring> SortEndpoints(CDeviceAccess& access, const std::vector<std::wstring>& paths) const;
    void AddIdentified(CDeviceAccess& access, const std::vector<std::wstring>& paths, bool capture);
    bool AddDefault(CDeviceAccess& access, bool capture, int& waveId);
    // Path, formats and the endpoint's most channels up to two, and its own count where it streams
    // only with all of more; false when it accepts none of the formats.
    static bool Probe(CDeviceAccess& access, bool capture, const std::wstring& path, _sKnownDevices& record);
    void AddOtherDevices(CDeviceAccess& access, const std::vector<OtherDevice>& devices, _sPort* ports,
                         int& portCount, bool monoToStereo, PortInventory& inventory) const;
    // True for an endpoint path or id that a port already carries.
    using TakenTest = std::function<bool(const std::wstring&)>;
    bool ResolveOtherDevice(CDeviceAccess& access, const OtherDevice& device, const TakenTest& taken,
                            _sKnownDevices& capture, _sKnownDevices& render) const;
    // False as well for a pair from firstChannel that the endpoint does not have.
    bool ProbeOtherEndpoint(CDeviceAccess& access, const std::wstring& id, int firstChannel,
                            const EndpointDescription& description, const TakenTest& taken,
                            _sKnownDevices& record) const;
    void PairEndpoints(bool useDefaultDevices, PortInventory& inventory);
    void FillPort(_sPort& port, const _sKnownDevices& capture, const _sKnownDevices& render, bool first,
                  bool monoToStereo) const;
    std::wstring DefaultDeviceName() const;

    const CKnownDeviceTable& table_;
    const CSettingsKey& hostKey_;
    const CLanguages& languages_;
    std::vector<_sKnownDevices> capture_;
    std::vector<_sKnownDevices> render_;
    std::vector<_sKnownDevices_InOut> pairs_;
};

// Every record whose name another record of the list shares becomes "name (1)", "name (2)"...
void NumberDuplicateNames(std::vector<_sKnownDevices>& list);
