#include <devices/WaveOutVolume.h>

#include "../virtual/VirtualMixer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(WaveOutVolume, TwoChannelControlTakesLeftAndRightAtTheirExactValues)
{
    CVirtualMixer mixer;
    CWaveOutVolume volume(mixer);
    const std::vector<std::vector<DWORD>> expected = {{0, 65535}, {32767, 64879}, {64879, 32767}, {65535, 0}};
    EXPECT_TRUE(volume.SetWaveOutVolume(0, 100, 0));
    EXPECT_TRUE(volume.SetWaveOutVolume(50, 99, 0));
    EXPECT_TRUE(volume.SetWaveOutVolume(99, 50, 0));
    EXPECT_TRUE(volume.SetWaveOutVolume(100, 0, 0));
    EXPECT_EQ(mixer.written, expected);
    EXPECT_EQ(mixer.closed, 4);
}

TEST(WaveOutVolume, UniformControlTakesTheLeftLevelFromItsMinimumUp)
{
    CVirtualMixer mixer;
    mixer.uniform = true;
    mixer.minimum = 1000;
    mixer.maximum = 61000;
    CWaveOutVolume volume(mixer);
    for (int percent : {0, 50, 99, 100}) EXPECT_TRUE(volume.SetWaveOutVolume(percent, 100 - percent, 0));
    const std::vector<std::vector<DWORD>> expected = {{1000}, {31000}, {60400}, {61000}};
    EXPECT_EQ(mixer.written, expected);
}

TEST(WaveOutVolume, LevelsOutOfRangeAndWideControlsStayWithinTheControl)
{
    CVirtualMixer mixer;
    mixer.lineChannels = 6;  // a 5.1 speakers line: its other channels keep their levels
    CWaveOutVolume volume(mixer);
    EXPECT_TRUE(volume.SetWaveOutVolume(150, -20, 0));
    ASSERT_EQ(mixer.written.size(), 1u);
    EXPECT_EQ(mixer.written[0], (std::vector<DWORD>{65535, 0, 7, 7, 7, 7}));

    // The full 32-bit range: 100 % in single precision would overflow the value.
    mixer.lineChannels = 2;
    mixer.maximum = 0xFFFFFFFF;
    EXPECT_TRUE(volume.SetWaveOutVolume(100, 0, 0));
    EXPECT_EQ(mixer.written.back(), (std::vector<DWORD>{0xFFFFFFFF, 0}));
}

TEST(WaveOutVolume, AnyMissingPartOrFailedCallSetsNothingAndClosesTheMixer)
{
    using Fault = CVirtualMixer::Fault;
    struct Case {
        const char* what;
        Fault fault;
        DWORD channels;
        DWORD maximum;
    };
    for (const Case& c : {Case{"no speakers line", Fault::NoSpeakersLine, 2, 65535},
                          Case{"no volume control", Fault::NoVolumeControl, 2, 65535},
                          Case{"empty range", Fault::None, 2, 0}, Case{"line without channels", Fault::None, 0, 65535},
                          Case{"read fails", Fault::ReadFails, 2, 65535}, Case{"write fails", Fault::WriteFails, 2, 65535}}) {
        SCOPED_TRACE(c.what);
        CVirtualMixer mixer;
        mixer.fault = c.fault;
        mixer.lineChannels = c.channels;
        mixer.maximum = c.maximum;
        CWaveOutVolume volume(mixer);
        EXPECT_FALSE(volume.SetWaveOutVolume(50, 50, 0));
        EXPECT_TRUE(mixer.written.empty());
        EXPECT_EQ(mixer.opened, 1);
        EXPECT_EQ(mixer.closed, 1);
    }
    CVirtualMixer mixer;
    EXPECT_FALSE(CWaveOutVolume(mixer).SetWaveOutVolume(50, 50, 1)) << "no such wave device";
    EXPECT_EQ(mixer.closed, 0);
}

TEST(WaveOutVolume, TheRunningFilterRouteNeverOpensAMixer)
{
    CVirtualMixer mixer;
    EXPECT_FALSE(CWaveOutVolume(mixer).SetWaveOutVolume(40, 60, CWaveOutVolume::kRunningRenderFilter));
    int levels[2] = {-1, -1};
    CWaveOutVolume routed(mixer, [&](int left, int right) {
        levels[0] = left;
        levels[1] = right;
        return true;
    });
    EXPECT_TRUE(routed.SetWaveOutVolume(40, 60, CWaveOutVolume::kRunningRenderFilter));
    EXPECT_EQ(levels[0], 40);
    EXPECT_EQ(levels[1], 60);
    EXPECT_EQ(mixer.opened, 0);
}

}  // namespace
