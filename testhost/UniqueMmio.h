// Owning multimedia-file handle: closed when the owner goes, so no failure path leaks it.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <utility>

class UniqueMmio {
public:
    UniqueMmio() = default;
    explicit UniqueMmio(HMMIO handle) : handle_(handle) {}
    UniqueMmio(UniqueMmio&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    UniqueMmio& operator=(UniqueMmio&& other) noexcept
    {
        if (this != &other) Reset(std::exchange(other.handle_, nullptr));
        return *this;
    }
    UniqueMmio(const UniqueMmio&) = delete;
    UniqueMmio& operator=(const UniqueMmio&) = delete;
    ~UniqueMmio() { Reset(); }

    // Closing flushes what is still buffered; the result tells whether that worked.
    MMRESULT Reset(HMMIO handle = nullptr)
    {
        const MMRESULT result = handle_ ? mmioClose(handle_, 0) : MMSYSERR_NOERROR;
        handle_ = handle;
        return result;
    }
    HMMIO get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HMMIO handle_ = nullptr;
};
