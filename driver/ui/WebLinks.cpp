#include "WebLinks.h"

#include "Languages.h"

#include <shellapi.h>

namespace {

void ShellOpen(const std::wstring& url)
{
    ShellExecuteW(nullptr, nullptr, url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

ShellOpenFunction g_open = ShellOpen;

// "http://host/index.php?", with the port only when it is not the default one.
std::wstring PageBase(const UpdateServer& server)
{
    std::wstring url = L"http://" + server.host;
    if (server.port != INTERNET_DEFAULT_HTTP_PORT) url += L":" + std::to_wstring(server.port);
    return url + L"/index.php?";
}

}  // namespace

void SetShellOpenForTests(ShellOpenFunction open) { g_open = open ? open : ShellOpen; }

int LinkLanguage(const CSettingsKey& hostKey)
{
    return static_cast<int>(hostKey.ReadDword(L"Language", kLanguageFrench));
}

void OpenDriverPage(const UpdateServer& server, bool goToDriver, int language)
{
    g_open(PageBase(server) + L"veloran_asio_driver=1&lang=" + std::to_wstring(language) +
           (goToDriver ? L"&gotoasio=1" : L""));
}

void OpenManual(const UpdateServer& server, const std::wstring& version, int language)
{
    g_open(PageBase(server) + L"veloran_adio_driver_manual=" + version + L"&lang=" + std::to_wstring(language));
}
