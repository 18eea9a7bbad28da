#include <runtime/Registration.h>

#include "../support/RegistryScratch.h"

#include <veloran/DriverClassId.h>

#include <gtest/gtest.h>

namespace {

const std::wstring kClassKey = L"CLSID\\{84FF15BA-5F73-4664-B26C-BCE4A6C9A591}";
const std::wstring kAsioEntry = L"Software\\ASIO\\Asio 2.0 Veloran Driver";

std::wstring ThisModulePath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

int CountSubkeys(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
    DWORD count = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    return static_cast<int>(count);
}

class RegistrationTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        UnregisterServer(key_);
        DeleteTree(HKEY_LOCAL_MACHINE, kAsioEntry, kOwnView);
        DeleteTree(HKEY_LOCAL_MACHINE, kAsioEntry);
    }
    const CSettingsKey key_{kVeloranDriverClsid, ThisModulePath()};
};

TEST_F(RegistrationTest, RegisterWritesTheClassAndTheAsioEntryOnce)
{
    const int asioEntriesBefore = CountSubkeys(HKEY_LOCAL_MACHINE, L"Software\\ASIO");
    ASSERT_EQ(RegisterServer(key_, nullptr), S_OK);
    ASSERT_EQ(RegisterServer(key_, nullptr), S_OK);

    EXPECT_EQ(ReadStringValue(HKEY_CLASSES_ROOT, kClassKey, nullptr, kOwnView), L"Asio 2.0 Veloran Driver");
    EXPECT_EQ(ReadStringValue(HKEY_CLASSES_ROOT, kClassKey + L"\\InprocServer32", nullptr, kOwnView), ThisModulePath());
    EXPECT_EQ(ReadStringValue(HKEY_CLASSES_ROOT, kClassKey + L"\\InprocServer32", L"ThreadingModel", kOwnView), L"Apartment");
    EXPECT_EQ(ReadStringValue(HKEY_LOCAL_MACHINE, kAsioEntry, L"CLSID", kOwnView), L"{84FF15BA-5F73-4664-B26C-BCE4A6C9A591}");
    EXPECT_EQ(ReadStringValue(HKEY_LOCAL_MACHINE, kAsioEntry, L"Description", kOwnView), L"Asio 2.0 Veloran Driver");
    EXPECT_EQ(CountSubkeys(HKEY_CLASSES_ROOT, kClassKey), 1);  // InprocServer32 only
    const int added = CountSubkeys(HKEY_LOCAL_MACHINE, L"Software\\ASIO") - (asioEntriesBefore < 0 ? 0 : asioEntriesBefore);
    EXPECT_LE(added, 1);
}

// regsvr32 run again, a repair or another installer registers over the hosts' settings, and an
// uninstall that keeps them unregisters under them.
TEST_F(RegistrationTest, RegisteringAgainAndUnregisteringKeepTheHostsSettings)
{
    ASSERT_EQ(RegisterServer(key_, nullptr), S_OK);
    const DWORD one = 1, size = 256;
    WriteRawValue(HKEY_LOCAL_MACHINE, kAsioEntry + L"\\SomeHost\\Parameters", L"AsioBuffSizePreferred", REG_DWORD,
                  &size, sizeof(size));
    WriteRawValue(HKEY_LOCAL_MACHINE, kAsioEntry + L"\\Default Parameters", L"UseDefaultDevices", REG_DWORD, &one,
                  sizeof(one));
    WriteRawValue(HKEY_CLASSES_ROOT, kClassKey + L"\\Extra\\Deeper", L"v", REG_DWORD, &one, sizeof(one), kOwnView);

    ASSERT_EQ(RegisterServer(key_, nullptr), S_OK);
    DWORD value = 0;
    EXPECT_TRUE(ReadDwordValue(HKEY_LOCAL_MACHINE, kAsioEntry + L"\\SomeHost\\Parameters", L"AsioBuffSizePreferred",
                               value) && value == 256);
    EXPECT_TRUE(ReadDwordValue(HKEY_LOCAL_MACHINE, kAsioEntry + L"\\Default Parameters", L"UseDefaultDevices",
                               value) && value == 1);
    EXPECT_EQ(ReadStringValue(HKEY_LOCAL_MACHINE, kAsioEntry, L"CLSID", kOwnView), L"{84FF15BA-5F73-4664-B26C-BCE4A6C9A591}");
    EXPECT_EQ(CountSubkeys(HKEY_CLASSES_ROOT, kClassKey), 1) << "the class key is the driver's own: written afresh";

    EXPECT_EQ(UnregisterServer(key_), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey, kOwnView));
    EXPECT_EQ(ReadStringValue(HKEY_LOCAL_MACHINE, kAsioEntry, L"CLSID", kOwnView), L"") << "no longer an ASIO driver";
    EXPECT_EQ(ReadStringValue(HKEY_LOCAL_MACHINE, kAsioEntry, L"Description", kOwnView), L"");
    EXPECT_TRUE(ReadDwordValue(HKEY_LOCAL_MACHINE, kAsioEntry + L"\\SomeHost\\Parameters", L"AsioBuffSizePreferred",
                               value) && value == 256);
    EXPECT_TRUE(ReadDwordValue(HKEY_LOCAL_MACHINE, kAsioEntry + L"\\Default Parameters", L"UseDefaultDevices",
                               value) && value == 1);
}

TEST_F(RegistrationTest, UnregisterRemovesAnEntryWithNothingElseAndToleratesMissingKeys)
{
    DeleteTree(HKEY_LOCAL_MACHINE, kAsioEntry, kOwnView);
    ASSERT_EQ(RegisterServer(key_, nullptr), S_OK);
    EXPECT_EQ(UnregisterServer(key_), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey, kOwnView));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAsioEntry, kOwnView));
    EXPECT_EQ(UnregisterServer(key_), S_OK);
}

TEST(DeleteKeyRecursive, RemovesAWholeTreeAndLeavesSiblings)
{
    const std::wstring root = L"Software\\VeloranTests";
    const DWORD one = 1;
    for (const wchar_t* leaf : {L"\\Tree\\A\\A1", L"\\Tree\\A\\A2", L"\\Tree\\B", L"\\Sibling"})
        WriteRawValue(HKEY_CURRENT_USER, root + leaf, L"v", REG_DWORD, &one, sizeof(one));
    HKEY parent = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, root.c_str(), 0, KEY_ALL_ACCESS, &parent), ERROR_SUCCESS);
    DeleteKeyRecursive(parent, L"Tree");
    DeleteKeyRecursive(parent, L"NotThere");
    RegCloseKey(parent);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, root + L"\\Tree"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, root + L"\\Sibling"));
    DeleteTree(HKEY_CURRENT_USER, root);
}

}  // namespace
