#include "KsNodeLevels.h"

#include "KsAudCapFilter.h"
#include "DeviceIds.h"
#include "KsAudRenFilter.h"

#include <core/KnownDeviceTable.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

constexpr int kMaxNodeChannels = 2;

// Node property values are 4 bytes; what a node may take lies between its bounds.
LONG NodeValue(int64_t value) { return static_cast<LONG>(static_cast<uint32_t>(value)); }

}  // namespace

bool CKsNodeLevels::Ready()
{
    // A matched row has a vendor id; an unknown interface keeps its own settings.
    if (filter_.knownDevice().vendorId == 0) return false;
    if (filter_.nodes().empty()) filter_.EnumerateNodes();
    return !filter_.nodes().empty();
}

bool CKsNodeLevels::IsRowNode(const _sKsNode& node, int entry) const
{
    const int32_t id = filter_.knownDevice().mixerNodeIds[entry];
    return id >= 0 && node.nodeId == id;
}

bool CKsNodeLevels::ApplyFilterLevels(int left, int right)
{
    if (!Ready()) return false;
    const bool render = filter_.filterType() == KsFilterType::Render;
    // Single settings that fail do not stop the others: a node may lack one control.
    for (_sKsNode& node : filter_.nodes()) {
        if (IsRowNode(node, render ? kNodeOutputAgcOff : kNodeInputAgcOff)) {
            filter_.SetNodeProperty(node.nodeId, 0, KSPROPERTY_AUDIO_AGC, 0);
            filter_.SetNodeProperty(node.nodeId, 1, KSPROPERTY_AUDIO_AGC, 0);
        }
        if (render && IsRowNode(node, kNodeOutputMuteSet)) filter_.SetNodeProperty(node.nodeId, 0, KSPROPERTY_AUDIO_MUTE, 1);
        if (IsRowNode(node, render ? kNodeOutputMuteClear : kNodeInputMuteClear))
            filter_.SetNodeProperty(node.nodeId, 0, KSPROPERTY_AUDIO_MUTE, 0);
        if (IsRowNode(node, render ? kNodeOutputVolume : kNodeInputVolume)) SetNodeVolume(node, left, right);
    }
    return true;
}

bool CKsNodeLevels::SetStreamingLevel(int left, int right)
{
    if (!Ready()) return false;
    if (filter_.filterType() == KsFilterType::Render) {
        for (_sKsNode& node : filter_.nodes())
            if (IsRowNode(node, kNodeOutputVolume)) return SUCCEEDED(SetNodeVolume(node, left, right));
        return false;
    }
    HRESULT last = E_FAIL;
    for (_sKsNode& node : filter_.nodes()) {
        if (IsRowNode(node, kNodeInputVolume)) last = SetNodeVolume(node, left, right);
        if (IsRowNode(node, kNodeInputMuteClear))
            last = filter_.SetNodeProperty(node.nodeId, 0, KSPROPERTY_AUDIO_MUTE, left == 0 ? 1 : 0);
    }
    return SUCCEEDED(last);
}

bool CKsNodeLevels::ReadVolumeRange(_sKsNode& node)
{
    if (node.channelCount > 0) return true;
    KSNODEPROPERTY request = {};
    request.Property.Set = kKsPropSetAudio;
    request.Property.Id = KSPROPERTY_AUDIO_VOLUMELEVEL;
    request.Property.Flags = KSPROPERTY_TYPE_BASICSUPPORT | KSPROPERTY_TYPE_TOPOLOGY;
    request.NodeId = static_cast<ULONG>(node.nodeId);
    KSPROPERTY_DESCRIPTION description = {};
    DWORD bytes = 0;
    if (FAILED(filter_.SyncProperty(&request, sizeof(request), &description, sizeof(description), &bytes)) ||
        bytes < sizeof(description))
        return false;

    constexpr DWORD kHead = sizeof(KSPROPERTY_DESCRIPTION) + sizeof(KSPROPERTY_MEMBERSHEADER);
    if (description.MembersListCount == 0 || description.DescriptionSize < kHead + sizeof(KSPROPERTY_STEPPING_LONG) ||
        description.DescriptionSize > CKsIrpTarget::kMaxVariableBytes)
        return false;
    const ULONG type = description.PropTypeSet.Id;
    if (type != VT_I4 && type != VT_UI4) return false;
    std::vector<BYTE> reply(description.DescriptionSize);
    if (FAILED(filter_.SyncProperty(&request, sizeof(request), reply.data(), DWORD(reply.size()), &bytes)) ||
        bytes < kHead)
        return false;

    const auto members = LoadAt<KSPROPERTY_MEMBERSHEADER>(reply.data(), sizeof(KSPROPERTY_DESCRIPTION));
    if (!(members.Flags & KSPROPERTY_MEMBER_FLAG_BASICSUPPORT_MULTICHANNEL) ||
        members.MembersSize != sizeof(KSPROPERTY_STEPPING_LONG) || members.MembersCount == 0)
        return false;
    // Only the ranges the reply really holds count; a node of more channels is driven on two.
    const int channels = static_cast<int>(std::min<ULONG>(members.MembersCount, kMaxNodeChannels));
    if (bytes < kHead + channels * sizeof(KSPROPERTY_STEPPING_LONG)) return false;
    node.isUnsigned = type == VT_UI4;
    for (int c = 0; c < channels; ++c) {
        const auto range = LoadAt<KSPROPERTY_STEPPING_LONG>(reply.data(), kHead + c * sizeof(KSPROPERTY_STEPPING_LONG));
        node.minimum[c] = range.Bounds.SignedMinimum;
        node.maximum[c] = range.Bounds.SignedMaximum;
        node.stepping[c] = static_cast<int32_t>(range.SteppingDelta);
        const double span = node.isUnsigned ? double(range.Bounds.UnsignedMaximum) - double(range.Bounds.UnsignedMinimum)
                                            : double(range.Bounds.SignedMaximum) - double(range.Bounds.SignedMinimum);
        node.stepsPerPercent[c] = span / 100.0;
    }
    node.channelCount = channels;
    return true;
}

