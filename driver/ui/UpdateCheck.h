// Asks the maker's web server for the driver version it offers, once, off the window's thread.
#pragma once

#include "../core/SettingsKey.h"

#include <windows.h>
#include <wininet.h>

#include <memory>
#include <string>

// The reserved name that stands for the maker's server until a real one exists.
inline constexpr wchar_t kUpdateHost[] = L"updates.veloran.example";

// The driver module's "ProductVersion" string (first translation of its version resource), every
// space removed; "" when it cannot be read. Works on a module loaded as a data file too.
std::wstring ReadProductVersion(HMODULE module);

// Both texts without '.' and ',', read as decimal integers (leading digits; none gives 0; too many
// digits saturate at the largest value): current < offered.
bool IsNewer(const std::wstring& current, const std::wstring& offered);

struct UpdateServer {
    std::wstring host;
    INTERNET_PORT port = 80;
};

// kUpdateHost, or the key's REG_SZ "UpdateServer" ("host" or "host:port"; a malformed value falls
// back to kUpdateHost).
UpdateServer ChooseUpdateServer(const CSettingsKey& defaultKey);

// One blocking exchange, every step bounded by timeoutMs. True with the offered version (digits and
// dots) in answer; false with an empty answer for any failure or unexpected reply.
bool QueryPublishedVersion(const UpdateServer& server, DWORD timeoutMs, std::wstring& answer);

// Runs the check on a worker thread and posts `message` (wParam 0, lParam 0) to `window` when it is
// done, also when it failed. The destructor never waits for the network: it aborts the worker's
// exchange and returns; the worker keeps what it uses, and a reference to this module, until it
// has finished.
class CUpdateCheck {
public:
    CUpdateCheck(HWND window, UINT message, UpdateServer server, std::wstring currentVersion,
                 DWORD timeoutMs = 5000);
    ~CUpdateCheck();
    CUpdateCheck(const CUpdateCheck&) = delete;
    CUpdateCheck& operator=(const CUpdateCheck&) = delete;

    bool done() const;
    // The offered version as received when the check succeeded and it is newer, else "".
    std::wstring newVersion() const;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};
