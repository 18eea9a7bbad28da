#include <core/ChannelMap.h>
#include <core/KnownDevices.h>
#include <core/Mordane.h>
#include <devices/DeviceAccess.h>
#include <ui/Languages.h>

#include "../support/RegistryScratch.h"
#include "../virtual/VirtualHardware.h"

#include <veloran/DriverClassId.h>

#include <gtest/gtest.h>

#include <audioclient.h>
#include <algorithm>

#include <memory>

namespace {

using namespace VirtualUsb;

const std::wstring kHostKeyPath = L"Software\\ASIO\\Asio 2.0 Veloran Driver\\PortTestHost";

class PortBuildingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteTree(HKEY_LOCAL_MACHINE, kHostKeyPath);
        hostKey_.WriteDword(L"Language", kLanguageEnglish);
    }
    void TearDown() override { DeleteTree(HKEY_LOCAL_MACHINE, kHostKeyPath); }

    int Build(bool useDefaultDevices = false, bool defaultDevicesOnly = false, int shareMode = 1)
    {
        CDeviceAccess access(hardware_, shareMode, 0, true);
        CKnownDevices(table_, hostKey_, languages_)
            .BuildPorts(access, useDefaultDevices, defaultDevicesOnly, otherDevices_, ports_, count_, inventory_);
        return count_;
    }
    ChannelTotals Totals() const { return CountChannels(ports_, count_); }

    CVirtualHardware hardware_;
    CKnownDeviceTable table_;
    const CSettingsKey hostKey_{kVeloranDriverClsid, L"C:\\PortTestHost.exe"};
    const CSettingsKey defaultKey_{kVeloranDriverClsid, L""};
    const CLanguages languages_{&hostKey_, &defaultKey_};
    std::vector<OtherDevice> otherDevices_;
    _sPort ports_[kMaxPorts];
    int count_ = -1;
    PortInventory inventory_;
};

TEST_F(PortBuildingTest, OneInterfaceBecomesOneNamedPort)
{
    const VirtualInterface lumo = hardware_.AddInterface(kLumoA2);
    ASSERT_EQ(Build(), 1);
    const _sPort& port = ports_[0];
    EXPECT_EQ(port.name, L"Lumo A2");
    EXPECT_EQ(port.capturePath, hardware_.EndpointPath(lumo.device, true));
    EXPECT_EQ(port.renderPath, hardware_.EndpointPath(lumo.device, false));
    EXPECT_STREQ(port.input.channelName[0], L"Lumo A2 - In L");
    EXPECT_STREQ(port.input.channelName[1], L"Lumo A2 - In R");
    EXPECT_STREQ(port.output.channelName[0], L"Lumo A2 - Out L");
    EXPECT_STREQ(port.output.channelName[1], L"Lumo A2 - Out R");
    EXPECT_EQ(port.input.enabled, 1);
    EXPECT_EQ(port.output.enabled, 1);
    EXPECT_EQ(port.nonOptimalPort, 0);
    EXPECT_EQ(port.inputFormat.minRate, 44100.0);
    EXPECT_EQ(port.inputFormat.maxRate, 48000.0);
    // The Lumo A2 has an output volume node but no input volume node.
    EXPECT_EQ(port.hasInputVolume, 0);
    EXPECT_EQ(port.hasOutputVolume, 1);
    ASSERT_EQ(inventory_.interfacePaths.size(), 1u);
    EXPECT_EQ(inventory_.interfaceRows[0], 2u);
    EXPECT_EQ(Totals().inputs, 2);
}

TEST_F(PortBuildingTest, InterfaceBehindAnExternalHubIsFlagged)
{
    const auto root = hardware_.usb.AddHostController();
    const auto hub = hardware_.usb.AddHub(root, 1, kGenericHub);
    hardware_.AddEndpoints(hardware_.usb.AddDevice(hub, 3, kLumoA1), 2, 2);
    ASSERT_EQ(Build(), 1);
    EXPECT_EQ(ports_[0].name, L"Lumo A1");
    EXPECT_EQ(ports_[0].nonOptimalPort, 1);
    EXPECT_EQ(ports_[0].hasInputVolume, 1);
}