HRESULT CKsNodeLevels::SetNodeVolume(_sKsNode& node, int left, int right)
{
    if (!ReadVolumeRange(node)) return E_FAIL;
    const bool full = left == right && (left == 100 || left == -1);
    const int levels[kMaxNodeChannels] = {std::clamp(left, 0, 100), std::clamp(right, 0, 100)};
    HRESULT result = S_OK;
    for (int c = 0; c < node.channelCount; ++c) {
        // Bounds read as the device declares them; the arithmetic runs wide so that no range
        // overflows.
        const int64_t minimum = node.isUnsigned ? int64_t(uint32_t(node.minimum[c])) : int64_t(node.minimum[c]);
        const int64_t maximum = node.isUnsigned ? int64_t(uint32_t(node.maximum[c])) : int64_t(node.maximum[c]);
        const int64_t stepping = node.isUnsigned ? int64_t(uint32_t(node.stepping[c])) : int64_t(node.stepping[c]);
        if (stepping <= 0 || maximum < minimum) return E_FAIL;
        int64_t value = maximum;
        if (!full) {
            value = static_cast<int64_t>(std::trunc(levels[c] * node.stepsPerPercent[c] + double(minimum)));
            value = std::clamp(value / stepping * stepping, minimum, maximum);
        }
        const HRESULT set = filter_.SetNodeProperty(static_cast<ULONG>(node.nodeId), static_cast<ULONG>(c),
                                                    KSPROPERTY_AUDIO_VOLUMELEVEL, NodeValue(value));
        if (FAILED(set) && SUCCEEDED(result)) result = set;
    }
    return result;
}

bool CKsNodeLevels::SetStreamingLevel(IDevicePlatform& platform, const std::wstring& path, bool capture, int left,
                                      int right, const CKnownDeviceTable& table)
{
    if (path.empty()) return false;
    std::unique_ptr<CKsAudFilter> filter;
    if (capture)
        filter = std::make_unique<CKsAudCapFilter>(platform, path, &table);
    else
        filter = std::make_unique<CKsAudRenFilter>(platform, path, &table);
    return SUCCEEDED(filter->Open()) && SUCCEEDED(filter->EnumeratePins()) &&
           CKsNodeLevels(*filter).SetStreamingLevel(left, right);
}

bool CKsNodeLevels::ApplyHardwareVolumes(IDevicePlatform& platform, const std::wstring& capturePath,
                                         const std::wstring& renderPath, int inputLeft, int inputRight,
                                         int outputLeft, int outputRight, const CKnownDeviceTable& table)
{
    const auto apply = [](CKsAudFilter& filter, int left, int right) {
        return SUCCEEDED(filter.Open()) && SUCCEEDED(filter.EnumeratePins()) &&
               CKsNodeLevels(filter).ApplyFilterLevels(left, right);
    };
    bool applied = true;
    if (!capturePath.empty()) {
        CKsAudCapFilter capture(platform, capturePath, &table);
        applied = apply(capture, inputLeft, inputRight);
    }
    if (!renderPath.empty()) {
        CKsAudRenFilter render(platform, renderPath, &table);
        applied = apply(render, outputLeft, outputRight) && applied;
    }
    return applied;
}
