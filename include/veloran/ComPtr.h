// Owning pointer to a COM interface: one reference, released on destruction.
#pragma once

#include <unknwn.h>
#include <utility>

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr& other) : ptr_(other.ptr_) { if (ptr_) ptr_->AddRef(); }
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(ComPtr other) noexcept { std::swap(ptr_, other.ptr_); return *this; }

    // Takes over a reference the caller already holds.
    static ComPtr Attach(T* ptr) { ComPtr result; result.ptr_ = ptr; return result; }

    void Reset() { if (T* old = std::exchange(ptr_, nullptr)) old->Release(); }
    T* Get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

    // For out-parameters of creation calls; drops what was held.
    T** Put() { Reset(); return &ptr_; }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

private:
    T* ptr_ = nullptr;
};
