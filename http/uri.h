// The URL model: a URL text split into its parts, the merge of a next URL
// into the current one, and what the request line and connect take from it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "http/ip_version.h"

namespace quorvel {

class TIdURI {
public:
    TIdURI() = default;
    explicit TIdURI(std::string_view text) { SetURI(text); }

    // Parsing never fails: malformed text only yields odd fields.
    void SetURI(std::string_view text);
    // The request target: path, document and query, never the fragment.
    std::string GetPathAndParams() const;

    std::string URI;
    std::string Protocol;
    std::string Username;
    std::string Password;
    std::string Host;
    std::string Port;
    std::string Path;
    std::string Document;
    std::string Params;
    std::string Bookmark;
    TIdIPVersion IPVersion = TIdIPVersion::Id_IPv4;
};

// Resolves a path against a base directory: runs of "/" collapse and ".."
// goes one directory up; a path beginning with "/" is taken unchanged.
std::string MergePath(std::string_view base, std::string_view path);

// Takes the next request's URL into the current one and updates the request's
// credentials. Raises EIdUnknownProtocol when no port can be derived; then
// neither the URL nor the credentials are changed.
void MergeURI(TIdURI& current, const TIdURI& next, std::string& requestUsername,
              std::string& requestPassword);

// The Host line value: the port is left out only when written as "80".
std::string HostLineValue(const TIdURI& uri);

struct TIdConnectTarget {
    std::string Host;
    std::uint16_t Port = 0;
};

// Host and port number to connect to. A port that is not a number connects to
// 80; a number outside 0..65535 (however long) raises ERangeError.
TIdConnectTarget ConnectTarget(const TIdURI& uri);

}  // namespace quorvel
