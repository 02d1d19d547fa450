// The one owner template for platform handles: a value, the value that means
// "none" and the call that frees it come from Traits, as
//     struct TFdTraits {
//         static int InvalidValue() { return -1; }
//         static void Free(int fd) { ::close(fd); }
//     };
// Move-only, so that every handle is freed exactly once.
#pragma once

#include <utility>

namespace quorvel {

template <typename T, typename Traits>
class TScopedGeneric {
public:
    TScopedGeneric() = default;
    explicit TScopedGeneric(T value) : FValue(value) {}
    ~TScopedGeneric() { Reset(); }
    TScopedGeneric(const TScopedGeneric&) = delete;
    TScopedGeneric& operator=(const TScopedGeneric&) = delete;
    TScopedGeneric(TScopedGeneric&& other) noexcept : FValue(other.Release()) {}
    TScopedGeneric& operator=(TScopedGeneric&& other) noexcept {
        Reset(other.Release());
        return *this;
    }

    T Get() const { return FValue; }
    bool IsValid() const { return FValue != Traits::InvalidValue(); }
    // Hands the value over without freeing it.
    [[nodiscard]] T Release() { return std::exchange(FValue, Traits::InvalidValue()); }
    // Frees the value held, if any, and holds `value` instead.
    void Reset(T value = Traits::InvalidValue()) {
        // Nothing is held while the old value is freed: a window procedure
        // that runs inside DestroyWindow must not find its window here.
        const T previous = Release();
        if (previous != Traits::InvalidValue()) Traits::Free(previous);
        FValue = value;
    }

private:
    T FValue = Traits::InvalidValue();
};

// The traits of a handle whose "none" is nullptr and which one call frees.
template <typename T, auto FreeCall>
struct TNullHandleTraits {
    static T InvalidValue() { return nullptr; }
    static void Free(T value) { FreeCall(value); }
};

}  // namespace quorvel
