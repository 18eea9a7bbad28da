#include <devices/DeviceAccess.h>
#include <devices/DirectSoundDefaults.h>

#include "../support/NullDevicePlatform.h"

#include <gtest/gtest.h>

namespace {

TEST(DeviceAccess, StripPathPrefixDropsOnlyWhatPrecedesTheFirstInnerBackslash)
{
    EXPECT_EQ(CDeviceAccess::StripPathPrefix(L"{0.0.1.00000000}\\\\?\\usb#vid_08bb"), L"\\\\?\\usb#vid_08bb");
    EXPECT_EQ(CDeviceAccess::StripPathPrefix(L"\\\\?\\usb#vid_08bb&pid_2900"), L"\\\\?\\usb#vid_08bb&pid_2900");
    EXPECT_EQ(CDeviceAccess::StripPathPrefix(L"no separator"), L"no separator");
    EXPECT_EQ(CDeviceAccess::StripPathPrefix(L"a\\b\\c"), L"\\b\\c");
    EXPECT_EQ(CDeviceAccess::StripPathPrefix(L""), L"");
}

TEST(DeviceAccess, WithoutTheEndpointApiNothingIsListedOrProbed)
{
    CNullDevicePlatform platform;
    CDeviceAccess access(platform, 1, 3, false);
    EXPECT_FALSE(access.endpointBackendAvailable());
    EXPECT_EQ(access.osGeneration(), 3);
    std::vector<std::wstring> render = {L"stale"}, capture = {L"stale"};
    EXPECT_FALSE(access.ListEndpoints(render, capture));
    EXPECT_TRUE(render.empty());
    EXPECT_TRUE(capture.empty());
    EndpointFormat format;
    EXPECT_FALSE(access.QueryFormat(true, L"\\\\?\\USB#VID_08BB&PID_2900", format));
}

// Wine's dsound answers the private property set: the default devices are found by that route.
TEST(DirectSoundDefaults, FindsTheSystemsDefaultDevices)
{
    for (const bool capture : {false, true}) {
        std::wstring path = L"stale", name;
        int waveId = -7;
        ASSERT_TRUE(GetDirectSoundDefaultDevice(capture, path, name, &waveId)) << capture;
        EXPECT_FALSE(name.empty()) << capture;
        EXPECT_GE(waveId, 0) << capture;
        EXPECT_NE(path, L"stale");
    }
    // Without the endpoint API, device access takes this route for the defaults.
    CNullDevicePlatform platform;
    CDeviceAccess access(platform, 1, 1, false);
    std::wstring path, name;
    int waveId = -1;
    EXPECT_TRUE(access.GetDefaultRenderDevice(path, name, &waveId));
    EXPECT_GE(waveId, 0);
}

}  // namespace
