// The socket stack's calls over Windows Sockets 2, loaded at run time: the
// program imports nothing from the socket library, so a system without it
// still starts and reports the failure when the first network object is made.
// Error numbers are the platform's own and pass through unchanged.
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <mutex>
#include <string>

#include "http/exceptions.h"
#include "http/scoped_generic.h"
#include "http/sockaddr_record.h"
#include "http/stack.h"
#include "http/windows/system_error_text.h"
#include "http/windows/windows_text.h"
#include "http/windows/winsock_library.h"

namespace quorvel {

namespace {

// The name the messages give, whatever file a test build loads.
constexpr const char* kLibraryDisplayName = "WS2_32.DLL";

std::string WithSystemText(std::string message, std::uint32_t number) {
    if (number != 0) message += ": " + SystemErrorText(number);
    return message;
}

using TUniqueModule = TScopedGeneric<HMODULE, TNullHandleTraits<HMODULE, ::FreeLibrary>>;
using TUniqueEvent = TScopedGeneric<HANDLE, TNullHandleTraits<HANDLE, ::CloseHandle>>;

// Loads without the system's "file not found" dialog.
HMODULE LoadQuietly(const std::string& fileName, DWORD& error) {
    const UINT previous = ::SetErrorMode(SEM_NOOPENFILEERRORBOX);
    HMODULE module = ::LoadLibraryW(Wide(fileName).c_str());
    error = module == nullptr ? ::GetLastError() : 0;
    ::SetErrorMode(previous);
    return module;
}

// One exported function, looked up by name on its first call and kept.
template <typename F>
struct TEntry {
    const char* Name;
    std::atomic<F> Address{nullptr};
};

class TWinsock {
public:
    ~TWinsock() {
        if (FStarted) {
            auto cleanup = Lookup(FWSACleanup);
            if (cleanup != nullptr) cleanup();
        }
    }

    // Load, WSAStartup 2.2, then the lookup functions (NT 5 and later).
    void Start() {
        std::lock_guard<std::mutex> lock(FLock);
        if (FStarted) return;
        const std::string loadFailed = std::string("Error on loading Winsock2 library (") + kLibraryDisplayName + ")";
        DWORD error = 0;
        TUniqueModule library(LoadQuietly(WinsockLibraryFileName(), error));
        if (!library.IsValid()) throw EIdWinsockStubError(WithSystemText(loadFailed, error));
        // Not kept in its entry: a failed start frees the library again.
        TEntry<decltype(&::WSAStartup)> startup{"WSAStartup"};
        auto start = Lookup(startup, library.Get());
        if (start == nullptr) throw StubError(startup.Name, WSAEINVAL);
        WSADATA data{};
        const int started = start(MAKEWORD(2, 2), &data);
        if (started != 0) throw EIdWinsockStubError(WithSystemText(loadFailed, static_cast<std::uint32_t>(started)));
        FLibrary = std::move(library);
        FLoaded.store(FLibrary.Get());
        FStarted = true;
        FindLookupFunctions();
    }

    bool LookupFunctionsAvailable() const { return FLookupAvailable.load(); }

    // Raises EIdWinsockStubError: 10093 when the library is not loaded,
    // 10022 when it lacks the function.
    template <typename F>
    F Function(TEntry<F>& entry) {
        F f = entry.Address.load();
        if (f != nullptr) return f;
        if (FLoaded.load() == nullptr) throw StubError(entry.Name, WSANOTINITIALISED);
        f = Lookup(entry);
        if (f == nullptr) throw StubError(entry.Name, WSAEINVAL);
        return f;
    }

