// Timing helpers of the benchmarks: medians of several runs of many iterations, measured with
// the performance counter.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

// Keeps the compiler from dropping or merging the work done on p.
inline void Touch(const void* p) { asm volatile("" : : "r"(p) : "memory"); }

inline double Now()
{
    static const double ticksPerSecond = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return double(f.QuadPart);
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / ticksPerSecond;
}

inline double Median(std::vector<double> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// body(n) performs n operations. Sizes the runs to about runSeconds each and returns the median
// seconds per operation over `runs` runs.
template <class Body>
double MedianSeconds(Body body, double runSeconds, int runs)
{
    int iterations = 16;
    for (;;) {
        const double start = Now();
        body(iterations);
        const double elapsed = Now() - start;
        if (elapsed > runSeconds / 10 || iterations > (1 << 26)) {
            iterations = std::max(1, int(iterations * runSeconds / std::max(elapsed, 1e-9)));
            break;
        }
        iterations *= 4;
    }
    std::vector<double> seconds;
    for (int r = 0; r < runs; ++r) {
        const double start = Now();
        body(iterations);
        seconds.push_back((Now() - start) / iterations);
    }
    return Median(seconds);
}

// A plain copy of the same bytes, the yardstick of every figure.
inline double MemcpySeconds(int bytes, double runSeconds, int runs)
{
    std::vector<uint8_t> from(bytes, 1), to(bytes);
    return MedianSeconds(
        [&](int n) {
            for (int i = 0; i < n; ++i) {
                std::memcpy(to.data(), from.data(), bytes);
                Touch(to.data());
            }
        },
        runSeconds, runs);
}
