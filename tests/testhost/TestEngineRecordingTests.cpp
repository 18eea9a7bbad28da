#include <testhost/TestEngine.h>

#include "TestHostBuffers.h"
#include "WaveTestFiles.h"
#include "../support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct TypeCase {
    ASIOSampleType type;
    int bits;
};

class RecordingTypes : public ::testing::TestWithParam<TypeCase> {};

TEST_P(RecordingTypes, PerInputFilesHoldTheDriversSamplesByteForByte)
{
    const auto [type, bits] = GetParam();
    const long n = 64;
    ScratchFolder folder;
    // Display names are cut short: two inputs may share one, yet each needs its own file.
    const std::vector<std::wstring> names{L"In 1", L"In/2", L"In 1"};
    std::vector<std::wstring> expectedPaths;
    for (const std::wstring& name : {L"In 1", L"In/2", L"In 1 (2)"})
        expectedPaths.push_back(folder.File(RecordingFileName(RecordMode::PerInput, 48000, bits, name)));

    CTestEngine engine;
    TestHostBuffers buffers(3, 1, type, n);
    engine.FillRouting(3, 1);
    engine.SetInputEnabled(1, false);  // recording takes every input
    ASSERT_TRUE(engine.StartRecord(RecordMode::PerInput, folder.path(), 48000, type, names));
    EXPECT_TRUE(engine.Recording());
    EXPECT_EQ(engine.RecordedFiles(), expectedPaths);

    std::vector<Bytes> recorded(3);
    for (int b = 0; b < 5; ++b) {
        for (int i = 0; i < 3; ++i) {
            const Bytes samples = CountedBytes(size_t(n) * buffers.SampleBytes(), 10 * b + i);
            std::copy(samples.begin(), samples.end(), buffers.InputBytes(i, b % 2));
            recorded[i].insert(recorded[i].end(), samples.begin(), samples.end());
        }
        engine.ProcessBlock(buffers.block, b % 2);
    }
    engine.StopRecord();
    EXPECT_FALSE(engine.Recording());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ReadFileBytes(expectedPaths[i]), PcmWave(1, 48000, WORD(bits), recorded[i])) << i;

    // The recordings are play sources: input 1's second block comes back on the 16 upper bits.
    ASSERT_TRUE(engine.StartPlay(kPlaySourceRecordedFirst + 1, 48000, L""));
    engine.ProcessBlock(buffers.block, 0);
    engine.ProcessBlock(buffers.block, 1);
    const int bytes = buffers.SampleBytes();
    const int32_t scale = 1 << (8 * (bytes - 2));
    const std::vector<int32_t> played = buffers.Output(0, 1);
    for (long k = 0; k < n; ++k) {
        const int32_t upper = GetSample(&recorded[1][size_t(n + k) * bytes], bytes) >> (8 * (bytes - 2));
        ASSERT_EQ(played[size_t(k)], std::clamp(upper, -32765, 32765) * scale) << k;
    }
}

TEST_P(RecordingTypes, StereoMixPutsEvenInputsLeftAndOddInputsRight)
{
    const auto [type, bits] = GetParam();
    const long n = 32;
    const int bytes = bits / 8;
    const int32_t scale = 1 << (bits - 16);
    ScratchFolder folder;
    const std::wstring path = folder.File(RecordingFileName(RecordMode::StereoMix, 44100, bits));
    CTestEngine engine;
    TestHostBuffers buffers(3, 2, type, n);
    engine.FillRouting(3, 2);
    ASSERT_TRUE(engine.StartRecord(RecordMode::StereoMix, folder.path() + L"\\", 44100, type, {L"a", L"b", L"c"}));
    EXPECT_EQ(engine.RecordedFiles(), std::vector<std::wstring>{path});
    buffers.SetInput(0, 1, 30000 * scale);
    buffers.SetInput(1, 1, -500 * scale);
    buffers.SetInput(2, 1, 30000 * scale);
    engine.ProcessBlock(buffers.block, 1);
    engine.ProcessBlock(buffers.block, 0);  // silent inputs
    engine.StopRecord();

    Bytes expected(size_t(n) * 2 * 2 * bytes, 0);
    for (long k = 0; k < n; ++k) {
        PutSample(&expected[size_t(2 * k) * bytes], bytes, 32765 * scale);
        PutSample(&expected[size_t(2 * k + 1) * bytes], bytes, -500 * scale);
    }
    EXPECT_EQ(ReadFileBytes(path), PcmWave(2, 44100, WORD(bits), expected));
}

