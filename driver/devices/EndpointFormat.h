// What an endpoint accepts, as probed from the endpoint API or a kernel-streaming filter.
#pragma once

struct EndpointFormat {
    int minRate = 0;
    int maxRate = 0;
    int minBits = 0;
    int maxBits = 0;
    int channels = 0;  // most channels of an accepted format
};
