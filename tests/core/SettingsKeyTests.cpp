#include <core/SettingsKey.h>
#include <core/Text.h>

#include "../support/RegistryScratch.h"

#include <veloran/DriverClassId.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

const std::wstring kDriverKey = L"Software\\ASIO\\Asio 2.0 Veloran Driver";

class SettingsKeyTest : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean()
    {
        DeleteTree(HKEY_LOCAL_MACHINE, kDriverKey + L"\\Foo");
        DeleteTree(HKEY_LOCAL_MACHINE, kDriverKey + L"\\Bar.Baz");
    }
};

TEST_F(SettingsKeyTest, EachHostProgramHasItsOwnKey)
{
    const CSettingsKey foo(kVeloranDriverClsid, L"C:\\Program Files\\Foo\\Foo.exe");
    const CSettingsKey bar(kVeloranDriverClsid, L"D:/x.y/Bar.Baz.exe");
    const CSettingsKey defaults(kVeloranDriverClsid, L"");
    EXPECT_EQ(foo.hostName(), L"Foo");
    EXPECT_EQ(bar.hostName(), L"Bar.Baz");
    EXPECT_EQ(foo.KeyPath(), kDriverKey + L"\\Foo\\Parameters");
    EXPECT_EQ(defaults.KeyPath(), kDriverKey + L"\\Default Parameters");
    EXPECT_EQ(foo.classIdText(), L"{84FF15BA-5F73-4664-B26C-BCE4A6C9A591}");

    foo.WriteDword(L"AsioBuffSizePreferred", 256);
    bar.WriteDword(L"AsioBuffSizePreferred", 1024);
    EXPECT_EQ(foo.ReadDword(L"AsioBuffSizePreferred", 512), 256u);
    EXPECT_EQ(bar.ReadDword(L"AsioBuffSizePreferred", 512), 1024u);
    DWORD stored = 0;
    ASSERT_TRUE(ReadDwordValue(HKEY_LOCAL_MACHINE, kDriverKey + L"\\Foo\\Parameters", L"AsioBuffSizePreferred", stored));
    EXPECT_EQ(stored, 256u);
}

TEST_F(SettingsKeyTest, ValuesOfAnotherTypeReadAsTheDefault)
{
    const CSettingsKey foo(kVeloranDriverClsid, L"C:\\Foo.exe");
    const std::wstring path = kDriverKey + L"\\Foo\\Parameters";
    const wchar_t text[] = L"256";
    WriteRawValue(HKEY_LOCAL_MACHINE, path, L"AsText", REG_SZ, text, sizeof(text));
    const unsigned char shortData[2] = {1, 2};
    WriteRawValue(HKEY_LOCAL_MACHINE, path, L"Short", REG_BINARY, shortData, sizeof(shortData));
    const DWORD number = 7;
    WriteRawValue(HKEY_LOCAL_MACHINE, path, L"Number", REG_DWORD, &number, sizeof(number));

    EXPECT_EQ(foo.ReadDword(L"AsText", 512), 512u);
    EXPECT_EQ(foo.ReadDword(L"Short", 512), 512u);
    EXPECT_EQ(foo.ReadDword(L"Missing", 512), 512u);
    EXPECT_EQ(foo.ReadDword(L"Number", 512), 7u);
    EXPECT_EQ(foo.ReadString(L"AsText"), L"256");
    EXPECT_EQ(foo.ReadString(L"Number"), L"");
}

struct KeyRequest {
    REGSAM access;
    bool create;
};
std::vector<KeyRequest> gRequests;

RegKey RecordRequest(const wchar_t* path, REGSAM access, bool create)
{
    gRequests.push_back({access, create});
    return OpenLocalMachineKey(path, access, create);
}

// Without elevation HKLM grants read access only: a read asking for more is refused.
TEST_F(SettingsKeyTest, ReadsAskForReadAccessOnlyAndWritesForWriteAccess)
{
    const CSettingsKey foo(kVeloranDriverClsid, L"C:\\Foo.exe", RecordRequest);
    gRequests.clear();
    foo.WriteDword(L"Number", 7);
    foo.WriteBinary(L"Block", "ab", 2);
    foo.WritePortOrders({L"A"});
    EXPECT_EQ(foo.ReadDword(L"Number", 0), 7u);
    char block[2] = {};
    EXPECT_EQ(foo.ReadBinary(L"Block", block, sizeof(block)), 2u);
    std::vector<std::wstring> names;
    EXPECT_TRUE(foo.ReadPortOrders(names));
    EXPECT_EQ(foo.ReadString(L"Number"), L"");
    ASSERT_EQ(gRequests.size(), 7u);  // one opening per access
    for (size_t i = 0; i < gRequests.size(); ++i) {
        const bool write = i < 3;
        EXPECT_EQ(gRequests[i].create, write) << i;
        EXPECT_EQ(gRequests[i].access & ~REGSAM(write ? KEY_WRITE : KEY_READ), 0u) << i;
    }

    // Reading a host's settings does not make its key.
    const CSettingsKey bar(kVeloranDriverClsid, L"D:/x.y/Bar.Baz.exe", RecordRequest);
    EXPECT_EQ(bar.ReadDword(L"Number", 5), 5u);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kDriverKey + L"\\Bar.Baz"));
}

TEST(AnsiField, CutsAfterTheLastWholeDoubleByteCharacter)
{
    ASSERT_TRUE(IsValidCodePage(932));
    char field[6];
    std::memset(field, 'x', sizeof(field));
    CopyToAnsiField(L"A\u30C9\u30E9\u30A4", field, 5, 932);  // three bytes left after "A"
    EXPECT_STREQ(field, "A\x83\x68");
    CopyToAnsiField(L"\u30C9\u30E9", field, 5, 932);
    EXPECT_STREQ(field, "\x83\x68\x83\x89");
}

}  // namespace