INSTANTIATE_TEST_SUITE_P(Types, RecordingTypes,
                         ::testing::Values(TypeCase{ASIOSTInt16LSB, 16}, TypeCase{ASIOSTInt24LSB, 24}, TypeCase{ASIOSTInt32LSB, 32}));

// Removes a folder made in the way of a recording file.
struct FolderInTheWay {
    explicit FolderInTheWay(const std::wstring& where) : path(where) { CreateDirectoryW(path.c_str(), nullptr); }
    ~FolderInTheWay() { RemoveDirectoryW(path.c_str()); }
    std::wstring path;
};

TEST(TestEngineRecording, AFileThatCannotBeCreatedStartsNothing)
{
    ScratchFolder folder;
    CTestEngine engine;
    TestHostBuffers buffers(2, 2, ASIOSTInt16LSB, 16);
    engine.FillRouting(2, 2);
    EXPECT_FALSE(engine.StartRecord(RecordMode::StereoMix, folder.path() + L"\\missing", 44100, ASIOSTInt16LSB, {}));
    EXPECT_FALSE(engine.Recording());
    EXPECT_TRUE(engine.RecordedFiles().empty());

    // The second file is blocked: the first is finished and closed, nothing is listed.
    const std::wstring first = folder.File(RecordingFileName(RecordMode::PerInput, 44100, 16, L"L"));
    FolderInTheWay blocked(folder.path() + L"\\" + RecordingFileName(RecordMode::PerInput, 44100, 16, L"R"));
    EXPECT_FALSE(engine.StartRecord(RecordMode::PerInput, folder.path(), 44100, ASIOSTInt16LSB, {L"L", L"R"}));
    EXPECT_FALSE(engine.Recording());
    EXPECT_TRUE(engine.RecordedFiles().empty());
    buffers.SetInput(0, 0, 1234);
    engine.ProcessBlock(buffers.block, 0);
    EXPECT_EQ(ReadFileBytes(first), PcmWave(1, 44100, 16, {}));
    EXPECT_TRUE(DeleteFileW(first.c_str()));

    // A later start with a place to write works.
    const std::wstring mix = folder.File(RecordingFileName(RecordMode::StereoMix, 44100, 16));
    ASSERT_TRUE(engine.StartRecord(RecordMode::StereoMix, folder.path(), 44100, ASIOSTInt16LSB, {L"L", L"R"}));
    engine.ProcessBlock(buffers.block, 0);
    engine.StopRecord();
    EXPECT_EQ(ReadFileBytes(mix).size(), 44u + 16 * 4);
}

