// "OtherDevices": the system's other audio devices the user chose as ports, one port a string,
// each the endpoint id IMMDevice::GetId gives, or "capture id|render id" for a pair.
#pragma once

#include <string>
#include <vector>

struct OtherDevice {
    std::wstring endpointId;  // the one endpoint of the port, or the capture endpoint of a pair
    std::wstring renderId;    // the render endpoint of a pair; empty for a single endpoint

    bool paired() const { return !renderId.empty(); }
};

// Longest endpoint id taken; Windows' own are about 55 characters.
constexpr size_t kMaxEndpointIdLength = 255;

// The well-formed entries in stored order; empty ones, ones with more than one '|', an empty side
// or an over-long id are left out.
std::vector<OtherDevice> ParseOtherDevices(const std::vector<std::wstring>& entries);
