#include <testhost/EmbeddedAudio.h>
#include <testhost/TestEngine.h>

#include "TestHostBuffers.h"
#include "WaveTestFiles.h"
#include "../support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

namespace {

std::vector<int32_t> Repeated(long frames, int32_t value) { return std::vector<int32_t>(size_t(frames), value); }

// Samples of the embedded pair from frame `from` on, looping, as a driver of `bytes` stores them.
std::vector<int32_t> PairSlice(const std::vector<int16_t>& channel, size_t from, long frames, int bytes)
{
    std::vector<int32_t> slice;
    for (long k = 0; k < frames; ++k) slice.push_back(channel[(from + size_t(k)) % channel.size()] * (1 << (8 * (bytes - 2))));
    return slice;
}

Bytes Pcm16(std::initializer_list<int> samples)
{
    Bytes bytes;
    for (int s : samples) PutLe(bytes, uint32_t(s), 2);
    return bytes;
}

TEST(TestEngineRouting, InputsMeetOutputsModuloTheSmallerCount)
{
    CTestEngine engine;
    engine.FillRouting(2, 8);
    for (int o = 0; o < 16; ++o) {
        EXPECT_EQ(engine.Route(0, o), o < 8 && o % 2 == 0 ? o : -1) << o;
        EXPECT_EQ(engine.Route(1, o), o < 8 && o % 2 == 1 ? o : -1) << o;
    }
    EXPECT_EQ(engine.Route(2, 0), -1);

    engine.FillRouting(8, 2);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(engine.Route(i, i % 2), i % 2) << i;
        EXPECT_EQ(engine.Route(i, 1 - i % 2), -1) << i;
    }

    engine.FillRouting(4, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(engine.Route(i, 0), i) << i;
        EXPECT_EQ(engine.Route(i, 1), -1) << i;
    }
    EXPECT_TRUE(engine.InputEnabled(3));
    EXPECT_FALSE(engine.InputEnabled(4));
    EXPECT_TRUE(engine.OutputEnabled(3));
    EXPECT_FALSE(engine.OutputEnabled(4));

    // No outputs: the inputs exist but route nowhere. Counts beyond the rows are cut.
    engine.FillRouting(3, 0);
    EXPECT_TRUE(engine.InputEnabled(2));
    EXPECT_EQ(engine.Route(0, 0), -1);
    engine.FillRouting(20, 20);
    EXPECT_EQ(engine.Route(15, 0), 15);
    EXPECT_FALSE(engine.InputEnabled(16));
    EXPECT_EQ(engine.Route(16, 0), -1);

    engine.ResetChannels();
    EXPECT_FALSE(engine.InputEnabled(0));
    EXPECT_FALSE(engine.OutputEnabled(0));
    EXPECT_EQ(engine.Route(0, 0), -1);
}

TEST(TestEngineMonitoring, SpreadsAndGathersInputsAcrossOutputs)
{
    CTestEngine engine;
    engine.SetMonitoring(true);
    {
        TestHostBuffers buffers(2, 8, ASIOSTInt16LSB, 32);
        engine.FillRouting(2, 8);
        buffers.SetInput(0, 1, 1000);
        buffers.SetInput(1, 1, -2000);
        engine.ProcessBlock(buffers.block, 1);
        for (int o = 0; o < 8; ++o) EXPECT_EQ(buffers.Output(o, 1), Repeated(32, o % 2 ? -2000 : 1000)) << o;
    }
    {
        TestHostBuffers buffers(8, 2, ASIOSTInt16LSB, 32);
        engine.FillRouting(8, 2);
        for (int i = 0; i < 8; ++i) buffers.SetInput(i, 0, 100 * (i + 1));
        engine.ProcessBlock(buffers.block, 0);
        EXPECT_EQ(buffers.Output(0, 0), Repeated(32, 100 + 300 + 500 + 700));
        EXPECT_EQ(buffers.Output(1, 0), Repeated(32, 200 + 400 + 600 + 800));
    }
    {
        TestHostBuffers buffers(3, 3, ASIOSTInt16LSB, 32);
        engine.FillRouting(3, 3);
        for (int i = 0; i < 3; ++i) buffers.SetInput(i, 0, 7 * (i + 1));
        engine.ProcessBlock(buffers.block, 0);
        for (int o = 0; o < 3; ++o) EXPECT_EQ(buffers.Output(o, 0), Repeated(32, 7 * (o + 1))) << o;
        EXPECT_TRUE(buffers.GuardsIntact());
    }
}

