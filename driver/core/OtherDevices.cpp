#include "OtherDevices.h"

namespace {

bool UsableId(const std::wstring& id) { return !id.empty() && id.size() <= kMaxEndpointIdLength; }

}  // namespace

std::vector<OtherDevice> ParseOtherDevices(const std::vector<std::wstring>& entries)
{
    std::vector<OtherDevice> devices;
    for (const std::wstring& entry : entries) {
        const size_t bar = entry.find(L'|');
        OtherDevice device;
        if (bar == std::wstring::npos) {
            device.endpointId = entry;
        } else {
            if (entry.find(L'|', bar + 1) != std::wstring::npos) continue;
            device.endpointId = entry.substr(0, bar);
            device.renderId = entry.substr(bar + 1);
            if (!UsableId(device.renderId)) continue;
        }
        if (UsableId(device.endpointId)) devices.push_back(std::move(device));
    }
    return devices;
}
