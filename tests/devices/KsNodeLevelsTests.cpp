#include <devices/DeviceIds.h>
#include <devices/KsAudCapFilter.h>
#include <devices/KsAudRenFilter.h>
#include <devices/KsNodeLevels.h>

#include <core/KnownDeviceTable.h>

#include "../virtual/VirtualHardware.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>

namespace {

namespace ids = VirtualUsb;

// Lumo A1's row: output mute-set 10, mute-clear 5, volume 6; input AGC 9, volume 8, mute-clear 7.
// Its virtual volume nodes run from -96 dB to 0 in steps of 1/256 dB (units of 1/65536 dB).
constexpr LONG kMinimum = -96 * 65536, kStep = 256;

class KsNodeLevelsTest : public ::testing::Test {
protected:
    std::optional<LONG> Value(CVirtualKs::FilterId filter, ULONG node, ULONG property, ULONG channel) const
    {
        return hw.ks.NodeValue(filter, node, property, channel);
    }
    template <typename Filter>
    std::unique_ptr<Filter> Opened(const std::wstring& path)
    {
        auto filter = std::make_unique<Filter>(hw, path, &table);
        EXPECT_EQ(filter->Open(), S_OK);
        EXPECT_EQ(filter->EnumeratePins(), S_OK);
        return filter;
    }

