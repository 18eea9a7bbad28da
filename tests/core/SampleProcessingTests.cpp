#include <core/ChannelFilter.h>
#include <core/HostSamples.h>

#include <asio/Asio.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(ChannelFilter, DcStageStartsFreshAndCarriesItsHistoryAcrossBlocks)
{
    CChannelFilter filter;
    filter.EnableDc(true);
    std::vector<int16_t> block(3, 1000);
    filter.ProcessDc(block.data(), 3);
    EXPECT_EQ(block, (std::vector<int16_t>{1000, 990, 980}));  // 1000, 990, 980.1
    // The next block continues the decay instead of starting again at 1000.
    std::vector<int16_t> next(2, 1000);
    filter.ProcessDc(next.data(), 2);
    EXPECT_EQ(next, (std::vector<int16_t>{970, 960}));  // 970.299, 960.596
    std::vector<int16_t> settle(2000, 1000);
    filter.ProcessDc(settle.data(), 2000);
    EXPECT_EQ(settle.back(), 0);

    // Switching it on again restarts the history.
    filter.EnableDc(true);
    std::vector<int16_t> again(1, 1000);
    filter.ProcessDc(again.data(), 1);
    EXPECT_EQ(again[0], 1000);

    // The gain applies before the DC stage, its history in scaled units: 500, 495, 490.05.
    CChannelFilter halved;
    halved.SetGain(50);
    halved.EnableDc(true);
    std::vector<int16_t> scaled(3, 1000);
    halved.ProcessDc(scaled.data(), 3);
    EXPECT_EQ(scaled, (std::vector<int16_t>{500, 495, 490}));

    // Off: ProcessDc leaves samples alone.
    filter.EnableDc(false);
    std::vector<int16_t> untouched = {-32768, 5};
    filter.ProcessDc(untouched.data(), 2);
    EXPECT_EQ(untouched, (std::vector<int16_t>{-32768, 5}));
}

TEST(ChannelFilter, GainTruncatesAndClampsOnlyWhenItApplies)
{
    CChannelFilter filter;
    std::vector<int16_t> samples = {32767, -32768, 100};
    filter.ProcessGain(samples.data(), 3);  // unity: no conversion at all
    EXPECT_EQ(samples, (std::vector<int16_t>{32767, -32768, 100}));

    filter.SetGain(99);
    filter.ProcessGain(samples.data(), 3);
    EXPECT_EQ(samples, (std::vector<int16_t>{32439, -32440, 99}));  // 32439.33, -32440.32, 99

    filter.SetGain(200);
    std::vector<int16_t> loud = {20000, -20000, 16382, -16383};
    filter.ProcessGain(loud.data(), 4);
    EXPECT_EQ(loud, (std::vector<int16_t>{32766, -32766, 32764, -32766}));
    EXPECT_EQ(ClampToSample(32765.0), 32765);
    EXPECT_EQ(ClampToSample(32765.5), 32766);
    EXPECT_EQ(ClampToSample(-0.9), 0);
}

TEST(HostSamples, ConversionsBetweenDeviceAndHostFormats)
{
    const int16_t device[3] = {0x1234, -2, 0x7fff};
    uint8_t host[12] = {};

    WriteHostSamples(ASIOSTInt16LSB, device, 3, host);
    EXPECT_EQ(memcmp(host, device, 6), 0);

    WriteHostSamples(ASIOSTInt32LSB, device, 3, host);
    int32_t wide[3];
    memcpy(wide, host, 12);
    EXPECT_EQ(wide[0], 0x12340000);
    EXPECT_EQ(wide[1], int32_t(0xfffe0000));
    EXPECT_EQ(wide[2], 0x7fff0000);

    WriteHostSamples(ASIOSTInt24LSB, device, 3, host);
    const uint8_t packed[9] = {0, 0x34, 0x12, 0, 0xfe, 0xff, 0, 0xff, 0x7f};
    EXPECT_EQ(memcmp(host, packed, 9), 0);

    // Back to the device: the upper 16 bits, no rounding, into every second sample.
    const int32_t fromHost[2] = {0x12345678, int32_t(0x8000ffff)};
    int16_t interleaved[4] = {9, 9, 9, 9};
    ReadHostSamples(ASIOSTInt32LSB, fromHost, 2, interleaved + 1, 2);
    EXPECT_EQ(interleaved[0], 9);
    EXPECT_EQ(interleaved[1], 0x1234);
    EXPECT_EQ(interleaved[3], int16_t(0x8000));
    const uint8_t fromPacked[3] = {0xff, 0x78, 0x56};
    ReadHostSamples(ASIOSTInt24LSB, fromPacked, 1, interleaved, 2);
    EXPECT_EQ(interleaved[0], 0x5678);
}

TEST(HostSamples, MonitorMixClampsAndClearsTheLowBits)
{
    int16_t in16[2] = {30000, -30000};
    int16_t out16[2] = {10000, -10000};
    MixHostSamples(ASIOSTInt16LSB, in16, out16, 2);
    EXPECT_EQ(out16[0], 32765);
    EXPECT_EQ(out16[1], -32765);

    int32_t in32[1] = {0x00100000 | 0x1234};
    int32_t out32[1] = {0x00200000 | 0x4321};
    MixHostSamples(ASIOSTInt32LSB, in32, out32, 1);
    EXPECT_EQ(out32[0], 0x00300000);
}

}  // namespace
