// Servers that stall, drip or flood after they accept: every exchange ends in
// bounded time and memory, and a closing peer never takes the process down.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <thread>

#include "http/exceptions.h"
#include "http/http.h"
#include "report/http_get_ok.h"
#include "wire_helpers.h"

#if defined(__SANITIZE_ADDRESS__)
#define QUORVEL_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVEL_TEST_ASAN 1
#endif
#endif
#if defined(QUORVEL_TEST_ASAN)
// Freed blocks wait in the sanitizer's quarantine (256 MiB by default) and
// count as resident; the memory bounds below measure the client, not that.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=8"; }
#endif

namespace quorvel::test {
namespace {

constexpr std::int64_t kMiB = 1024 * 1024;

// Resident memory of this process, from /proc/self/statm.
std::int64_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::int64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::int64_t>(::sysconf(_SC_PAGESIZE));
}

// The peak resident memory since the last ResetPeakResident (VmHWM), or the
// current one where the peak cannot be reset.
bool ResetPeakResident() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}
std::int64_t PeakResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
    }
    return ResidentBytes();
}

// Sends `prefix`, then `unit` again and again, pausing `pause` between sends,
// until the client goes away or the server stops.
TScriptedServer::Script Stream(std::string prefix, std::string unit, Ms pause = Ms(0)) {
    return [prefix = std::move(prefix), unit = std::move(unit), pause](TScriptedConnection& c) {
        c.ReadRequestHead();
        if (!c.Send(prefix)) return;
        while (!c.Stopping() && c.Send(unit)) {
            if (pause.count() > 0) std::this_thread::sleep_for(pause);
        }
    };
}

// Sends `prefix` and then `total` bytes of body, then closes.
TScriptedServer::Script Body(std::string prefix, std::int64_t total) {
    return [prefix = std::move(prefix), total](TScriptedConnection& c) {
        c.ReadRequestHead();
        if (!c.Send(prefix)) return;
        const std::string block(64 * 1024, 'b');
        for (std::int64_t sent = 0; sent < total && !c.Stopping(); sent += static_cast<std::int64_t>(block.size())) {
            if (!c.Send(block.substr(0, static_cast<std::size_t>(std::min<std::int64_t>(total - sent, 65536)))))
                return;
        }
        c.ShutdownSend();
        c.ReadUntilClose(Ms(2000));
    };
}

std::string Flood() { return std::string(64 * 1024, 'a'); }

struct TCase {
    const char* name;
    TScriptedServer::Script script;
};

TEST(TimeBounds, SilentServerEndsTheReportWithinTwentySeconds) {
    TScriptedServer server([](TScriptedConnection& c) { c.ReadUntilClose(Ms(30000)); });
    THttpGetOutcome outcome;
    const auto start = SteadyClock::now();
    EXPECT_FALSE(HttpGetOk(UrlOf(server), &outcome));
    EXPECT_LT(MsSince(start), 20000);
    EXPECT_EQ(outcome.ErrorClass, "EIdReadTimeout");
    EXPECT_EQ(outcome.Message, "Read timed out.");
}

TEST(TimeBounds, ServerDrippingAByteASecondEndsTheReportWithinTwentySeconds) {
    TScriptedServer server(Stream("HTTP/1.1 200 OK\r\nX-Drip: ", "a", Ms(1000)));
    THttpGetOutcome outcome;
    const auto start = SteadyClock::now();
    EXPECT_FALSE(HttpGetOk(UrlOf(server), &outcome));
    EXPECT_LT(MsSince(start), 20000);
    EXPECT_EQ(outcome.ErrorClass, "EIdReadTimeout");
}

// The same mechanism with short limits: a per-wait limit of 300 ms and an
// exchange limit of 1000 ms; each case ends in time and in bounded memory.
TEST(TimeBounds, EveryStallOrFloodEndsAtTheLimitsInBoundedMemory) {
    const TCase cases[] = {
        {"never answers", [](TScriptedConnection& c) { c.ReadUntilClose(Ms(10000)); }},
        {"drips the status line", Stream("HTTP/1.1 2", "0", Ms(50))},
        {"drips a body", Stream("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n", "b", Ms(50))},
        {"endless header lines", Stream("HTTP/1.1 200 OK\r\n", "X-Flood: 0123456789abcdef\r\n")},
        {"endless 100 heads", Stream("", "HTTP/1.1 100 Continue\r\n\r\n")},
        {"endless body until close", Stream("HTTP/1.1 200 OK\r\n\r\n", Flood())},
        {"endless chunk", Stream("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffff\r\n", Flood())},
        {"endless error body", Stream("HTTP/1.1 500 Oops\r\n\r\n", Flood())},
        {"endless redirect body", Stream("HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\n", Flood())},
    };
    for (const TCase& c : cases) {
        TScriptedServer server(c.script);
        TIdHTTP http;
        ShortLimits(http, 300, 1000);
        http.HandleRedirects = true;
        TNullStream body;
        ResetPeakResident();
        const std::int64_t before = ResidentBytes();
        const auto start = SteadyClock::now();
        EXPECT_THROW(http.Get(UrlOf(server), body), EIdReadTimeout) << c.name;
        EXPECT_LT(MsSince(start), 4000) << c.name;
        EXPECT_LT(PeakResidentBytes() - before, 64 * kMiB) << c.name;
    }
}

