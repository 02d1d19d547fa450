#include "http/io_handler_stack.h"

#include <algorithm>
#include <climits>
#include <thread>

#include "http/connect_thread.h"
#include "http/exceptions.h"

namespace quorvel {

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

constexpr std::int32_t kConnectStep = 125;

std::int32_t MillisecondsUntil(Clock::time_point point) {
    const auto left = std::chrono::ceil<Milliseconds>(point - Clock::now()).count();
    return static_cast<std::int32_t>(std::clamp<long long>(left, 0, INT32_MAX));
}

}  // namespace

TIdIOHandlerStack::TIdIOHandlerStack() = default;

TIdIOHandlerStack::~TIdIOHandlerStack() { Close(); }

bool TIdIOHandlerStack::HasSocket() const { return FBinding && FBinding->HandleAllocated(); }

std::int32_t TIdIOHandlerStack::CutToDeadline(std::int32_t ms) const {
    if (!Deadline) return ms;
    const std::int32_t left = MillisecondsUntil(*Deadline);
    return ms < 0 ? left : std::min(ms, left);
}

void TIdIOHandlerStack::Open() {
    FOpened = false;
    FClosedGracefully = false;
    if (FWriteBuffer) FWriteBuffer->Clear();
    FInputBuffer.Clear();
    FAbandoned = false;
    FOpened = true;
    if (!FBinding) {
        FBinding = std::make_unique<TIdSocketHandle>();
    } else {
        FBinding->Reset();
    }
    if (!Host.empty() && Port > 0) ConnectSocket();
}

void TIdIOHandlerStack::ConnectSocket() {
    FBinding->IPVersion = IPVersion;
    FBinding->AllocateSocket();
    FBinding->SetBinding(BoundIP, BoundPort, BoundPortMin, BoundPortMax);
    if (ReuseSocket == TIdReuseSocket::rsTrue) FBinding->SetSockOpt(Id_SOL_SOCKET, Id_SO_REUSEADDR, 1);
    FBinding->Bind();
    FBinding->SetSockOpt(Id_IPPROTO_TCP, Id_TCP_NODELAY, UseNagle ? 0 : 1);

    // Resolved on this thread before any connect attempt; no limit applies.
    std::string address;
    if (IPVersion == TIdIPVersion::Id_IPv4) {
        address = TIdStack::IsIP(Host) ? Host : TIdStack::Instance().ResolveHost(Host, IPVersion);
    } else {
        address = MakeCanonicalIPv6Address(Host);
        if (address.empty()) address = TIdStack::Instance().ResolveHost(Host, IPVersion);
    }
    FBinding->SetPeer(address, Port, IPVersion);

    std::int32_t limit = ConnectTimeout < 0 ? -1 : ConnectTimeout;
    if (Deadline) {
        const std::int32_t left = MillisecondsUntil(*Deadline);
        if (left <= 0) throw EIdConnectTimeout();
        limit = limit <= 0 ? left : std::min(limit, left);
    }
    if (limit != 0) {
        ConnectWithTimeout(limit);
        return;
    }
    FBinding->Connect();
    FBinding->UpdateBindings();
}

void TIdIOHandlerStack::ConnectWithTimeout(std::int32_t ATimeout) {
    const bool unlimited = ATimeout < 0;
    TIdConnectThread worker(*FBinding);
    // Sleeping to points on a schedule keeps the looks at 0, 125, ... ms
    // after the start however late each sleep wakes.
    const Clock::time_point start = Clock::now();
    std::int64_t scheduled = 0;
    std::int32_t remaining = unlimited ? kConnectStep + 1 : ATimeout;
    while (kConnectStep < remaining) {
        if (worker.Finished()) {
            remaining = 0;
            break;
        }
        scheduled += kConnectStep;
        std::this_thread::sleep_until(start + Milliseconds(scheduled));
        if (!unlimited) remaining -= kConnectStep;
    }
    scheduled += remaining;
    std::this_thread::sleep_until(start + Milliseconds(scheduled));

    if (worker.Finished()) {
        if (!worker.Failed()) return;
        if (worker.LastSocketError() != 0) {
            if (worker.LastSocketError() == Id_WSAENOTSOCK)
                throw EIdNotASocket(worker.LastSocketError(), worker.ExceptionMessage());
            throw EIdSocketError(worker.LastSocketError(), worker.ExceptionMessage());
        }
        throw EIdConnectException(worker.ExceptionMessage());
    }
    // Wake the pending connect and join before the socket is closed, so the
    // descriptor cannot be reused while the worker still uses it.
    worker.Terminate();
    worker.WaitFor();
    Close();
    throw EIdConnectTimeout();
}

