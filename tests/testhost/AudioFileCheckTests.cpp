#include <testhost/AudioFileCheck.h>
#include <testhost/HostStrings.h>

#include "WaveTestFiles.h"

#include <gtest/gtest.h>

namespace {

const HWND kDialog = reinterpret_cast<HWND>(0x1234);  // only handed on to the boxes

struct ShownBox {
    HWND owner;
    std::wstring text, title;
    UINT style;
};

// Stands in for MessageBoxW: records what would be shown and answers as told.
struct BoxRecorder {
    int answer = IDYES;
    std::vector<ShownBox> shown;
    MessageBoxFunction Function()
    {
        return [this](HWND owner, const std::wstring& text, const std::wstring& title, UINT style) {
            shown.push_back({owner, text, title, style});
            return answer;
        };
    }
};

const std::wstring kReadError = L"Audio file reading error!";
const std::wstring kRates = L"44,1 kHz or 48kHz sample rates supported only!";
const std::wstring kChannels = L"Mono or stereo formats supported only!";
const std::wstring kBits = L"16 or 32 bits format supported only!";

TEST(ChosenFileCheck, RejectsWhatTheEngineCannotPlayWithTheMatchingWarning)
{
    const Bytes data = CountedBytes(256);
    const struct {
        const char* what;
        Bytes file;
        std::wstring warning;  // empty: accepted without a question
    } cases[] = {
        {"16-bit stereo", PcmWave(2, 44100, 16, data), L""},
        {"32-bit mono", PcmWave(1, 44100, 32, data), L""},
        {"32-bit float", RiffFile({{"fmt ", FmtBody(3, 2, 44100, 32)}, {"data", data}}), L""},
        {"24-bit", PcmWave(2, 44100, 24, data), kBits},
        {"8-bit", PcmWave(1, 44100, 8, data), kBits},
        {"96 kHz", PcmWave(2, 96000, 16, data), kRates},
        {"6 channels", PcmWave(6, 44100, 16, data), kChannels},
        {"no channels", PcmWave(0, 44100, 16, data), kChannels},
        {"the rate is checked first", PcmWave(6, 96000, 24, data), kRates},
        // Frames are read as channels × bits / 8 and a cut recording plays what it holds.
        {"absurd block align", RiffFile({{"fmt ", FmtBody(1, 2, 44100, 16, 3000)}, {"data", data}}), L""},
        {"data beyond the file", RiffFile({{"fmt ", FmtBody(1, 2, 44100, 16)}, {"data", data, 100000}}), L""},
        {"not a WAVE file", RiffFile({{"fmt ", FmtBody(1, 2, 44100, 16)}, {"data", data}}, "AVI "), kReadError},
        {"empty file", {}, kReadError},
    };
    ScratchFolder folder;
    for (const auto& check : cases) {
        BoxRecorder boxes;
        const std::wstring path = folder.Write(L"chosen.wav", check.file);
        EXPECT_EQ(CheckChosenFile(path, kDialog, kHostLanguageEnglish, 44100, boxes.Function()), check.warning.empty()) << check.what;
        ASSERT_EQ(boxes.shown.size(), check.warning.empty() ? 0u : 1u) << check.what;
        if (check.warning.empty()) continue;
        EXPECT_EQ(boxes.shown[0].text, check.warning) << check.what;
        EXPECT_EQ(boxes.shown[0].title, L"Veloran ASIO Driver : Functionality test") << check.what;
        EXPECT_EQ(boxes.shown[0].style, UINT(MB_ICONWARNING)) << check.what;
        EXPECT_EQ(boxes.shown[0].owner, kDialog) << check.what;
    }

    BoxRecorder boxes;
    EXPECT_FALSE(CheckChosenFile(folder.path(), kDialog, kHostLanguageEnglish, 44100, boxes.Function()));  // a directory
    // French for language 12 only.
    EXPECT_FALSE(CheckChosenFile(folder.Write(L"six.wav", PcmWave(6, 44100, 16, data)), kDialog, kHostLanguageFrench, 44100, boxes.Function()));
    EXPECT_FALSE(CheckChosenFile(folder.Write(L"eight.wav", PcmWave(1, 44100, 8, data)), kDialog, kHostLanguageFrench, 44100, boxes.Function()));
    EXPECT_FALSE(CheckChosenFile(folder.File(L"six.wav"), kDialog, 7, 44100, boxes.Function()));
    ASSERT_EQ(boxes.shown.size(), 4u);
    EXPECT_EQ(boxes.shown[0].text, kReadError);
    EXPECT_EQ(boxes.shown[1].text, L"Le fichier audio doit être mono ou stéréo!");
    EXPECT_EQ(boxes.shown[1].title, L"Pilote ASIO Veloran : Test de fonctionnalité");
    EXPECT_EQ(boxes.shown[2].text, L"La résolution du fichier audio doit être 16 ou 32 bits!");
    EXPECT_EQ(boxes.shown[3].text, kChannels);
}

TEST(ChosenFileCheck, AnotherRateNeedsTheUsersYes)
{
    ScratchFolder folder;
    const std::wstring path = folder.Write(L"rate.wav", PcmWave(2, 48000, 16, CountedBytes(64)));
    BoxRecorder boxes;
    boxes.answer = IDNO;
    EXPECT_FALSE(CheckChosenFile(path, kDialog, kHostLanguageEnglish, 44100, boxes.Function()));
    boxes.answer = IDYES;
    EXPECT_TRUE(CheckChosenFile(path, kDialog, kHostLanguageFrench, 44100, boxes.Function()));
    EXPECT_TRUE(CheckChosenFile(path, kDialog, kHostLanguageFrench, 48000, boxes.Function()));  // no question
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].text,
              L"Caution : the sampling rate of the selected file (48000) is different from the one currently used "
              L"(44100)!\nThe listening will be altered (speed and high different)\nWould like to open this file anyway ?");
    EXPECT_EQ(boxes.shown[0].style, UINT(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(boxes.shown[1].text,
              L"Attention : la vitesse d'échantillonage du fichier (48000) est différente de celle active (44100)!\n"
              L"L'écoute sera déformée (vitesse et hauteur différentes).\nVoulez-vous ouvrir ce fichier ?");
}

}  // namespace
