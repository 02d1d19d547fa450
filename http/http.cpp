#include "http/http.h"

#include <algorithm>
#include <chrono>

#include "http/exceptions.h"
#include "http/http_text.h"
#include "http/text_encoding.h"

namespace quorvel {

namespace {

constexpr std::int32_t kRedirectGraceMs = 5000;
constexpr std::int32_t kShortGraceMs = 100;
// Bodies are read in pieces of this size: a peer that sends without pause
// never makes the transport wait, so the deadline is looked at between them.
constexpr std::int64_t kBodyPiece = 1 << 20;

bool IsSupportedAuthScheme(std::string_view scheme) {
    return EqualsIgnoreCase(scheme, "Basic") || EqualsIgnoreCase(scheme, "Digest") ||
           EqualsIgnoreCase(scheme, "NTLM");
}

}  // namespace

// ---- Response values ------------------------------------------------------

int TIdHTTPResponse::ResponseCode() const { return ParseResponseCode(ResponseText); }

void TIdHTTPResponse::ProcessHeaders() {
    Location = RawHeaders.Values("Location");
    Connection = RawHeaders.Values("Connection");
    ProxyConnection = RawHeaders.Values("Proxy-Connection");
    TransferEncoding = RawHeaders.Values("Transfer-Encoding");
    std::string charset;
    if (SplitContentType(RawHeaders.Values("Content-Type"), ContentType, charset)) CharSet = charset;
    ContentLength = ParseContentLength(RawHeaders.Values("Content-Length"));
    WWWAuthenticate = RawHeaders.AllValues("WWW-Authenticate");
}

// ---- The exchange ---------------------------------------------------------

// Bounds one Get when ExchangeTimeout is set, and puts the caller's own
// deadline back afterwards.
class TIdHTTP::TDeadlineScope {
public:
    explicit TDeadlineScope(TIdHTTP& http) : FHttp(http), FSaved(http.Deadline) {
        if (http.ExchangeTimeout <= 0) return;
        FArmed = true;
        http.SetDeadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(http.ExchangeTimeout));
    }
    ~TDeadlineScope() {
        if (FArmed) FHttp.SetDeadline(FSaved);
    }
    TDeadlineScope(const TDeadlineScope&) = delete;
    TDeadlineScope& operator=(const TDeadlineScope&) = delete;

private:
    TIdHTTP& FHttp;
    TIdDeadline FSaved;
    bool FArmed = false;
};

TIdHTTP::TIdHTTP() = default;
TIdHTTP::~TIdHTTP() = default;

TIdIOHandlerStack& TIdHTTP::Transport() {
    TIdIOHandlerStack* io = IOHandler();
    if (io == nullptr) throw EIdException("Not Connected");
    return *io;
}

void TIdHTTP::Get(const std::string& url, TStream& stream) {
    TDeadlineScope deadline(*this);
    FRedirectCount = 0;
    const std::int64_t start = stream.Position();
    Request.Method = "GET";
    Request.ContentLength = -1;
    Response.ContentStream = &stream;

    std::string next = url;
    try {
        for (;;) {
            PrepareRequest(next);
            ConnectForRequest();
            SendRequestHead();
            ReadResponseHead();
            std::optional<std::string> follow = Decide(stream);
            if (!follow) break;
            stream.SetPosition(start);
            stream.SetSize(start);
            next = std::move(*follow);
        }
    } catch (...) {
        FinishConnection();
        throw;
    }
    FinishConnection();
}

void TIdHTTP::PrepareRequest(const std::string& url) {
    MergeURI(FURL, TIdURI(url), Request.Username, Request.Password);
    Request.URL = FURL.GetPathAndParams();
    Request.ContentLength = -1;
    Request.Host = HostLineValue(FURL);
    // A CR or LF here would let the URL write lines of its own into the head;
    // a host cannot be escaped the way a path can.
    if (HasControlByte(Request.Host))
        throw EIdException("Invalid host name: it holds a control character");
}

void TIdHTTP::ConnectForRequest() {
    if (IOHandler() != nullptr && IOHandler()->HasSocket() && IOHandler()->IPVersion != FURL.IPVersion &&
        Connected())
        Disconnect();
    const TIdConnectTarget target = ConnectTarget(FURL);
    if ((!EqualsIgnoreCase(target.Host, Host) || target.Port != Port) && Connected()) Disconnect();
    if (EqualsIgnoreCase(FURL.Protocol, "https")) throw EIdIOHandlerPropInvalid();
    Host = target.Host;
    Port = target.Port;

    if (AsciiLowerCopy(Request.AcceptEncoding).find("identity") == std::string::npos)
        Request.AcceptEncoding = Request.AcceptEncoding.empty() ? "identity" : Request.AcceptEncoding + ", identity";

    if (!ComputeKeepAlive()) Disconnect();
    CheckForGracefulDisconnect(false);
    if (!Connected()) {
        IPVersion = FURL.IPVersion;
        Connect();
    }
}

