#pragma once

namespace quorvel {
// Address family of sockets and name lookups.
enum class TIdIPVersion { Id_IPv4, Id_IPv6 };
}  // namespace quorvel
