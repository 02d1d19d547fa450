// The HTTP/1.1 GET client: one exchange with redirect following, keep-alive
// reuse within the exchange and a cookie store of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "http/cookie_manager.h"
#include "http/header_list.h"
#include "http/stream.h"
#include "http/tcp_client.h"
#include "http/uri.h"

namespace quorvel {

enum class TIdHTTPProtocolVersion { pv1_0, pv1_1 };

// The request settings, reused for every request of an exchange.
class TIdHTTPRequest {
public:
    std::string Method = "GET";
    std::string URL;   // the request target
    std::string Host;  // the Host line value
    std::string Connection;
    std::string ContentVersion, ContentDisposition, ContentEncoding, ContentLanguage, ContentType;
    std::int64_t ContentLength = -1;  // -1: no body, no Content-Length line
    std::string CacheControl, Date, ETag, Expires, Pragma;
    TIdHeaderList CustomHeaders;
    std::string ProxyConnection;
    std::string Accept = "text/html, */*";
    std::string AcceptCharset;
    std::string AcceptEncoding;
    std::string AcceptLanguage, From, Referer;
    std::string UserAgent = "Quorvel-HTTP/1.0";
    std::string Range;  // sent as "bytes=" and the range
    std::string IfModifiedSince;
    std::string Authorization, ProxyAuthorization;
    // From a URL's user information only.
    std::string Username, Password;
    // The header lines of the last request, rebuilt for every request.
    TIdHeaderList RawHeaders;
};

// The last response read; values are taken from RawHeaders after every head.
class TIdHTTPResponse {
public:
    std::string ResponseText;  // the status line as received
    // Parsed from ResponseText each time: -1 when it holds no number.
    int ResponseCode() const;
    TIdHeaderList RawHeaders;
    std::string Location;
    std::string Connection;
    std::string ProxyConnection;
    std::string TransferEncoding;
    std::string ContentType;  // without its charset parameter
    std::string CharSet;      // replaced only by a head that names one
    std::int64_t ContentLength = -1;
    bool HasContentLength() const { return ContentLength >= 0; }
    std::vector<std::string> WWWAuthenticate;
    bool KeepAlive = false;
    TStream* ContentStream = nullptr;  // the caller's stream of the exchange

    // Takes the response values from RawHeaders.
    void ProcessHeaders();
};

class TIdHTTP : public TIdTCPClientCustom {
public:
    TIdHTTP();
    ~TIdHTTP() override;

    bool HandleRedirects = false;
    int RedirectMaximum = 15;
    TIdHTTPProtocolVersion ProtocolVersion = TIdHTTPProtocolVersion::pv1_1;
    bool AllowCookies = true;
    int MaxHeaderLines = 255;
    // A bound on one whole Get in ms (connect, every wait, every redirect);
    // 0 sets none. An expired bound ends the exchange like a time-out.
    std::int32_t ExchangeTimeout = 0;
    // How much of an error body is kept for ErrorMessage; the rest is read
    // and dropped.
    std::size_t ErrorBodyLimit = 64 * 1024;

    TIdHTTPRequest Request;
    TIdHTTPResponse Response;

    int ResponseCode() const { return Response.ResponseCode(); }
    const std::string& ResponseText() const { return Response.ResponseText; }
    // The current URL: the last request's URL after the merge.
    const TIdURI& URL() const { return FURL; }
    int RedirectCount() const { return FRedirectCount; }
    // Exists from the first response head on while AllowCookies is set.
    TIdCookieManager* CookieManager() { return FCookieManager.get(); }

    // Sends GET requests until a final response, whose body (for a 2xx, or a
    // 401 answered in-process) is appended to the stream. Raises the errors
    // of the transport, of the URL model, or EIdHTTPProtocolException.
    void Get(const std::string& url, TStream& stream);

private:
    class TDeadlineScope;
    enum class TGrace { None, Short, Redirect };

    void PrepareRequest(const std::string& url);
    void ConnectForRequest();
    void BuildRequestHeaders();
    void SendRequestHead();
    void ReadResponseHead();
    void ReadOneResponseHead();
    std::string ReadLine();
    // The outcome of a head: the URL to follow, or nothing to finish.
    std::optional<std::string> Decide(TStream& stream);
    [[noreturn]] void RaiseProtocolError(TGrace grace);
    void ReadBody(TStream* target, TGrace grace);
    void ReadChunkedBody(TStream* target);
    // A null target reads into nowhere.
    void ReadCount(TStream* target, std::int64_t count);
    void ReadUntilClose(TStream* target);
    void CheckDeadline() const;
    bool BasicAuthorizationPossible() const;
    bool ComputeKeepAlive();
    void FinishConnection() noexcept;
    TIdIOHandlerStack& Transport();

    TIdURI FURL;
    int FRedirectCount = 0;
    bool FResponseRead = false;
    std::unique_ptr<TIdCookieManager> FCookieManager;
};

}  // namespace quorvel
