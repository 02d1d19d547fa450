#include "net_helpers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace quorvel::test {

namespace {

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

std::uint16_t BoundPort(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

}  // namespace

TRefusedPort::TRefusedPort() : FFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a = Loopback(0);
    if (!FFd.IsValid() || ::bind(FFd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        throw std::runtime_error("cannot bind a loopback port");
    FPort = BoundPort(FFd.Get());
}

TUnansweredListener::TUnansweredListener() : FListenFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    const int listener = FListenFd.Get();
    sockaddr_in a = Loopback(0);
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener, 0) != 0)
        throw std::runtime_error("cannot listen on loopback");
    FPort = BoundPort(listener);
    a = Loopback(FPort);
    // Fill the queue until a connect stays unanswered; the last filler, left
    // pending, is the proof that the next one blocks too.
    for (int i = 0; i < 16 && !FBlocks; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        FFillers.emplace_back(fd);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 || errno != EINPROGRESS) continue;
        pollfd p{fd, POLLOUT, 0};
        FBlocks = ::poll(&p, 1, 300) == 0;
    }
}

TStreamEnd ReadToEnd(int fd, std::string& received, Ms limit) {
    const auto until = SteadyClock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<Ms>(until - SteadyClock::now()).count();
        if (left <= 0) return TStreamEnd::StillOpen;
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return TStreamEnd::StillOpen;
        char buf[65536];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n == 0) return TStreamEnd::Orderly;
        if (n < 0) return errno == EINTR ? ReadToEnd(fd, received, Ms(left)) : TStreamEnd::Reset;
        received.append(buf, static_cast<std::size_t>(n));
    }
}

bool IsCloseOnExec(TIdStackSocketHandle s) {
    const int flags = ::fcntl(static_cast<int>(s), F_GETFD);
    return flags >= 0 && (flags & FD_CLOEXEC) != 0;
}

}  // namespace quorvel::test