    TEntry<decltype(&::WSACleanup)> FWSACleanup{"WSACleanup"};
    TEntry<decltype(&::WSAGetLastError)> FWSAGetLastError{"WSAGetLastError"};
    TEntry<decltype(&::WSASetLastError)> FWSASetLastError{"WSASetLastError"};
    TEntry<decltype(&::socket)> FSocket{"socket"};
    TEntry<decltype(&::bind)> FBind{"bind"};
    TEntry<decltype(&::connect)> FConnect{"connect"};
    TEntry<decltype(&::setsockopt)> FSetSockOpt{"setsockopt"};
    TEntry<decltype(&::getsockopt)> FGetSockOpt{"getsockopt"};
    TEntry<decltype(&::getsockname)> FGetSockName{"getsockname"};
    TEntry<decltype(&::getpeername)> FGetPeerName{"getpeername"};
    TEntry<decltype(&::recv)> FRecv{"recv"};
    TEntry<decltype(&::send)> FSend{"send"};
    TEntry<decltype(&::shutdown)> FShutdown{"shutdown"};
    TEntry<decltype(&::closesocket)> FCloseSocket{"closesocket"};
    TEntry<decltype(&::select)> FSelect{"select"};
    TEntry<decltype(&::ioctlsocket)> FIoctlSocket{"ioctlsocket"};
    TEntry<decltype(&::WSAEventSelect)> FWSAEventSelect{"WSAEventSelect"};
    TEntry<decltype(&::WSAEnumNetworkEvents)> FWSAEnumNetworkEvents{"WSAEnumNetworkEvents"};
    TEntry<decltype(&::gethostbyname)> FGetHostByName{"gethostbyname"};
    // Set only by FindLookupFunctions, from whichever module has them.
    TEntry<decltype(&::GetAddrInfoW)> FGetAddrInfoW{"GetAddrInfoW"};
    TEntry<decltype(&::FreeAddrInfoW)> FFreeAddrInfoW{"FreeAddrInfoW"};
    TEntry<decltype(&::GetNameInfoW)> FGetNameInfoW{"GetNameInfoW"};

private:
    static EIdWinsockStubError StubError(const char* name, int number) {
        return EIdWinsockStubError(WithSystemText(
            std::string("Error on call to Winsock2 library function ") + name, static_cast<std::uint32_t>(number)));
    }

    template <typename F>
    F Lookup(TEntry<F>& entry, HMODULE module = nullptr) {
        if (module == nullptr) module = FLoaded.load();
        if (module == nullptr) return nullptr;
        // The cast between function pointer types is how GetProcAddress is used.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
        F f = reinterpret_cast<F>(::GetProcAddress(module, entry.Name));
#pragma GCC diagnostic pop
        if (f != nullptr) entry.Address.store(f);
        return f;
    }

    void FindLookupFunctions() {
        const DWORD version = ::GetVersion();
        const bool nt5OrLater = (version & 0x80000000u) == 0 && LOBYTE(LOWORD(version)) >= 5;
        if (!nt5OrLater) return;
        HMODULE from = FLibrary.Get();
        if (::GetProcAddress(from, FGetAddrInfoW.Name) == nullptr) {
            DWORD error = 0;
            FIPv6Helper = TUniqueModule(LoadQuietly("Wship6.dll", error));
            from = FIPv6Helper.Get();
            if (from == nullptr) return;
        }
        const bool all = Lookup(FGetAddrInfoW, from) != nullptr && Lookup(FFreeAddrInfoW, from) != nullptr &&
                         Lookup(FGetNameInfoW, from) != nullptr;
        FLookupAvailable.store(all);
    }

    std::mutex FLock;
    TUniqueModule FLibrary;
    std::atomic<HMODULE> FLoaded{nullptr};  // read by calls on any thread
    TUniqueModule FIPv6Helper;
    bool FStarted = false;
    std::atomic<bool> FLookupAvailable{false};
};

// Declared after nothing that outlives it: destroyed at process end, which
// calls WSACleanup before the modules are freed.
TWinsock& Winsock() {
    static TWinsock winsock;
    return winsock;
}

SOCKET Sock(TIdStackSocketHandle s) { return static_cast<SOCKET>(s); }

using sockaddr_record::FromSockaddr;
using sockaddr_record::ToSockaddr;

int Family(TIdIPVersion v) { return v == TIdIPVersion::Id_IPv4 ? AF_INET : AF_INET6; }

int ClampSize(std::size_t size) { return size > INT_MAX ? INT_MAX : static_cast<int>(size); }

class TEventWaker final : public TIdConnectWaker {
public:
    TEventWaker() : FEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    void Wake() override { ::SetEvent(FEvent.Get()); }
    HANDLE Event() const { return FEvent.Get(); }
    bool Valid() const { return FEvent.IsValid(); }

private:
    TUniqueEvent FEvent;
};

class TWindowsSocketPlatform final : public TIdSocketPlatform {
public:
    void StartLibrary() override { Winsock().Start(); }

    int LastError() override {
        // The first lookup of WSAGetLastError must not disturb the number.
        const DWORD saved = ::GetLastError();
        auto get = Winsock().Function(Winsock().FWSAGetLastError);
        ::SetLastError(saved);
        return get();
    }