TEST_F(PortBuildingTest, OctaXGivesFourPortsOnlyTheFirstEnabled)
{
    const auto root = hardware_.usb.AddHostController();
    const CVirtualUsbBus::OctaX octa = hardware_.usb.AddOctaX(root, 2, 0x0020);
    // Discovery order must not matter: the codecs are grouped behind their hub.
    for (int codec : {2, 0, 3, 1}) hardware_.AddEndpoints(octa.codecs[codec], 2, 2);
    ASSERT_EQ(Build(), 4);
    const wchar_t* names[] = {L"Octa X 1-2", L"Octa X 3-4", L"Octa X 5-6", L"Octa X 7-8"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(ports_[i].name, names[i]);
        EXPECT_EQ(ports_[i].input.enabled, i == 0 ? 1 : 0) << i;
        EXPECT_EQ(ports_[i].output.enabled, i == 0 ? 1 : 0) << i;
    }
    EXPECT_STREQ(ports_[0].input.channelName[0], L"Octa X - In 1/L");
    EXPECT_STREQ(ports_[0].input.channelName[1], L"Octa X - In 2/R");
    EXPECT_STREQ(ports_[2].output.channelName[0], L"Octa X - Out 5");
    EXPECT_STREQ(ports_[2].output.channelName[1], L"Octa X - Out 6");
    EXPECT_EQ(inventory_.interfaceRows[0], 7u);  // the 0020 companion variant
}

TEST_F(PortBuildingTest, TwoUnitsOfAModelAreNumbered)
{
    const auto root = hardware_.usb.AddHostController();
    const auto first = hardware_.usb.AddOctaX(root, 1, 0x0022);
    const auto second = hardware_.usb.AddOctaX(root, 2, 0x0022);
    for (int codec = 0; codec < 4; ++codec) {
        hardware_.AddEndpoints(first.codecs[codec], 2, 2);
        hardware_.AddEndpoints(second.codecs[codec], 2, 2);
    }
    ASSERT_EQ(Build(), 8);
    std::vector<std::wstring> names;
    for (int i = 0; i < count_; ++i) names.push_back(ports_[i].name);
    EXPECT_EQ(std::count(names.begin(), names.end(), L"Octa X 1-2 (1)"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), L"Octa X 7-8 (2)"), 1);
    for (int i = 0; i < count_; ++i) {
        if (ports_[i].name != L"Octa X 1-2 (1)") continue;
        EXPECT_STREQ(ports_[i].input.channelName[0], L"Octa X (1) - In 1/L");
    }
    // Each unit's four ports share the capture path prefix of their own unit.
    for (int i = 0; i < count_; ++i) EXPECT_EQ(ports_[i].capturePath, ports_[i].inputFormat.path);
}

TEST_F(PortBuildingTest, InputOnlyAndInstrumentDevices)
{
    hardware_.AddInterface(kStrym, 1, 2);
    hardware_.AddInterface(kVeloranGuitar, 2, 0);
    ASSERT_EQ(Build(), 2);
    const _sPort* strym = ports_[0].name == L"Strym" ? &ports_[0] : &ports_[1];
    const _sPort* guitar = strym == &ports_[0] ? &ports_[1] : &ports_[0];
    EXPECT_EQ(strym->outputFormat.channels, 0);
    EXPECT_EQ(strym->input.monoToStereo, 1);  // offered as two ASIO inputs
    EXPECT_EQ(PortInputChannels(*strym), strym->input.enabled ? 2 : 0);
    EXPECT_STREQ(strym->output.channelName[0], L"");
    EXPECT_EQ(guitar->name, L"Veloran Guitar");
    EXPECT_EQ(guitar->inputFormat.channels, 1);
    EXPECT_EQ(guitar->input.instrumentPort, 1);
    EXPECT_EQ(guitar->outputFormat.channels, 0);
    // A guitar's render copy carries its capture path.
    EXPECT_EQ(guitar->renderPath, guitar->capturePath);

    DeleteTree(HKEY_LOCAL_MACHINE, kHostKeyPath);
    hostKey_.WriteDword(L"Language", kLanguageEnglish);
    hostKey_.WriteDword(L"Auto_MonoInput_ToStereo", 0);
    Build();
    for (int i = 0; i < count_; ++i) EXPECT_EQ(ports_[i].input.monoToStereo, 0);
    EXPECT_EQ(hostKey_.ReadDword(L"Auto_MonoInput_ToStereo", 7), 0u);
}

TEST_F(PortBuildingTest, UnknownDevicesAndRefusedEndpointsAreLeftOut)
{
    hardware_.AddInterface(UsbIds{0x1234, 0x5678});
    const VirtualInterface refusing = hardware_.AddInterface(kLumoA4Plus);
    hardware_.audio.RefuseExclusive(refusing.capture, AUDCLNT_E_UNSUPPORTED_FORMAT, AUDCLNT_E_UNSUPPORTED_FORMAT);
    hardware_.audio.RefuseExclusive(refusing.render, AUDCLNT_E_UNSUPPORTED_FORMAT, AUDCLNT_E_UNSUPPORTED_FORMAT);
    EXPECT_EQ(Build(false, false, 0), 0);  // exclusive only: nothing usable
    // The shared fallback makes the same interface usable.
    EXPECT_EQ(Build(false, false, 1), 1);
    EXPECT_EQ(ports_[0].name, L"Lumo A4+");
}

