#include "http/socket_handle.h"

#include "http/exceptions.h"

namespace quorvel {

TIdSocketHandle::~TIdSocketHandle() { CloseSocket(); }

void TIdSocketHandle::AllocateSocket(int ASocketType, int AProtocol) {
    CloseSocket();
    FHandle.store(TIdStack::Instance().NewSocketHandle(ASocketType, AProtocol, IPVersion));
}

void TIdSocketHandle::SetBinding(const std::string& AIP, std::uint16_t APort, std::uint16_t APortMin,
                                 std::uint16_t APortMax) {
    IP = AIP;
    Port = APort;
    ClientPortMin = APortMin;
    ClientPortMax = APortMax;
}

void TIdSocketHandle::Bind() {
    TIdStack& stack = TIdStack::Instance();
    // A range is tried only for an unspecified port.
    if (Port == 0 && ClientPortMin != 0 && ClientPortMax != 0 && ClientPortMin <= ClientPortMax) {
        for (unsigned p = ClientPortMin; p <= ClientPortMax; ++p) {
            try {
                stack.Bind(Handle(), IP, IPVersion, static_cast<std::uint16_t>(p));
                Port = static_cast<std::uint16_t>(p);
                return;
            } catch (const Exception&) {
            }
        }
        throw EIdCouldNotBindSocket();
    }
    try {
        stack.Bind(Handle(), IP, IPVersion, Port);
    } catch (const Exception&) {
        throw EIdCouldNotBindSocket();
    }
}

void TIdSocketHandle::SetSockOpt(int ALevel, int AOptName, std::int32_t AOptVal) {
    TIdStack::Instance().SetSocketOption(Handle(), ALevel, AOptName, AOptVal);
}

void TIdSocketHandle::SetPeer(const std::string& AIP, std::uint16_t APort, TIdIPVersion AIPVersion) {
    PeerIP = AIP;
    PeerPort = APort;
    IPVersion = AIPVersion;
}

void TIdSocketHandle::CloseSocket() {
    if (!HandleAllocated()) return;
    TIdStackSocketHandle h;
    {
        std::lock_guard<std::mutex> lock(FConnectionHandle);
        h = FHandle.exchange(Id_INVALID_SOCKET);
    }
    if (h == Id_INVALID_SOCKET) return;
    // Closing alone ends a pending connect on no platform for sure (Windows
    // keeps waiting), and a socket released under it could be reused by the
    // next one: the connect is woken, and the socket released once it has
    // returned.
    {
        std::unique_lock<std::mutex> lock(FConnectLock);
        if (FConnecting && FConnectWaker != nullptr) {
            FConnectWaker->Wake();
            FConnectEnded.wait(lock, [this] { return !FConnecting; });
        }
    }
    TIdStack::Disconnect(h);
}

void TIdSocketHandle::Connect(TIdConnectWaker* AWaker) {
    {
        std::lock_guard<std::mutex> lock(FConnectLock);
        FConnecting = true;
        FConnectWaker = AWaker;
    }
    struct TEnded {
        TIdSocketHandle& Record;
        ~TEnded() {
            {
                std::lock_guard<std::mutex> lock(Record.FConnectLock);
                Record.FConnecting = false;
                Record.FConnectWaker = nullptr;
            }
            Record.FConnectEnded.notify_all();
        }
    } ended{*this};
    TIdStack::Instance().Connect(Handle(), PeerIP, IPVersion, PeerPort, AWaker);
}

void TIdSocketHandle::UpdateBindings() {
    std::lock_guard<std::mutex> lock(FConnectionHandle);
    if (!HandleAllocated()) return;
    TIdStack::Instance().GetSocketName(Handle(), IP, Port);
    TIdStack::Instance().GetPeerName(Handle(), PeerIP, PeerPort);
}

void TIdSocketHandle::Reset() {
    CloseSocket();
    IP.clear();
    Port = 0;
    PeerIP.clear();
    PeerPort = 0;
    IPVersion = TIdIPVersion::Id_IPv4;
}

}  // namespace quorvel
