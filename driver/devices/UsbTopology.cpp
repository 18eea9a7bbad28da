#include "UsbTopology.h"

#include "DeviceIds.h"

#include <core/Text.h>

#include <winioctl.h>
#include <usbioctl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <vector>

static_assert(sizeof(USB_ROOT_HUB_NAME) == 6);
static_assert(sizeof(USB_NODE_INFORMATION) == 76);
static_assert(sizeof(USB_NODE_CONNECTION_INFORMATION) == 35);
static_assert(sizeof(USB_NODE_CONNECTION_NAME) == 10);

namespace {

constexpr DWORD kDriverKeyReplyBytes = 4096;
// No hub or controller name comes near this; a larger ActualLength is not believed.
constexpr ULONG kMaxNameReplyBytes = 64 * 1024;

bool Contains(const std::wstring& text, const std::wstring& piece) { return text.find(piece) != std::wstring::npos; }

bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b) { return LowerCase(a) == LowerCase(b); }


ULONG ReadUlong(const std::vector<BYTE>& buffer, size_t offset)
{
    ULONG value = 0;
    std::memcpy(&value, buffer.data() + offset, sizeof(value));
    return value;
}

// The text from nameOffset up to the first NUL, never beyond the bytes the request returned:
// a name cut by a short buffer carries no terminator.
std::wstring TextOfReply(const std::vector<BYTE>& buffer, DWORD nameOffset, DWORD validBytes)
{
    std::wstring text((validBytes - nameOffset) / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), buffer.data() + nameOffset, text.size() * sizeof(wchar_t));
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

// Requests answering {[ConnectionIndex,] ActualLength, name}: a probe of probeBytes learns
// ActualLength, a second request of exactly that size fetches the name.
bool RequestName(IDevicePlatform& platform, HANDLE device, DWORD code, bool byConnection, ULONG port, DWORD probeBytes,
                 std::wstring& name)
{
    const DWORD lengthOffset = byConnection ? sizeof(ULONG) : 0;
    const DWORD nameOffset = lengthOffset + sizeof(ULONG);
    std::vector<BYTE> buffer;
    const auto request = [&](DWORD bytes) -> DWORD {
        buffer.assign(bytes, 0);
        if (byConnection) std::memcpy(buffer.data(), &port, sizeof(port));
        DWORD returned = 0;
        if (!platform.IoControl(device, code, byConnection ? buffer.data() : nullptr, byConnection ? bytes : 0,
                                buffer.data(), bytes, &returned, nullptr))
            return 0;
        return std::min(returned, bytes);
    };

    if (request(probeBytes) < nameOffset) return false;
    const ULONG actual = ReadUlong(buffer, lengthOffset);
    if (actual < nameOffset || actual > kMaxNameReplyBytes) return false;
    const DWORD returned = request(actual);
    if (returned < nameOffset || ReadUlong(buffer, lengthOffset) > returned) return false;
    name = TextOfReply(buffer, nameOffset, returned);
    return true;
}

bool RequestConnection(IDevicePlatform& platform, HANDLE hub, ULONG port, USB_NODE_CONNECTION_INFORMATION& info)
{
    // Without room for a pipe list: only the descriptor and the status are wanted.
    info = {};
    info.ConnectionIndex = port;
    DWORD returned = 0;
    return platform.IoControl(hub, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, &info, sizeof(info), &info, sizeof(info),
                              &returned, nullptr) &&
           returned >= sizeof(info);
}

bool RequestDriverKey(IDevicePlatform& platform, HANDLE hub, ULONG port, std::wstring& key)
{
    constexpr DWORD nameOffset = offsetof(USB_NODE_CONNECTION_DRIVERKEY_NAME, DriverKeyName);
    std::vector<BYTE> buffer(kDriverKeyReplyBytes, 0);
    std::memcpy(buffer.data(), &port, sizeof(port));
    DWORD returned = 0;
    if (!platform.IoControl(hub, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, buffer.data(), kDriverKeyReplyBytes,
                            buffer.data(), kDriverKeyReplyBytes, &returned, nullptr))
        return false;
    returned = std::min(returned, kDriverKeyReplyBytes);
    if (returned < nameOffset) return false;
    // A cut key cannot equal any device's "Driver" value: the port counts as failed.
    if (ReadUlong(buffer, sizeof(ULONG)) > returned) return false;
    key = TextOfReply(buffer, nameOffset, returned);
    return true;
}

