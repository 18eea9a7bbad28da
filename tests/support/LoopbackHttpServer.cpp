#include "LoopbackHttpServer.h"

#include <cstdlib>

namespace {

constexpr int kPollMs = 50;

// Waits up to kPollMs for the socket to become readable.
bool Readable(SOCKET socket)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval wait{0, kPollMs * 1000};
    return select(0, &set, nullptr, nullptr, &wait) == 1;
}

// A request is complete when its headers have ended and its Content-Length bytes followed.
bool Complete(const std::string& bytes)
{
    const size_t end = bytes.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    size_t length = 0;
    const std::string headers = bytes.substr(0, end);
    for (size_t line = headers.find("\r\n"); line != std::string::npos; line = headers.find("\r\n", line + 2)) {
        const std::string name = "content-length:";
        if (_strnicmp(headers.c_str() + line + 2, name.c_str(), name.size()) == 0)
            length = std::strtoul(headers.c_str() + line + 2 + name.size(), nullptr, 10);
    }
    return bytes.size() >= end + 4 + length;
}

}  // namespace

CLoopbackHttpServer::CLoopbackHttpServer(std::optional<std::string> reply)
    : reply_(std::move(reply)),
      stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      release_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      requested_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      deadline_(GetTickCount64() + kLifeLimitMs)
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int size = sizeof(address);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 && listen(listener_, 4) == 0 &&
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

CLoopbackHttpServer::~CLoopbackHttpServer()
{
    SetEvent(stop_);
    thread_.join();
    closesocket(listener_);
    WSACleanup();
    CloseHandle(stop_);
    CloseHandle(release_);
    CloseHandle(requested_);
}

std::string CLoopbackHttpServer::Reply(int status, std::string_view body)
{
    return "HTTP/1.0 " + std::to_string(status) + " Reply\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nContent-Type: text/html\r\n\r\n" + std::string(body);
}

std::string CLoopbackHttpServer::WaitForRequest()
{
    WaitForSingleObject(requested_, kLifeLimitMs);
    std::lock_guard hold(lock_);
    return request_;
}

bool CLoopbackHttpServer::TimeLeft() const
{
    return WaitForSingleObject(stop_, 0) != WAIT_OBJECT_0 && GetTickCount64() < deadline_;
}

void CLoopbackHttpServer::Serve()
{
    while (TimeLeft()) {
        if (!Readable(listener_)) continue;
        const SOCKET client = accept(listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET) continue;
        Answer(client);
        closesocket(client);
    }
}

void CLoopbackHttpServer::Answer(SOCKET client)
{
    std::string bytes;
    char buffer[1024];
    while (!Complete(bytes)) {
        if (!TimeLeft()) return;
        if (!Readable(client)) continue;
        const int got = recv(client, buffer, sizeof(buffer), 0);
        if (got <= 0) return;
        bytes.append(buffer, static_cast<size_t>(got));
    }
    {
        std::lock_guard hold(lock_);
        if (request_.empty()) request_ = bytes;
    }
    SetEvent(requested_);
    if (reply_) {
        send(client, reply_->data(), static_cast<int>(reply_->size()), 0);
        shutdown(client, SD_SEND);
        return;
    }
    // Held: until released, or until the client closes its side.
    while (TimeLeft() && WaitForSingleObject(release_, 0) != WAIT_OBJECT_0) {
        if (Readable(client) && recv(client, buffer, sizeof(buffer), 0) <= 0) return;
    }
    letGo_ = true;
}
