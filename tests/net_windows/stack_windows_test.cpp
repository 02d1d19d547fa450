// The socket stack over Windows Sockets loaded at run time, against real
// peers on 127.0.0.1: the outcomes must be those of the Linux program.
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "http/component.h"
#include "http/connect_thread.h"
#include "http/exceptions.h"
#include "http/socket_handle.h"
#include "http/stack.h"
#include "http/tcp_client.h"
#include "report/http_get_ok.h"
#include "support/scripted_server.h"
#include "winsock_peers.h"

namespace quorvel::test {
namespace {

using Ms = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

long long MsSince(SteadyClock::time_point start) {
    return std::chrono::duration_cast<Ms>(SteadyClock::now() - start).count();
}

// The error a connect through the transport ends with, and how long it took.
struct TConnectOutcome {
    std::string Class;
    std::string Message;
    int LastError = 0;
    long long Ms = 0;
};

TConnectOutcome ConnectTo(const std::string& host, std::uint16_t port, std::int32_t connectTimeout) {
    TConnectOutcome outcome;
    TIdTCPClientCustom client;
    client.Host = host;
    client.Port = port;
    client.ConnectTimeout = connectTimeout;
    const auto start = SteadyClock::now();
    try {
        client.Connect();
    } catch (const EIdSocketError& e) {
        outcome = {e.ClassName(), e.Message(), e.LastError()};
    } catch (const Exception& e) {
        outcome = {e.ClassName(), e.Message(), 0};
    }
    outcome.Ms = MsSince(start);
    return outcome;
}

TEST(WindowsStackStart, FirstNetworkObjectLoadsTheLibraryWithTheLookupFunctions) {
    {
        TIdComponent user;
        EXPECT_TRUE(TIdStack::LibraryStarted());
        EXPECT_TRUE(DefaultSocketPlatform().LookupFunctionsAvailable());
    }
    // Still started after the last user went: the next one starts nothing.
    EXPECT_TRUE(TIdStack::LibraryStarted());
    EXPECT_EQ(TIdStack::UsageCount(), 0);
}

TEST(WindowsStackConnect, RefusedPortReports10061OnTheCallerAndOnTheWorker) {
    TRefusedPort refused;
    for (std::int32_t limit : {0, 5000}) {
        const TConnectOutcome o = ConnectTo("127.0.0.1", refused.Port(), limit);
        EXPECT_EQ(o.Class, "EIdSocketError") << limit;
        EXPECT_EQ(o.LastError, 10061) << limit;
        EXPECT_EQ(o.Message, "Socket Error # 10061\r\nConnection refused.") << limit;
        EXPECT_LT(o.Ms, 4000) << limit;
    }
}

TEST(WindowsStackConnect, UnknownHostReports11001FromTheLookup) {
    const TConnectOutcome o = ConnectTo("quorvel-no-such-host.invalid", 80, 5000);
    EXPECT_EQ(o.Class, "EIdSocketError");
    EXPECT_EQ(o.LastError, 11001);
    EXPECT_EQ(o.Message, "Socket Error # 11001\r\nHost not found.");
}

TEST(WindowsStackConnect, PendingConnectEndsAsConnectTimedOutAfter5000Ms) {
    TUnansweredListener listener;
    ASSERT_TRUE(listener.Blocks()) << "this platform answers every connect; no pending connect to time out";
    const int threads = ThreadCount();
    const TConnectOutcome o = ConnectTo("127.0.0.1", listener.Port(), 5000);
    EXPECT_EQ(o.Class, "EIdConnectTimeout");
    EXPECT_EQ(o.Message, "Connect timed out.");
    EXPECT_GE(o.Ms, 5000);
    EXPECT_LT(o.Ms, 9000);
    // The connect worker was woken and joined.
    EXPECT_EQ(ThreadCount(), threads);
}

TEST(WindowsStackConnect, WakeEndsAPendingConnectWith10009AndLeavesTheSocketOpen) {
    TUnansweredListener listener;
    ASSERT_TRUE(listener.Blocks());
    TIdComponent user;
    TIdSocketPlatform& platform = DefaultSocketPlatform();
    const TIdStackSocketHandle s = platform.Socket(TIdIPVersion::Id_IPv4, Id_SOCK_STREAM, 0);
    ASSERT_NE(s, Id_INVALID_SOCKET);
    auto waker = platform.NewConnectWaker();
    ASSERT_NE(waker, nullptr);
    TIdSockAddr peer;
    peer.Bytes = {127, 0, 0, 1};
    peer.Port = listener.Port();
    int result = 0;
    int error = 0;
    std::thread worker([&] {
        result = platform.Connect(s, peer, waker.get());
        error = platform.LastError();
    });
    std::this_thread::sleep_for(Ms(200));
    const auto woken = SteadyClock::now();
    waker->Wake();
    worker.join();
    EXPECT_LT(MsSince(woken), 2000);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(error, 10009);
    // Released only now, after the join: the socket is still ours.
    int type = 0;
    int len = sizeof type;
    EXPECT_EQ(::getsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &len), 0);
    platform.Close(s);
}

TEST(WindowsStackConnect, ClosingTheRecordEndsAPendingConnectAsOnLinux) {
    TUnansweredListener listener;
    ASSERT_TRUE(listener.Blocks());
    TIdComponent user;
    TIdSocketHandle record;
    record.AllocateSocket();
    record.Bind();
    record.SetPeer("127.0.0.1", listener.Port(), TIdIPVersion::Id_IPv4);
    TIdConnectThread worker(record);
    std::this_thread::sleep_for(Ms(200));
    ASSERT_FALSE(worker.Finished()) << "the connect was answered";
    const auto closed = SteadyClock::now();
    record.CloseSocket();
    while (!worker.Finished() && MsSince(closed) < 3000) std::this_thread::sleep_for(Ms(5));
    EXPECT_TRUE(worker.Finished()) << "closing the record left the connect pending";
    if (!worker.Finished()) worker.Terminate();  // so that the join below cannot hang
    worker.WaitFor();
    // Ended under the worker: nothing recorded.
    EXPECT_FALSE(worker.Failed());
    EXPECT_EQ(worker.LastSocketError(), 0);
    EXPECT_FALSE(record.HandleAllocated());
}

TEST(WindowsStackCalls, ConnectedSocketSendsReceivesAndSeesTheOrderlyClose) {
    TScriptedServer server([](TScriptedConnection& c) {
        c.ReadRequestHead();
        std::this_thread::sleep_for(Ms(300));
        c.Send("pong");
        c.ShutdownSend();
        c.ReadUntilClose(Ms(2000));
    });
    TIdComponent user;
    TIdStack& stack = TIdStack::Instance();
    const TIdStackSocketHandle s = stack.NewSocketHandle(Id_SOCK_STREAM, 0, TIdIPVersion::Id_IPv4);
    stack.Bind(s, "", TIdIPVersion::Id_IPv4, 0);
    stack.SetSocketOption(s, Id_IPPROTO_TCP, Id_TCP_NODELAY, 0);
    stack.Connect(s, "127.0.0.1", TIdIPVersion::Id_IPv4, server.Port());
    std::string ip;
    std::uint16_t port = 0;
    stack.GetPeerName(s, ip, port);
    EXPECT_EQ(ip, "127.0.0.1");
    EXPECT_EQ(port, server.Port());
    stack.GetSocketName(s, ip, port);
    EXPECT_EQ(ip, "127.0.0.1");
    EXPECT_NE(port, 0);

    const std::string ping = "ping\r\n\r\n";
    EXPECT_EQ(stack.Send(s, reinterpret_cast<const std::uint8_t*>(ping.data()), ping.size()), ping.size());
    EXPECT_EQ(stack.Send(s, nullptr, 0), 0u);
    // Nothing yet: the wait runs out; then the answer comes within the limit.
    const auto start = SteadyClock::now();
    EXPECT_FALSE(stack.SelectRead(s, 100));
    EXPECT_GE(MsSince(start), 90);
    ASSERT_TRUE(stack.SelectRead(s, 5000));
    std::uint8_t buffer[64];
    std::string received;
    while (received.size() < 4) {
        const std::size_t n = stack.Receive(s, buffer, sizeof buffer);
        ASSERT_GT(n, 0u);
        received.append(reinterpret_cast<char*>(buffer), n);
    }
    EXPECT_EQ(received, "pong");
    ASSERT_TRUE(stack.SelectRead(s, 5000));
    EXPECT_EQ(stack.Receive(s, buffer, sizeof buffer), 0u);
    TIdStack::Disconnect(s);
    EXPECT_TRUE(server.WaitForConnections(1));
    EXPECT_EQ(server.Requests().at(0), ping);
}

TEST(WindowsStackCalls, ClosedSocketIsNotASocket) {
    TIdComponent user;
    TIdStack& stack = TIdStack::Instance();
    const TIdStackSocketHandle s = stack.NewSocketHandle(Id_SOCK_STREAM, 0, TIdIPVersion::Id_IPv4);
    TIdStack::Disconnect(s);
    const std::uint8_t byte = 'x';
    try {
        stack.Send(s, &byte, 1);
        FAIL() << "send on a closed socket succeeded";
    } catch (const EIdNotASocket& e) {
        EXPECT_EQ(e.LastError(), 10038);
        EXPECT_EQ(e.Message(), "Socket Error # 10038\r\nSocket operation on non-socket.");
    }
}

TEST(WindowsStackExchange, ReportRequestIsTheWorkedExampleByteForByte) {
    TScriptedServer server([](TScriptedConnection& c) {
        c.ReadRequestHead();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
        c.ReadUntilClose(Ms(2000));
    });
    const std::string target =
        "/api/report/install?soft_id=quorvel_win&source=none_test&device_code=2023072209002412345";
    EXPECT_TRUE(HttpGetOk("http://" + server.HostPort() + target));
    ASSERT_TRUE(server.WaitForConnections(1));
    EXPECT_EQ(server.Requests().at(0), "GET " + target + " HTTP/1.1\r\nHost: " + server.HostPort() +
                                           "\r\nAccept: application/json\r\nAccept-Encoding: identity\r\n\r\n");
}

}  // namespace
}  // namespace quorvel::test
