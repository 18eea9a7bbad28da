// CProgressMark: how far one side of a hand-over has got and when, published by that side's
// thread and read by any other without a lock (a sequence counter makes the reader retry when
// it overlapped a publication).
#pragma once

#include <atomic>
#include <cmath>
#include <limits>

class CProgressMark {
public:
    static constexpr double kNoStamp = std::numeric_limits<double>::quiet_NaN();

    // position: frames done at `stamp`, a time in frames of the nominal rate on a clock both
    // sides share, or kNoStamp when the position is exact whenever it is read. rate: frames the
    // side goes on with per nominal frame after its stamp; span: how far before it must step again.
    void Publish(double position, double stamp, double span, double rate = 1)
    {
        const unsigned sequence = sequence_.load(std::memory_order_relaxed);
        sequence_.store(sequence + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        position_.store(position, std::memory_order_relaxed);
        stamp_.store(stamp, std::memory_order_relaxed);
        span_.store(span, std::memory_order_relaxed);
        rate_.store(rate, std::memory_order_relaxed);
        sequence_.store(sequence + 2, std::memory_order_release);
    }

    // The position at `now`: a stamped side is taken to have gone on at its rate since its stamp,
    // for at most its span (a side that stalls is not extrapolated further).
    double At(double now) const
    {
        for (;;) {
            const unsigned before = sequence_.load(std::memory_order_acquire);
            const double position = position_.load(std::memory_order_relaxed);
            const double stamp = stamp_.load(std::memory_order_relaxed);
            const double span = span_.load(std::memory_order_relaxed);
            const double rate = rate_.load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if ((before & 1) || sequence_.load(std::memory_order_relaxed) != before) continue;
            if (std::isnan(stamp) || std::isnan(now)) return position;
            const double ahead = (now - stamp) * rate;
            return position + (ahead < 0 ? 0 : ahead > span ? span : ahead);
        }
    }

private:
    std::atomic<unsigned> sequence_{0};
    std::atomic<double> position_{0};
    std::atomic<double> stamp_{kNoStamp};
    std::atomic<double> span_{0};
    std::atomic<double> rate_{1};
};
