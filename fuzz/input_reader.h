// Reads a fuzz input front to back: a few option bytes, then the rest. Past
// the end every read gives zero, so any input is a valid one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::fuzz {

class TInputReader {
public:
    TInputReader(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size) {}

    std::uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
    std::vector<std::uint8_t> Bytes(std::size_t count) {
        const std::size_t n = count < Left() ? count : Left();
        std::vector<std::uint8_t> out(FData + FPos, FData + FPos + n);
        FPos += n;
        return out;
    }
    // Text up to the next NUL byte (which is taken) or the end.
    std::string Field() {
        std::string out;
        while (FPos < FSize && FData[FPos] != 0) out.push_back(static_cast<char>(FData[FPos++]));
        if (FPos < FSize) ++FPos;
        return out;
    }
    const std::uint8_t* Rest() const { return FData + FPos; }
    std::size_t Left() const { return FSize - FPos; }
    bool AtEnd() const { return FPos >= FSize; }

private:
    const std::uint8_t* FData;
    std::size_t FSize;
    std::size_t FPos = 0;
};

}  // namespace quorvel::fuzz
