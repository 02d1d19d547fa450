#include "http/stack.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <optional>
#include <vector>

#include "http/digits.h"
#include "http/exceptions.h"
#include "http/text_encoding.h"

namespace quorvel {

namespace {

std::mutex& UsageLock() {
    static std::mutex lock;
    return lock;
}
int GUsageCount = 0;
bool GLibraryStarted = false;
std::optional<TIdStack> GStack;

std::atomic<TIdSocketPlatform*> GTestPlatform{nullptr};
std::mutex GResolverLock;
TIdResolver GTestResolver;

const char* SocketErrorText(int number) {
    switch (number) {
        case 10004: return "Interrupted system call.";
        case 10009: return "Bad file number.";
        case 10013: return "Access denied.";
        case 10014: return "Buffer fault.";
        case 10022: return "Invalid argument.";
        case 10024: return "Too many open files.";
        case 10035: return "Operation would block.";
        case 10036: return "Operation now in progress.";
        case 10037: return "Operation already in progress.";
        case 10038: return "Socket operation on non-socket.";
        case 10039: return "Destination address required.";
        case 10040: return "Message too long.";
        case 10041: return "Protocol wrong type for socket.";
        case 10042: return "Bad protocol option.";
        case 10043: return "Protocol not supported.";
        case 10044: return "Socket type not supported.";
        case 10045: return "Operation not supported on socket.";
        case 10046: return "Protocol family not supported.";
        case 10047: return "Address family not supported by protocol family.";
        case 10048: return "Address already in use.";
        case 10049: return "Cannot assign requested address.";
        case 10050: return "Network is down.";
        case 10051: return "Network is unreachable.";
        case 10052: return "Net dropped connection or reset.";
        case 10053: return "Software caused connection abort.";
        case 10054: return "Connection reset by peer.";
        case 10055: return "No buffer space available.";
        case 10056: return "Socket is already connected.";
        case 10057: return "Socket is not connected.";
        case 10058: return "Cannot send or receive after socket is closed.";
        case 10059: return "Too many references, cannot splice.";
        case 10060: return "Connection timed out.";
        case 10061: return "Connection refused.";
        case 10062: return "Too many levels of symbolic links.";
        case 10063: return "File name too long.";
        case 10064: return "Host is down.";
        case 10065: return "No route to host.";
        case 10066: return "Directory not empty";
        case 11001: return "Host not found.";
        default: return "";
    }
}

// The table of lookup results.
int LookupResultToSocketError(int result, const TIdLookupCodes& codes) {
    if (result == codes.AddrFamily) return 0;
    if (result == codes.Again) return 11002;
    if (result == codes.BadFlags) return 10022;
    if (result == codes.Fail) return 11003;
    if (result == codes.Family) return 10047;
    if (result == codes.Memory) return 8;
    // Before "no data": Windows' headers give EAI_NODATA the number of
    // EAI_NONAME, and a name that is not found must still report 11001.
    if (result == codes.NoName) return 11001;
    if (result == codes.NoData) return 11004;
    if (result == codes.Service) return 10109;
    if (result == codes.SockType) return 10044;
    return result;
}

TIdSockAddr MakeAddress(const std::string& ip, TIdIPVersion family, std::uint16_t port, bool emptyIsAny) {
    TIdSockAddr a;
    a.Version = family;
    a.Port = port;
    if (ip.empty() && emptyIsAny) return a;
    const bool ok = family == TIdIPVersion::Id_IPv4 ? ParseIPv4(ip, a.Bytes.data()) : ParseIPv6(ip, a.Bytes.data());
    if (!ok) TIdStack::RaiseSocketError(Id_WSAEINVAL);
    return a;
}

}  // namespace

void TIdStack::IncUsage() {
    std::lock_guard<std::mutex> lock(UsageLock());
    if (GUsageCount == 0) {
        if (!GLibraryStarted) {
            try {
                Platform().StartLibrary();
            } catch (const Exception& e) {
                throw EIdStackInitializationFailed(e.Message());
            }
            GLibraryStarted = true;
        }
        GStack.emplace(TKey{});
    }
    ++GUsageCount;
}

void TIdStack::DecUsage() {
    std::lock_guard<std::mutex> lock(UsageLock());
    if (GUsageCount == 0) return;
    if (--GUsageCount == 0) GStack.reset();
}

int TIdStack::UsageCount() {
    std::lock_guard<std::mutex> lock(UsageLock());
    return GUsageCount;
}

bool TIdStack::Exists() {
    std::lock_guard<std::mutex> lock(UsageLock());
    return GStack.has_value();
}

bool TIdStack::LibraryStarted() {
    std::lock_guard<std::mutex> lock(UsageLock());
    return GLibraryStarted;
}

TIdStack& TIdStack::Instance() {
    std::lock_guard<std::mutex> lock(UsageLock());
    if (!GStack) throw EIdStackError("The socket stack is not in use: no network object exists.");
    return *GStack;
}

void TIdStack::SetResolverForTesting(TIdResolver resolver) {
    std::lock_guard<std::mutex> lock(GResolverLock);
    GTestResolver = std::move(resolver);
}

void TIdStack::SetPlatformForTesting(TIdSocketPlatform* platform) { GTestPlatform.store(platform); }

TIdSocketPlatform& TIdStack::Platform() {
    TIdSocketPlatform* p = GTestPlatform.load();
    return p != nullptr ? *p : DefaultSocketPlatform();
}

TIdStackSocketHandle TIdStack::NewSocketHandle(int socketType, int protocol, TIdIPVersion family) {
    const TIdStackSocketHandle s = Platform().Socket(family, socketType, protocol);
    if (s == Id_INVALID_SOCKET) RaiseLastSocketError();
    return s;
}

void TIdStack::Bind(TIdStackSocketHandle s, const std::string& ip, TIdIPVersion family, std::uint16_t port) {
    CheckForSocketError(Platform().Bind(s, MakeAddress(ip, family, port, true)));
}

void TIdStack::Connect(TIdStackSocketHandle s, const std::string& ip, TIdIPVersion family, std::uint16_t port,
                       TIdConnectWaker* waker) {
    CheckForSocketError(Platform().Connect(s, MakeAddress(ip, family, port, false), waker));
}

std::unique_ptr<TIdConnectWaker> TIdStack::NewConnectWaker() {
    auto waker = Platform().NewConnectWaker();
    if (!waker) RaiseLastSocketError();
    return waker;
}

void TIdStack::SetSocketOption(TIdStackSocketHandle s, int level, int option, std::int32_t value) {
    CheckForSocketError(Platform().SetSockOpt(s, level, option, value));
}

void TIdStack::GetSocketName(TIdStackSocketHandle s, std::string& ip, std::uint16_t& port) {
    TIdSockAddr a;
    CheckForSocketError(Platform().GetSockName(s, a));
    ip = FormatAddress(a);
    port = a.Port;
}

void TIdStack::GetPeerName(TIdStackSocketHandle s, std::string& ip, std::uint16_t& port) {
    TIdSockAddr a;
    CheckForSocketError(Platform().GetPeerName(s, a));
    ip = FormatAddress(a);
    port = a.Port;
}

std::size_t TIdStack::Receive(TIdStackSocketHandle s, std::uint8_t* data, std::size_t size) {
    return static_cast<std::size_t>(CheckForSocketError(Platform().Recv(s, data, size)));
}

std::size_t TIdStack::Send(TIdStackSocketHandle s, const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    return static_cast<std::size_t>(CheckForSocketError(Platform().Send(s, data, size)));
}

void TIdStack::Disconnect(TIdStackSocketHandle s) {
    TIdSocketPlatform& p = Platform();
    // Both results are ignored: the socket counts as closed whatever happens.
    try {
        p.ShutdownSend(s);
    } catch (...) {
    }
    try {
        p.Close(s);
    } catch (...) {
    }
}

bool TIdStack::SelectRead(TIdStackSocketHandle s, std::int32_t timeoutMs) {
    const int r = Platform().SelectRead(s, timeoutMs < 0 ? -1 : timeoutMs);
    if (r < 0) RaiseLastSocketError();
    return r > 0;
}

bool TIdStack::IsIP(const std::string& text) { return IsDottedIPv4(text); }

std::string TIdStack::ResolveHost(const std::string& host, TIdIPVersion family) {
    if (family == TIdIPVersion::Id_IPv4) {
        if (EqualsIgnoreCase(host, "LOCALHOST")) return "127.0.0.1";
        if (IsIP(host)) return host;
    } else {
        std::string literal = MakeCanonicalIPv6Address(host);
        if (!literal.empty()) return literal;
    }

    TIdSocketPlatform& p = Platform();
    TIdResolver resolver;
    {
        std::lock_guard<std::mutex> lock(GResolverLock);
        resolver = GTestResolver;
    }
    std::string address;
    int result = 0;
    if (resolver) {
        result = resolver(host, family, address);
        if (result == 0 && family == TIdIPVersion::Id_IPv6) {
            std::string canonical = MakeCanonicalIPv6Address(address);
            if (!canonical.empty()) address = canonical;
        }
    } else if (p.LookupFunctionsAvailable()) {
        TIdSockAddr first;
        result = p.GetAddrInfo(host, family, first);
        if (result == 0) address = FormatAddress(first);
    } else {
        if (family == TIdIPVersion::Id_IPv6) throw EIdIPv6Unavailable();
        TIdSockAddr first;
        if (p.GetHostByName(host, first) != 0) RaiseLastSocketError();
        return FormatAddress(first);
    }
    if (result != 0) {
        const TIdLookupCodes& codes = p.LookupCodes();
        if (result == codes.System) throw EOSError(p.LastSystemErrorText());
        RaiseSocketError(LookupResultToSocketError(result, codes));
    }
    return address;
}

std::int64_t TIdStack::CheckForSocketError(std::int64_t result) {
    if (result == -1) RaiseLastSocketError();
    return result;
}

void TIdStack::RaiseLastSocketError() { RaiseSocketError(Platform().LastError()); }

void TIdStack::RaiseSocketError(int number) {
    std::string message = WSTranslateSocketErrorMsg(number);
    if (number == Id_WSAENOTSOCK) throw EIdNotASocket(number, std::move(message));
    throw EIdSocketError(number, std::move(message));
}

std::string TIdStack::WSTranslateSocketErrorMsg(int number) {
    return "Socket Error # " + std::to_string(number) + "\r\n" + SocketErrorText(number);
}

bool ParseIPv6(const std::string& text, std::uint8_t out[16]) {
    std::vector<std::uint16_t> head, tail;
    bool compressed = false;
    std::size_t i = 0;
    const std::size_t n = text.size();
    if (n == 0) return false;
    if (text.compare(0, 2, "::") == 0) {
        compressed = true;
        i = 2;
    } else if (text[0] == ':') {
        return false;
    }
    std::vector<std::uint16_t>* groups = compressed ? &tail : &head;
    while (i < n) {
        std::size_t j = i;
        while (j < n && HexDigit(text[j]) >= 0) ++j;
        if (j < n && text[j] == '.') {
            // An IPv4 tail fills the last two groups.
            std::uint8_t v4[4];
            if (!ParseIPv4(text.substr(i), v4)) return false;
            groups->push_back(static_cast<std::uint16_t>(v4[0] << 8 | v4[1]));
            groups->push_back(static_cast<std::uint16_t>(v4[2] << 8 | v4[3]));
            i = n;
            break;
        }
        if (j == i || j - i > 4) return false;
        unsigned value = 0;
        for (std::size_t k = i; k < j; ++k) value = value * 16 + static_cast<unsigned>(HexDigit(text[k]));
        groups->push_back(static_cast<std::uint16_t>(value));
        i = j;
        if (i == n) break;
        if (text[i] != ':') return false;
        ++i;
        if (i < n && text[i] == ':') {
            if (compressed) return false;
            compressed = true;
            groups = &tail;
            ++i;
        } else if (i == n) {
            return false;
        }
    }
    const std::size_t total = head.size() + tail.size();
    if (compressed ? total > 7 : total != 8) return false;
    std::uint16_t all[8] = {};
    for (std::size_t k = 0; k < head.size(); ++k) all[k] = head[k];
    for (std::size_t k = 0; k < tail.size(); ++k) all[8 - tail.size() + k] = tail[k];
    for (int k = 0; k < 8; ++k) {
        out[2 * k] = static_cast<std::uint8_t>(all[k] >> 8);
        out[2 * k + 1] = static_cast<std::uint8_t>(all[k] & 0xFF);
    }
    return true;
}

std::string FormatAddress(const TIdSockAddr& address) {
    const auto& b = address.Bytes;
    if (address.Version == TIdIPVersion::Id_IPv4) {
        return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
               std::to_string(b[3]);
    }
    std::string text;
    for (int k = 0; k < 8; ++k) {
        char group[8];
        std::snprintf(group, sizeof group, "%X", static_cast<unsigned>(b[2 * k] << 8 | b[2 * k + 1]));
        if (k > 0) text += ':';
        text += group;
    }
    return text;
}

std::string MakeCanonicalIPv6Address(const std::string& text) {
    TIdSockAddr a;
    a.Version = TIdIPVersion::Id_IPv6;
    if (!ParseIPv6(text, a.Bytes.data())) return {};
    return FormatAddress(a);
}

}  // namespace quorvel
