#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <functional>
#include <mutex>
#include <thread>

#include "http/exceptions.h"
#include "net_helpers.h"

namespace quorvel::test {
namespace {

// What one connection received, and how its stream ended.
struct TSeen {
    std::mutex Lock;
    std::string Early;  // what arrived within the first window
    std::string All;
    TStreamEnd End = TStreamEnd::StillOpen;
    std::atomic<bool> WindowOver{false};
};

// Records what arrives in the first `window`, then everything to the end.
TScriptedServer::Script Record(TSeen& seen, Ms window = Ms(0)) {
    return [&seen, window](TScriptedConnection& c) {
        std::string early;
        if (window.count() > 0) ReadToEnd(c.Fd(), early, window);
        seen.WindowOver = true;
        std::string rest;
        const TStreamEnd end = ReadToEnd(c.Fd(), rest, Ms(10000));
        std::lock_guard<std::mutex> lock(seen.Lock);
        seen.Early = early;
        seen.All = early + rest;
        seen.End = end;
    };
}

void WaitFor(const std::atomic<bool>& flag) {
    for (int i = 0; i < 1000 && !flag; ++i) std::this_thread::sleep_for(Ms(10));
}

// Each case writes through a fresh connection, waits for the end of the
// peer's first window where it has one, and ends the connection.
TEST(WriteBuffer, SendsWhatEachWayOfWritingPutsOnTheWire) {
    using TWrites = std::function<void(TIdIOHandlerStack& io, const std::atomic<bool>& windowOver)>;
    const struct {
        const char* Name;
        Ms Window;
        TWrites Writes;
        bool DestroyClient;  // instead of Disconnect: destroying it closes the transport too
        const char *Early, *All;
    } cases[] = {
        {"text as US-ASCII, empty text sends nothing", Ms(0),
         [](TIdIOHandlerStack& io, const std::atomic<bool>&) {
             io.Write(std::string());
             io.Write(Bytes{}, -1, 0);
             io.WriteLn("\xC3\xA9");
             io.WriteLn();
             io.Write(Bytes{'x', 'y', 'z'}, 1, 1);
         },
         false, "", "\x3F\r\n\r\ny"},
        {"the buffer holds everything until closed, then sends it in one piece", Ms(300),
         [](TIdIOHandlerStack& io, const std::atomic<bool>& windowOver) {
             io.WriteBufferOpen();
             io.WriteLn("GET / HTTP/1.1");
             io.WriteLn("Host: a");
             io.WriteLn();
             WaitFor(windowOver);
             io.WriteBufferClose();
             EXPECT_FALSE(io.WriteBufferingActive());
         },
         false, "", "GET / HTTP/1.1\r\nHost: a\r\n\r\n"},
        {"a threshold sends whole pieces as soon as collected", Ms(300),
         [](TIdIOHandlerStack& io, const std::atomic<bool>& windowOver) {
             io.WriteBufferOpen(4);
             io.Write(std::string("0123456789"));
             WaitFor(windowOver);
             io.WriteBufferClose();
         },
         false, "01234567", "0123456789"},
        {"cancelled bytes are never sent", Ms(0),
         [](TIdIOHandlerStack& io, const std::atomic<bool>&) {
             io.WriteBufferOpen();
             io.WriteLn("secret");
             io.WriteBufferCancel();
             EXPECT_FALSE(io.WriteBufferingActive());
             io.WriteLn("after");
         },
         true, "", "after\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TSeen seen;
        TScriptedServer server(Record(seen, c.Window));
        auto client = ClientFor(server.Port());
        client->Connect();
        c.Writes(*client->IOHandler(), seen.WindowOver);
        if (c.DestroyClient) {
            client.reset();
        } else {
            client->Disconnect();
        }
        ASSERT_TRUE(server.WaitForConnections(1));
        std::lock_guard<std::mutex> lock(seen.Lock);
        EXPECT_EQ(seen.Early, c.Early);
        EXPECT_EQ(seen.All, c.All);
        EXPECT_EQ(seen.End, TStreamEnd::Orderly);
    }
}

TEST(Write, ClosedPeerRaisesInsteadOfKillingTheProcess) {
    ASSERT_EQ(std::signal(SIGPIPE, SIG_DFL), SIG_DFL) << "SIGPIPE must be fatal for this test to mean anything";
    // The reset waits for the client's first bytes: a reset that raced the
    // handshake would fail the connect itself instead of a write.
    TScriptedServer server([](TScriptedConnection& c) {
        c.ReadRequestHead(Ms(5000));
        c.Reset();
    });
    auto client = ClientFor(server.Port());
    client->Connect();
    TIdIOHandlerStack& io = *client->IOHandler();
    io.Write(std::string("hello\r\n\r\n"));
    ASSERT_TRUE(server.WaitForConnections(1));
    const std::string chunk(65536, 'z');
    bool raised = false;
    for (int i = 0; i < 200 && !raised; ++i) {
        try {
            io.Write(chunk);
        } catch (const EIdSocketError& e) {
            raised = true;
            EXPECT_TRUE(e.LastError() == 10054 || e.LastError() == 10053) << e.Message();
        } catch (const EIdConnClosedGracefully&) {
            raised = true;
        }
    }
    EXPECT_TRUE(raised);
}

TEST(Write, AfterTheNoticedPeerCloseRaisesClosedGracefully) {
    TScriptedServer server([](TScriptedConnection& c) {
        c.ShutdownSend();
        c.ReadUntilClose(Ms(5000));
    });
    auto client = ClientFor(server.Port());
    client->Connect();
    EXPECT_THROW(client->IOHandler()->ReadLn(), EIdConnClosedGracefully);
    EXPECT_THROW(client->IOHandler()->WriteLn("late"), EIdConnClosedGracefully);
    EXPECT_FALSE(client->Connected());
    client->Disconnect();  // nothing left to close: does nothing, raises nothing
}

}  // namespace
}  // namespace quorvel::test