    std::string LastSystemErrorText() override { return SystemErrorText(::GetLastError()); }

    TIdStackSocketHandle Socket(TIdIPVersion family, int type, int protocol) override {
        const SOCKET s = Winsock().Function(Winsock().FSocket)(Family(family), type, protocol);
        return s == INVALID_SOCKET ? Id_INVALID_SOCKET : static_cast<TIdStackSocketHandle>(s);
    }

    int Bind(TIdStackSocketHandle s, const TIdSockAddr& local) override {
        sockaddr_storage ss;
        const int len = ToSockaddr(local, ss);
        return Winsock().Function(Winsock().FBind)(Sock(s), reinterpret_cast<sockaddr*>(&ss), len) == 0 ? 0 : -1;
    }

    int Connect(TIdStackSocketHandle s, const TIdSockAddr& peer, TIdConnectWaker* waker) override {
        sockaddr_storage ss;
        const int len = ToSockaddr(peer, ss);
        auto* events = dynamic_cast<TEventWaker*>(waker);
        if (events == nullptr)
            return Winsock().Function(Winsock().FConnect)(Sock(s), reinterpret_cast<sockaddr*>(&ss), len) == 0 ? 0 : -1;
        return ConnectWakeable(Sock(s), reinterpret_cast<sockaddr*>(&ss), len, *events);
    }

    std::unique_ptr<TIdConnectWaker> NewConnectWaker() override {
        auto waker = std::make_unique<TEventWaker>();
        if (!waker->Valid()) {
            SetLastSocketError(WSAENOBUFS);
            return nullptr;
        }
        return waker;
    }

    // The option numbers are already those of Windows Sockets.
    int SetSockOpt(TIdStackSocketHandle s, int level, int option, std::int32_t value) override {
        const int v = value;
        return Winsock().Function(Winsock().FSetSockOpt)(Sock(s), level, option, reinterpret_cast<const char*>(&v),
                                                         sizeof v) == 0
                   ? 0
                   : -1;
    }

    int GetSockName(TIdStackSocketHandle s, TIdSockAddr& local) override {
        return AddressOf(Winsock().Function(Winsock().FGetSockName), s, local);
    }

    int GetPeerName(TIdStackSocketHandle s, TIdSockAddr& peer) override {
        return AddressOf(Winsock().Function(Winsock().FGetPeerName), s, peer);
    }

    std::int64_t Recv(TIdStackSocketHandle s, std::uint8_t* data, std::size_t size) override {
        const int n = Winsock().Function(Winsock().FRecv)(Sock(s), reinterpret_cast<char*>(data), ClampSize(size), 0);
        return n == SOCKET_ERROR ? -1 : n;
    }

    std::int64_t Send(TIdStackSocketHandle s, const std::uint8_t* data, std::size_t size) override {
        const int n =
            Winsock().Function(Winsock().FSend)(Sock(s), reinterpret_cast<const char*>(data), ClampSize(size), 0);
        return n == SOCKET_ERROR ? -1 : n;
    }

    void ShutdownSend(TIdStackSocketHandle s) override { Winsock().Function(Winsock().FShutdown)(Sock(s), SD_SEND); }

    void Close(TIdStackSocketHandle s) override { Winsock().Function(Winsock().FCloseSocket)(Sock(s)); }

    int SelectRead(TIdStackSocketHandle s, std::int32_t timeoutMs) override {
        fd_set read;
        FD_ZERO(&read);
        FD_SET(Sock(s), &read);
        timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        const int r = Winsock().Function(Winsock().FSelect)(0, &read, nullptr, nullptr, timeoutMs < 0 ? nullptr : &limit);
        if (r == SOCKET_ERROR) return -1;
        return r > 0 ? 1 : 0;
    }

    bool LookupFunctionsAvailable() override { return Winsock().LookupFunctionsAvailable(); }

    // GetAddrInfoW reports Windows Sockets numbers itself.
    int GetAddrInfo(const std::string& host, TIdIPVersion family, TIdSockAddr& first) override {
        ADDRINFOW hints{};
        hints.ai_family = Family(family);
        hints.ai_socktype = SOCK_STREAM;
        ADDRINFOW* list = nullptr;
        const int r = Winsock().Function(Winsock().FGetAddrInfoW)(Wide(host).c_str(), nullptr, &hints, &list);
        int result = r;
        if (r == 0 && (list == nullptr || !FromSockaddr(list->ai_addr, first))) result = WSAHOST_NOT_FOUND;
        if (list != nullptr) Winsock().Function(Winsock().FFreeAddrInfoW)(list);
        return result;
    }

