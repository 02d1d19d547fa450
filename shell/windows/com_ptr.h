// Owners of COM references and of the OLE values the site hands over.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

#include <utility>

#include "http/scoped_generic.h"

namespace quorvel::win {

// Holds one reference and releases it.
template <typename T>
class TComPtr {
public:
    TComPtr() = default;
    ~TComPtr() { Reset(); }
    TComPtr(const TComPtr&) = delete;
    TComPtr& operator=(const TComPtr&) = delete;
    TComPtr(TComPtr&& other) noexcept : FPointer(std::exchange(other.FPointer, nullptr)) {}
    TComPtr& operator=(TComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            FPointer = std::exchange(other.FPointer, nullptr);
        }
        return *this;
    }

    T* Get() const { return FPointer; }
    T* operator->() const { return FPointer; }
    explicit operator bool() const { return FPointer != nullptr; }

    // For calls that hand out a new reference: releases the old one first.
    T** Put() {
        Reset();
        return &FPointer;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    void Reset() {
        if (FPointer != nullptr) std::exchange(FPointer, nullptr)->Release();
    }

    // QueryInterface on `from`; empty when the interface is not offered.
    template <typename U>
    static TComPtr From(U* from, REFIID iid) {
        TComPtr result;
        if (from != nullptr && FAILED(from->QueryInterface(iid, result.PutVoid()))) result.Reset();
        return result;
    }

private:
    T* FPointer = nullptr;
};

// A BSTR with one owner.
using TBstr = TScopedGeneric<BSTR, TNullHandleTraits<BSTR, ::SysFreeString>>;

// A VARIANT cleared when it goes.
class TVariant {
public:
    TVariant() { ::VariantInit(&FValue); }
    ~TVariant() { ::VariantClear(&FValue); }
    TVariant(const TVariant&) = delete;
    TVariant& operator=(const TVariant&) = delete;
    VARIANT* Get() { return &FValue; }
    const VARIANT& Value() const { return FValue; }

private:
    VARIANT FValue;
};

}  // namespace quorvel::win
