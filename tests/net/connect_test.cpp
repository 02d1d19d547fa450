#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <arpa/inet.h>

#include <atomic>
#include <thread>

#include "http/connect_thread.h"
#include "http/exceptions.h"
#include "net_helpers.h"

namespace quorvel::test {
namespace {

// A script that records the client's port as the server sees it.
TScriptedServer::Script RecordPeerPort(std::atomic<int>& port) {
    return [&port](TScriptedConnection& c) {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        ::getpeername(c.Fd(), reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        c.ReadUntilClose(Ms(5000));
    };
}

TEST(ConnectFailures, RefusedPortReports10061LongBeforeTheLimit) {
    TRefusedPort refused;
    auto client = ClientFor(refused.Port(), 5000);
    const auto start = SteadyClock::now();
    try {
        client->Connect();
        FAIL() << "connected to a refused port";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10061);
        EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
    }
    EXPECT_LT(MsSince(start), 2500);
    EXPECT_EQ(client->IOHandler(), nullptr);
}

TEST(ConnectFailures, UnresolvedNameReports11001WithoutAConnectAttempt) {
    TCountingPlatform platform;
    TScopedResolver resolver([](const std::string&, TIdIPVersion, std::string&) { return EAI_NONAME; });
    auto client = ClientFor(80, 5000);
    client->Host = "nowhere.quorvel.test";
    try {
        client->Connect();
        FAIL() << "connected to an unresolved name";
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 11001);
        EXPECT_EQ(e.Message(), "Socket Error # 11001\r\nHost not found.");
    }
    EXPECT_EQ(platform.ConnectCalls(), 0);
    EXPECT_EQ(client->IOHandler(), nullptr);
}

TEST(ConnectFailures, PreconditionsComeFirstAndKeepAConnection) {
    auto client = ClientFor(0);
    client->Host = "";
    EXPECT_THROW(client->Connect(), EIdHostRequired);
    client->Host = "127.0.0.1";
    EXPECT_THROW(client->Connect(), EIdPortRequired);
    EXPECT_EQ(client->IOHandler(), nullptr);
    EXPECT_THROW(client->CheckForGracefulDisconnect(), EIdException);
    TScriptedServer server([](TScriptedConnection& c) { c.ReadUntilClose(Ms(5000)); });
    client->Port = server.Port();
    client->Connect();
    try {
        client->Connect();
        FAIL() << "connected twice";
    } catch (const EIdAlreadyConnected& e) {
        EXPECT_EQ(e.Message(), "Already connected.");
    }
    EXPECT_TRUE(client->Connected());
}

TEST(ConnectTimeout, UnansweredConnectEndsAfterTheLimitWithNothingLeftBehind) {
    TUnansweredListener listener;
    ASSERT_TRUE(listener.Blocks()) << "this machine answers a full backlog; the test cannot make a silent peer";
    auto client = ClientFor(listener.Port(), 5000);
    { TIdComponent warm; }  // the stack's own first-use objects are not a leak
    std::thread([] {}).join();  // a sanitizer's helper thread starts with the first thread
    const int descriptors = OpenDescriptorCount();
    const int threads = ThreadCount();
    const auto start = SteadyClock::now();
    try {
        client->Connect();
        FAIL() << "connected to a silent peer";
    } catch (const EIdConnectTimeout& e) {
        EXPECT_EQ(e.Message(), "Connect timed out.");
    }
    const long long elapsed = MsSince(start);
    EXPECT_GE(elapsed, 4800);
    EXPECT_LE(elapsed, 5200);
    EXPECT_EQ(client->IOHandler(), nullptr);
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_EQ(ThreadCount(), threads);
}

TEST(ConnectTimeout, DeadlineCutsTheConnectLimit) {
    TUnansweredListener listener;
    ASSERT_TRUE(listener.Blocks());
    auto client = ClientFor(listener.Port(), 5000);
    client->SetDeadline(SteadyClock::now() + Ms(300));
    const auto start = SteadyClock::now();
    EXPECT_THROW(client->Connect(), EIdConnectTimeout);
    EXPECT_LT(MsSince(start), 2500);
    // A deadline that has passed fails at once, even on the calling thread.
    client->ConnectTimeout = 0;
    client->SetDeadline(SteadyClock::now() - Ms(1));
    EXPECT_THROW(client->Connect(), EIdConnectTimeout);
}

TEST(ConnectSuccess, RecordHoldsThePlatformsLocalAddressAndTheResolvedPeer) {
    for (const std::int32_t timeout : {0, 5000}) {
        std::atomic<int> seenPort{-1};
        TScriptedServer server(RecordPeerPort(seenPort));
        TCountingPlatform platform;
        TScopedResolver resolver([](const std::string& host, TIdIPVersion, std::string& address) {
            address = "127.0.0.1";
            return host == "www.quorvel.test" ? 0 : EAI_NONAME;
        });
        auto client = ClientFor(server.Port(), timeout);
        client->Host = "www.quorvel.test";
        client->Connect();
        TIdSocketHandle& record = *client->IOHandler()->Binding();
        EXPECT_TRUE(IsCloseOnExec(record.Handle()));
        EXPECT_EQ(record.PeerIP, "127.0.0.1");
        EXPECT_EQ(record.PeerPort, server.Port());
        EXPECT_EQ(record.IP, "127.0.0.1");
        EXPECT_NE(record.Port, 0);
        client->Disconnect();
        ASSERT_TRUE(server.WaitForConnections(1));
        EXPECT_EQ(seenPort.load(), record.Port) << "ConnectTimeout " << timeout;
        EXPECT_EQ(platform.ConnectCalls(), 1);
    }
}

TEST(ConnectSuccess, LocalhostInAnyCaseNeedsNoLookup) {
    TScriptedServer server([](TScriptedConnection& c) { c.ReadUntilClose(Ms(5000)); });
    int lookups = 0;
    TScopedResolver resolver([&lookups](const std::string&, TIdIPVersion, std::string&) {
        ++lookups;
        return EAI_NONAME;
    });
    auto client = ClientFor(server.Port());
    client->Host = "LocalHost";
    client->Connect();
    EXPECT_EQ(client->IOHandler()->Binding()->PeerIP, "127.0.0.1");
    EXPECT_EQ(lookups, 0);
}

// A platform whose connect fails with something other than a socket error.
class TThrowingConnect : public TCountingPlatform {
public:
    explicit TThrowingConnect(std::string message) : FMessage(std::move(message)) {}
    int Connect(TIdStackSocketHandle, const TIdSockAddr&, TIdConnectWaker*) override { throw EIdException(FMessage); }

private:
    std::string FMessage;
};

TEST(ConnectWorker, OtherFailuresRaiseConnectExceptionEvenWithoutAMessage) {
    TScriptedServer server([](TScriptedConnection& c) { c.ReadUntilClose(Ms(2000)); });
    for (const char* message : {"boom", ""}) {
        TThrowingConnect platform(message);
        auto client = ClientFor(server.Port(), 5000);
        try {
            client->Connect();
            ADD_FAILURE() << "a failed connect counted as established: '" << message << "'";
        } catch (const EIdSocketError&) {
            ADD_FAILURE() << "raised as a socket error";
        } catch (const EIdConnectException& e) {
            EXPECT_EQ(e.Message(), message);
        }
        EXPECT_EQ(client->IOHandler(), nullptr);
    }
}

TEST(ConnectWorker, WokenConnectRecordsNothingAndClosingTwiceIsHarmless) {
    TUnansweredListener listener;
    ASSERT_TRUE(listener.Blocks());
    TIdComponent keep;
    TIdSocketHandle record;
    record.CloseSocket();  // nothing to close yet
    record.AllocateSocket();
    record.Bind();
    record.SetPeer("127.0.0.1", listener.Port(), TIdIPVersion::Id_IPv4);
    {
        TIdConnectThread worker(record);
        std::this_thread::sleep_for(Ms(200));
        ASSERT_FALSE(worker.Finished()) << "the connect was answered";
        worker.Terminate();
        const auto start = SteadyClock::now();
        while (!worker.Finished() && MsSince(start) < 3000) std::this_thread::sleep_for(Ms(5));
        ASSERT_TRUE(worker.Finished()) << "the wake did not end the connect";
        worker.WaitFor();
        EXPECT_FALSE(worker.Failed());
        EXPECT_EQ(worker.ExceptionMessage(), "");
        EXPECT_EQ(worker.LastSocketError(), 0);
    }
    EXPECT_TRUE(record.HandleAllocated());
    record.CloseSocket();
    EXPECT_FALSE(record.HandleAllocated());
    record.CloseSocket();
    EXPECT_EQ(record.Handle(), Id_INVALID_SOCKET);
}

TEST(ConnectCycles, ThousandCyclesLeaveNoDescriptorOrThread) {
    TScriptedServer server(std::vector<TScriptedServer::Script>{});
    TRefusedPort refused;
    { TIdComponent warm; }
    const int descriptors = OpenDescriptorCount();
    const int threads = ThreadCount();
    auto client = ClientFor(server.Port());
    for (int i = 0; i < 1000; ++i) {
        client->Connect();
        client->Disconnect();
    }
    // Workers cost a 125 ms look each: fewer cycles show that they are joined.
    client->ConnectTimeout = 5000;
    for (int i = 0; i < 12; ++i) {
        client->Connect();
        client->Disconnect();
    }
    client->Port = refused.Port();
    for (int i = 0; i < 4; ++i) EXPECT_THROW(client->Connect(), EIdSocketError);
    client.reset();
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_EQ(ThreadCount(), threads);
    EXPECT_EQ(TIdStack::UsageCount(), 0);
}

}  // namespace
}  // namespace quorvel::test
