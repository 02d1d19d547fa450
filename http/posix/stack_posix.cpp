// The socket stack's calls over POSIX sockets: translation only. errno is
// reported as the Windows Sockets number, options are translated from the
// Windows numbering.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "http/posix/unique_fd.h"
#include "http/sockaddr_record.h"
#include "http/stack.h"

namespace quorvel {

namespace {

int ErrnoToSocketError(int e) {
    switch (e) {
        case 0: return 0;
        case EINTR: return 10004;
        case EBADF: return 10009;
        case EPERM:
        case EACCES: return 10013;
        case EFAULT: return 10014;
        case EINVAL: return 10022;
        case ENFILE:
        case EMFILE: return 10024;
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
        case EAGAIN: return 10035;
        case EINPROGRESS: return 10036;
        case EALREADY: return 10037;
        case ENOTSOCK: return 10038;
        case EDESTADDRREQ: return 10039;
        case EMSGSIZE: return 10040;
        case EPROTOTYPE: return 10041;
        case ENOPROTOOPT: return 10042;
        case EPROTONOSUPPORT: return 10043;
        case ESOCKTNOSUPPORT: return 10044;
#if EOPNOTSUPP != ENOTSUP
        case ENOTSUP:
#endif
        case EOPNOTSUPP: return 10045;
        case EPFNOSUPPORT: return 10046;
        case EAFNOSUPPORT: return 10047;
        case EADDRINUSE: return 10048;
        case EADDRNOTAVAIL: return 10049;
        case ENETDOWN: return 10050;
        case ENETUNREACH: return 10051;
        case ENETRESET: return 10052;
        case ECONNABORTED: return 10053;
        // A send after the peer's reset; Windows reports the reset itself.
        case EPIPE:
        case ECONNRESET: return 10054;
        case ENOBUFS: return 10055;
        case EISCONN: return 10056;
        case ENOTCONN: return 10057;
        case ESHUTDOWN: return 10058;
        case ETOOMANYREFS: return 10059;
        case ETIMEDOUT: return 10060;
        case ECONNREFUSED: return 10061;
        case ELOOP: return 10062;
        case ENAMETOOLONG: return 10063;
        case EHOSTDOWN: return 10064;
        case EHOSTUNREACH: return 10065;
        case ENOTEMPTY: return 10066;
        case ENOMEM: return 8;
        default: return e;
    }
}

int Family(TIdIPVersion v) { return v == TIdIPVersion::Id_IPv4 ? AF_INET : AF_INET6; }

socklen_t ToSockaddr(const TIdSockAddr& a, sockaddr_storage& out) {
    return static_cast<socklen_t>(sockaddr_record::ToSockaddr(a, out));
}

bool FromSockaddr(const sockaddr* sa, TIdSockAddr& out) {
    if (sockaddr_record::FromSockaddr(sa, out)) return true;
    errno = EAFNOSUPPORT;
    return false;
}

bool TranslateOption(int& level, int& option) {
    if (level == Id_SOL_SOCKET && option == Id_SO_REUSEADDR) {
        level = SOL_SOCKET;
        option = SO_REUSEADDR;
        return true;
    }
    if (level == Id_IPPROTO_TCP && option == Id_TCP_NODELAY) {
        level = IPPROTO_TCP;
        option = TCP_NODELAY;
        return true;
    }
    return false;
}

// Restores errno on the way out, so clean-up calls keep the failure's number.
class TErrnoKeeper {
public:
    TErrnoKeeper() : FSaved(errno) {}
    ~TErrnoKeeper() { errno = FSaved; }
    TErrnoKeeper(const TErrnoKeeper&) = delete;
    TErrnoKeeper& operator=(const TErrnoKeeper&) = delete;

private:
    int FSaved;
};

class TEventFdWaker : public TIdConnectWaker {
public:
    explicit TEventFdWaker(int fd) : FFd(fd) {}
    void Wake() override {
        const std::uint64_t one = 1;
        ssize_t r;
        do {
            r = ::write(FFd.Get(), &one, sizeof one);
        } while (r < 0 && errno == EINTR);
    }
    int Fd() const { return FFd.Get(); }

private:
    TUniqueFd FFd;
};

class TPosixSocketPlatform : public TIdSocketPlatform {
public:
    void StartLibrary() override {}

    int LastError() override { return ErrnoToSocketError(errno); }

    std::string LastSystemErrorText() override { return std::strerror(errno); }

    TIdStackSocketHandle Socket(TIdIPVersion family, int type, int protocol) override {
        if (type != Id_SOCK_STREAM) {
            errno = ESOCKTNOSUPPORT;
            return Id_INVALID_SOCKET;
        }
        const int fd = ::socket(Family(family), SOCK_STREAM | SOCK_CLOEXEC, protocol);
        return fd < 0 ? Id_INVALID_SOCKET : fd;
    }

    int Bind(TIdStackSocketHandle s, const TIdSockAddr& local) override {
        sockaddr_storage ss;
        const socklen_t len = ToSockaddr(local, ss);
        return ::bind(Fd(s), reinterpret_cast<sockaddr*>(&ss), len) == 0 ? 0 : -1;
    }

    // Non-blocking connect, waited for with poll: a signal interrupts
    // nothing, and a waker can end the wait, which closing cannot on Linux.
    int Connect(TIdStackSocketHandle s, const TIdSockAddr& peer, TIdConnectWaker* waker) override {
        const int fd = Fd(s);
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return -1;
        const int r = ConnectNonBlocking(fd, peer, dynamic_cast<TEventFdWaker*>(waker));
        TErrnoKeeper keep;
        ::fcntl(fd, F_SETFL, flags);
        return r;
    }