struct TypeCase {
    ASIOSampleType type;
    int bytes;
};

class TestEngineTypes : public ::testing::TestWithParam<TypeCase> {};

TEST_P(TestEngineTypes, MonitoringClampsSumsAndDropsTheLowBits)
{
    const auto [type, bytes] = GetParam();
    const int32_t scale = 1 << (8 * (bytes - 2));
    CTestEngine engine;
    TestHostBuffers buffers(4, 2, type, 48);
    engine.FillRouting(4, 2);
    engine.SetMonitoring(true);
    buffers.SetInput(0, 0, 30000 * scale);
    buffers.SetInput(2, 0, 30000 * scale);
    buffers.SetInput(1, 0, bytes == 2 ? 1 : scale + scale / 2 + 5);  // low bits below the upper 16
    buffers.FillOutputs(0, 12345);
    buffers.FillOutputs(1, 777);
    engine.ProcessBlock(buffers.block, 0);
    EXPECT_EQ(buffers.Output(0, 0), Repeated(48, 32765 * scale));
    EXPECT_EQ(buffers.Output(1, 0), Repeated(48, bytes == 2 ? 1 : scale));
    EXPECT_EQ(buffers.Output(1, 1), Repeated(48, 777)) << "the other half is the driver's";
    EXPECT_TRUE(buffers.GuardsIntact());

    // Disabled channels take no part; their outputs are still cleared.
    engine.SetInputEnabled(2, false);
    engine.SetOutputEnabled(1, false);
    buffers.FillOutputs(0, 12345);
    engine.ProcessBlock(buffers.block, 0);
    EXPECT_EQ(buffers.Output(0, 0), Repeated(48, 30000 * scale));
    EXPECT_EQ(buffers.Output(1, 0), Repeated(48, 0));

    engine.SetMonitoring(false);
    buffers.FillOutputs(0, 12345);
    engine.ProcessBlock(buffers.block, 0);
    EXPECT_EQ(buffers.Output(0, 0), Repeated(48, 0));
    EXPECT_TRUE(buffers.GuardsIntact());
}

TEST_P(TestEngineTypes, EmbeddedAudioAlternatesOverAllOutputsAndResumes)
{
    const auto [type, bytes] = GetParam();
    const long n = 256;
    const std::vector<int16_t> left = LoadEmbeddedAudio(nullptr, kDemoLeft44100);
    const std::vector<int16_t> right = LoadEmbeddedAudio(nullptr, kDemoRight44100);
    ASSERT_FALSE(left.empty());
    CTestEngine engine;
    TestHostBuffers buffers(0, 4, type, n);
    engine.FillRouting(0, 4);
    engine.SetOutputEnabled(1, false);
    ASSERT_TRUE(engine.StartPlay(kPlaySourceInternal, 44100, L""));
    EXPECT_TRUE(engine.Playing());
    engine.ProcessBlock(buffers.block, 0);
    EXPECT_EQ(buffers.Output(0, 0), PairSlice(left, 0, n, bytes));
    EXPECT_EQ(buffers.Output(1, 0), Repeated(n, 0));
    EXPECT_EQ(buffers.Output(2, 0), PairSlice(left, 0, n, bytes));
    EXPECT_EQ(buffers.Output(3, 0), PairSlice(right, 0, n, bytes)) << "disabled outputs count in the alternation";
    engine.ProcessBlock(buffers.block, 1);
    EXPECT_EQ(buffers.Output(3, 1), PairSlice(right, n, n, bytes));

    // Stopped, nothing plays; started again, it goes on where it stopped.
    engine.StopPlay();
    engine.ProcessBlock(buffers.block, 0);
    EXPECT_EQ(buffers.Output(0, 0), Repeated(n, 0));
    ASSERT_TRUE(engine.StartPlay(kPlaySourceInternal, 44100, L""));
    engine.ProcessBlock(buffers.block, 0);
    EXPECT_EQ(buffers.Output(0, 0), PairSlice(left, 2 * n, n, bytes));
    EXPECT_TRUE(buffers.GuardsIntact());
}

