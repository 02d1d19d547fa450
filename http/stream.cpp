#include "http/stream.h"

#include <algorithm>

namespace quorvel {

void TMemoryStream::SetPosition(std::int64_t position) { FPosition = std::max<std::int64_t>(position, 0); }

void TMemoryStream::SetSize(std::int64_t size) {
    FSize = std::max<std::int64_t>(size, 0);
    if (static_cast<std::uint64_t>(FSize) < FBytes.size()) FBytes.resize(static_cast<std::size_t>(FSize));
    FPosition = std::min(FPosition, FSize);
}

void TMemoryStream::Write(const std::uint8_t* data, std::size_t count) {
    FWritten += count;
    const auto start = static_cast<std::uint64_t>(FPosition);
    if (start < FLimit) {
        const std::uint64_t kept = std::min<std::uint64_t>(count, FLimit - start);
        const auto end = static_cast<std::size_t>(start + kept);
        // Gaps from a position beyond the kept bytes read as zeros.
        if (FBytes.size() < end) FBytes.resize(end);
        std::copy(data, data + kept, FBytes.begin() + static_cast<std::ptrdiff_t>(start));
    }
    FPosition += static_cast<std::int64_t>(count);
    FSize = std::max(FSize, FPosition);
}

void TNullStream::SetSize(std::int64_t size) {
    FSize = std::max<std::int64_t>(size, 0);
    FPosition = std::min(FPosition, FSize);
}

void TNullStream::Write(const std::uint8_t*, std::size_t count) {
    FWritten += count;
    FPosition += static_cast<std::int64_t>(count);
    FSize = std::max(FSize, FPosition);
}

}  // namespace quorvel
