#include <testhost/StartupOptions.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr wchar_t kUsage[] = L"Usage: VeloranAsioTest.exe /check SECONDS [/report FILE]";

StartupOptions Parsed(std::vector<std::wstring> args)
{
    StartupOptions options;
    std::wstring error;
    EXPECT_TRUE(ParseStartupArguments(args, options, error)) << std::string(error.begin(), error.end());
    EXPECT_TRUE(error.empty());
    return options;
}

// The message of a rejected command line.
std::wstring Rejected(std::vector<std::wstring> args)
{
    StartupOptions options;
    std::wstring error;
    EXPECT_FALSE(ParseStartupArguments(args, options, error));
    EXPECT_FALSE(options.check) << "a rejected command line must not start a check";
    return error;
}

bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

TEST(StartupLanguage, TheLaterArgumentWinsWithOrWithoutSlashInAnyCase)
{
    EXPECT_EQ(Parsed({L"/fr", L"en"}).language, 9);
    EXPECT_EQ(Parsed({L"/en", L"fr"}).language, 12);
    EXPECT_EQ(Parsed({L"FR"}).language, 12);
    EXPECT_EQ(Parsed({L"/Fr", L"/EN"}).language, 9);
    EXPECT_EQ(Parsed({L"fr", L"french", L"/english"}).language, 12) << "near misses are ignored";
}

TEST(StartupLanguage, ArgumentsOverrideTheSystemLanguageOnlyWhenGiven)
{
    StartupOptions options;
    options.language = LanguageFromLangId(MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH_CANADIAN));
    std::wstring error;
    ASSERT_TRUE(ParseStartupArguments({L"VELORAN_ASIO_USE_DEF_IN_OUTS_OK"}, options, error));
    EXPECT_EQ(options.language, 12);
    ASSERT_TRUE(ParseStartupArguments({L"en"}, options, error));
    EXPECT_EQ(options.language, 9);
}

TEST(StartupLanguage, OnlyAFrenchSystemGivesFrench)
{
    EXPECT_EQ(LanguageFromLangId(MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH)), 12);
    EXPECT_EQ(LanguageFromLangId(MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH_SWISS)), 12);
    EXPECT_EQ(LanguageFromLangId(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)), 9);
    EXPECT_EQ(LanguageFromLangId(MAKELANGID(LANG_SPANISH, SUBLANG_SPANISH_MODERN)), 9);
    EXPECT_EQ(LanguageFromLangId(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK)), 9);
    // A sublanguage whose bits overlap French's primary id is still not French.
    EXPECT_EQ(LanguageFromLangId(static_cast<LANGID>(0x0C << 10 | LANG_GERMAN)), 9);
}

TEST(StartupDefaultDevices, TheReplyFollowsTheSwitches)
{
    EXPECT_EQ(PrivateMessageReply(Parsed({})), 0);
    EXPECT_EQ(PrivateMessageReply(Parsed({L"en", L"/unknown", L"VELORAN_ASIO_USE_DEF"})), 0);
    EXPECT_EQ(PrivateMessageReply(Parsed({L"/veloran_asio_use_def_in_outs_ok"})), 291);
    EXPECT_EQ(PrivateMessageReply(Parsed({L"VELORAN_ASIO_USE_DEF_IN_OUTS_ONLY_OK"})), 292);
    EXPECT_EQ(PrivateMessageReply(Parsed({L"VELORAN_ASIO_USE_DEF_IN_OUTS_OK", L"/VELORAN_ASIO_USE_DEF_IN_OUTS_ONLY_OK"})),
              292);
    EXPECT_EQ(PrivateMessageReply(Parsed({L"/VELORAN_ASIO_USE_DEF_IN_OUTS_ONLY_OK", L"VELORAN_ASIO_USE_DEF_IN_OUTS_OK"})),
              292);
}

