// Counts calls of the global operator new, which AllocationCounter.cpp replaces for the whole test
// executable (plain, array, nothrow and aligned forms).
#pragma once

#include <cstddef>

class AllocationCounter {
public:
    AllocationCounter();
    // Allocations made by any thread since construction.
    std::size_t count() const;

private:
    std::size_t start_;
};

// Makes the nth allocation of the calling thread from now on fail (1 = the next one): the nothrow
// forms return null, the others throw std::bad_alloc.
class AllocationFailure {
public:
    explicit AllocationFailure(std::size_t nth);
    ~AllocationFailure();
    AllocationFailure(const AllocationFailure&) = delete;
    AllocationFailure& operator=(const AllocationFailure&) = delete;
    bool happened() const;
};