void TIdHTTP::BuildRequestHeaders() {
    TIdHeaderList& h = Request.RawHeaders;
    h.Clear();
    const auto add = [&h](const char* name, const std::string& value) {
        if (!value.empty()) h.AddValue(name, value);
    };
    add("Connection", Request.Connection);
    add("Content-Version", Request.ContentVersion);
    add("Content-Disposition", Request.ContentDisposition);
    add("Content-Encoding", Request.ContentEncoding);
    add("Content-Language", Request.ContentLanguage);
    add("Content-Type", Request.ContentType);
    if (Request.ContentLength >= 0) h.AddValue("Content-Length", std::to_string(Request.ContentLength));
    add("Cache-control", Request.CacheControl);
    add("Date", Request.Date);
    add("ETag", Request.ETag);
    add("Expires", Request.Expires);
    add("Pragma", Request.Pragma);
    for (const std::string& line : Request.CustomHeaders.Lines()) h.Add(line);
    add("Proxy-Connection", Request.ProxyConnection);
    add("Host", Request.Host);
    add("Accept", Request.Accept);
    add("Accept-Charset", Request.AcceptCharset);
    add("Accept-Encoding", Request.AcceptEncoding);
    add("Accept-Language", Request.AcceptLanguage);
    add("From", Request.From);
    add("Referer", Request.Referer);
    add("User-Agent", Request.UserAgent);
    if (!Request.Range.empty()) h.AddValue("Range", "bytes=" + Request.Range);
    add("If-Modified-Since", Request.IfModifiedSince);
    add("Authorization", Request.Authorization);
    add("Proxy-Authorization", Request.ProxyAuthorization);
    if (FCookieManager) {
        std::string cookie, cookie2;
        if (FCookieManager->GenerateCookieLines(FURL, cookie, cookie2)) {
            h.AddValue("Cookie", cookie);
            h.AddValue("Cookie2", cookie2);
        }
    }
}

void TIdHTTP::SendRequestHead() {
    BuildRequestHeaders();
    const char* version = ProtocolVersion == TIdHTTPProtocolVersion::pv1_0 ? "1.0" : "1.1";
    // The target is sent unescaped except for control bytes, which would end
    // the request line early and start lines the caller never wrote.
    const std::string requestLine = Request.Method + " " + EscapeControlBytes(Request.URL) + " HTTP/" + version;
    const std::vector<std::string> lines = Request.RawHeaders.FoldedLines();

    TIdIOHandlerStack& io = Transport();
    if (!io.WriteBufferingActive()) io.WriteBufferOpen();
    try {
        io.WriteLn(requestLine);
        for (const std::string& line : lines) {
            if (!line.empty()) io.WriteLn(line);
        }
        io.WriteLn();
        io.WriteBufferClose();
    } catch (...) {
        io.WriteBufferCancel();
        throw;
    }
}

void TIdHTTP::CheckDeadline() const {
    if (Deadline && std::chrono::steady_clock::now() >= *Deadline) throw EIdReadTimeout();
}

std::string TIdHTTP::ReadLine() {
    // Lines that keep arriving never make the transport wait.
    CheckDeadline();
    TIdIOHandlerStack& io = Transport();
    std::string line = io.ReadLn();
    if (io.ReadLnTimedout()) throw EIdReadTimeout();
    return line;
}

void TIdHTTP::ReadResponseHead() {
    do {
        ReadOneResponseHead();
    } while (Response.ResponseCode() == 100);
}

void TIdHTTP::ReadOneResponseHead() {
    Response.ResponseText = ReadLine();
    FResponseRead = true;
    Response.RawHeaders.Clear();
    try {
        int taken = 0;
        for (;;) {
            std::string line = ReadLine();
            if (line.empty()) break;
            // Lines beyond the limit are still read, so that the body starts
            // where it should, but not kept.
            if (taken < MaxHeaderLines) {
                Response.RawHeaders.Add(std::move(line));
                ++taken;
            }
        }
    } catch (const EIdConnClosedGracefully&) {
        Disconnect();
    }
    Response.ProcessHeaders();
    if (AllowCookies) {
        if (!FCookieManager) FCookieManager = std::make_unique<TIdCookieManager>();
        FCookieManager->AddCookies(Response.RawHeaders, FURL);
    }
}

