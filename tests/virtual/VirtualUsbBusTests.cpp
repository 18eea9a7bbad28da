#include "VirtualUsbBus.h"

#include <devices/DeviceIds.h>

#include <gtest/gtest.h>

#include <winioctl.h>
#include <usbioctl.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

namespace {

using NodeId = CVirtualUsbBus::NodeId;
namespace ids = VirtualUsb;

template <typename T>
T At(const std::vector<BYTE>& reply, size_t offset = 0)
{
    T value;
    std::memcpy(&value, reply.data() + offset, sizeof(T));
    return value;
}

std::wstring TextAt(const std::vector<BYTE>& reply, size_t offset, size_t end)
{
    std::wstring text((end - offset) / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), reply.data() + offset, text.size() * sizeof(wchar_t));
    return text;
}

class VirtualUsbBusTest : public ::testing::Test {
protected:
    // One buffer as input and output, the way the driver issues these requests.
    BOOL Request(HANDLE device, DWORD code, ULONG port, DWORD bytes, std::vector<BYTE>& reply, DWORD& returned)
    {
        reply.assign(std::max<DWORD>(bytes, sizeof(ULONG)), 0xCC);
        std::memcpy(reply.data(), &port, sizeof(ULONG));
        return bus.IoControl(device, code, reply.data(), bytes, reply.data(), bytes, &returned, nullptr);
    }
    DWORD Error(BOOL result) { return result ? ERROR_SUCCESS : GetLastError(); }

    CVirtualUsbBus bus;
    std::vector<BYTE> reply;
    DWORD returned = 0;
};

TEST_F(VirtualUsbBusTest, RequestsFollowWindowsLayoutsAndShortBufferRules)
{
    const NodeId root = bus.AddHostController(6);
    bus.AddHub(root, 2, ids::kOctaXHub, 7);
    const std::wstring rootName = bus.HubDeviceName(root).substr(4);

    const HANDLE controller = bus.OpenDevice(bus.HostControllerPath(root), 0, FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Error(Request(controller, IOCTL_USB_GET_ROOT_HUB_NAME, 0, 4, reply, returned)),
              static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_TRUE(Request(controller, IOCTL_USB_GET_ROOT_HUB_NAME, 0, 6, reply, returned));
    EXPECT_EQ(returned, 6u);
    const ULONG actual = At<ULONG>(reply);
    EXPECT_EQ(actual, 4 + (rootName.size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(TextAt(reply, 4, 6), rootName.substr(0, 1));  // cut, not terminated
    ASSERT_TRUE(Request(controller, IOCTL_USB_GET_ROOT_HUB_NAME, 0, actual, reply, returned));
    EXPECT_EQ(TextAt(reply, 4, actual), rootName + L'\0');
    bus.CloseDevice(controller);

    // On a hub handle the same code asks for the node information.
    const HANDLE rootHub = bus.OpenDevice(L"\\\\?\\" + rootName, 0, 0);  // either prefix opens a hub
    ASSERT_TRUE(Request(rootHub, IOCTL_USB_GET_NODE_INFORMATION, 0, sizeof(USB_NODE_INFORMATION), reply, returned));
    const auto information = At<USB_NODE_INFORMATION>(reply);
    EXPECT_EQ(information.NodeType, UsbHub);
    EXPECT_EQ(information.u.HubInformation.HubDescriptor.bNumberOfPorts, 6);

    ASSERT_TRUE(Request(rootHub, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, 2, 35, reply, returned));
    EXPECT_EQ(returned, 35u);
    auto connection = At<USB_NODE_CONNECTION_INFORMATION>(reply);
    EXPECT_EQ(connection.ConnectionStatus, DeviceConnected);
    EXPECT_TRUE(connection.DeviceIsHub);
    EXPECT_EQ(connection.DeviceDescriptor.idVendor, 0x1A40);
    EXPECT_EQ(connection.DeviceDescriptor.idProduct, 0x0201);
    ASSERT_TRUE(Request(rootHub, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, 5, 35, reply, returned));
    connection = At<USB_NODE_CONNECTION_INFORMATION>(reply);
    EXPECT_EQ(connection.ConnectionStatus, NoDeviceConnected);
    EXPECT_EQ(Error(Request(rootHub, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, 5, 4096, reply, returned)),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Error(Request(rootHub, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, 7, 35, reply, returned)),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Error(Request(rootHub, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, 2, 34, reply, returned)),
              static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    bus.CloseDevice(rootHub);
    EXPECT_EQ(bus.OpenHandleCount(), 0);
}

TEST_F(VirtualUsbBusTest, IdentitiesAreUniqueAndSurviveReplugging)
{
    const NodeId root = bus.AddHostController();
    const NodeId hub = bus.AddHub(root, 1, ids::kGenericHub);
    bus.AddOctaX(root, 2, 0x0020);
    bus.AddOctaX(hub, 1, 0x0020);
    const NodeId strym = bus.AddDevice(hub, 2, ids::kStrym);

    std::vector<DeviceInterface> devices;
    ASSERT_TRUE(bus.ListInterfaces(kGuidUsbDevice, devices));
    ASSERT_EQ(devices.size(), 14u);  // root hubs have no USB device interface
    std::set<std::wstring> keys, prefixes;
    for (const DeviceInterface& device : devices) {
        std::wstring value;
        if (bus.ReadDeviceRegistryString(device.instanceId, L"Driver", 4096, value)) keys.insert(value);
        if (bus.ReadDeviceRegistryString(device.instanceId, L"ParentIdPrefix", 4096, value)) prefixes.insert(value);
    }
    EXPECT_EQ(keys.size(), 14u);
    EXPECT_EQ(prefixes.size(), 11u);  // every device that is not a hub

    const std::wstring key = bus.DriverKey(strym);
    const std::wstring instance = bus.InstanceId(strym);
    const HANDLE hubHandle = bus.OpenDevice(bus.HubDeviceName(hub), 0, 0);
    bus.RemoveDevice(hub);
    ASSERT_TRUE(bus.ListInterfaces(kGuidUsbDevice, devices));
    EXPECT_EQ(devices.size(), 6u);
    EXPECT_EQ(Error(Request(hubHandle, IOCTL_USB_GET_NODE_INFORMATION, 0, 76, reply, returned)),
              static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_EQ(bus.OpenDevice(bus.HubDeviceName(hub), 0, 0), INVALID_HANDLE_VALUE);
    bus.CloseDevice(hubHandle);

    const NodeId again = bus.AddDevice(bus.AddHub(root, 1, ids::kGenericHub), 2, ids::kStrym);
    EXPECT_EQ(bus.InstanceId(again), instance);
    EXPECT_EQ(bus.DriverKey(again), key);
}

}  // namespace