INSTANTIATE_TEST_SUITE_P(Types, TestEngineTypes,
                         ::testing::Values(TypeCase{ASIOSTInt16LSB, 2}, TypeCase{ASIOSTInt24LSB, 3}, TypeCase{ASIOSTInt32LSB, 4}));

TEST(TestEnginePlay, EmbeddedAudioReloadsForANewRateAndLoopsAtItsEnd)
{
    const std::vector<int16_t> left44 = LoadEmbeddedAudio(nullptr, kDemoLeft44100);
    const std::vector<int16_t> left48 = LoadEmbeddedAudio(nullptr, kDemoLeft48000);
    const std::vector<int16_t> right48 = LoadEmbeddedAudio(nullptr, kDemoRight48000);
    ASSERT_FALSE(left48.empty());
    const long n = 1024;
    CTestEngine engine;
    TestHostBuffers buffers(0, 2, ASIOSTInt16LSB, n);
    engine.FillRouting(0, 2);
    ASSERT_TRUE(engine.StartPlay(kPlaySourceInternal, 44100, L""));
    engine.ProcessBlock(buffers.block, 0);
    EXPECT_EQ(buffers.Output(0, 0), PairSlice(left44, 0, n, 2));
    engine.StopPlay();

    ASSERT_TRUE(engine.StartPlay(kPlaySourceInternal, 48000, L""));
    const size_t blocks = left48.size() / size_t(n) + 1;  // the last one crosses the end
    for (size_t b = 0; b < blocks; ++b) {
        engine.ProcessBlock(buffers.block, long(b % 2));
        if (b == 0) {
            EXPECT_EQ(buffers.Output(0, 0), PairSlice(left48, 0, n, 2)) << "started again from the beginning";
        }
    }
    const long last = long((blocks - 1) % 2);
    EXPECT_EQ(buffers.Output(0, last), PairSlice(left48, (blocks - 1) * size_t(n), n, 2));
    EXPECT_EQ(buffers.Output(1, last), PairSlice(right48, (blocks - 1) * size_t(n), n, 2));
    engine.ProcessBlock(buffers.block, 0);
    EXPECT_EQ(buffers.Output(0, 0), PairSlice(left48, blocks * size_t(n), n, 2));
}

TEST(TestEnginePlay, FilesPlayOnEveryEnabledOutputAndLoop)
{
    ScratchFolder folder;
    const std::wstring mono = folder.Write(L"mono.wav", PcmWave(1, 44100, 16, Pcm16({10, -20, 30, -40, 50, -60})));
    CTestEngine engine;
    TestHostBuffers buffers(0, 3, ASIOSTInt16LSB, 4);
    engine.FillRouting(0, 3);
    engine.SetOutputEnabled(2, false);
    ASSERT_TRUE(engine.StartPlay(kPlaySourceChosenFile, 44100, mono));
    engine.ProcessBlock(buffers.block, 0);
    EXPECT_EQ(buffers.Output(0, 0), (std::vector<int32_t>{10, -20, 30, -40}));
    EXPECT_EQ(buffers.Output(1, 0), (std::vector<int32_t>{10, -20, 30, -40}));
    EXPECT_EQ(buffers.Output(2, 0), (std::vector<int32_t>{0, 0, 0, 0}));
    // The short read at the end of the data leaves the rest silent and starts the file again.
    engine.ProcessBlock(buffers.block, 1);
    EXPECT_EQ(buffers.Output(0, 1), (std::vector<int32_t>{50, -60, 0, 0}));
    engine.ProcessBlock(buffers.block, 0);
    EXPECT_EQ(buffers.Output(1, 0), (std::vector<int32_t>{10, -20, 30, -40}));
    engine.StopPlay();

    // 32-bit stereo on a 16-bit driver: the upper 16 bits, left and right alternating.
    Bytes stereo32;
    for (uint32_t s : {0x00010002u, 0xFFFE0003u, 0x7FFF0004u, 0x80000005u}) PutLe(stereo32, s, 4);
    const std::wstring wide = folder.Write(L"wide.wav", PcmWave(2, 44100, 32, stereo32));
    ASSERT_TRUE(engine.StartPlay(kPlaySourceChosenFile, 44100, wide));
    engine.ProcessBlock(buffers.block, 0);
    EXPECT_EQ(buffers.Output(0, 0), (std::vector<int32_t>{1, 32765, 0, 0}));
    EXPECT_EQ(buffers.Output(1, 0), (std::vector<int32_t>{-2, -32765, 0, 0}));
    EXPECT_TRUE(buffers.GuardsIntact());
}