void TIdIOHandlerStack::Close() {
    if (FBinding) FBinding->CloseSocket();
    FOpened = false;
    if (FWriteBuffer) FWriteBuffer->Clear();
}

void TIdIOHandlerStack::CheckForDisconnect(bool ARaiseExceptionIfDisconnected, bool AIgnoreBuffer) {
    bool disconnected;
    if (FClosedGracefully) {
        if (HasSocket()) Close();
        disconnected = true;
    } else {
        disconnected = !HasSocket();
    }
    if (disconnected && (AIgnoreBuffer || FInputBuffer.Empty()) && ARaiseExceptionIfDisconnected)
        throw EIdConnClosedGracefully();
}

bool TIdIOHandlerStack::Connected() {
    FillInputBuffer(false, 0, false);
    return (!FInputBuffer.Empty() && !FAbandoned) || (HasSocket() && FOpened && !FClosedGracefully);
}

bool TIdIOHandlerStack::Readable(std::int32_t AMSec) {
    if (!HasSocket()) return false;
    // A passed deadline ends the wait even with bytes waiting, or a peer that
    // never stops sending would never run out of time.
    if (Deadline && Clock::now() >= *Deadline) return false;
    return TIdStack::Instance().SelectRead(FBinding->Handle(), CutToDeadline(AMSec < 0 ? -1 : AMSec));
}

int TIdIOHandlerStack::FillInputBuffer(bool ARaiseExceptionIfDisconnected, std::int32_t ATimeout,
                                       bool ARaiseExceptionOnTimeout) {
    if (ATimeout < 0) ATimeout = ReadTimeout > 0 ? ReadTimeout : -1;
    CheckForDisconnect(ARaiseExceptionIfDisconnected, false);
    if (!HasSocket()) {
        if (ARaiseExceptionIfDisconnected) throw EIdException("Not Connected");
        return 0;
    }
    FRecvChunk.resize(static_cast<std::size_t>(std::max<std::int32_t>(RecvBufferSize, 1)));
    std::size_t n;
    do {
        if (!Readable(ATimeout)) {
            if (ARaiseExceptionOnTimeout) throw EIdReadTimeout();
            return -1;
        }
        n = TIdStack::Instance().Receive(FBinding->Handle(), FRecvChunk.data(), FRecvChunk.size());
        FInputBuffer.Write(FRecvChunk.data(), n);
        if (n == 0) FClosedGracefully = true;
        CheckForDisconnect(ARaiseExceptionIfDisconnected, false);
    } while (n == 0 && HasSocket());
    return static_cast<int>(n);
}

bool TIdIOHandlerStack::CheckForDataOnSource(std::int32_t ATimeout) {
    return Connected() && FillInputBuffer(false, ATimeout, false) > 0;
}

