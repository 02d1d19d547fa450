// A TCP server on 127.0.0.1 that runs a script for each connection it accepts
// and records the bytes each connection received. For tests only.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http/scoped_generic.h"

namespace quorvel::test {

// The harness's sockets (and the POSIX wake pipe), held as int on both
// platforms and closed by each platform's own call.
struct TPeerFdTraits {
    static int InvalidValue() { return -1; }
    static void Free(int fd);
};
using TUniquePeerFd = TScopedGeneric<int, TPeerFdTraits>;

// One accepted connection, as the script sees it. Every read is bounded.
class TScriptedConnection {
public:
    explicit TScriptedConnection(int fd, std::atomic<bool>& stopping) : FFd(fd), FStopping(stopping) {}
    // Reads up to and including the first empty line (CR LF CR LF), or until
    // the peer closes or the wait runs out; returns what was read.
    std::string ReadRequestHead(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Reads whatever arrives until the peer closes or the wait runs out.
    std::string ReadUntilClose(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Sends all bytes; false when the peer has gone.
    bool Send(const std::string& bytes);
    // Shuts down sending (the peer sees an orderly end of stream).
    void ShutdownSend();
    // Closes at once with a reset instead of an orderly close.
    void Reset();
    // The script's end: an orderly close, unless Reset came first.
    void Close() { FFd.Reset(); }
    bool Stopping() const { return FStopping.load(); }
    // Every byte this connection has received so far.
    const std::string& Received() const { return FReceived; }
    int Fd() const { return FFd.Get(); }

private:
    bool ReadSome(std::chrono::steady_clock::time_point until);
    TUniquePeerFd FFd;
    std::atomic<bool>& FStopping;
    std::string FReceived;
    std::size_t FHeadEnd = 0;
};

class TScriptedServer {
public:
    using Script = std::function<void(TScriptedConnection&)>;
    // Connection n (0-based) runs scripts[min(n, last)].
    explicit TScriptedServer(std::vector<Script> scripts);
    explicit TScriptedServer(Script script) : TScriptedServer(std::vector<Script>{std::move(script)}) {}
    ~TScriptedServer();
    TScriptedServer(const TScriptedServer&) = delete;
    TScriptedServer& operator=(const TScriptedServer&) = delete;

    std::uint16_t Port() const { return FPort; }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(FPort); }
    // Number of connections accepted so far.
    int Accepted() const { return FAccepted.load(); }
    // The bytes received on each connection whose script has ended.
    std::vector<std::string> Requests() const;
    // Waits (bounded) until n scripts have ended.
    bool WaitForConnections(int n, std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

private:
    void Run();
    // The next connection's script; then, once it is closed, what it received.
    void RunScript(TScriptedConnection& c);
    void Record(const TScriptedConnection& c);
    std::vector<Script> FScripts;
    TUniquePeerFd FListener;
    TUniquePeerFd FWakeRead, FWakeWrite;  // POSIX only
    std::uint16_t FPort = 0;
    std::atomic<bool> FStopping{false};
    std::atomic<int> FAccepted{0};
    mutable std::mutex FMutex;
    std::vector<std::string> FRequests;
    std::thread FThread;
};

// Counts the open descriptors of this process (from /proc/self/fd).
int OpenDescriptorCount();
// Counts the threads of this process (from /proc/self/status).
int ThreadCount();

}  // namespace quorvel::test