TEST(StartupDefaultDevices, TheKeyChordSetsButNeverClears)
{
    StartupOptions options;
    ApplyKeyChord(options, true, false, true);
    ApplyKeyChord(options, false, true, true);
    EXPECT_EQ(PrivateMessageReply(options), 0) << "Ctrl and Shift are both needed";

    ApplyKeyChord(options, true, true, false);
    EXPECT_TRUE(options.defaultDevicesAllowed);
    EXPECT_FALSE(options.defaultDevicesOnly);
    EXPECT_EQ(PrivateMessageReply(options), 291);

    StartupOptions only;
    ApplyKeyChord(only, true, true, true);
    EXPECT_TRUE(only.defaultDevicesOnly);
    EXPECT_FALSE(only.defaultDevicesAllowed);

    // Flags from the command line survive a chord that is not held or asks for less.
    StartupOptions fromArgs = Parsed({L"VELORAN_ASIO_USE_DEF_IN_OUTS_ONLY_OK", L"VELORAN_ASIO_USE_DEF_IN_OUTS_OK"});
    ApplyKeyChord(fromArgs, false, false, false);
    ApplyKeyChord(fromArgs, true, true, false);
    EXPECT_TRUE(fromArgs.defaultDevicesOnly);
    EXPECT_TRUE(fromArgs.defaultDevicesAllowed);
    EXPECT_EQ(PrivateMessageReply(fromArgs), 292);
}

TEST(StartupCheck, SecondsAndReportAreTakenInAnyOrderAndCase)
{
    const StartupOptions plain = Parsed({L"/check", L"10"});
    EXPECT_TRUE(plain.check);
    EXPECT_EQ(plain.checkSeconds, 10);
    EXPECT_TRUE(plain.reportPath.empty());

    const StartupOptions full = Parsed({L"fr", L"/REPORT", L"C:\\out\\check report.txt", L"/Check", L"3600", L"en"});
    EXPECT_TRUE(full.check);
    EXPECT_EQ(full.checkSeconds, 3600);
    EXPECT_EQ(full.reportPath, L"C:\\out\\check report.txt");
    EXPECT_EQ(full.language, 9);

    // Values are consumed: a report file named like a switch is a file, not a switch.
    const StartupOptions named = Parsed({L"/check", L"1", L"/report", L"fr"});
    EXPECT_EQ(named.checkSeconds, 1);
    EXPECT_EQ(named.reportPath, L"fr");
    EXPECT_EQ(named.language, 9);

    EXPECT_FALSE(Parsed({L"check", L"10"}).check) << "the check switch needs its slash";
}

TEST(StartupCheck, BadSecondsAreRejectedWithTheirReason)
{
    struct Case {
        std::vector<std::wstring> args;
        std::wstring reason;
    };
    const Case cases[] = {
        {{L"/check"}, L"/check needs SECONDS"},
        {{L"en", L"/check"}, L"/check needs SECONDS"},
        {{L"/check", L"ten"}, L"must be a whole number, not \"ten\""},
        {{L"/check", L"10x"}, L"must be a whole number, not \"10x\""},
        {{L"/check", L"1.5"}, L"must be a whole number, not \"1.5\""},
        {{L"/check", L"+5"}, L"must be a whole number, not \"+5\""},
        {{L"/check", L"-"}, L"must be a whole number, not \"-\""},
        {{L"/check", L""}, L"must be a whole number, not \"\""},
        {{L"/check", L"/report", L"out.txt"}, L"must be a whole number, not \"/report\""},
        {{L"/check", L"0"}, L"must be from 1 to 3600, not \"0\""},
        {{L"/check", L"3601"}, L"must be from 1 to 3600, not \"3601\""},
        {{L"/check", L"-5"}, L"must be from 1 to 3600, not \"-5\""},
        {{L"/check", L"4294967306"}, L"must be from 1 to 3600, not \"4294967306\""},
        {{L"/check", L"99999999999999999999999999"}, L"must be from 1 to 3600"},
    };
    for (const Case& c : cases) {
        const std::wstring error = Rejected(c.args);
        EXPECT_TRUE(Contains(error, c.reason)) << std::string(error.begin(), error.end());
        EXPECT_TRUE(Contains(error, kUsage)) << std::string(error.begin(), error.end());
    }
}

TEST(StartupCheck, ReportNeedsAFileAndACheck)
{
    for (const std::vector<std::wstring>& args : {std::vector<std::wstring>{L"/check", L"5", L"/report"},
                                                  std::vector<std::wstring>{L"/check", L"5", L"/report", L""}}) {
        const std::wstring error = Rejected(args);
        EXPECT_TRUE(Contains(error, L"/report needs a FILE")) << std::string(error.begin(), error.end());
        EXPECT_TRUE(Contains(error, kUsage));
    }
    const std::wstring error = Rejected({L"/report", L"out.txt"});
    EXPECT_TRUE(Contains(error, L"/report is only valid with /check")) << std::string(error.begin(), error.end());
    EXPECT_TRUE(Contains(error, kUsage));
}

}  // namespace