TEST(TestEngineRecording, InputCountsThatChangeOrVanishAreHandled)
{
    ScratchFolder folder;
    CTestEngine engine;
    // Per input without inputs: recording with no file.
    ASSERT_TRUE(engine.StartRecord(RecordMode::PerInput, folder.path(), 44100, ASIOSTInt16LSB, {}));
    EXPECT_TRUE(engine.Recording());
    EXPECT_TRUE(engine.RecordedFiles().empty());
    TestHostBuffers none(0, 2, ASIOSTInt16LSB, 16);
    engine.ProcessBlock(none.block, 0);
    engine.StopRecord();
    engine.StopRecord();

    // Started with two inputs, the driver then reports three: the third has no file.
    const std::wstring a = folder.File(RecordingFileName(RecordMode::PerInput, 44100, 16, L"a"));
    const std::wstring b = folder.File(RecordingFileName(RecordMode::PerInput, 44100, 16, L"b"));
    ASSERT_TRUE(engine.StartRecord(RecordMode::PerInput, folder.path(), 44100, ASIOSTInt16LSB, {L"a", L"b"}));
    EXPECT_TRUE(engine.StartRecord(RecordMode::StereoMix, folder.path(), 44100, ASIOSTInt16LSB, {}))
        << "already recording";
    EXPECT_EQ(engine.RecordedFiles(), (std::vector<std::wstring>{a, b}));
    TestHostBuffers three(3, 0, ASIOSTInt16LSB, 16);
    for (int i = 0; i < 3; ++i) three.SetInput(i, 1, 10 + i);
    // Held across a restart: the block is not written.
    engine.HoldRecording(true);
    engine.ProcessBlock(three.block, 0);
    engine.HoldRecording(false);
    engine.ProcessBlock(three.block, 1);
    engine.StopRecord();
    EXPECT_EQ(ReadFileBytes(a), PcmWave(1, 44100, 16, three.InputBlock(0, 1)));
    EXPECT_EQ(ReadFileBytes(b), PcmWave(1, 44100, 16, three.InputBlock(1, 1)));
    EXPECT_EQ(engine.RecordedFiles().size(), 2u) << "kept after the recording stops";

    // A restarted driver with 32-bit buffers: its blocks do not go into the 16-bit files.
    ASSERT_TRUE(engine.StartRecord(RecordMode::PerInput, folder.path(), 44100, ASIOSTInt16LSB, {L"a", L"b"}));
    EXPECT_TRUE(engine.RecordingTakes(44100, ASIOSTInt16LSB));
    EXPECT_FALSE(engine.RecordingTakes(44100, ASIOSTInt32LSB));
    EXPECT_FALSE(engine.RecordingTakes(48000, ASIOSTInt16LSB));
    TestHostBuffers wider(2, 0, ASIOSTInt32LSB, 16);
    engine.ProcessBlock(wider.block, 0);
    engine.StopRecord();
    EXPECT_EQ(ReadFileBytes(a), PcmWave(1, 44100, 16, {}));
    EXPECT_FALSE(engine.RecordingTakes(44100, ASIOSTInt16LSB)) << "nothing is taken once stopped";
}

TEST(TestEngineRecording, BlockProcessingAllocatesNothing)
{
    ScratchFolder folder;
    const std::wstring shortFile = folder.Write(L"short.wav", PcmWave(2, 48000, 32, CountedBytes(8 * 100)));
    std::vector<std::wstring> names;
    for (int i = 0; i < 4; ++i) {
        names.push_back(L"in" + std::to_wstring(i));
        folder.File(RecordingFileName(RecordMode::PerInput, 48000, 32, names.back()));
    }
    folder.File(RecordingFileName(RecordMode::StereoMix, 48000, 32));
    CTestEngine engine;
    TestHostBuffers buffers(4, 4, ASIOSTInt32LSB, 1024);
    engine.FillRouting(4, 4);
    engine.SetMonitoring(true);
    for (int i = 0; i < 4; ++i) {
        std::copy_n(CountedBytes(1024 * 4, i).begin(), 1024 * 4, buffers.InputBytes(i, 0));
        std::copy_n(CountedBytes(1024 * 4, i + 4).begin(), 1024 * 4, buffers.InputBytes(i, 1));
    }

    ASSERT_TRUE(engine.StartPlay(kPlaySourceInternal, 48000, L""));
    ASSERT_TRUE(engine.StartRecord(RecordMode::StereoMix, folder.path(), 48000, ASIOSTInt32LSB, names));
    {
        AllocationCounter allocations;
        for (int b = 0; b < 40; ++b) engine.ProcessBlock(buffers.block, b % 2);
        EXPECT_EQ(allocations.count(), 0u);
    }
    engine.StopRecord();
    engine.StopPlay();

    // A file source that rewinds every block, and a file per input.
    ASSERT_TRUE(engine.StartPlay(kPlaySourceChosenFile, 48000, shortFile));
    ASSERT_TRUE(engine.StartRecord(RecordMode::PerInput, folder.path(), 48000, ASIOSTInt32LSB, names));
    {
        AllocationCounter allocations;
        for (int b = 0; b < 40; ++b) engine.ProcessBlock(buffers.block, b % 2);
        EXPECT_EQ(allocations.count(), 0u);
    }
    engine.StopRecord();
    EXPECT_EQ(ReadFileBytes(engine.RecordedFiles()[3]).size(), 44u + 40 * 1024 * 4);
    EXPECT_TRUE(buffers.GuardsIntact());
}

}  // namespace
