// The fixed table of supported interfaces. The row index is a device's identity inside the driver.
#pragma once

#include <cstdint>
#include <string>

// Indices into _sKnownDeviceRow::mixerNodeIds.
enum MixerNode : int {
    kNodeOutputMuteSet = 0,    // output node to be muted
    kNodeOutputMuteClear,      // output mute node to be cleared
    kNodeOutputVolume,
    kNodeOutputAgcOff,
    kNodeInputAgcOff,
    kNodeInputVolume,
    kNodeInputMuteClear,
    kMixerNodeCount
};

struct _sKnownDeviceRow {
    int32_t vendorId = 0;
    int32_t productId = 0;
    wchar_t modelName[260] = {};
    int32_t imageActiveId = 0;
    int32_t imageInactiveId = 0;
    int32_t imageAltIds[2] = {};
    int32_t mixerNodeIds[kMixerNodeCount] = {-1, -1, -1, -1, -1, -1, -1};
    int32_t hubVendorId = 0;
    int32_t hubProductId = 0;
    int32_t companionVendorId = 0;
    int32_t companionProductId = 0;
    int32_t hubPort = -1;
    int32_t inputOnly = 0;
    int32_t instrumentInput = 0;
    int32_t reservedZero = 0;
};

enum class Direction { Capture, Render };

// A USB id as device paths spell it, formatted with "VID_%04lX", "pid_%04lX" and the like.
std::wstring UsbIdText(const wchar_t* format, int32_t id);
// The upper-cased endpoint path carries the row's "VID_xxxx" and "PID_xxxx".
bool PathHasRowIds(const std::wstring& upperPath, const _sKnownDeviceRow& row);

class CKnownDeviceTable {
public:
    static constexpr int kCapacity = 256;

    CKnownDeviceTable();

    int count() const { return count_; }
    const _sKnownDeviceRow& Row(int index) const { return rows_[index]; }
    bool IsDefaultRow(int index) const { return index == count_ - 1; }
    int DefaultRow() const { return count_ - 1; }

    // Channel count a device of this row offers in one direction, given what the endpoint reports.
    int ChannelsFor(int row, Direction direction, int endpointChannels) const;

private:
    _sKnownDeviceRow rows_[kCapacity];
    int count_ = 0;
};
