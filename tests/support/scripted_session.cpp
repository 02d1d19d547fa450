// The scripted server's part that does not touch sockets, for both
// platforms' servers.
#include <algorithm>

#include "support/scripted_server.h"

namespace quorvel::test {

using Clock = std::chrono::steady_clock;

std::string TScriptedConnection::ReadRequestHead(std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    const std::size_t start = FHeadEnd;
    for (;;) {
        const auto end = FReceived.find("\r\n\r\n", start);
        if (end != std::string::npos) {
            FHeadEnd = end + 4;
            return FReceived.substr(start, FHeadEnd - start);
        }
        if (!ReadSome(until)) {
            FHeadEnd = FReceived.size();
            return FReceived.substr(start);
        }
    }
}

std::string TScriptedConnection::ReadUntilClose(std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    const std::size_t start = FHeadEnd;
    while (ReadSome(until)) {
    }
    FHeadEnd = FReceived.size();
    return FReceived.substr(start);
}

void TScriptedServer::RunScript(TScriptedConnection& c) {
    const int index = FAccepted.fetch_add(1);
    if (FScripts.empty()) return;
    const auto& script = FScripts[std::min<std::size_t>(static_cast<std::size_t>(index), FScripts.size() - 1)];
    try {
        script(c);
    } catch (...) {
        // A script that fails still records what it received.
    }
}

void TScriptedServer::Record(const TScriptedConnection& c) {
    std::lock_guard<std::mutex> lock(FMutex);
    FRequests.push_back(c.Received());
}

std::vector<std::string> TScriptedServer::Requests() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FRequests;
}

bool TScriptedServer::WaitForConnections(int n, std::chrono::milliseconds limit) const {
    const auto until = Clock::now() + limit;
    while (Clock::now() < until) {
        {
            std::lock_guard<std::mutex> lock(FMutex);
            if (static_cast<int>(FRequests.size()) >= n) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

}  // namespace quorvel::test
