// Owning kernel handle. Absence is INVALID_HANDLE_VALUE; null handles from creation calls are
// normalised to it so that callers test one value.
#pragma once

#include <windows.h>
#include <utility>

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle ? handle : INVALID_HANDLE_VALUE) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) Reset(std::exchange(other.handle_, INVALID_HANDLE_VALUE));
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Reset(); }

    void Reset(HANDLE handle = INVALID_HANDLE_VALUE)
    {
        if (valid()) CloseHandle(handle_);
        handle_ = handle ? handle : INVALID_HANDLE_VALUE;
    }
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};
