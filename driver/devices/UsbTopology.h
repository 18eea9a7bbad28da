// The USB tree as seen from the host controllers, scanned once, and the identification of an
// endpoint path as one row of the known-devices table by its place in that tree.
#pragma once

#include "DevicePlatform.h"

#include <core/KnownDeviceTable.h>

#include <cstdint>
#include <memory>
#include <string>

// One connection of the scanned tree. A hub's children live in one array in port order; the
// parent pointers point into those arrays, so nodes never move once built.
struct _sUsbNode {
    int32_t vendorId = 0;          // 0 for a root node
    int32_t productId = 0;
    int32_t port = 0;              // 1-based port on the parent hub; 0 for a root node or an unfilled slot
    std::wstring hubDeviceName;    // "\\.\<symbolic name>" for root and hub nodes, empty otherwise
    std::wstring driverKeyName;    // as the parent hub reports the connection's driver key
    _sUsbNode* parent = nullptr;   // non-owning; null for a root node
    int32_t childCount = 0;        // connected ports found on this hub
    std::unique_ptr<_sUsbNode[]> children;

    _sUsbNode() = default;
    _sUsbNode(const _sUsbNode&) = delete;
    _sUsbNode& operator=(const _sUsbNode&) = delete;
};

class CUsbTopology {
public:
    // USB allows five tiers of hubs below the root hub; a deeper tree is treated as hostile and
    // its hubs below this tier are not opened.
    static constexpr int kMaxHubTiers = 7;

    explicit CUsbTopology(IDevicePlatform& platform) : platform_(platform) {}
    CUsbTopology(const CUsbTopology&) = delete;
    CUsbTopology& operator=(const CUsbTopology&) = delete;

    // Scans every host controller's tree; does nothing once a scan found a controller.
    void BuildUsbTopology();

    // Tries the rows in table order; the first whose ids occur in the upper-cased path and whose
    // topology test passes wins. The tree is scanned on the first id match.
    bool IdentifyDevice(const std::wstring& path, const CKnownDeviceTable& table, std::wstring& modelName, int& row,
                        int& nonOptimalPort, std::wstring& hubDeviceName);

    // Searches below hub for the device of record that owns path. hubDeviceName receives the
    // internal hub's name for products that have one.
    bool FindInTopology(const _sUsbNode& hub, const std::wstring& path, const _sKnownDeviceRow& record,
                        const CKnownDeviceTable& table, int& nonOptimalPort, std::wstring& hubDeviceName);

    // True when a present USB device of the record's ids has this driver key and its
    // ParentIdPrefix occurs in path, i.e. the endpoint belongs to that very connection.
    bool DriverKeyOwnsPath(const std::wstring& path, const std::wstring& driverKeyName, const _sKnownDeviceRow& record);

    int hostControllerCount() const { return hostControllerCount_; }
    const _sUsbNode& RootNode(int index) const { return rootNodes_[index]; }

private:
    void EnumerateHub(const std::wstring& hubDeviceName, _sUsbNode& node);

    IDevicePlatform& platform_;
    int hostControllerCount_ = 0;
    std::unique_ptr<_sUsbNode[]> rootNodes_;
};
