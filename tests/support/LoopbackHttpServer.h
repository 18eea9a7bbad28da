// A small HTTP server on 127.0.0.1 for tests, on a port the system chooses. It answers every
// connection with one canned reply, or holds it open unanswered until Release(). Every wait is
// bounded, and it stops by itself when its life limit is reached.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

class CLoopbackHttpServer {
public:
    static constexpr DWORD kLifeLimitMs = 30000;

    // reply: the raw bytes sent after a complete request; none holds the connection instead.
    explicit CLoopbackHttpServer(std::optional<std::string> reply);
    ~CLoopbackHttpServer();
    CLoopbackHttpServer(const CLoopbackHttpServer&) = delete;
    CLoopbackHttpServer& operator=(const CLoopbackHttpServer&) = delete;

    // "HTTP/1.0 <status> ..." with a Content-Length and the body.
    static std::string Reply(int status, std::string_view body);

    unsigned short port() const { return port_; }
    // The bytes of the first complete request (headers and body); "" when none came in time.
    std::string WaitForRequest();
    // Closes a held connection; the server then waits for the next one.
    void Release() { SetEvent(release_); }
    // The server closed a held connection itself: released, or its life limit reached.
    bool letGo() const { return letGo_; }

private:
    void Serve();
    void Answer(SOCKET client);
    bool TimeLeft() const;

    std::optional<std::string> reply_;
    SOCKET listener_ = INVALID_SOCKET;
    unsigned short port_ = 0;
    HANDLE stop_;
    HANDLE release_;
    HANDLE requested_;
    ULONGLONG deadline_;
    std::mutex lock_;
    std::string request_;
    std::atomic<bool> letGo_{false};
    std::thread thread_;
};
