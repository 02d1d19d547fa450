#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "http/exceptions.h"
#include "net_helpers.h"

namespace quorvel::test {
namespace {

// Sends the pieces (pausing between them so they arrive apart), closes its
// side, then waits for the client's close.
TScriptedServer::Script SendThenClose(std::vector<std::string> pieces, std::atomic<bool>* sent = nullptr) {
    return [pieces = std::move(pieces), sent](TScriptedConnection& c) {
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            if (i > 0) std::this_thread::sleep_for(Ms(100));
            c.Send(pieces[i]);
        }
        c.ShutdownSend();
        if (sent != nullptr) *sent = true;
        c.ReadUntilClose(Ms(5000));
    };
}

TScriptedServer::Script SilentFor(Ms hold) {
    return [hold](TScriptedConnection& c) { c.ReadUntilClose(hold); };
}

struct TConnection {
    explicit TConnection(TScriptedServer::Script script) : Server(std::move(script)), Client(ClientFor(Server.Port())) {
        Client->Connect();
    }
    TIdIOHandlerStack& Io() { return *Client->IOHandler(); }
    TScriptedServer Server;
    std::unique_ptr<TIdTCPClientCustom> Client;
};

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

TEST(ReadLn, EndsAtLfDroppingOneCrBeforeIt) {
    TConnection c(SendThenClose({"HTTP/1.1 200 OK\r\nabc\nabc\r\r\nx\ry\n"}));
    EXPECT_EQ(c.Io().ReadLn(), "HTTP/1.1 200 OK");
    EXPECT_EQ(c.Io().ReadLn(), "abc");
    EXPECT_EQ(c.Io().ReadLn(), "abc\r");
    EXPECT_EQ(c.Io().ReadLn(), "x\ry");
    EXPECT_THROW(c.Io().ReadLn(), EIdConnClosedGracefully);
}

TEST(ReadLn, FindsATerminatorSplitAcrossReceives) {
    TConnection c(SendThenClose({"ab\r", "\ncd\r\n"}));
    EXPECT_EQ(c.Io().ReadLn("\r\n"), "ab");
    EXPECT_EQ(c.Io().ReadLn("\r\n"), "cd");
}

TEST(ReadLn, PeerCloseBeforeTheTerminatorKeepsThePartialLine) {
    TConnection c(SendThenClose({"twelve bytes"}));
    try {
        c.Io().ReadLn();
        FAIL() << "no error raised";
    } catch (const EIdConnClosedGracefully& e) {
        EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
    }
    EXPECT_EQ(Text(c.Io().InputBuffer().Peek(100)), "twelve bytes");
}

TEST(ReadLnLimit, AcceptsMaxLineLengthBytesBeforeTheTerminatorAndNoMore) {
    const std::string atLimit = std::string(16383, 'a') + "\r\n";
    const std::string overLimit = std::string(16385, 'b') + "\n";
    // The CR of the CR LF arrives first, so the line waits at the limit.
    TConnection c(SendThenClose({atLimit, std::string(16384, 'c') + "\r", "\n", overLimit}));
    EXPECT_EQ(c.Io().ReadLn(), std::string(16383, 'a'));
    // A longer terminator may begin only at the limit: the line is still fine.
    EXPECT_EQ(c.Io().ReadLn("\r\n"), std::string(16384, 'c'));
    try {
        c.Io().ReadLn();
        FAIL() << "accepted a line over the limit";
    } catch (const EIdReadLnMaxLineLengthExceeded& e) {
        EXPECT_EQ(e.Message(), "Max line length exceeded.");
    }
    EXPECT_GE(c.Io().InputBuffer().Size(), 16385u);
}

TEST(ReadLnLimit, SplitReturnsTheFirstMaxLineLengthBytes) {
    TConnection c(SendThenClose({std::string(16390, 'a') + "\n"}));
    c.Io().MaxLineAction = TIdMaxLineAction::maSplit;
    EXPECT_EQ(c.Io().ReadLn(), std::string(16384, 'a'));
    EXPECT_TRUE(c.Io().ReadLnSplit());
    EXPECT_EQ(c.Io().ReadLn(), "aaaaaa");
    EXPECT_FALSE(c.Io().ReadLnSplit());
}

TEST(ReadLnLimit, EndlessLineFailsWithoutGrowingTheBuffer) {
    TConnection c([](TScriptedConnection& s) {
        const std::string chunk(65536, 'x');
        for (int i = 0; i < 64 && !s.Stopping(); ++i)
            if (!s.Send(chunk)) return;
        s.ShutdownSend();
        s.ReadUntilClose(Ms(5000));
    });
    EXPECT_THROW(c.Io().ReadLn(), EIdReadLnMaxLineLengthExceeded);
    EXPECT_LT(c.Io().InputBuffer().Size(), 16385u + 32768u);
}

TEST(ReadStream, ShortCountWritesWhatArrivedCutsTheSizeAndRaises) {
    TConnection c(SendThenClose({"four"}));
    TMemoryStream stream;
    EXPECT_THROW(c.Io().ReadStream(stream, 10), EIdConnClosedGracefully);
    EXPECT_EQ(Text(stream.Bytes()), "four");
    EXPECT_EQ(stream.Size(), 4);
}

TEST(ReadStream, HugeCountIsNeverAllocatedInAdvance) {
    TConnection c(SendThenClose({"0123456789"}));
    TMemoryStream stream;
    EXPECT_THROW(c.Io().ReadStream(stream, std::int64_t{1} << 50), EIdConnClosedGracefully);
    EXPECT_EQ(stream.Size(), 10);
    EXPECT_LT(stream.Bytes().capacity(), 1u << 20);
}

TEST(ReadStream, UntilCloseTakesBufferedAndLaterBytesWithoutError) {
    std::string body;
    for (int i = 0; i < 100000; ++i) body += static_cast<char>('a' + i % 26);
    TConnection c(SendThenClose({"head\n" + body.substr(0, 10), body.substr(10)}));
    EXPECT_EQ(c.Io().ReadLn(), "head");
    TMemoryStream stream;
    c.Io().ReadStream(stream, -1, true);
    EXPECT_EQ(Text(stream.Bytes()), body);
}

TEST(ReadStream, ExactCountLeavesTheRestAndOverflowIsRefused) {
    TConnection c(SendThenClose({"abcdefgh"}));
    TMemoryStream stream;
    c.Io().ReadStream(stream, 3);
    EXPECT_EQ(Text(stream.Bytes()), "abc");
    c.Io().Discard(2);
    Bytes rest;
    c.Io().ReadBytes(rest, 3);
    EXPECT_EQ(Text(rest), "fgh");
    TNullStream far;
    far.SetSize(INT64_MAX - 5);
    far.SetPosition(INT64_MAX - 5);
    try {
        c.Io().ReadStream(far, 10);
        FAIL() << "no error raised";
    } catch (const EIdIOHandlerStreamDataTooLarge& e) {
        EXPECT_EQ(e.Message(), "Data is too large for stream");
    }
    EXPECT_EQ(far.Size(), INT64_MAX - 5);
}

TEST(ReadState, ConnectedWhileUnreadBytesRemainAfterThePeersClose) {
    std::atomic<bool> sent{false};
    TConnection c(SendThenClose({"12345"}, &sent));
    for (int i = 0; i < 500 && !sent; ++i) std::this_thread::sleep_for(Ms(10));
    std::this_thread::sleep_for(Ms(100));
    EXPECT_TRUE(c.Io().Connected());
    EXPECT_TRUE(c.Client->Connected());
    Bytes five;
    c.Io().ReadBytes(five, 5);
    EXPECT_EQ(Text(five), "12345");
    EXPECT_FALSE(c.Io().Connected());
    EXPECT_FALSE(c.Io().CheckForDataOnSource(100));
    EXPECT_THROW(c.Client->CheckForGracefulDisconnect(), EIdConnClosedGracefully);
}

TEST(ReadTimeouts, ReadTimeoutExpiresReadsButLeavesTheConnection) {
    TConnection c(SilentFor(Ms(5000)));
    c.Io().ReadTimeout = 200;
    try {
        Bytes b;
        c.Io().ReadBytes(b, 1);
        FAIL() << "no time-out";
    } catch (const EIdReadTimeout& e) {
        EXPECT_EQ(e.Message(), "Read timed out.");
    }
    EXPECT_EQ(c.Io().ReadLn(), "");
    EXPECT_TRUE(c.Io().ReadLnTimedout());
    EXPECT_TRUE(c.Io().HasSocket());
}

TEST(ReadTimeouts, DeadlineCutsEveryReadWait) {
    TConnection c(SilentFor(Ms(4000)));
    c.Client->SetDeadline(SteadyClock::now() + Ms(300));
    const auto start = SteadyClock::now();
    EXPECT_EQ(c.Io().ReadLn(), "");
    EXPECT_TRUE(c.Io().ReadLnTimedout());
    EXPECT_THROW(c.Io().Discard(std::int64_t{1} << 50), EIdReadTimeout);
    Bytes b;
    EXPECT_THROW(c.Io().ReadBytes(b, 1), EIdReadTimeout);
    EXPECT_LT(MsSince(start), 2500);
}

TEST(ReadTimeouts, PassedDeadlineEndsWaitsEvenWithBytesWaiting) {
    // A peer that never stops sending keeps the socket readable: only the
    // deadline itself can end the exchange.
    std::atomic<bool> sent{false};
    TConnection c(SendThenClose({"bytes already on their way"}, &sent));
    const auto until = SteadyClock::now() + Ms(5000);
    while (!sent && SteadyClock::now() < until) std::this_thread::sleep_for(Ms(5));
    ASSERT_TRUE(c.Io().Readable(2000));
    c.Client->SetDeadline(SteadyClock::now() - Ms(1));
    EXPECT_EQ(c.Io().FillInputBuffer(false, 1000, false), -1);
    EXPECT_TRUE(c.Io().InputBufferIsEmpty());
    TNullStream sink;
    EXPECT_THROW(c.Io().ReadStream(sink, -1, true), EIdReadTimeout);
    EXPECT_EQ(sink.BytesWritten(), 0u);
}

}  // namespace
}  // namespace quorvel::test