std::string TIdIOHandlerStack::ReadLn(const std::string& ATerminator, std::int32_t ATimeout,
                                      std::int32_t AMaxLineLength) {
    if (AMaxLineLength < 0) AMaxLineLength = MaxLineLength;
    const std::string terminator = ATerminator.empty() ? std::string("\n") : ATerminator;
    const Bytes term = ToUsAscii(terminator);
    const std::int64_t termLength = static_cast<std::int64_t>(term.size());
    FReadLnSplit = false;
    FReadLnTimedout = false;
    std::int64_t pos = -1;
    std::size_t start = 0;
    const Clock::time_point started = Clock::now();
    do {
        const std::size_t size = FInputBuffer.Size();
        if (size > 0) {
            pos = start < size ? FInputBuffer.IndexOf(term, start) : -1;
            // The next search begins where a partly received terminator may.
            start = static_cast<std::size_t>(std::max<std::int64_t>(static_cast<std::int64_t>(size) - (termLength - 1), 0));
        }
        if (AMaxLineLength > 0) {
            // Without a terminator, once no terminator can begin within the
            // limit any more, the line is already too long: waiting for one
            // would only let the buffer grow.
            const bool tooLong =
                pos > AMaxLineLength ||
                (pos < 0 && static_cast<std::int64_t>(size) > AMaxLineLength + termLength - 1);
            if (tooLong) {
                if (MaxLineAction == TIdMaxLineAction::maException) throw EIdReadLnMaxLineLengthExceeded();
                FReadLnSplit = true;
                const Bytes line = FInputBuffer.Extract(static_cast<std::size_t>(AMaxLineLength));
                return FromUsAscii(line);
            }
        }
        if (pos < 0) {
            CheckForDisconnect(true, true);
            FReadLnTimedout = FillInputBuffer(true, ATimeout, false) == -1;
            if (!FReadLnTimedout && ATimeout >= 0 && Clock::now() - started >= Milliseconds(ATimeout))
                FReadLnTimedout = true;
            if (FReadLnTimedout) return {};
        }
    } while (pos < 0);
    const Bytes line = FInputBuffer.Extract(static_cast<std::size_t>(pos + termLength));
    std::size_t length = static_cast<std::size_t>(pos);
    if (terminator == "\n" && length > 0 && line[length - 1] == 13) --length;
    return FromUsAscii(line.data(), length);
}

void TIdIOHandlerStack::ReadBytes(Bytes& VBuffer, std::int32_t AByteCount, bool AAppend) {
    if (AByteCount > 0) {
        const auto count = static_cast<std::size_t>(AByteCount);
        while (FInputBuffer.Size() < count) {
            const int added = FillInputBuffer(false, -1, true);
            if (added > 0 && FInputBuffer.Size() >= count) break;
            CheckForDisconnect(true, true);
        }
        if (!AAppend) VBuffer.clear();
        FInputBuffer.ExtractAppend(VBuffer, count);
    } else if (AByteCount < 0) {
        // -1 lets a ReadTimeout of 0 mean "no limit", as it does everywhere.
        FillInputBuffer(false, -1, false);
        CheckForDisconnect(true, true);
        if (!AAppend) VBuffer.clear();
        FInputBuffer.ExtractAppend(VBuffer, FInputBuffer.Size());
    }
}

void TIdIOHandlerStack::ReadStream(TStream& AStream, std::int64_t AByteCount, bool AReadUntilDisconnect) {
    const bool untilClose = AReadUntilDisconnect || AByteCount < 0;
    if (!untilClose) {
        if (AByteCount > INT64_MAX - AStream.Position()) throw EIdIOHandlerStreamDataTooLarge();
        AStream.SetSize(AStream.Position() + AByteCount);
    }
    const auto cutToPosition = [&AStream] {
        if (AStream.Size() > AStream.Position()) AStream.SetSize(AStream.Position());
    };
    const std::int64_t recvSize = std::max<std::int32_t>(RecvBufferSize, 1);
    std::int64_t left = AByteCount;
    try {
        const auto buffered = static_cast<std::int64_t>(FInputBuffer.Size());
        const std::int64_t first = untilClose ? buffered : std::min(left, buffered);
        FInputBuffer.ExtractToStream(AStream, static_cast<std::size_t>(first));
        left -= first;
        for (;;) {
            const std::int64_t chunk = untilClose ? recvSize : std::min(left, recvSize);
            if (chunk <= 0) break;
            Bytes data;
            try {
                ReadBytes(data, static_cast<std::int32_t>(chunk), false);
            } catch (const EIdConnClosedGracefully&) {
                FInputBuffer.ExtractToStream(AStream, static_cast<std::size_t>(chunk));
                if (untilClose) break;
                throw;
            } catch (...) {
                FInputBuffer.ExtractToStream(AStream, static_cast<std::size_t>(chunk));
                throw;
            }
            AStream.Write(data.data(), data.size());
            left -= chunk;
        }
    } catch (...) {
        cutToPosition();
        throw;
    }
    cutToPosition();
}

