// The process-wide socket stack: usage counting, every socket call, name
// resolution and the translation of socket failures into exceptions. The
// rules live here; a platform file (posix/, windows/) only translates calls.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "http/ip_address.h"
#include "http/ip_version.h"

namespace quorvel {

// A platform socket; Id_INVALID_SOCKET when none.
using TIdStackSocketHandle = std::intptr_t;
inline constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;

// Socket types, levels and options are numbered as in Windows Sockets; the
// platform file translates them.
inline constexpr int Id_SOCK_STREAM = 1;
inline constexpr int Id_IPPROTO_IP = 0;
inline constexpr int Id_IPPROTO_TCP = 6;
inline constexpr int Id_TCP_NODELAY = 1;
inline constexpr int Id_SOL_SOCKET = 0xFFFF;
inline constexpr int Id_SO_REUSEADDR = 4;

// Socket error numbers that the rules name.
inline constexpr int Id_WSAEINTR = 10004;
inline constexpr int Id_WSAEBADF = 10009;
inline constexpr int Id_WSAEINVAL = 10022;
inline constexpr int Id_WSAENOTSOCK = 10038;
inline constexpr int Id_WSAECONNREFUSED = 10061;
inline constexpr int Id_WSAHOST_NOT_FOUND = 11001;

// An address in binary form, as the platform hands it over.
struct TIdSockAddr {
    TIdIPVersion Version = TIdIPVersion::Id_IPv4;
    std::array<std::uint8_t, 16> Bytes{};  // IPv4 uses the first four, network order
    std::uint16_t Port = 0;                // host order
};

// Ends a connect pending in another thread (closing its socket does not on
// every platform).
class TIdConnectWaker {
public:
    virtual ~TIdConnectWaker() = default;
    virtual void Wake() = 0;
};

// The platform's getaddrinfo result codes, so that the table of lookup
// results can be written once. A platform without a code uses a value that
// getaddrinfo never returns.
struct TIdLookupCodes {
    int AddrFamily, Again, BadFlags, Fail, Family, Memory, NoData, NoName, Service, SockType, System;
};

// The calls the stack makes. Failures return -1 (or nullptr) and leave the
// number for LastError(), already translated to the Windows Sockets number.
class TIdSocketPlatform {
public:
    virtual ~TIdSocketPlatform() = default;
    // Loads and starts the socket library; raises EIdWinsockStubError.
    virtual void StartLibrary() = 0;
    virtual int LastError() = 0;
    // Text of the operating system's last error (a lookup's EAI_SYSTEM).
    virtual std::string LastSystemErrorText() = 0;
    virtual TIdStackSocketHandle Socket(TIdIPVersion family, int type, int protocol) = 0;
    virtual int Bind(TIdStackSocketHandle s, const TIdSockAddr& local) = 0;
    // Blocking connect. With a waker, a Wake() from another thread ends it
    // with -1 and LastError() 10009, as a socket closed under it would.
    virtual int Connect(TIdStackSocketHandle s, const TIdSockAddr& peer, TIdConnectWaker* waker) = 0;
    virtual std::unique_ptr<TIdConnectWaker> NewConnectWaker() = 0;
    virtual int SetSockOpt(TIdStackSocketHandle s, int level, int option, std::int32_t value) = 0;
    virtual int GetSockName(TIdStackSocketHandle s, TIdSockAddr& local) = 0;
    virtual int GetPeerName(TIdStackSocketHandle s, TIdSockAddr& peer) = 0;
    virtual std::int64_t Recv(TIdStackSocketHandle s, std::uint8_t* data, std::size_t size) = 0;
    virtual std::int64_t Send(TIdStackSocketHandle s, const std::uint8_t* data, std::size_t size) = 0;
    virtual void ShutdownSend(TIdStackSocketHandle s) = 0;
    virtual void Close(TIdStackSocketHandle s) = 0;
    // 1 readable, 0 expired, -1 failed; a negative time-out waits without limit.
    virtual int SelectRead(TIdStackSocketHandle s, std::int32_t timeoutMs) = 0;
    virtual bool LookupFunctionsAvailable() = 0;
    // 0 with the first address, or a getaddrinfo result code.
    virtual int GetAddrInfo(const std::string& host, TIdIPVersion family, TIdSockAddr& first) = 0;
    virtual const TIdLookupCodes& LookupCodes() = 0;
    // IPv4 lookup without the lookup functions: 0, or -1 with LastError().
    virtual int GetHostByName(const std::string& host, TIdSockAddr& first) = 0;
};

// The platform this build runs on (defined in the platform file).
TIdSocketPlatform& DefaultSocketPlatform();

// Replaces name lookups: returns 0 with the address text, or a getaddrinfo
// result code (EAI_NONAME, ...) that the table of lookup results translates.
using TIdResolver = std::function<int(const std::string& host, TIdIPVersion family, std::string& address)>;

class TIdStack {
public:
    // Every network object calls these from its constructor and destructor.
    // The first use in the process starts the socket library; a failure
    // raises EIdStackInitializationFailed and counts nothing.
    static void IncUsage();
    static void DecUsage();
    static int UsageCount();
    static bool Exists();
    static bool LibraryStarted();
    // The stack object; raises EIdStackError when no network object exists.
    static TIdStack& Instance();

