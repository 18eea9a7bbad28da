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
