// The socket record: one socket, its local and peer addresses, and the lock
// that serialises closing it against the connect worker's address update.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "http/ip_version.h"
#include "http/stack.h"

namespace quorvel {

class TIdSocketHandle {
public:
    TIdSocketHandle() = default;
    // The record owns its socket: destroying it closes the socket.
    virtual ~TIdSocketHandle();
    TIdSocketHandle(const TIdSocketHandle&) = delete;
    TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

    TIdStackSocketHandle Handle() const { return FHandle.load(); }
    bool HandleAllocated() const { return Handle() != Id_INVALID_SOCKET; }

    TIdIPVersion IPVersion = TIdIPVersion::Id_IPv4;
    std::string PeerIP;
    std::uint16_t PeerPort = 0;
    std::string IP;  // local address
    std::uint16_t Port = 0;
    std::uint16_t ClientPortMin = 0, ClientPortMax = 0;

    // Closes a socket still held, then takes a new stream socket of IPVersion.
    void AllocateSocket(int ASocketType = Id_SOCK_STREAM, int AProtocol = Id_IPPROTO_IP);
    void SetBinding(const std::string& AIP, std::uint16_t APort, std::uint16_t APortMin = 0,
                    std::uint16_t APortMax = 0);
    // Raises EIdCouldNotBindSocket on any failure.
    void Bind();
    void SetSockOpt(int ALevel, int AOptName, std::int32_t AOptVal);
    void SetPeer(const std::string& AIP, std::uint16_t APort, TIdIPVersion AIPVersion);
    // Also ends a connect pending on another thread with a waker, before the
    // socket is released.
    virtual void CloseSocket();
    // Blocking connect to PeerIP:PeerPort; a waker lets another thread end it.
    virtual void Connect() { Connect(nullptr); }
    void Connect(TIdConnectWaker* AWaker);
    // Reads the local and peer addresses after a connect, under the lock a
    // close takes: a close on another thread comes before or after, and
    // after it nothing is read.
    void UpdateBindings();
    // No socket, addresses cleared, IPv4.
    void Reset();

private:
    std::atomic<TIdStackSocketHandle> FHandle{Id_INVALID_SOCKET};
    // Held while the socket is closed and while the addresses are read.
    std::mutex FConnectionHandle;
    // The connect in progress and its waker, so that a close can end it.
    std::mutex FConnectLock;
    std::condition_variable FConnectEnded;
    bool FConnecting = false;
    TIdConnectWaker* FConnectWaker = nullptr;
};

}  // namespace quorvel
