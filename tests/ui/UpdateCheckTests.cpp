// The update check against a server on 127.0.0.1, and the web links through their seam.
#include <runtime/Unknown.h>
#include <ui/UpdateCheck.h>
#include <ui/WebLinks.h>

#include "../support/LoopbackHttpServer.h"
#include "../support/RegistryScratch.h"

#include <veloran/DriverClassId.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr UINT kCheckedMessage = WM_APP + 7;

UpdateServer Local(const CLoopbackHttpServer& server) { return {L"127.0.0.1", server.port()}; }

// A message-only window of this thread that waits, bounded, for one message.
class MessageWindow {
public:
    MessageWindow() : window_(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)) {}
    ~MessageWindow() { DestroyWindow(window_); }
    HWND get() const { return window_; }
    bool WaitFor(UINT message) const
    {
        for (int tries = 0; tries < 300; ++tries) {
            MSG msg;
            if (PeekMessageW(&msg, window_, message, message, PM_REMOVE)) return msg.wParam == 0 && msg.lParam == 0;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_POSTMESSAGE);
        }
        return false;
    }

private:
    HWND window_;
};

TEST(UpdateQuery, PostsTheFormAndReadsTheVersion)
{
    CLoopbackHttpServer server(CLoopbackHttpServer::Reply(200, std::string("1.9.1.0\r\n\0", 10)));
    std::wstring answer;
    ASSERT_TRUE(QueryPublishedVersion(Local(server), 5000, answer));
    EXPECT_EQ(answer, L"1.9.1.0");

    const std::string request = server.WaitForRequest();
    EXPECT_EQ(request.rfind("POST /updates/softs_logs_db.php HTTP/1.0\r\n", 0), 0u) << request;
    EXPECT_NE(request.find("\r\nContent-Type: application/x-www-form-urlencoded\r\n"), std::string::npos) << request;
    const size_t body = request.find("\r\n\r\n");
    ASSERT_NE(body, std::string::npos);
    EXPECT_EQ(request.substr(body + 4), std::string("action=query_current_version&product=Veloran_ASIO_Driver\0", 57));
}

TEST(UpdateQuery, RefusesAnythingButAShortVersionText)
{
    const std::string overLong = "1.9.1.0.1.9.1.0.1.9.1.0.1.9.1.0.1.9";
    for (const std::string& reply : {CLoopbackHttpServer::Reply(404, "1.9.1.0"), CLoopbackHttpServer::Reply(200, overLong),
                                     CLoopbackHttpServer::Reply(200, "1.9.1a"), CLoopbackHttpServer::Reply(200, "")}) {
        CLoopbackHttpServer server(reply);
        std::wstring answer = L"stale";
        EXPECT_FALSE(QueryPublishedVersion(Local(server), 5000, answer)) << reply;
        EXPECT_TRUE(answer.empty()) << reply;
    }
}

TEST(UpdateCheck, PostsItsMessageAndOffersOnlyANewerVersion)
{
    const struct {
        std::string reply;
        std::wstring offered;
    } cases[] = {{CLoopbackHttpServer::Reply(200, "1.9.1.0"), L"1.9.1.0"},
                 {CLoopbackHttpServer::Reply(200, "2.0"), L""},
                 {CLoopbackHttpServer::Reply(404, "1.9.1.0"), L""}};
    for (const auto& c : cases) {
        CLoopbackHttpServer server(c.reply);
        const MessageWindow window;
        const CUpdateCheck check(window.get(), kCheckedMessage, Local(server), L"1.9.0.0");
        ASSERT_TRUE(window.WaitFor(kCheckedMessage)) << c.reply;
        EXPECT_TRUE(check.done());
        EXPECT_EQ(check.newVersion(), c.offered) << c.reply;
    }
}

TEST(UpdateCheck, NeitherConstructionNorDestructionWaitsForTheNetwork)
{
    const long before = ActiveObjectCount();
    CLoopbackHttpServer server(std::nullopt);
    {
        const CUpdateCheck check(nullptr, kCheckedMessage, Local(server), L"1.9.0.0", 60000);
        ASSERT_FALSE(server.WaitForRequest().empty());
        EXPECT_FALSE(server.letGo());
        EXPECT_FALSE(check.done());
        EXPECT_EQ(ActiveObjectCount(), before + 1);
    }
    // Only the server's own release (or its life limit) ends the exchange on its side.
    EXPECT_FALSE(server.letGo());
    server.Release();
    // The worker finishes on its own, later, and lets the module's count go.
    for (int tries = 0; tries < 300 && ActiveObjectCount() != before; ++tries) Sleep(100);
    EXPECT_EQ(ActiveObjectCount(), before);
}

