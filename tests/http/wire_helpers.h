// Helpers for the exchange's wire tests against the scripted server.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "http/http.h"
#include "http/stack.h"
#include "support/scripted_server.h"

namespace quorvel::test {

using Ms = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

inline long long MsSince(SteadyClock::time_point start) {
    return std::chrono::duration_cast<Ms>(SteadyClock::now() - start).count();
}

inline std::string UrlOf(const TScriptedServer& server, const std::string& path = "/") {
    return "http://" + server.HostPort() + path;
}

// Answers one request head after another on one connection with the given
// responses, then holds the connection until the client closes it.
inline TScriptedServer::Script Answer(std::vector<std::string> responses) {
    return [responses = std::move(responses)](TScriptedConnection& c) {
        for (const std::string& response : responses) {
            if (c.ReadRequestHead().empty()) return;
            if (!c.Send(response)) return;
        }
        c.ReadUntilClose();
    };
}

// Answers one request and closes its side at once.
inline TScriptedServer::Script AnswerAndClose(std::string response) {
    return [response = std::move(response)](TScriptedConnection& c) {
        c.ReadRequestHead();
        c.Send(response);
        c.ShutdownSend();
        c.ReadUntilClose(Ms(2000));
    };
}

// A head with a Content-Length line for the body, then the body.
inline std::string Response(const std::string& status, const std::string& body,
                            const std::string& headers = "") {
    return "HTTP/1.1 " + status + "\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

inline std::string Redirect(const std::string& location, const std::string& headers = "") {
    return "HTTP/1.1 302 Found\r\nLocation: " + location + "\r\n" + headers + "Content-Length: 0\r\n\r\n";
}

// The request heads in the bytes one connection received.
inline std::vector<std::string> RequestHeads(const std::string& received) {
    std::vector<std::string> heads;
    std::size_t start = 0;
    for (std::size_t end; (end = received.find("\r\n\r\n", start)) != std::string::npos; start = end + 4)
        heads.push_back(received.substr(start, end + 4 - start));
    return heads;
}

// Limits short enough for tests that wait for them on purpose.
inline void ShortLimits(TIdHTTP& http, std::int32_t readMs = 300, std::int32_t exchangeMs = 1500) {
    http.ConnectTimeout = 0;
    http.ReadTimeout = readMs;
    http.ExchangeTimeout = exchangeMs;
}

// Maps the dotted test names onto loopback for the life of the scope, so
// that cookie rules for named hosts can be seen on the wire.
class TResolverScope {
public:
    TResolverScope() {
        TIdStack::SetResolverForTesting([](const std::string& host, TIdIPVersion, std::string& address) {
            if (host != "www.quorvel.test" && host != "other.quorvel.test")
                return TIdStack::Platform().LookupCodes().NoName;
            address = "127.0.0.1";
            return 0;
        });
    }
    ~TResolverScope() { TIdStack::SetResolverForTesting({}); }
    TResolverScope(const TResolverScope&) = delete;
    TResolverScope& operator=(const TResolverScope&) = delete;
};

}  // namespace quorvel::test
