// Owners of GDI objects and device contexts, so that no drawing path leaks one.
#pragma once

#include <windows.h>
#include <utility>

// A bitmap, brush, pen or font, deleted with DeleteObject.
template <typename Handle>
class UniqueGdiObject {
public:
    UniqueGdiObject() = default;
    explicit UniqueGdiObject(Handle handle) : handle_(handle) {}
    UniqueGdiObject(UniqueGdiObject&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    UniqueGdiObject& operator=(UniqueGdiObject&& other) noexcept
    {
        if (this != &other) Reset(std::exchange(other.handle_, nullptr));
        return *this;
    }
    UniqueGdiObject(const UniqueGdiObject&) = delete;
    UniqueGdiObject& operator=(const UniqueGdiObject&) = delete;
    ~UniqueGdiObject() { Reset(); }

    void Reset(Handle handle = nullptr)
    {
        if (handle_) DeleteObject(handle_);
        handle_ = handle;
    }
    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    Handle handle_ = nullptr;
};

using UniqueBitmap = UniqueGdiObject<HBITMAP>;
using UniqueBrush = UniqueGdiObject<HBRUSH>;
using UniquePen = UniqueGdiObject<HPEN>;
using UniqueFont = UniqueGdiObject<HFONT>;

// A memory DC compatible with another DC (the screen when null), deleted with DeleteDC.
class UniqueMemoryDC {
public:
    explicit UniqueMemoryDC(HDC compatibleWith = nullptr) : dc_(CreateCompatibleDC(compatibleWith)) {}
    UniqueMemoryDC(const UniqueMemoryDC&) = delete;
    UniqueMemoryDC& operator=(const UniqueMemoryDC&) = delete;
    ~UniqueMemoryDC() { if (dc_) DeleteDC(dc_); }
    HDC get() const { return dc_; }

private:
    HDC dc_;
};

// The DC of a window's client area (the screen's when null), released with ReleaseDC.
class ClientDC {
public:
    explicit ClientDC(HWND window) : window_(window), dc_(GetDC(window)) {}
    ClientDC(const ClientDC&) = delete;
    ClientDC& operator=(const ClientDC&) = delete;
    ~ClientDC() { if (dc_) ReleaseDC(window_, dc_); }
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// Selects an object into a DC for one scope and puts the previous one back. A null object
// selects nothing.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(object ? SelectObject(dc, object) : nullptr) {}
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;
    ~SelectedObject() { if (previous_) SelectObject(dc_, previous_); }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

inline SIZE BitmapSize(HBITMAP bitmap)
{
    BITMAP info{};
    if (!bitmap || !GetObjectW(bitmap, sizeof(info), &info)) return SIZE{0, 0};
    return SIZE{info.bmWidth, info.bmHeight};
}
