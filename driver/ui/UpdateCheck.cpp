#include "UpdateCheck.h"

#include "../runtime/Unknown.h"

#include <veloran/CriticalSection.h>
#include <veloran/ProductVersion.h>
#include <veloran/UniqueHandle.h>

#include <atomic>
#include <cstdint>
#include <cwchar>
#include <iterator>
#include <limits>
#include <mutex>
#include <string_view>
#include <vector>

namespace {

constexpr wchar_t kProductId[] = L"Veloran_ASIO_Driver";
constexpr DWORD kMaxReplyBytes = 4096;
constexpr size_t kMaxVersionLength = 32;

// The WinINet session of one exchange. Whoever closes it first (the exchange at its end, or an
// owner that gives up on it from another thread) closes every handle below it too, which aborts a
// call in progress; handles below it are closed only while it is open, so that a stale handle
// value never closes someone else's.
class SessionGuard {
public:
    bool Adopt(HINTERNET session)
    {
        std::lock_guard hold(lock_);
        if (closed_) return false;
        session_ = session;
        return true;
    }
    void CloseChild(HINTERNET handle)
    {
        std::lock_guard hold(lock_);
        if (!closed_) InternetCloseHandle(handle);
    }
    void Close()
    {
        std::lock_guard hold(lock_);
        if (closed_) return;
        closed_ = true;
        if (session_) InternetCloseHandle(session_);
    }

private:
    CCriticalSection lock_;
    HINTERNET session_ = nullptr;
    bool closed_ = false;
};

// A connection or request handle below a guarded session.
class ChildHandle {
public:
    ChildHandle(SessionGuard& guard, HINTERNET handle) : guard_(guard), handle_(handle) {}
    ChildHandle(const ChildHandle&) = delete;
    ChildHandle& operator=(const ChildHandle&) = delete;
    ~ChildHandle()
    {
        if (handle_) guard_.CloseChild(handle_);
    }
    HINTERNET get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    SessionGuard& guard_;
    HINTERNET handle_;
};

// Set on every handle of the exchange: not every WinINet passes a session's time-outs on to the
// connections made from it.
void SetTimeouts(HINTERNET handle, DWORD timeoutMs)
{
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT})
        InternetSetOptionW(handle, option, &timeoutMs, sizeof(timeoutMs));
}

// The form body as single-byte text with its terminating NUL; empty when it cannot be made.
std::string QueryBody()
{
    wchar_t product[128] = {};
    DWORD length = static_cast<DWORD>(std::size(product));
    if (!InternetCanonicalizeUrlW(kProductId, product, &length, 0)) return {};
    const std::wstring text = std::wstring(L"action=query_current_version&product=") + product;
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string body(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, body.data(), bytes, nullptr, nullptr);
    return body;
}

// A short text of digits and dots, trailing white space and NULs cut off.
bool AcceptVersion(std::string_view reply, std::wstring& version)
{
    const size_t end = reply.find_last_not_of(std::string_view(" \t\r\n\0", 5));
    reply = end == std::string_view::npos ? std::string_view() : reply.substr(0, end + 1);
    if (reply.empty() || reply.size() > kMaxVersionLength) return false;
    for (char c : reply)
        if (c != '.' && (c < '0' || c > '9')) return false;
    version.assign(reply.begin(), reply.end());
    return true;
}

bool Exchange(SessionGuard& guard, const UpdateServer& server, DWORD timeoutMs, std::wstring& answer)
{
    answer.clear();
    const std::string body = QueryBody();
    if (body.empty()) return false;
    HINTERNET session = InternetOpenW(L"http generic", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!session) return false;
    if (!guard.Adopt(session)) {
        InternetCloseHandle(session);
        return false;
    }
    SetTimeouts(session, timeoutMs);

    const ChildHandle connection(guard, InternetConnectW(session, server.host.c_str(), server.port, nullptr, nullptr,
                                                         INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return false;
    SetTimeouts(connection.get(), timeoutMs);
    const ChildHandle request(guard, HttpOpenRequestW(connection.get(), L"POST", L"updates/softs_logs_db.php",
                                                      L"HTTP/1.0", nullptr, nullptr,
                                                      INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE, 0));
    if (!request) return false;
    SetTimeouts(request.get(), timeoutMs);
    if (!HttpAddRequestHeadersW(request.get(), L"Content-Type: application/x-www-form-urlencoded\n", DWORD(-1),
                                HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE))
        return false;
    if (!HttpSendRequestW(request.get(), nullptr, 0, const_cast<char*>(body.data()), static_cast<DWORD>(body.size())))
        return false;

    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) ||
        status != HTTP_STATUS_OK)
        return false;

    char reply[kMaxReplyBytes];
    DWORD total = 0;
    while (total < kMaxReplyBytes) {
        DWORD read = 0;
        if (!InternetReadFile(request.get(), reply + total, kMaxReplyBytes - total, &read)) return false;
        if (read == 0) break;
        total += read;
    }
    return AcceptVersion(std::string_view(reply, total), answer);
}

