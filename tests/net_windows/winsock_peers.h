// Raw Windows Sockets peers for the stack's tests: a refused port and a
// listener that never answers a new connect.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>

#include <cstdint>
#include <vector>

#include "http/scoped_generic.h"

namespace quorvel::test {

struct TSocketTraits {
    static SOCKET InvalidValue() { return INVALID_SOCKET; }
    static void Free(SOCKET s) { ::closesocket(s); }
};
using TUniqueSocket = TScopedGeneric<SOCKET, TSocketTraits>;

// A loopback port where nothing listens: bound, never listening, held so
// that no one else takes the port meanwhile.
class TRefusedPort {
public:
    TRefusedPort();
    std::uint16_t Port() const { return FPort; }

private:
    TUniqueSocket FSocket;
    std::uint16_t FPort = 0;
};

// A listener whose accept queue is full, so that a new connect stays
// pending. Blocks() tells whether this platform really leaves it pending.
class TUnansweredListener {
public:
    TUnansweredListener();
    std::uint16_t Port() const { return FPort; }
    bool Blocks() const { return FBlocks; }

private:
    TUniqueSocket FListener;
    std::vector<TUniqueSocket> FFillers;
    std::uint16_t FPort = 0;
    bool FBlocks = false;
};

}  // namespace quorvel::test
