#include "http/tcp_client.h"

#include <exception>

#include "http/exceptions.h"

namespace quorvel {

TIdTCPClientCustom::TIdTCPClientCustom() = default;

TIdTCPClientCustom::~TIdTCPClientCustom() {
    if (FIOHandler) FIOHandler->Close();
}

void TIdTCPClientCustom::SetDeadline(TIdDeadline ADeadline) {
    Deadline = ADeadline;
    if (FIOHandler) FIOHandler->Deadline = ADeadline;
}

void TIdTCPClientCustom::Connect() {
    if (Connected()) throw EIdAlreadyConnected();
    if (Host.empty()) throw EIdHostRequired();
    if (Port == 0) throw EIdPortRequired();
    if (!FIOHandler) FIOHandler = std::make_unique<TIdIOHandlerStack>();
    try {
        TIdIOHandlerStack& io = *FIOHandler;
        io.Port = Port;
        io.Host = Host;
        io.ConnectTimeout = ConnectTimeout;
        io.ReadTimeout = ReadTimeout;
        io.BoundIP = BoundIP;
        io.BoundPort = BoundPort;
        io.BoundPortMin = BoundPortMin;
        io.BoundPortMax = BoundPortMax;
        io.IPVersion = IPVersion;
        io.ReuseSocket = ReuseSocket;
        io.Deadline = Deadline;
        io.Open();
        DoOnConnected();
    } catch (...) {
        FIOHandler->Close();
        FIOHandler.reset();
        throw;
    }
}

bool TIdTCPClientCustom::Connected() { return FIOHandler ? FIOHandler->Connected() : false; }

void TIdTCPClientCustom::Disconnect(bool ANotifyPeer) {
    // The close happens even when the poll fails; its error follows after.
    std::exception_ptr pollError;
    if (ANotifyPeer) {
        try {
            if (Connected()) DisconnectNotifyPeer();
        } catch (...) {
            pollError = std::current_exception();
        }
    }
    if (FIOHandler && FIOHandler->Opened()) {
        FIOHandler->Close();
        DoOnDisconnected();
    }
    // Unread bytes of this connection must not make a next request skip
    // its connect and send on a closed socket.
    if (FIOHandler) FIOHandler->Abandon();
    if (pollError) std::rethrow_exception(pollError);
}

void TIdTCPClientCustom::CheckForGracefulDisconnect(bool ARaiseExceptionIfDisconnected) {
    if (FIOHandler) {
        FIOHandler->CheckForDisconnect(ARaiseExceptionIfDisconnected, false);
    } else if (ARaiseExceptionIfDisconnected) {
        throw EIdException("Not Connected");
    }
}

}  // namespace quorvel