TEST(UpdateCheck, AnUnansweredExchangeEndsAtItsTimeout)
{
    CLoopbackHttpServer server(std::nullopt);
    const MessageWindow window;
    const CUpdateCheck check(window.get(), kCheckedMessage, Local(server), L"1.9.0.0", 500);
    ASSERT_TRUE(window.WaitFor(kCheckedMessage));
    EXPECT_FALSE(server.letGo());  // the client gave up first
    EXPECT_EQ(check.newVersion(), L"");
}

TEST(UpdateVersions, CompareTheirDigitsAsOneNumber)
{
    EXPECT_TRUE(IsNewer(L"1.9.0.0", L"1.9.1.0"));
    EXPECT_FALSE(IsNewer(L"1.9.0.0", L"2.0"));  // 1900 against 20
    EXPECT_TRUE(IsNewer(L"1,8", L"1.9"));
    EXPECT_TRUE(IsNewer(L"beta", L"1"));
    // One past the largest value saturates instead of wrapping to 0; two saturated values are equal.
    EXPECT_TRUE(IsNewer(L"1.9.0.0", L"18446744073709551616"));
    EXPECT_FALSE(IsNewer(L"99999999999999999999", L"999999999999999999999"));
}

TEST(UpdateVersions, ProductVersionOfTheBuiltDriver)
{
    std::wstring path;
    for (const wchar_t* c = VELORAN_BUILT_DRIVER; *c; ++c) path += *c == L'/' ? L'\\' : *c;
    const HMODULE driver = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(driver, nullptr) << GetLastError();
    EXPECT_EQ(ReadProductVersion(driver), L"1.9.0.0");
    FreeLibrary(driver);
    EXPECT_EQ(ReadProductVersion(GetModuleHandleW(nullptr)), L"");  // this program has no version
}

TEST(UpdateServerChoice, ReadsHostAndPortOrFallsBack)
{
    const std::wstring hostKeyPath = L"Software\\ASIO\\Asio 2.0 Veloran Driver\\UpdateTestHost";
    const CSettingsKey key(kVeloranDriverClsid, L"C:\\UpdateTestHost.exe");
    DeleteTree(HKEY_LOCAL_MACHINE, hostKeyPath);
    UpdateServer chosen = ChooseUpdateServer(key);
    EXPECT_EQ(chosen.host, kUpdateHost);
    EXPECT_EQ(chosen.port, 80);
    const struct {
        const wchar_t* stored;
        std::wstring host;
        INTERNET_PORT port;
    } cases[] = {{L"127.0.0.1:8080", L"127.0.0.1", 8080}, {L"localhost", L"localhost", 80},
                 {L"localhost:", kUpdateHost, 80},      {L"localhost:65536", kUpdateHost, 80},
                 {L":8080", kUpdateHost, 80},           {L"a host", kUpdateHost, 80}};
    for (const auto& c : cases) {
        WriteRawValue(HKEY_LOCAL_MACHINE, hostKeyPath + L"\\Parameters", L"UpdateServer", REG_SZ, c.stored,
                      static_cast<DWORD>((wcslen(c.stored) + 1) * sizeof(wchar_t)));
        chosen = ChooseUpdateServer(key);
        EXPECT_EQ(chosen.host, c.host) << c.stored;
        EXPECT_EQ(chosen.port, c.port) << c.stored;
    }
    DeleteTree(HKEY_LOCAL_MACHINE, hostKeyPath);
}

std::vector<std::wstring> g_opened;

TEST(WebLinks, OpenTheDriverPageAndTheManual)
{
    SetShellOpenForTests([](const std::wstring& url) { g_opened.push_back(url); });
    OpenDriverPage({L"127.0.0.1", 8080}, true, 9);
    OpenDriverPage({L"127.0.0.1", 80}, false, 12);
    OpenManual({L"127.0.0.1", 80}, L"1.9.0.0", 9);
    SetShellOpenForTests(nullptr);
    EXPECT_EQ(g_opened, (std::vector<std::wstring>{
                            L"http://127.0.0.1:8080/index.php?veloran_asio_driver=1&lang=9&gotoasio=1",
                            L"http://127.0.0.1/index.php?veloran_asio_driver=1&lang=12",
                            L"http://127.0.0.1/index.php?veloran_adio_driver_manual=1.9.0.0&lang=9"}));

    const std::wstring hostKeyPath = L"Software\\ASIO\\Asio 2.0 Veloran Driver\\LinkTestHost";
    const CSettingsKey hostKey(kVeloranDriverClsid, L"C:\\LinkTestHost.exe");
    DeleteTree(HKEY_LOCAL_MACHINE, hostKeyPath);
    EXPECT_EQ(LinkLanguage(hostKey), 12);
    const DWORD english = 9;
    WriteRawValue(HKEY_LOCAL_MACHINE, hostKeyPath + L"\\Parameters", L"Language", REG_DWORD, &english, sizeof(english));
    EXPECT_EQ(LinkLanguage(hostKey), 9);
    DeleteTree(HKEY_LOCAL_MACHINE, hostKeyPath);
}

}  // namespace