TEST(TimeBounds, EndlessHeaderLineEndsInBoundedMemory) {
    TScriptedServer server(Stream("HTTP/1.1 200 OK\r\nX-Long: ", Flood()));
    TIdHTTP http;
    ShortLimits(http, 300, 1500);
    TNullStream body;
    ResetPeakResident();
    const std::int64_t before = ResidentBytes();
    const auto start = SteadyClock::now();
    EXPECT_THROW(http.Get(UrlOf(server), body), EIdException);
    EXPECT_LT(MsSince(start), 4000);
    EXPECT_LT(PeakResidentBytes() - before, 64 * kMiB);
}

TEST(MemoryBounds, ReportKeepsABoundedPrefixOfAnyBody) {
    struct TBodyCase {
        const char* name;
        TScriptedServer::Script script;
        bool result;
        std::uint64_t bodyBytes;
    };
    const TBodyCase cases[] = {
        {"200 MiB body", Body("HTTP/1.1 200 OK\r\nContent-Length: 209715200\r\n\r\n", 200 * kMiB), true, 200 * kMiB},
        {"Content-Length 10^15, cut short",
         Body("HTTP/1.1 200 OK\r\nContent-Length: 1000000000000000\r\n\r\n", 8 * kMiB), true, 8 * kMiB},
        {"chunk size ffffffffffff, cut short",
         Body("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffff\r\n", 8 * kMiB), false, 8 * kMiB},
        {"200 MiB error body", Body("HTTP/1.1 500 Oops\r\nContent-Length: 209715200\r\n\r\n", 200 * kMiB), false, 0},
    };
    for (const TBodyCase& c : cases) {
        TScriptedServer server(c.script);
        THttpGetOutcome outcome;
        ResetPeakResident();
        const std::int64_t before = ResidentBytes();
        EXPECT_EQ(HttpGetOk(UrlOf(server), &outcome), c.result) << c.name << ": " << outcome.Message;
        EXPECT_EQ(outcome.BodyBytes, c.bodyBytes) << c.name;
        EXPECT_LT(PeakResidentBytes() - before, 64 * kMiB) << c.name;
    }
}

TEST(Signals, PeerThatResetsDuringALargeWriteDoesNotKillTheProcess) {
    // Sending to a reset peer raises SIGPIPE unless every send suppresses it.
    const auto previous = std::signal(SIGPIPE, SIG_DFL);
    // Resetting only once part of the request has arrived makes the client's
    // send meet the reset, not its connect.
    TScriptedServer server([](TScriptedConnection& c) {
        c.ReadRequestHead(Ms(30));
        c.Reset();
    });
    const std::string longTarget = "/?" + std::string(8 * kMiB, 'q');
    for (int i = 0; i < 5; ++i) {
        TIdHTTP http;
        http.ReadTimeout = 1000;
        TNullStream body;
        EXPECT_THROW(http.Get(UrlOf(server, longTarget), body), EIdException);
    }
    std::signal(SIGPIPE, previous);
}

TEST(Resources, ThousandExchangesLeaveNoDescriptorOrThreadBehind) {
    TScriptedServer server(Answer({Response("200 OK", "ok")}));
    ASSERT_TRUE(HttpGetOk(UrlOf(server)));
    ASSERT_TRUE(server.WaitForConnections(1));
    const int descriptors = OpenDescriptorCount();
    const int threads = ThreadCount();
    // The report's connect worker (also used for any connect under a
    // deadline) is looked at every 125 ms, so most rounds connect on the
    // calling thread; the rest run the report itself.
    int done = 1;
    for (; done < 960; ++done) {
        TIdHTTP http;
        ApplyReportSettings(http);
        http.ConnectTimeout = 0;
        http.ExchangeTimeout = 0;
        TMemoryStream body(kReportBodyKept);
        http.Get(UrlOf(server), body);
        ASSERT_EQ(http.ResponseCode(), 200) << "exchange " << done;
    }
    for (; done < 1001; ++done) ASSERT_TRUE(HttpGetOk(UrlOf(server))) << "exchange " << done;
    ASSERT_TRUE(server.WaitForConnections(done));
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_EQ(ThreadCount(), threads);
}

}  // namespace
}  // namespace quorvel::test
