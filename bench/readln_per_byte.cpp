// ReadLn's cost per byte when lines arrive one byte per receive, at 1 KiB and
// at 16 KiB lines, through a socket platform fed from memory (no kernel in
// the way). A reader that rescans its buffer on every byte costs more per
// byte the longer the line; a linear one costs the same.
//
// usage: readln_per_byte [MiB per measurement, default 8]
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fed_socket_platform.h"
#include "fuzz/split_feed.h"
#include "http/exceptions.h"
#include "http/tcp_client.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TRun {
    double wallNsPerByte = 0;
    double cpuNsPerByte = 0;
};

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// lineLength bytes before each LF; as many lines as fill `total` bytes.
TRun Measure(quorvel::fuzz::TFedSocketPlatform& platform, std::size_t lineLength, std::size_t total) {
    const std::size_t lines = std::max<std::size_t>(total / (lineLength + 1), 1);
    std::vector<std::uint8_t> payload;
    payload.reserve(lines * (lineLength + 1));
    for (std::size_t i = 0; i < lines; ++i) {
        payload.insert(payload.end(), lineLength, static_cast<std::uint8_t>('a' + i % 26));
        payload.push_back('\n');
    }
    quorvel::fuzz::TSplitFeed feed(payload.data(), payload.size(), {1});
    platform.SetFeed(&feed);
    quorvel::TIdTCPClientCustom client;
    client.Host = "127.0.0.1";
    client.Port = 80;
    client.Connect();
    quorvel::TIdIOHandlerStack& io = *client.IOHandler();

    const double cpu0 = CpuSeconds();
    const auto wall0 = Clock::now();
    for (std::size_t i = 0; i < lines; ++i) {
        if (io.ReadLn().size() != lineLength) {
            std::fprintf(stderr, "readln_per_byte: line %zu came back with the wrong length\n", i);
            std::exit(1);
        }
    }
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const double cpu = CpuSeconds() - cpu0;
    client.Disconnect();
    platform.SetFeed(nullptr);
    const auto bytes = static_cast<double>(payload.size());
    return TRun{wall * 1e9 / bytes, cpu * 1e9 / bytes};
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const long mib = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 8;
    if (mib <= 0) {
        std::fprintf(stderr, "usage: readln_per_byte [MiB per measurement]\n");
        return 2;
    }
    const std::size_t total = static_cast<std::size_t>(mib) << 20;
    quorvel::fuzz::TFedSocketPlatform platform;
    quorvel::TIdStack::SetPlatformForTesting(&platform);

    constexpr int kRounds = 7;
    const std::size_t lengths[2] = {1024, 16384};  // 16384: the longest line the default limit accepts
    std::vector<double> wall[2], cpu[2];
    try {
        Measure(platform, lengths[0], total / 8);  // warm-up, not counted
        // Alternating rounds, so that a change in the machine's load falls on both.
        for (int round = 0; round < kRounds; ++round) {
            for (int k = 0; k < 2; ++k) {
                const TRun r = Measure(platform, lengths[k], total);
                wall[k].push_back(r.wallNsPerByte);
                cpu[k].push_back(r.cpuNsPerByte);
            }
        }
    } catch (const quorvel::Exception& e) {
        std::fprintf(stderr, "readln_per_byte: %s: %s\n", e.ClassName(), e.Message().c_str());
        return 1;
    }
    quorvel::TIdStack::SetPlatformForTesting(nullptr);

    std::printf("ReadLn, one byte per receive, %ld MiB per measurement, median of %d\n", mib, kRounds);
    for (int k = 0; k < 2; ++k)
        std::printf("  %5zu-byte lines: %7.1f ns/byte wall, %7.1f ns/byte CPU\n", lengths[k], Median(wall[k]),
                    Median(cpu[k]));
    const double ratio = Median(cpu[1]) / Median(cpu[0]);
    std::printf("16 KiB over 1 KiB per byte: %.2f (linear: within a factor of 2)\n", ratio);
    std::printf("readln_ratio_16k_over_1k %.2f\n", ratio);
    std::printf("readln_ns_per_byte_1k %.1f\nreadln_ns_per_byte_16k %.1f\n", Median(cpu[0]), Median(cpu[1]));
    return 0;
}
