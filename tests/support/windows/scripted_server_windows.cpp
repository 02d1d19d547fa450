// The scripted server over Windows Sockets. Test programs link the socket
// library directly; only the shipped program loads it at run time.
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <stdexcept>

#include "support/scripted_server.h"

namespace quorvel::test {

namespace {

using Clock = std::chrono::steady_clock;

// Started once for the test program; the library counts its users.
struct TWinsockUser {
    TWinsockUser() {
        WSADATA data{};
        if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
    }
    ~TWinsockUser() { ::WSACleanup(); }
};

void EnsureWinsock() { static TWinsockUser user; }

SOCKET Sock(int fd) { return static_cast<SOCKET>(static_cast<unsigned>(fd)); }

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// select on one socket for reading, at most `ms` milliseconds.
int WaitReadable(SOCKET s, long ms) {
    fd_set read;
    FD_ZERO(&read);
    FD_SET(s, &read);
    timeval limit{ms / 1000, (ms % 1000) * 1000};
    return ::select(0, &read, nullptr, nullptr, &limit);
}

}  // namespace

void TPeerFdTraits::Free(int fd) { ::closesocket(Sock(fd)); }

bool TScriptedConnection::ReadSome(Clock::time_point until) {
    while (!FStopping.load() && FFd.IsValid()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0) return false;
        const int r = WaitReadable(Sock(Fd()), static_cast<long>(std::min<long long>(left.count(), 100)));
        if (r < 0) return false;
        if (r == 0) continue;
        char buf[65536];
        const int n = ::recv(Sock(Fd()), buf, sizeof buf, 0);
        if (n <= 0) return false;
        FReceived.append(buf, static_cast<std::size_t>(n));
        return true;
    }
    return false;
}

bool TScriptedConnection::Send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size() && FFd.IsValid()) {
        const int n = ::send(Sock(Fd()), bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return done == bytes.size();
}

void TScriptedConnection::ShutdownSend() {
    if (FFd.IsValid()) ::shutdown(Sock(Fd()), SD_SEND);
}

// A shutdown first would send an orderly end before the reset: close at once
// with a zero linger instead.
void TScriptedConnection::Reset() {
    if (!FFd.IsValid()) return;
    linger l{1, 0};
    ::setsockopt(Sock(Fd()), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    FFd.Reset();
}

TScriptedServer::TScriptedServer(std::vector<Script> scripts) : FScripts(std::move(scripts)) {
    EnsureWinsock();
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET) throw std::runtime_error("socket: " + std::to_string(::WSAGetLastError()));
    FListener.Reset(static_cast<int>(listener));
    sockaddr_in a = Loopback(0);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener, 64) != 0)
        throw std::runtime_error("bind/listen: " + std::to_string(::WSAGetLastError()));
    int len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
    FThread = std::thread([this] { Run(); });
}

// The accept loop is woken by a connection of our own; its one-second wait
// ends it in any case.
TScriptedServer::~TScriptedServer() {
    FStopping.store(true);
    const TUniquePeerFd waker(static_cast<int>(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)));
    if (waker.IsValid()) {
        sockaddr_in a = Loopback(FPort);
        ::connect(Sock(waker.Get()), reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    FThread.join();
}

void TScriptedServer::Run() {
    while (!FStopping.load()) {
        const int r = WaitReadable(Sock(FListener.Get()), 1000);
        if (FStopping.load()) return;
        if (r <= 0) continue;
        const SOCKET accepted = ::accept(Sock(FListener.Get()), nullptr, nullptr);
        if (accepted == INVALID_SOCKET) continue;
        TScriptedConnection c(static_cast<int>(accepted), FStopping);
        if (FStopping.load()) return;
        RunScript(c);
        c.Close();
        Record(c);
    }
}

// Windows has handles where Linux has descriptors.
int OpenDescriptorCount() {
    DWORD count = 0;
    return ::GetProcessHandleCount(::GetCurrentProcess(), &count) ? static_cast<int>(count) : -1;
}

int ThreadCount() {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    const DWORD self = ::GetCurrentProcessId();
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == self) ++count;
    }
    ::CloseHandle(snapshot);
    return count;
}

}  // namespace quorvel::test
