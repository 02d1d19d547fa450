// A feed that hands out a fixed payload in pieces whose sizes repeat a given
// plan, so one fuzz input decides both the bytes and where they split.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fed_socket_platform.h"

namespace quorvel::fuzz {

class TSplitFeed : public TByteFeed {
public:
    // An empty plan hands out as much as the reader asks for.
    TSplitFeed(const std::uint8_t* data, std::size_t size, std::vector<std::size_t> plan)
        : FData(data), FSize(size), FPlan(std::move(plan)) {}

    std::size_t Next(std::uint8_t* out, std::size_t room) override {
        const std::size_t left = FSize - FTaken;
        if (left == 0) return 0;
        std::size_t piece = left;
        if (!FPlan.empty()) {
            piece = std::max<std::size_t>(FPlan[FStep % FPlan.size()], 1);
            ++FStep;
        }
        piece = std::min({piece, left, room});
        std::memcpy(out, FData + FTaken, piece);
        FTaken += piece;
        return piece;
    }
    std::size_t Taken() const { return FTaken; }

private:
    const std::uint8_t* FData;
    std::size_t FSize;
    std::vector<std::size_t> FPlan;
    std::size_t FTaken = 0;
    std::size_t FStep = 0;
};

// Piece sizes from plan bytes: small pieces are the interesting ones, so most
// bytes give 1..64 and a few give larger steps up to 16 KiB.
inline std::vector<std::size_t> PlanFromBytes(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::size_t> plan;
    plan.reserve(bytes.size());
    for (std::uint8_t b : bytes) plan.push_back(b < 0xC0 ? (b % 64) + 1 : std::size_t(b - 0xBF) * 256);
    return plan;
}

}  // namespace quorvel::fuzz
