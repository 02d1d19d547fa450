// Peers and doubles for the transport tests (Linux only).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "http/posix/unique_fd.h"
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
class TRefusedPort {
public:
    TRefusedPort();
    std::uint16_t Port() const { return FPort; }

private:
    TUniqueFd FFd;
    std::uint16_t FPort = 0;
};

// A loopback listener with backlog 0 whose accept queue is full, so a new
// connect gets no answer to its SYN. Blocks() tells whether it really does.
class TUnansweredListener {
public:
    TUnansweredListener();
    std::uint16_t Port() const { return FPort; }
    bool Blocks() const { return FBlocks; }

private:
    TUniqueFd FListenFd;
    std::vector<TUniqueFd> FFillers;
    std::uint16_t FPort = 0;
    bool FBlocks = false;
};

// How the stream of an accepted connection ended.
enum class TStreamEnd { Orderly, Reset, StillOpen };
// Reads everything until the peer's close or the limit.
TStreamEnd ReadToEnd(int fd, std::string& received, Ms limit = Ms(5000));

// Name lookups answered by `resolver` for the life of the scope.
class TScopedResolver {
public:
    explicit TScopedResolver(TIdResolver resolver) { TIdStack::SetResolverForTesting(std::move(resolver)); }
    ~TScopedResolver() { TIdStack::SetResolverForTesting(nullptr); }
    TScopedResolver(const TScopedResolver&) = delete;
    TScopedResolver& operator=(const TScopedResolver&) = delete;
};

// The real platform with counted starts and connects, installed for its own
// life; tests override single calls to inject failures.
class TCountingPlatform : public TIdSocketPlatform {
public:
    TCountingPlatform() : FReal(DefaultSocketPlatform()) { TIdStack::SetPlatformForTesting(this); }
    ~TCountingPlatform() override { TIdStack::SetPlatformForTesting(nullptr); }
    TCountingPlatform(const TCountingPlatform&) = delete;
    TCountingPlatform& operator=(const TCountingPlatform&) = delete;
    int ConnectCalls() const { return FConnectCalls; }
    int StartCalls() const { return FStartCalls; }

    void StartLibrary() override {
        ++FStartCalls;
        FReal.StartLibrary();
    }
    int Connect(TIdStackSocketHandle s, const TIdSockAddr& a, TIdConnectWaker* w) override {
        ++FConnectCalls;
        return FReal.Connect(s, a, w);
    }
    int LastError() override { return FReal.LastError(); }
    std::string LastSystemErrorText() override { return FReal.LastSystemErrorText(); }
    TIdStackSocketHandle Socket(TIdIPVersion f, int t, int p) override { return FReal.Socket(f, t, p); }
    int Bind(TIdStackSocketHandle s, const TIdSockAddr& a) override { return FReal.Bind(s, a); }
    std::unique_ptr<TIdConnectWaker> NewConnectWaker() override { return FReal.NewConnectWaker(); }
    int SetSockOpt(TIdStackSocketHandle s, int l, int o, std::int32_t v) override { return FReal.SetSockOpt(s, l, o, v); }
    int GetSockName(TIdStackSocketHandle s, TIdSockAddr& a) override { return FReal.GetSockName(s, a); }
    int GetPeerName(TIdStackSocketHandle s, TIdSockAddr& a) override { return FReal.GetPeerName(s, a); }
    std::int64_t Recv(TIdStackSocketHandle s, std::uint8_t* d, std::size_t n) override { return FReal.Recv(s, d, n); }
    std::int64_t Send(TIdStackSocketHandle s, const std::uint8_t* d, std::size_t n) override {
        return FReal.Send(s, d, n);
    }
    void ShutdownSend(TIdStackSocketHandle s) override { FReal.ShutdownSend(s); }
    void Close(TIdStackSocketHandle s) override { FReal.Close(s); }
    int SelectRead(TIdStackSocketHandle s, std::int32_t ms) override { return FReal.SelectRead(s, ms); }
    bool LookupFunctionsAvailable() override { return FReal.LookupFunctionsAvailable(); }
    int GetAddrInfo(const std::string& h, TIdIPVersion f, TIdSockAddr& a) override { return FReal.GetAddrInfo(h, f, a); }
    const TIdLookupCodes& LookupCodes() override { return FReal.LookupCodes(); }
    int GetHostByName(const std::string& h, TIdSockAddr& a) override { return FReal.GetHostByName(h, a); }

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