// Floats play at their level, whether tagged as floats or as an extensible float format:
// full scale is ±1.0, beyond it clamps, NaN is silence.
TEST(TestEnginePlay, FloatFilesPlayAtTheirLevel)
{
    Bytes floats;
    for (float f : {0.5f, -0.5f, 1.5f, -2.0f, 0.25f, std::numeric_limits<float>::quiet_NaN()}) {
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        PutLe(floats, bits, 4);
    }
    Bytes extensible = FmtBody(0xFFFE, 1, 44100, 32);
    PutLe(extensible, 22, 2);
    PutLe(extensible, 32, 2);
    PutLe(extensible, 4, 4);  // front centre
    for (uint8_t b : {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71})
        extensible.push_back(b);
    ScratchFolder folder;
    const std::vector<std::wstring> files = {
        folder.Write(L"float.wav", RiffFile({{"fmt ", FmtBody(3, 1, 44100, 32)}, {"data", floats}})),
        folder.Write(L"extensible.wav", RiffFile({{"fmt ", extensible}, {"data", floats}})),
    };
    for (const std::wstring& file : files) {
        CTestEngine engine;
        TestHostBuffers buffers(0, 1, ASIOSTInt16LSB, 6);
        engine.FillRouting(0, 1);
        ASSERT_TRUE(engine.StartPlay(kPlaySourceChosenFile, 44100, file));
        engine.ProcessBlock(buffers.block, 0);
        EXPECT_EQ(buffers.Output(0, 0), (std::vector<int32_t>{16384, -16384, 32765, -32765, 8192, 0}));
    }
}

TEST(TestEnginePlay, SourcesThatCannotPlayAreRefused)
{
    ScratchFolder folder;
    const std::wstring six = folder.Write(L"six.wav", PcmWave(6, 44100, 16, Bytes(6 * 2 * 64)));
    const std::wstring eight = folder.Write(L"eight.wav", PcmWave(1, 44100, 8, Bytes(64)));
    const std::wstring good = folder.Write(L"good.wav", PcmWave(1, 44100, 16, Pcm16({1000})));
    CTestEngine engine;
    EXPECT_FALSE(engine.StartPlay(-1, 44100, good));
    EXPECT_FALSE(engine.StartPlay(999, 44100, good));
    EXPECT_FALSE(engine.StartPlay(kPlaySourceRecordedFirst, 44100, good)) << "no recording yet";
    EXPECT_FALSE(engine.StartPlay(kPlaySourceChosenFile, 44100, folder.path() + L"\\missing.wav"));
    // More channels or other sample sizes than the staging handles would overrun it.
    EXPECT_FALSE(engine.StartPlay(kPlaySourceChosenFile, 44100, six));
    EXPECT_FALSE(engine.StartPlay(kPlaySourceChosenFile, 44100, eight));
    EXPECT_FALSE(engine.Playing());

    // The demonstration audio lives in the program's resources; a module without them has none.
    CTestEngine withoutAudio(GetModuleHandleW(L"kernel32.dll"));
    EXPECT_FALSE(withoutAudio.StartPlay(kPlaySourceInternal, 44100, L""));
    EXPECT_FALSE(withoutAudio.Playing());
    TestHostBuffers buffers(0, 2, ASIOSTInt16LSB, 16);
    withoutAudio.FillRouting(0, 2);
    withoutAudio.ProcessBlock(buffers.block, 0);
    EXPECT_EQ(buffers.Output(0, 0), Repeated(16, 0));

    // Playing already: the source stays.
    engine.FillRouting(0, 2);
    ASSERT_TRUE(engine.StartPlay(kPlaySourceChosenFile, 44100, good));
    EXPECT_TRUE(engine.StartPlay(kPlaySourceChosenFile, 44100, six));
    engine.ProcessBlock(buffers.block, 0);
    EXPECT_EQ(buffers.Output(0, 0)[0], 1000);
    engine.StopPlay();
    EXPECT_FALSE(engine.StartPlay(kPlaySourceChosenFile, 44100, six));
    EXPECT_FALSE(engine.Playing());
}

