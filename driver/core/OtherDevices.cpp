#include "OtherDevices.h"

namespace {

// One side: an id, then an optional "#N". False when malformed.
bool ParseSide(const std::wstring& side, std::wstring& id, int& firstChannel)
{
    const size_t hash = side.find(L'#');
    id = side.substr(0, hash);
    firstChannel = 0;
    if (id.empty() || id.size() > kMaxEndpointIdLength) return false;
    if (hash == std::wstring::npos) return true;
    const std::wstring number = side.substr(hash + 1);
    if (number.empty() || number.size() > 2) return false;
    int channel = 0;
    for (wchar_t c : number) {
        if (c < L'0' || c > L'9') return false;
        channel = channel * 10 + (c - L'0');
    }
    if (channel < 1 || channel >= kMaxEndpointChannels || channel % 2 == 0) return false;
    firstChannel = channel - 1;
    return true;
}

std::wstring FormatSide(const std::wstring& id, int firstChannel)
{
    return firstChannel == 0 ? id : id + L"#" + std::to_wstring(firstChannel + 1);
}

}  // namespace

std::vector<OtherDevice> ParseOtherDevices(const std::vector<std::wstring>& entries)
{
    std::vector<OtherDevice> devices;
    for (const std::wstring& entry : entries) {
        const size_t bar = entry.find(L'|');
        OtherDevice device;
        if (!ParseSide(entry.substr(0, bar), device.endpointId, device.endpointFirstChannel)) continue;
        if (bar != std::wstring::npos &&
            (entry.find(L'|', bar + 1) != std::wstring::npos ||
             !ParseSide(entry.substr(bar + 1), device.renderId, device.renderFirstChannel)))
            continue;
        devices.push_back(std::move(device));
    }
    return devices;
}

std::wstring FormatOtherDevice(const OtherDevice& device)
{
    std::wstring entry = FormatSide(device.endpointId, device.endpointFirstChannel);
    if (device.paired()) entry += L"|" + FormatSide(device.renderId, device.renderFirstChannel);
    return entry;
}
