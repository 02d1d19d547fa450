#include "http/buffer.h"

#include <algorithm>
#include <cstring>

namespace quorvel {

Bytes TIdBuffer::Peek(std::size_t count) const {
    count = std::min(count, Size());
    return Bytes(Data(), Data() + count);
}

void TIdBuffer::Write(const std::uint8_t* data, std::size_t count) {
    if (count == 0) return;
    FBytes.insert(FBytes.end(), data, data + count);
}

std::int64_t TIdBuffer::IndexOf(const Bytes& bytes, std::size_t start) const {
    const std::size_t size = Size();
    if (bytes.empty() || start >= size || bytes.size() > size - start) return -1;
    const std::uint8_t* begin = Data();
    const std::uint8_t* end = begin + size;
    const std::uint8_t* last = end - bytes.size();
    // memchr for the first byte keeps a long line without terminator cheap.
    for (const std::uint8_t* p = begin + start; p <= last;) {
        const void* hit = std::memchr(p, bytes[0], static_cast<std::size_t>(last - p) + 1);
        if (hit == nullptr) return -1;
        p = static_cast<const std::uint8_t*>(hit);
        if (std::equal(bytes.begin(), bytes.end(), p)) return p - begin;
        ++p;
    }
    return -1;
}

void TIdBuffer::Remove(std::size_t count) {
    FHead += std::min(count, Size());
    Compact();
}

Bytes TIdBuffer::Extract(std::size_t count) {
    Bytes out;
    ExtractAppend(out, count);
    return out;
}

void TIdBuffer::ExtractAppend(Bytes& out, std::size_t count) {
    count = std::min(count, Size());
    out.insert(out.end(), Data(), Data() + count);
    Remove(count);
}

void TIdBuffer::ExtractToStream(TStream& stream, std::size_t count) {
    count = std::min(count, Size());
    if (count > 0) stream.Write(Data(), count);
    Remove(count);
}

void TIdBuffer::Clear() {
    FBytes.clear();
    FHead = 0;
}

void TIdBuffer::Compact() {
    if (FHead == FBytes.size()) {
        Clear();
        return;
    }
    // Moving the rest only once the dead front outweighs it keeps every byte
    // moved a bounded number of times.
    if (FHead >= 4096 && FHead >= FBytes.size() - FHead) {
        FBytes.erase(FBytes.begin(), FBytes.begin() + static_cast<std::ptrdiff_t>(FHead));
        FHead = 0;
    }
}

}  // namespace quorvel
