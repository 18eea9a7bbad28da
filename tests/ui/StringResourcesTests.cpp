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
    for (int id : {kStrStartFailed, kStrIn, kStrInLeft, kStrInRight, kStrOutLeft, kStrOutRight, kStrInNumbered,
                   kStrOutNumbered})
        EXPECT_FALSE(StoredString(module_, id).empty() || StoredString(module_, id + kEnglishIdOffset).empty()) << id;
    EXPECT_EQ(Text(kStrStartFailed, kLanguageFrench), L"Problème pendant l'accès aux ports audio!");
    EXPECT_EQ(Text(210, kLanguageFrench), L"Entrées \"physiques\"");
    EXPECT_EQ(Text(210, kLanguageEnglish), L"\"Physical\" inputs");
    EXPECT_EQ(Text(1130, kLanguageFrench), L"Mono input into \"stereo input\" conversion");
    EXPECT_EQ(Text(225, 7), L"DC Offset correction\n(improvement of the Signal/Noise ratio)");
    EXPECT_EQ(Text(118, kLanguageFrench), L"Nouvelle version %s disponible!");
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
