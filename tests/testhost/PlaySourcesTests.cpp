#include <controls/ComboItems.h>
#include <testhost/PlaySources.h>
#include <testhost/TestEngine.h>
#include <veloran/FileNames.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr int kEnglish = 9, kFrench = 12;

class PlaySourcesTest : public ::testing::Test {
protected:
    PlaySourcesTest()
        : combo_(CreateWindowExW(0, L"ComboBox", L"", CBS_DROPDOWNLIST | WS_VSCROLL, 0, 0, 120, 200, nullptr,
                                 nullptr, GetModuleHandleW(nullptr), nullptr))
    {
    }
    ~PlaySourcesTest() override { DestroyWindow(combo_); }

    std::vector<int> Values() const
    {
        std::vector<int> values;
        const int count = int(SendMessageW(combo_, CB_GETCOUNT, 0, 0));
        for (int k = 0; k < count; ++k) values.push_back(int(SendMessageW(combo_, CB_GETITEMDATA, k, 0)));
        return values;
    }
    int Selected() const { return int(SendMessageW(combo_, CB_GETCURSEL, 0, 0)); }

    HWND combo_;
};

TEST_F(PlaySourcesTest, FirstRunOffersTheClipAndAnEmptyChoice)
{
    ASSERT_NE(combo_, nullptr);
    FillPlaySources(combo_, kEnglish, {}, L"");
    EXPECT_EQ(Values(), (std::vector<int>{kPlaySourceInternal, kPlaySourceChosenFile}));
    EXPECT_EQ(ComboItemText(combo_, 0), L"Internal Veloran audio file (courtesy Ysmaro)");
    EXPECT_EQ(ComboItemText(combo_, 1), L"Audio file of your choice (None)");
    EXPECT_EQ(Selected(), 0);

    FillPlaySources(combo_, kFrench, {}, L"C:\\Music\\take.one.wav");
    EXPECT_EQ(ComboItemText(combo_, 1), L"Fichier audio de votre choix (take.one)");
}

TEST_F(PlaySourcesTest, RecordingsComeBeforeTheChoiceAndTheSelectionKeepsItsPosition)
{
    FillPlaySources(combo_, kEnglish, {}, L"");
    SendMessageW(combo_, CB_SETCURSEL, 1, 0);
    const std::vector<std::wstring> recorded = {L"D:\\rec.v2\\VeloranAsio_Input_In L_44100_Hz_16_Bits.wav",
                                                L"D:\\rec.v2\\VeloranAsio_Input_In R_44100_Hz_16_Bits.wav"};
    FillPlaySources(combo_, kEnglish, recorded, L"E:\\x.wav");
    EXPECT_EQ(Values(), (std::vector<int>{kPlaySourceInternal, kPlaySourceRecordedFirst, kPlaySourceRecordedFirst + 1,
                                          kPlaySourceChosenFile}));
    EXPECT_EQ(ComboItemText(combo_, 1), L"Record test \"VeloranAsio_Input_In L_44100_Hz_16_Bits\"");
    EXPECT_EQ(ComboItemText(combo_, 3), L"Audio file of your choice (x)");
    // By position: the entry that was the chosen file is now the first recording.
    EXPECT_EQ(Selected(), 1);

    SendMessageW(combo_, CB_SETCURSEL, 3, 0);
    FillPlaySources(combo_, kEnglish, {}, L"E:\\x.wav");
    EXPECT_EQ(Selected(), 0) << "a position past the shorter list falls back to the clip";
}

TEST(PlaySourceTitles, FolderDotsAndMissingExtensionsAreKept)
{
    EXPECT_EQ(FileTitleOf(L"C:\\a.b\\song"), L"song");
    EXPECT_EQ(FileTitleOf(L"C:/x/song.final.wav"), L"song.final");
    EXPECT_EQ(FileTitleOf(L"song.wav"), L"song");
}

}  // namespace
