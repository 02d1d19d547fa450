#include "winsock_peers.h"

#include <stdexcept>
#include <string>

namespace quorvel::test {

namespace {

struct TWinsockUser {
    TWinsockUser() {
        WSADATA data{};
        ::WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~TWinsockUser() { ::WSACleanup(); }
};

void EnsureWinsock() { static TWinsockUser user; }

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

std::uint16_t BoundPort(SOCKET s) {
    sockaddr_in a{};
    int len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

SOCKET BoundSocket() {
    EnsureWinsock();
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = Loopback(0);
    if (s == INVALID_SOCKET || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        throw std::runtime_error("bind: " + std::to_string(::WSAGetLastError()));
    return s;
}

// True when a non-blocking connect is still pending after `ms`.
bool StaysPending(SOCKET s, long ms) {
    fd_set write, failed;
    FD_ZERO(&write);
    FD_ZERO(&failed);
    FD_SET(s, &write);
    FD_SET(s, &failed);
    timeval limit{ms / 1000, (ms % 1000) * 1000};
    return ::select(0, nullptr, &write, &failed, &limit) == 0;
}

}  // namespace

TRefusedPort::TRefusedPort() : FSocket(BoundSocket()), FPort(BoundPort(FSocket.Get())) {}

TUnansweredListener::TUnansweredListener() : FListener(BoundSocket()), FPort(BoundPort(FListener.Get())) {
    ::listen(FListener.Get(), 0);
    const sockaddr_in a = Loopback(FPort);
    for (int i = 0; i < 16 && !FBlocks; ++i) {
        const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET) break;
        u_long nonBlocking = 1;
        ::ioctlsocket(s, FIONBIO, &nonBlocking);
        FFillers.emplace_back(s);
        if (::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) continue;
        if (::WSAGetLastError() != WSAEWOULDBLOCK) continue;
        FBlocks = StaysPending(s, 300);
    }
}

}  // namespace quorvel::test