    // For tests. Lookups go through `resolver` until it is reset with an
    // empty function (e.g. map "www.quorvel.test" to "127.0.0.1"); names
    // that IsIP accepts and "localhost" never reach it.
    static void SetResolverForTesting(TIdResolver resolver);
    // For tests: route every call through `platform` (nullptr: the default).
    static void SetPlatformForTesting(TIdSocketPlatform* platform);
    static TIdSocketPlatform& Platform();

    TIdStackSocketHandle NewSocketHandle(int socketType, int protocol, TIdIPVersion family);
    // Empty address: the any-address of the family.
    void Bind(TIdStackSocketHandle s, const std::string& ip, TIdIPVersion family, std::uint16_t port);
    void Connect(TIdStackSocketHandle s, const std::string& ip, TIdIPVersion family, std::uint16_t port,
                 TIdConnectWaker* waker = nullptr);
    std::unique_ptr<TIdConnectWaker> NewConnectWaker();
    void SetSocketOption(TIdStackSocketHandle s, int level, int option, std::int32_t value);
    void GetSocketName(TIdStackSocketHandle s, std::string& ip, std::uint16_t& port);
    void GetPeerName(TIdStackSocketHandle s, std::string& ip, std::uint16_t& port);
    // One recv; 0 means the peer's orderly close.
    std::size_t Receive(TIdStackSocketHandle s, std::uint8_t* data, std::size_t size);
    // One send; returns how many bytes were taken. 0 bytes sends nothing.
    std::size_t Send(TIdStackSocketHandle s, const std::uint8_t* data, std::size_t size);
    // Shutdown for sending, then close; never raises, needs no stack object.
    static void Disconnect(TIdStackSocketHandle s);
    // Negative time-out: no limit.
    bool SelectRead(TIdStackSocketHandle s, std::int32_t timeoutMs);

    static bool IsIP(const std::string& text);
    std::string ResolveHost(const std::string& host, TIdIPVersion family);

    std::int64_t CheckForSocketError(std::int64_t result);
    [[noreturn]] void RaiseLastSocketError();
    [[noreturn]] static void RaiseSocketError(int number);
    static std::string WSTranslateSocketErrorMsg(int number);

    // Only the usage count makes stack objects.
    class TKey {
        friend class TIdStack;
        TKey() = default;
    };
    explicit TIdStack(TKey) {}
};

// Address text: IPv4 dotted decimal (ip_address.h); IPv6 eight upper-case
// hexadecimal groups without leading zeros, never shortened.
bool ParseIPv6(const std::string& text, std::uint8_t out[16]);
std::string FormatAddress(const TIdSockAddr& address);
// The IPv6 literal in the canonical form, or empty when it is none.
std::string MakeCanonicalIPv6Address(const std::string& text);

}  // namespace quorvel