    // The EAI_ names are Windows Sockets numbers here; the two the platform
    // does not have take values that no lookup returns.
    const TIdLookupCodes& LookupCodes() override {
        static const TIdLookupCodes codes{INT_MIN,     EAI_AGAIN,  EAI_BADFLAGS, EAI_FAIL,
                                          EAI_FAMILY,  EAI_MEMORY, EAI_NODATA,   EAI_NONAME,
                                          EAI_SERVICE, EAI_SOCKTYPE, INT_MIN + 1};
        return codes;
    }

    // The host in the system's 8-bit code page, as the old lookup takes it.
    int GetHostByName(const std::string& host, TIdSockAddr& first) override {
        const std::wstring wide = Wide(host);
        std::string ansi;
        const int needed = ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
        if (needed > 0) {
            ansi.resize(static_cast<std::size_t>(needed));
            ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi.data(), needed, nullptr, nullptr);
        }
        const hostent* entry = Winsock().Function(Winsock().FGetHostByName)(ansi.c_str());
        if (entry == nullptr) return -1;
        if (entry->h_addrtype != AF_INET || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
            SetLastSocketError(WSANO_DATA);
            return -1;
        }
        first = TIdSockAddr{};
        std::memcpy(first.Bytes.data(), entry->h_addr_list[0], 4);
        return 0;
    }

private:
    static void SetLastSocketError(int number) { Winsock().Function(Winsock().FWSASetLastError)(number); }

    template <typename F>
    static int AddressOf(F call, TIdStackSocketHandle s, TIdSockAddr& out) {
        sockaddr_storage ss;
        int len = sizeof ss;
        if (call(Sock(s), reinterpret_cast<sockaddr*>(&ss), &len) != 0) return -1;
        if (!FromSockaddr(reinterpret_cast<sockaddr*>(&ss), out)) {
            SetLastSocketError(WSAEAFNOSUPPORT);
            return -1;
        }
        return 0;
    }

    // 0 once connected, else the connect's error number.
    static int WaitForConnect(SOCKET s, HANDLE connected, HANDLE wake) {
        TWinsock& ws = Winsock();
        const HANDLE both[2] = {connected, wake};
        for (;;) {
            const DWORD which = ::WaitForMultipleObjects(2, both, FALSE, INFINITE);
            if (which == WAIT_OBJECT_0 + 1) return WSAEBADF;  // as a socket closed under the connect
            if (which != WAIT_OBJECT_0) return WSAEINVAL;
            WSANETWORKEVENTS happened{};
            if (ws.Function(ws.FWSAEnumNetworkEvents)(s, connected, &happened) != 0)
                return ws.Function(ws.FWSAGetLastError)();
            if ((happened.lNetworkEvents & FD_CONNECT) != 0) return happened.iErrorCode[FD_CONNECT_BIT];
        }
    }

    // Connect with the socket's connect event and the waker's event waited for
    // together: a wake ends the wait while the socket stays open, so the
    // caller releases it only after joining this thread.
    static int ConnectWakeable(SOCKET s, const sockaddr* peer, int len, TEventWaker& waker) {
        TWinsock& ws = Winsock();
        TUniqueEvent connected(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!connected.IsValid()) {
            SetLastSocketError(WSAENOBUFS);
            return -1;
        }
        if (ws.Function(ws.FWSAEventSelect)(s, connected.Get(), FD_CONNECT) != 0) return -1;
        int outcome = 0;
        int error = 0;
        if (ws.Function(ws.FConnect)(s, peer, len) != 0) {
            error = ws.Function(ws.FWSAGetLastError)();
            if (error == WSAEWOULDBLOCK) error = WaitForConnect(s, connected.Get(), waker.Event());
            outcome = error == 0 ? 0 : -1;
        }
        // Back to a blocking socket for the transport's reads and writes.
        ws.Function(ws.FWSAEventSelect)(s, nullptr, 0);
        u_long blocking = 0;
        ws.Function(ws.FIoctlSocket)(s, FIONBIO, &blocking);
        SetLastSocketError(error);
        return outcome;
    }
};

}  // namespace

TIdSocketPlatform& DefaultSocketPlatform() {
    static TWindowsSocketPlatform platform;
    return platform;
}

}  // namespace quorvel
