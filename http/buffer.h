// A byte queue: appends at the back, removals at the front, both amortised
// constant per byte, so a line arriving one byte at a time costs no copying
// beyond its length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "http/component.h"
#include "http/stream.h"
#include "http/text_encoding.h"

namespace quorvel {

class TIdBuffer : public TIdComponent {
public:
    std::size_t Size() const { return FBytes.size() - FHead; }
    bool Empty() const { return Size() == 0; }
    // The queued bytes, front first; valid until the next change.
    const std::uint8_t* Data() const { return FBytes.data() + FHead; }
    std::uint8_t PeekByte(std::size_t index) const { return FBytes[FHead + index]; }
    // A copy of the first min(count, Size()) bytes.
    Bytes Peek(std::size_t count) const;

    void Write(const std::uint8_t* data, std::size_t count);
    void Write(const Bytes& bytes) { Write(bytes.data(), bytes.size()); }

    // Index (from the front) of the first occurrence of `bytes` at or after
    // `start`; -1 when there is none or `bytes` is empty.
    std::int64_t IndexOf(const Bytes& bytes, std::size_t start = 0) const;

    // The removals take at most Size() bytes.
    void Remove(std::size_t count);
    Bytes Extract(std::size_t count);
    void ExtractAppend(Bytes& out, std::size_t count);
    void ExtractToStream(TStream& stream, std::size_t count);
    void Clear();

private:
    void Compact();
    std::vector<std::uint8_t> FBytes;
    std::size_t FHead = 0;  // bytes before it are already removed
};

}  // namespace quorvel
