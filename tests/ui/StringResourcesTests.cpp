// The string tables of the built driver DLL and test program, read as data files.
#include <testhost/HostStrings.h>
#include <ui/Languages.h>

#include <veloran/LocalizedStrings.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

HMODULE LoadBuilt(const wchar_t* relative)
{
    std::wstring path;
    for (const wchar_t* c = relative; *c; ++c) path += *c == L'/' ? L'\\' : *c;
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

class BuiltStrings : public ::testing::TestWithParam<const wchar_t*> {
protected:
    void SetUp() override { ASSERT_NE(module_, nullptr) << "cannot load " << GetLastError(); }
    void TearDown() override
    {
        if (module_) FreeLibrary(module_);
    }
    std::wstring Text(int id, int language) const
    {
        std::wstring text;
        LoadLocalized(module_, id, language, text);
        return text;
    }
    HMODULE module_ = LoadBuilt(GetParam());
};

TEST_P(BuiltStrings, EveryFrenchTextHasItsEnglishOne)
{
    int french = 0;
    for (int id = 0; id < kEnglishIdOffset; ++id) {
        const bool stored = !StoredString(module_, id).empty();
        french += stored;
        EXPECT_EQ(stored, !StoredString(module_, id + kEnglishIdOffset).empty()) << id;
    }
    EXPECT_GT(french, 40);
}

INSTANTIATE_TEST_SUITE_P(Programs, BuiltStrings,
                         ::testing::Values(VELORAN_BUILT_DRIVER, VELORAN_BUILT_TESTHOST));

class BuiltDriverStrings : public BuiltStrings {};
class BuiltTestHostStrings : public BuiltStrings {};

TEST_P(BuiltDriverStrings, NamedTextsAreExact)
{
    // Every text the driver and its control panel show.
    std::vector<int> shown = {101, 103, 105, 112, 114, 117, kStrNewVersion, 119, 120, 121, 122, 123, 130,
                              kStrDeviceInUse, kStrExclusiveNotAllowed, 251, 255, 258, 259, 260, 261, 262};
    for (int id = 200; id <= 225; ++id) shown.push_back(id);
    for (int id = kStrControlPanel; id <= 269; ++id) shown.push_back(id);
    for (int id : shown)
        EXPECT_FALSE(StoredString(module_, id).empty() || StoredString(module_, id + kEnglishIdOffset).empty()) << id;
    EXPECT_EQ(Text(kStrStartFailed, kLanguageFrench), L"Problème pendant l'accès aux ports audio!");
    EXPECT_EQ(Text(210, kLanguageFrench), L"Entrées \"physiques\"");
    EXPECT_EQ(Text(210, kLanguageEnglish), L"\"Physical\" inputs");
    EXPECT_EQ(Text(1130, kLanguageFrench), L"Mono input into \"stereo input\" conversion");
    EXPECT_EQ(Text(225, 7), L"DC Offset correction\n(improvement of the Signal/Noise ratio)");
    EXPECT_EQ(Text(kStrNewVersion, kLanguageFrench), L"Nouvelle version %s disponible!");
    EXPECT_EQ(Text(kStrNewVersion, kLanguageEnglish), L"New version %s available!");
    EXPECT_EQ(Text(kStrControlPanel, kLanguageFrench), L"Panneau de contrôle");
    EXPECT_EQ(Text(kStrControlPanel, kLanguageEnglish), L"Control panel");
    EXPECT_EQ(Text(224, kLanguageFrench), L"Veloran ASIO 2.0 Multiports  : version %s");
    EXPECT_EQ(Text(224, kLanguageEnglish), L"ASIO 2.0 Multiports driver : version %s");
    EXPECT_EQ(Text(260, kLanguageEnglish),
              L"This hardware is connected to a non optimized USB port!\n(thru an internal or external USB Hub for "
              L"example)\nFor optimal performance, try to connect it to another USB port of your computer.");
}

TEST_P(BuiltTestHostStrings, NamedTextsAreExact)
{
    std::vector<int> named;
    for (int id = kHostStrTitle; id <= kHostStrNoOutput; ++id)
        if (id != 108) named.push_back(id);  // 108 names no text
    for (int id = kHostStrFileReadError; id <= kHostStrFileChoiceFilter; ++id) named.push_back(id);
    for (int id : named)
        EXPECT_FALSE(StoredString(module_, id).empty() || StoredString(module_, id + kEnglishIdOffset).empty()) << id;

    EXPECT_EQ(Text(kHostStrSampleRate, kHostLanguageFrench), L"Vitesse d'échantillonage");
    EXPECT_EQ(Text(kHostStrSampleRate, kHostLanguageEnglish), L"Sample rate");
    EXPECT_EQ(Text(kHostStrFileRateDiffers, kHostLanguageFrench),
              L"Attention : la vitesse d'échantillonage du fichier (%d) est différente de celle active (%d)!\n"
              L"L'écoute sera déformée (vitesse et hauteur différentes).\nVoulez-vous ouvrir ce fichier ?");
    EXPECT_EQ(Text(kHostStrFileChoiceFilter, kHostLanguageEnglish), L"Audio file (*.wav)|*.wav|All files(*.*)|*.*||");
}

INSTANTIATE_TEST_SUITE_P(Driver, BuiltDriverStrings, ::testing::Values(VELORAN_BUILT_DRIVER));
INSTANTIATE_TEST_SUITE_P(TestHost, BuiltTestHostStrings, ::testing::Values(VELORAN_BUILT_TESTHOST));

}  // namespace
