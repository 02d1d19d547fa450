// Raw Windows Sockets peers for the stack's tests: a refused port and a
// listener that never answers a new connect.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>

#include <cstdint>
#include <vector>

namespace quorvel::test {

// A loopback port where nothing listens: bound, never listening, held so
// that no one else takes the port meanwhile.
class RefusedPort {
public:
    RefusedPort();
    ~RefusedPort();
    RefusedPort(const RefusedPort&) = delete;
    RefusedPort& operator=(const RefusedPort&) = delete;
    std::uint16_t Port() const { return FPort; }

private:
    SOCKET FSocket = INVALID_SOCKET;
    std::uint16_t FPort = 0;
};

// A listener whose accept queue is full, so that a new connect stays
// pending. Blocks() tells whether this platform really leaves it pending.
class UnansweredListener {
public:
    UnansweredListener();
    ~UnansweredListener();
    UnansweredListener(const UnansweredListener&) = delete;
    UnansweredListener& operator=(const UnansweredListener&) = delete;
    std::uint16_t Port() const { return FPort; }
    bool Blocks() const { return FBlocks; }

private:
    SOCKET FListener = INVALID_SOCKET;
    std::vector<SOCKET> FFillers;
    std::uint16_t FPort = 0;
    bool FBlocks = false;
};

}  // namespace quorvel::test
