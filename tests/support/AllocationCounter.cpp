#include "AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <malloc.h>
#include <new>

namespace {

std::atomic<std::size_t> gAllocations{0};
thread_local std::size_t tFailIn = 0;  // 0: no failure planned
thread_local bool tFailed = false;

bool FailsNow()
{
    if (tFailIn == 0 || --tFailIn != 0) return false;
    tFailed = true;
    return true;
}

void* Allocate(std::size_t size) noexcept
{
    ++gAllocations;
    return FailsNow() ? nullptr : std::malloc(size ? size : 1);
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) noexcept
{
    ++gAllocations;
    return FailsNow() ? nullptr : _aligned_malloc(size ? size : 1, static_cast<std::size_t>(alignment));
}

void* OrThrow(void* p)
{
    if (!p) throw std::bad_alloc();
    return p;
}

}  // namespace

AllocationCounter::AllocationCounter() : start_(gAllocations.load()) {}
std::size_t AllocationCounter::count() const { return gAllocations.load() - start_; }

AllocationFailure::AllocationFailure(std::size_t nth)
{
    tFailIn = nth;
    tFailed = false;
}
AllocationFailure::~AllocationFailure() { tFailIn = 0; }
bool AllocationFailure::happened() const { return tFailed; }

void* operator new(std::size_t n) { return OrThrow(Allocate(n)); }
void* operator new[](std::size_t n) { return OrThrow(Allocate(n)); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new(std::size_t n, std::align_val_t a) { return OrThrow(AllocateAligned(n, a)); }
void* operator new[](std::size_t n, std::align_val_t a) { return OrThrow(AllocateAligned(n, a)); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return AllocateAligned(n, a); }
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return AllocateAligned(n, a); }

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { _aligned_free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { _aligned_free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { _aligned_free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { _aligned_free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { _aligned_free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { _aligned_free(p); }