TEST_F(PortBuildingTest, DefaultDevicesTakePartOnlyWhenTheHostAllows)
{
    hardware_.AddDefaultDevices();
    hardware_.AddInterface(kLumoA2);
    EXPECT_EQ(Build(false), 1);
    EXPECT_TRUE(inventory_.defaultRenderPath.empty());

    ASSERT_EQ(Build(true), 2);
    const _sPort& device = ports_[0].name == L"Def. Sound Device" ? ports_[0] : ports_[1];
    EXPECT_EQ(device.name, L"Def. Sound Device");
    EXPECT_STREQ(device.input.channelName[0], L"Def. Sound Device - In L");
    EXPECT_EQ(device.hasInputVolume, 0);
    EXPECT_EQ(device.hasOutputVolume, 0);
    EXPECT_EQ(inventory_.defaultRenderPath, device.renderPath);
    EXPECT_EQ(inventory_.defaultCapturePath, device.capturePath);

    ASSERT_EQ(Build(true, true), 1);
    EXPECT_EQ(ports_[0].name, L"Def. Sound Device");

    // No language stored for the host yet: the name is in the language its texts will take (here
    // the default parameters'), not always French.
    uint32_t stored = 0xFFFFFFFF;  // automatic
    defaultKey_.TryReadDword(L"Language", stored);
    for (const int language : {kLanguageEnglish, kLanguageFrench}) {
        DeleteTree(HKEY_LOCAL_MACHINE, kHostKeyPath);
        defaultKey_.WriteDword(L"Language", uint32_t(language));
        ASSERT_EQ(Build(true, true), 1);
        EXPECT_EQ(ports_[0].name, language == kLanguageFrench ? L"Périph. par défaut" : L"Def. Sound Device");
    }
    defaultKey_.WriteDword(L"Language", stored);
}

TEST_F(PortBuildingTest, AtMostSixteenPortsAndNoHardwareAtAll)
{
    EXPECT_EQ(Build(), 0);
    for (int i = 0; i < 17; ++i) hardware_.AddInterface(kLumoA1);
    EXPECT_EQ(Build(), 16);
    EXPECT_EQ(ports_[15].name, L"Lumo A1 (16)");
}

// Devices of other makers, which no known-devices row identifies, become ports only when chosen.
class OtherDevicesTest : public PortBuildingTest {
protected:
    // A USB interface of another maker, both endpoints named after the adapter.
    VirtualInterface AddOtherVendor(const std::wstring& adapter, int captureChannels = 2, int renderChannels = 2)
    {
        if (root_ < 0) root_ = hardware_.usb.AddHostController();
        return hardware_.AddEndpoints(hardware_.usb.AddDevice(root_, nextPort_++, UsbIds{0x1397, 0x0500}),
                                      captureChannels, renderChannels, adapter);
    }
    std::wstring Id(int endpoint) const { return hardware_.audio.DeviceId(endpoint); }
    OtherDevice Pair(int capture, int render) const { return {Id(capture), Id(render)}; }
    OtherDevice Single(int endpoint) const { return {Id(endpoint), L""}; }

    CVirtualUsbBus::NodeId root_ = -1;
    int nextPort_ = 1;
};

