#include <testhost/HostStrings.h>
#include <testhost/RecordingFiles.h>
#include <veloran/LocalizedStrings.h>

#include <gtest/gtest.h>

namespace {

TEST(RecordingFiles, NamesCarryRateAndBitsAndOnlyInputNamesAreCleaned)
{
    EXPECT_EQ(RecordingFileName(RecordMode::StereoMix, 48000, 32), L"VeloranAsio_StereoMix_48000_Hz_32_Bits.wav");
    EXPECT_EQ(RecordingFileName(RecordMode::StereoMix, 44100, 16, L"a/b"), L"VeloranAsio_StereoMix_44100_Hz_16_Bits.wav");
    EXPECT_EQ(RecordingFileName(RecordMode::PerInput, 44100, 16, L"In 1/2: Mic?"),
              L"VeloranAsio_Input_In 1_2_ Mic__44100_Hz_16_Bits.wav");
    EXPECT_EQ(RecordingFileName(RecordMode::PerInput, 48000, 32, L"\\/:*?\"<>|"),
              L"VeloranAsio_Input_" L"_________" L"_48000_Hz_32_Bits.wav");
    // Everything else, "%" and accents included, stays as the driver named the input.
    EXPECT_EQ(RecordingFileName(RecordMode::PerInput, 44100, 32, L"Entrée G 100%"),
              L"VeloranAsio_Input_Entrée G 100%_44100_Hz_32_Bits.wav");
}

TEST(RecordingFiles, PathsJoinWithExactlyOneBackslash)
{
    EXPECT_EQ(RecordingFilePath(L"D:\\", RecordMode::StereoMix, 44100, 16),
              L"D:\\VeloranAsio_StereoMix_44100_Hz_16_Bits.wav");
    EXPECT_EQ(RecordingFilePath(L"C:\\Rec", RecordMode::PerInput, 48000, 16, L"In L"),
              L"C:\\Rec\\VeloranAsio_Input_In L_48000_Hz_16_Bits.wav");

    const std::wstring folder = DefaultRecordFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), L'\\');
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(HostStrings, EveryTextExistsInBothLanguages)
{
    const HMODULE strings = GetModuleHandleW(nullptr);
    for (int id = 100; id < 1000; ++id)
        EXPECT_EQ(StoredString(strings, id).empty(), StoredString(strings, id + 1000).empty()) << id;
    EXPECT_EQ(HostText(kHostStrInternalAudio, kHostLanguageFrench), L"Fichier audio Veloran intégré (courtesy Ysmaro)");
    EXPECT_EQ(HostText(kHostStrInternalAudio, 10), L"Internal Veloran audio file (courtesy Ysmaro)");  // Spanish: English
    std::wstring text = L"stale";
    EXPECT_FALSE(LoadHostString(108, kHostLanguageFrench, text));
    EXPECT_TRUE(text.empty());
}

}  // namespace
