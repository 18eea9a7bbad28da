#include <testhost/SampleMix.h>

#include "TestHostBuffers.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct MixCase {
    ASIOSampleType type;
    int bytes;
};

class MixIntoType : public ::testing::TestWithParam<MixCase> {};

std::vector<uint8_t> Samples(int bytes, std::initializer_list<int32_t> values)
{
    std::vector<uint8_t> out(values.size() * bytes + 8, 0xE7);  // guard bytes behind
    int k = 0;
    for (int32_t v : values) PutSample(out.data() + bytes * k++, bytes, v);
    return out;
}

std::vector<int32_t> Values(const std::vector<uint8_t>& samples, int bytes, int count)
{
    std::vector<int32_t> values;
    for (int k = 0; k < count; ++k) values.push_back(GetSample(samples.data() + bytes * k, bytes));
    return values;
}

// Values on the upper 16 bits of a driver sample.
int32_t Scaled(int32_t value16, int bytes) { return bytes == 2 ? value16 : value16 * (1 << (8 * (bytes - 2))); }

TEST_P(MixIntoType, ClampsEverySumToPlusMinus32765OnTheUpper16Bits)
{
    const auto [type, bytes] = GetParam();
    const auto s = [bytes](int32_t v) { return Scaled(v, bytes); };
    std::vector<uint8_t> dst = Samples(bytes, {s(30000), s(-30000), s(100), s(32767), s(-32768), s(0)});
    const std::vector<uint8_t> src = Samples(bytes, {s(30000), s(-30000), s(-300), s(0), s(0), s(-1)});
    MixInto(6, dst.data(), src.data(), type);
    EXPECT_EQ(Values(dst, bytes, 6), (std::vector<int32_t>{s(32765), s(-32765), s(-200), s(32765), s(-32765), s(-1)}));
    // Clamping after each addition: the order of the sums matters.
    const std::vector<uint8_t> back = Samples(bytes, {s(-30000)});
    MixInto(1, dst.data(), back.data(), type);
    EXPECT_EQ(GetSample(dst.data(), bytes), s(2765));
    for (size_t b = 6 * bytes; b < dst.size(); ++b) ASSERT_EQ(dst[b], 0xE7) << "wrote past the block at " << b;
}

INSTANTIATE_TEST_SUITE_P(Types, MixIntoType,
                         ::testing::Values(MixCase{ASIOSTInt16LSB, 2}, MixCase{ASIOSTInt24LSB, 3}, MixCase{ASIOSTInt32LSB, 4},
                                           MixCase{ASIOSTInt32LSB24, 4}));

TEST(MixInto, WideSamplesKeepOnlyTheirUpper16Bits)
{
    std::vector<uint8_t> dst = Samples(4, {0, 0x00012345});
    const std::vector<uint8_t> src = Samples(4, {74565, 0x7FFF0000});
    MixInto(2, dst.data(), src.data(), ASIOSTInt32LSB);
    EXPECT_EQ(Values(dst, 4, 2), (std::vector<int32_t>{65536, 32765 << 16}));

    // Packed 24-bit: the low byte of either side is dropped and stored as 0.
    std::vector<uint8_t> dst24{0xAB, 0x34, 0x12, 0xCD, 0x00, 0x80};
    const std::vector<uint8_t> src24{0xFF, 0x01, 0x00, 0x11, 0x00, 0x00};
    MixInto(2, dst24.data(), src24.data(), ASIOSTInt24LSB);
    EXPECT_EQ(dst24, (std::vector<uint8_t>{0x00, 0x35, 0x12, 0x00, 0x03, 0x80}));  // 0x1235; -32765
}

TEST(ConvertToHost, KeepsTheMostSignificantBitsOfEveryFileFormat)
{
    const int16_t in16[] = {0x1234, -2};
    uint8_t in24[] = {0x56, 0x34, 0x12, 0xFE, 0xFF, 0xFF};
    const int32_t in32[] = {0x12345678, -2};
    struct Case {
        const void* source;
        int bits;
        ASIOSampleType type;
        std::vector<uint8_t> expected;
    };
    const Case cases[] = {
        {in16, 16, ASIOSTInt16LSB, {0x34, 0x12, 0xFE, 0xFF}},
        {in16, 16, ASIOSTInt24LSB, {0x00, 0x34, 0x12, 0x00, 0xFE, 0xFF}},
        {in16, 16, ASIOSTInt32LSB, {0x00, 0x00, 0x34, 0x12, 0x00, 0x00, 0xFE, 0xFF}},
        {in24, 24, ASIOSTInt16LSB, {0x34, 0x12, 0xFF, 0xFF}},
        {in24, 24, ASIOSTInt24LSB, {0x56, 0x34, 0x12, 0xFE, 0xFF, 0xFF}},
        {in24, 24, ASIOSTInt32LSB, {0x00, 0x56, 0x34, 0x12, 0x00, 0xFE, 0xFF, 0xFF}},
        {in32, 32, ASIOSTInt16LSB, {0x34, 0x12, 0xFF, 0xFF}},
        {in32, 32, ASIOSTInt24LSB, {0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF}},
        {in32, 32, ASIOSTInt32LSB, {0x78, 0x56, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> out(c.expected.size() + 4, 0xE7);
        ConvertToHost(2, c.source, c.bits, 1, out.data(), c.type);
        out.resize(c.expected.size() + 1);
        std::vector<uint8_t> expected = c.expected;
        expected.push_back(0xE7);
        EXPECT_EQ(out, expected) << c.bits << " bits to type " << c.type;
    }
    // Every second sample: the right channel of a stereo 16-bit file.
    const int16_t stereo[] = {1, 2, 3, 4, 5, 6};
    int16_t right[3] = {};
    ConvertToHost(3, stereo + 1, 16, 2, right, ASIOSTInt16LSB);
    EXPECT_EQ(std::vector<int16_t>(right, right + 3), (std::vector<int16_t>{2, 4, 6}));
}

TEST(InterleaveStereo, AlternatesLeftAndRightFrames)
{
    const uint8_t left[] = {1, 2, 3, 4, 5, 6};
    const uint8_t right[] = {7, 8, 9, 10, 11, 12};
    uint8_t out[12] = {};
    InterleaveStereo(2, left, right, out, 3);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 12), (std::vector<uint8_t>{1, 2, 3, 7, 8, 9, 4, 5, 6, 10, 11, 12}));
}

}  // namespace
