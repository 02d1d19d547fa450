// ReadLn over every way its input can be split: the lines it returns, the
// errors it raises and what it leaves buffered must not depend on where the
// pieces break, and must match a plain reading of the whole input.
//
// Input: options, limit, plan length, [terminator length, terminator],
// plan bytes, then the payload the peer sends before it closes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "fuzz/fed_socket_platform.h"
#include "fuzz/input_reader.h"
#include "fuzz/split_feed.h"
#include "http/exceptions.h"
#include "http/tcp_client.h"

using namespace quorvel;
using namespace quorvel::fuzz;

namespace {

TFedSocketPlatform* gPlatform = nullptr;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "readln_fuzz: %s\n", what);
    std::abort();
}

std::string Decoded(const std::uint8_t* data, std::size_t size) {
    std::string out;
    for (std::size_t i = 0; i < size; ++i) out.push_back(data[i] < 128 ? static_cast<char>(data[i]) : '?');
    return out;
}

// The buffered bytes must be exactly the front of what is still unread.
void ExpectBuffered(TIdIOHandlerStack& io, const std::uint8_t* rest, std::size_t restSize, bool whole) {
    TIdBuffer& buffer = io.InputBuffer();
    if (buffer.Size() > restSize || (whole && buffer.Size() != restSize)) Fail("buffered bytes differ in count");
    if (!std::equal(buffer.Data(), buffer.Data() + buffer.Size(), rest)) Fail("buffered bytes differ");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static TFedSocketPlatform platform;
    gPlatform = &platform;
    TIdStack::SetPlatformForTesting(gPlatform);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TInputReader in(data, size);
    const std::uint8_t options = in.Byte();
    const std::uint8_t limitByte = in.Byte();
    const std::size_t planLength = in.Byte() % 32;

    std::string terminator;  // what the caller passes
    switch (options & 3) {
        case 0: break;
        case 1: terminator = "\n"; break;
        case 2: terminator = "\r\n"; break;
        default: {
            const std::size_t n = in.Byte() % 3 + 1;
            for (std::size_t i = 0; i < n; ++i) terminator.push_back(static_cast<char>(in.Byte() & 0x7F));
        }
    }
    const bool split = (options & 4) != 0;
    const int limitMode = (options >> 3) & 3;
    const std::int32_t smallLimit = limitByte + 1;
    const bool limitAsArgument = limitMode == 3;
    std::int32_t limit = 16384;  // the transport's default
    if (limitMode == 1 || limitMode == 3) limit = smallLimit;
    if (limitMode == 2) limit = 0;  // no limit
    const std::vector<std::size_t> plan = PlanFromBytes(in.Bytes(planLength));
    const std::uint8_t* payload = in.Rest();
    const std::size_t payloadSize = in.Left();

    const std::string term = terminator.empty() ? std::string("\n") : terminator;
    const std::size_t termLength = term.size();
    TSplitFeed feed(payload, payloadSize, plan);
    gPlatform->SetFeed(&feed);
    {
        TIdTCPClientCustom client;
        client.Host = "127.0.0.1";
        client.Port = 80;
        client.Connect();
        TIdIOHandlerStack& io = *client.IOHandler();
        io.MaxLineAction = split ? TIdMaxLineAction::maSplit : TIdMaxLineAction::maException;
        if (!limitAsArgument) io.MaxLineLength = limit;
        if (options & 0x20) io.RecvBufferSize = (limitByte % 16) + 1;

        std::size_t pos = 0;
        for (;;) {
            const std::uint8_t* rest = payload + pos;
            const std::size_t restSize = payloadSize - pos;
            // A terminator that begins after the limit makes the line too long
            // wherever it is, so the model looks no further than that. memmem:
            // the model's own search must not flood the coverage map.
            const std::size_t window =
                limit > 0 ? std::min(restSize, static_cast<std::size_t>(limit) + termLength) : restSize;
            const void* found = ::memmem(rest, window, term.data(), termLength);
            const bool hasLine = found != nullptr;
            const std::size_t p = hasLine ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - rest) : 0;
            const bool tooLong = limit > 0 && !hasLine && restSize > static_cast<std::size_t>(limit) + termLength - 1;
            std::string line;
            try {
                line = io.ReadLn(terminator, -1, limitAsArgument ? limit : -1);
            } catch (const EIdReadLnMaxLineLengthExceeded&) {
                if (!tooLong || split) Fail("unexpected Max line length exceeded");
                ExpectBuffered(io, rest, restSize, false);
                if (io.InputBuffer().Size() <= static_cast<std::size_t>(limit)) Fail("raised before the limit was passed");
                break;
            } catch (const EIdConnClosedGracefully&) {
                if (hasLine || tooLong) Fail("unexpected Connection Closed Gracefully");
                // Every byte was received and the unfinished line stays.
                ExpectBuffered(io, rest, restSize, true);
                if (feed.Taken() != payloadSize) Fail("closed before the feed was dry");
                break;
            }
            if (io.ReadLnTimedout()) Fail("timed out without a time-out");
            if (tooLong) {
                if (!split || !io.ReadLnSplit()) Fail("a line beyond the limit came back whole");
                if (line != Decoded(rest, static_cast<std::size_t>(limit))) Fail("split line differs");
                pos += static_cast<std::size_t>(limit);
                continue;
            }
            if (!hasLine) Fail("a line came back without its terminator");
            if (io.ReadLnSplit()) Fail("a whole line is marked as split");
            std::size_t length = p;
            if (term == "\n" && length > 0 && rest[length - 1] == '\r') --length;
            if (line != Decoded(rest, length)) Fail("line differs");
            pos += p + termLength;
        }
        client.Disconnect();
    }
    gPlatform->SetFeed(nullptr);
    if (gPlatform->OpenSockets() != 0) Fail("a socket was left open");
    return 0;
}
