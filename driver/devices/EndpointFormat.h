// What an endpoint accepts, as probed from the endpoint API or a kernel-streaming filter.
#pragma once

struct EndpointFormat {
    int minRate = 0;
    int maxRate = 0;
    int minBits = 0;
    int maxBits = 0;
    int channels = 0;  // most channels, up to two, of an accepted format; 0 when only endpointChannels
    // An endpoint of more than two channels that streams with all of them: their count; else 0.
    int endpointChannels = 0;
};
