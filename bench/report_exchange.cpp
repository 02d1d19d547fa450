// The install report's exchange on loopback: HttpGetOk against a server in a
// child process (so its CPU time is not ours) that answers every request
// with a 200 and a small body. Prints the median and 90th percentile of the
// wall time and of this process's CPU time per exchange, first as the report
// runs it (connect on the worker, looked at every 125 ms), then the same GET
// connecting on the calling thread, which shows what the worker's polling
// costs.
//
// usage: report_exchange [exchanges, default 200]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "http/exceptions.h"
#include "http/http.h"
#include "report/http_get_ok.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The server child: one connection at a time, one answer per request head,
// until the client closes.
[[noreturn]] void Serve(int listener) {
    const std::string answer =
        "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 11\r\n\r\n{\"ok\":true}";
    for (;;) {
        const int c = ::accept(listener, nullptr, nullptr);
        if (c < 0) continue;
        std::string in;
        char buf[4096];
        for (ssize_t n; (n = ::recv(c, buf, sizeof buf, 0)) > 0;) {
            in.append(buf, static_cast<std::size_t>(n));
            for (std::size_t end; (end = in.find("\r\n\r\n")) != std::string::npos;) {
                in.erase(0, end + 4);
                if (::send(c, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) break;
            }
        }
        ::close(c);
    }
}

// The server process; killed and reaped by the destructor.
class TServerProcess {
public:
    TServerProcess() {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            std::perror("report_exchange: loopback listener");
            std::exit(1);
        }
        FPort = ntohs(a.sin_port);
        FPid = ::fork();
        if (FPid == 0) Serve(fd);
        ::close(fd);
        if (FPid < 0) {
            std::perror("report_exchange: fork");
            std::exit(1);
        }
    }
    ~TServerProcess() {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
    }
    TServerProcess(const TServerProcess&) = delete;
    TServerProcess& operator=(const TServerProcess&) = delete;
    std::uint16_t Port() const { return FPort; }

private:
    pid_t FPid = -1;
    std::uint16_t FPort = 0;
};

struct TSamples {
    std::vector<double> wallMs, cpuMs;
    int failures = 0;
};

template <typename Exchange>
TSamples Measure(int count, Exchange exchange) {
    TSamples s;
    for (int i = 0; i < count; ++i) {
        const double cpu0 = CpuSeconds();
        const auto wall0 = Clock::now();
        if (!exchange()) ++s.failures;
        s.wallMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - wall0).count());
        s.cpuMs.push_back((CpuSeconds() - cpu0) * 1e3);
    }
    return s;
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

void Print(const char* what, const TSamples& s) {
    std::printf("  %-44s wall median %7.2f ms (p90 %7.2f)   CPU median %6.3f ms (p90 %6.3f)%s\n", what,
                Percentile(s.wallMs, 0.5), Percentile(s.wallMs, 0.9), Percentile(s.cpuMs, 0.5),
                Percentile(s.cpuMs, 0.9), s.failures ? "   SOME FAILED" : "");
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 200;
    if (count <= 0) {
        std::fprintf(stderr, "usage: report_exchange [exchanges]\n");
        return 2;
    }
    TServerProcess server;
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) +
                            "/api/report/install?soft_id=quorvel_win&source=bench_test&device_code=2024010112000012345";

    // Warm-up: the first use starts the socket library.
    if (!quorvel::HttpGetOk(url)) {
        std::fprintf(stderr, "report_exchange: the first report failed\n");
        return 1;
    }
    const TSamples report = Measure(count, [&] { return quorvel::HttpGetOk(url); });
    const TSamples direct = Measure(count, [&] {
        quorvel::TIdHTTP http;
        quorvel::ApplyReportSettings(http);
        http.ConnectTimeout = 0;
        http.ExchangeTimeout = 0;  // a bound would put the connect on the worker too
        quorvel::TMemoryStream body(quorvel::kReportBodyKept);
        try {
            http.Get(url, body);
        } catch (const quorvel::Exception&) {
            return false;
        }
        return http.ResponseCode() == 200;
    });

    std::printf("Report exchange on loopback (200, 11-byte body), %d exchanges each\n", count);
    Print("HttpGetOk (connect on the worker)", report);
    Print("same GET, connect on the calling thread", direct);
    std::printf("report_wall_ms %.2f\nreport_cpu_ms %.3f\n", Percentile(report.wallMs, 0.5),
                Percentile(report.cpuMs, 0.5));
    return report.failures || direct.failures ? 1 : 0;
}
