// The TCP transport: connect within a time limit, buffered reads of lines,
// counts and streams, buffered writes, orderly close.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "http/buffer.h"
#include "http/component.h"
#include "http/socket_handle.h"
#include "http/stream.h"
#include "http/text_encoding.h"

namespace quorvel {

enum class TIdMaxLineAction { maException, maSplit };
enum class TIdReuseSocket { rsOSDependent, rsTrue, rsFalse };

using TIdDeadline = std::optional<std::chrono::steady_clock::time_point>;

class TIdIOHandlerStack : public TIdComponent {
public:
    TIdIOHandlerStack();
    ~TIdIOHandlerStack() override;
    TIdIOHandlerStack(const TIdIOHandlerStack&) = delete;
    TIdIOHandlerStack& operator=(const TIdIOHandlerStack&) = delete;

    // Settings, copied from the client at each Connect.
    std::string Host;
    std::uint16_t Port = 0;
    std::int32_t ConnectTimeout = 0;
    std::int32_t ReadTimeout = -1;
    TIdIPVersion IPVersion = TIdIPVersion::Id_IPv4;
    std::string BoundIP;
    std::uint16_t BoundPort = 0, BoundPortMin = 0, BoundPortMax = 0;
    TIdReuseSocket ReuseSocket = TIdReuseSocket::rsOSDependent;
    std::int32_t RecvBufferSize = 32768;
    std::int32_t MaxLineLength = 16384;
    TIdMaxLineAction MaxLineAction = TIdMaxLineAction::maException;
    bool UseNagle = true;
    // When set, no wait (connect or read) outlasts this point: a read wait
    // that reaches it expires as a time-out, a connect as a connect time-out.
    TIdDeadline Deadline;

    bool Opened() const { return FOpened; }
    bool ClosedGracefully() const { return FClosedGracefully; }
    bool ReadLnSplit() const { return FReadLnSplit; }
    bool ReadLnTimedout() const { return FReadLnTimedout; }
    TIdBuffer& InputBuffer() { return FInputBuffer; }
    bool InputBufferIsEmpty() const { return FInputBuffer.Size() == 0; }
    TIdSocketHandle* Binding() { return FBinding.get(); }
    bool HasSocket() const;
    // The client has given this connection up: what it left buffered stays
    // readable, but is no sign of a connection any more. Open ends that.
    void Abandon() { FAbandoned = true; }

    void Open();
    void Close();
    bool Connected();
    void CheckForDisconnect(bool ARaiseExceptionIfDisconnected = true, bool AIgnoreBuffer = false);
    bool CheckForDataOnSource(std::int32_t ATimeout = 0);
    // One wait and one receive; returns the bytes added, 0, or -1 for an
    // expired wait.
    int FillInputBuffer(bool ARaiseExceptionIfDisconnected, std::int32_t ATimeout,
                        bool ARaiseExceptionOnTimeout);
    bool Readable(std::int32_t AMSec);

    std::string ReadLn(const std::string& ATerminator = "", std::int32_t ATimeout = -1,
                       std::int32_t AMaxLineLength = -1);
    void ReadBytes(Bytes& VBuffer, std::int32_t AByteCount, bool AAppend = true);
    // A negative count reads until the peer's close, as AReadUntilDisconnect.
    void ReadStream(TStream& AStream, std::int64_t AByteCount = -1, bool AReadUntilDisconnect = false);
    void Discard(std::int64_t AByteCount);
    void DiscardAll();

    void Write(const Bytes& ABuffer, std::int32_t ALength = -1, std::int32_t AOffset = 0);
    void Write(const std::string& AOut);
    void WriteLn(const std::string& AOut = "");
    void WriteBufferOpen(std::int32_t AThreshold = -1);
    void WriteBufferClose();
    void WriteBufferCancel();
    void WriteBufferClear();
    void WriteBufferFlush(std::int32_t AByteCount = -1);
    bool WriteBufferingActive() const { return FWriteBuffer != nullptr; }

private:
    void ConnectSocket();
    void ConnectWithTimeout(std::int32_t ATimeout);
    void SendDirect(const std::uint8_t* data, std::size_t size);
    // A wait of ms (negative: no limit) cut to the time left until Deadline.
    std::int32_t CutToDeadline(std::int32_t ms) const;

    bool FOpened = false;
    bool FClosedGracefully = false;
    bool FReadLnSplit = false;
    bool FReadLnTimedout = false;
    bool FAbandoned = false;
    TIdBuffer FInputBuffer;
    std::unique_ptr<TIdBuffer> FWriteBuffer;
    std::int32_t FWriteBufferThreshold = -1;
    std::unique_ptr<TIdSocketHandle> FBinding;
    Bytes FRecvChunk;
};

}  // namespace quorvel
