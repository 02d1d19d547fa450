// TIdSockAddr to and from the platform's socket address records, for both
// socket stacks. Include it after the platform's socket headers: POSIX and
// Windows Sockets declare sockaddr_in, sockaddr_in6 and sockaddr_storage
// alike.
#pragma once

#include <cstdint>
#include <cstring>

#include "http/stack.h"

namespace quorvel::sockaddr_record {

// Network byte order written byte by byte: no library call, which the
// Windows stack could not make before its library is loaded.
inline void PutPort(std::uint16_t port, void* field) {
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(port >> 8), static_cast<std::uint8_t>(port)};
    std::memcpy(field, bytes, 2);
}

inline std::uint16_t GetPort(const void* field) {
    std::uint8_t bytes[2];
    std::memcpy(bytes, field, 2);
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

// The record's length.
inline int ToSockaddr(const TIdSockAddr& a, sockaddr_storage& out) {
    std::memset(&out, 0, sizeof out);
    if (a.Version == TIdIPVersion::Id_IPv4) {
        auto* in = reinterpret_cast<sockaddr_in*>(&out);
        in->sin_family = AF_INET;
        PutPort(a.Port, &in->sin_port);
        std::memcpy(&in->sin_addr, a.Bytes.data(), 4);
        return sizeof(sockaddr_in);
    }
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&out);
    in6->sin6_family = AF_INET6;
    PutPort(a.Port, &in6->sin6_port);
    std::memcpy(&in6->sin6_addr, a.Bytes.data(), 16);
    return sizeof(sockaddr_in6);
}

// False for a family other than IPv4 and IPv6.
inline bool FromSockaddr(const sockaddr* sa, TIdSockAddr& out) {
    out = TIdSockAddr{};
    if (sa->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(sa);
        out.Version = TIdIPVersion::Id_IPv4;
        out.Port = GetPort(&in->sin_port);
        std::memcpy(out.Bytes.data(), &in->sin_addr, 4);
        return true;
    }
    if (sa->sa_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(sa);
        out.Version = TIdIPVersion::Id_IPv6;
        out.Port = GetPort(&in6->sin6_port);
        std::memcpy(out.Bytes.data(), &in6->sin6_addr, 16);
        return true;
    }
    return false;
}

}  // namespace quorvel::sockaddr_record
