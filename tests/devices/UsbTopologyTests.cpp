#include "../virtual/VirtualUsbBus.h"

#include <devices/DeviceIds.h>
#include <devices/UsbTopology.h>

#include <gtest/gtest.h>

#include <winioctl.h>
#include <usbioctl.h>

#include <cwctype>
#include <memory>
#include <vector>

namespace {

using NodeId = CVirtualUsbBus::NodeId;
namespace ids = VirtualUsb;

struct Identity {
    bool found = false;
    int row = -1;
    int nonOptimalPort = -1;
    std::wstring model;
    std::wstring hub;
};

class UsbTopologyTest : public ::testing::Test {
protected:
    // Every scan must give back what it opened, exactly once.
    void TearDown() override
    {
        EXPECT_EQ(bus.OpenHandleCount(), 0);
        EXPECT_EQ(bus.BadCloseCount(), 0);
    }

    Identity Identify(CUsbTopology& scan, const std::wstring& path)
    {
        Identity id;
        id.found = scan.IdentifyDevice(path, *table, id.model, id.row, id.nonOptimalPort, id.hub);
        return id;
    }
    Identity Identify(const std::wstring& path) { return Identify(topology, path); }
    Identity Capture(NodeId device) { return Identify(bus.AudioEndpointPath(device, true)); }

    void ExpectRow(const Identity& id, int row, int nonOptimalPort, const std::wstring& hub = L"")
    {
        ASSERT_TRUE(id.found);
        EXPECT_EQ(id.row, row);
        EXPECT_EQ(id.model, table->Row(row).modelName);
        EXPECT_EQ(id.nonOptimalPort, nonOptimalPort);
        EXPECT_EQ(id.hub, hub);
    }