    CVirtualHardware hw;
    CKnownDeviceTable table;
};

// Ports name the filters by their endpoints' stored paths.
TEST_F(KsNodeLevelsTest, StartLevelsSetEveryNodeOfTheRowWithTheStepsOfItsRange)
{
    const auto lumo = hw.AddInterface(ids::kLumoA1, 2, 2);
    ASSERT_TRUE(CKsNodeLevels::ApplyHardwareVolumes(hw, hw.EndpointPath(lumo.device, true),
                                                    hw.EndpointPath(lumo.device, false), 100, 100, 99, 50, table));
    // Inputs: automatic gain off on both channels, the mute cleared, full level exactly.
    EXPECT_EQ(Value(lumo.captureFilter, 9, KSPROPERTY_AUDIO_AGC, 0), 0);
    EXPECT_EQ(Value(lumo.captureFilter, 9, KSPROPERTY_AUDIO_AGC, 1), 0);
    EXPECT_EQ(Value(lumo.captureFilter, 7, KSPROPERTY_AUDIO_MUTE, 0), 0);
    EXPECT_EQ(Value(lumo.captureFilter, 8, KSPROPERTY_AUDIO_VOLUMELEVEL, 0), 0);
    EXPECT_EQ(Value(lumo.captureFilter, 8, KSPROPERTY_AUDIO_VOLUMELEVEL, 1), 0);
    // Outputs: one mute set, one cleared; 99 % is -0.96 dB cut to the step toward zero.
    EXPECT_EQ(Value(lumo.renderFilter, 10, KSPROPERTY_AUDIO_MUTE, 0), 1);
    EXPECT_EQ(Value(lumo.renderFilter, 5, KSPROPERTY_AUDIO_MUTE, 0), 0);
    EXPECT_EQ(Value(lumo.renderFilter, 6, KSPROPERTY_AUDIO_VOLUMELEVEL, 0), -62720);
    EXPECT_EQ(Value(lumo.renderFilter, 6, KSPROPERTY_AUDIO_VOLUMELEVEL, 1), kMinimum / 2);
    EXPECT_EQ(*Value(lumo.renderFilter, 6, KSPROPERTY_AUDIO_VOLUMELEVEL, 0) % kStep, 0);

    // An interface of no known row keeps whatever it has.
    const auto other = hw.AddInterface(UsbIds{0x1234, 0x5678}, 2, 2);
    EXPECT_FALSE(CKsNodeLevels::ApplyHardwareVolumes(hw, hw.usb.AudioEndpointPath(other.device, true), L"", 10, 10,
                                                     10, 10, table));
    EXPECT_EQ(hw.ks.NodeSetCount(other.captureFilter), 0);
}

TEST_F(KsNodeLevelsTest, AStreamingInputAtZeroIsMutedAndComesBackWithItsLevel)
{
    const auto lumo = hw.AddInterface(ids::kLumoA1, 2, 2);
    const auto capture = Opened<CKsAudCapFilter>(hw.usb.AudioEndpointPath(lumo.device, true));
    CKsNodeLevels levels(*capture);
    ASSERT_TRUE(levels.SetStreamingLevel(0, 0));
    EXPECT_EQ(Value(lumo.captureFilter, 7, KSPROPERTY_AUDIO_MUTE, 0), 1);
    EXPECT_EQ(Value(lumo.captureFilter, 8, KSPROPERTY_AUDIO_VOLUMELEVEL, 0), kMinimum);
    ASSERT_TRUE(levels.SetStreamingLevel(30, 30));
    EXPECT_EQ(Value(lumo.captureFilter, 7, KSPROPERTY_AUDIO_MUTE, 0), 0);
    EXPECT_EQ(Value(lumo.captureFilter, 8, KSPROPERTY_AUDIO_VOLUMELEVEL, 1), -4403968);  // 30 %, cut to the step toward zero
    // Levels beyond the scale, as a damaged stored block may hold, are taken as its ends.
    ASSERT_TRUE(levels.SetStreamingLevel(250, -40));
    EXPECT_EQ(Value(lumo.captureFilter, 8, KSPROPERTY_AUDIO_VOLUMELEVEL, 0), 0);
    EXPECT_EQ(Value(lumo.captureFilter, 8, KSPROPERTY_AUDIO_VOLUMELEVEL, 1), kMinimum);
}

// Ranges whose span does not fit 32 bits, and nodes of more than two channels.
TEST_F(KsNodeLevelsTest, WideRangesAreComputedWithoutOverflowOnTheFirstTwoChannels)
{
    const auto lumo = hw.AddInterface(ids::kLumoA1, 2, 2);
    VirtualKsNode& volume = hw.ks.Filter(lumo.renderFilter).nodes[6];
    volume.minimum = INT_MIN;
    volume.maximum = INT_MAX;
    volume.stepping = 1;
    volume.channels = 3;
    const auto render = Opened<CKsAudRenFilter>(hw.usb.AudioEndpointPath(lumo.device, false));
    ASSERT_TRUE(CKsNodeLevels(*render).SetStreamingLevel(100, 50));
    EXPECT_EQ(Value(lumo.renderFilter, 6, KSPROPERTY_AUDIO_VOLUMELEVEL, 0), INT_MAX);
    EXPECT_EQ(Value(lumo.renderFilter, 6, KSPROPERTY_AUDIO_VOLUMELEVEL, 1), 0);
    EXPECT_FALSE(Value(lumo.renderFilter, 6, KSPROPERTY_AUDIO_VOLUMELEVEL, 2).has_value());
}

// Basic-support replies that lie leave the node alone, and the level reports the failure.
TEST_F(KsNodeLevelsTest, ADamagedVolumeRangeSetsNothing)
{
    const auto lumo = hw.AddInterface(ids::kLumoA1, 2, 2);
    struct Case {
        const char* what;
        std::function<void(std::vector<BYTE>&, DWORD&)> tamper;
    };
    const auto description = [](std::vector<BYTE>& bytes) { return reinterpret_cast<KSPROPERTY_DESCRIPTION*>(bytes.data()); };
    const auto members = [](std::vector<BYTE>& bytes) {
        return reinterpret_cast<KSPROPERTY_MEMBERSHEADER*>(bytes.data() + sizeof(KSPROPERTY_DESCRIPTION));
    };
    const Case cases[] = {
        {"value type", [&](std::vector<BYTE>& b, DWORD&) { description(b)->PropTypeSet.Id = VT_R8; }},
        {"size past the reply", [&](std::vector<BYTE>& b, DWORD&) { description(b)->DescriptionSize = 1 << 20; }},
        {"members size", [&](std::vector<BYTE>& b, DWORD&) { members(b)->MembersSize = 8; }},
        {"channel count past the reply", [&](std::vector<BYTE>& b, DWORD& claimed) {
             members(b)->MembersCount = 2;
             b.resize(b.size() - sizeof(KSPROPERTY_STEPPING_LONG));
             claimed = DWORD(b.size());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        hw.ks.SetTamper(lumo.captureFilter, [&c](const KSPROPERTY& property, ULONG, std::vector<BYTE>& bytes,
                                                  DWORD& claimed) {
            if (property.Flags & KSPROPERTY_TYPE_BASICSUPPORT) c.tamper(bytes, claimed);
        });
        const auto capture = Opened<CKsAudCapFilter>(hw.usb.AudioEndpointPath(lumo.device, true));
        ASSERT_EQ(capture->EnumerateNodes(), S_OK);
        ASSERT_GT(capture->nodes().size(), 8u);
        const int before = hw.ks.NodeSetCount(lumo.captureFilter);
        EXPECT_FALSE(SUCCEEDED(CKsNodeLevels(*capture).SetNodeVolume(capture->nodes()[8], 40, 40)));
        EXPECT_EQ(hw.ks.NodeSetCount(lumo.captureFilter), before);
    }
}

}  // namespace
