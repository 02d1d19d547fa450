// Peers and doubles for the transport tests (Linux only).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "http/stack.h"
#include "http/tcp_client.h"
#include "support/scripted_server.h"

namespace quorvel::test {

using Ms = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

inline long long MsSince(SteadyClock::time_point start) {
    return std::chrono::duration_cast<Ms>(SteadyClock::now() - start).count();
}

// A loopback port where nothing listens: a bound socket without listen(),
// held so that no one else takes the port meanwhile.
class RefusedPort {
public:
    RefusedPort();
    ~RefusedPort();
    RefusedPort(const RefusedPort&) = delete;
    RefusedPort& operator=(const RefusedPort&) = delete;
    std::uint16_t Port() const { return FPort; }

private:
    int FFd = -1;
    std::uint16_t FPort = 0;
};

// A loopback listener with backlog 0 whose accept queue is full, so a new
// connect gets no answer to its SYN. Blocks() tells whether it really does.
class UnansweredListener {
public:
    UnansweredListener();
    ~UnansweredListener();
    UnansweredListener(const UnansweredListener&) = delete;
    UnansweredListener& operator=(const UnansweredListener&) = delete;
    std::uint16_t Port() const { return FPort; }
    bool Blocks() const { return FBlocks; }

private:
    int FListenFd = -1;
    std::vector<int> FFillers;
    std::uint16_t FPort = 0;
    bool FBlocks = false;
};

// How the stream of an accepted connection ended.
enum class StreamEnd { Orderly, Reset, StillOpen };
// Reads everything until the peer's close or the limit.
StreamEnd ReadToEnd(int fd, std::string& received, Ms limit = Ms(5000));

// Name lookups answered by `resolver` for the life of the scope.
class ScopedResolver {
public:
    explicit ScopedResolver(TIdResolver resolver) { TIdStack::SetResolverForTesting(std::move(resolver)); }
    ~ScopedResolver() { TIdStack::SetResolverForTesting(nullptr); }
    ScopedResolver(const ScopedResolver&) = delete;
    ScopedResolver& operator=(const ScopedResolver&) = delete;
};

// The real platform with counted connects, installed for its own life.
class CountingPlatform : public TIdSocketPlatform {
public:
    CountingPlatform();
    ~CountingPlatform() override;
    CountingPlatform(const CountingPlatform&) = delete;
    CountingPlatform& operator=(const CountingPlatform&) = delete;
    int ConnectCalls() const { return FConnectCalls; }
    int StartCalls() const { return FStartCalls; }

    void StartLibrary() override;
    int LastError() override;
    std::string LastSystemErrorText() override;
    TIdStackSocketHandle Socket(TIdIPVersion family, int type, int protocol) override;
    int Bind(TIdStackSocketHandle s, const TIdSockAddr& local) override;
    int Connect(TIdStackSocketHandle s, const TIdSockAddr& peer, TIdConnectWaker* waker) override;
    std::unique_ptr<TIdConnectWaker> NewConnectWaker() override;
    int SetSockOpt(TIdStackSocketHandle s, int level, int option, std::int32_t value) override;
    int GetSockName(TIdStackSocketHandle s, TIdSockAddr& local) override;
    int GetPeerName(TIdStackSocketHandle s, TIdSockAddr& peer) override;
    std::int64_t Recv(TIdStackSocketHandle s, std::uint8_t* data, std::size_t size) override;
    std::int64_t Send(TIdStackSocketHandle s, const std::uint8_t* data, std::size_t size) override;
    void ShutdownSend(TIdStackSocketHandle s) override;
    void Close(TIdStackSocketHandle s) override;
    int SelectRead(TIdStackSocketHandle s, std::int32_t timeoutMs) override;
    bool LookupFunctionsAvailable() override;
    int GetAddrInfo(const std::string& host, TIdIPVersion family, TIdSockAddr& first) override;
    const TIdLookupCodes& LookupCodes() override;
    int GetHostByName(const std::string& host, TIdSockAddr& first) override;

private:
    TIdSocketPlatform& FReal;
    std::atomic<int> FConnectCalls{0};
    std::atomic<int> FStartCalls{0};
};

// A client with a loopback host and port.
inline std::unique_ptr<TIdTCPClientCustom> ClientFor(std::uint16_t port, std::int32_t connectTimeout = 0) {
    auto client = std::make_unique<TIdTCPClientCustom>();
    client->Host = "127.0.0.1";
    client->Port = port;
    client->ConnectTimeout = connectTimeout;
    return client;
}

bool IsCloseOnExec(TIdStackSocketHandle s);

}  // namespace quorvel::test
