#include <testhost/RecordingFiles.h>
#include <testhost/WaveReader.h>
#include <testhost/WaveWriter.h>

#include "WaveTestFiles.h"

#include <gtest/gtest.h>

namespace {

struct Layout {
    WORD channels;
    WORD bits;
    DWORD rate;
};

class WaveRoundTrip : public ::testing::TestWithParam<Layout> {};

// Buffer-switch blocks, enough to cross the library's I/O buffer several times and end inside one.
TEST_P(WaveRoundTrip, WriterGivesTheCanonicalFileAndReaderGivesTheSamplesBack)
{
    const auto [channels, bits, rate] = GetParam();
    const DWORD frameBytes = channels * bits / 8, frames = 7000;
    const Bytes samples = CountedBytes(frames * frameBytes, channels * 100 + bits);
    ScratchFolder folder;
    const std::wstring path = folder.File(L"trip.wav");
    CWaveWriter writer;
    ASSERT_EQ(writer.Create(path, PcmFormat(channels, rate, bits)), S_OK);
    for (DWORD at = 0; at < frames; at += 512) writer.Append(&samples[at * frameBytes], std::min<DWORD>(512, frames - at) * frameBytes);
    ASSERT_EQ(writer.Finish(), S_OK);
    EXPECT_EQ(ReadFileBytes(path), PcmWave(channels, rate, bits, samples));  // header sizes included

    CWaveReader reader;
    ASSERT_EQ(reader.Open(path), S_OK);
    EXPECT_EQ(reader.Format().nChannels, channels);
    EXPECT_EQ(reader.Format().nSamplesPerSec, rate);
    EXPECT_EQ(reader.Format().wBitsPerSample, bits);
    EXPECT_EQ(reader.DataSize(), samples.size());
    // Pulled in blocks that do not divide the length: the last is short, its tail silent.
    Bytes readBack, block(300 * frameBytes);
    DWORD got = 0;
    while ((got = reader.ReadFrames(300, block.data())) == block.size()) readBack.insert(readBack.end(), block.begin(), block.end());
    readBack.insert(readBack.end(), block.begin(), block.begin() + got);
    EXPECT_EQ(readBack, samples);
    EXPECT_TRUE(std::all_of(block.begin() + got, block.end(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(reader.ReadFrames(300, block.data()), 0u);
    ASSERT_EQ(reader.Rewind(), S_OK);
    ASSERT_EQ(reader.ReadFrames(300, block.data()), block.size());
    EXPECT_TRUE(std::equal(block.begin(), block.end(), samples.begin()));
}

INSTANTIATE_TEST_SUITE_P(Formats, WaveRoundTrip,
                         ::testing::Values(Layout{1, 16, 44100}, Layout{2, 16, 44100}, Layout{1, 32, 44100}, Layout{2, 32, 44100},
                                           Layout{1, 16, 48000}, Layout{2, 16, 48000}, Layout{1, 32, 48000}, Layout{2, 32, 48000}));

TEST(WaveWriter, SizesAreRightForEmptyOddAndAbandonedRecordings)
{
    ScratchFolder folder;
    const std::wstring empty = folder.File(L"empty.wav");
    ASSERT_EQ(CWaveWriter().Create(empty, PcmFormat(2, 48000, 16)), S_OK);  // finished by its destructor
    EXPECT_EQ(ReadFileBytes(empty), PcmWave(2, 48000, 16, {}));

    // An odd count gets a pad byte that the RIFF size counts and the data size does not.
    const std::wstring odd = folder.File(L"odd.wav");
    {
        CWaveWriter writer;
        ASSERT_EQ(writer.Create(odd, PcmFormat(1, 44100, 16)), S_OK);
        writer.Append("\x01\x02\x03", 3);
    }
    const Bytes oddFile = ReadFileBytes(odd);
    EXPECT_EQ(oddFile, PcmWave(1, 44100, 16, {1, 2, 3}));
    EXPECT_EQ(GetLe(oddFile, 4), 40u);

    // Finishing twice, or appending after it, changes nothing.
    CWaveWriter writer;
    ASSERT_EQ(writer.Create(odd, RecordingFormat(RecordMode::StereoMix, 44100, 16)), S_OK);
    writer.Append("\x01\x02\x03\x04", 4);
    EXPECT_EQ(writer.Finish(), S_OK);
    EXPECT_EQ(writer.Finish(), S_FALSE);
    writer.Append("\x05\x06\x07\x08", 4);
    EXPECT_EQ(ReadFileBytes(odd), PcmWave(2, 44100, 16, {1, 2, 3, 4}));
}

TEST(WaveWriter, OtherTagsKeepTheirExtraBytes)
{
    ScratchFolder folder;
    const std::wstring path = folder.File(L"float.wav");
    WAVEFORMATEX format = PcmFormat(2, 48000, 32);
    format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    format.cbSize = 99;  // the extra bytes given decide, not this field
    const Bytes extra{0xA1, 0xB2, 0xC3}, samples = CountedBytes(8);
    {
        CWaveWriter writer;
        ASSERT_EQ(writer.Create(path, format, extra), S_OK);
        writer.Append(samples.data(), 8);
    }
    Bytes fmt = FmtBody(3, 2, 48000, 32);
    PutLe(fmt, 3, 2);
    fmt.insert(fmt.end(), extra.begin(), extra.end());
    EXPECT_EQ(ReadFileBytes(path), RiffFile({{"fmt ", fmt}, {"data", samples}}));

    CWaveReader reader;
    ASSERT_EQ(reader.Open(path), S_OK);
    EXPECT_EQ(reader.Format().wFormatTag, WAVE_FORMAT_IEEE_FLOAT);
    EXPECT_EQ(reader.Format().cbSize, 3);
    EXPECT_EQ(reader.FormatExtra(), extra);
    EXPECT_EQ(reader.DataSize(), 8u);
}

TEST(WaveReader, FindsChunksInAnyOrder)
{
    const Bytes samples = CountedBytes(64);
    Bytes oddFmt = FmtBody(1, 1, 44100, 16);
    oddFmt.push_back(0x77);  // an odd-sized format chunk, followed by its pad byte
    ScratchFolder folder;
    CWaveReader reader;
    ASSERT_EQ(reader.Open(folder.Write(L"order.wav", RiffFile({{"data", samples}, {"LIST", Bytes(5, 'l')}, {"fmt ", oddFmt}}))), S_OK);
    EXPECT_EQ(reader.Format().nSamplesPerSec, 44100u);
    Bytes readBack(64);
    DWORD got = 0;
    EXPECT_EQ(reader.Read(1000, readBack.data(), got), S_OK);
    EXPECT_EQ(got, 64u);
    EXPECT_EQ(readBack, samples);

    // A 16-byte format of another tag (as float files often have) has no extra bytes.
    ASSERT_EQ(reader.Open(folder.Write(L"float16.wav", RiffFile({{"fmt ", FmtBody(3, 2, 48000, 32)}, {"data", samples}}))), S_OK);
    EXPECT_EQ(reader.Format().cbSize, 0);
    EXPECT_EQ(reader.DataSize(), 64u);
}

TEST(WaveReader, RejectsBrokenFilesWithoutReadingPastThem)
{
    const Bytes fmt = FmtBody(1, 2, 44100, 16), data = CountedBytes(40);
    Bytes extraTooLong = FmtBody(3, 2, 44100, 32);
    PutLe(extraTooLong, 50, 2);  // 50 extra bytes claimed in an 18-byte chunk
    Bytes cutInFormat = PcmWave(2, 44100, 16, data), rifx = cutInFormat;
    cutInFormat.resize(30);
    rifx[3] = 'X';
    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"empty", {}},
        {"shorter than a RIFF header", Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V'}},
        {"RIFF of another form", RiffFile({{"fmt ", fmt}, {"data", data}}, "AVI ")},
        {"big-endian RIFX", rifx},
        {"no format chunk", RiffFile({{"data", data}})},
        {"format chunk of 14 bytes", RiffFile({{"fmt ", Bytes(fmt.begin(), fmt.begin() + 14)}, {"data", data}})},
        {"file ends inside the format", cutInFormat},
        // Enough data follows for the 50 bytes to read: only the chunk's own size tells.
        {"extra size beyond its chunk", RiffFile({{"fmt ", extraTooLong}, {"data", CountedBytes(400)}})},
        {"no data chunk", RiffFile({{"fmt ", fmt}})},
        // A size that wraps the position back to the same chunk: a naive search never ends.
        {"chunk size that wraps around", RiffFile({{"JUNK", Bytes(8), 0xFFFFFFF8u}, {"fmt ", fmt}, {"data", data}})},
    };
    ScratchFolder folder;
    CWaveReader reader;
    for (const auto& [what, bytes] : cases) {
        EXPECT_EQ(reader.Open(folder.Write(L"broken.wav", bytes)), E_FAIL) << what;
        DWORD got = 1;
        uint8_t byte;
        EXPECT_EQ(reader.Read(1, &byte, got), E_FAIL) << what;
        EXPECT_EQ(got, 0u) << what;
    }
    EXPECT_EQ(reader.Open(folder.path()), E_FAIL) << "a directory";
    EXPECT_EQ(reader.Open(folder.File(L"missing.wav")), E_FAIL) << "a missing file";
    EXPECT_EQ(reader.Rewind(), E_FAIL);
}

TEST(WaveReader, ReadsOnlyWhatATruncatedOrUnfinishedFileHolds)
{
    ScratchFolder folder;
    const Bytes data = CountedBytes(1000);
    CWaveReader reader;
    ASSERT_EQ(reader.Open(folder.Write(L"cut.wav", RiffFile({{"fmt ", FmtBody(1, 2, 44100, 16)}, {"data", data, 10000}}, "WAVE", 20000))), S_OK);
    EXPECT_EQ(reader.DataSize(), 1000u);
    Bytes readBack(4000, 0xEE);
    EXPECT_EQ(reader.ReadFrames(1000, readBack.data()), 1000u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), readBack.begin()));
    EXPECT_TRUE(std::all_of(readBack.begin() + 1000, readBack.end(), [](uint8_t b) { return b == 0; }));

    // Never finished: zero sizes, so no samples, but it opens.
    ASSERT_EQ(reader.Open(folder.Write(L"open.wav", RiffFile({{"fmt ", FmtBody(1, 1, 48000, 16)}, {"data", data, 0}}, "WAVE", 0))), S_OK);
    EXPECT_EQ(reader.DataSize(), 0u);
}

}  // namespace
