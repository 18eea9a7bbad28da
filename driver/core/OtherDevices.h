// "OtherDevices": the system's other audio devices the user chose as ports, one port a string,
// each the endpoint id IMMDevice::GetId gives, or "capture id|render id" for a pair. An id may
// end in "#N" to take the channel pair starting at channel N (1, 3, 5...) of an endpoint with
// more than two channels; without it the port takes the first pair.
#pragma once

#include <string>
#include <vector>

struct OtherDevice {
    std::wstring endpointId;  // the one endpoint of the port, or the capture endpoint of a pair
    std::wstring renderId;    // the render endpoint of a pair; empty for a single endpoint
    int endpointFirstChannel = 0;  // of the pair taken, counted from 0 (always even)
    int renderFirstChannel = 0;

    bool paired() const { return !renderId.empty(); }
};

// Longest endpoint id taken; Windows' own are about 55 characters.
constexpr size_t kMaxEndpointIdLength = 255;
// Most channels of an endpoint whose pairs can be chosen.
constexpr int kMaxEndpointChannels = 32;

// The well-formed entries in stored order; empty ones, ones with more than one '|', an empty side,
// an over-long id or a pair that is not "#" and an odd channel up to kMaxEndpointChannels - 1 are
// left out.
std::vector<OtherDevice> ParseOtherDevices(const std::vector<std::wstring>& entries);

// The entry ParseOtherDevices reads back as device.
std::wstring FormatOtherDevice(const OtherDevice& device);
