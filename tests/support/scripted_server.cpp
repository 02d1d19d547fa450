#include "support/scripted_server.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace quorvel::test {

using Clock = std::chrono::steady_clock;

void TPeerFdTraits::Free(int fd) { ::close(fd); }

bool TScriptedConnection::ReadSome(Clock::time_point until) {
    while (!FStopping.load()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0) return false;
        pollfd p{Fd(), POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 100)));
        if (r < 0 && errno != EINTR) return false;
        if (r <= 0) continue;
        char buf[65536];
        const ssize_t n = ::recv(Fd(), buf, sizeof buf, 0);
        if (n <= 0) return false;
        FReceived.append(buf, static_cast<std::size_t>(n));
        return true;
    }
    return false;
}

bool TScriptedConnection::Send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(Fd(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void TScriptedConnection::ShutdownSend() { ::shutdown(Fd(), SHUT_WR); }

void TScriptedConnection::Reset() {
    linger l{1, 0};
    ::setsockopt(Fd(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::shutdown(Fd(), SHUT_RDWR);
}

TScriptedServer::TScriptedServer(std::vector<Script> scripts) : FScripts(std::move(scripts)) {
    FListener.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int listener = FListener.Get();
    if (listener < 0) throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener, 64) != 0)
        throw std::runtime_error("bind/listen: " + std::string(std::strerror(errno)));
    socklen_t len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    FWakeRead.Reset(wake[0]);
    FWakeWrite.Reset(wake[1]);
    FThread = std::thread([this] { Run(); });
}

TScriptedServer::~TScriptedServer() {
    FStopping.store(true);
    const char b = 1;
    [[maybe_unused]] auto w = ::write(FWakeWrite.Get(), &b, 1);
    FThread.join();
}

void TScriptedServer::Run() {
    while (!FStopping.load()) {
        pollfd p[2] = {{FListener.Get(), POLLIN, 0}, {FWakeRead.Get(), POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) continue;
        if (p[1].revents) return;
        const int fd = ::accept4(FListener.Get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        TScriptedConnection c(fd, FStopping);
        RunScript(c);
        c.Close();
        Record(c);
    }
}

int OpenDescriptorCount() {
    int count = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (const dirent* e = ::readdir(d)) {
            if (e->d_name[0] != '.') ++count;
        }
        ::closedir(d);
        --count;  // the descriptor of the listing itself
    }
    return count;
}

int ThreadCount() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
    }
    return -1;
}

}  // namespace quorvel::test