int HubTier(const _sUsbNode& node)
{
    int tier = 1;
    for (const _sUsbNode* p = node.parent; p; p = p->parent) ++tier;
    return tier;
}

bool IsInternalHubVendor(int32_t vendorId, const CKnownDeviceTable& table)
{
    if (vendorId == 0) return false;
    for (int i = 0; i < table.count(); ++i)
        if (table.Row(i).hubVendorId == vendorId) return true;
    return false;
}

bool HasCompanion(const _sUsbNode& hub, const _sKnownDeviceRow& record)
{
    for (int i = 0; i < hub.childCount; ++i) {
        const _sUsbNode& sibling = hub.children[i];
        if (sibling.port != 0 && sibling.vendorId == record.companionVendorId &&
            sibling.productId == record.companionProductId)
            return true;
    }
    return false;
}

}  // namespace

void CUsbTopology::BuildUsbTopology()
{
    if (hostControllerCount_ != 0 && rootNodes_) return;
    rootNodes_.reset();
    hostControllerCount_ = 0;

    std::vector<DeviceInterface> controllers;
    if (!platform_.ListInterfaces(kGuidUsbHostController, controllers) || controllers.empty()) return;
    hostControllerCount_ = static_cast<int>(controllers.size());
    rootNodes_ = std::make_unique<_sUsbNode[]>(controllers.size());

    for (int i = 0; i < hostControllerCount_; ++i) {
        std::wstring rootHubName;
        {
            CDeviceHandle controller(platform_, platform_.OpenDevice(controllers[i].path, 0, FILE_ATTRIBUTE_NORMAL));
            if (!controller.valid() ||
                !RequestName(platform_, controller.get(), IOCTL_USB_GET_ROOT_HUB_NAME, false, 0,
                             sizeof(USB_ROOT_HUB_NAME), rootHubName))
                continue;
        }
        if (rootHubName.empty()) continue;
        _sUsbNode& root = rootNodes_[i];
        root.hubDeviceName = L"\\\\.\\" + rootHubName;
        EnumerateHub(root.hubDeviceName, root);
    }
}

void CUsbTopology::EnumerateHub(const std::wstring& hubDeviceName, _sUsbNode& node)
{
    // A hub name that leads back to an ancestor would otherwise recurse for ever.
    if (HubTier(node) > kMaxHubTiers) return;
    CDeviceHandle hub(platform_, platform_.OpenDevice(hubDeviceName, 0, FILE_ATTRIBUTE_NORMAL));
    if (!hub.valid()) return;

    USB_NODE_INFORMATION information = {};
    DWORD returned = 0;
    if (!platform_.IoControl(hub.get(), IOCTL_USB_GET_NODE_INFORMATION, &information, sizeof(information),
                             &information, sizeof(information), &returned, nullptr) ||
        returned < sizeof(information) || information.NodeType != UsbHub)
        return;
    const ULONG ports = information.u.HubInformation.HubDescriptor.bNumberOfPorts;
    if (ports == 0) return;

    USB_NODE_CONNECTION_INFORMATION connection;
    int connected = 0;
    for (ULONG port = 1; port <= ports; ++port)
        if (RequestConnection(platform_, hub.get(), port, connection) && connection.ConnectionStatus == DeviceConnected)
            ++connected;
    if (connected == 0) return;

    node.childCount = connected;
    node.children = std::make_unique<_sUsbNode[]>(connected);
    // A device plugged in between the passes must not write past the array.
    int filled = 0;
    for (ULONG port = 1; port <= ports && filled < connected; ++port) {
        if (!RequestConnection(platform_, hub.get(), port, connection) || connection.ConnectionStatus != DeviceConnected)
            continue;
        std::wstring driverKey;
        if (!RequestDriverKey(platform_, hub.get(), port, driverKey)) continue;

        _sUsbNode& child = node.children[filled++];
        child.driverKeyName = driverKey;
        child.vendorId = connection.DeviceDescriptor.idVendor;
        child.productId = connection.DeviceDescriptor.idProduct;
        child.port = static_cast<int32_t>(port);
        child.parent = &node;
        if (!connection.DeviceIsHub) continue;

        std::wstring name;
        if (RequestName(platform_, hub.get(), IOCTL_USB_GET_NODE_CONNECTION_NAME, true, port,
                        sizeof(USB_NODE_CONNECTION_NAME), name) &&
            !name.empty()) {
            child.hubDeviceName = L"\\\\.\\" + name;
            EnumerateHub(child.hubDeviceName, child);
        }
    }
}

