// One topology node of a kernel-streaming filter. The volume range part is read lazily by the
// level controls; channelCount -1 means not read yet.
#pragma once

#include <windows.h>

#include <cstdint>

struct _sKsNode {
    int32_t minimum[2] = {};
    int32_t maximum[2] = {};
    int32_t stepping[2] = {};
    int32_t isUnsigned = 0;
    int32_t channelCount = -1;
    double stepsPerPercent[2] = {};
    int32_t nodeId = 0;  // index in the filter's node list
    GUID type = {};
};
