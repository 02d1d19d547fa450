// The install report's exchange: one GET whose only outcome is whether the
// final status was 2xx. The probe quorvel-get runs exactly this code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "http/http.h"

namespace quorvel {

// The report's limits. The connect limit is the report's own; the others keep
// a server that accepts and then stalls or floods from holding the window.
inline constexpr std::int32_t kReportConnectTimeout = 5000;
inline constexpr std::int32_t kReportReadTimeout = 10000;
inline constexpr std::int32_t kReportExchangeTimeout = 15000;
// The body is never looked at; only this much of it is kept.
inline constexpr std::size_t kReportBodyKept = 64 * 1024;

// The report's settings on a fresh client.
void ApplyReportSettings(TIdHTTP& http);

// What one call saw, for the probe.
struct THttpGetOutcome {
    bool Result = false;
    int Code = -1;           // the last response's code; -1 when none was read
    std::string ErrorClass;  // the class of the error that ended it, or empty
    std::string Message;
    int LastError = 0;       // of a socket error, else 0
    std::uint64_t BodyBytes = 0;  // body bytes of the final response
};

// True exactly when the exchange completed with a 2xx final status. Every
// failure of the exchange gives false; only an error creating the client
// object passes on.
bool HttpGetOk(const std::string& url);
bool HttpGetOk(const std::string& url, THttpGetOutcome* outcome);

}  // namespace quorvel
