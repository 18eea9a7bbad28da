#include <ui/Languages.h>
#include <ui/StringTable.h>

#include "../support/RegistryScratch.h"

#include <veloran/DriverClassId.h>
#include <veloran/LocalizedStrings.h>

#include <gtest/gtest.h>

namespace {

const std::wstring kDriverKey = L"Software\\ASIO\\Asio 2.0 Veloran Driver";
const std::wstring kHostPath = kDriverKey + L"\\LanguageTestHost\\Parameters";
const std::wstring kDefaultPath = kDriverKey + L"\\Default Parameters";

class LanguagesTest : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean()
    {
        DeleteTree(HKEY_LOCAL_MACHINE, kDriverKey + L"\\LanguageTestHost");
        DeleteTree(HKEY_LOCAL_MACHINE, kDefaultPath);
    }
    static void Store(const std::wstring& path, DWORD language)
    {
        WriteRawValue(HKEY_LOCAL_MACHINE, path, L"Language", REG_DWORD, &language, sizeof(language));
    }
    const CSettingsKey hostKey_{kVeloranDriverClsid, L"C:\\LanguageTestHost.exe"};
    const CSettingsKey defaultKey_{kVeloranDriverClsid, L""};
    const CLanguages languages_{&hostKey_, &defaultKey_};
};

TEST_F(LanguagesTest, ResolvedLanguageIsStoredForTheHost)
{
    Store(kHostPath, DWORD(-1));
    Store(kDefaultPath, 12);
    EXPECT_EQ(languages_.ResolveLanguage(), 12);
    DWORD stored = 0;
    ASSERT_TRUE(ReadDwordValue(HKEY_LOCAL_MACHINE, kHostPath, L"Language", stored));
    EXPECT_EQ(stored, 12u);
    EXPECT_EQ(languages_.Text(kStrInLeft), L"Entrée G");

    // Nothing anywhere: the system's language, stored from then on.
    Clean();
    EXPECT_EQ(languages_.ResolveLanguage(), SystemLanguage());
    ASSERT_TRUE(ReadDwordValue(HKEY_LOCAL_MACHINE, kHostPath, L"Language", stored));
    EXPECT_EQ(static_cast<int>(stored), SystemLanguage());

    Store(kHostPath, 9);
    EXPECT_EQ(languages_.Text(kStrOutRight), L"Out R");
    // Without descriptors nothing is read or written.
    EXPECT_EQ(CLanguages(nullptr, nullptr).ResolveLanguage(), SystemLanguage());
}

TEST(StringLookup, FallsBackToTheOtherLanguage)
{
    std::wstring text;
    EXPECT_TRUE(LoadStringForLanguage(112, text, 12));
    EXPECT_EQ(text, L"Problème pendant l'accès aux ports audio!");
    EXPECT_TRUE(LoadStringForLanguage(112, text, 7));  // German behaves as English
    EXPECT_EQ(text, L"Problem opening audio ports interface!");
    EXPECT_FALSE(LoadStringForLanguage(99, text, 9));
    EXPECT_TRUE(text.empty());
    // Every French text has its English one, and the other way round.
    const HMODULE strings = GetModuleHandleW(nullptr);
    for (int id = 100; id < 300; ++id)
        EXPECT_EQ(StoredString(strings, id).empty(), StoredString(strings, id + 1000).empty()) << id;
}

TEST(StringLookup, ConnectPictureFollowsTheLanguage)
{
    EXPECT_EQ(ConnectPictureId(kLanguageFrench), 3007);
    EXPECT_EQ(ConnectPictureId(kLanguageEnglish), 3008);
    EXPECT_EQ(ConnectPictureId(7), 3008);
}

TEST(StringLookup, ReadsTheStringTableOfThisModule)
{
    const HMODULE strings = GetModuleHandleW(nullptr);
    EXPECT_EQ(StoredString(strings, 1210), L"\"Physical\" inputs");
    EXPECT_TRUE(StoredString(strings, 99).empty());
    EXPECT_TRUE(StoredString(strings, -1).empty());
    std::wstring text = L"stale";
    EXPECT_FALSE(LoadStringForLanguage(65535, text, 12));
    EXPECT_TRUE(text.empty());
    // A string id is 16 bits: a larger one must not find the text of its low word.
    EXPECT_FALSE(LoadStringForLanguage(0x10000 + kStrInLeft, text, 9));
    EXPECT_TRUE(LoadStringForLanguage(225, text, 12));
    EXPECT_EQ(text, L"Suppression du DC Offset\n(amélioration du rapport Signal/Bruit)");
}

}  // namespace
