// Destination streams for response bodies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvel {

class TStream {
public:
    virtual ~TStream() = default;
    virtual std::int64_t Position() const = 0;
    virtual void SetPosition(std::int64_t position) = 0;
    virtual std::int64_t Size() const = 0;
    // Changes the logical size. Growing must not allocate the new size up
    // front: a peer's Content-Length decides it.
    virtual void SetSize(std::int64_t size) = 0;
    // Writes at the position, advancing it (and the size when it passes it).
    virtual void Write(const std::uint8_t* data, std::size_t count) = 0;
};

// Keeps at most Limit bytes of content (all of them by default) and counts
// every byte written; positions and sizes are logical.
class TMemoryStream : public TStream {
public:
    explicit TMemoryStream(std::size_t limit = SIZE_MAX) : FLimit(limit) {}
    std::int64_t Position() const override { return FPosition; }
    void SetPosition(std::int64_t position) override;
    std::int64_t Size() const override { return FSize; }
    void SetSize(std::int64_t size) override;
    void Write(const std::uint8_t* data, std::size_t count) override;

    // The kept prefix of the content (the first min(Size, Limit) bytes).
    const std::vector<std::uint8_t>& Bytes() const { return FBytes; }
    // Every byte ever written, whether kept or not.
    std::uint64_t BytesWritten() const { return FWritten; }
    std::size_t Limit() const { return FLimit; }

private:
    std::size_t FLimit;
    std::vector<std::uint8_t> FBytes;
    std::int64_t FPosition = 0;
    std::int64_t FSize = 0;
    std::uint64_t FWritten = 0;
};

// Drops what it is given but keeps positions, so length checks still work.
class TNullStream : public TStream {
public:
    std::int64_t Position() const override { return FPosition; }
    void SetPosition(std::int64_t position) override { FPosition = position; }
    std::int64_t Size() const override { return FSize; }
    void SetSize(std::int64_t size) override;
    void Write(const std::uint8_t* data, std::size_t count) override;
    std::uint64_t BytesWritten() const { return FWritten; }

private:
    std::int64_t FPosition = 0;
    std::int64_t FSize = 0;
    std::uint64_t FWritten = 0;
};

}  // namespace quorvel
