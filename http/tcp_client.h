// The client side of a TCP connection: settings, connect, disconnect.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "http/component.h"
#include "http/io_handler_stack.h"

namespace quorvel {

class TIdTCPClientCustom : public TIdComponent {
public:
    TIdTCPClientCustom();
    ~TIdTCPClientCustom() override;
    TIdTCPClientCustom(const TIdTCPClientCustom&) = delete;
    TIdTCPClientCustom& operator=(const TIdTCPClientCustom&) = delete;

    std::string Host;
    std::uint16_t Port = 0;
    std::int32_t ConnectTimeout = 0;
    std::int32_t ReadTimeout = -1;
    TIdIPVersion IPVersion = TIdIPVersion::Id_IPv4;
    std::string BoundIP;
    std::uint16_t BoundPort = 0, BoundPortMin = 0, BoundPortMax = 0;
    TIdReuseSocket ReuseSocket = TIdReuseSocket::rsOSDependent;
    // Copied into the transport at each Connect (see TIdIOHandlerStack);
    // SetDeadline also updates an existing transport.
    TIdDeadline Deadline;
    void SetDeadline(TIdDeadline ADeadline);

    // The transport; created by the first Connect and owned by the client.
    TIdIOHandlerStack* IOHandler() { return FIOHandler.get(); }

    virtual void Connect();
    virtual bool Connected();
    virtual void Disconnect(bool ANotifyPeer = true);
    void CheckForGracefulDisconnect(bool ARaiseExceptionIfDisconnected = true);

protected:
    virtual void DoOnDisconnected() {}
    virtual void DoOnConnected() {}
    virtual void DisconnectNotifyPeer() {}

private:
    std::unique_ptr<TIdIOHandlerStack> FIOHandler;
};

}  // namespace quorvel
