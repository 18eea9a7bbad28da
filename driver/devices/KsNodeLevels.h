// CKsNodeLevels: an interface's hardware levels through the topology nodes of one of its
// kernel-streaming filters, at the node ids of the known-devices row the filter's path matched:
// volume, the mutes to set or clear, and automatic gain switched off. Levels are percents per
// channel, left then right.
#pragma once

#include "KsAudFilter.h"

#include <string>

class CKnownDeviceTable;

class CKsNodeLevels {
public:
    // The filter must be open with its pins enumerated; its node list is read on first use.
    explicit CKsNodeLevels(CKsAudFilter& filter) : filter_(filter) {}

    // Everything the row names, as at the start of streaming. False without a matched row or nodes.
    bool ApplyFilterLevels(int left, int right);
    // The volume while streaming; on inputs a level of 0 also mutes. False when the row's node is
    // missing or the last setting failed.
    bool SetStreamingLevel(int left, int right);
    // S_OK when every channel of the node took its level; a volume node without a usable range
    // fails. 100 on both sides (or -1 on both) sets each channel's exact maximum.
    HRESULT SetNodeVolume(_sKsNode& node, int left, int right);

    // Temporary capture and render filters on the two paths (either may be empty), each given
    // its levels. True when both that were asked for were opened and set.
    static bool ApplyHardwareVolumes(IDevicePlatform& platform, const std::wstring& capturePath,
                                     const std::wstring& renderPath, int inputLeft, int inputRight, int outputLeft,
                                     int outputRight, const CKnownDeviceTable& table);

    // The streaming level through a filter of its own on the path, opened beside the running
    // stream's (filters open shared): nothing a stop frees is touched.
    static bool SetStreamingLevel(IDevicePlatform& platform, const std::wstring& path, bool capture, int left,
                                  int right, const CKnownDeviceTable& table);

private:
    bool Ready();
    bool IsRowNode(const _sKsNode& node, int entry) const;
    // The node's stepped volume range, read once; false when the device offers none we can use.
    bool ReadVolumeRange(_sKsNode& node);

    CKsAudFilter& filter_;
};