uint64_t VersionNumber(const std::wstring& text)
{
    constexpr uint64_t kLargest = std::numeric_limits<uint64_t>::max();
    uint64_t value = 0;
    for (wchar_t c : text) {
        if (c == L'.' || c == L',') continue;
        if (c < L'0' || c > L'9') break;
        const unsigned digit = static_cast<unsigned>(c - L'0');
        if (value > (kLargest - digit) / 10) return kLargest;
        value = value * 10 + digit;
    }
    return value;
}

bool IsHostCharacter(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'.' ||
           c == L'-' || c == L'_';
}

bool ParseServer(const std::wstring& text, UpdateServer& server)
{
    const size_t colon = text.find(L':');
    std::wstring host = text.substr(0, colon);
    if (host.empty()) return false;
    for (wchar_t c : host)
        if (!IsHostCharacter(c)) return false;
    unsigned port = 80;
    if (colon != std::wstring::npos) {
        const std::wstring digits = text.substr(colon + 1);
        if (digits.empty() || digits.size() > 5) return false;
        port = 0;
        for (wchar_t c : digits) {
            if (c < L'0' || c > L'9') return false;
            port = port * 10 + static_cast<unsigned>(c - L'0');
        }
        if (port == 0 || port > 0xFFFF) return false;
    }
    server.host = std::move(host);
    server.port = static_cast<INTERNET_PORT>(port);
    return true;
}

}  // namespace

std::wstring ReadProductVersion(HMODULE module)
{
    std::wstring version;
    for (const wchar_t c : ModuleProductVersion(module))
        if (c != L' ') version += c;
    return version;
}

bool IsNewer(const std::wstring& current, const std::wstring& offered)
{
    return VersionNumber(current) < VersionNumber(offered);
}

UpdateServer ChooseUpdateServer(const CSettingsKey& defaultKey)
{
    UpdateServer server;
    if (!ParseServer(defaultKey.ReadString(L"UpdateServer"), server)) server = UpdateServer{kUpdateHost, 80};
    return server;
}

bool QueryPublishedVersion(const UpdateServer& server, DWORD timeoutMs, std::wstring& answer)
{
    SessionGuard guard;
    const bool found = Exchange(guard, server, timeoutMs, answer);
    guard.Close();
    return found;
}

// What the check and its worker share; the object count keeps the DLL loaded while either lives.
struct CUpdateCheck::Shared {
    CBaseObject counted;
    HWND window;
    UINT message;
    UpdateServer server;
    std::wstring current;
    DWORD timeoutMs;
    SessionGuard session;
    std::atomic<bool> abandoned{false};
    std::atomic<bool> done{false};
    std::wstring newVersion;  // written before done is set

    void Run()
    {
        std::wstring offered;
        if (Exchange(session, server, timeoutMs, offered) && IsNewer(current, offered)) newVersion = offered;
        session.Close();
        Finish();
    }
    // An owner that gave up no longer wants the message.
    void Finish()
    {
        done.store(true, std::memory_order_release);
        if (!abandoned.load()) PostMessageW(window, message, 0, 0);
    }
};

namespace {

struct WorkerStart {
    std::shared_ptr<CUpdateCheck::Shared> shared;
    HMODULE module;
};

DWORD WINAPI UpdateWorker(void* parameter)
{
    HMODULE module = nullptr;
    {
        const std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(parameter));
        module = start->module;
        start->shared->Run();
    }
    // Everything of this thread is released; only now may the module go.
    FreeLibraryAndExitThread(module, 0);
}

}  // namespace

CUpdateCheck::CUpdateCheck(HWND window, UINT message, UpdateServer server, std::wstring currentVersion,
                           DWORD timeoutMs)
    : shared_(std::make_shared<Shared>())
{
    shared_->window = window;
    shared_->message = message;
    shared_->server = std::move(server);
    shared_->current = std::move(currentVersion);
    shared_->timeoutMs = timeoutMs;

    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&UpdateWorker),
                            &module)) {
        shared_->Finish();
        return;
    }
    auto start = std::make_unique<WorkerStart>(WorkerStart{shared_, module});
    const UniqueHandle thread(CreateThread(nullptr, 0, UpdateWorker, start.get(), 0, nullptr));
    if (thread.valid()) {
        start.release();
        return;
    }
    FreeLibrary(module);
    shared_->Finish();
}

CUpdateCheck::~CUpdateCheck()
{
    shared_->abandoned = true;
    shared_->session.Close();
}

bool CUpdateCheck::done() const { return shared_->done.load(std::memory_order_acquire); }

std::wstring CUpdateCheck::newVersion() const { return done() ? shared_->newVersion : std::wstring(); }