TEST_F(OtherDevicesTest, ChosenDevicesFollowTheFamilyInTheirOrderNamedAsWindowsNamesThem)
{
    hardware_.AddInterface(kLumoA2);
    const VirtualInterface zeta = AddOtherVendor(L"Zeta USB");
    // A monitor's HDMI output and an eight-channel recorder's input, neither on USB.
    const int hdmi = hardware_.audio.AddEndpoint(eRender, L"", L"LG HDR 4K", 2);
    const int recorder = hardware_.audio.AddEndpoint(eCapture, L"", L"Octo Rec", 8);
    EXPECT_EQ(Build(), 1);  // nothing chosen: the family alone

    otherDevices_ = {Single(hdmi), Pair(zeta.capture, zeta.render), Single(recorder)};
    ASSERT_EQ(Build(), 4);
    EXPECT_EQ(ports_[0].name, L"Lumo A2");
    EXPECT_FALSE(ports_[0].otherDevice);

    const _sPort& monitor = ports_[1];
    EXPECT_EQ(monitor.name, L"Speakers (LG HDR 4K)");
    EXPECT_TRUE(monitor.otherDevice);
    EXPECT_EQ(monitor.renderPath, Id(hdmi));
    EXPECT_EQ(monitor.inputFormat.channels, 0);
    EXPECT_EQ(monitor.outputFormat.channels, 2);
    EXPECT_STREQ(monitor.output.channelName[1], L"Speakers (LG HDR 4K) - Out R");
    EXPECT_STREQ(monitor.input.channelName[0], L"");

    // Both endpoints of one adapter: the port takes the adapter's name.
    const _sPort& pair = ports_[2];
    EXPECT_EQ(pair.name, L"Zeta USB");
    EXPECT_EQ(pair.capturePath, Id(zeta.capture));
    EXPECT_EQ(pair.renderPath, Id(zeta.render));
    EXPECT_STREQ(pair.input.channelName[0], L"Zeta USB - In L");
    EXPECT_STREQ(pair.output.channelName[1], L"Zeta USB - Out R");

    // An endpoint of more than two channels gives its first pair.
    const _sPort& wide = ports_[3];
    EXPECT_EQ(wide.name, L"Microphone (Octo Rec)");
    EXPECT_EQ(wide.inputFormat.channels, 2);
    EXPECT_EQ(wide.outputFormat.channels, 0);
    EXPECT_STREQ(wide.input.channelName[1], L"Microphone (Octo Rec) - In R");
    EXPECT_EQ(inventory_.interfacePaths.size(), 1u);
}

TEST_F(OtherDevicesTest, AbsentWrongAndAlreadyPresentChoicesAreSkipped)
{
    const VirtualInterface lumo = hardware_.AddInterface(kLumoA2);
    const VirtualInterface defaults = hardware_.AddDefaultDevices();
    const VirtualInterface zeta = AddOtherVendor(L"Zeta USB");
    const VirtualInterface unplugged = AddOtherVendor(L"Gone USB");
    hardware_.audio.SetState(unplugged.capture, DEVICE_STATE_UNPLUGGED);
    const VirtualInterface longName = AddOtherVendor(L"A Very Long Adapter Name Of Some Maker", 2, 0);
    otherDevices_ = {
        Single(lumo.capture),      // a family interface is its own port already
        Single(defaults.render),   // so is the default output
        {L"{0.0.1.00000000}.{00000000-dead-4000-8000-000000000000}", L""},  // never present
        Single(unplugged.capture),  // present but not active
        Pair(zeta.render, zeta.capture),  // the sides the wrong way round
        Pair(zeta.capture, zeta.render),
        Single(zeta.render),  // already in the pair above
        Single(longName.capture),
    };
    ASSERT_EQ(Build(true), 4);
    EXPECT_EQ(ports_[0].name, L"Lumo A2");
    EXPECT_EQ(ports_[1].name, L"Def. Sound Device");
    EXPECT_EQ(ports_[2].name, L"Zeta USB");
    EXPECT_EQ(ports_[3].name, L"Microphone (A Very Long Adapter");  // cut to the name field
    EXPECT_EQ(ports_[3].name.size(), size_t(kNameLength));
    EXPECT_STREQ(ports_[3].input.channelName[0], L"Microphone (A Very Long Adapter");

    // Unplugged, the chosen pair is left out; plugged in again, it is back.
    hardware_.audio.SetState(zeta.render, DEVICE_STATE_UNPLUGGED);
    ASSERT_EQ(Build(true), 3);
    EXPECT_EQ(ports_[2].name, L"Microphone (A Very Long Adapter");
    hardware_.audio.SetState(zeta.render, DEVICE_STATE_ACTIVE);
    ASSERT_EQ(Build(true), 4);
    EXPECT_EQ(ports_[2].name, L"Zeta USB");
}

// An entry's "#N" takes that pair of a wide endpoint, which then streams all its channels.
TEST_F(OtherDevicesTest, ChosenPairOfAWideEndpointIsNamedAfterItAndOneEntryTakesTheEndpoint)
{
    const VirtualInterface octo = AddOtherVendor(L"Octo Interface With A Long Name", 8, 8);
    const int stereo = hardware_.audio.AddEndpoint(eCapture, L"", L"Desk Mic", 2);
    const auto pair = [&](int first) {
        OtherDevice device = Pair(octo.capture, octo.render);
        device.endpointFirstChannel = device.renderFirstChannel = first;
        return device;
    };
    OtherDevice beyondStereo = Single(stereo);
    beyondStereo.endpointFirstChannel = 2;
    // Exclusive alone: the endpoint takes no two-channel format, yet its pairs are offered.
    otherDevices_ = {pair(8), beyondStereo, pair(2), pair(4)};
    ASSERT_EQ(Build(false, false, 0), 1);
    const _sPort& port = ports_[0];
    EXPECT_EQ(port.name, L"Octo Interface With A Long 3-4");  // cut to the name field with its pair
    for (const _sPortFormat* format : {&port.inputFormat, &port.outputFormat}) {
        EXPECT_EQ(format->channels, 2);
        EXPECT_EQ(format->endpointChannels, 8);
        EXPECT_EQ(format->firstChannel, 2);
    }
}