    std::unique_ptr<TIdConnectWaker> NewConnectWaker() override {
        const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (fd < 0) return nullptr;
        return std::make_unique<TEventFdWaker>(fd);
    }

    int SetSockOpt(TIdStackSocketHandle s, int level, int option, std::int32_t value) override {
        if (!TranslateOption(level, option)) {
            errno = ENOPROTOOPT;
            return -1;
        }
        const int v = value;
        return ::setsockopt(Fd(s), level, option, &v, sizeof v) == 0 ? 0 : -1;
    }

    int GetSockName(TIdStackSocketHandle s, TIdSockAddr& local) override {
        sockaddr_storage ss;
        socklen_t len = sizeof ss;
        if (::getsockname(Fd(s), reinterpret_cast<sockaddr*>(&ss), &len) != 0) return -1;
        return FromSockaddr(reinterpret_cast<sockaddr*>(&ss), local) ? 0 : -1;
    }

    int GetPeerName(TIdStackSocketHandle s, TIdSockAddr& peer) override {
        sockaddr_storage ss;
        socklen_t len = sizeof ss;
        if (::getpeername(Fd(s), reinterpret_cast<sockaddr*>(&ss), &len) != 0) return -1;
        return FromSockaddr(reinterpret_cast<sockaddr*>(&ss), peer) ? 0 : -1;
    }

    std::int64_t Recv(TIdStackSocketHandle s, std::uint8_t* data, std::size_t size) override {
        ssize_t n;
        do {
            n = ::recv(Fd(s), data, size, 0);
        } while (n < 0 && errno == EINTR);
        return n < 0 ? -1 : n;
    }

    std::int64_t Send(TIdStackSocketHandle s, const std::uint8_t* data, std::size_t size) override {
        ssize_t n;
        do {
            n = ::send(Fd(s), data, size, MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        return n < 0 ? -1 : n;
    }

    void ShutdownSend(TIdStackSocketHandle s) override { ::shutdown(Fd(s), SHUT_WR); }

    // No retry on EINTR: on Linux the descriptor is released regardless.
    void Close(TIdStackSocketHandle s) override { ::close(Fd(s)); }

    int SelectRead(TIdStackSocketHandle s, std::int32_t timeoutMs) override {
        pollfd p{Fd(s), POLLIN, 0};
        const int r = PollRetrying(&p, 1, timeoutMs);
        if (r < 0) return -1;
        if (r > 0 && (p.revents & POLLNVAL) != 0) {
            errno = EBADF;
            return -1;
        }
        return r > 0 ? 1 : 0;
    }

    bool LookupFunctionsAvailable() override { return true; }

    int GetAddrInfo(const std::string& host, TIdIPVersion family, TIdSockAddr& first) override {
        addrinfo hints{};
        hints.ai_family = Family(family);
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        const int r = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
        if (r != 0) return r;
        int result = 0;
        if (list == nullptr || !FromSockaddr(list->ai_addr, first)) result = EAI_NONAME;
        ::freeaddrinfo(list);
        return result;
    }

    const TIdLookupCodes& LookupCodes() override {
        static const TIdLookupCodes codes{
#ifdef EAI_ADDRFAMILY
            EAI_ADDRFAMILY,
#else
            INT_MIN,
#endif
            EAI_AGAIN, EAI_BADFLAGS, EAI_FAIL, EAI_FAMILY, EAI_MEMORY,
#ifdef EAI_NODATA
            EAI_NODATA,
#else
            INT_MIN + 1,
#endif
            EAI_NONAME, EAI_SERVICE, EAI_SOCKTYPE, EAI_SYSTEM};
        return codes;
    }

    int GetHostByName(const std::string& host, TIdSockAddr& first) override {
        if (GetAddrInfo(host, TIdIPVersion::Id_IPv4, first) == 0) return 0;
        errno = EHOSTUNREACH;
        return -1;
    }

private:
    static int Fd(TIdStackSocketHandle s) {
        return s < 0 || s > INT_MAX ? -1 : static_cast<int>(s);
    }

    static int PollRetrying(pollfd* fds, nfds_t count, std::int32_t timeoutMs) {
        using Clock = std::chrono::steady_clock;
        const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
        for (;;) {
            int wait = -1;
            if (timeoutMs >= 0) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
                wait = static_cast<int>(left < 0 ? 0 : left);
            }
            const int r = ::poll(fds, count, wait);
            if (r >= 0 || errno != EINTR) return r;
        }
    }

    static int ConnectNonBlocking(int fd, const TIdSockAddr& peer, TEventFdWaker* waker) {
        sockaddr_storage ss;
        const socklen_t len = ToSockaddr(peer, ss);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&ss), len) == 0) return 0;
        // An interrupted connect goes on in the background, like one in progress.
        if (errno != EINPROGRESS && errno != EINTR) return -1;
        pollfd p[2] = {{fd, POLLOUT, 0}, {waker != nullptr ? waker->Fd() : -1, POLLIN, 0}};
        if (PollRetrying(p, waker != nullptr ? 2 : 1, -1) < 0) return -1;
        if (waker != nullptr && (p[1].revents & POLLIN) != 0) {
            errno = EBADF;
            return -1;
        }
        int error = 0;
        socklen_t errorLen = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorLen) != 0) return -1;
        if (error != 0) {
            errno = error;
            return -1;
        }
        return 0;
    }
};

}  // namespace

TIdSocketPlatform& DefaultSocketPlatform() {
    static TPosixSocketPlatform platform;
    return platform;
}

}  // namespace quorvel