TEST(TestEngineBlocks, BlocksBeyondTheFixedCapacitiesAreLeftAlone)
{
    CTestEngine engine;
    engine.FillRouting(2, 2);
    engine.SetMonitoring(true);
    ASSERT_TRUE(engine.StartPlay(kPlaySourceInternal, 44100, L""));
    {
        TestHostBuffers buffers(2, 2, ASIOSTInt32LSB, 2048);
        buffers.SetInput(0, 0, 1 << 20);
        buffers.FillOutputs(0, 99);
        engine.ProcessBlock(buffers.block, 0);
        EXPECT_EQ(buffers.Output(0, 0), Repeated(2048, 99));
        EXPECT_TRUE(buffers.GuardsIntact());
    }
    {
        TestHostBuffers buffers(17, 2, ASIOSTInt16LSB, 16);
        buffers.FillOutputs(0, 99);
        engine.ProcessBlock(buffers.block, 0);
        EXPECT_EQ(buffers.Output(0, 0), Repeated(16, 99));
        engine.ProcessBlock(buffers.block, 2);
        EXPECT_TRUE(buffers.GuardsIntact());
    }
    {
        // A half the driver never handed over is skipped.
        TestHostBuffers buffers(2, 2, ASIOSTInt16LSB, 16);
        buffers.block.infos[1].buffers[0] = nullptr;
        buffers.block.infos[3].buffers[0] = nullptr;
        buffers.SetInput(0, 0, 5);
        engine.StopPlay();
        engine.ProcessBlock(buffers.block, 0);
        EXPECT_EQ(buffers.Output(0, 0), Repeated(16, 5));
    }
    EXPECT_EQ(engine.BlocksProcessed(), 4);
}

TEST(TestEngineBlocks, CountsBlocksAndKeepsTheInputPeaks)
{
    CTestEngine engine;
    TestHostBuffers buffers16(2, 0, ASIOSTInt16LSB, 8);
    buffers16.SetInput(0, 0, {0, 5, -32768, 7, 0, 0, 0, 0});
    buffers16.SetInput(1, 0, {0, 300, -200, 0, 0, 0, 0, 0});
    engine.ProcessBlock(buffers16.block, 0);
    buffers16.SetInput(1, 1, 100);
    engine.ProcessBlock(buffers16.block, 1);
    EXPECT_EQ(engine.BlocksProcessed(), 2);
    EXPECT_EQ(engine.InputPeak(0), 32768);
    EXPECT_EQ(engine.InputPeak(1), 300) << "the larger peak of an earlier block stays";
    EXPECT_EQ(engine.InputPeak(16), 0);

    engine.ResetStatistics();
    EXPECT_EQ(engine.BlocksProcessed(), 0);
    EXPECT_EQ(engine.InputPeak(0), 0);
    TestHostBuffers buffers24(1, 0, ASIOSTInt24LSB, 4);
    buffers24.SetInput(0, 0, {-1000 * 256 - 255, 0, 0, 0});
    engine.ProcessBlock(buffers24.block, 0);
    EXPECT_EQ(engine.InputPeak(0), 1001);  // -1000.996 on the 16-bit scale is taken as -1001
    TestHostBuffers buffers32(1, 0, ASIOSTInt32LSB, 4);
    buffers32.SetInput(0, 0, {0, 0x40000000, 0, 0});
    engine.ProcessBlock(buffers32.block, 0);
    EXPECT_EQ(engine.InputPeak(0), 16384);
    EXPECT_EQ(engine.BlocksProcessed(), 2);
}

}  // namespace