// The driver object on the same virtual machine, as a host sees it.
class DriverOnVirtualHardwareTest : public PortBuildingTest {
protected:
    std::unique_ptr<CMordane> Driver()
    {
        HRESULT result = S_OK;
        auto driver = std::make_unique<CMordane>(nullptr, &result, hostKey_, defaultKey_, hardware_);
        EXPECT_EQ(result, S_OK);
        return driver;
    }
    static std::string ChannelName(CMordane& driver, bool input, long channel)
    {
        ASIOChannelInfo info = {};
        info.channel = channel;
        info.isInput = input;
        return driver.getChannelInfo(&info) == ASE_OK ? info.name : "<none>";
    }
};

TEST_F(DriverOnVirtualHardwareTest, StoredOrderEnablesEveryPortUpToSixteenChannels)
{
    for (int i = 0; i < 9; ++i) hardware_.AddInterface(kLumoA1);
    auto driver = Driver();
    driver->init(nullptr);
    long inputs = 0, outputs = 0;
    driver->getChannels(&inputs, &outputs);
    EXPECT_EQ(inputs, 16);
    EXPECT_EQ(outputs, 16);
    EXPECT_EQ(driver->portCount(), 9);
    EXPECT_EQ(driver->HardwareDescription().substr(0, 24), L"Lumo A1 (1) | Lumo A1 (2");
}

TEST_F(DriverOnVirtualHardwareTest, MonoInputIsOfferedTwiceNextToAStereoPort)
{
    hardware_.AddInterface(kLumoA2);
    hardware_.AddInterface(kStrym, 1, 2);
    auto driver = Driver();
    driver->init(nullptr);
    long inputs = 0, outputs = 0;
    driver->getChannels(&inputs, &outputs);
    EXPECT_EQ(inputs, 4);
    EXPECT_EQ(outputs, 2);
    EXPECT_EQ(ChannelName(*driver, true, 0), "Lumo A2 - In L");
    EXPECT_EQ(ChannelName(*driver, true, 2), "Strym - In L");
    EXPECT_EQ(ChannelName(*driver, true, 3), "Strym - In R");
    EXPECT_EQ(ChannelName(*driver, false, 1), "Lumo A2 - Out R");
    EXPECT_EQ(ChannelName(*driver, false, 2), "<none>");
}

// A port carries one stereo pair each way, however many channels its capture endpoint reports,
// by either route to it.
TEST_F(DriverOnVirtualHardwareTest, CaptureEndpointOfEightChannelsGivesOneStereoPair)
{
    hardware_.AddInterface(kLumoA2, 8, 2);
    for (const bool endpointApi : {true, false}) {
        SCOPED_TRACE(endpointApi ? "endpoint API" : "kernel streaming");
        hardware_.endpointApi = endpointApi;
        auto driver = Driver();
        driver->init(nullptr);
        long inputs = 0, outputs = 0;
        driver->getChannels(&inputs, &outputs);
        EXPECT_EQ(inputs, 2);
        EXPECT_EQ(outputs, 2);
        ASSERT_EQ(driver->portCount(), 1);
        EXPECT_EQ(driver->ports()[0].inputFormat.channels, 2);
        EXPECT_EQ(ChannelName(*driver, true, 1), "Lumo A2 - In R");
        EXPECT_EQ(ChannelName(*driver, true, 2), "<none>");
    }
}

TEST_F(DriverOnVirtualHardwareTest, OctaUnitIsDescribedOnce)
{
    const auto root = hardware_.usb.AddHostController();
    const auto octa = hardware_.usb.AddOctaX(root, 1, 0x0022);
    for (auto codec : octa.codecs) hardware_.AddEndpoints(codec, 2, 2);
    hardware_.AddInterface(kStrym, 1, 2);
    auto driver = Driver();
    driver->init(nullptr);
    EXPECT_EQ(driver->HardwareDescription(), L"Lumo Octa X | Strym");
}

}  // namespace
