#include "report/http_get_ok.h"

#include "http/exceptions.h"
#include "http/stream.h"

namespace quorvel {

void ApplyReportSettings(TIdHTTP& http) {
    http.HandleRedirects = true;
    http.Request.UserAgent.clear();
    http.Request.Accept = "application/json";
    http.ConnectTimeout = kReportConnectTimeout;
    http.ReadTimeout = kReportReadTimeout;
    http.ExchangeTimeout = kReportExchangeTimeout;
}

bool HttpGetOk(const std::string& url) { return HttpGetOk(url, nullptr); }

bool HttpGetOk(const std::string& url, THttpGetOutcome* outcome) {
    THttpGetOutcome local;
    THttpGetOutcome& out = outcome != nullptr ? *outcome : local;
    out = THttpGetOutcome{};

    // Creating the client starts the socket library; that failure is the
    // caller's to see.
    TIdHTTP http;
    TMemoryStream body(kReportBodyKept);
    try {
        ApplyReportSettings(http);
        http.Get(url, body);
        const int code = http.ResponseCode();
        out.Result = code >= 200 && code <= 299;
    } catch (const EIdSocketError& e) {
        out.ErrorClass = e.ClassName();
        out.Message = e.Message();
        out.LastError = e.LastError();
    } catch (const Exception& e) {
        out.ErrorClass = e.ClassName();
        out.Message = e.Message();
    } catch (const std::exception& e) {
        out.ErrorClass = "std::exception";
        out.Message = e.what();
    } catch (...) {
        out.ErrorClass = "unknown";
    }
    out.Code = http.ResponseCode();
    out.BodyBytes = static_cast<std::uint64_t>(body.Size());
    return out.Result;
}

}  // namespace quorvel
