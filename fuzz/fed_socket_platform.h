// A socket platform without sockets: every connection reads from one feed of
// bytes, in pieces whose sizes the feed chooses, and the peer closes once the
// feed runs dry. Sends are taken whole. Used by the fuzz targets and the
// benchmarks, so that the transport's own code runs with no kernel below it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>

#include "http/stack.h"

namespace quorvel::fuzz {

// Where received bytes come from.
class TByteFeed {
public:
    virtual ~TByteFeed() = default;
    // Copies the next piece (at most `size` bytes, at least one while any are
    // left) and returns its length; 0 once the feed is dry.
    virtual std::size_t Next(std::uint8_t* data, std::size_t size) = 0;
};

class TFedSocketPlatform : public TIdSocketPlatform {
public:
    void SetFeed(TByteFeed* feed) { FFeed = feed; }
    // Sockets taken and not yet closed: after an exchange, none may be left.
    std::size_t OpenSockets() const { return FOpen.size(); }
    std::uint64_t BytesSent() const { return FSent; }
    int Connects() const { return FConnects; }
    // With KeepSent, every sent byte is kept for a look at the wire.
    void KeepSent(bool keep) { FKeepSent = keep; }
    const std::string& Sent() const { return FSentBytes; }
    void ResetCounts() {
        FSent = 0;
        FConnects = 0;
        FSentBytes.clear();
    }

    void StartLibrary() override {}
    int LastError() override { return FLastError; }
    std::string LastSystemErrorText() override { return "no system error"; }
    TIdStackSocketHandle Socket(TIdIPVersion, int, int) override {
        const TIdStackSocketHandle s = FNextHandle++;
        FOpen.insert(s);
        return s;
    }
    int Bind(TIdStackSocketHandle s, const TIdSockAddr&) override { return Check(s); }
    int Connect(TIdStackSocketHandle s, const TIdSockAddr&, TIdConnectWaker*) override {
        ++FConnects;
        return Check(s);
    }
    std::unique_ptr<TIdConnectWaker> NewConnectWaker() override { return std::make_unique<TNoWaker>(); }
    int SetSockOpt(TIdStackSocketHandle s, int, int, std::int32_t) override { return Check(s); }
    int GetSockName(TIdStackSocketHandle s, TIdSockAddr& a) override { return Loopback(s, a, 40000); }
    int GetPeerName(TIdStackSocketHandle s, TIdSockAddr& a) override { return Loopback(s, a, 80); }
    std::int64_t Recv(TIdStackSocketHandle s, std::uint8_t* data, std::size_t size) override {
        if (Check(s) != 0) return -1;
        if (FFeed == nullptr || size == 0) return 0;
        const std::size_t n = FFeed->Next(data, size);
        if (n > size) std::abort();  // a feed that overruns the buffer is a harness fault
        return static_cast<std::int64_t>(n);
    }
    std::int64_t Send(TIdStackSocketHandle s, const std::uint8_t* data, std::size_t size) override {
        if (Check(s) != 0) return -1;
        FSent += size;
        if (FKeepSent) FSentBytes.append(reinterpret_cast<const char*>(data), size);
        return static_cast<std::int64_t>(size);
    }
    void ShutdownSend(TIdStackSocketHandle) override {}
    void Close(TIdStackSocketHandle s) override {
        // A second close of one handle would be a double close of a descriptor.
        if (FOpen.erase(s) == 0) std::abort();
    }
    // Always ready: either a piece or the peer's close is there to take.
    int SelectRead(TIdStackSocketHandle s, std::int32_t) override { return Check(s) == 0 ? 1 : -1; }
    bool LookupFunctionsAvailable() override { return true; }
    int GetAddrInfo(const std::string&, TIdIPVersion family, TIdSockAddr& first) override {
        first = TIdSockAddr{};
        first.Version = family;
        if (family == TIdIPVersion::Id_IPv4) {
            first.Bytes[0] = 127;
            first.Bytes[3] = 1;
        } else {
            first.Bytes[15] = 1;
        }
        return 0;
    }
    const TIdLookupCodes& LookupCodes() override {
        static const TIdLookupCodes codes{-101, -102, -103, -104, -105, -106, -107, -108, -109, -110, -111};
        return codes;
    }
    int GetHostByName(const std::string& host, TIdSockAddr& first) override {
        return GetAddrInfo(host, TIdIPVersion::Id_IPv4, first);
    }

private:
    class TNoWaker : public TIdConnectWaker {
    public:
        void Wake() override {}
    };

    // A call on a handle that is not open is what a use after close looks
    // like on a real platform: it fails with "bad descriptor".
    int Check(TIdStackSocketHandle s) {
        if (FOpen.count(s) != 0) return 0;
        FLastError = Id_WSAEBADF;
        return -1;
    }
    int Loopback(TIdStackSocketHandle s, TIdSockAddr& a, std::uint16_t port) {
        if (Check(s) != 0) return -1;
        const TIdIPVersion version = a.Version;
        a = TIdSockAddr{};
        a.Version = version;
        a.Bytes[0] = 127;
        a.Bytes[3] = 1;
        a.Port = port;
        return 0;
    }

    TByteFeed* FFeed = nullptr;
    std::set<TIdStackSocketHandle> FOpen;
    TIdStackSocketHandle FNextHandle = 100;
    int FLastError = 0;
    std::uint64_t FSent = 0;
    int FConnects = 0;
    bool FKeepSent = false;
    std::string FSentBytes;
};

}  // namespace quorvel::fuzz