std::optional<std::string> TIdHTTP::Decide(TStream& stream) {
    const int code = Response.ResponseCode();
    const int codeClass = code / 100;

    if ((codeClass == 3 && code != 304) || (!Response.Location.empty() && code != 201)) {
        if (!HandleRedirects) RaiseProtocolError(TGrace::None);
        ++FRedirectCount;
        if (Connected()) ReadBody(nullptr, TGrace::Redirect);
        if (FRedirectCount < RedirectMaximum) return Response.Location;
        return std::nullopt;
    }
    if (codeClass == 2) {
        if (code == 204) {
            ReadBody(nullptr, TGrace::Short);
        } else {
            ReadBody(&stream, TGrace::None);
        }
        return std::nullopt;
    }
    if (code == 401 && BasicAuthorizationPossible()) {
        // Re-authentication in the same exchange is off: the 401 is final.
        ReadBody(&stream, TGrace::None);
        return std::nullopt;
    }
    if (code == 407) RaiseProtocolError(TGrace::None);
    if (codeClass == 1 || code == 304) RaiseProtocolError(TGrace::Short);
    RaiseProtocolError(TGrace::None);
}

void TIdHTTP::RaiseProtocolError(TGrace grace) {
    TMemoryStream scratch(ErrorBodyLimit);
    ReadBody(&scratch, grace);
    throw EIdHTTPProtocolException(Response.ResponseText, Response.ResponseCode(),
                                   DecodeCharset(scratch.Bytes(), Response.CharSet));
}

bool TIdHTTP::BasicAuthorizationPossible() const {
    if (Request.Password.empty()) return false;
    for (const std::string& line : Response.WWWAuthenticate) {
        const std::string_view scheme = std::string_view(line).substr(0, line.find(' '));
        if (IsSupportedAuthScheme(scheme)) return EqualsIgnoreCase(scheme, "Basic");
    }
    return false;
}

// ---- Bodies ---------------------------------------------------------------

void TIdHTTP::ReadBody(TStream* target, TGrace grace) {
    TIdIOHandlerStack& io = Transport();
    const bool chunked = AsciiLowerCopy(Response.TransferEncoding).find("chunked") != std::string::npos;
    if (chunked) {
        ReadChunkedBody(target);
        return;
    }
    // A head that says Content-Length: 0 has no body to wait for.
    if (Response.ContentLength == 0) return;
    if (grace != TGrace::None && io.InputBufferIsEmpty()) {
        io.CheckForDataOnSource(grace == TGrace::Redirect ? kRedirectGraceMs : kShortGraceMs);
        if (io.InputBufferIsEmpty()) return;
    }
    if (Response.ContentLength > 0) {
        try {
            ReadCount(target, Response.ContentLength);
        } catch (const EIdConnClosedGracefully&) {
            // A close before the announced length ends the body there.
        }
    } else {
        ReadUntilClose(target);
    }
}

void TIdHTTP::ReadChunkedBody(TStream* target) {
    for (;;) {
        const std::int64_t size = ParseChunkSize(ReadLine());
        if (size <= 0) break;
        ReadCount(target, size);
        ReadLine();
    }
    // Trailer lines, up to and including the empty line that ends them: a
    // kept connection then starts right at the next response.
    while (!ReadLine().empty()) {
    }
}

void TIdHTTP::ReadCount(TStream* target, std::int64_t count) {
    TNullStream nowhere;
    TStream& out = target != nullptr ? *target : nowhere;
    while (count > 0) {
        CheckDeadline();
        const std::int64_t piece = std::min(count, kBodyPiece);
        Transport().ReadStream(out, piece, false);
        count -= piece;
    }
}

void TIdHTTP::ReadUntilClose(TStream* target) {
    TNullStream nowhere;
    TStream& out = target != nullptr ? *target : nowhere;
    for (;;) {
        CheckDeadline();
        try {
            Transport().ReadStream(out, kBodyPiece, false);
        } catch (const EIdConnClosedGracefully&) {
            return;
        }
    }
}

// ---- Keep-alive -----------------------------------------------------------

bool TIdHTTP::ComputeKeepAlive() {
    if (!FResponseRead) {
        Response.KeepAlive = false;
        return false;
    }
    if (Connected()) IOHandler()->CheckForDisconnect(false);
    bool alive = Connected();
    if (alive) {
        const auto is = [](const std::string& value, const char* token) { return EqualsIgnoreCase(Trim(value), token); };
        if (ProtocolVersion == TIdHTTPProtocolVersion::pv1_1) {
            alive = !is(Response.Connection, "close") && !is(Response.ProxyConnection, "close");
        } else {
            alive = is(Response.Connection, "keep-alive") || is(Response.ProxyConnection, "keep-alive");
        }
    }
    Response.KeepAlive = alive;
    return alive;
}

void TIdHTTP::FinishConnection() noexcept {
    // The exchange's outcome is already decided; a connection that cannot
    // even be polled is simply not kept.
    bool alive = false;
    try {
        alive = ComputeKeepAlive();
    } catch (...) {
        Response.KeepAlive = false;
    }
    if (alive) return;
    try {
        Disconnect(false);
    } catch (...) {
    }
}

}  // namespace quorvel
