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

bool ScriptedConnection::ReadSome(Clock::time_point until) {
    while (!FStopping.load() && FFd != -1) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0) return false;
        const int r = WaitReadable(Sock(FFd), static_cast<long>(std::min<long long>(left.count(), 100)));
        if (r < 0) return false;
        if (r == 0) continue;
        char buf[65536];
        const int n = ::recv(Sock(FFd), buf, sizeof buf, 0);
        if (n <= 0) return false;
        FReceived.append(buf, static_cast<std::size_t>(n));
        return true;
    }
    return false;
}

bool ScriptedConnection::Send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size() && FFd != -1) {
        const int n = ::send(Sock(FFd), bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return done == bytes.size();
}

void ScriptedConnection::ShutdownSend() {
    if (FFd != -1) ::shutdown(Sock(FFd), SD_SEND);
}

// A shutdown first would send an orderly end before the reset: close at once
// with a zero linger instead.
void ScriptedConnection::Reset() {
    if (FFd == -1) return;
    linger l{1, 0};
    ::setsockopt(Sock(FFd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    ::closesocket(Sock(FFd));
    FFd = -1;
}

ScriptedServer::ScriptedServer(std::vector<Script> scripts) : FScripts(std::move(scripts)) {
    EnsureWinsock();
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET) throw std::runtime_error("socket: " + std::to_string(::WSAGetLastError()));
    FListenFd = static_cast<int>(listener);
    sockaddr_in a = Loopback(0);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener, 64) != 0) {
        const int error = ::WSAGetLastError();
        ::closesocket(listener);
        throw std::runtime_error("bind/listen: " + std::to_string(error));
    }
    int len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
    FThread = std::thread([this] { Run(); });
}

// The accept loop is woken by a connection of our own; its one-second wait
// ends it in any case.
ScriptedServer::~ScriptedServer() {
    FStopping.store(true);
    const SOCKET waker = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (waker != INVALID_SOCKET) {
        sockaddr_in a = Loopback(FPort);
        ::connect(waker, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    FThread.join();
    if (waker != INVALID_SOCKET) ::closesocket(waker);
    ::closesocket(Sock(FListenFd));
}

void ScriptedServer::Run() {
    while (!FStopping.load()) {
        const int r = WaitReadable(Sock(FListenFd), 1000);
        if (FStopping.load()) return;
        if (r <= 0) continue;
        const SOCKET accepted = ::accept(Sock(FListenFd), nullptr, nullptr);
        if (accepted == INVALID_SOCKET) continue;
        if (FStopping.load()) {
            ::closesocket(accepted);
            return;
        }
        ScriptedConnection c(static_cast<int>(accepted), FStopping);
        RunScript(c);
        if (c.Fd() != -1) ::closesocket(Sock(c.Fd()));
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