void TIdIOHandlerStack::Discard(std::int64_t AByteCount) {
    TNullStream sink;
    ReadStream(sink, AByteCount, false);
}

void TIdIOHandlerStack::DiscardAll() {
    TNullStream sink;
    ReadStream(sink, -1, true);
}

void TIdIOHandlerStack::Write(const Bytes& ABuffer, std::int32_t ALength, std::int32_t AOffset) {
    if (AOffset < 0 || static_cast<std::size_t>(AOffset) >= ABuffer.size()) return;
    const std::size_t available = ABuffer.size() - static_cast<std::size_t>(AOffset);
    std::size_t length = available;
    if (ALength != -1) {
        if (ALength <= 0) return;
        length = std::min(available, static_cast<std::size_t>(ALength));
    }
    const std::uint8_t* data = ABuffer.data() + AOffset;
    if (!FWriteBuffer) {
        SendDirect(data, length);
        return;
    }
    FWriteBuffer->Write(data, length);
    if (FWriteBufferThreshold > 0) {
        while (FWriteBuffer && FWriteBuffer->Size() >= static_cast<std::size_t>(FWriteBufferThreshold))
            WriteBufferFlush(FWriteBufferThreshold);
    }
}

void TIdIOHandlerStack::Write(const std::string& AOut) {
    if (AOut.empty()) return;
    Write(ToUsAscii(AOut));
}

void TIdIOHandlerStack::WriteLn(const std::string& AOut) { Write(AOut + "\r\n"); }

void TIdIOHandlerStack::SendDirect(const std::uint8_t* data, std::size_t size) {
    CheckForDisconnect(true, true);
    std::size_t done = 0;
    while (done < size) {
        // A close noticed below with unread input does not raise; sending
        // on the closed record must not be tried either.
        if (!HasSocket()) throw EIdConnClosedGracefully();
        const std::size_t n = TIdStack::Instance().Send(FBinding->Handle(), data + done, size - done);
        if (n == 0) FClosedGracefully = true;
        CheckForDisconnect(true, false);
        done += n;
    }
}

void TIdIOHandlerStack::WriteBufferOpen(std::int32_t AThreshold) {
    if (FWriteBuffer) {
        FWriteBuffer->Clear();
    } else {
        FWriteBuffer = std::make_unique<TIdBuffer>();
    }
    FWriteBufferThreshold = AThreshold;
}

void TIdIOHandlerStack::WriteBufferFlush(std::int32_t AByteCount) {
    if (!FWriteBuffer || FWriteBuffer->Empty()) return;
    const std::size_t count = AByteCount < 0 ? FWriteBuffer->Size()
                                             : std::min(FWriteBuffer->Size(), static_cast<std::size_t>(AByteCount));
    const Bytes piece = FWriteBuffer->Extract(count);
    SendDirect(piece.data(), piece.size());
}

void TIdIOHandlerStack::WriteBufferClose() {
    try {
        WriteBufferFlush(-1);
    } catch (...) {
        FWriteBuffer.reset();
        throw;
    }
    FWriteBuffer.reset();
}

void TIdIOHandlerStack::WriteBufferClear() {
    if (FWriteBuffer) FWriteBuffer->Clear();
}

void TIdIOHandlerStack::WriteBufferCancel() {
    WriteBufferClear();
    WriteBufferClose();
}

}  // namespace quorvel