    CVirtualUsbBus bus;
    CUsbTopology topology{bus};
    const std::unique_ptr<CKnownDeviceTable> table = std::make_unique<CKnownDeviceTable>();
};

TEST_F(UsbTopologyTest, TreeHoldsConnectedPortsInOrderWithHubNamesAndParents)
{
    const NodeId root = bus.AddHostController();
    const NodeId device = bus.AddDevice(root, 2, ids::kStrym);
    const NodeId hub = bus.AddHub(root, 5, ids::kGenericHub);
    const NodeId behind = bus.AddDevice(hub, 3, ids::kLumoA1);
    const NodeId secondRoot = bus.AddHostController();

    topology.BuildUsbTopology();
    ASSERT_EQ(topology.hostControllerCount(), 2);
    const _sUsbNode& top = topology.RootNode(0);
    EXPECT_EQ(top.hubDeviceName, bus.HubDeviceName(root));
    ASSERT_EQ(top.childCount, 2);
    const _sUsbNode& first = top.children[0];
    EXPECT_EQ(first.port, 2);
    EXPECT_EQ(first.productId, ids::kStrym.productId);
    EXPECT_EQ(first.driverKeyName, bus.DriverKey(device));
    EXPECT_EQ(first.parent, &top);
    const _sUsbNode& external = top.children[1];
    EXPECT_EQ(external.hubDeviceName, bus.HubDeviceName(hub));
    ASSERT_EQ(external.childCount, 1);
    EXPECT_EQ(external.children[0].driverKeyName, bus.DriverKey(behind));
    EXPECT_EQ(external.children[0].parent, &external);
    EXPECT_EQ(topology.RootNode(1).hubDeviceName, bus.HubDeviceName(secondRoot));
    EXPECT_EQ(topology.RootNode(1).childCount, 0);

}

TEST_F(UsbTopologyTest, FailingHubsAndPortsAreLeftOut)
{
    const NodeId root = bus.AddHostController();
    const NodeId closedHub = bus.AddHub(root, 1, ids::kGenericHub);
    const NodeId hidden = bus.AddDevice(closedHub, 1, ids::kStrym);
    const NodeId failing = bus.AddDevice(root, 2, ids::kLumoA1);
    const NodeId healthy = bus.AddDevice(root, 3, ids::kLumoA4Plus);
    bus.FailOpen(closedHub);
    bus.FailRequest(failing, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME);

    topology.BuildUsbTopology();
    const _sUsbNode& top = topology.RootNode(0);
    ASSERT_EQ(top.childCount, 3);  // counted while connected, then its key failed
    EXPECT_EQ(top.children[0].port, 1);
    EXPECT_EQ(top.children[0].childCount, 0);
    EXPECT_EQ(top.children[1].port, 3);
    EXPECT_EQ(top.children[2].port, 0);  // the unfilled slot is the last one
    EXPECT_TRUE(top.children[2].driverKeyName.empty());

    EXPECT_FALSE(Capture(hidden).found);
    EXPECT_FALSE(Capture(failing).found);
    ExpectRow(Capture(healthy), 14, 0);
}

TEST_F(UsbTopologyTest, HostileRepliesEndTheScanWithoutReadingPastThem)
{
    const NodeId root = bus.AddHostController();
    const NodeId loop = bus.AddHub(root, 1, ids::kGenericHub);
    bus.ReportHubNameAs(loop, root);  // leads back to the root hub
    const NodeId lying = bus.AddHub(root, 2, ids::kGenericHub);
    bus.AddDevice(lying, 1, ids::kStrym);
    bus.OverrideActualLength(lying, IOCTL_USB_GET_NODE_CONNECTION_NAME, 0xFFFFFFFF);
    const NodeId longKey = bus.AddDevice(root, 3, ids::kLumoA1);
    bus.SetDriverKey(longKey, std::wstring(3000, L'k'));  // more than the 4096-byte reply holds

    topology.BuildUsbTopology();
    ASSERT_EQ(topology.RootNode(0).childCount, 3);
    int enumeratedTiers = 0;
    for (const _sUsbNode* n = &topology.RootNode(0); n->childCount > 0; n = &n->children[0]) ++enumeratedTiers;
    EXPECT_EQ(enumeratedTiers, CUsbTopology::kMaxHubTiers);
    const _sUsbNode& top = topology.RootNode(0);
    EXPECT_EQ(top.children[1].port, 2);
    EXPECT_TRUE(top.children[1].hubDeviceName.empty());
    EXPECT_EQ(top.children[1].childCount, 0);
    EXPECT_EQ(top.children[2].port, 0);

}

TEST_F(UsbTopologyTest, DeepHubChainsStopAtTheTierLimit)
{
    NodeId hub = bus.AddHostController();
    NodeId reachable = -1;
    for (int tier = 2; tier <= CUsbTopology::kMaxHubTiers + 1; ++tier) {
        hub = bus.AddHub(hub, 1, ids::kGenericHub);
        if (tier == CUsbTopology::kMaxHubTiers) reachable = bus.AddDevice(hub, 2, ids::kStrym);
    }
    const NodeId tooDeep = bus.AddDevice(hub, 2, ids::kStrymV4);
    ExpectRow(Capture(reachable), 11, 1);
    EXPECT_FALSE(Capture(tooDeep).found);
}

TEST_F(UsbTopologyTest, LumoA2AndA2XAreToldApartByTheInternalHubAndCompanion)
{
    const NodeId root = bus.AddHostController();
    const NodeId a2 = bus.AddDevice(root, 1, ids::kLumoA2);
    const CVirtualUsbBus::LumoA2X a2x = bus.AddLumoA2X(root, 2);
    const NodeId hub = bus.AddHub(root, 3, ids::kGenericHub);
    const CVirtualUsbBus::LumoA2X behindHub = bus.AddLumoA2X(hub, 1);
    const NodeId a2Behind = bus.AddDevice(hub, 2, ids::kLumoA2);

    // Two units of one model: each path belongs to its own connection only.
    ExpectRow(Capture(a2), 2, 0);
    ExpectRow(Identify(bus.AudioEndpointPath(a2Behind, false)), 2, 1);
    ExpectRow(Capture(a2x.codec), 1, 0, bus.HubDeviceName(a2x.hub));
    ExpectRow(Capture(behindHub.codec), 1, 1, bus.HubDeviceName(behindHub.hub));

    // Without its companion the A2X is neither an A2X nor, behind its own hub, an A2.
    bus.RemoveDevice(a2x.companion);
    CUsbTopology rescan(bus);
    EXPECT_FALSE(Identify(rescan, bus.AudioEndpointPath(a2x.codec, true)).found);
    EXPECT_TRUE(Identify(rescan, bus.AudioEndpointPath(a2, true)).found);
}

TEST_F(UsbTopologyTest, OctaXCodecsResolveByHubPortAndCompanionVariant)
{
    const NodeId root = bus.AddHostController();
    const NodeId hub = bus.AddHub(root, 4, ids::kGenericHub);
    const CVirtualUsbBus::OctaX late = bus.AddOctaX(root, 1, 0x0022);
    const CVirtualUsbBus::OctaX early = bus.AddOctaX(root, 2, 0x0020);
    const CVirtualUsbBus::OctaX second = bus.AddOctaX(root, 3, 0x0020);
    const CVirtualUsbBus::OctaX external = bus.AddOctaX(hub, 2, 0x0022);

    for (int codec = 0; codec < 4; ++codec) {
        SCOPED_TRACE(codec);
        ExpectRow(Capture(late.codecs[codec]), 3 + codec, 0, bus.HubDeviceName(late.hub));
        ExpectRow(Capture(early.codecs[codec]), 7 + codec, 0, bus.HubDeviceName(early.hub));
        ExpectRow(Capture(second.codecs[codec]), 7 + codec, 0, bus.HubDeviceName(second.hub));
        // Raised only because the unit's internal hub hangs on a non-root hub.
        ExpectRow(Capture(external.codecs[codec]), 3 + codec, 1, bus.HubDeviceName(external.hub));
    }
}

TEST_F(UsbTopologyTest, InternalHubOfAnotherProductOfTheSameVendorIsNoUnit)
{
    const NodeId root = bus.AddHostController();
    const CVirtualUsbBus::LumoA2X genuine = bus.AddLumoA2X(root, 1);
    // The A2X's codec and companion on their ports, but on another NEC hub.
    const NodeId nec = bus.AddHub(root, 2, ids::kLumoA2XHub.vendorId, 0x0058);
    const NodeId codec = bus.AddDevice(nec, 1, ids::kLumoA2);
    bus.AddDevice(nec, 2, 0x5A17, 0x0020);

    ExpectRow(Capture(genuine.codec), 1, 0, bus.HubDeviceName(genuine.hub));
    EXPECT_FALSE(Capture(codec).found);
}

TEST_F(UsbTopologyTest, HublessModelBehindAnInternalHubVendorsHubIsNotIdentified)
{
    const NodeId root = bus.AddHostController();
    const NodeId terminus = bus.AddHub(root, 1, 0x1A40, 0x0101);
    const NodeId nec = bus.AddHub(root, 2, 0x0409, 0x0058);
    const NodeId generic = bus.AddHub(root, 3, ids::kGenericHub);
    const NodeId a2 = bus.AddDevice(terminus, 1, ids::kLumoA2);
    const NodeId strymOnNec = bus.AddDevice(nec, 1, ids::kStrym);
    const NodeId strym = bus.AddDevice(generic, 1, ids::kStrym);

    EXPECT_FALSE(Capture(a2).found);
    EXPECT_FALSE(Capture(strymOnNec).found);
    ExpectRow(Capture(strym), 11, 1);
}

TEST_F(UsbTopologyTest, SingleInterfaceModelsMatchTheirRows)
{
    const NodeId root = bus.AddHostController();
    const struct {
        UsbIds ids;
        int row;
    } models[] = {{ids::kLumoA1, 0},      {ids::kStrym, 11},      {ids::kVeloranGuitar, 12},
                  {ids::kStrymV3, 13},    {ids::kLumoA4Plus, 14}, {ids::kStrymV4, 15}};
    std::vector<NodeId> devices;
    for (const auto& model : models) devices.push_back(bus.AddDevice(root, static_cast<int>(devices.size()) + 1, model.ids));
    for (size_t i = 0; i < devices.size(); ++i) {
        SCOPED_TRACE(models[i].row);
        ExpectRow(Capture(devices[i]), models[i].row, 0);
    }
}

TEST_F(UsbTopologyTest, ScanIsLazyAndNothingIsFoundWithoutHostController)
{
    const NodeId root = bus.AddHostController();
    const NodeId a1 = bus.AddDevice(root, 1, ids::kLumoA1);
    const CVirtualUsbBus::OctaX octa = bus.AddOctaX(root, 2, 0x0020);

    EXPECT_FALSE(Identify(L"\\\\?\\USB#VID_046D&PID_0A44&MI_00#7&1&0&0000#x").found);
    EXPECT_EQ(bus.OpenCallCount(), 0);  // no row's ids in the path: nothing scanned
    ExpectRow(Capture(a1), 0, 0);
    const int opens = bus.OpenCallCount();
    EXPECT_GT(opens, 0);
    ExpectRow(Capture(octa.codecs[2]), 9, 0, bus.HubDeviceName(octa.hub));
    EXPECT_EQ(bus.OpenCallCount(), opens);  // scanned once for the object's life

    bus.RemoveDevice(root);  // the controller takes its tree along
    CUsbTopology none(bus);
    EXPECT_FALSE(Identify(none, bus.AudioEndpointPath(a1, true)).found);
    EXPECT_FALSE(Identify(none, bus.AudioEndpointPath(octa.codecs[2], false)).found);
    EXPECT_EQ(none.hostControllerCount(), 0);
}

TEST_F(UsbTopologyTest, DriverKeyOwnershipNeedsTheKeyThePrefixAndTheIds)
{
    const NodeId root = bus.AddHostController();
    const NodeId a = bus.AddDevice(root, 1, ids::kLumoA2);
    const NodeId b = bus.AddDevice(root, 2, ids::kLumoA2);
    const _sKnownDeviceRow& lumoA2 = table->Row(2);
    const std::wstring path = bus.AudioEndpointPath(a, true);
    std::wstring upperKey = bus.DriverKey(a);
    for (wchar_t& c : upperKey) c = static_cast<wchar_t>(towupper(c));

    EXPECT_TRUE(topology.DriverKeyOwnsPath(path, bus.DriverKey(a), lumoA2));
    EXPECT_FALSE(topology.DriverKeyOwnsPath(path, bus.DriverKey(b), lumoA2));
    EXPECT_TRUE(topology.DriverKeyOwnsPath(path, upperKey, lumoA2));
    // Both ids must occur in the USB device's own path.
    _sKnownDeviceRow otherVendor = lumoA2, otherProduct = lumoA2;
    otherVendor.vendorId = 0x08BC;
    otherProduct.productId = 0x2901;
    EXPECT_FALSE(topology.DriverKeyOwnsPath(path, bus.DriverKey(a), otherVendor));
    EXPECT_FALSE(topology.DriverKeyOwnsPath(path, bus.DriverKey(a), otherProduct));

    bus.SetRegistryValue(a, L"Driver", upperKey);
    EXPECT_TRUE(topology.DriverKeyOwnsPath(path, bus.DriverKey(a), lumoA2));
    // Empty values occur in every path and equal every empty key: they prove nothing.
    bus.SetRegistryValue(b, L"Driver", L"");
    EXPECT_FALSE(topology.DriverKeyOwnsPath(bus.AudioEndpointPath(b, true), L"", lumoA2));
    bus.SetRegistryValue(a, L"ParentIdPrefix", L"");
    EXPECT_FALSE(topology.DriverKeyOwnsPath(path, bus.DriverKey(a), lumoA2));
    bus.DeleteRegistryValue(a, L"ParentIdPrefix");
    EXPECT_FALSE(topology.DriverKeyOwnsPath(path, bus.DriverKey(a), lumoA2));
    bus.SetRegistryValue(b, L"Driver", bus.DriverKey(b));
    ASSERT_TRUE(topology.DriverKeyOwnsPath(bus.AudioEndpointPath(b, true), bus.DriverKey(b), lumoA2));
    bus.FailInterfaceList(kGuidUsbDevice);
    EXPECT_FALSE(topology.DriverKeyOwnsPath(bus.AudioEndpointPath(b, true), bus.DriverKey(b), lumoA2));
}

}  // namespace