bool CUsbTopology::IdentifyDevice(const std::wstring& path, const CKnownDeviceTable& table, std::wstring& modelName,
                                  int& row, int& nonOptimalPort, std::wstring& hubDeviceName)
{
    const std::wstring upperPath = UpperCase(path);
    for (int i = 0; i < table.count(); ++i) {
        const _sKnownDeviceRow& record = table.Row(i);
        if (!PathHasRowIds(upperPath, record))
            continue;
        BuildUsbTopology();
        for (int r = 0; r < hostControllerCount_; ++r) {
            const _sUsbNode& root = rootNodes_[r];
            if (root.childCount == 0) continue;
            nonOptimalPort = 0;
            if (FindInTopology(root, path, record, table, nonOptimalPort, hubDeviceName)) {
                modelName = record.modelName;
                row = i;
                return true;
            }
        }
    }
    return false;
}

bool CUsbTopology::FindInTopology(const _sUsbNode& hub, const std::wstring& path, const _sKnownDeviceRow& record,
                                  const CKnownDeviceTable& table, int& nonOptimalPort, std::wstring& hubDeviceName)
{
    hubDeviceName.clear();
    for (int i = 0; i < hub.childCount; ++i) {
        const _sUsbNode& child = hub.children[i];
        if (child.port == 0) continue;  // its driver key could not be read

        if (child.vendorId == record.vendorId && child.productId == record.productId) {
            const bool portFits = record.hubPort == -1 || record.hubPort == child.port;
            if (record.hubVendorId == 0) {
                // A hub-less model sharing ids with a hub-based one must not claim that one's codec.
                if (IsInternalHubVendor(hub.vendorId, table)) continue;
                if (portFits && DriverKeyOwnsPath(path, child.driverKeyName, record)) {
                    if (hub.vendorId != 0) nonOptimalPort = 1;
                    return true;
                }
            } else if (hub.vendorId == record.hubVendorId && hub.productId == record.hubProductId &&
                       HasCompanion(hub, record) && portFits && DriverKeyOwnsPath(path, child.driverKeyName, record)) {
                if (hub.parent && hub.parent->vendorId != 0) nonOptimalPort = 1;
                hubDeviceName = hub.hubDeviceName;
                return true;
            }
        }
        if (child.childCount > 0 && FindInTopology(child, path, record, table, nonOptimalPort, hubDeviceName))
            return true;
    }
    return false;
}

bool CUsbTopology::DriverKeyOwnsPath(const std::wstring& path, const std::wstring& driverKeyName,
                                     const _sKnownDeviceRow& record)
{
    std::vector<DeviceInterface> devices;
    if (!platform_.ListInterfaces(kGuidUsbDevice, devices)) return false;
    const std::wstring vid = LowerCase(UsbIdText(L"vid_%04lX", record.vendorId));
    const std::wstring pid = LowerCase(UsbIdText(L"pid_%04lX", record.productId));
    const std::wstring lowerPath = LowerCase(path);

    for (const DeviceInterface& device : devices) {
        const std::wstring devicePath = LowerCase(device.path);
        if (!Contains(devicePath, vid) || !Contains(devicePath, pid) || device.instanceId.empty()) continue;
        std::wstring driver;
        if (!platform_.ReadDeviceRegistryString(device.instanceId, L"Driver", 4096, driver) || driver.empty() ||
            !EqualIgnoringCase(driver, driverKeyName))
            continue;
        std::wstring prefix;
        if (!platform_.ReadDeviceRegistryString(device.instanceId, L"ParentIdPrefix", 4096, prefix) ||
            prefix.empty() || !Contains(lowerPath, LowerCase(prefix)))
            continue;
        return true;
    }
    return false;
}
